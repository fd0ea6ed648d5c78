// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/Shell.h"

// No Qt header may come into this file: gio.h uses Qt's keywords ("signals") as names.
#include <gio/gio.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Shell {
namespace {

// GIO never reads more than this to tell a type by content.
constexpr std::size_t kSniffBytes = 4096;

struct CGObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <class T>
using CGObjectPtr = std::unique_ptr<T, CGObjectUnref>;

struct CGFree {
    void operator()(gpointer p) const { g_free(p); }
};
using CGStringPtr = std::unique_ptr<gchar, CGFree>;

// The first bytes of a regular file.
struct CFileHead {
    bool m_bRead = false;
    std::size_t m_nSize = 0;
    char m_achData[kSniffBytes];
};

bool IsOpenVerb(const char* verb)
{
    return verb == nullptr || *verb == '\0' || g_ascii_strcasecmp(verb, "open") == 0;
}

std::string CurrentFolder()
{
    std::string folder(256, '\0');
    while (::getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        folder.resize(folder.size() * 2);
    }
    folder.resize(std::strlen(folder.c_str()));
    return folder;
}

// Empty when the current folder is needed and gone.
std::string Absolute(const std::string& path, const std::string& base)
{
    if (path.front() == '/')
        return path;
    const std::string folder = base.empty() ? CurrentFolder() : base;
    if (folder.empty())
        return {};
    return folder.back() == '/' ? folder + path : folder + '/' + path;
}

std::string FolderOf(const std::string& absolutePath)
{
    const std::size_t slash = absolutePath.find_last_of('/');
    return slash == 0 ? std::string("/") : absolutePath.substr(0, slash);
}

int ResultForMissing(int errnum)
{
    switch (errnum) {
    case ENOTDIR:
        return kErrPathNotFound;
    case EACCES:
    case EPERM:
        return kErrAccessDenied;
    case ENOMEM:
        return kErrOutOfResources;
    default:
        return kErrFileNotFound;
    }
}

// O_NONBLOCK and the fstat keep a file swapped for a FIFO since our stat from blocking us.
CFileHead ReadHead(const std::string& path)
{
    CFileHead head;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return head;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        head.m_bRead = true;
        while (head.m_nSize < kSniffBytes) {
            const ssize_t n = ::read(fd, head.m_achData + head.m_nSize, kSniffBytes - head.m_nSize);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            head.m_nSize += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return head;
}

bool StartsWith(const CFileHead& head, const char* magic, std::size_t length)
{
    return head.m_nSize >= length && std::memcmp(head.m_achData, magic, length) == 0;
}

// A name that gives the file a type which is not a program's (notes.txt, manual.pdf) makes
// it a document whatever its bytes and mode say: a disc must not run what it calls a document.
// Names without a known type (setup, x.bin) leave the decision to the bytes.
bool NameGivesDocumentType(const std::string& path)
{
    const CGStringPtr type(g_content_type_guess(path.c_str(), nullptr, 0, nullptr));
    if (!type || g_content_type_is_unknown(type.get()))
        return false;
    return !g_content_type_is_a(type.get(), "application/x-executable") &&
           !g_content_type_is_a(type.get(), "application/x-sharedlib");
}

// A text file with the execute bit is a document, as it would be on Windows. A file we may
// execute but not read is run all the same: the kernel decides. access() refuses every file on
// a disc mounted noexec; those count as programs here so that running them reports the refusal.
bool IsProgram(const std::string& path, const struct stat& st, const CFileHead& head)
{
    if (!S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0 || NameGivesDocumentType(path))
        return false;
    if (head.m_bRead && !StartsWith(head, "\177ELF", 4) && !StartsWith(head, "#!", 2))
        return false;
    if (::access(path.c_str(), X_OK) == 0)
        return true;
    struct statvfs fs {};
    return ::statvfs(path.c_str(), &fs) == 0 && (fs.f_flag & ST_NOEXEC) != 0;
}

// Reaps the program when it ends, so that it never lingers as a zombie.
void ReapLater(pid_t pid)
{
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // Out of threads: the program runs all the same and is reaped when we exit.
    }
}

class CSpawnSetup {
public:
    CSpawnSetup()
    {
        m_bActions = ::posix_spawn_file_actions_init(&m_actions) == 0;
        m_bAttributes = ::posix_spawnattr_init(&m_attributes) == 0;
    }
    ~CSpawnSetup()
    {
        if (m_bActions)
            ::posix_spawn_file_actions_destroy(&m_actions);
        if (m_bAttributes)
            ::posix_spawnattr_destroy(&m_attributes);
    }
    CSpawnSetup(const CSpawnSetup&) = delete;
    CSpawnSetup& operator=(const CSpawnSetup&) = delete;

    // The program gets its own session, default signal handling and no descriptor of ours but
    // stdout and stderr: it must not read the terminal we were started from.
    bool Prepare(const std::string& folder)
    {
        if (!m_bActions || !m_bAttributes)
            return false;
        sigset_t all;
        sigset_t none;
        ::sigfillset(&all);
        ::sigemptyset(&none);
        bool bOk = ::posix_spawn_file_actions_addchdir_np(&m_actions, folder.c_str()) == 0 &&
                   ::posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null",
                                                      O_RDONLY, 0) == 0 &&
                   ::posix_spawnattr_setsigdefault(&m_attributes, &all) == 0 &&
                   ::posix_spawnattr_setsigmask(&m_attributes, &none) == 0 &&
                   ::posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGDEF |
                                                                 POSIX_SPAWN_SETSIGMASK |
                                                                 POSIX_SPAWN_SETSID) == 0;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        bOk = bOk && ::posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1) == 0;
#endif
        return bOk;
    }

    const posix_spawn_file_actions_t* Actions() const
    {
        return &m_actions;
    }
    const posix_spawnattr_t* Attributes() const
    {
        return &m_attributes;
    }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
    bool m_bActions = false;
    bool m_bAttributes = false;
};

// posix_spawn, unlike execvp and g_spawn, never hands a file that the kernel refuses
// (ENOEXEC) to /bin/sh as a script.
int StartProgram(const std::string& file, const std::string& folder)
{
    CSpawnSetup setup;
    if (!setup.Prepare(folder))
        return kErrOutOfResources;
    std::string argument0 = file;
    char* argv[] = {argument0.data(), nullptr};
    pid_t pid = 0;
    const int error =
        ::posix_spawn(&pid, file.c_str(), setup.Actions(), setup.Attributes(), argv, environ);
    if (error != 0)
        return ResultForExecError(error);
    ReapLater(pid);
    return kAccepted;
}

std::string ContentType(const std::string& path, const struct stat& st, const CFileHead& head)
{
    if (S_ISDIR(st.st_mode))
        return "inode/directory";
    if (S_ISFIFO(st.st_mode))
        return "inode/fifo";
    if (S_ISSOCK(st.st_mode))
        return "inode/socket";
    if (S_ISCHR(st.st_mode))
        return "inode/chardevice";
    if (S_ISBLK(st.st_mode))
        return "inode/blockdevice";
    // No bytes at all: the name alone decides, so an empty notes.txt still opens in an editor.
    const CGStringPtr type(g_content_type_guess(
        path.c_str(), head.m_nSize > 0 ? reinterpret_cast<const guchar*>(head.m_achData) : nullptr,
        head.m_nSize, nullptr));
    return type ? std::string(type.get()) : std::string("application/octet-stream");
}

int LaunchDefault(const std::string& path, const std::string& contentType)
{
    const CGObjectPtr<GAppInfo> app(g_app_info_get_default_for_type(contentType.c_str(), FALSE));
    if (!app)
        return kErrNoAssoc;
    // A URI carries every byte of the name; the application never sees it through a shell.
    const CGStringPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    if (!uri)
        return kErrFileNotFound;
    const CGObjectPtr<GAppLaunchContext> context(g_app_launch_context_new());
    GList uris{};
    uris.data = uri.get();
    GError* pError = nullptr;
    if (g_app_info_launch_uris(app.get(), &uris, context.get(), &pError))
        return kAccepted;
    g_clear_error(&pError);
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? kErrAssocIncomplete : kErrFileNotFound;
}

} // namespace

int ResultForExecError(int errnum)
{
    switch (errnum) {
    case EACCES:
    case EPERM:
        return kErrAccessDenied;
    case ENOEXEC:
    case ELIBBAD:
    case EINVAL:
    case EISDIR:
        return kErrBadFormat;
    case ENOENT:
    case ENAMETOOLONG:
    case ELOOP:
        return kErrFileNotFound;
    case ENOTDIR:
        return kErrPathNotFound;
    case ETXTBSY:
        return kErrShare;
    case ENOMEM:
    case EAGAIN:
    case E2BIG:
    case EMFILE:
    case ENFILE:
        return kErrOutOfResources;
    default:
        return kErrAccessDenied;
    }
}

int Execute(const std::string& path, const char* verb, const std::string& workingFolder)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return kErrFileNotFound;
    if (workingFolder.find('\0') != std::string::npos)
        return kErrPathNotFound;

    std::string folder;
    if (!workingFolder.empty()) {
        folder = Absolute(workingFolder, {});
        struct stat st {};
        if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return kErrPathNotFound;
    }
    const std::string file = Absolute(path, folder);
    if (file.empty())
        return kErrFileNotFound;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return ResultForMissing(errno);
    if (!IsOpenVerb(verb))
        return kErrNoAssoc;

    // Only regular files are read, so that a FIFO or device never blocks us.
    const CFileHead head = S_ISREG(st.st_mode) ? ReadHead(file) : CFileHead{};
    if (IsProgram(file, st, head))
        return StartProgram(file, folder.empty() ? FolderOf(file) : folder);
    return LaunchDefault(file, ContentType(file, st, head));
}

} // namespace Shell
