// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/Volume.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The mounted volume's folder reader: one folder listing, read with a single getdents64 pass
// straight from the folder's handle into a buffer that the finder keeps for all its listings, and
// the entry a walk "stands on" when it hands a file to a per-file operation (GetFileName,
// GetFilePath, GetRoot). Entry types come from d_type; fstatat is used only where d_type is unknown
// (iso9660 reports unknown for every entry) or the entry is a link.
//
// Folders are passed around as handles (open file descriptors, -1 for none): a deep walk
// opens each folder relative to its parent, so no path length limit applies.
class CFileFind {
public:
    using EntryType = CVolume::EntryType;

    // For benchmarks and tests.
    struct Options {
        bool bAssumeUnknownType = false;             // every d_type unknown, as on a CD
        std::atomic<std::uint64_t>* pStatCalls = {}; // counts the fstatat calls made for types
    };

    CFileFind() = default;
    explicit CFileFind(Options options)
        : m_options(options)
    {}
    ~CFileFind();
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // Starts listing the folder open as hFolder, which the finder takes over whatever the
    // result unless bBorrow (the caller then keeps it open until the listing ends); root is
    // that folder's path (no trailing '/', except "/" itself) for GetRoot and GetFilePath.
    // Ends any listing still open. False when hFolder is -1. The listing reads on from the
    // handle's read position, so pass a handle nobody has listed yet.
    bool FindFile(int hFolder, std::string_view root, bool bBorrow = false);
    // Makes the next entry current, "." and ".." left out, in the platform's order.
    // False at the end of the listing or when reading fails (a damaged record counts as a
    // failed read); the listing stays open.
    bool FindNextFile();
    EntryType GetEntryType() const noexcept { return m_type; }
    bool IsFolder() const noexcept { return m_type != EntryType::File; }
    // The current entry is a symbolic link (to a folder, a file, or nothing).
    bool IsLink() const noexcept { return m_bLink; }
    // The current entry was listed as a regular file (never a link).
    bool IsRegular() const noexcept { return m_bRegular; }
    // Ends the listing and hands its folder handle to the caller, who then owns it (good
    // for opening subfolders, not for listing again); -1 when no listing is open.
    int TakeFolder() noexcept;
    void Close() noexcept;

    // The current entry, as FindNextFile or a walk sets it before calling a per-file operation.
    void SetCurrent(std::string_view root, std::string_view name);
    const std::string& GetFileName() const noexcept { return m_strName; }
    const std::string& GetRoot() const noexcept { return m_strRoot; }
    // Root + '/' + name, never doubling the '/' after the root "/".
    std::string GetFilePath() const;

    // Folder handles. Each Open returns a handle the caller owns, or -1.
    static int OpenFolder(const std::string& path);
    // name is one entry of hParent; links are refused unless bFollowLink. With bFollowLink,
    // name may also be a relative path of several components (shorter than MaxPathLength).
    static int OpenSubfolder(int hParent, const char* name, bool bFollowLink);
    static bool GetFolderId(int hFolder, CVolume::FolderId& id);
    static void CloseFolder(int hFolder) noexcept;
    static std::size_t MaxPathLength() noexcept;
    // The canonical absolute path (links resolved), or nullopt when it cannot be resolved.
    static std::optional<std::string> RealPath(const std::string& path);

    // Resolves relative (separators '\' or '/') below folder component by component: a
    // name as written when it exists, otherwise the first entry equal to it without regard
    // to ASCII case. Empty and "." components are skipped; ".." is refused. Returns the
    // full path, or nullopt when a component is missing.
    static std::optional<std::string> ResolveNoCase(const std::string& folder,
                                                    std::string_view relative);

    // One record of a getdents64 buffer; name points into the buffer, NUL-terminated.
    struct DirRecord {
        unsigned char type = 0; // a DT_ value
        const char* name = nullptr;
        std::size_t nameLength = 0;
    };
    // Reads the record at pos of the used bytes of buffer. Returns where the next record
    // starts, or 0 when the record is cut short, has a length that does not fit, or its
    // name has no terminating NUL. Public so that tests can feed it damaged buffers.
    static std::size_t ReadRecord(const char* buffer, std::size_t used, std::size_t pos,
                                  DirRecord& record) noexcept;

private:
    bool StatEntry(const char* name, struct stat& st, int flags) const;

    Options m_options;
    int m_hFolder = -1;
    bool m_bBorrowed = false;
    std::unique_ptr<char[]> m_pBuffer; // allocated by the first listing, kept for the next
    std::size_t m_nUsed = 0;           // bytes the last read put into m_pBuffer
    std::size_t m_nPos = 0;            // the next record in m_pBuffer
    bool m_bEnd = false;               // the folder has nothing more to give
    std::string m_strRoot;
    std::string m_strName;
    EntryType m_type = EntryType::File;
    bool m_bLink = false;
    bool m_bRegular = false;
};
