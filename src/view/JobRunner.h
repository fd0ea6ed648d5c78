// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class CJob;
class CWorkerThread;

// Runs a window's walks on one worker, one at a time, under one policy, and brings their
// reports to the UI thread. Every job started gets a number; reports and ends of a job that
// has been replaced are dropped by that number. The policy, by kind of job:
// - a scan is stopped only by closing: a listing or a copy asked for meanwhile waits for its
//   end;
// - a listing replaces a listing, a copy or an open;
// - a copy waits for the listing it belongs to;
// - an open or a scan replaces whatever runs.
// A job replaced is asked to stop and waited for up to its grace; a job stuck in the file
// system past it is let go, its reports going nowhere. UI thread only.
class CJobRunner final : public QObject {
    Q_OBJECT

public:
    enum class EKind : unsigned char { Open, Scan, Listing, Copy };
    using Handler = std::function<void()>;

    static constexpr std::chrono::milliseconds kStopGrace{250};
    static constexpr std::chrono::milliseconds kCloseGrace{50};
    // A selection never holds up the window for longer than this.
    static constexpr std::chrono::milliseconds kListingGrace{20};

    explicit CJobRunner(QObject* pParent = nullptr);
    ~CJobRunner() override; // lets a running job go without waiting

    // Starts job, now or, by the policy, once the job running has ended (a job waiting so is
    // replaced by the next one that waits). onReports runs on the UI thread whenever the job
    // has new reports; onEnded once its Run has returned. Returns the job's number.
    std::uint64_t Start(EKind kind, std::shared_ptr<CJob> job, Handler onReports,
                        Handler onEnded = {});
    // Stops the running job and drops a waiting one; waits at most grace.
    void Stop(std::chrono::milliseconds grace = kStopGrace);
    // The same for a job of kind alone, running or waiting.
    void Cancel(EKind kind);
    // Waits up to limit for the running job to end, without asking it to stop; then its
    // reports can be taken at once. True when none runs any more.
    bool WaitFor(std::chrono::milliseconds limit) const;

    // The job running or waiting, or none.
    bool IsBusy() const noexcept { return m_nRunning != 0 || m_pWaiting; }
    // The worker thread itself is running, a job whose end the UI has not heard of included.
    bool IsWorkerRunning() const;
    // The number of the job running; 0 for none.
    std::uint64_t RunningNumber() const noexcept { return m_nRunning; }
    bool IsRunning(EKind kind) const noexcept { return m_nRunning != 0 && m_eRunning == kind; }
    bool IsWaiting(EKind kind) const noexcept { return m_pWaiting && m_pWaiting->kind == kind; }

private slots:
    // Reached by name from the worker: the queued call is built inside Qt, where
    // ThreadSanitizer does not see it racing with Qt's queue.
    void OnWake(quint64 number);
    void OnEnded(quint64 number);

private:
    struct Entry {
        EKind kind;
        std::uint64_t number;
        std::shared_ptr<CJob> job;
        Handler onReports;
        Handler onEnded;
    };
    bool MustWait(EKind kind) const noexcept;
    void Run(Entry entry);

    std::unique_ptr<CWorkerThread> m_pWorker;
    std::uint64_t m_nLast = 0;
    std::uint64_t m_nRunning = 0; // 0 once the running job has ended or was let go
    EKind m_eRunning = EKind::Open;
    Handler m_onReports;
    Handler m_onEnded;
    std::unique_ptr<Entry> m_pWaiting;
};
