// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/NrgFooter.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// libcdio reads at most this much footer; larger ones fail its assertion and it reads on.
constexpr std::uint64_t kMaxFooterBytes = 4096;
// Its track table holds 99 tracks and the lead-out.
constexpr std::uint32_t kMaxTracks = 99;
// A DAO chunk's header, then one entry per track (32- or 64-bit index fields).
constexpr std::uint32_t kDaoHeaderBytes = 22;
constexpr std::uint32_t kDaoiTrackBytes = 30;
constexpr std::uint32_t kDaoxTrackBytes = 42;

constexpr std::uint32_t Tag(const char (&id)[5])
{
    return static_cast<std::uint32_t>(id[0]) << 24 | static_cast<std::uint32_t>(id[1]) << 16 |
           static_cast<std::uint32_t>(id[2]) << 8 | static_cast<std::uint32_t>(id[3]);
}

std::uint32_t Be32(const unsigned char* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// How many tracks a track-table chunk registers in libcdio's loops; 0 when its length
// would make those loops read past the chunk or run (almost) forever.
std::uint32_t TracksIn(std::uint32_t tag, std::uint32_t length)
{
    switch (tag) {
    case Tag("CUES"): // 8-byte entries, two per track after the first
        return length % 8 == 0 && length >= 16 ? (length / 8 - 1) / 2 : 0;
    case Tag("CUEX"): // 8-byte entries in pairs, the first pair for the lead-in
        return length % 16 == 0 && length > 0 ? length / 16 - 1 : 0;
    case Tag("ETNF"):
        return length % 20 == 0 ? length / 20 : 0;
    case Tag("ETN2"):
        return length % 32 == 0 ? length / 32 : 0;
    default:
        return 0;
    }
}

// Walks the chunks as libcdio will, up to "END!", and wants each within the footer, one
// track table of 1 to 99 tracks, and a DAO chunk (if any) after it holding every track.
bool ChunksAreSound(const std::string& chunks)
{
    const auto* p = reinterpret_cast<const unsigned char*>(chunks.data());
    std::uint32_t tracks = 0;
    bool bDao = false;
    for (std::size_t at = 0; chunks.size() - at >= 8;) {
        const std::uint32_t tag = Be32(p + at);
        const std::uint32_t length = Be32(p + at + 4);
        if (length > chunks.size() - at - 8)
            return false;
        switch (tag) {
        case Tag("END!"):
            return tracks > 0;
        case Tag("CUES"):
        case Tag("CUEX"):
        case Tag("ETNF"):
        case Tag("ETN2"):
            if (tracks > 0)
                return false; // a second table would add to the first
            tracks = TracksIn(tag, length);
            if (tracks == 0 || tracks > kMaxTracks)
                return false;
            break;
        case Tag("DAOI"):
        case Tag("DAOX"): {
            const std::uint32_t entry = tag == Tag("DAOX") ? kDaoxTrackBytes : kDaoiTrackBytes;
            if (bDao || tracks == 0 || length < kDaoHeaderBytes + tracks * entry)
                return false;
            bDao = true;
            break;
        }
        case Tag("SINF"):
        case Tag("MTYP"):
            if (length != 4)
                return false;
            break;
        case Tag("CDTX"): // CD-Text: a parser of its own, and no data disc needs it
        case Tag("NERO"):
        case Tag("NER5"):
            return false;
        default: // skipped by the library too
            break;
        }
        at += 8 + std::size_t{length};
    }
    return false;
}

} // namespace

namespace NrgFooter {

Kind Check(int hImage, off_t size)
{
    unsigned char tail[12] = {};
    if (size < static_cast<off_t>(sizeof tail) ||
        ::pread(hImage, tail, sizeof tail, size - static_cast<off_t>(sizeof tail)) !=
            static_cast<ssize_t>(sizeof tail))
        return size < static_cast<off_t>(sizeof tail) ? Kind::None : Kind::Unsafe;
    std::uint64_t offset = 0;
    if (std::memcmp(tail, "NER5", 4) == 0)
        offset = std::uint64_t{Be32(tail + 4)} << 32 | Be32(tail + 8);
    else if (std::memcmp(tail + 4, "NERO", 4) == 0)
        offset = Be32(tail + 8);
    else
        return Kind::None;
    const auto end = static_cast<std::uint64_t>(size);
    if (offset >= end || end - offset > kMaxFooterBytes)
        return Kind::Unsafe;
    std::string chunks(end - offset, '\0');
    if (::pread(hImage, chunks.data(), chunks.size(), static_cast<off_t>(offset)) !=
        static_cast<ssize_t>(chunks.size()))
        return Kind::Unsafe;
    return ChunksAreSound(chunks) ? Kind::Sound : Kind::Unsafe;
}

} // namespace NrgFooter
