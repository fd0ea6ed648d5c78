// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DiscView.h"

#include "catalogue/Path.h"
#include "catalogue/Volume.h"
#include "platform/OpenVolume.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace DiscView {
namespace {

constexpr int kMountWaitMs = 2000;

std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t hash = 14695981039346656037ull)
{
    for (unsigned char c : bytes)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

std::string Hex(std::uint64_t value, int digits)
{
    char text[17];
    std::snprintf(text, sizeof text, "%0*llx", digits,
                  static_cast<unsigned long long>(value) &
                      (digits >= 16 ? ~0ull : (1ull << (4 * digits)) - 1));
    return text;
}

bool MakePrivateFolder(const std::string& path, std::string& error)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid() || (status.st_mode & 077) != 0) {
        error = path + " is not a private folder";
        return false;
    }
    return true;
}

bool StartsBelow(std::string_view path, const std::string& mountPoint)
{
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

bool LinkBelow(const std::string& link, const std::string& mountPoint)
{
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n > 0 && StartsBelow(std::string_view(target, static_cast<std::size_t>(n)), mountPoint);
}

// A zombie counts as dead: a server orphaned in a container may never be reaped.
bool ProcessAlive(pid_t pid)
{
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM))
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t end = line.rfind(')');
    return end == std::string::npos || line.compare(end, 3, ") Z") != 0;
}

void Unmount(const std::string& mountPoint)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const int hNull = ::open("/dev/null", O_RDWR);
        ::dup2(hNull, 1);
        ::dup2(hNull, 2);
        ::execlp("fusermount3", "fusermount3", "-u", "-z", "--", mountPoint.c_str(), nullptr);
        ::_exit(127);
    }
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    // Without fusermount3 (or as root) the kernel's own call does it.
    ::umount2(mountPoint.c_str(), MNT_DETACH);
}

void RemoveView(const std::string& discs, const std::string& name)
{
    const std::string mountPoint = discs + "/" + name;
    ::unlink((mountPoint + ".info").c_str());
    ::unlink((mountPoint + ".lease").c_str());
    ::rmdir(mountPoint.c_str());
}

std::string MountName(const std::string& label)
{
    std::string name;
    for (unsigned char c : label) {
        if (name.size() >= 40)
            break;
        name += std::isalnum(c) || c == '-' || c == '_' ? static_cast<char>(c) : '_';
    }
    return name.empty() || name[0] == '.' ? "disc" + name : name;
}

// A lease on the view at mountPoint, if it is still served: a server that is leaving
// unlinks the lease file before it lets go of its own lock.
std::unique_ptr<CLease> TakeLease(const std::string& mountPoint)
{
    const int hLease = ::open((mountPoint + ".lease").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (hLease < 0)
        return nullptr;
    auto lease = std::make_unique<CLease>(hLease, mountPoint);
    struct stat status {};
    if (::flock(hLease, LOCK_SH) != 0 || ::fstat(hLease, &status) != 0 || status.st_nlink == 0 ||
        !IsMounted(mountPoint))
        return nullptr;
    return lease;
}

// Starts server detached from this process (it outlives the window) and reads its answer:
// "ok" once mounted, else why not.
bool StartServer(const std::string& server, const std::string& image, const std::string& mountPoint,
                 std::string& error)
{
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    const std::string readyFd = "3";
    const char* argv[] = {server.c_str(), image.c_str(), mountPoint.c_str(), readyFd.c_str(),
                          nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls from here: the window has threads.
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        const int hNull = ::open("/dev/null", O_RDWR);
        ::dup2(hNull, 0);
        ::dup2(hNull, 1);
        ::dup2(pipeEnds[1], 3);
        ::execv(argv[0], const_cast<char* const*>(argv));
        static const char kFailed[] = "its helper program cannot be started\n";
        (void)!::write(3, kFailed, sizeof kFailed - 1);
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    if (child < 0) {
        ::close(pipeEnds[0]);
        error = std::strerror(errno);
        return false;
    }
    ::waitpid(child, nullptr, 0);
    std::string answer;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kMountWaitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{pipeEnds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[256];
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(n));
        if (answer.find('\n') != std::string::npos)
            break;
    }
    ::close(pipeEnds[0]);
    answer = answer.substr(0, answer.find('\n'));
    if (answer == "ok")
        return true;
    error = answer.empty() ? "its helper program did not answer" : answer;
    return false;
}

} // namespace

CLease::CLease(int hLease, std::string mountPoint) noexcept
    : m_hLease(hLease)
    , m_strMountPoint(std::move(mountPoint))
{}

CLease::~CLease()
{
    ::close(m_hLease);
}

std::string DiscsFolder(std::string& error)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base;
    if (runtime && runtime[0] == '/') {
        base = std::string(runtime) + "/quarrow";
    } else {
        base = "/tmp/quarrow-" + std::to_string(::getuid());
    }
    if (!MakePrivateFolder(base, error) || !MakePrivateFolder(base + "/discs", error))
        return {};
    return base + "/discs";
}

std::string IdentityOf(const CVolume& volume)
{
    return Hex(Fnv1a(volume.ContentKey(), Fnv1a(std::string(volume.Root()) + '\0')), 16);
}

std::string SerialOf(const CVolume& volume)
{
    const std::string key = volume.ContentKey();
    return Hex(Fnv1a(key.empty() ? volume.Root() : key), 8);
}

std::string LabelOf(const CVolume& volume)
{
    if (std::optional<std::string> label = AutorunLabel(volume))
        return *label;
    const std::string& root = volume.Root();
    const std::string name = root.substr(root.rfind('/') + 1);
    const std::size_t dot = name.rfind('.');
    return dot == 0 || dot == std::string::npos ? name : name.substr(0, dot);
}

std::optional<Info> ReadInfo(const std::string& infoPath)
{
    std::ifstream in(infoPath);
    Info info;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (key == "pid")
            info.nPid = static_cast<pid_t>(std::atol(value.c_str()));
        else if (key == "identity")
            info.strIdentity = value;
        else if (key == "image")
            info.strImage = value;
    }
    if (info.nPid <= 0 || info.strIdentity.empty())
        return std::nullopt;
    return info;
}

bool WriteInfo(const std::string& infoPath, const Info& info)
{
    const std::string temporary = infoPath + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "pid=" << info.nPid << "\nidentity=" << info.strIdentity
            << "\nimage=" << info.strImage << "\n";
        if (!out.flush())
            return false;
    }
    return std::rename(temporary.c_str(), infoPath.c_str()) == 0;
}

bool IsMounted(const std::string& mountPoint)
{
    struct stat below {};
    struct stat above {};
    if (::stat(mountPoint.c_str(), &below) != 0)
        return false;
    return ::stat(Path::FolderOf(mountPoint).c_str(), &above) == 0 && below.st_dev != above.st_dev;
}

bool IsInUse(const std::string& mountPoint, pid_t exceptPid)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool bInUse = false;
    const uid_t uid = ::getuid();
    while (!bInUse) {
        const dirent* entry = ::readdir(proc);
        if (!entry)
            break;
        const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
        if (pid <= 0 || pid == exceptPid)
            continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        struct stat status {};
        if (::stat(dir.c_str(), &status) != 0 || status.st_uid != uid)
            continue;
        bInUse = LinkBelow(dir + "/cwd", mountPoint);
        if (DIR* fds = bInUse ? nullptr : ::opendir((dir + "/fd").c_str())) {
            while (const dirent* fd = ::readdir(fds)) {
                if (fd->d_name[0] != '.' && LinkBelow(dir + "/fd/" + fd->d_name, mountPoint)) {
                    bInUse = true;
                    break;
                }
            }
            ::closedir(fds);
        }
        if (!bInUse) {
            std::ifstream maps(dir + "/maps");
            std::string line;
            while (!bInUse && std::getline(maps, line)) {
                const std::size_t slash = line.find(" /");
                bInUse = slash != std::string::npos &&
                         StartsBelow(std::string_view(line).substr(slash + 1), mountPoint);
            }
        }
    }
    ::closedir(proc);
    return bInUse;
}

bool IsServing(pid_t pid)
{
    return ProcessAlive(pid);
}

void RemoveStale(const std::string& discs)
{
    DIR* folder = ::opendir(discs.c_str());
    if (!folder)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view name(entry->d_name);
        if (name.size() > 5 && name.substr(name.size() - 5) == ".info")
            names.emplace_back(name.substr(0, name.size() - 5));
    }
    ::closedir(folder);
    for (const std::string& name : names) {
        const std::string mountPoint = discs + "/" + name;
        const std::optional<Info> info = ReadInfo(mountPoint + ".info");
        struct stat status {};
        const bool bStale = ::stat(mountPoint.c_str(), &status) != 0 && errno == ENOTCONN;
        if (info && ProcessAlive(info->nPid) && !bStale)
            continue;
        if (bStale || IsMounted(mountPoint))
            Unmount(mountPoint);
        RemoveView(discs, name);
    }
}

std::unique_ptr<CLease> Acquire(const CVolume& volume, const std::string& server,
                                std::string& error)
{
    struct stat image {};
    if (::stat(volume.Root().c_str(), &image) != 0 || !S_ISREG(image.st_mode))
        return nullptr;
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        error = "/dev/fuse is missing";
        return nullptr;
    }
    if (::access(server.c_str(), X_OK) != 0) {
        error = "its helper program " + server + " is missing";
        return nullptr;
    }
    const std::string discs = DiscsFolder(error);
    if (discs.empty())
        return nullptr;
    RemoveStale(discs);
    const std::string identity = IdentityOf(volume);
    if (DIR* folder = ::opendir(discs.c_str())) {
        std::vector<std::string> infos;
        while (const dirent* entry = ::readdir(folder))
            infos.emplace_back(entry->d_name);
        ::closedir(folder);
        for (const std::string& name : infos) {
            if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".info") != 0)
                continue;
            const std::string mountPoint = discs + "/" + name.substr(0, name.size() - 5);
            const std::optional<Info> info = ReadInfo(mountPoint + ".info");
            if (info && info->strIdentity == identity)
                if (std::unique_ptr<CLease> lease = TakeLease(mountPoint))
                    return lease;
        }
    }

    const std::string base = discs + "/" + MountName(LabelOf(volume));
    std::string mountPoint = base;
    for (int n = 2; ::mkdir(mountPoint.c_str(), 0700) != 0; ++n) {
        if (errno != EEXIST || n > 1000) {
            error = mountPoint + ": " + std::strerror(errno);
            return nullptr;
        }
        mountPoint = base + "-" + std::to_string(n);
    }
    const int hLease = ::open((mountPoint + ".lease").c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (hLease < 0) {
        error = mountPoint + ".lease: " + std::strerror(errno);
        ::rmdir(mountPoint.c_str());
        return nullptr;
    }
    auto lease = std::make_unique<CLease>(hLease, mountPoint);
    // Held before the server starts, so that it never sees the view unwanted.
    ::flock(hLease, LOCK_SH);
    if (!StartServer(server, volume.Root(), mountPoint, error)) {
        lease.reset();
        if (IsMounted(mountPoint))
            Unmount(mountPoint);
        RemoveView(discs, mountPoint.substr(discs.size() + 1));
        return nullptr;
    }
    return lease;
}

} // namespace DiscView
