#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Prints what a scan of an ISO 9660 image must read, as pycdlib reads the image: the bytes of
the primary tree's directories (with their Rock Ridge continuation areas) and of its .brw
files, each also rounded up to whole 2,048-byte blocks.

    iso-directory-bytes.py IMAGE
"""
import sys

import pycdlib

BLOCK = 2048


def blocks(length):
    return (length + BLOCK - 1) // BLOCK * BLOCK


def main():
    iso = pycdlib.PyCdlib()
    iso.open(sys.argv[1])
    directory = directory_blocks = descriptor = descriptor_blocks = 0
    folders = [iso.pvd.root_directory_record()]
    while folders:
        folder = folders.pop()
        directory += folder.data_length
        directory_blocks += blocks(folder.data_length)
        for child in folder.children:
            if child.is_dot() or child.is_dotdot():
                continue
            rock = child.rock_ridge
            if rock is not None and rock.dr_entries.ce_record is not None:
                directory += rock.dr_entries.ce_record.len_cont_area
            if child.is_dir():
                folders.append(child)
                continue
            name = rock.name() if rock is not None else child.file_identifier()
            if name.lower().split(b';')[0].endswith(b'.brw'):
                descriptor += child.data_length
                descriptor_blocks += blocks(child.data_length)
    iso.close()
    print(f"directories {directory} directory-blocks {directory_blocks} "
          f"descriptors {descriptor} descriptor-blocks {descriptor_blocks}")


if __name__ == "__main__":
    main()
