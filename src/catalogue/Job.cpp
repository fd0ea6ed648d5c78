// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Job.h"

#include <utility>

void CJob::SetWakeUp(WakeUp wakeUp)
{
    std::lock_guard lock(m_mutex);
    m_wakeUp = std::move(wakeUp);
}

void CJob::NotifyReports(bool force)
{
    std::lock_guard lock(m_mutex);
    if (!m_wakeUp || m_bWakePending)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastWake < kReportInterval)
        return;
    m_bWakePending = true;
    m_lastWake = now;
    // Called under the lock so that SetWakeUp(nullptr) on the UI thread cannot race it.
    m_wakeUp();
}
