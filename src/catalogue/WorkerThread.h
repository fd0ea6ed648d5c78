// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <memory>

class CJob;

// Runs one job at a time on a std::thread. Replaces the framework thread object the
// window once kept: it stays valid after its thread has ended, so waiting on it is safe.
class CWorkerThread {
public:
    CWorkerThread() = default;
    ~CWorkerThread(); // stops and lets go of a running job without waiting
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts job; a job still running must have been stopped first (StopAndWait). onEnded,
    // when given, is called on the worker once the job's Run has returned, unless the job was
    // let go before.
    void Start(std::shared_ptr<CJob> job, std::function<void()> onEnded = {});

    // Asks the running job to stop and waits for it up to grace. Returns true when the
    // thread has ended and been joined (or none ran); false when the job is still blocked
    // (say inside a dead network mount): its thread is then let go to finish on its own,
    // keeping the job alive, and the job's wake-up has been cleared so it reaches nothing.
    bool StopAndWait(std::chrono::milliseconds grace);

    // Waits up to limit for the running job to end, without asking it to stop; true when it
    // has ended (or none ran).
    bool WaitFor(std::chrono::milliseconds limit) const;
    bool IsRunning() const;
    const std::shared_ptr<CJob>& Job() const noexcept { return m_pJob; }

private:
    struct CState;
    std::shared_ptr<CState> m_pState;
    std::shared_ptr<CJob> m_pJob;
};
