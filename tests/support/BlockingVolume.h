// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

// A mounted folder behind a gate: while the gate is shut, every call of the volume waits
// until it opens (or the bound passes), as on a dead network mount or a scratched disc.
class CBlockingVolume final : public CVolume {
public:
    CBlockingVolume(std::shared_ptr<const CVolume> inner, std::chrono::milliseconds bound);

    void Shut();
    void Open();
    // Calls waiting at the gate now.
    int Waiting() const;
    // Stands in for a disc image from now on: the desktop is never handed its files.
    void ActAsImage() { m_bActsAsImage = true; }
    // Files opened through the gate so far.
    int FilesOpened() const { return m_nFilesOpened; }

    const std::string& Root() const noexcept override { return m_pInner->Root(); }
    std::unique_ptr<CFolder> OpenFolder(const std::string& path) const override;
    std::unique_ptr<CFolder> OpenSubfolder(const CFolder& parent, std::string_view name,
                                           bool bFollowLink) const override;
    std::optional<FolderInfo> GetFolderInfo(const CFolder& folder) const override;
    std::unique_ptr<CFolderReader> NewFolderReader() const override;
    bool LinkLeadsBelow(const std::string& linkPath, const std::string& folder) const override;
    std::optional<std::string> ResolveNoCase(const std::string& folder,
                                             std::string_view relative) const override;
    std::unique_ptr<CFile> OpenFile(const std::string& path) const override;
    std::optional<FileIdentity> IdentityOf(const std::string& path) const override;
    PathKind What(const std::string& path) const override;
    bool MustCopyOut() const noexcept override { return m_bActsAsImage || m_pInner->MustCopyOut(); }
    std::optional<std::string> RealPathForDesktop(const std::string& path) const override;
    std::string ContentKey() const override { return m_pInner->ContentKey(); }

private:
    void Pass() const;

    std::shared_ptr<const CVolume> m_pInner;
    const std::chrono::milliseconds m_bound;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_opened;
    bool m_bShut = false;
    bool m_bActsAsImage = false;
    mutable int m_nWaiting = 0;
    mutable std::atomic<int> m_nFilesOpened = 0;
};
