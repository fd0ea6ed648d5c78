// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as an .mds descriptor: parsed and checked against what the parser promises
// of its tracks.

#include "FuzzSupport.h"

#include "platform/MdsDescriptor.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto mds =
        CMdsDescriptor::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!mds)
        return 0;
    const auto& tracks = mds->Tracks();
    FUZZ_CHECK(!tracks.empty());
    unsigned last = 0;
    for (const CMdsDescriptor::Track& track : tracks) {
        FUZZ_CHECK(track.m_nNumber >= 1 && track.m_nNumber <= 99 && track.m_nNumber > last);
        last = track.m_nNumber;
        FUZZ_CHECK(track.m_nSession >= 1 && track.m_nSession <= CMdsDescriptor::kMaxSessions);
        if (track.m_bData)
            FUZZ_CHECK(track.m_nSectorBytes == 2048 || track.m_nSectorBytes == 2336 ||
                       track.m_nSectorBytes == 2352 || track.m_nSectorBytes == 2448);
    }
    return 0;
}
