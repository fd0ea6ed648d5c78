#include "platform/FileFind.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<bool> s_bAssumeUnknownType{false};
std::atomic<std::uint64_t> s_statCalls{0};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

bool StatEntry(int hFolder, const char* name, struct stat& st, int flags)
{
    s_statCalls.fetch_add(1, std::memory_order_relaxed);
    return ::fstatat(hFolder, name, &st, flags) == 0;
}

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

bool CFileFind::FindFile(int hFolder, std::string_view root)
{
    Close();
    m_strRoot.assign(root);
    m_strName.clear();
    if (hFolder < 0)
        return false;
    DIR* pDir = ::fdopendir(hFolder);
    if (!pDir) {
        ::close(hFolder);
        return false;
    }
    m_pDir = pDir;
    return true;
}

bool CFileFind::FindNextFile()
{
    DIR* pDir = static_cast<DIR*>(m_pDir);
    if (!pDir)
        return false;
    for (;;) {
        const dirent* pEntry = ::readdir(pDir);
        if (!pEntry)
            return false;
        const char* name = pEntry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        m_strName.assign(name);

        unsigned char type = pEntry->d_type;
        if (s_bAssumeUnknownType.load(std::memory_order_relaxed))
            type = DT_UNKNOWN;
        const int hFolder = ::dirfd(pDir);
        struct stat st;
        if (type == DT_UNKNOWN) {
            if (!StatEntry(hFolder, name, st, AT_SYMLINK_NOFOLLOW))
                type = DT_REG; // gone since it was listed: a file nobody can open
            else if (S_ISDIR(st.st_mode))
                type = DT_DIR;
            else if (S_ISLNK(st.st_mode))
                type = DT_LNK;
            else
                type = DT_REG;
        }
        if (type == DT_DIR)
            m_type = EntryType::Folder;
        else if (type == DT_LNK && StatEntry(hFolder, name, st, 0) && S_ISDIR(st.st_mode))
            m_type = EntryType::FolderLink;
        else
            m_type = EntryType::File;
        return true;
    }
}

int CFileFind::DupFolder() const
{
    if (!m_pDir)
        return -1;
    return ::fcntl(::dirfd(static_cast<DIR*>(m_pDir)), F_DUPFD_CLOEXEC, 0);
}

void CFileFind::Close()
{
    if (m_pDir) {
        ::closedir(static_cast<DIR*>(m_pDir));
        m_pDir = nullptr;
    }
}

void CFileFind::SetCurrent(std::string_view root, std::string_view name)
{
    m_strRoot.assign(root);
    m_strName.assign(name);
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
    return ::open(path.c_str(), kFolderFlags);
}

int CFileFind::OpenSubfolder(int hParent, const char* name, bool bFollowLink)
{
    return ::openat(hParent, name, kFolderFlags | (bFollowLink ? 0 : O_NOFOLLOW));
}

bool CFileFind::GetFolderId(int hFolder, FolderId& id)
{
    struct stat st;
    if (::fstat(hFolder, &st) != 0)
        return false;
    id.dev = static_cast<std::uint64_t>(st.st_dev);
    id.ino = static_cast<std::uint64_t>(st.st_ino);
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
            if (finder.FindFile(::fcntl(hFolder, F_DUPFD_CLOEXEC, 0), path)) {
                while (finder.FindNextFile()) {
                    if ((bLast || finder.IsFolder()) &&
                        EqualsNoCase(finder.GetFileName(), components[i])) {
                        name = finder.GetFileName();
                        bFound = true;
                        break;
                    }
                }
            }
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

void CFileFind::SetAssumeUnknownType(bool assume) noexcept
{
    s_bAssumeUnknownType.store(assume, std::memory_order_relaxed);
}

std::uint64_t CFileFind::StatCallCount() noexcept
{
    return s_statCalls.load(std::memory_order_relaxed);
}
