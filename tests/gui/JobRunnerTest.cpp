// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTestSupport.h"

#include "catalogue/Job.h"
#include "view/JobRunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using EKind = CJobRunner::EKind;

// Reports once when it starts, then waits at its gate (or for a stop, unless deaf), then
// reports its end: a walk on a drive that answers when the test says so.
class CGatedJob final : public CReportingJob<int> {
public:
    explicit CGatedJob(bool bDeaf = false)
        : m_bDeaf(bDeaf)
    {}
    void Run() override
    {
        m_bStarted = true;
        Report([](int& n) { ++n; }, true);
        std::unique_lock lock(m_gateMutex);
        m_gate.wait(lock, [&] { return m_bOpen || (!m_bDeaf && IsStopRequested()); });
        lock.unlock();
        Report([](int& n) { ++n; }, true);
    }
    void Open()
    {
        std::lock_guard lock(m_gateMutex);
        m_bOpen = true;
        m_gate.notify_all();
    }
    void Stop()
    {
        RequestStop();
        std::lock_guard lock(m_gateMutex);
        m_gate.notify_all();
    }
    bool Started() const { return m_bStarted; }

private:
    const bool m_bDeaf;
    std::atomic<bool> m_bStarted = false;
    std::mutex m_gateMutex;
    std::condition_variable m_gate;
    bool m_bOpen = false;
};

// What reached the UI thread, by job name.
struct CLog {
    std::vector<std::string> events;
    CJobRunner::Handler Reports(const std::string& name, CGatedJob& job)
    {
        return [this, name, &job] {
            for (int n = job.TakeReports(); n > 0; --n)
                events.push_back(name);
        };
    }
    CJobRunner::Handler Ended(const std::string& name)
    {
        return [this, name] {
            events.push_back(name + " ended");
        };
    }
};

TEST(JobRunner, ListingsAndCopiesWaitForTheScanAndACopyForItsListing)
{
    CJobRunner runner;
    CLog log;
    auto scan = std::make_shared<CGatedJob>();
    auto firstListing = std::make_shared<CGatedJob>();
    auto listing = std::make_shared<CGatedJob>();
    auto copy = std::make_shared<CGatedJob>();
    runner.Start(EKind::Scan, scan, log.Reports("scan", *scan), log.Ended("scan"));
    ASSERT_TRUE(WaitUntil([&] { return log.events.size() == 1; }));
    runner.Start(EKind::Listing, firstListing, log.Reports("first", *firstListing));
    runner.Start(EKind::Listing, listing, log.Reports("listing", *listing), log.Ended("listing"));
    EXPECT_TRUE(runner.IsWaiting(EKind::Listing));
    EXPECT_TRUE(runner.IsRunning(EKind::Scan)) << "a listing never stops the scan";

    scan->Open();
    ASSERT_TRUE(WaitUntil([&] { return listing->Started(); }));
    EXPECT_FALSE(firstListing->Started()) << "the newer waiting listing replaced it";
    runner.Start(EKind::Copy, copy, log.Reports("copy", *copy), log.Ended("copy"));
    EXPECT_TRUE(runner.IsWaiting(EKind::Copy));
    listing->Open();
    ASSERT_TRUE(WaitUntil([&] { return copy->Started(); }));
    copy->Open();
    ASSERT_TRUE(WaitUntil([&] { return !runner.IsBusy(); }));
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"scan", "scan", "scan ended", "listing", "listing",
                                        "listing ended", "copy", "copy", "copy ended"}));
}

TEST(JobRunner, AReplacedJobIsHeardNoMoreAndAStuckOneIsLetGo)
{
    CJobRunner runner;
    CLog log;
    auto stuck = std::make_shared<CGatedJob>(true);
    auto next = std::make_shared<CGatedJob>();
    runner.Start(EKind::Listing, stuck, log.Reports("stuck", *stuck), log.Ended("stuck"));
    ASSERT_TRUE(WaitUntil([&] { return log.events.size() == 1; }));
    // Replacing waits for the stuck listing only its grace.
    runner.Start(EKind::Listing, next, log.Reports("next", *next), log.Ended("next"));
    ASSERT_TRUE(WaitUntil([&] { return log.events.size() == 2; }));
    stuck->Open();
    next->Open();
    ASSERT_TRUE(WaitUntil([&] { return !runner.IsBusy(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(log.events, (std::vector<std::string>{"stuck", "next", "next", "next ended"}));
}

TEST(JobRunner, StopDropsAWaitingJobAndClosingLetsARunningOneGo)
{
    CLog log;
    auto scan = std::make_shared<CGatedJob>(true);
    auto copy = std::make_shared<CGatedJob>();
    {
        CJobRunner runner;
        runner.Start(EKind::Scan, scan, log.Reports("scan", *scan));
        runner.Start(EKind::Copy, copy, log.Reports("copy", *copy));
        ASSERT_TRUE(WaitUntil([&] { return log.events.size() == 1; }));
        runner.Stop(CJobRunner::kCloseGrace);
        EXPECT_FALSE(runner.IsBusy());
    }
    scan->Open();
    QCoreApplication::processEvents();
    EXPECT_FALSE(copy->Started());
    EXPECT_EQ(log.events, std::vector<std::string>{"scan"});
}

} // namespace
