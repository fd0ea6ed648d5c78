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
    Report([&](Reports& pending) { pending = std::move(result); }, true);
}
