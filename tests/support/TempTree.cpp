#include "TempTree.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void MakeParents(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
}

void RestorePermissions(const fs::path& root)
{
    std::error_code ec;
    ::chmod(root.c_str(), 0755);
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        if (it->is_directory(ec) && !it->is_symlink(ec))
            ::chmod(it->path().c_str(), 0755);
    }
}

} // namespace

CTempTree::CTempTree()
{
    std::string pattern = (fs::temp_directory_path() / "quarrow-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    ::chmod(pattern.c_str(), 0755);
    m_strRoot = pattern;
}

CTempTree::~CTempTree()
{
    // A deep tree may fail to restore on the first pass; unreadable folders block removal.
    for (int pass = 0; pass < 2; ++pass) {
        RestorePermissions(m_strRoot);
        std::error_code ec;
        fs::remove_all(m_strRoot, ec);
        if (!ec)
            return;
    }
    // Too deep for the library's recursion: fall back to rm.
    const std::string cmd = "rm -rf '" + m_strRoot + "'";
    [[maybe_unused]] int rc = std::system(cmd.c_str());
}

std::string CTempTree::Path(std::string_view relative) const
{
    return m_strRoot + "/" + std::string(relative);
}

std::string CTempTree::MakeFolder(std::string_view relative)
{
    const std::string path = Path(relative);
    fs::create_directories(path);
    return path;
}

std::string CTempTree::WriteFile(std::string_view relative, std::string_view content)
{
    const std::string path = Path(relative);
    MakeParents(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

std::string CTempTree::MakeLink(std::string_view relative, const std::string& target)
{
    const std::string path = Path(relative);
    MakeParents(path);
    if (::symlink(target.c_str(), path.c_str()) != 0)
        throw std::runtime_error("symlink failed: " + path);
    return path;
}

std::string CTempTree::MakeFifo(std::string_view relative)
{
    const std::string path = Path(relative);
    MakeParents(path);
    if (::mkfifo(path.c_str(), 0644) != 0)
        throw std::runtime_error("mkfifo failed: " + path);
    return path;
}

std::string CTempTree::MakeSocket(std::string_view relative)
{
    const std::string path = Path(relative);
    MakeParents(path);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path))
        throw std::runtime_error("socket path too long: " + path);
    path.copy(addr.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        throw std::runtime_error("socket bind failed: " + path);
    return path;
}

void CTempTree::SetMode(std::string_view relative, unsigned mode)
{
    ::chmod(Path(relative).c_str(), mode);
}
