// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/OpenVolumeJob.h"

#include <utility>

COpenVolumeJob::COpenVolumeJob(std::string path, Opener opener)
    : m_strPath(std::move(path))
    , m_fnOpen(std::move(opener))
{}

void COpenVolumeJob::Run()
{
    if (IsStopRequested())
        return;
    COpenedVolume result = m_fnOpen(m_strPath);
    {
        std::lock_guard lock(m_mutex);
        m_result = std::move(result);
    }
    NotifyReports(true);
}

std::optional<COpenedVolume> COpenVolumeJob::TakeResult()
{
    std::lock_guard lock(m_mutex);
    ReportsTaken();
    return std::exchange(m_result, std::nullopt);
}
