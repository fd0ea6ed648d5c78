// SPDX-License-Identifier: GPL-3.0-or-later
#include "DriveWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path)
{
    throw std::runtime_error(std::string(what) + " failed (errno " + std::to_string(errno) +
                             "): " + path);
}

void WriteAll(int fd, std::string_view content, const std::string& path)
{
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("write", path);
        content.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace

CDriveWriter::CFd::~CFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

CDriveWriter::CFd::CFd(CFd&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{}

CDriveWriter::CFd& CDriveWriter::CFd::operator=(CFd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

CDriveWriter::CDriveWriter(std::string root)
    : m_strRoot(std::move(root))
{}

std::string CDriveWriter::Path(std::string_view relative) const
{
    return m_strRoot + "/" + std::string(relative);
}

std::string CDriveWriter::MakeParents(std::string_view relative)
{
    const std::size_t slash = relative.rfind('/');
    if (slash != std::string_view::npos)
        MakeFolder(relative.substr(0, slash));
    return Path(relative);
}

std::string CDriveWriter::MakeFolder(std::string_view relative)
{
    // One mkdir a level, so that every new folder gets 0755 whatever was asked before.
    std::string path;
    for (std::size_t start = 0; start <= relative.size();) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        path = Path(relative.substr(0, end));
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
            Fail("mkdir", path);
        start = end + 1;
    }
    return path;
}

std::string CDriveWriter::WriteFile(std::string_view relative, std::string_view content)
{
    const std::string path = MakeParents(relative);
    const CFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0)
        Fail("create", path);
    WriteAll(fd.Get(), content, path);
    return path;
}

std::string CDriveWriter::MakeLink(std::string_view relative, const std::string& target)
{
    const std::string path = MakeParents(relative);
    if (::symlink(target.c_str(), path.c_str()) != 0)
        Fail("symlink", path);
    return path;
}

std::string CDriveWriter::MakeFifo(std::string_view relative)
{
    const std::string path = MakeParents(relative);
    if (::mkfifo(path.c_str(), 0644) != 0)
        Fail("mkfifo", path);
    return path;
}

std::string CDriveWriter::MakeSocket(std::string_view relative)
{
    const std::string path = MakeParents(relative);
    if (!FitsSocket(path)) {
        errno = ENAMETOOLONG;
        Fail("bind", path);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    // Only the name stays: closing the socket leaves it on the drive.
    const CFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0 ||
        ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        Fail("bind", path);
    return path;
}

void CDriveWriter::SetMode(std::string_view relative, unsigned mode)
{
    if (::chmod(Path(relative).c_str(), static_cast<mode_t>(mode)) != 0)
        Fail("chmod", Path(relative));
}

bool CDriveWriter::FitsSocket(std::string_view path) noexcept
{
    return path.size() < sizeof(sockaddr_un::sun_path);
}

CDriveWriter::CFd CDriveWriter::OpenFolder(const std::string& path)
{
    CFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0)
        Fail("open", path);
    return fd;
}

CDriveWriter::CFd CDriveWriter::MakeFolderAt(int folder, const std::string& name)
{
    if (::mkdirat(folder, name.c_str(), 0755) != 0)
        Fail("mkdirat", name);
    CFd fd(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0)
        Fail("openat", name);
    return fd;
}

void CDriveWriter::WriteFileAt(int folder, const std::string& name, std::string_view content)
{
    if (content.empty()) {
        // One call instead of open and close: most files of a large drive are empty.
        if (::mknodat(folder, name.c_str(), S_IFREG | 0644, 0) != 0)
            Fail("create", name);
        return;
    }
    const CFd fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (fd.Get() < 0)
        Fail("create", name);
    WriteAll(fd.Get(), content, name);
}
