// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "library/LibraryRecord.h"
#include "library/LibraryStore.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Catalogues one volume into the store: skipped with one stat while unchanged, recognised by
// its identity when moved, read again when changed, recorded with its reason when it cannot
// be read. Reads the volume, so it runs on a worker; throws CLibraryStore::CError.
class CLibraryAdder final {
public:
    enum class EState : unsigned char { Added, Unchanged, Failed };
    struct Outcome {
        EState eState = EState::Failed;
        CLibraryVolume volume;
    };

    explicit CLibraryAdder(CLibraryStore& store)
        : m_store(store)
    {}

    // path is absolute, without a trailing '/', as VolumeFinder gives it.
    Outcome Add(const std::string& path);

    struct Hooks {
        std::function<bool()> stopRequested; // asked before each volume
        std::function<void(std::size_t)> onStart;
        std::function<void(Outcome&&)> onOutcome;
    };
    // Adds paths in turn, each outcome handed on in order as it is stored. The volumes ahead
    // are read on a second thread while the one before is written, so that reading and
    // writing overlap on two cores.
    void AddAll(const std::vector<std::string>& paths, const Hooks& hooks);

private:
    // What adding a volume will store, read without changing the store.
    struct Prepared {
        Outcome outcome;
        std::optional<CLibraryContents> contents;
        std::optional<CLibraryStore::CKeys> keys;
        bool bSave = true; // false: nothing about it changed
    };
    static Prepared Prepare(const std::string& path, CLibraryStore& lookups);
    Outcome Commit(Prepared prepared);
    static std::optional<CLibraryVolume>
    MovedHere(CLibraryStore& lookups, const std::string& identity, const std::string& path);

    CLibraryStore& m_store;
};

// "present", "missing" (not where it was) or "failed"; looks at the volume's path.
const char* VolumeState(const CLibraryVolume& volume);
// "image", "disc" or "folder".
const char* KindName(EVolumeKind kind);
// The last component of path, or path itself for "/".
std::string NameOf(const std::string& path);
