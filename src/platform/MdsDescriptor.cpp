// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MdsDescriptor.h"

#include <algorithm>

namespace {

std::uint64_t Le(std::string_view bytes, std::size_t at, int count)
{
    std::uint64_t v = 0;
    for (int i = count - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

// Whether count blocks of size bytes fit from at on.
bool Fits(std::string_view bytes, std::uint64_t at, std::uint64_t count, std::uint64_t size)
{
    return at <= bytes.size() && count <= (bytes.size() - at) / size;
}

constexpr std::size_t kSessionsAt = 0x14;
constexpr std::size_t kSessionBlocksAt = 0x50;
constexpr std::uint64_t kExtraBytes = 8;

// The low half of a track block's mode byte: DVD, mode 1, mode 2 and its form 1 carry file
// systems; sound and form 2 do not.
bool IsDataMode(std::uint64_t mode)
{
    switch (mode & 0x0F) {
    case 0x02:
    case 0x0A:
    case 0x0B:
    case 0x0C:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<CMdsDescriptor> CMdsDescriptor::Parse(std::string_view bytes)
{
    if (bytes.size() < kHeaderBytes || bytes.size() > kMaxBytes ||
        !bytes.starts_with("MEDIA DESCRIPTOR"))
        return std::nullopt;
    const std::uint64_t sessions = Le(bytes, kSessionsAt, 2);
    const std::uint64_t sessionsAt = Le(bytes, kSessionBlocksAt, 4);
    if (sessions == 0 || sessions > kMaxSessions ||
        !Fits(bytes, sessionsAt, sessions, kSessionBytes))
        return std::nullopt;

    CMdsDescriptor mds;
    for (std::uint64_t s = 0; s < sessions; ++s) {
        const std::size_t at = sessionsAt + s * kSessionBytes;
        const auto session = static_cast<unsigned>(Le(bytes, at + 8, 2));
        const std::uint64_t blocks = Le(bytes, at + 10, 1);
        const std::uint64_t blocksAt = Le(bytes, at + 20, 4);
        if (session == 0 || session > kMaxSessions || !Fits(bytes, blocksAt, blocks, kTrackBytes))
            return std::nullopt;
        for (std::uint64_t b = 0; b < blocks; ++b) {
            const std::size_t block = blocksAt + b * kTrackBytes;
            const auto point = static_cast<unsigned>(Le(bytes, block + 4, 1));
            if (point < 1 || point > 99)
                continue; // the lead-in's points
            Track track;
            track.m_nNumber = point;
            track.m_nSession = session;
            track.m_nSectorBytes = static_cast<std::uint32_t>(Le(bytes, block + 0x10, 2));
            track.m_nStart = static_cast<std::uint32_t>(Le(bytes, block + 0x24, 4));
            track.m_nOffset = Le(bytes, block + 0x28, 8);
            const bool bSize = track.m_nSectorBytes == 2048 || track.m_nSectorBytes == 2336 ||
                               track.m_nSectorBytes == 2352 || track.m_nSectorBytes == 2448;
            track.m_bData =
                bSize && (IsDataMode(Le(bytes, block, 1)) || (Le(bytes, block + 2, 1) & 0x40) != 0);
            // Its pregap and length, when the block points at them.
            const std::uint64_t extraAt = Le(bytes, block + 0x0C, 4);
            if (extraAt != 0) {
                if (!Fits(bytes, extraAt, 1, kExtraBytes))
                    return std::nullopt;
                if (const std::uint64_t length = Le(bytes, extraAt + 4, 4))
                    track.m_nSectors = length;
            }
            mds.m_arrTracks.push_back(track);
        }
    }
    std::sort(mds.m_arrTracks.begin(), mds.m_arrTracks.end(),
              [](const Track& a, const Track& b) { return a.m_nNumber < b.m_nNumber; });
    for (std::size_t i = 1; i < mds.m_arrTracks.size(); ++i)
        if (mds.m_arrTracks[i - 1].m_nNumber == mds.m_arrTracks[i].m_nNumber)
            return std::nullopt;
    if (mds.m_arrTracks.empty())
        return std::nullopt;
    return mds;
}
