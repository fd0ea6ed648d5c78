// SPDX-License-Identifier: GPL-3.0-or-later
#include "BlockingVolume.h"

#include <utility>

CBlockingVolume::CBlockingVolume(std::shared_ptr<const CVolume> inner,
                                 std::chrono::milliseconds bound)
    : m_pInner(std::move(inner))
    , m_bound(bound)
{}

void CBlockingVolume::Shut()
{
    std::lock_guard lock(m_mutex);
    m_bShut = true;
}

void CBlockingVolume::Open()
{
    {
        std::lock_guard lock(m_mutex);
        m_bShut = false;
    }
    m_opened.notify_all();
}

int CBlockingVolume::Waiting() const
{
    std::lock_guard lock(m_mutex);
    return m_nWaiting;
}

void CBlockingVolume::Pass() const
{
    std::unique_lock lock(m_mutex);
    ++m_nWaiting;
    m_opened.wait_for(lock, m_bound, [this] { return !m_bShut; });
    --m_nWaiting;
}

std::unique_ptr<CVolume::CFolder> CBlockingVolume::OpenFolder(const std::string& path) const
{
    Pass();
    return m_pInner->OpenFolder(path);
}

std::unique_ptr<CVolume::CFolder>
CBlockingVolume::OpenSubfolder(const CFolder& parent, std::string_view name, bool bFollowLink) const
{
    Pass();
    return m_pInner->OpenSubfolder(parent, name, bFollowLink);
}

std::optional<CVolume::FolderInfo> CBlockingVolume::GetFolderInfo(const CFolder& folder) const
{
    Pass();
    return m_pInner->GetFolderInfo(folder);
}

std::unique_ptr<CVolume::CFolderReader> CBlockingVolume::NewFolderReader() const
{
    return m_pInner->NewFolderReader(); // touches no drive
}

bool CBlockingVolume::LinkLeadsBelow(const std::string& linkPath, const std::string& folder) const
{
    Pass();
    return m_pInner->LinkLeadsBelow(linkPath, folder);
}

std::optional<std::string> CBlockingVolume::ResolveNoCase(const std::string& folder,
                                                          std::string_view relative) const
{
    Pass();
    return m_pInner->ResolveNoCase(folder, relative);
}

std::unique_ptr<CVolume::CFile> CBlockingVolume::OpenFile(const std::string& path) const
{
    Pass();
    ++m_nFilesOpened;
    return m_pInner->OpenFile(path);
}

std::optional<CVolume::FileIdentity> CBlockingVolume::IdentityOf(const std::string& path) const
{
    Pass();
    return m_pInner->IdentityOf(path);
}

CVolume::PathKind CBlockingVolume::What(const std::string& path) const
{
    Pass();
    return m_pInner->What(path);
}

std::optional<std::string> CBlockingVolume::RealPathForDesktop(const std::string& path) const
{
    Pass();
    if (m_bActsAsImage)
        return std::nullopt;
    return m_pInner->RealPathForDesktop(path);
}
