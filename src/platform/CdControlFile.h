// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The .ccd text beside a raw .img: INI sections of which [Entry N] (the disc's table of
// contents, one point each) and [TRACK N] tell where each track starts and what it holds.
// Reading opens nothing. The image holds 2352-byte sectors of every track, one after another.
//
// Keys and section names are taken in any case, numbers in decimal or 0x hex. A malformed
// number in a section read, an entry or track out of range or given twice, a NUL byte, more
// than kMaxBytes or kMaxLines, no [CloneCD] section or no track make the text no control file.
class CCdControlFile {
public:
    static constexpr std::size_t kMaxEntries = 400; // 99 tracks and 3 points a session
    static constexpr std::size_t kMaxLines = 8192;
    static constexpr std::size_t kMaxBytes = 256 * 1024;
    static constexpr std::uint32_t kSectorBytes = 2352;

    struct Track {
        unsigned m_nNumber = 0;
        unsigned m_nSession = 1;
        bool m_bData = false;
        std::uint32_t m_nStart = 0; // the disc address of its INDEX 01
    };

    static std::optional<CCdControlFile> Parse(std::string_view text);

    // Ascending numbers and addresses; never empty.
    const std::vector<Track>& Tracks() const noexcept { return m_arrTracks; }
    // Where the track's first sector may lie in the image, in sectors, likeliest first: the
    // image keeps no lead-out and lead-in between sessions, else it keeps them.
    std::vector<std::uint64_t> ImageSectors(const Track& track) const;

private:
    struct LeadOut {
        unsigned m_nSession = 0;
        std::uint32_t m_nStart = 0;
    };
    std::vector<Track> m_arrTracks;
    std::vector<LeadOut> m_arrLeadOuts;
};
