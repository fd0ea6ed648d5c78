// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/WorkerThread.h"

#include "catalogue/Job.h"

#include <condition_variable>
#include <mutex>
#include <thread>

struct CWorkerThread::CState {
    std::mutex mutex;
    std::condition_variable ended;
    bool bEnded = false;
    std::function<void()> onEnded; // guarded by mutex; cleared when the job is let go
    std::thread thread;
};

CWorkerThread::~CWorkerThread()
{
    StopAndWait(std::chrono::milliseconds(0));
}

void CWorkerThread::Start(std::shared_ptr<CJob> job, std::function<void()> onEnded)
{
    StopAndWait(std::chrono::milliseconds(0));
    auto state = std::make_shared<CState>();
    state->onEnded = std::move(onEnded);
    m_pJob = std::move(job);
    // The thread keeps its own references, so a job that is let go still has its state.
    state->thread = std::thread([state, job = m_pJob] {
        job->Run();
        std::lock_guard lock(state->mutex);
        state->bEnded = true;
        state->ended.notify_all();
        if (state->onEnded)
            state->onEnded();
    });
    m_pState = std::move(state);
}

bool CWorkerThread::StopAndWait(std::chrono::milliseconds grace)
{
    if (!m_pState)
        return true;
    m_pJob->RequestStop();
    bool ended = false;
    {
        std::unique_lock lock(m_pState->mutex);
        ended = m_pState->ended.wait_for(lock, grace, [this] { return m_pState->bEnded; });
    }
    if (ended) {
        m_pState->thread.join();
    } else {
        m_pJob->SetWakeUp(nullptr);
        {
            std::lock_guard lock(m_pState->mutex);
            m_pState->onEnded = nullptr;
        }
        m_pState->thread.detach();
    }
    m_pState.reset();
    return ended;
}

bool CWorkerThread::WaitFor(std::chrono::milliseconds limit) const
{
    if (!m_pState)
        return true;
    std::unique_lock lock(m_pState->mutex);
    return m_pState->ended.wait_for(lock, limit, [this] { return m_pState->bEnded; });
}

bool CWorkerThread::IsRunning() const
{
    if (!m_pState)
        return false;
    std::lock_guard lock(m_pState->mutex);
    return !m_pState->bEnded;
}
