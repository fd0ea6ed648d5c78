// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A drive built to hurt the walk, the profile reader, the description pane and the file
// list. Building it and describing what a correct program shows on it share one code path,
// so the expectations can never drift from what was written.
struct HostileSizes {
    int nDepth = 10000;                        // levels of the deepest folder
    int nCrowd = 20000;                        // descriptors in one folder
    int nCategories = 5000;                    // one application in each
    std::size_t nBigDescriptor = 50u << 20;    // a descriptor of description lines
    std::size_t nLongLine = 10u << 20;         // one value this long
    std::size_t nHugeDescription = 100u << 20; // a description file far over the cap
    int nFlatFiles = 200000;                   // files in one application's folder

    // Quick enough for a sanitizer build of a single test.
    static HostileSizes Small();
};

struct HostileApp {
    std::string strCategory; // as the tree shows it: cut as the reader cuts, in UTF-8
    std::string strName;
    std::string strFolder; // relative to the drive root
    // The pane's text once selected (as shown: lines end in "\n"), and the rows listed in
    // the application-files mode; -1 when not checked.
    std::string strPane;
    long nRows = -1;
    // Listed only where permissions hold, i.e. not for root.
    bool bNeedsPermission = false;
    // The description file is unreadable: "not found" where permissions hold.
    bool bDescriptionLocked = false;
};

struct HostileDrive {
    std::string strBase;    // holds the drive and a folder beside it
    std::string strRoot;    // the drive itself: strBase + "/drive"
    std::string strOutside; // strBase + "/outside": holds a descriptor no scan may list
    std::vector<HostileApp> apps;

    // The application with this name; nullptr when there is none.
    const HostileApp* Find(const std::string& name) const;
};

// What BuildHostileDrive(base, sizes) writes, without touching the file system.
HostileDrive DescribeHostileDrive(const std::string& base, const HostileSizes& sizes);

// Writes the drive into base, which must be missing or empty. Device nodes need root; without
// it a link to /dev/null stands in. Throws std::runtime_error when a write fails.
HostileDrive BuildHostileDrive(const std::string& base, const HostileSizes& sizes);

// Names of the applications whose pane or rows are worth checking one by one.
namespace HostileNames {
inline constexpr const char* kPlain = "Plain Lines";
inline constexpr const char* kFifoDescription = "FIFO Description";
inline constexpr const char* kSocketDescription = "Socket Description";
inline constexpr const char* kDeviceDescription = "Device Description";
inline constexpr const char* kLockedDescription = "Locked Description";
inline constexpr const char* kHugeDescription = "Huge Description";
inline constexpr const char* kOverCap = "Over The Cap";
inline constexpr const char* kAtCap = "At The Cap";
inline constexpr const char* kBigDescriptor = "Big Descriptor";
inline constexpr const char* kDeep = "Deep Bottom";
inline constexpr const char* kFlat = "Flat Folder";
inline constexpr const char* kCrowdFirst = "Crowd 00000";
inline constexpr const char* kNewline = "Newline Folder";
inline constexpr const char* kLatin1 = "Caf\xc3\xa9 Folder";
inline constexpr const char* kLongName = "Long Name";
inline constexpr const char* kDash = "Dash Folder";
inline constexpr const char* kBackslash = "Backslash Folder";
} // namespace HostileNames
