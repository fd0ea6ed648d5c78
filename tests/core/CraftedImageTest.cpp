// SPDX-License-Identifier: GPL-3.0-or-later
// Images crafted as an attacker would hand them to a user: sound images with their records
// patched so that they point where no authoring tool would.
#include "support/BlockingVolume.h"
#include "support/ImageTools.h"
#include "support/TempTree.h"

#include "catalogue/CopyOutJob.h"
#include "catalogue/ScanJob.h"
#include "platform/DiscImage.h"
#include "platform/ExtractCache.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace ImageTools;

unsigned ModeOf(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

class CraftedImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveTool("xorriso"))
            GTEST_SKIP() << "xorriso is not installed";
        ::setenv("XDG_CACHE_HOME", m_cacheHome.Root().c_str(), 1);
        std::string error;
        m_pCache = CExtractCache::Create(error);
        ASSERT_TRUE(m_pCache) << error;
    }
    void TearDown() override
    {
        m_pCache.reset();
        ::unsetenv("XDG_CACHE_HOME");
    }

    std::string Build(const std::string& name, const std::string& options)
    {
        const std::string image = m_out.Path(name);
        EXPECT_TRUE(RunQuietly("xorriso -as mkisofs " + options + " -o " + Quote(image) + " " +
                               Quote(m_src.Root())));
        return image;
    }

    // Copies out of the image as the window does: file empty opens folder.
    CCopyOutJob::Reports Copy(const std::shared_ptr<const CVolume>& volume, const std::string& file,
                              const std::string& folder)
    {
        CCopyOutJob job(volume, m_pCache->Target(volume->Root(), volume->ContentKey()),
                        {file.empty() ? file : volume->Root() + file, volume->Root() + folder});
        job.Run();
        return job.TakeReports();
    }
    std::string Copied(const CVolume& volume, const std::string& inside) const
    {
        return m_pCache->ImageFolder(volume.Root(), volume.ContentKey()) + inside;
    }

    CTempTree m_src;
    CTempTree m_out;
    CTempTree m_cacheHome;
    std::unique_ptr<CExtractCache> m_pCache;
};

TEST_F(CraftedImage, CopiesRunOnlyWhatTheImageRecordsExecutable)
{
    m_src.WriteFile("App/notes.txt", "#!/bin/sh\necho ran\n");
    m_src.WriteFile("App/manual.pdf", ReadBytes("/bin/true"));
    m_src.WriteFile("App/run.sh", "#!/bin/sh\necho ran\n");
    m_src.SetMode("App/run.sh", 0755);
    for (const bool bRockRidge : {true, false}) {
        const auto volume = DiscImage::Open(Build("cd.iso", bRockRidge ? "-R" : "-J --norock"));
        ASSERT_TRUE(volume);
        const auto reports = Copy(volume, "/App/run.sh", "/App");
        ASSERT_EQ(reports.outcome, CCopyOutJob::Outcome::Copied);
        EXPECT_EQ(ModeOf(Copied(*volume, "/App/run.sh")), bRockRidge ? 0555u : 0444u);
        EXPECT_EQ(ModeOf(Copied(*volume, "/App/notes.txt")), 0444u);
        EXPECT_EQ(ModeOf(Copied(*volume, "/App/manual.pdf")), 0444u);
    }
}

TEST_F(CraftedImage, AnImageReplacedUnderItsNameGetsCopiesOfItsOwn)
{
    m_src.WriteFile("App/readme.txt", "old");
    const std::string image = Build("cd.iso", "-R");
    const auto before = DiscImage::Open(image);
    ASSERT_TRUE(before);
    ASSERT_EQ(Copy(before, "/App/readme.txt", "/App").outcome, CCopyOutJob::Outcome::Copied);

    m_src.WriteFile("App/readme.txt", "new"); // the same size
    WriteBytes(image, ReadBytes(Build("new.iso", "-R")));
    const auto after = DiscImage::Open(image);
    ASSERT_TRUE(after);
    const auto reports = Copy(after, "/App/readme.txt", "/App");
    ASSERT_EQ(reports.outcome, CCopyOutJob::Outcome::Copied);
    EXPECT_EQ(ReadBytes(reports.strResult), "new");
}

TEST_F(CraftedImage, FoldersSharedByManyRecordsAreEnteredOnce)
{
    // Every B record points where the A beside it does: 2^24 paths through 25 folders.
    std::string deepest = "/loop";
    for (int i = 0; i < 24; ++i, deepest += "/a")
        m_src.MakeFolder(deepest.substr(1) + "/b");
    m_src.WriteFile(deepest.substr(1) + "/end.txt", "end");
    m_src.WriteFile("loop/a.txt", "a file that will share its folder's name");
    const std::string image = Build("loop.iso", "--norock");
    std::string data = ReadBytes(image);
    const auto shared = IsoRecords(data, "B");
    std::vector<std::size_t> targets;
    for (const std::size_t at : IsoRecords(data, "A"))
        if (data[at + 32] == 1)
            targets.push_back(at);
    ASSERT_EQ(shared.size(), 24u);
    ASSERT_EQ(targets.size(), 24u);
    for (std::size_t i = 0; i < shared.size(); ++i)
        data.replace(shared[i] + 2, 16, data, targets[i] + 2, 16);
    // A file and a folder of one name: the first wins.
    const auto file = IsoRecords(data, "A.TXT");
    ASSERT_EQ(file.size(), 1u);
    PutLe(data, file.front() + 32, 1, 1);
    WriteBytes(image, data);

    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    const auto reports = Copy(volume, "", "/loop");
    ASSERT_EQ(reports.outcome, CCopyOutJob::Outcome::Copied) << reports.strFailedPath;
    EXPECT_EQ(ReadBytes(Copied(*volume, deepest + "/end.txt")), "end");
    EXPECT_EQ(ModeOf(Copied(*volume, "/loop/b")), 0u);
}

TEST_F(CraftedImage, AUdfFolderThatHoldsItselfIsEnteredOnce)
{
    if (!HaveTool("genisoimage"))
        GTEST_SKIP() << "genisoimage is not installed";
    m_src.MakeFolder("Self/d/a");
    m_src.MakeFolder("Self/d/b");
    m_src.WriteFile("Self/d/app.brw", "[info]\r\ncategory=Loops\r\nname=Self\r\n");
    const std::string image = m_out.Path("self.iso");
    ASSERT_TRUE(RunQuietly("genisoimage -udf -o " + Quote(image) + " " + Quote(m_src.Root())));
    std::string data = ReadBytes(image);
    const auto self = UdfIdentifiers(data, "d");
    ASSERT_EQ(self.size(), 1u);
    const std::uint64_t partition = self.front() / 2048 - Le(data, self.front() + 12, 4);
    const std::uint64_t entry = Le(data, self.front() + 24, 4);
    // With two allocation descriptors the folder's data has no one block to tell it by.
    AddUdfAllocation(data, (partition + entry) * 2048);
    for (const std::string_view name : {"a", "b"}) {
        for (const std::size_t at : UdfIdentifiers(data, name)) {
            PutLe(data, at + 24, 4, entry);
            ResealUdfTag(data, at, Le(data, at + 10, 2));
        }
    }
    WriteBytes(image, data);

    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    CScanJob scan(volume);
    scan.Run();
    const auto catalogue = scan.TakeReports().pCatalogue;
    ASSERT_TRUE(catalogue);
    EXPECT_EQ(catalogue->ApplicationCount(), 1u);
    ASSERT_EQ(Copy(volume, "", "/Self").outcome, CCopyOutJob::Outcome::Copied);
    EXPECT_EQ(ModeOf(Copied(*volume, "/Self/d")), 0555u);
    EXPECT_EQ(ModeOf(Copied(*volume, "/Self/d/a")), 0u);
}

TEST_F(CraftedImage, RecordsSharingADescriptorReadItOnce)
{
    // Ten descriptors, each reached from twenty folders, in an order no small cache survives.
    for (int folder = 0; folder < 20; ++folder)
        for (int d = 0; d < 10; ++d)
            m_src.WriteFile("F" + std::to_string(100 + folder) + "/D" + std::to_string(d) + ".BRW",
                            "[info]\r\ncategory=C" + std::to_string(d) + "\r\nname=N\r\n");
    const std::string image = Build("shared.iso", "--norock");
    std::string data = ReadBytes(image);
    for (int d = 0; d < 10; ++d) {
        const auto records = IsoRecords(data, "D" + std::to_string(d) + ".BRW");
        ASSERT_EQ(records.size(), 20u);
        for (const std::size_t at : records)
            data.replace(at + 2, 16, data, records.front() + 2, 16);
    }
    WriteBytes(image, data);

    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    const auto counted = std::make_shared<CBlockingVolume>(volume, std::chrono::milliseconds(0));
    CScanJob scan(counted);
    scan.Run();
    const auto catalogue = scan.TakeReports().pCatalogue;
    ASSERT_TRUE(catalogue);
    EXPECT_EQ(catalogue->ApplicationCount(), 200u);
    EXPECT_LE(counted->FilesOpened(), 2 * 10) << "each read once for each of its two keys";
}

TEST_F(CraftedImage, RecordsOfOneNameMergeOnlyWhenFlagged)
{
    m_src.WriteFile("AA", "first");
    m_src.WriteFile("AB", "second");
    const std::string image = Build("names.iso", "--norock");
    std::string data = ReadBytes(image);
    const auto first = IsoRecords(data, "AA");
    const auto second = IsoRecords(data, "AB");
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    data[second.front() + 34] = 'A';
    WriteBytes(image, data);
    std::string read;
    const auto apart = DiscImage::Open(image);
    ASSERT_TRUE(apart && apart->OpenFile(image + "/aa"));
    ASSERT_EQ(apart->OpenFile(image + "/aa")->ReadAll(read, 100), CVolume::ReadStatus::Ok);
    EXPECT_EQ(read, "first");

    data[first.front() + 25] |= 0x80; // more of this file follows in the next record
    WriteBytes(image, data);
    const auto merged = DiscImage::Open(image);
    ASSERT_TRUE(merged && merged->OpenFile(image + "/aa"));
    ASSERT_EQ(merged->OpenFile(image + "/aa")->ReadAll(read, 100), CVolume::ReadStatus::Ok);
    EXPECT_EQ(read, "firstsecond");
}

TEST_F(CraftedImage, ARecordRunningPastItselfMakesItsFolderUnreadable)
{
    m_src.WriteFile("Good/file.txt", "good");
    m_src.WriteFile("Bad/file.txt", "bad");
    m_src.WriteFile("Bad/last.txt", "bad");
    const std::string image = Build("overrun.iso", "--norock");
    std::string data = ReadBytes(image);
    const auto last = IsoRecords(data, "LAST.TXT");
    ASSERT_EQ(last.size(), 1u);
    PutLe(data, last.front() + 32, 1, 200); // a name longer than its record
    WriteBytes(image, data);

    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->What(image + "/good/file.txt"), CVolume::PathKind::File);
    EXPECT_EQ(volume->What(image + "/bad/file.txt"), CVolume::PathKind::Missing);
    const auto bad = volume->OpenFolder(image + "/bad");
    ASSERT_TRUE(bad);
    EXPECT_FALSE(volume->NewFolderReader()->Start(*bad));
}

} // namespace
