// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PathFacts.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <system_error>

namespace {

constexpr long kIso9660Magic = 0x9660;
constexpr long kUdfMagic = 0x15013346;

} // namespace

CPathFacts CPathFacts::Of(const std::string& path)
{
    CPathFacts facts;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        facts.strReason = std::generic_category().message(errno);
        return facts;
    }
    if (S_ISDIR(status.st_mode))
        facts.eKind = EKind::Folder;
    else if (S_ISREG(status.st_mode))
        facts.eKind = EKind::File;
    else
        facts.eKind = EKind::Other;
    facts.nDevice = status.st_dev;
    facts.nInode = status.st_ino;
    facts.nSize = static_cast<std::uint64_t>(status.st_size);
    facts.modified = {status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
    facts.changed = {status.st_ctim.tv_sec, status.st_ctim.tv_nsec};
    struct statfs fs {};
    if (facts.eKind == EKind::Folder && ::statfs(path.c_str(), &fs) == 0)
        facts.bDisc = fs.f_type == kIso9660Magic || fs.f_type == kUdfMagic;
    return facts;
}
