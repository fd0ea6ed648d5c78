// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Reads the icons stored inside Windows programs (PE32 and PE32+ files) and icon files, and
// hands each back as the bytes of a complete .ico file for an image decoder. Every byte read
// is untrusted: offsets and sizes are checked against the file, directory walks are capped,
// and nothing recurses on the input.
//
// Icon number index counts the group icons of a program in resource directory order (named
// groups first, then numbered ones, as stored), 0 being the first. A negative index -n names
// the group whose resource id is n. -1 gives nothing: to the Windows call this stands in for
// it asks for the number of icons, never for an icon. An icon file has only icon number 0.
//
// Images that are missing, empty, too large or lie outside the file are left out of the
// result; when none is left, the result is empty. So is it for anything that is not a PE or
// icon file, a program without icons, and a truncated or corrupt file.
//
// Stateless and thread-safe.
class CPeIconReader {
public:
    enum class Images : unsigned char {
        All, // every image of the icon
        // The one image the file list draws: exactly 16 x 16, else the smallest larger one,
        // else the largest smaller one; among images of one size the most colours.
        ClosestTo16
    };

    // Reads exactly size bytes at offset into buffer; false when that many cannot be read.
    using ReadAt = std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)>;

    static constexpr std::size_t kMaxImageSize = 1024 * 1024;
    static constexpr std::size_t kMaxImages = 64;
    // Beyond this total, images are left out.
    static constexpr std::size_t kMaxIconFileSize = 8 * 1024 * 1024;
    // Entries beyond this many in one resource directory are not looked at.
    static constexpr std::size_t kMaxDirectoryEntries = 16384;

    // Icon number index of the file at path on volume. Only regular files are opened, without
    // blocking on FIFOs or devices; only the parts needed are read.
    static std::vector<unsigned char> ExtractIcon(const CVolume& volume, const std::string& path,
                                                  int index, Images images = Images::All);
    // The same for a file open on a volume.
    static std::vector<unsigned char> ExtractIconFromFile(const CVolume::CFile& file, int index,
                                                          Images images = Images::All);
    // The same for a file already in memory.
    static std::vector<unsigned char> ExtractIconFromBytes(std::string_view bytes, int index,
                                                           Images images = Images::All);
    // The same for a file of fileSize bytes read through read.
    static std::vector<unsigned char> ExtractIconFromSource(std::uint64_t fileSize,
                                                            const ReadAt& read, int index,
                                                            Images images = Images::All);
};
