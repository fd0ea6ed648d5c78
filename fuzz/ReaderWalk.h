// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the reader fuzz targets check of any image reader: every folder is listed twice, with
// the same result, and each file's first and last blocks are read.

#include "FuzzSupport.h"

#include "platform/ImageReader.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace ReaderWalk {

using Entry = CImageReader::Entry;
using Kind = CImageReader::Kind;

constexpr std::size_t kMaxFolders = 500;
constexpr CImageReader::Limits kLimits{1 << 20, 5000};

inline bool SameListing(const std::vector<Entry>& a, const std::vector<Entry>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].strName != b[i].strName || a[i].kind != b[i].kind || a[i].nId != b[i].nId ||
            a[i].nSize != b[i].nSize || a[i].extents.size() != b[i].extents.size())
            return false;
    return true;
}

inline void CheckFile(CImageReader& reader, const Entry& file)
{
    std::uint64_t total = 0;
    unsigned char block[CImageReader::kBlockSize];
    for (const CImageReader::Extent& extent : file.extents) {
        total += extent.nBytes;
        const std::uint64_t blocks = (extent.nBytes + sizeof block - 1) / sizeof block;
        (void)reader.ReadBlocks(extent.nBlock, 1, block);
        if (blocks > 1 && extent.nBlock + blocks - 1 <= UINT32_MAX)
            (void)reader.ReadBlocks(static_cast<std::uint32_t>(extent.nBlock + blocks - 1), 1,
                                    block);
    }
    FUZZ_CHECK(file.extents.empty() || total == file.nSize);
    FUZZ_CHECK(file.strEmbedded.empty() || file.strEmbedded.size() == file.nSize);
}

inline void Walk(CImageReader& reader)
{
    std::vector<Entry> pending{reader.RootEntry()};
    std::set<std::uint64_t> listed;
    std::vector<Entry> entries;
    std::vector<Entry> again;
    while (!pending.empty() && listed.size() < kMaxFolders) {
        const Entry folder = std::move(pending.back());
        pending.pop_back();
        if (!listed.insert(folder.nId).second)
            continue;
        const bool bListed = reader.List({}, folder, kLimits, entries);
        FUZZ_CHECK(bListed || entries.empty());
        FUZZ_CHECK(entries.size() <= kLimits.nMaxEntries);
        FUZZ_CHECK(reader.List({}, folder, kLimits, again) == bListed);
        FUZZ_CHECK(SameListing(entries, again));
        for (const Entry& e : entries) {
            FUZZ_CHECK(!e.strName.empty() && e.strName != "." && e.strName != "..");
            FUZZ_CHECK(e.strName.find_first_of(std::string("/\0", 2)) == std::string::npos);
            if (e.kind == Kind::Folder)
                pending.push_back(e);
            else if (e.kind == Kind::File)
                CheckFile(reader, e);
            else if (e.kind == Kind::Link)
                FUZZ_CHECK(e.strTarget.size() < 4096);
        }
    }
    unsigned char block[CImageReader::kBlockSize];
    FUZZ_CHECK(!reader.ReadBlocks(UINT32_MAX, 1, block));
}

} // namespace ReaderWalk
