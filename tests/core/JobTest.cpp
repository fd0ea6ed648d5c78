// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Job.h"
#include "catalogue/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A job whose behaviour the test steers: it reports on request, spins until stopped, or
// blocks ignoring the stop flag, as a walk stuck inside a dead file system would.
class CTestJob final : public CJob {
public:
    enum class Mode { Finish, SpinUntilStopped, BlockUntilReleased };
    explicit CTestJob(Mode mode)
        : m_mode(mode)
    {}

    void Run() override
    {
        switch (m_mode) {
        case Mode::Finish:
            break;
        case Mode::SpinUntilStopped:
            while (!IsStopRequested())
                std::this_thread::sleep_for(1ms);
            break;
        case Mode::BlockUntilReleased: {
            std::unique_lock lock(m_latchMutex);
            m_latch.wait(lock, [this] { return m_bReleased; });
            break;
        }
        }
        Report(true);
        m_bFinished = true;
    }

    void Report(bool force) { NotifyReports(force); }
    void Take()
    {
        std::lock_guard lock(m_mutex);
        ReportsTaken();
    }
    void Release()
    {
        std::lock_guard lock(m_latchMutex);
        m_bReleased = true;
        m_latch.notify_all();
    }

    std::atomic<bool> m_bFinished{false};

private:
    Mode m_mode;
    std::mutex m_latchMutex;
    std::condition_variable m_latch;
    bool m_bReleased = false;
};

TEST(WorkerThread, JoinsAFinishedJobAndStopsARunningOne)
{
    CWorkerThread worker;
    EXPECT_TRUE(worker.StopAndWait(0ms)) << "nothing started: nothing to wait for";

    auto quick = std::make_shared<CTestJob>(CTestJob::Mode::Finish);
    worker.Start(quick);
    EXPECT_TRUE(worker.StopAndWait(10s));
    EXPECT_TRUE(quick->m_bFinished);

    auto spinning = std::make_shared<CTestJob>(CTestJob::Mode::SpinUntilStopped);
    worker.Start(spinning);
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_TRUE(worker.StopAndWait(10s));
    EXPECT_TRUE(spinning->IsStopRequested());
    EXPECT_TRUE(spinning->m_bFinished);
    EXPECT_FALSE(worker.IsRunning());
}

TEST(WorkerThread, LetsABlockedJobGoWithoutItsWakeUp)
{
    std::atomic<int> wakes{0};
    auto blocked = std::make_shared<CTestJob>(CTestJob::Mode::BlockUntilReleased);
    blocked->SetWakeUp([&wakes] { ++wakes; });
    {
        CWorkerThread worker;
        worker.Start(blocked);
        EXPECT_FALSE(worker.StopAndWait(20ms));
        EXPECT_FALSE(worker.IsRunning()) << "a job let go is no longer the worker's";
    }
    // The job goes on by itself; its final report must reach nobody.
    blocked->Release();
    for (int i = 0; i < 1000 && !blocked->m_bFinished; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(blocked->m_bFinished);
    EXPECT_EQ(wakes, 0);
}

TEST(Job, WakesOnceUntilTheReportsAreTaken)
{
    std::atomic<int> wakes{0};
    CTestJob job(CTestJob::Mode::Finish);
    job.Report(true);
    EXPECT_EQ(wakes, 0) << "no wake-up set: nothing to call";

    job.SetWakeUp([&wakes] { ++wakes; });
    job.Report(true);
    job.Report(true);
    EXPECT_EQ(wakes, 1) << "a pending wake-up is not repeated";
    job.Take();
    job.Report(false);
    EXPECT_EQ(wakes, 1) << "within the interval an ordinary report waits";
    job.Report(true);
    EXPECT_EQ(wakes, 2) << "a forced report always wakes once taken";
    job.Take();
    std::this_thread::sleep_for(40ms);
    job.Report(false);
    EXPECT_EQ(wakes, 3);
}

} // namespace
