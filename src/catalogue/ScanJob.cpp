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
    WalkFolder(*m_pVolume, m_pVolume->Root(), EWalkMode::Tree, true, Descriptor::kPattern, *this);
    if (CJob::IsStopRequested())
        return;
    m_pCatalogue->Sort(m_order);
    Report([&](Reports& pending) { pending.pCatalogue = std::move(m_pCatalogue); }, true);
}

void CScanJob::OnFolder(const std::string& folder)
{
    Report([&](Reports& pending) {
        pending.bFolderChanged = true;
        pending.strFolder = folder;
    });
}

void CScanJob::AddApplication(const CFoundFile& found)
{
    std::string path = found.GetFilePath();
    const std::optional<Descriptor::Listing> listing = ReadOnce(path);
    if (!listing || !listing->bListed)
        return;
    m_pCatalogue->AddApplication(listing->strCategory,
                                 {listing->strName, std::move(path), found.GetRoot()});
}

std::optional<Descriptor::Listing> CScanJob::ReadOnce(const std::string& path)
{
    const std::optional<CVolume::FileIdentity> identity = m_pVolume->IdentityOf(path);
    if (!identity)
        return std::nullopt;
    if (const auto it = m_mapRead.find(*identity); it != m_mapRead.end())
        return it->second;
    if (identity->nSize > kMaxDescriptorBytes - m_nBytesRead)
        return std::nullopt;
    m_nBytesRead += identity->nSize;
    Descriptor::Listing listing =
        Descriptor::ReadListing(Descriptor::ReaderFor(m_reader, *m_pVolume, path));
    return m_mapRead.emplace(*identity, std::move(listing)).first->second;
}

std::size_t CScanJob::IdentityHash::operator()(const CVolume::FileIdentity& id) const noexcept
{
    std::size_t hash = std::hash<std::uint64_t>{}(id.nInode);
    for (const std::uint64_t part :
         {id.nDevice, id.nSize, static_cast<std::uint64_t>(id.modified.nSeconds),
          static_cast<std::uint64_t>(id.changed.nNanoseconds)})
        hash = hash * 1099511628211ULL ^ std::hash<std::uint64_t>{}(part);
    return hash;
}
