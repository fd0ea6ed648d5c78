// SPDX-License-Identifier: GPL-3.0-or-later
#include "TempTree.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string MakeTempRoot()
{
    std::string pattern = (fs::temp_directory_path() / "quarrow-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    ::chmod(pattern.c_str(), 0755);
    return pattern;
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
    : CDriveWriter(MakeTempRoot())
{}

CTempTree::~CTempTree()
{
    // A deep tree may fail to restore on the first pass; unreadable folders block removal.
    for (int pass = 0; pass < 2; ++pass) {
        RestorePermissions(Root());
        std::error_code ec;
        fs::remove_all(Root(), ec);
        if (!ec)
            return;
    }
    // Too deep for the library's recursion: fall back to rm.
    const std::string cmd = "rm -rf '" + Root() + "'";
    [[maybe_unused]] int rc = std::system(cmd.c_str());
}
