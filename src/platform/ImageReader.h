// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One file system inside a disc image: folders listed by their path in the image or by their
// entry, data read by 2048-byte block. Not thread-safe (our sector sources are not): the volume
// that owns a reader calls it under one lock.
class CImageReader {
public:
    static constexpr std::uint32_t kBlockSize = 2048;

    enum class Kind : unsigned char { File, Folder, Link, Other };
    struct Extent {
        std::uint32_t nBlock = 0;
        std::uint64_t nBytes = 0;
    };
    struct Entry {
        std::string strRaw;  // the name as recorded, of which List's paths are made
        std::string strName; // the name a Linux mount shows
        Kind kind = Kind::File;
        std::string strTarget; // a link's target as recorded
        std::uint64_t nId = 0; // tells folders apart: where their data starts
        std::uint64_t nSize = 0;
        std::vector<Extent> extents; // a file's data in order; empty when it cannot be read
        std::string strEmbedded;     // a file's data kept in its entry (UDF), instead
        std::int64_t nModified = 0;  // seconds since the epoch
        bool bExecutable = false;    // the image records an execute bit (Rock Ridge, UDF)
        bool bZisofs = false;        // extents hold zisofs data that inflates to nSize bytes
    };
    // What a listing may grow to; beyond it the folder counts as unreadable.
    struct Limits {
        std::uint64_t nMaxFolderBytes = 0;
        std::size_t nMaxEntries = 0;
    };

    virtual ~CImageReader() = default;

    // The root folder's entry; its strRaw is "".
    virtual const Entry& RootEntry() const noexcept = 0;
    // Lists the folder at rawPath ('/'-joined strRaw names, "" for the root), whose entry is
    // folder, into out ("." and ".." left out). False when it cannot be read or exceeds limits.
    virtual bool List(const std::string& rawPath, const Entry& folder, const Limits& limits,
                      std::vector<Entry>& out) = 0;
    // count whole blocks from block on; false unless all of them were read.
    virtual bool ReadBlocks(std::uint32_t block, std::uint32_t count, void* buffer) = 0;
};
