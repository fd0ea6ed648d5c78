// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one way Quarrow reads a drive: a mounted folder (CMountedVolume) or a disc image
// (CImageVolume), both opened by OpenVolume, or what the library recorded of one that is away
// (CStoredVolume). Walker, profile reader, description, program
// icons, the file list and the copy-out read through it alone.
//
// Paths. Every path taken or given is a display path as bytes: Root() followed by '/' and
// the path inside ("/media/cd/apps/x", "/home/me/cd1.iso/apps/x"). A path that is not Root()
// or below it, or that holds a ".." component or a NUL, is refused like a missing one.
//
// Threads. Every operation is const and may run on several threads at once: a job blocked in
// the file system may still be running on a thread that was let go while a new job uses the
// same volume. Jobs share the volume as std::shared_ptr<const CVolume>. The folder, file and
// reader objects handed out are each used by one thread at a time, and must not outlive the
// volume.
//
// Nothing blocks on special files: only regular files are opened, and FIFOs, sockets and
// devices are never opened at all.
class CVolume {
public:
    // Anything that is neither a folder nor a link to one (regular file, FIFO, socket,
    // device, dangling link) is a File: callers decide what they open.
    enum class EntryType : unsigned char { File, Folder, FolderLink };
    // What a path names, links followed.
    enum class PathKind : unsigned char { Missing, File, Folder, Other };
    enum class ReadStatus : unsigned char { Ok, TooLarge, ReadError };

    // Equal for the same folder reached twice (through a link, say): a walk enters each once.
    struct FolderId {
        std::uint64_t nDevice = 0;
        std::uint64_t nNode = 0;
        bool operator==(const FolderId&) const = default;
    };
    struct FolderInfo {
        FolderId id;
        bool bOnRootFileSystem = false; // false for a file system mounted below the root
    };

    // Seconds and nanoseconds kept apart: a file may carry any time stamp.
    struct Timestamp {
        std::int64_t nSeconds = 0;
        std::int64_t nNanoseconds = 0;
        auto operator<=>(const Timestamp&) const = default;
    };
    // Tells one version of a file from another without reading it, across all volumes.
    struct FileIdentity {
        std::uint64_t nDevice = 0;
        std::uint64_t nInode = 0;
        std::uint64_t nSize = 0;
        Timestamp modified;
        Timestamp changed; // also moves when a tool restores the modified time
        bool operator==(const FileIdentity&) const = default;
    };

    // An open folder. Opening never depends on the path's length.
    class CFolder {
    public:
        virtual ~CFolder() = default;
    };

    // One folder entry; the reader reuses its storage from entry to entry.
    struct Entry {
        std::string strName;
        EntryType type = EntryType::File;
        bool bLink = false;    // a symbolic link (to a folder, a file, or nothing)
        bool bRegular = false; // a regular file as listed; never a link
    };

    // Reads open folders one after another, reusing its buffer; owned by one walk.
    class CFolderReader {
    public:
        virtual ~CFolderReader() = default;
        // Starts the single pass over folder that a freshly opened folder allows; a folder is
        // listed at most once. folder must stay open while Next is called for it. False when
        // it cannot be read.
        virtual bool Start(const CFolder& folder) = 0;
        // The next entry, "." and ".." left out, in the volume's order. False at the end or
        // when reading fails; entry is then unspecified.
        virtual bool Next(Entry& entry) = 0;
        // The identity of the regular file Next gave last when the listing itself tells it
        // (an image's records do); nullopt sends the caller to IdentityOf.
        virtual std::optional<FileIdentity> ListedIdentity() const { return std::nullopt; }
    };

    // A regular file open for reading at chosen offsets.
    class CFile {
    public:
        virtual ~CFile() = default;
        // The size when the file was opened.
        virtual std::uint64_t Size() const = 0;
        // Exactly size bytes at offset into buffer; false on a read error or past the end
        // (buffer may then be partly written).
        virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const = 0;
        // The whole file, at most maxBytes: larger when opened, growing past it while read,
        // or no memory for it gives TooLarge. Unless Ok, out is empty.
        virtual ReadStatus ReadAll(std::string& out, std::size_t maxBytes) const = 0;
        // The open file's identity as it is now; nullopt when that cannot be told.
        virtual std::optional<FileIdentity> Identity() const = 0;
        // True when the volume records the file as executable (a mode with an execute bit);
        // false where it records no modes at all, as on a plain ISO 9660 image.
        virtual bool IsRecordedExecutable() const { return false; }
    };

    virtual ~CVolume() = default;

    // No trailing '/', except "/" itself.
    virtual const std::string& Root() const noexcept = 0;
    // True when path is Root() or below it, without ".." components or NULs.
    bool Contains(std::string_view path) const noexcept;

    // Folders. Each returns nullptr when the folder is missing, not a folder, unreadable or
    // refused. OpenSubfolder opens name, one entry of parent; links are refused unless
    // bFollowLink. With bFollowLink, name may also be a relative path of several components,
    // of any length (never absolute, never with "..").
    virtual std::unique_ptr<CFolder> OpenFolder(const std::string& path) const = 0;
    virtual std::unique_ptr<CFolder> OpenSubfolder(const CFolder& parent, std::string_view name,
                                                   bool bFollowLink) const = 0;
    virtual std::optional<FolderInfo> GetFolderInfo(const CFolder& folder) const = 0;
    virtual std::unique_ptr<CFolderReader> NewFolderReader() const = 0;

    // True when the link at linkPath, followed to its end, names something strictly below
    // folder (a folder of this volume): the test a walk makes, with Root(), before it follows
    // a link.
    virtual bool LinkLeadsBelow(const std::string& linkPath, const std::string& folder) const = 0;

    // Resolves relative (separators '\' or '/') below folder component by component: a name
    // as written when it exists, otherwise the first entry equal to it without regard to
    // ASCII case. Empty and "." components are skipped; ".." is refused (callers resolve it
    // by name first, with CRelativePath). The full path, or nullopt when a component is
    // missing.
    virtual std::optional<std::string> ResolveNoCase(const std::string& folder,
                                                     std::string_view relative) const = 0;

    // Opens a regular file (links followed); nullptr for anything else or on failure.
    virtual std::unique_ptr<CFile> OpenFile(const std::string& path) const = 0;
    // Opens a file that a listing has just given as regular (Entry::bRegular), sparing the
    // look before opening that OpenFile takes. What stands at path by now, if not a regular
    // file (a link included), is refused once opened; a FIFO never blocks.
    virtual std::unique_ptr<CFile> OpenListedFile(const std::string& path) const
    {
        return OpenFile(path);
    }
    // The identity of the regular file at path without opening it; nullopt otherwise.
    virtual std::optional<FileIdentity> IdentityOf(const std::string& path) const = 0;
    virtual PathKind What(const std::string& path) const = 0;

    // True when the desktop cannot be handed this volume's files where they are: they are
    // copied out first (CCopyOutJob), as from a disc image.
    virtual bool MustCopyOut() const noexcept { return false; }
    // A path the desktop can open for the file at path: the path itself on a mounted folder.
    // nullopt when there is none: always when MustCopyOut(), and for a file reached through a
    // link that leaves the volume.
    virtual std::optional<std::string> RealPathForDesktop(const std::string& path) const = 0;

    // Where a volume shown from the library while its disc or image is away was last seen:
    // its listings are as catalogued, its files cannot be opened, and the window says where
    // to find them. Null for a volume that is there.
    struct Whereabouts {
        enum class EKind : unsigned char { Image, Disc, Folder };
        std::string strLabel;
        std::string strPath;
        EKind eKind = EKind::Folder;
    };
    virtual const Whereabouts* Away() const noexcept { return nullptr; }
    // The icon the library kept of the program at path, as .ico bytes, for a volume that is
    // Away(): its programs cannot be read. Null when none was kept.
    virtual std::shared_ptr<const std::vector<unsigned char>> KeptIcon(const std::string&) const
    {
        return nullptr;
    }

    // Tells what the volume holds from what a volume opened earlier at the same Root() held
    // (an image replaced under its name), so that copies of the two are kept apart. Empty
    // when the volume cannot tell.
    virtual std::string ContentKey() const { return {}; }
};

inline bool CVolume::Contains(std::string_view path) const noexcept
{
    const std::string& root = Root();
    if (path.compare(0, root.size(), root) != 0)
        return false;
    if (path.size() > root.size() && root != "/" && path[root.size()] != '/')
        return false;
    if (path.find('\0') != std::string_view::npos)
        return false;
    for (std::size_t at = path.find(".."); at != std::string_view::npos;
         at = path.find("..", at + 1)) {
        const bool bStarts = at == 0 || path[at - 1] == '/';
        const bool bEnds = at + 2 == path.size() || path[at + 2] == '/';
        if (bStarts && bEnds)
            return false;
    }
    return true;
}
