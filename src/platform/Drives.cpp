// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Drives.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <unordered_map>

namespace fs = std::filesystem;

namespace {

constexpr unsigned kRamDiskMajor = 1;
constexpr unsigned kScsiCdMajor = 11;

constexpr std::string_view kNetworkTypes[] = {"nfs",   "nfs4", "cifs",   "smb3",     "smbfs",
                                              "9p",    "ceph", "afs",    "ncpfs",    "coda",
                                              "davfs", "gvfs", "lustre", "glusterfs"};
// FUSE clients of remote storage.
constexpr std::string_view kFuseNetworkTypes[] = {
    "fuse.sshfs",     "fuse.rclone",    "fuse.gvfsd-fuse", "fuse.s3fs",   "fuse.glusterfs",
    "fuse.ceph-fuse", "fuse.curlftpfs", "fuse.smbnetfs",   "fuse.gcsfuse"};

constexpr std::string_view kCdTypes[] = {"iso9660", "udf"};
constexpr std::string_view kRamTypes[] = {"tmpfs", "ramfs"};

// Never a drive, even when a source looks like a device. squashfs is here because its
// mounts are snap packages and live-system images, never the user's own discs.
constexpr std::string_view kPseudoTypes[] = {
    "proc",      "sysfs",   "devtmpfs",    "devpts",      "cgroup",     "cgroup2",  "securityfs",
    "debugfs",   "tracefs", "mqueue",      "hugetlbfs",   "bpf",        "pstore",   "configfs",
    "fusectl",   "autofs",  "binfmt_misc", "overlay",     "nsfs",       "efivarfs", "rpc_pipefs",
    "selinuxfs", "nfsd",    "rootfs",      "fuse.portal", "fuse.lxcfs", "squashfs"};

// Below these a block device is part of the system, not a drive for the user.
constexpr std::string_view kSystemFolders[] = {"/boot", "/efi", "/snap"};
// Below these a RAM file system was mounted for the user to see.
constexpr std::string_view kUserMountFolders[] = {"/media", "/mnt", "/run/media"};

template <std::size_t N>
bool IsAny(std::string_view value, const std::string_view (&set)[N])
{
    return std::find(std::begin(set), std::end(set), value) != std::end(set);
}

bool IsNetwork(std::string_view type)
{
    return IsAny(type, kNetworkTypes) || IsAny(type, kFuseNetworkTypes);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsOctal(char c)
{
    return c >= '0' && c <= '7';
}

bool IsAtOrBelow(std::string_view path, std::string_view folder)
{
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

bool IsStrictlyBelow(std::string_view path, std::string_view folder)
{
    return !folder.empty() && path.size() > folder.size() + 1 && IsAtOrBelow(path, folder);
}

bool IsDevicePath(std::string_view source)
{
    return source.starts_with("/dev/") && source.size() > 5;
}

// "name" followed by a unit number, as the kernel names block devices ("sr0", "ram1").
bool IsNumbered(std::string_view name, std::string_view stem)
{
    return name.size() > stem.size() && name.starts_with(stem) && IsDigit(name[stem.size()]);
}

std::string Unescape(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i >= 4 && IsOctal(field[i + 1]) &&
            IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
            const unsigned value = (static_cast<unsigned>(field[i + 1] - '0') << 6) |
                                   (static_cast<unsigned>(field[i + 2] - '0') << 3) |
                                   static_cast<unsigned>(field[i + 3] - '0');
            if (value <= 0xFF) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

// Single spaces only: the kernel escapes every space inside a field, and an empty mount
// source shows as two spaces in a row, which must stay an empty field.
std::vector<std::string_view> SplitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        if (space == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, space - start));
        start = space + 1;
    }
}

template <class T>
bool ParseNumber(std::string_view text, T& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

bool ParseLine(std::string_view line, CMountEntry& entry)
{
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    const std::vector<std::string_view> fields = SplitFields(line);

    // Six fixed fields come first; optional fields ("shared:1") never read "-".
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-")
        ++separator;
    if (separator + 2 >= fields.size())
        return false;

    std::string_view device = fields[2];
    const std::size_t colon = device.find(':');
    if (colon == std::string_view::npos || !ParseNumber(fields[0], entry.m_nMountId) ||
        !ParseNumber(fields[1], entry.m_nParentId) ||
        !ParseNumber(device.substr(0, colon), entry.m_nMajor) ||
        !ParseNumber(device.substr(colon + 1), entry.m_nMinor) || entry.m_nMountId < 0 ||
        entry.m_nParentId < 0)
        return false;

    entry.m_strRoot = Unescape(fields[3]);
    entry.m_strMountPoint = Unescape(fields[4]);
    entry.m_strFsType = Unescape(fields[separator + 1]);
    entry.m_strSource = Unescape(fields[separator + 2]);
    entry.m_strSuperOptions =
        separator + 3 < fields.size() ? Unescape(fields[separator + 3]) : std::string();
    return !entry.m_strRoot.empty() && entry.m_strMountPoint.starts_with('/') &&
           !entry.m_strFsType.empty();
}

// A btrfs subvolume mount names the subvolume in its root field, like a bind mount does;
// only the "subvol=" option tells the two apart.
bool IsSubvolumeMount(const CMountEntry& entry)
{
    if (entry.m_strFsType != "btrfs")
        return false;
    std::string_view options = entry.m_strSuperOptions;
    while (!options.empty()) {
        const std::size_t comma = options.find(',');
        const std::string_view option = options.substr(0, comma);
        if (option.starts_with("subvol="))
            return option.substr(7) == entry.m_strRoot;
        if (comma == std::string_view::npos)
            break;
        options.remove_prefix(comma + 1);
    }
    return false;
}

// One mount per device is shown; for network shares and btrfs subvolumes one device holds
// several distinct file trees, so the root is part of what is one "device".
std::string DeviceKey(const CMountEntry& entry)
{
    std::string key = std::to_string(entry.m_nMajor) + ":" + std::to_string(entry.m_nMinor);
    if (IsNetwork(entry.m_strFsType) || entry.m_strFsType == "btrfs")
        key += " " + entry.m_strRoot;
    return key;
}

bool IsShown(const CMountEntry& entry, std::string_view home)
{
    const std::string_view type = entry.m_strFsType;
    const std::string_view mountPoint = entry.m_strMountPoint;
    const bool bNetwork = IsNetwork(type);

    if (entry.m_strRoot != "/" && !bNetwork && !IsSubvolumeMount(entry))
        return false; // a bind mount of a folder that is already reachable elsewhere
    if (std::any_of(std::begin(kSystemFolders), std::end(kSystemFolders),
                    [&](std::string_view folder) { return IsAtOrBelow(mountPoint, folder); }))
        return false;
    if (bNetwork)
        return true;
    if (IsAny(type, kRamTypes))
        return IsStrictlyBelow(mountPoint, home) ||
               std::any_of(
                   std::begin(kUserMountFolders), std::end(kUserMountFolders),
                   [&](std::string_view folder) { return IsStrictlyBelow(mountPoint, folder); });
    return !IsAny(type, kPseudoTypes) && IsDevicePath(entry.m_strSource);
}

bool IsRegularFile(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// Only regular files are opened, so a fixture or a stray FIFO can never block us.
bool ReadsOne(const fs::path& path)
{
    if (!IsRegularFile(path))
        return false;
    std::ifstream in(path, std::ios::binary);
    char buffer[16] = {};
    in.read(buffer, sizeof buffer);
    std::string_view text(buffer, static_cast<std::size_t>(in.gcount()));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.remove_suffix(1);
    return text == "1";
}

struct CBlockDevice {
    bool m_bFound = false;
    std::string m_strName;
    bool m_bRemovable = false;
    bool m_bUsbOrMmc = false;
};

bool IsUsbOrMmcFolder(std::string_view name)
{
    if (name.starts_with("mmc"))
        return true;
    // Every USB device sits below a root hub folder "usbN".
    return name.size() > 3 && name.starts_with("usb") &&
           std::all_of(name.begin() + 3, name.end(), IsDigit);
}

CBlockDevice ReadBlockDevice(const CMountEntry& entry, const std::string& sysfsRoot)
{
    CBlockDevice device;
    fs::path link;
    if (entry.m_nMajor != 0) {
        link = fs::path(sysfsRoot) / "dev/block" /
               (std::to_string(entry.m_nMajor) + ":" + std::to_string(entry.m_nMinor));
    } else {
        // btrfs reports an anonymous device number; its source still names the disc.
        const std::string name = fs::path(entry.m_strSource).filename().string();
        if (!IsDevicePath(entry.m_strSource) || name.empty() || name == "." || name == "..")
            return device;
        link = fs::path(sysfsRoot) / "class/block" / name;
    }

    std::error_code ec;
    const fs::path folder = fs::canonical(link, ec);
    if (ec)
        return device;
    device.m_bFound = true;
    device.m_strName = folder.filename().string();
    device.m_bRemovable =
        ReadsOne(folder / "removable") ||
        (IsRegularFile(folder / "partition") && ReadsOne(folder.parent_path() / "removable"));

    const fs::path base = fs::canonical(sysfsRoot, ec);
    const fs::path relative = ec ? folder : folder.lexically_relative(base);
    for (const fs::path& part : relative.empty() ? folder : relative)
        device.m_bUsbOrMmc = device.m_bUsbOrMmc || IsUsbOrMmcFolder(part.native());
    return device;
}

std::string ReadWholeFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

std::vector<CMountEntry> ParseMountInfo(std::string_view text)
{
    std::vector<CMountEntry> entries;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        CMountEntry entry;
        if (ParseLine(line, entry))
            entries.push_back(std::move(entry));
    }
    return entries;
}

EDriveKind ClassifyDrive(const CMountEntry& entry, const std::string& sysfsRoot)
{
    const std::string_view type = entry.m_strFsType;
    const std::string_view source = entry.m_strSource;
    if (IsNetwork(type))
        return EDriveKind::Remote;
    if (IsAny(type, kCdTypes) || entry.m_nMajor == kScsiCdMajor || IsNumbered(source, "/dev/sr") ||
        IsNumbered(source, "/dev/scd"))
        return EDriveKind::CdRom;
    if (IsAny(type, kRamTypes) || entry.m_nMajor == kRamDiskMajor)
        return EDriveKind::RamDisk;
    if (entry.m_nMajor == 0 && !IsDevicePath(source))
        return EDriveKind::Unknown;

    const CBlockDevice device = ReadBlockDevice(entry, sysfsRoot);
    const std::string name =
        device.m_bFound ? device.m_strName : fs::path(entry.m_strSource).filename().string();
    if (IsNumbered(name, "zram") || IsNumbered(name, "ram"))
        return EDriveKind::RamDisk;
    if (IsNumbered(name, "sr"))
        return EDriveKind::CdRom;
    if (device.m_bRemovable || device.m_bUsbOrMmc)
        return EDriveKind::Removable;
    // Without sysfs, the name of an SD card reader still gives it away.
    if (!device.m_bFound && IsNumbered(name, "mmcblk"))
        return EDriveKind::Removable;
    return EDriveKind::Fixed;
}

std::vector<CDrive> ListDrives(std::string_view mountInfoText, const std::string& sysfsRoot,
                               const std::string& homeFolder)
{
    const std::vector<CMountEntry> entries = ParseMountInfo(mountInfoText);

    // Of several mounts on one point only the last is visible; the others lie beneath it.
    std::unordered_map<std::string_view, std::size_t> visible;
    for (std::size_t i = 0; i < entries.size(); ++i)
        visible[entries[i].m_strMountPoint] = i;

    std::string_view home = homeFolder;
    while (home.ends_with('/'))
        home.remove_suffix(1);

    std::vector<CDrive> drives;
    std::set<std::string> shownDevices;
    // "/" goes first, so that an earlier mount of the root's device cannot hide it.
    const auto root = visible.find("/");
    if (root != visible.end()) {
        drives.push_back({"/", ClassifyDrive(entries[root->second], sysfsRoot)});
        shownDevices.insert(DeviceKey(entries[root->second]));
    } else {
        drives.push_back({"/", EDriveKind::Unknown});
    }

    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CMountEntry& entry = entries[i];
        if (entry.m_strMountPoint == "/" || visible[entry.m_strMountPoint] != i ||
            !IsShown(entry, home) || !shownDevices.insert(DeviceKey(entry)).second)
            continue;
        drives.push_back({entry.m_strMountPoint, ClassifyDrive(entry, sysfsRoot)});
    }

    std::sort(drives.begin(), drives.end(), [](const CDrive& a, const CDrive& b) {
        return a.m_strMountPoint < b.m_strMountPoint;
    });
    return drives;
}

std::vector<CDrive> ListMachineDrives()
{
    const char* home = std::getenv("HOME");
    return ListDrives(ReadWholeFile("/proc/self/mountinfo"), "/sys", home ? home : "");
}

std::string_view DriveKindPrefix(EDriveKind kind) noexcept
{
    switch (kind) {
    case EDriveKind::NoRootDir:
        return "Current Drive - ";
    case EDriveKind::Removable:
        return "Removable Disk Drive - ";
    case EDriveKind::Fixed:
        return "Fixed Disk Drive - ";
    case EDriveKind::Remote:
        return "Network Drive - ";
    case EDriveKind::CdRom:
        return "CD-ROM Drive - ";
    case EDriveKind::RamDisk:
        return "RAM Drive - ";
    case EDriveKind::Unknown:
        break;
    }
    return "Unknown Drive - ";
}
