// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"

#include <cstdint>
#include <string>

// What one stat tells of a path the user named, links followed: enough to tell an unchanged
// image or folder from a changed one without opening it, and a mounted disc from a folder.
struct CPathFacts {
    enum class EKind : unsigned char { Missing, Folder, File, Other };

    EKind eKind = EKind::Missing;
    std::uint64_t nDevice = 0;
    std::uint64_t nInode = 0;
    std::uint64_t nSize = 0;
    CVolume::Timestamp modified;
    CVolume::Timestamp changed;
    bool bDisc = false;    // a folder on an ISO 9660 or UDF file system
    std::string strReason; // the system's words, for Missing

    // Never opens the path, so nothing blocks on a FIFO or a device.
    static CPathFacts Of(const std::string& path);
};
