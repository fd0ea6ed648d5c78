// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ExtractCache.h"

#include "catalogue/CopyOutJob.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

namespace {

constexpr const char* kLockSuffix = ".lock";
constexpr int kLockSuffixSize = 5;

std::string ErrorText(int errnum)
{
    return std::strerror(errnum);
}

CCopyTarget::Result ResultOf(int errnum)
{
    return errnum == ENOSPC || errnum == EDQUOT ? CCopyTarget::Result::NoSpace
                                                : CCopyTarget::Result::Failed;
}

// Makes path, and the folders above it, 0700 when missing.
bool MakeFolders(const std::string& path)
{
    std::size_t at = 1;
    while (true) {
        at = path.find('/', at);
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            return true;
        ++at;
    }
}

std::string CacheHome()
{
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* entry = ::getpwuid(::getuid());
        home = entry ? entry->pw_dir : nullptr;
    }
    return home ? std::string(home) + "/.cache" : std::string();
}

bool HoldsLockOn(int fd, const std::string& path)
{
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Writes one file below a temporary name beside its real one.
class CExtractSink final : public CCopyTarget::CSink {
public:
    CExtractSink(int fd, std::string temporary, std::string final, std::string& lastError)
        : m_hFile(fd)
        , m_strTemporary(std::move(temporary))
        , m_strFinal(std::move(final))
        , m_strLastError(lastError)
    {}
    ~CExtractSink() override
    {
        if (m_hFile >= 0)
            ::close(m_hFile);
        if (!m_bCommitted)
            ::unlink(m_strTemporary.c_str());
    }

    CCopyTarget::Result Write(const void* data, std::size_t size) override
    {
        const char* at = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t written = ::write(m_hFile, at, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return Fail(written < 0 ? errno : ENOSPC);
            at += written;
            size -= static_cast<std::size_t>(written);
        }
        return CCopyTarget::Result::Ok;
    }

    CCopyTarget::Result Commit(bool bExecutable) override
    {
        if (::fchmod(m_hFile, bExecutable ? 0555 : 0444) != 0)
            return Fail(errno);
        const int fd = std::exchange(m_hFile, -1);
        // Some file systems tell of a full disk only when the file is closed.
        if (::close(fd) != 0 && errno != EINTR)
            return Fail(errno);
        if (::rename(m_strTemporary.c_str(), m_strFinal.c_str()) != 0)
            return Fail(errno);
        m_bCommitted = true;
        return CCopyTarget::Result::Ok;
    }

private:
    CCopyTarget::Result Fail(int errnum)
    {
        m_strLastError = ErrorText(errnum);
        return ResultOf(errnum);
    }

    int m_hFile;
    std::string m_strTemporary;
    std::string m_strFinal;
    std::string& m_strLastError; // the target's, which outlives its sinks
    bool m_bCommitted = false;
};

class CExtractTarget final : public CCopyTarget {
public:
    explicit CExtractTarget(std::string root)
        : m_strRoot(std::move(root))
    {}
    ~CExtractTarget() override { Seal(); }

    Result MakeFolder(const std::string& relative) override
    {
        std::string path = m_strRoot;
        std::size_t at = 0;
        while (true) {
            // Each folder on the way must take new entries until Seal.
            if (::mkdir(path.c_str(), 0700) == 0) {
                m_setOpened.insert(path);
            } else if (errno == EEXIST) {
                struct stat status {};
                if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
                    return Fail(ENOTDIR);
                if ((status.st_mode & S_IWUSR) == 0) {
                    if (::chmod(path.c_str(), 0700) != 0)
                        return Fail(errno);
                    m_setOpened.insert(path);
                }
            } else {
                return Fail(errno);
            }
            if (at >= relative.size())
                return Result::Ok;
            const std::size_t end = std::min(relative.find('/', at), relative.size());
            path += '/';
            path.append(relative, at, end - at);
            at = end + 1;
        }
    }

    bool HasFile(const std::string& relative, std::uint64_t size) const override
    {
        struct stat status {};
        return ::lstat(RealPath(relative).c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
               static_cast<std::uint64_t>(status.st_size) == size;
    }

    std::unique_ptr<CSink> CreateFile(const std::string& relative, Result& result) override
    {
        std::string final = RealPath(relative);
        const std::size_t slash = final.rfind('/');
        std::string temporary = final.substr(0, slash) + "/.quarrow-XXXXXX";
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) {
            result = Fail(errno);
            return nullptr;
        }
        result = Result::Ok;
        return std::make_unique<CExtractSink>(fd, std::move(temporary), std::move(final),
                                              m_strLastError);
    }

    void Seal() override
    {
        for (const std::string& folder : m_setOpened)
            ::chmod(folder.c_str(), 0555);
        m_setOpened.clear();
    }

    std::string RealPath(const std::string& relative) const override
    {
        return relative.empty() ? m_strRoot : m_strRoot + '/' + relative;
    }

    std::string LastError() const override { return m_strLastError; }

private:
    Result Fail(int errnum)
    {
        m_strLastError = ErrorText(errnum);
        return ResultOf(errnum);
    }

    std::string m_strRoot;
    std::set<std::string> m_setOpened;
    std::string m_strLastError;
};

} // namespace

std::string CExtractCache::BaseFolder(std::string& error)
{
    const std::string home = CacheHome();
    if (home.empty()) {
        error = "no home folder";
        return {};
    }
    const std::string base = home + "/quarrow";
    if (!MakeFolders(base)) {
        error = base + ": " + ErrorText(errno);
        return {};
    }
    struct stat status {};
    if (::lstat(base.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid()) {
        error = base + ": not a folder of this user";
        return {};
    }
    if ((status.st_mode & 077) != 0 && ::chmod(base.c_str(), 0700) != 0) {
        error = base + ": " + ErrorText(errno);
        return {};
    }
    return base;
}

void CExtractCache::RemoveStale()
{
    std::string error;
    const std::string base = BaseFolder(error);
    if (base.empty())
        return;
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(base.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::strncmp(entry->d_name, "run-", 4) == 0)
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    for (const std::string& name : names) {
        const std::string path = base + '/' + name;
        if (!name.ends_with(kLockSuffix)) {
            // The lock file comes first and goes last: a folder without one is left over.
            struct stat status {};
            if (::lstat((path + kLockSuffix).c_str(), &status) != 0 && errno == ENOENT)
                RemoveTree(path);
            continue;
        }
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && HoldsLockOn(fd, path)) {
            if (RemoveTree(path.substr(0, path.size() - kLockSuffixSize)))
                ::unlink(path.c_str());
        }
        ::close(fd);
    }
}

std::unique_ptr<CExtractCache> CExtractCache::Create(std::string& error)
{
    const std::string base = BaseFolder(error);
    if (base.empty())
        return nullptr;
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::string lockFile =
            base + "/run-" + std::to_string(::getpid()) + "-XXXXXX" + kLockSuffix;
        const int fd = ::mkostemps(lockFile.data(), kLockSuffixSize, O_CLOEXEC);
        if (fd < 0) {
            error = base + ": " + ErrorText(errno);
            return nullptr;
        }
        // A remover that saw the file before it was locked may have taken it away.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !HoldsLockOn(fd, lockFile)) {
            ::close(fd);
            continue;
        }
        std::string folder = lockFile.substr(0, lockFile.size() - kLockSuffixSize);
        if (::mkdir(folder.c_str(), 0700) != 0) {
            error = folder + ": " + ErrorText(errno);
            ::unlink(lockFile.c_str());
            ::close(fd);
            return nullptr;
        }
        return std::unique_ptr<CExtractCache>(
            new CExtractCache(std::move(folder), std::move(lockFile), fd));
    }
    error = base + ": no run folder could be locked";
    return nullptr;
}

CExtractCache::CExtractCache(std::string runFolder, std::string lockFile, int lockFd)
    : m_strRunFolder(std::move(runFolder))
    , m_strLockFile(std::move(lockFile))
    , m_hLock(lockFd)
{}

CExtractCache::~CExtractCache()
{
    if (RemoveTree(m_strRunFolder))
        ::unlink(m_strLockFile.c_str());
    ::close(m_hLock);
}

std::string CExtractCache::ImageFolder(const std::string& imagePath,
                                       const std::string& contentKey) const
{
    // FNV-1a: images of the same name in different folders get folders of their own.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const unsigned char c : imagePath + '\0' + contentKey)
        hash = (hash ^ c) * 1099511628211ULL;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    std::string name = imagePath.substr(imagePath.rfind('/') + 1, 100);
    return m_strRunFolder + '/' + name + '-' + hex;
}

std::shared_ptr<CCopyTarget> CExtractCache::Target(const std::string& imagePath,
                                                   const std::string& contentKey) const
{
    return std::make_shared<CExtractTarget>(ImageFolder(imagePath, contentKey));
}

bool CExtractCache::RemoveTree(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (error)
        return error == std::errc::no_such_file_or_directory;
    if (fs::is_directory(status)) {
        // Copies are read only, their folders too: a folder must be writable to be emptied.
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
        for (fs::recursive_directory_iterator it(path, error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_directory(error) && !it->is_symlink(error))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
            error.clear();
        }
    }
    error.clear();
    fs::remove_all(path, error);
    return !error;
}
