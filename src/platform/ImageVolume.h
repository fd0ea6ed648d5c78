// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"
#include "platform/ImageReader.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A volume over a file system inside a disc image. Folder listings are read from the image
// once and kept (up to a limit, then read again); links are resolved inside the image alone,
// and an absolute link target, which would leave the image, leads nowhere. One lock guards
// the reader, whose handles and block cache are not thread-safe; it is held for one listing
// or a bounded number of blocks at a time.
class CImageVolume final : public CVolume {
public:
    // Folder listings beyond these count as unreadable; cached names beyond the total are
    // dropped and read again when needed.
    static constexpr std::uint64_t kMaxFolderBytes = 32u << 20;
    static constexpr std::size_t kMaxEntriesPerFolder = 200'000;
    static constexpr std::size_t kMaxCachedEntries = 2'000'000;
    static constexpr std::size_t kMaxDepth = 1024;
    static constexpr int kMaxLinkHops = 40;

    // imageDevice tells this image from others in identities; imageChanged is the image
    // file's change time, so that a replaced image gives new file identities. hImage, when
    // not -1, is a descriptor the reader reaches the image through; the volume closes it.
    CImageVolume(std::string root, std::unique_ptr<CImageReader> reader, std::uint64_t imageDevice,
                 Timestamp imageChanged, int hImage);
    ~CImageVolume() override;
    CImageVolume(const CImageVolume&) = delete;
    CImageVolume& operator=(const CImageVolume&) = delete;

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
    std::optional<FileIdentity> IdentityOf(const std::string& path) const override;
    PathKind What(const std::string& path) const override;
    bool MustCopyOut() const noexcept override { return true; }
    std::optional<std::string> RealPathForDesktop(const std::string& path) const override;
    std::string ContentKey() const override;

    using Entry = CImageReader::Entry;
    struct Listing {
        bool bReadable = false;
        std::vector<Entry> entries;
        std::unordered_map<std::string_view, std::size_t> byName; // first entry of each name
    };
    // A place in the image: its entry and its paths inside ("" for the root).
    struct Located {
        Entry entry;
        std::string strRaw;       // the library's names, links resolved
        std::string strCanonical; // display names, links resolved
        std::string strShown;     // display names of the components as the caller gave them
    };

    // For the folder and file objects: all under the lock.
    std::shared_ptr<const Listing> ListFolder(const Located& folder) const;
    std::optional<Located> Locate(std::string_view inside, bool bFollowLast,
                                  bool bIgnoreCase) const;
    bool ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer) const;
    FileIdentity IdentityOfEntry(const Entry& entry) const;

private:
    std::shared_ptr<const Listing> ListLocked(const Located& folder) const;
    std::optional<Located> LocateLocked(std::string_view inside, bool bFollowLast,
                                        bool bIgnoreCase) const;
    // The path inside the image, or nullopt when path is not on this volume.
    std::optional<std::string_view> Inside(const std::string& path) const;

    std::string m_strRoot;
    std::uint64_t m_nDevice;
    Timestamp m_changed;
    mutable std::mutex m_mutex;
    mutable std::unique_ptr<CImageReader> m_pReader; // under m_mutex
    mutable std::unordered_map<std::uint64_t, std::shared_ptr<const Listing>> m_listings;
    mutable std::size_t m_nCachedEntries = 0;
    int m_hImage;
};
