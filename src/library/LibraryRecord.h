// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the library keeps of one volume, as plain values. Names, paths and descriptor texts
// are the volume's bytes; paths inside a volume have no leading '/' ("" is its root), so
// that an image keeps its contents when it moves.
enum class EVolumeKind : unsigned char { Image = 0, Disc = 1, Folder = 2 };

struct CLibraryVolume {
    std::int64_t nId = 0; // 0 until stored
    std::string strIdentity;
    std::string strLabel;
    std::string strPath; // where it was last seen
    EVolumeKind eKind = EVolumeKind::Folder;
    // The image file's or folder's stat when catalogued: unchanged while these hold.
    std::uint64_t nDevice = 0;
    std::uint64_t nInode = 0;
    std::uint64_t nSize = 0;
    std::int64_t nModified = 0; // nanoseconds since the epoch
    std::int64_t nChanged = 0;
    std::int64_t nCatalogued = 0; // seconds since the epoch
    std::string strError;         // empty when it was read
    std::uint64_t nApplications = 0;
    std::uint64_t nFiles = 0;
};

struct CLibraryApplication {
    std::string strCategory;
    std::string strName;
    std::string strDescriptor;  // inside the volume
    std::string strFolder;      // inside the volume
    std::string strDescription; // UTF-8, as the window's description pane shows it
    std::vector<std::string> astrPatterns;
    bool bSearchSubdirs = false; // the patterns match in subfolders too
};

struct CLibraryFile {
    std::uint32_t nFolder = 0; // index into CLibraryContents::astrFolders
    std::string strName;
    std::uint64_t nSize = 0;
    std::int64_t nModified = 0; // seconds since the epoch
    std::string strIcon;        // a program's small icon as .ico bytes; empty for none
};

struct CLibraryContents {
    std::vector<std::string> astrFolders; // inside the volume
    std::vector<CLibraryFile> arrFiles;
    std::vector<CLibraryApplication> arrApplications;
};
