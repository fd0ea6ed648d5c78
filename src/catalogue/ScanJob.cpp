// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ScanJob.h"

#include "catalogue/Descriptor.h"

#include <utility>

CScanJob::CScanJob(std::shared_ptr<const CVolume> volume, CCatalogue::TextOrder order)
    : m_pVolume(std::move(volume))
    , m_order(std::move(order))
    , m_pCatalogue(std::make_shared<CCatalogue>())
{}

void CScanJob::Run()
{
    WalkFolder(*m_pVolume, m_pVolume->Root(), "tree", true, Descriptor::kPattern, *this);
    if (CJob::IsStopRequested())
        return;
    m_pCatalogue->Sort(m_order);
    {
        std::lock_guard lock(m_mutex);
        m_pending.pCatalogue = std::move(m_pCatalogue);
    }
    NotifyReports(true);
}

CScanJob::Reports CScanJob::TakeReports()
{
    std::lock_guard lock(m_mutex);
    ReportsTaken();
    return std::exchange(m_pending, Reports{});
}

void CScanJob::OnFolder(const std::string& folder)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.bFolderChanged = true;
        m_pending.strFolder = folder;
    }
    NotifyReports();
}

void CScanJob::AddApplication(const CFoundFile& found)
{
    const std::string path = found.GetFilePath();
    const Descriptor::Listing listing =
        Descriptor::ReadListing(Descriptor::ReaderFor(m_reader, *m_pVolume, path));
    if (!listing.bListed)
        return;
    m_pCatalogue->AddApplication(listing.strCategory, {listing.strName, path, found.GetRoot()});
}
