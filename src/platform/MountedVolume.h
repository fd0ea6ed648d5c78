// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

// A volume over a mounted folder: folders are opened relative to their parents' handles, so
// no path length limit applies; each folder is read with one getdents64 pass (CFileFind);
// files are opened only when a stat says they are regular (CRegularFile).
class CMountedVolume final : public CVolume {
public:
    // root is the folder that is scanned; trailing '/' are dropped. Touches no file system:
    // what the volume needs to know of its root is learnt on first use, on a worker.
    struct Options {
        bool bAssumeUnknownType = false; // for benchmarks: every entry's type asked, as on a CD
    };
    explicit CMountedVolume(std::string root)
        : CMountedVolume(std::move(root), Options())
    {}
    CMountedVolume(std::string root, Options options);
    static std::shared_ptr<const CVolume> Create(std::string root);

    // fstatat calls its listings made to learn entry types so far.
    std::uint64_t StatCallCount() const noexcept
    {
        return m_nStatCalls.load(std::memory_order_relaxed);
    }

    const std::string& Root() const noexcept override { return m_strRoot; }

    std::unique_ptr<CFolder> OpenFolder(const std::string& path) const override;
    std::unique_ptr<CFolder> OpenSubfolder(const CFolder& parent, std::string_view name,
                                           bool bFollowLink) const override;
    std::optional<FolderInfo> GetFolderInfo(const CFolder& folder) const override;
    std::unique_ptr<CFolderReader> NewFolderReader() const override;
    bool LinkLeadsBelow(const std::string& linkPath, const std::string& folder) const override;
    std::optional<std::string> ResolveNoCase(const std::string& folder,
                                             std::string_view relative) const override;
    std::unique_ptr<CFile> OpenFile(const std::string& path) const override;
    std::unique_ptr<CFile> OpenListedFile(const std::string& path) const override;
    std::optional<FileIdentity> IdentityOf(const std::string& path) const override;
    PathKind What(const std::string& path) const override;
    std::optional<std::string> RealPathForDesktop(const std::string& path) const override;

private:
    struct RootFacts {
        std::optional<std::uint64_t> nDevice;
        std::optional<std::string> strRealPath; // links resolved
    };
    const RootFacts& Facts() const;

    std::string m_strRoot;
    Options m_options;
    mutable std::atomic<std::uint64_t> m_nStatCalls{0};
    mutable std::once_flag m_factsOnce;
    mutable RootFacts m_facts; // written once, under m_factsOnce
};
