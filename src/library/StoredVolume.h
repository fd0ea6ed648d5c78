// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/OpenedVolume.h"
#include "catalogue/Volume.h"
#include "library/LibraryRecord.h"
#include "platform/OpenVolume.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// A volume as the library recorded it, for the window to show while its disc or image is
// away: the folders and files as catalogued, and for each application a descriptor and a
// description file made from what was stored, so that the walker, the description and the
// file list read it as they read the drive. Nothing else can be read: every other file opens
// to nothing. Built once, then only read, so any thread may use it.
class CStoredVolume final : public CVolume {
public:
    CStoredVolume(const CLibraryVolume& volume, const CLibraryContents& contents);

    const std::string& Root() const noexcept override { return m_strRoot; }
    std::unique_ptr<CFolder> OpenFolder(const std::string& path) const override;
    std::unique_ptr<CFolder> OpenSubfolder(const CFolder& parent, std::string_view name,
                                           bool bFollowLink) const override;
    std::optional<FolderInfo> GetFolderInfo(const CFolder& folder) const override;
    std::unique_ptr<CFolderReader> NewFolderReader() const override;
    bool LinkLeadsBelow(const std::string&, const std::string&) const override { return false; }
    std::optional<std::string> ResolveNoCase(const std::string& folder,
                                             std::string_view relative) const override;
    std::unique_ptr<CFile> OpenFile(const std::string& path) const override;
    std::optional<FileIdentity> IdentityOf(const std::string& path) const override;
    PathKind What(const std::string& path) const override;
    bool MustCopyOut() const noexcept override { return true; }
    std::optional<std::string> RealPathForDesktop(const std::string&) const override
    {
        return std::nullopt;
    }
    const Whereabouts* Away() const noexcept override { return &m_whereabouts; }
    std::shared_ptr<const std::vector<unsigned char>>
    KeptIcon(const std::string& path) const override;
    std::string ContentKey() const override { return m_strIdentity; }

private:
    class CNodeFolder;
    class CNodeReader;
    class CTextFile;

    struct Node {
        std::string strName;
        std::string strPath; // inside the volume, "" for the root
        bool bFolder = false;
        std::uint64_t nSize = 0;
        std::int64_t nModified = 0;
        std::vector<std::uint32_t> arrChildren; // listed entries, in catalogue order
        std::optional<std::string> strText;     // the content of a file made from the store
        std::shared_ptr<const std::vector<unsigned char>> pIcon; // a program's, when kept
    };

    std::uint32_t EnsureFolder(const std::string& inside);
    std::uint32_t AddNode(const std::string& inside, bool bFolder, bool bListed);
    void AddApplication(std::size_t index, const CLibraryApplication& application);
    std::optional<std::uint32_t> Find(const std::string& path) const;
    std::optional<std::uint32_t> FindInside(const std::string& inside) const;
    std::string Full(const Node& node) const;
    FileIdentity IdentityOfNode(std::uint32_t node) const;

    std::string m_strRoot;
    std::string m_strIdentity;
    Whereabouts m_whereabouts;
    std::uint64_t m_nDevice;
    std::vector<Node> m_arrNodes;
    std::unordered_map<std::string, std::uint32_t> m_mapByPath;
};

// The volume recorded at path in the store at storePath, to show while it is away; nullptr
// when no store is there (none is made), it does not know path, or path failed when it was
// catalogued.
std::shared_ptr<const CVolume> OpenStoredVolume(const std::string& path,
                                                const std::string& storePath);

// OpenVolume, except that a volume the library knows that is not at path (or a disc's mount
// folder left empty) is shown from the store at storePath. Reads the drive and the store, so
// it runs on a worker.
COpenedVolume OpenVolumeOrStored(const std::string& path, const ImageOpenFn& openImage,
                                 const std::string& storePath);
