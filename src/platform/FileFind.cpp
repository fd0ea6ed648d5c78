// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileFind.h"

#include "platform/PathAt.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// As large as glibc's readdir buffer: most folders come in one read, plus the read that
// says there is no more.
constexpr std::size_t kListingBufferSize = 32 * 1024;

// struct dirent64 is the kernel's linux_dirent64, field for field.
constexpr std::size_t kReclenAt = offsetof(struct dirent64, d_reclen);
constexpr std::size_t kTypeAt = offsetof(struct dirent64, d_type);
constexpr std::size_t kNameAt = offsetof(struct dirent64, d_name);
static_assert(kReclenAt == 16 && kTypeAt == 18 && kNameAt == 19);

char FoldAscii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

void AppendName(std::string& path, std::string_view name)
{
    if (!path.empty() && path.back() != '/')
        path.push_back('/');
    path.append(name);
}

} // namespace

CFileFind::~CFileFind()
{
    Close();
}

bool CFileFind::FindFile(int hFolder, std::string_view root, bool bBorrow)
{
    Close();
    m_strRoot.assign(root);
    m_strName.clear();
    if (hFolder < 0)
        return false;
    if (!m_pBuffer)
        m_pBuffer = std::make_unique_for_overwrite<char[]>(kListingBufferSize);
    m_hFolder = hFolder;
    m_bBorrowed = bBorrow;
    return true;
}

std::size_t CFileFind::ReadRecord(const char* buffer, std::size_t used, std::size_t pos,
                                  DirRecord& record) noexcept
{
    if (pos > used || used - pos < kNameAt + 1)
        return 0;
    const char* pRecord = buffer + pos;
    std::uint16_t length = 0;
    std::memcpy(&length, pRecord + kReclenAt, sizeof length);
    if (length < kNameAt + 1 || length > used - pos)
        return 0;
    const char* name = pRecord + kNameAt;
    const void* nul = std::memchr(name, '\0', length - kNameAt);
    if (!nul)
        return 0;
    record.type = static_cast<unsigned char>(pRecord[kTypeAt]);
    record.name = name;
    record.nameLength = static_cast<std::size_t>(static_cast<const char*>(nul) - name);
    return pos + length;
}

bool CFileFind::FindNextFile()
{
    if (m_hFolder < 0)
        return false;
    for (;;) {
        if (m_nPos >= m_nUsed) {
            if (m_bEnd)
                return false;
            ssize_t got;
            do {
                got = ::getdents64(m_hFolder, m_pBuffer.get(), kListingBufferSize);
            } while (got < 0 && errno == EINTR);
            m_nPos = 0;
            m_nUsed = got > 0 ? static_cast<std::size_t>(got) : 0;
            if (got <= 0) {
                m_bEnd = true;
                return false;
            }
        }
        DirRecord record;
        const std::size_t next = ReadRecord(m_pBuffer.get(), m_nUsed, m_nPos, record);
        if (next == 0) {
            m_nPos = m_nUsed;
            m_bEnd = true;
            return false;
        }
        m_nPos = next;
        const char* name = record.name;
        // No inode test: Linux lists no deleted entries, and some FUSE file systems give
        // real ones inode 0.
        if (name[0] == '\0')
            continue;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        m_strName.assign(name, record.nameLength);

        unsigned char type = record.type;
        if (m_options.bAssumeUnknownType)
            type = DT_UNKNOWN;
        struct stat st;
        m_bRegular = type == DT_REG;
        if (type == DT_UNKNOWN) {
            if (!StatEntry(name, st, AT_SYMLINK_NOFOLLOW))
                type = DT_REG; // gone since it was listed: a file nobody can open
            else if (S_ISDIR(st.st_mode))
                type = DT_DIR;
            else if (S_ISLNK(st.st_mode))
                type = DT_LNK;
            else
                type = DT_REG;
            m_bRegular = type == DT_REG && S_ISREG(st.st_mode);
        }
        m_bLink = type == DT_LNK;
        if (type == DT_DIR)
            m_type = EntryType::Folder;
        else if (type == DT_LNK && StatEntry(name, st, 0) && S_ISDIR(st.st_mode))
            m_type = EntryType::FolderLink;
        else
            m_type = EntryType::File;
        return true;
    }
}

int CFileFind::TakeFolder() noexcept
{
    const int hFolder = m_hFolder;
    m_hFolder = -1;
    Close();
    return hFolder;
}

void CFileFind::Close() noexcept
{
    if (m_hFolder >= 0 && !m_bBorrowed)
        ::close(m_hFolder);
    m_hFolder = -1;
    m_bBorrowed = false;
    m_nUsed = 0;
    m_nPos = 0;
    m_bEnd = false;
}

void CFileFind::SetCurrent(std::string_view root, std::string_view name)
{
    m_strRoot.assign(root);
    m_strName.assign(name);
    m_bLink = false;
    m_bRegular = false;
}

std::string CFileFind::GetFilePath() const
{
    std::string path;
    path.reserve(m_strRoot.size() + 1 + m_strName.size());
    path = m_strRoot;
    AppendName(path, m_strName);
    return path;
}

int CFileFind::OpenFolder(const std::string& path)
{
    const CPathAt at(path);
    return ::openat(at.Folder(), at.Name(), kFolderFlags);
}

int CFileFind::OpenSubfolder(int hParent, const char* name, bool bFollowLink)
{
    return ::openat(hParent, name, kFolderFlags | (bFollowLink ? 0 : O_NOFOLLOW));
}

bool CFileFind::StatEntry(const char* name, struct stat& st, int flags) const
{
    if (m_options.pStatCalls)
        m_options.pStatCalls->fetch_add(1, std::memory_order_relaxed);
    return ::fstatat(m_hFolder, name, &st, flags) == 0;
}

bool CFileFind::GetFolderId(int hFolder, CVolume::FolderId& id)
{
    struct stat st;
    if (::fstat(hFolder, &st) != 0)
        return false;
    id.nDevice = static_cast<std::uint64_t>(st.st_dev);
    id.nNode = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

void CFileFind::CloseFolder(int hFolder) noexcept
{
    if (hFolder >= 0)
        ::close(hFolder);
}

std::size_t CFileFind::MaxPathLength() noexcept
{
    return PATH_MAX - 1;
}

std::optional<std::string> CFileFind::RealPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::optional<std::string> CFileFind::ResolveNoCase(const std::string& folder,
                                                    std::string_view relative)
{
    std::vector<std::string_view> components;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = relative.size();
        const std::string_view component = relative.substr(start, end - start);
        if (component == "..")
            return std::nullopt;
        if (component.find('\0') != std::string_view::npos)
            return std::nullopt;
        if (!component.empty() && component != ".")
            components.push_back(component);
        start = end + 1;
    }

    int hFolder = OpenFolder(folder);
    if (hFolder < 0)
        return std::nullopt;
    std::string path = folder;
    std::string name;
    for (std::size_t i = 0; i < components.size(); ++i) {
        const bool bLast = i + 1 == components.size();
        name.assign(components[i]);
        int hChild = -1;
        bool bFound = false;
        if (bLast) {
            struct stat st;
            bFound = ::fstatat(hFolder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        } else {
            hChild = OpenSubfolder(hFolder, name.c_str(), true);
            bFound = hChild >= 0;
        }
        if (!bFound) {
            CFileFind finder;
            finder.FindFile(hFolder, path);
            while (finder.FindNextFile()) {
                if ((bLast || finder.IsFolder()) &&
                    EqualsNoCase(finder.GetFileName(), components[i])) {
                    name = finder.GetFileName();
                    bFound = true;
                    break;
                }
            }
            hFolder = finder.TakeFolder();
            if (bFound && !bLast) {
                hChild = OpenSubfolder(hFolder, name.c_str(), true);
                bFound = hChild >= 0;
            }
        }
        CloseFolder(hFolder);
        hFolder = hChild;
        if (!bFound)
            return std::nullopt;
        AppendName(path, name);
    }
    CloseFolder(hFolder);
    return path;
}
