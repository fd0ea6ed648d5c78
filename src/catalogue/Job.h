// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <utility>

// One walk, run on a worker thread. A job owns copies of all its inputs, so nothing the
// UI thread does later changes it. It hands its reports over under its own mutex and
// wakes the UI thread through a callback; the callback carries no data, so what crosses
// threads is always guarded by a standard mutex that ThreadSanitizer can see.
class CJob {
public:
    using WakeUp = std::function<void()>;

    CJob() = default;
    virtual ~CJob() = default;
    CJob(const CJob&) = delete;
    CJob& operator=(const CJob&) = delete;

    // The walk itself; runs on the worker thread.
    virtual void Run() = 0;

    void RequestStop() noexcept { m_bStop.store(true, std::memory_order_relaxed); }
    bool IsStopRequested() const noexcept { return m_bStop.load(std::memory_order_relaxed); }

    // Set by the UI thread before the job starts; cleared (nullptr) before the UI lets a
    // job go, after which the job never calls it again.
    void SetWakeUp(WakeUp wakeUp);

protected:
    // Worker side: call after adding to the pending reports, holding no lock. Wakes the UI
    // at most once per interval (always when force is set), and never twice before the UI
    // has taken the reports.
    void NotifyReports(bool force = false);
    // UI side: call with m_mutex held while taking the pending reports.
    void ReportsTaken() noexcept { m_bWakePending = false; }

    static constexpr std::chrono::milliseconds kReportInterval{30};

    mutable std::mutex m_mutex; // guards the pending reports of derived classes

private:
    std::atomic<bool> m_bStop{false};
    WakeUp m_wakeUp;                                  // guarded by m_mutex
    bool m_bWakePending = false;                      // guarded by m_mutex
    std::chrono::steady_clock::time_point m_lastWake; // guarded by m_mutex
};

// A job whose reports are one value that the worker changes and the UI thread takes whole.
template <class TReports>
class CReportingJob : public CJob {
public:
    using Reports = TReports;

    // UI side: what the worker reported since the last call.
    Reports TakeReports()
    {
        std::lock_guard lock(m_mutex);
        ReportsTaken();
        Reports taken = std::exchange(m_pending, Reports{});
        KeepAfterTaking(taken, m_pending);
        return taken;
    }

protected:
    // Worker side: changes the pending reports under the lock; Report then wakes the UI.
    template <class Change>
    void Update(Change&& change)
    {
        std::lock_guard lock(m_mutex);
        change(m_pending);
    }
    template <class Change>
    void Report(Change&& change, bool bForce = false)
    {
        Update(std::forward<Change>(change));
        NotifyReports(bForce);
    }
    // What stays pending once taken, under the lock: nothing unless a job keeps a state.
    virtual void KeepAfterTaking(const Reports& taken, Reports& pending) const
    {
        (void)taken;
        (void)pending;
    }

private:
    Reports m_pending{}; // guarded by m_mutex
};
