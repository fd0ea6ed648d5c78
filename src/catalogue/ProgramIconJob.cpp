// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ProgramIconJob.h"

#include "catalogue/PeIconReader.h"
#include "catalogue/Volume.h"

#include <iterator>
#include <utility>

CProgramIconJob::CProgramIconJob(std::shared_ptr<const CVolume> volume,
                                 std::shared_ptr<CProgramIconCache> cache)
    : m_pVolume(std::move(volume))
    , m_pCache(std::move(cache))
{}

void CProgramIconJob::Run()
{
    while (!IsStopRequested()) {
        Request request;
        bool bLast = false;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_for(lock, kStopPoll,
                                 [this] { return m_bClosed || !m_arrQueue.empty(); }))
                continue;
            if (m_bClosed)
                return;
            request = std::move(m_arrQueue.front());
            m_arrQueue.pop_front();
            bLast = m_arrQueue.empty();
        }
        Result result{request.nTag, Read(*m_pVolume, *m_pCache, request)};
        {
            std::lock_guard lock(m_mutex);
            m_arrResults.push_back(std::move(result));
        }
        // The last of a burst goes at once: it may be the icon of a row just shown.
        NotifyReports(bLast);
    }
}

void CProgramIconJob::Add(std::vector<Request> requests, bool bUrgent)
{
    if (requests.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        const auto at = bUrgent ? m_arrQueue.begin() : m_arrQueue.end();
        m_arrQueue.insert(at, std::make_move_iterator(requests.begin()),
                          std::make_move_iterator(requests.end()));
    }
    m_wake.notify_one();
}

void CProgramIconJob::Close()
{
    {
        std::lock_guard lock(m_mutex);
        m_bClosed = true;
        m_arrQueue.clear();
    }
    m_wake.notify_one();
}

std::vector<CProgramIconJob::Result> CProgramIconJob::TakeResults()
{
    std::lock_guard lock(m_mutex);
    ReportsTaken();
    return std::exchange(m_arrResults, {});
}

CProgramIconCache::Icon CProgramIconJob::Read(const CVolume& volume, CProgramIconCache& cache,
                                              const Request& request)
{
    static const CProgramIconCache::Icon kNone =
        std::make_shared<const std::vector<unsigned char>>();
    if (volume.Away()) {
        CProgramIconCache::Icon kept = volume.KeptIcon(request.strPath);
        return kept ? kept : kNone;
    }
    if (const auto identity = volume.IdentityOf(request.strPath)) {
        if (CProgramIconCache::Icon icon = cache.Find(*identity))
            return icon;
    }
    const std::unique_ptr<CVolume::CFile> file = request.bListedRegular
                                                     ? volume.OpenListedFile(request.strPath)
                                                     : volume.OpenFile(request.strPath);
    if (!file)
        return kNone;
    auto icon = std::make_shared<const std::vector<unsigned char>>(
        CPeIconReader::ExtractIconFromFile(*file, 0, CPeIconReader::Images::ClosestTo16));
    // Filed under the version read, which may differ from the one looked for.
    if (const auto identity = file->Identity())
        cache.Add(*identity, icon);
    return icon;
}
