// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The machine's "drives" are its mounted file systems, each named by its mount point; "/"
// plays the part of drive C. The values are the Windows drive-type answers, which the
// drive dialog's kind line is keyed on. NoRootDir is never produced here.
enum class EDriveKind {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6
};

// The fields of one /proc/self/mountinfo line that decide whether and how a mount is shown.
// Text fields are unescaped: the kernel writes space, tab, newline and backslash as \ooo.
struct CMountEntry {
    int m_nMountId = 0;
    int m_nParentId = 0;
    unsigned m_nMajor = 0;
    unsigned m_nMinor = 0;
    // The folder of the file system that appears at the mount point: "/" for a whole file
    // system, a subfolder for a bind mount or a btrfs subvolume.
    std::string m_strRoot;
    std::string m_strMountPoint;
    std::string m_strFsType;
    std::string m_strSource;
    std::string m_strSuperOptions;
};

struct CDrive {
    std::string m_strMountPoint; // bytes, as the kernel reports them
    EDriveKind m_eKind = EDriveKind::Unknown;

    bool operator==(const CDrive&) const = default;
};

// One entry per well-formed line, in the order of the text; lines that do not have the
// mountinfo shape (too few fields, no " - " separator, numbers that are not numbers, a
// mount point that is not absolute) are skipped.
std::vector<CMountEntry> ParseMountInfo(std::string_view text);

// The kind of one mount. sysfsRoot is the folder that stands for /sys, so that tests can
// point it at a fixture tree; a missing or unreadable sysfs entry only makes the answer
// rest on the file-system type and the source name.
EDriveKind ClassifyDrive(const CMountEntry& entry, const std::string& sysfsRoot);

// The mounts a file manager would show, sorted by mount point bytes ("/" first). "/" is
// always there, as Unknown when the text does not list it. homeFolder may be empty.
std::vector<CDrive> ListDrives(std::string_view mountInfoText, const std::string& sysfsRoot,
                               const std::string& homeFolder);

// ListDrives over /proc/self/mountinfo, /sys and $HOME.
std::vector<CDrive> ListMachineDrives();

// The kind line's text before the drive, for example "CD-ROM Drive - ".
std::string_view DriveKindPrefix(EDriveKind kind) noexcept;
