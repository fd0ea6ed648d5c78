// SPDX-License-Identifier: GPL-3.0-or-later
#include "TempTree.h"

#include "catalogue/CopyOutJob.h"
#include "platform/ExtractCache.h"
#include "platform/MountedVolume.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

std::string ReadBack(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned ModeOf(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Takes bytes until its room is full, then answers as a full disk does.
class CSmallTarget final : public CCopyTarget {
public:
    class CSmallSink final : public CSink {
    public:
        explicit CSmallSink(std::size_t& room)
            : m_nRoom(room)
        {}
        Result Write(const void*, std::size_t size) override
        {
            if (size > m_nRoom)
                return Result::NoSpace;
            m_nRoom -= size;
            return Result::Ok;
        }
        Result Commit(bool) override { return Result::Ok; }
        std::size_t& m_nRoom;
    };
    Result MakeFolder(const std::string&) override { return Result::Ok; }
    bool HasFile(const std::string&, std::uint64_t) const override { return false; }
    std::unique_ptr<CSink> CreateFile(const std::string&, Result& result) override
    {
        result = Result::Ok;
        return std::make_unique<CSmallSink>(m_nRoom);
    }
    void Seal() override {}
    std::string RealPath(const std::string& relative) const override { return relative; }
    std::string LastError() const override { return "No space left on device"; }
    std::size_t m_nRoom = 10;
};

class CopyOutJobTest : public testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("XDG_CACHE_HOME", m_cacheHome.Root().c_str(), 1);
        m_drive.WriteFile("App/readme.txt", "read me");
        m_drive.WriteFile("App/tool", "#!/bin/sh\necho hi\n");
        m_drive.SetMode("App/tool", 0755);
        m_drive.WriteFile("App/data/level1.dat", std::string(CCopyOutJob::kChunk + 5, 'x'));
        m_drive.WriteFile("Other/x.txt", "not copied");
        std::string error;
        m_pCache = CExtractCache::Create(error);
        ASSERT_TRUE(m_pCache) << error;
    }
    void TearDown() override
    {
        m_pCache.reset();
        ::unsetenv("XDG_CACHE_HOME");
    }

    CCopyOutJob::Reports Run(CCopyOutJob::Settings settings, bool bStop = false,
                             std::shared_ptr<CCopyTarget> target = {})
    {
        if (!target)
            target = m_pCache->Target(m_pVolume->Root(), {});
        CCopyOutJob job(m_pVolume, std::move(target), std::move(settings));
        if (bStop)
            job.RequestStop();
        job.Run();
        return job.TakeReports();
    }
    std::string Copy(const std::string& relative) const
    {
        return m_pCache->ImageFolder(m_pVolume->Root(), {}) + '/' + relative;
    }

    CTempTree m_cacheHome;
    CTempTree m_drive;
    std::shared_ptr<const CVolume> m_pVolume = CMountedVolume::Create(m_drive.Root());
    std::unique_ptr<CExtractCache> m_pCache;
};

TEST_F(CopyOutJobTest, ADocumentComesOutAloneReadOnlyUnderItsRealName)
{
    const auto reports = Run({m_drive.Path("App/readme.txt"), m_drive.Path("App")});
    ASSERT_EQ(reports.outcome, CCopyOutJob::Outcome::Copied);
    EXPECT_FALSE(reports.bProgram);
    EXPECT_EQ(reports.strResult, Copy("App/readme.txt"));
    EXPECT_EQ(ReadBack(reports.strResult), "read me");
    EXPECT_EQ(ModeOf(reports.strResult), 0444u);
    EXPECT_EQ(ModeOf(Copy("App")), 0555u) << "an editor cannot save beside it either";
    EXPECT_EQ(ModeOf(Copy("App/tool")), 0u) << "a document needs no neighbours";

    // A second copy into the sealed folder works, and reuses what is there.
    const auto again = Run({m_drive.Path("App/data/level1.dat"), m_drive.Path("App")});
    ASSERT_EQ(again.outcome, CCopyOutJob::Outcome::Copied);
    EXPECT_EQ(ReadBack(again.strResult).size(), CCopyOutJob::kChunk + 5);
    EXPECT_EQ(ModeOf(Copy("App/data")), 0555u);
}

TEST_F(CopyOutJobTest, AProgramBringsItsApplicationFolderAndStaysRunnable)
{
    const auto reports = Run({m_drive.Path("App/tool"), m_drive.Path("App")});
    ASSERT_EQ(reports.outcome, CCopyOutJob::Outcome::Copied);
    EXPECT_TRUE(reports.bProgram);
    EXPECT_EQ(reports.strResult, Copy("App/tool"));
    EXPECT_EQ(ModeOf(Copy("App/tool")), 0555u);
    EXPECT_EQ(ReadBack(Copy("App/readme.txt")), "read me");
    EXPECT_EQ(ReadBack(Copy("App/data/level1.dat")), std::string(CCopyOutJob::kChunk + 5, 'x'));
    EXPECT_EQ(ModeOf(Copy("Other")), 0u);
    EXPECT_EQ(reports.nTotal, 7 + 18 + CCopyOutJob::kChunk + 5);

    EXPECT_TRUE(CCopyOutJob::IsProgram("/d/SETUP.EXE", ""));
    EXPECT_TRUE(CCopyOutJob::IsProgram("/d/setup", "MZ\x90"));
    EXPECT_FALSE(CCopyOutJob::IsProgram("/d.exe/readme", "text"));
}

TEST_F(CopyOutJobTest, ALargeCopyAsksFirstAndWritesNothingUntilConfirmed)
{
    CCopyOutJob::Settings settings{"", m_drive.Path("App"), 100, false};
    const auto asked = Run(settings);
    EXPECT_EQ(asked.outcome, CCopyOutJob::Outcome::NeedsConfirmation);
    EXPECT_EQ(asked.nTotal, 7 + 18 + CCopyOutJob::kChunk + 5);
    EXPECT_EQ(ModeOf(Copy("App")), 0u);

    settings.bConfirmed = true;
    const auto copied = Run(settings);
    EXPECT_EQ(copied.outcome, CCopyOutJob::Outcome::Copied);
    EXPECT_EQ(copied.strResult, Copy("App"));
    EXPECT_EQ(ReadBack(Copy("App/data/level1.dat")).size(), CCopyOutJob::kChunk + 5);
}

TEST_F(CopyOutJobTest, StoppedFullAndUnreadableCopiesSayWhyAndLeaveNoPartialFile)
{
    EXPECT_EQ(Run({"", m_drive.Path("App")}, true).outcome, CCopyOutJob::Outcome::Stopped);
    EXPECT_EQ(ModeOf(Copy("App/readme.txt")), 0u);

    const auto full = Run({m_drive.Path("App/data/level1.dat"), m_drive.Path("App")}, false,
                          std::make_shared<CSmallTarget>());
    EXPECT_EQ(full.outcome, CCopyOutJob::Outcome::NoSpace);
    EXPECT_EQ(full.strFailedPath, m_drive.Path("App/data/level1.dat"));

    const auto missing = Run({m_drive.Path("App/gone.txt"), m_drive.Path("App")});
    EXPECT_EQ(missing.outcome, CCopyOutJob::Outcome::ReadError);
}

TEST(ExtractCacheTest, RunFoldersArePrivateLockedAndGoWithTheirRunOnly)
{
    CTempTree cacheHome;
    ::setenv("XDG_CACHE_HOME", cacheHome.Path("cache").c_str(), 1);
    std::string error;
    const std::string base = CExtractCache::BaseFolder(error);
    ASSERT_EQ(base, cacheHome.Path("cache/quarrow")) << error;
    EXPECT_EQ(ModeOf(base), 0700u);

    auto live = CExtractCache::Create(error);
    ASSERT_TRUE(live) << error;
    const std::string liveFolder = live->RunFolder();
    EXPECT_EQ(ModeOf(liveFolder), 0700u);
    // Left by crashed runs: an unlocked lock file with its folder, and a folder alone.
    cacheHome.WriteFile("cache/quarrow/run-1-crashed/copy/a.txt", "a");
    cacheHome.SetMode("cache/quarrow/run-1-crashed/copy/a.txt", 0444);
    cacheHome.SetMode("cache/quarrow/run-1-crashed/copy", 0555);
    cacheHome.WriteFile("cache/quarrow/run-1-crashed.lock", "");
    cacheHome.MakeFolder("cache/quarrow/run-2-nolock");

    CExtractCache::RemoveStale();
    EXPECT_EQ(ModeOf(cacheHome.Path("cache/quarrow/run-1-crashed")), 0u);
    EXPECT_EQ(ModeOf(cacheHome.Path("cache/quarrow/run-1-crashed.lock")), 0u);
    EXPECT_EQ(ModeOf(cacheHome.Path("cache/quarrow/run-2-nolock")), 0u);
    EXPECT_EQ(ModeOf(liveFolder), 0700u) << "another running Quarrow still holds it";

    auto target = live->Target("/discs/cd1.iso", "key");
    ASSERT_EQ(target->MakeFolder("deep/er"), CCopyTarget::Result::Ok);
    target->Seal();
    EXPECT_EQ(ModeOf(live->ImageFolder("/discs/cd1.iso", "key") + "/deep/er"), 0555u);
    EXPECT_NE(live->ImageFolder("/discs/cd1.iso", "key"),
              live->ImageFolder("/other/cd1.iso", "key"));
    EXPECT_NE(live->ImageFolder("/discs/cd1.iso", "key"),
              live->ImageFolder("/discs/cd1.iso", "new"))
        << "an image replaced under its name finds none of the old copies";
    live.reset();
    EXPECT_EQ(ModeOf(liveFolder), 0u) << "read-only folders are removed too";
    EXPECT_EQ(ModeOf(liveFolder + ".lock"), 0u);
    ::unsetenv("XDG_CACHE_HOME");
}

} // namespace
