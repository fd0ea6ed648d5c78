// SPDX-License-Identifier: GPL-3.0-or-later
#include "BlockingVolume.h"
#include "IconProgram.h"
#include "TempTree.h"

#include "catalogue/PeIconReader.h"
#include "catalogue/ProgramIconJob.h"
#include "catalogue/WorkerThread.h"
#include "platform/MountedVolume.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

class ProgramIconJob : public testing::Test {
protected:
    void SetUp() override
    {
        m_tree.WriteFile("a.exe", IconProgram::WithIcon());
        m_tree.WriteFile("b.exe", IconProgram::WithIcon());
        m_tree.WriteFile("junk.exe", std::string("MZ\0\0garbage", 11));
        m_pVolume = std::make_shared<CBlockingVolume>(CMountedVolume::Create(m_tree.Root()), 5s);
    }

    // Runs a job over requests (urgent ones handed in after the rest) until every result is in.
    std::vector<CProgramIconJob::Result> Read(const std::vector<const char*>& later,
                                              const std::vector<const char*>& urgent)
    {
        auto job = std::make_shared<CProgramIconJob>(m_pVolume, m_pCache);
        std::uint32_t tag = 0;
        const auto requests = [&](const std::vector<const char*>& names) {
            std::vector<CProgramIconJob::Request> out;
            for (const char* name : names)
                out.push_back({m_tree.Path(name), false, ++tag});
            return out;
        };
        job->Add(requests(later), false);
        job->Add(requests(urgent), true);
        CWorkerThread worker;
        worker.Start(job);
        std::vector<CProgramIconJob::Result> results;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (results.size() < tag && std::chrono::steady_clock::now() < deadline) {
            for (CProgramIconJob::Result& result : job->TakeResults())
                results.push_back(std::move(result));
            std::this_thread::sleep_for(1ms);
        }
        job->Close();
        EXPECT_TRUE(worker.StopAndWait(5s)) << "a closed job ends at once";
        return results;
    }

    CTempTree m_tree;
    std::shared_ptr<CBlockingVolume> m_pVolume;
    std::shared_ptr<CProgramIconCache> m_pCache = std::make_shared<CProgramIconCache>();
};

TEST_F(ProgramIconJob, ReadsUrgentRequestsFirstAndAnswersBadFilesWithNoIcon)
{
    const std::vector<CProgramIconJob::Result> results =
        Read({"a.exe", "junk.exe", "gone.exe", "."}, {"b.exe"});
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].nTag, 5u) << "the urgent one first";
    const std::vector<unsigned char> expected = CPeIconReader::ExtractIconFromBytes(
        IconProgram::WithIcon(), 0, CPeIconReader::Images::ClosestTo16);
    ASSERT_FALSE(expected.empty());
    for (const CProgramIconJob::Result& result : results) {
        ASSERT_NE(result.icon, nullptr);
        EXPECT_EQ(result.nTag <= 1 || result.nTag == 5 ? expected : std::vector<unsigned char>(),
                  *result.icon)
            << result.nTag;
    }
}

TEST_F(ProgramIconJob, AFileVersionIsReadOnceAcrossJobsAndAgainWhenItChanges)
{
    Read({"a.exe", "b.exe", "junk.exe"}, {});
    const int opened = m_pVolume->FilesOpened();
    EXPECT_EQ(opened, 3);
    const std::vector<CProgramIconJob::Result> again = Read({"a.exe", "b.exe", "junk.exe"}, {});
    EXPECT_EQ(m_pVolume->FilesOpened(), opened) << "all three from the cache";
    ASSERT_EQ(again.size(), 3u);
    EXPECT_FALSE(again[0].icon->empty());

    m_tree.WriteFile("b.exe", "no longer a program");
    const std::vector<CProgramIconJob::Result> changed = Read({"b.exe"}, {});
    EXPECT_EQ(m_pVolume->FilesOpened(), opened + 1);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_TRUE(changed[0].icon->empty());

    m_pCache->Clear();
    Read({"a.exe"}, {});
    EXPECT_EQ(m_pVolume->FilesOpened(), opened + 2);
}

} // namespace
