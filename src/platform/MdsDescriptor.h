// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The binary .mds beside a .mdf image: a header signed "MEDIA DESCRIPTOR", session blocks,
// and for each session its blocks of 80 bytes, one for each table-of-contents point, of which
// the tracks' tell their mode, sector size, disc address and byte offset in the image.
// Reading opens nothing; every offset is checked against the bytes given before it is used.
// No signature, a count or offset that leads outside them, a track given twice, or no track
// make the bytes no descriptor.
class CMdsDescriptor {
public:
    static constexpr std::size_t kHeaderBytes = 88;
    static constexpr std::size_t kSessionBytes = 24;
    static constexpr std::size_t kTrackBytes = 80;
    static constexpr std::size_t kMaxSessions = 99;
    static constexpr std::size_t kMaxBytes = 1 << 20;

    struct Track {
        unsigned m_nNumber = 0;
        unsigned m_nSession = 1;
        bool m_bData = false;
        std::uint32_t m_nSectorBytes = 0;      // 2048, 2336, 2352 or 2448 when m_bData
        std::uint32_t m_nStart = 0;            // the disc address of its first sector
        std::uint64_t m_nOffset = 0;           // bytes into the image
        std::uint64_t m_nSectors = UINT64_MAX; // when the descriptor tells
    };

    static std::optional<CMdsDescriptor> Parse(std::string_view bytes);

    // Ascending numbers; never empty.
    const std::vector<Track>& Tracks() const noexcept { return m_arrTracks; }

private:
    std::vector<Track> m_arrTracks;
};
