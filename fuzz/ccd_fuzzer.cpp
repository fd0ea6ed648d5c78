// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary text as a .ccd control file: parsed and checked against what the parser
// promises of its tracks and of where their sectors may lie in the image.

#include "FuzzSupport.h"

#include "platform/CdControlFile.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto control = CCdControlFile::Parse(Fuzz::AsText(data, size));
    if (!control)
        return 0;
    const auto& tracks = control->Tracks();
    FUZZ_CHECK(!tracks.empty() && tracks.size() <= CCdControlFile::kMaxEntries);
    const CCdControlFile::Track* pLast = nullptr;
    for (const CCdControlFile::Track& track : tracks) {
        FUZZ_CHECK(track.m_nNumber >= 1 && track.m_nNumber <= 99 && track.m_nSession >= 1);
        if (pLast)
            FUZZ_CHECK(track.m_nNumber > pLast->m_nNumber && track.m_nStart >= pLast->m_nStart);
        pLast = &track;
        const auto sectors = control->ImageSectors(track);
        FUZZ_CHECK(!sectors.empty() && sectors.size() <= 2 && sectors.back() == track.m_nStart);
        for (const std::uint64_t at : sectors)
            FUZZ_CHECK(at <= track.m_nStart);
    }
    return 0;
}
