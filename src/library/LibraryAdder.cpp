// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryAdder.h"

#include "catalogue/OpenedVolume.h"
#include "catalogue/Volume.h"
#include "library/LibraryCatalogue.h"
#include "library/LibraryStore.h"
#include "library/ReadAhead.h"
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
    return Commit(Prepare(path, m_store));
}

CLibraryAdder::Prepared CLibraryAdder::Prepare(const std::string& path, CLibraryStore& lookups)
{
    const CPathFacts facts = CPathFacts::Of(path);
    std::optional<CLibraryVolume> stored = lookups.VolumeAt(path);
    if (stored && stored->strError.empty() && SameFacts(*stored, facts))
        return {{EState::Unchanged, std::move(*stored)}, std::nullopt, std::nullopt, false};
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
        return {{EState::Failed, std::move(volume)}, CLibraryContents{}, std::nullopt, true};
    }
    const CVolume& contents = *opened.m_pVolume;
    volume.strIdentity = LibraryCatalogue::Identity(contents, opened.m_bImage ? path : "");
    volume.strLabel = opened.m_strLabel.value_or(NameOf(path));
    volume.eKind = opened.m_bImage ? EVolumeKind::Image
                   : facts.bDisc   ? EVolumeKind::Disc
                                   : EVolumeKind::Folder;
    volume.strError.clear();
    if (!stored) {
        if (std::optional<CLibraryVolume> moved = MovedHere(lookups, volume.strIdentity, path)) {
            const bool bSame = moved->nSize == volume.nSize &&
                               moved->nModified == volume.nModified && moved->strError.empty();
            volume.nId = moved->nId;
            if (bSame) {
                volume.nApplications = moved->nApplications;
                volume.nFiles = moved->nFiles;
                volume.nCatalogued = moved->nCatalogued;
                return {{EState::Unchanged, std::move(volume)}, std::nullopt, std::nullopt, true};
            }
        }
    }
    Prepared prepared{
        {EState::Added, std::move(volume)}, LibraryCatalogue::Read(contents), std::nullopt, true};
    prepared.keys = CLibraryStore::KeysOf(*prepared.contents);
    return prepared;
}

CLibraryAdder::Outcome CLibraryAdder::Commit(Prepared prepared)
{
    if (prepared.bSave)
        m_store.Save(prepared.outcome.volume, prepared.contents ? &*prepared.contents : nullptr,
                     prepared.keys ? &*prepared.keys : nullptr);
    return std::move(prepared.outcome);
}

void CLibraryAdder::AddAll(const std::vector<std::string>& paths, const Hooks& hooks)
{
    CLibraryStore lookups;
    if (paths.size() < 2 || !lookups.OpenForLookups(m_store)) {
        for (std::size_t i = 0; i < paths.size() && !hooks.stopRequested(); ++i) {
            hooks.onStart(i);
            hooks.onOutcome(Add(paths[i]));
        }
        return;
    }
    CReadAhead<Prepared> ahead(paths.size(), [&](std::size_t i) {
        // Most of the journal is copied into the store here, so that the writer's own
        // copying, which lets the journal start over, has little left to do.
        lookups.Checkpoint();
        return Prepare(paths[i], lookups);
    });
    for (std::size_t i = 0; i < paths.size() && !hooks.stopRequested(); ++i) {
        hooks.onStart(i);
        hooks.onOutcome(Commit(ahead.Take()));
    }
}

// A volume of the same identity whose path no longer holds it was moved or renamed; a copy
// beside the original is a volume of its own.
std::optional<CLibraryVolume> CLibraryAdder::MovedHere(CLibraryStore& lookups,
                                                       const std::string& identity,
                                                       const std::string& path)
{
    for (CLibraryVolume& candidate : lookups.VolumesWithIdentity(identity)) {
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
