// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryAdder.h"

#include "catalogue/OpenedVolume.h"
#include "catalogue/Volume.h"
#include "library/LibraryCatalogue.h"
#include "library/LibraryStore.h"
#include "platform/OpenVolume.h"
#include "platform/PathFacts.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace {

std::int64_t Nanoseconds(const CVolume::Timestamp& time)
{
    constexpr std::int64_t kPerSecond = 1'000'000'000;
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / kPerSecond - 1;
    return std::clamp(time.nSeconds, -kLimit, kLimit) * kPerSecond + time.nNanoseconds;
}

bool IsThere(const CLibraryVolume& volume, const CPathFacts& facts)
{
    return volume.eKind == EVolumeKind::Image ? facts.eKind == CPathFacts::EKind::File
                                              : facts.eKind == CPathFacts::EKind::Folder;
}

bool SameFacts(const CLibraryVolume& volume, const CPathFacts& facts)
{
    return IsThere(volume, facts) && volume.nDevice == facts.nDevice &&
           volume.nInode == facts.nInode && volume.nSize == facts.nSize &&
           volume.nModified == Nanoseconds(facts.modified) &&
           volume.nChanged == Nanoseconds(facts.changed);
}

void TakeFacts(CLibraryVolume& volume, const CPathFacts& facts)
{
    volume.nDevice = facts.nDevice;
    volume.nInode = facts.nInode;
    volume.nSize = facts.nSize;
    volume.nModified = Nanoseconds(facts.modified);
    volume.nChanged = Nanoseconds(facts.changed);
}

std::string FailureText(const COpenedVolume& opened)
{
    using EFailure = COpenedVolume::EFailure;
    switch (opened.m_eFailure) {
    case EFailure::CannotOpen:
        return opened.m_strReason;
    case EFailure::FolderUnreadable:
        return "folder cannot be read";
    case EFailure::NotFolderOrImage:
        return "neither a folder nor a disc image";
    case EFailure::Unreadable:
        return "file cannot be read";
    case EFailure::NotAnImage:
        return "not a disc image Quarrow can read";
    case EFailure::None:
        break;
    }
    return {};
}

} // namespace

CLibraryAdder::Outcome CLibraryAdder::Add(const std::string& path)
{
    const CPathFacts facts = CPathFacts::Of(path);
    std::optional<CLibraryVolume> stored = m_store.VolumeAt(path);
    if (stored && stored->strError.empty() && SameFacts(*stored, facts))
        return {EState::Unchanged, std::move(*stored)};
    const COpenedVolume opened = OpenVolume(path);
    CLibraryVolume volume = stored.value_or(CLibraryVolume{});
    volume.strPath = path;
    TakeFacts(volume, facts);
    volume.nCatalogued = std::time(nullptr);
    if (!opened.m_pVolume) {
        volume.strError = FailureText(opened);
        volume.strLabel = NameOf(path);
        volume.eKind =
            facts.eKind == CPathFacts::EKind::Folder ? EVolumeKind::Folder : EVolumeKind::Image;
        const CLibraryContents nothing;
        m_store.Save(volume, &nothing);
        return {EState::Failed, std::move(volume)};
    }
    const CVolume& contents = *opened.m_pVolume;
    volume.strIdentity = LibraryCatalogue::Identity(contents, opened.m_bImage ? path : "");
    volume.strLabel = opened.m_strLabel.value_or(NameOf(path));
    volume.eKind = opened.m_bImage ? EVolumeKind::Image
                   : facts.bDisc   ? EVolumeKind::Disc
                                   : EVolumeKind::Folder;
    volume.strError.clear();
    if (!stored) {
        if (std::optional<CLibraryVolume> moved = MovedHere(volume.strIdentity, path)) {
            const bool bSame = moved->nSize == volume.nSize &&
                               moved->nModified == volume.nModified && moved->strError.empty();
            volume.nId = moved->nId;
            if (bSame) {
                volume.nApplications = moved->nApplications;
                volume.nFiles = moved->nFiles;
                volume.nCatalogued = moved->nCatalogued;
                m_store.Save(volume, nullptr);
                return {EState::Unchanged, std::move(volume)};
            }
        }
    }
    const CLibraryContents read = LibraryCatalogue::Read(contents);
    m_store.Save(volume, &read);
    return {EState::Added, std::move(volume)};
}

// A volume of the same identity whose path no longer holds it was moved or renamed; a copy
// beside the original is a volume of its own.
std::optional<CLibraryVolume> CLibraryAdder::MovedHere(const std::string& identity,
                                                       const std::string& path)
{
    for (CLibraryVolume& candidate : m_store.VolumesWithIdentity(identity)) {
        if (candidate.strPath == path)
            continue;
        const CPathFacts there = CPathFacts::Of(candidate.strPath);
        if (there.eKind == CPathFacts::EKind::Missing || there.nDevice != candidate.nDevice ||
            there.nInode != candidate.nInode)
            return std::move(candidate);
    }
    return std::nullopt;
}

const char* VolumeState(const CLibraryVolume& volume)
{
    if (!volume.strError.empty())
        return "failed";
    return IsThere(volume, CPathFacts::Of(volume.strPath)) ? "present" : "missing";
}

const char* KindName(EVolumeKind kind)
{
    switch (kind) {
    case EVolumeKind::Image:
        return "image";
    case EVolumeKind::Disc:
        return "disc";
    case EVolumeKind::Folder:
        break;
    }
    return "folder";
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || path == "/" ? path : path.substr(slash + 1);
}
