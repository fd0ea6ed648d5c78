// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary text as /proc/self/mountinfo: parsed, each entry classified against a small
// sysfs tree, the drive list built, and every entry written out again and read back.

#include "FuzzSupport.h"

#include "platform/Drives.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

// Classifying touches sysfs, so a flood of lines is classified only in part.
constexpr std::size_t kMaxClassified = 64;

// Links and flags as the kernel lays them out, plus the traps: a link loop, a FIFO where a
// flag file belongs, a link out of the tree.
const std::string& SysfsRoot()
{
    static const std::string root = [] {
        namespace fs = std::filesystem;
        const fs::path sys = fs::path(Fuzz::ScratchFolder()) / "sys";
        // dev/block/<device> and class/block/<name> lead to the disc or to its partition.
        auto addDisk = [&](const std::string& device, const std::string& folder,
                           const std::string& partition, const char* removable) {
            const fs::path diskFolder = sys / "devices" / folder;
            fs::create_directories(diskFolder);
            Fuzz::WriteFile(diskFolder / "removable", removable);
            fs::path target = fs::path("../../devices") / folder;
            if (!partition.empty()) {
                fs::create_directories(diskFolder / partition);
                Fuzz::WriteFile(diskFolder / partition / "partition", "1\n");
                target /= partition;
            }
            fs::create_symlink(target, sys / "dev" / "block" / device);
            fs::create_symlink(target, sys / "class" / "block" / target.filename());
        };
        fs::create_directories(sys / "dev" / "block");
        fs::create_directories(sys / "class" / "block");
        addDisk("8:0", "pci0/ata1/host0/block/sda", "sda1", "0\n");
        addDisk("8:16", "pci0/usb1/1-1/host6/block/sdb", "sdb1", "0\n");
        addDisk("8:32", "pci0/ata2/host2/block/sdc", "", "1\n");
        addDisk("11:0", "pci0/ata3/host3/block/sr0", "", "1\n");
        addDisk("179:0", "platform/mmc0/mmc0:0001/block/mmcblk0", "mmcblk0p1", "0\n");
        addDisk("253:0", "virtual/block/zram0", "", "0\n");
        ::mkfifo((sys / "devices/pci0/ata1/host0/block/sda/sda1/removable").c_str(), 0644);
        fs::create_symlink("7:7", sys / "dev" / "block" / "7:7");
        fs::create_symlink("/", sys / "dev" / "block" / "8:99");
        return sys.string();
    }();
    return root;
}

// The kernel's escaping: space, tab, newline and backslash as \ooo, and CR so that it cannot
// pass for a line end.
std::string Escape(std::string_view field)
{
    std::string out;
    for (const char c : field) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\\') {
            const auto u = static_cast<unsigned char>(c);
            out += '\\';
            out += static_cast<char>('0' + (u >> 6));
            out += static_cast<char>('0' + ((u >> 3) & 7));
            out += static_cast<char>('0' + (u & 7));
        } else {
            out += c;
        }
    }
    return out;
}

std::string Line(const CMountEntry& e)
{
    return std::to_string(e.m_nMountId) + " " + std::to_string(e.m_nParentId) + " " +
           std::to_string(e.m_nMajor) + ":" + std::to_string(e.m_nMinor) + " " +
           Escape(e.m_strRoot) + " " + Escape(e.m_strMountPoint) + " rw shared:1 - " +
           Escape(e.m_strFsType) + " " + Escape(e.m_strSource) + " " + Escape(e.m_strSuperOptions);
}

bool Same(const CMountEntry& a, const CMountEntry& b)
{
    return a.m_nMountId == b.m_nMountId && a.m_nParentId == b.m_nParentId &&
           a.m_nMajor == b.m_nMajor && a.m_nMinor == b.m_nMinor && a.m_strRoot == b.m_strRoot &&
           a.m_strMountPoint == b.m_strMountPoint && a.m_strFsType == b.m_strFsType &&
           a.m_strSource == b.m_strSource && a.m_strSuperOptions == b.m_strSuperOptions;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = Fuzz::AsText(data, size);
    const std::string& sysfs = SysfsRoot();

    const std::vector<CMountEntry> entries = ParseMountInfo(text);
    FUZZ_CHECK(entries.size() <=
               static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CMountEntry& entry = entries[i];
        FUZZ_CHECK(entry.m_nMountId >= 0 && entry.m_nParentId >= 0);
        FUZZ_CHECK(!entry.m_strRoot.empty() && !entry.m_strFsType.empty());
        FUZZ_CHECK(entry.m_strMountPoint.starts_with('/'));

        const std::vector<CMountEntry> again = ParseMountInfo(Line(entry));
        FUZZ_CHECK(again.size() == 1 && Same(again.front(), entry));

        if (i < kMaxClassified) {
            const EDriveKind kind = ClassifyDrive(entry, sysfs);
            FUZZ_CHECK(kind != EDriveKind::NoRootDir);
            FUZZ_CHECK(kind >= EDriveKind::Unknown && kind <= EDriveKind::RamDisk);
            FUZZ_CHECK(ClassifyDrive(entry, sysfs) == kind);
        }
    }

    if (entries.size() > kMaxClassified)
        return 0;
    // "/" first, then each mount point once, in byte order; each one from the table.
    const std::vector<CDrive> drives = ListDrives(text, sysfs, "/home/user/");
    FUZZ_CHECK(!drives.empty() && drives.front().m_strMountPoint == "/");
    for (std::size_t i = 1; i < drives.size(); ++i) {
        FUZZ_CHECK(drives[i - 1].m_strMountPoint < drives[i].m_strMountPoint);
        FUZZ_CHECK(std::any_of(entries.begin(), entries.end(), [&](const CMountEntry& e) {
            return e.m_strMountPoint == drives[i].m_strMountPoint;
        }));
    }
    for (const CDrive& drive : drives)
        FUZZ_CHECK(!DriveKindPrefix(drive.m_eKind).empty());
    return 0;
}
