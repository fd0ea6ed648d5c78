// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PathAt.h"

#include <climits>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

constexpr int kStepFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Opens folder in steps shorter than PATH_MAX, each cut at a '/'; -1 when a step fails.
int OpenInSteps(std::string_view folder)
{
    int hFolder = AT_FDCWD;
    while (!folder.empty()) {
        std::size_t cut = folder.size();
        if (cut >= PATH_MAX)
            cut = folder.rfind('/', PATH_MAX - 1);
        const int hNext =
            cut == std::string_view::npos || cut == 0
                ? -1
                : ::openat(hFolder, std::string(folder.substr(0, cut)).c_str(), kStepFlags);
        if (hFolder != AT_FDCWD)
            ::close(hFolder);
        if (hNext < 0)
            return -1;
        hFolder = hNext;
        folder.remove_prefix(cut < folder.size() ? cut + 1 : folder.size());
    }
    return hFolder;
}

} // namespace

CPathAt::CPathAt(const std::string& path)
    : m_hFolder(AT_FDCWD)
{
    if (path.size() < PATH_MAX) {
        m_strName = path;
        return;
    }
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        m_hFolder = -1;
        return;
    }
    m_strName = path.substr(slash + 1);
    m_hFolder = OpenInSteps(std::string_view(path).substr(0, slash == 0 ? 1 : slash));
}

CPathAt::~CPathAt()
{
    if (m_hFolder >= 0)
        ::close(m_hFolder);
}
