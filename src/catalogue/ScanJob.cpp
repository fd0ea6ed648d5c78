#include "catalogue/ScanJob.h"

#include "catalogue/Descriptor.h"
#include "platform/FileFind.h"

#include <utility>

CScanJob::CScanJob(std::string root)
    : m_strRoot(std::move(root))
    , m_pCatalogue(std::make_shared<CCatalogue>())
{}

void CScanJob::Run()
{
    WalkFolder(m_strRoot, "tree", true, Descriptor::kPattern, *this);
    if (CJob::IsStopRequested())
        return;
    m_pCatalogue->Sort();
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

void CScanJob::AddApplication(const CFileFind& found)
{
    const std::string path = found.GetFilePath();
    const Descriptor::Listing listing =
        Descriptor::ReadListing(Descriptor::ReaderFor(m_reader, path));
    if (!listing.bListed)
        return;
    m_pCatalogue->AddApplication(listing.strCategory, {listing.strName, path, found.GetRoot()});
}
