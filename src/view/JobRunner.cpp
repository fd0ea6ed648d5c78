// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/JobRunner.h"

#include "catalogue/Job.h"
#include "catalogue/WorkerThread.h"

#include <QMetaObject>

#include <utility>

CJobRunner::CJobRunner(QObject* pParent)
    : QObject(pParent)
    , m_pWorker(std::make_unique<CWorkerThread>())
{}

CJobRunner::~CJobRunner()
{
    m_pWorker->StopAndWait(std::chrono::milliseconds(0));
}

bool CJobRunner::MustWait(EKind kind) const noexcept
{
    if (m_nRunning == 0)
        return false;
    switch (kind) {
    case EKind::Listing:
        return m_eRunning == EKind::Scan;
    case EKind::Copy:
        return m_eRunning == EKind::Scan || m_eRunning == EKind::Listing;
    case EKind::Open:
    case EKind::Scan:
        return false;
    }
    return false;
}

std::uint64_t CJobRunner::Start(EKind kind, std::shared_ptr<CJob> job, Handler onReports,
                                Handler onEnded)
{
    Entry entry{kind, ++m_nLast, std::move(job), std::move(onReports), std::move(onEnded)};
    const std::uint64_t number = entry.number;
    if (MustWait(kind)) {
        m_pWaiting = std::make_unique<Entry>(std::move(entry));
        return number;
    }
    m_pWaiting.reset();
    Run(std::move(entry));
    return number;
}

void CJobRunner::Run(Entry entry)
{
    m_pWorker->StopAndWait(entry.kind == EKind::Listing ? kListingGrace : kStopGrace);
    m_nRunning = entry.number;
    m_eRunning = entry.kind;
    m_onReports = std::move(entry.onReports);
    m_onEnded = std::move(entry.onEnded);
    const auto number = static_cast<quint64>(entry.number);
    // Called on the worker; letting a job go clears both calls, so they never outlive this
    // runner, and a replaced job's number is dropped on arrival.
    entry.job->SetWakeUp([this, number] {
        QMetaObject::invokeMethod(this, "OnWake", Qt::QueuedConnection, Q_ARG(quint64, number));
    });
    m_pWorker->Start(std::move(entry.job), [this, number] {
        QMetaObject::invokeMethod(this, "OnEnded", Qt::QueuedConnection, Q_ARG(quint64, number));
    });
}

void CJobRunner::Stop(std::chrono::milliseconds grace)
{
    m_pWaiting.reset();
    m_pWorker->StopAndWait(grace);
    m_nRunning = 0;
    m_onReports = nullptr;
    m_onEnded = nullptr;
}

void CJobRunner::Cancel(EKind kind)
{
    if (IsWaiting(kind))
        m_pWaiting.reset();
    if (!IsRunning(kind))
        return;
    m_pWorker->StopAndWait(kind == EKind::Listing ? kListingGrace : kStopGrace);
    m_nRunning = 0;
    m_onReports = nullptr;
    m_onEnded = nullptr;
    if (m_pWaiting) {
        Entry waiting = std::move(*m_pWaiting);
        m_pWaiting.reset();
        Run(std::move(waiting));
    }
}

bool CJobRunner::IsWorkerRunning() const
{
    return m_pWorker->IsRunning();
}

bool CJobRunner::WaitFor(std::chrono::milliseconds limit) const
{
    return m_pWorker->WaitFor(limit);
}

void CJobRunner::OnWake(quint64 number)
{
    if (number != m_nRunning || !m_onReports)
        return;
    // The handler may start another job, which replaces this one and its handlers.
    const Handler handler = m_onReports;
    handler();
}

void CJobRunner::OnEnded(quint64 number)
{
    if (number != m_nRunning)
        return;
    m_nRunning = 0;
    m_onReports = nullptr;
    const Handler onEnded = std::exchange(m_onEnded, nullptr);
    if (onEnded)
        onEnded();
    if (m_pWaiting && m_nRunning == 0) {
        Entry waiting = std::move(*m_pWaiting);
        m_pWaiting.reset();
        Run(std::move(waiting));
    }
}
