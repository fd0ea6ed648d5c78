// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DriveSource.h"
#include "platform/Drives.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A desktop with an internal disc, removable media, network shares and the usual clutter.
constexpr std::string_view kDesktopMounts =
    R"(22 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw,errors=remount-ro
23 22 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw
24 22 0:22 / /sys rw,nosuid,nodev,noexec,relatime shared:2 - sysfs sysfs rw
25 22 0:5 / /dev rw,nosuid,relatime shared:8 - devtmpfs udev rw,size=4000000k,mode=755
26 25 0:23 / /dev/pts rw,nosuid,noexec,relatime shared:9 - devpts devpts rw,gid=5,mode=620
27 25 0:24 / /dev/shm rw,nosuid,nodev shared:10 - tmpfs tmpfs rw
28 22 0:25 / /run rw,nosuid,nodev,noexec,relatime shared:11 - tmpfs tmpfs rw,size=800000k,mode=755
29 24 0:26 / /sys/kernel/security rw,nosuid,nodev,noexec,relatime shared:3 - securityfs securityfs rw
30 24 0:27 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 rw
31 24 0:28 / /sys/fs/pstore rw,nosuid,nodev,noexec,relatime shared:5 - pstore pstore rw
32 24 0:29 / /sys/fs/bpf rw,nosuid,nodev,noexec,relatime shared:6 - bpf bpf rw,mode=700
33 23 0:30 / /proc/sys/fs/binfmt_misc rw,relatime shared:13 - autofs systemd-1 rw,fd=29,direct
34 25 0:31 / /dev/hugepages rw,relatime shared:14 - hugetlbfs hugetlbfs rw,pagesize=2M
35 25 0:19 / /dev/mqueue rw,nosuid,nodev,noexec,relatime shared:15 - mqueue mqueue rw
36 24 0:7 / /sys/kernel/debug rw,nosuid,nodev,noexec,relatime shared:16 - debugfs debugfs rw
37 24 0:12 / /sys/kernel/tracing rw,nosuid,nodev,noexec,relatime shared:17 - tracefs tracefs rw
38 24 0:32 / /sys/fs/fuse/connections rw,relatime shared:18 - fusectl fusectl rw
39 24 0:20 / /sys/kernel/config rw,relatime shared:19 - configfs configfs rw
40 22 254:2 / /boot rw,relatime shared:20 - ext4 /dev/vda2 rw
41 40 254:3 / /boot/efi rw,relatime shared:21 - vfat /dev/vda3 rw,fmask=0077,dmask=0077
42 22 7:1 / /snap/core22/1122 ro,nodev,relatime shared:22 - squashfs /dev/loop1 ro,errors=continue
43 22 7:2 / /var/lib/images/firefox ro,nodev,relatime shared:23 - squashfs /dev/loop2 ro
44 22 11:0 / /media/user/DISC ro,nosuid,nodev,relatime shared:24 - udf /dev/sr0 ro,uid=1000
45 22 7:0 / /media/user/ISO\040IMAGE ro,nosuid,nodev shared:25 - iso9660 /dev/loop0 ro,nojoliet
46 22 8:17 / /media/user/STICK rw,nosuid,nodev,relatime shared:26 - vfat /dev/sdb1 rw,uid=1000
47 22 179:1 / /media/user/SDCARD rw,nosuid,nodev,relatime shared:27 - exfat /dev/mmcblk0p1 rw
48 22 0:40 / /mnt/nfs rw,relatime shared:28 - nfs4 server:/export rw,vers=4.2
49 22 0:41 / /mnt/share rw,relatime shared:29 - cifs //nas/share rw,vers=3.1.1
50 22 0:42 / /home/user/remote rw,nosuid,nodev,relatime shared:30 - fuse.sshfs user@host:/srv rw
51 22 0:43 / /media/ramdisk rw,relatime shared:31 - tmpfs tmpfs rw,size=1024k
52 22 254:1 /srv/data /mnt/bound rw,relatime shared:1 - ext4 /dev/vda1 rw,errors=remount-ro
53 22 8:17 / /mnt/stick-again rw,relatime shared:26 - vfat /dev/sdb1 rw,uid=1000
54 28 0:44 / /run/user/1000 rw,nosuid,nodev,relatime shared:32 - tmpfs tmpfs rw,mode=700
55 54 0:45 / /run/user/1000/doc rw,nosuid,nodev,relatime shared:33 - fuse.portal portal rw
56 22 0:46 / /tmp rw,nosuid,nodev shared:34 - tmpfs tmpfs rw
)";

// A sysfs tree shaped like the kernel's: dev/block/MAJ:MIN links into devices/.
class CSysfsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        AddDisk("254:1", "pci0000:00/0000:00:02.0/virtio1/block/vda", "vda1", "0");
        AddDisk("8:17",
                "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb",
                "sdb1", "1");
        // A card reader on the SATA bus: only the parent's flag says removable.
        AddDisk("8:33", "pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0/block/sdc", "sdc1",
                "1");
        AddDisk("8:48", "pci0000:00/0000:00:1f.2/ata4/host3/target3:0:0/3:0:0:0/block/sdd", "",
                "0");
        // A USB hard disk calls itself fixed; its bus says otherwise.
        AddDisk("8:65",
                "pci0000:00/0000:00:14.0/usb3/3-2/3-2:1.0/host7/target7:0:0/7:0:0:0/block/sde",
                "sde1", "0");
        AddDisk("179:1", "platform/soc/fe340000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0",
                "mmcblk0p1", "0");
        AddDisk("253:0", "virtual/block/zram0", "", "0");
        AddDisk("7:0", "virtual/block/loop0", "", "0");
        AddDisk("7:3", "virtual/block/loop3", "", "0");
        m_tree.MakeLink("sys/class/block/nvme0n1p2",
                        "../../devices/pci0000:00/0000:00:06.0/nvme/nvme0/nvme0n1/nvme0n1p2");
        m_tree.WriteFile("sys/devices/pci0000:00/0000:00:06.0/nvme/nvme0/nvme0n1/removable", "0\n");
        m_tree.WriteFile(
            "sys/devices/pci0000:00/0000:00:06.0/nvme/nvme0/nvme0n1/nvme0n1p2/partition", "2\n");
        m_strSysfs = m_tree.Path("sys");
    }

    // Links dev/block/<device> to the whole disc, or to its partition when one is named.
    void AddDisk(const std::string& device, const std::string& disk, const std::string& partition,
                 const std::string& removable)
    {
        const std::string diskFolder = "sys/devices/" + disk;
        m_tree.WriteFile(diskFolder + "/removable", removable + "\n");
        std::string target = "../../devices/" + disk;
        if (!partition.empty()) {
            m_tree.WriteFile(diskFolder + "/" + partition + "/partition", "1\n");
            target += "/" + partition;
        }
        m_tree.MakeLink("sys/dev/block/" + device, target);
    }

    EDriveKind Classify(std::string_view line) const
    {
        const std::vector<CMountEntry> entries = ParseMountInfo(line);
        EXPECT_EQ(entries.size(), 1u) << line;
        return entries.empty() ? EDriveKind::Unknown : ClassifyDrive(entries.front(), m_strSysfs);
    }

    std::vector<CDrive> List(std::string_view text, const std::string& home = "/home/user") const
    {
        return ListDrives(text, m_strSysfs, home);
    }

    CTempTree m_tree;
    std::string m_strSysfs;
};

std::vector<std::string> MountPoints(const std::vector<CDrive>& drives)
{
    std::vector<std::string> points;
    for (const CDrive& drive : drives)
        points.push_back(drive.m_strMountPoint);
    return points;
}

} // namespace

TEST(ParseMountInfo, ReadsEveryFieldWithAndWithoutOptionalFields)
{
    const auto entries =
        ParseMountInfo("36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 shared:7 - ext3 "
                       "/dev/root rw,errors=continue\n"
                       "40 1 8:1 / /data rw - xfs /dev/sda1 rw,attr2");
    ASSERT_EQ(entries.size(), 2u);
    const CMountEntry& first = entries[0];
    EXPECT_EQ(first.m_nMountId, 36);
    EXPECT_EQ(first.m_nParentId, 35);
    EXPECT_EQ(first.m_nMajor, 98u);
    EXPECT_EQ(first.m_nMinor, 0u);
    EXPECT_EQ(first.m_strRoot, "/mnt1");
    EXPECT_EQ(first.m_strMountPoint, "/mnt/parent");
    EXPECT_EQ(first.m_strFsType, "ext3");
    EXPECT_EQ(first.m_strSource, "/dev/root");
    EXPECT_EQ(first.m_strSuperOptions, "rw,errors=continue");
    EXPECT_EQ(entries[1].m_strMountPoint, "/data");
    EXPECT_EQ(entries[1].m_strFsType, "xfs");
    EXPECT_EQ(entries[1].m_strSuperOptions, "rw,attr2");
}

TEST(ParseMountInfo, UnescapesOctalSequences)
{
    const auto entries = ParseMountInfo(
        "1 0 8:1 /a\\134b /media/My\\040Disc\\011x\\012y\\101 rw - vfat /dev/s\\040b rw\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].m_strRoot, "/a\\b");
    EXPECT_EQ(entries[0].m_strMountPoint, "/media/My Disc\tx\nyA");
    EXPECT_EQ(entries[0].m_strSource, "/dev/s b");

    // A backslash that starts no valid escape stays as it is.
    const auto odd = ParseMountInfo("1 0 8:1 / /m\\9x\\77\\777\\ rw - vfat /dev/sdb1 rw\n");
    ASSERT_EQ(odd.size(), 1u);
    EXPECT_EQ(odd[0].m_strMountPoint, "/m\\9x\\77\\777\\");

    const auto high = ParseMountInfo("1 0 8:1 / /m\\303\\251 rw - vfat /dev/sdb1 rw\n");
    ASSERT_EQ(high.size(), 1u);
    EXPECT_EQ(high[0].m_strMountPoint, "/m\xC3\xA9");
}

TEST(ParseMountInfo, KeepsAnEmptySourceAndAMissingSuperOptionsField)
{
    const auto entries = ParseMountInfo("5 1 0:50 / /x rw - fuse.thing  rw,user_id=0\n"
                                        "6 1 0:51 / /y rw - ext4 /dev/sda2\r\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].m_strSource, "");
    EXPECT_EQ(entries[0].m_strSuperOptions, "rw,user_id=0");
    EXPECT_EQ(entries[1].m_strSource, "/dev/sda2");
    EXPECT_EQ(entries[1].m_strSuperOptions, "");
}

TEST(ParseMountInfo, SkipsJunkLinesAndKeepsTheGoodOnes)
{
    const std::string text = std::string("garbage\n"
                                         "\n"
                                         "1 2 3\n"
                                         "a 0 8:1 / /x rw - ext4 /dev/sda1 rw\n"
                                         "1 0 8-1 / /x rw - ext4 /dev/sda1 rw\n"
                                         "1 0 8: / /x rw - ext4 /dev/sda1 rw\n"
                                         "-1 0 8:1 / /x rw - ext4 /dev/sda1 rw\n"
                                         "1 0 8:1 / /x rw shared:1 ext4 /dev/sda1 rw\n"
                                         "1 0 8:1 / /x rw - ext4\n"
                                         "1 0 8:1 / relative rw - ext4 /dev/sda1 rw\n"
                                         "1  0 8:1 / /x rw - ext4 /dev/sda1 rw\n"
                                         "1 0 8:1 / /x - ext4 /dev/sda1 rw\n") +
                             std::string("\0\xff\x01 binary\n", 11) +
                             "7 0 8:1 / /good rw - ext4 /dev/sda1 rw";
    const auto entries = ParseMountInfo(text);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].m_strMountPoint, "/good");

    EXPECT_TRUE(ParseMountInfo("").empty());
    EXPECT_TRUE(ParseMountInfo("\n\n\n").empty());
}

TEST(MachineDrives, ReadsThisMachinesMountTable)
{
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<CMountEntry> entries = ParseMountInfo(text);
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                            [](const CMountEntry& entry) { return entry.m_strMountPoint == "/"; }));

    const std::vector<CDrive> drives = ListMachineDrives();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives.front().m_strMountPoint, "/");
    EXPECT_TRUE(std::is_sorted(drives.begin(), drives.end(), [](const auto& a, const auto& b) {
        return a.m_strMountPoint < b.m_strMountPoint;
    }));

    CMachineDriveSource source;
    CDriveSource& asInterface = source;
    EXPECT_EQ(MountPoints(asInterface.Drives()).front(), "/");
}

TEST(DriveKindPrefix, MatchesTheKindLineTexts)
{
    EXPECT_EQ(DriveKindPrefix(EDriveKind::Unknown), "Unknown Drive - ");
    EXPECT_EQ(DriveKindPrefix(EDriveKind::NoRootDir), "Current Drive - ");
    EXPECT_EQ(DriveKindPrefix(EDriveKind::Removable), "Removable Disk Drive - ");
    EXPECT_EQ(DriveKindPrefix(EDriveKind::Fixed), "Fixed Disk Drive - ");
    EXPECT_EQ(DriveKindPrefix(EDriveKind::Remote), "Network Drive - ");
    EXPECT_EQ(DriveKindPrefix(EDriveKind::CdRom), "CD-ROM Drive - ");
    EXPECT_EQ(DriveKindPrefix(EDriveKind::RamDisk), "RAM Drive - ");
    EXPECT_EQ(DriveKindPrefix(static_cast<EDriveKind>(7)), "Unknown Drive - ");
    EXPECT_EQ(DriveKindPrefix(static_cast<EDriveKind>(-1)), "Unknown Drive - ");
}

using ClassifyDriveTest = CSysfsFixture;

TEST_F(ClassifyDriveTest, TellsDiscsByFileSystemOrDevice)
{
    EXPECT_EQ(Classify("1 0 7:0 / /media/iso rw - iso9660 /dev/loop0 ro"), EDriveKind::CdRom);
    EXPECT_EQ(Classify("1 0 11:0 / /media/dvd rw - udf /dev/sr0 ro"), EDriveKind::CdRom);
    // A disc in a CD drive whose file system is neither of the usual two.
    EXPECT_EQ(Classify("1 0 11:1 / /media/cd rw - hfsplus /dev/sr1 ro"), EDriveKind::CdRom);
    EXPECT_EQ(Classify("1 0 0:0 / /media/cd rw - vfat /dev/sr2 ro"), EDriveKind::CdRom);
}

TEST_F(ClassifyDriveTest, TellsNetworkAndRamFileSystems)
{
    for (const char* type : {"nfs", "nfs4", "cifs", "smb3", "9p", "ceph", "fuse.sshfs",
                             "fuse.rclone", "fuse.gvfsd-fuse", "glusterfs"}) {
        const std::string line = std::string("1 0 0:60 / /net rw - ") + type + " host:/x rw";
        EXPECT_EQ(Classify(line), EDriveKind::Remote) << type;
    }
    EXPECT_EQ(Classify("1 0 0:61 / /media/r rw - tmpfs tmpfs rw"), EDriveKind::RamDisk);
    EXPECT_EQ(Classify("1 0 0:62 / /media/r rw - ramfs ramfs rw"), EDriveKind::RamDisk);
    EXPECT_EQ(Classify("1 0 253:0 / /mnt/z rw - ext4 /dev/zram0 rw"), EDriveKind::RamDisk);
    EXPECT_EQ(Classify("1 0 1:0 / /mnt/r rw - ext2 /dev/ram0 rw"), EDriveKind::RamDisk);
}

TEST_F(ClassifyDriveTest, TellsRemovableFromFixedThroughSysfs)
{
    EXPECT_EQ(Classify("1 0 254:1 / / rw - ext4 /dev/vda1 rw"), EDriveKind::Fixed);
    EXPECT_EQ(Classify("1 0 8:17 / /media/stick rw - vfat /dev/sdb1 rw"), EDriveKind::Removable);
    EXPECT_EQ(Classify("1 0 8:33 / /media/card rw - vfat /dev/sdc1 rw"), EDriveKind::Removable);
    EXPECT_EQ(Classify("1 0 8:48 / /data rw - xfs /dev/sdd rw"), EDriveKind::Fixed);
    EXPECT_EQ(Classify("1 0 8:65 / /media/usbdisk rw - ext4 /dev/sde1 rw"), EDriveKind::Removable);
    EXPECT_EQ(Classify("1 0 179:1 / /media/sd rw - exfat /dev/mmcblk0p1 rw"),
              EDriveKind::Removable);
    EXPECT_EQ(Classify("1 0 7:3 / /mnt/image rw - ext4 /dev/loop3 rw"), EDriveKind::Fixed);
    // btrfs reports an anonymous device number; the source names the partition.
    EXPECT_EQ(Classify("1 0 0:33 /@ / rw - btrfs /dev/nvme0n1p2 rw,subvol=/@"), EDriveKind::Fixed);
}

TEST_F(ClassifyDriveTest, FallsBackToNamesWithoutSysfs)
{
    m_strSysfs = m_tree.Path("no-such-sysfs");
    EXPECT_EQ(Classify("1 0 8:17 / /media/stick rw - vfat /dev/sdb1 rw"), EDriveKind::Fixed);
    EXPECT_EQ(Classify("1 0 179:1 / /media/sd rw - exfat /dev/mmcblk0p1 rw"),
              EDriveKind::Removable);
    EXPECT_EQ(Classify("1 0 252:0 / /mnt/z rw - ext4 /dev/zram1 rw"), EDriveKind::RamDisk);
    EXPECT_EQ(Classify("1 0 0:21 / /proc rw - proc proc rw"), EDriveKind::Unknown);
    EXPECT_EQ(Classify("1 0 0:40 / / rw - overlay overlay rw,lowerdir=/a"), EDriveKind::Unknown);
}

TEST_F(ClassifyDriveTest, NeverOpensAnythingButRegularFiles)
{
    // A FIFO where the flag should be would block a reader that opened it.
    const std::string fifo = m_tree.MakeFifo("sys/devices/virtual/block/fifo0/removable");
    m_tree.MakeLink("sys/dev/block/240:0", "../../devices/virtual/block/fifo0");
    auto kind = std::async(std::launch::async, [this] {
        return Classify("1 0 240:0 / /mnt/f rw - ext4 /dev/fifo0 rw");
    });
    if (kind.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // Let the blocked reader see end of file, so the test ends instead of hanging.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        ADD_FAILURE() << "the classifier opened a FIFO";
    }
    EXPECT_EQ(kind.get(), EDriveKind::Fixed);
}

using ListDrivesTest = CSysfsFixture;

TEST_F(ListDrivesTest, ShowsWhatAFileManagerShowsSortedByMountPoint)
{
    const std::vector<CDrive> expected = {
        {"/", EDriveKind::Fixed},
        {"/home/user/remote", EDriveKind::Remote},
        {"/media/ramdisk", EDriveKind::RamDisk},
        {"/media/user/DISC", EDriveKind::CdRom},
        {"/media/user/ISO IMAGE", EDriveKind::CdRom},
        {"/media/user/SDCARD", EDriveKind::Removable},
        {"/media/user/STICK", EDriveKind::Removable},
        {"/mnt/nfs", EDriveKind::Remote},
        {"/mnt/share", EDriveKind::Remote},
    };
    EXPECT_EQ(List(kDesktopMounts), expected);
}

TEST_F(ListDrivesTest, AlwaysShowsTheRoot)
{
    EXPECT_EQ(List(""), (std::vector<CDrive>{{"/", EDriveKind::Unknown}}));
    EXPECT_EQ(List("junk\n1 0 0:21 / /proc rw - proc proc rw\n"),
              (std::vector<CDrive>{{"/", EDriveKind::Unknown}}));
    // A container: an overlay root, or a root that is a bind mount of a host folder.
    EXPECT_EQ(List("1 0 0:40 / / rw - overlay overlay rw,lowerdir=/l\n"),
              (std::vector<CDrive>{{"/", EDriveKind::Unknown}}));
    EXPECT_EQ(List("1 0 254:1 /var/lib/box/rootfs / rw - ext4 /dev/vda1 rw\n"
                   "2 1 254:1 / /mnt/host rw - ext4 /dev/vda1 rw\n"),
              (std::vector<CDrive>{{"/", EDriveKind::Fixed}}));
}

TEST_F(ListDrivesTest, ShowsOnlyTheTopOfStackedMounts)
{
    const std::string text = "1 0 254:1 / / rw - ext4 /dev/vda1 rw\n"
                             "2 1 8:33 / /mnt/x rw - ext4 /dev/sdc1 rw\n"
                             "3 2 8:48 / /mnt/x rw - ext4 /dev/sdd rw\n"
                             // The covered mount does not count as shown.
                             "4 1 8:33 / /mnt/y rw - ext4 /dev/sdc1 rw\n"
                             // A hidden file system on top hides the drive beneath too.
                             "5 1 8:65 / /mnt/z rw - ext4 /dev/sde1 rw\n"
                             "6 5 0:70 / /mnt/z rw - autofs systemd-1 rw\n";
    const std::vector<CDrive> expected = {
        {"/", EDriveKind::Fixed}, {"/mnt/x", EDriveKind::Fixed}, {"/mnt/y", EDriveKind::Removable}};
    EXPECT_EQ(List(text), expected);
}

TEST_F(ListDrivesTest, ShowsRamFileSystemsOnlyWhereUsersMountThem)
{
    const std::string text = "1 0 254:1 / / rw - ext4 /dev/vda1 rw\n"
                             "2 1 0:70 / /run/media/user/R rw - tmpfs tmpfs rw\n"
                             "3 1 0:71 / /mnt/r rw - ramfs ramfs rw\n"
                             "4 1 0:72 / /home/user/scratch rw - tmpfs tmpfs rw\n"
                             "5 1 0:73 / /home/username/scratch rw - tmpfs tmpfs rw\n"
                             "6 1 0:74 / /media rw - tmpfs tmpfs rw\n"
                             "7 1 0:75 / /tmp rw - tmpfs tmpfs rw\n"
                             "8 1 0:76 / /run/user/1000 rw - tmpfs tmpfs rw\n"
                             "9 1 0:77 / /mediaX/r rw - tmpfs tmpfs rw\n";
    const std::vector<std::string> expected = {"/", "/home/user/scratch", "/mnt/r",
                                               "/run/media/user/R"};
    EXPECT_EQ(MountPoints(List(text, "/home/user")), expected);
    EXPECT_EQ(MountPoints(List(text, "/home/user/")), expected);
    EXPECT_EQ(MountPoints(List(text, "")),
              (std::vector<std::string>{"/", "/mnt/r", "/run/media/user/R"}));
    // A home of "/" must not turn every tmpfs into a drive.
    EXPECT_EQ(MountPoints(List(text, "/")),
              (std::vector<std::string>{"/", "/mnt/r", "/run/media/user/R"}));
}

TEST_F(ListDrivesTest, HidesBindMountsAndSecondMountsOfADevice)
{
    const std::string text = "1 0 254:1 / / rw - ext4 /dev/vda1 rw\n"
                             "2 1 8:48 /photos /srv/photos rw - xfs /dev/sdd rw\n"
                             "3 1 8:48 / /data rw - xfs /dev/sdd rw\n"
                             "4 1 8:48 / /data2 rw - xfs /dev/sdd rw\n"
                             "5 1 254:1 / /mnt/root-again rw - ext4 /dev/vda1 rw\n";
    EXPECT_EQ(MountPoints(List(text)), (std::vector<std::string>{"/", "/data"}));
}

TEST_F(ListDrivesTest, ShowsBtrfsSubvolumesButNotFoldersBoundFromThem)
{
    const std::string text =
        "1 0 0:33 /@ / rw - btrfs /dev/nvme0n1p2 rw,ssd,subvolid=256,subvol=/@\n"
        "2 1 0:33 /@home /home rw - btrfs /dev/nvme0n1p2 rw,ssd,subvolid=257,subvol=/@home\n"
        "3 1 0:33 /@home/u/p /srv/p rw - btrfs /dev/nvme0n1p2 rw,subvolid=257,subvol=/@home\n"
        "4 1 0:33 /@home /mnt/h rw - btrfs /dev/nvme0n1p2 rw,ssd,subvolid=257,subvol=/@home\n";
    const std::vector<CDrive> expected = {{"/", EDriveKind::Fixed}, {"/home", EDriveKind::Fixed}};
    EXPECT_EQ(List(text), expected);
}

TEST_F(ListDrivesTest, ShowsEachShareOfOneNetworkServer)
{
    // NFS shares of one server may share a superblock and so a device number.
    const std::string text = "1 0 254:1 / / rw - ext4 /dev/vda1 rw\n"
                             "2 1 0:50 /export/a /mnt/a rw - nfs4 srv:/export/a rw\n"
                             "3 1 0:50 /export/b /mnt/b rw - nfs4 srv:/export/b rw\n"
                             "4 1 0:50 /export/b /mnt/b2 rw - nfs4 srv:/export/b rw\n";
    EXPECT_EQ(MountPoints(List(text)), (std::vector<std::string>{"/", "/mnt/a", "/mnt/b"}));
}

TEST_F(ListDrivesTest, SortsByBytesAndKeepsNamesThatAreNotUtf8)
{
    const std::string text = "1 0 254:1 / / rw - ext4 /dev/vda1 rw\n"
                             "2 1 8:48 / /media/\\351t\\351 rw - xfs /dev/sdd rw\n"
                             "3 1 8:17 / /media/Zip rw - vfat /dev/sdb1 rw\n"
                             "4 1 8:33 / /media/a\\040b rw - vfat /dev/sdc1 rw\n";
    EXPECT_EQ(MountPoints(List(text)),
              (std::vector<std::string>{"/", "/media/Zip", "/media/a b", "/media/\xE9t\xE9"}));
}
