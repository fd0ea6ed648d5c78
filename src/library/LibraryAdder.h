// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "library/LibraryRecord.h"

#include <optional>
#include <string>

class CLibraryStore;

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

private:
    std::optional<CLibraryVolume> MovedHere(const std::string& identity, const std::string& path);

    CLibraryStore& m_store;
};

// "present", "missing" (not where it was) or "failed"; looks at the volume's path.
const char* VolumeState(const CLibraryVolume& volume);
// "image", "disc" or "folder".
const char* KindName(EVolumeKind kind);
// The last component of path, or path itself for "/".
std::string NameOf(const std::string& path);
