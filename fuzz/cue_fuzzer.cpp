// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary text as a cue sheet: parsed, checked against the bounds the parser promises,
// written out again in canonical form and read back to the same sheet. The parser opens
// nothing, so no file is involved.

#include "FuzzSupport.h"

#include "platform/CueSheet.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kTypes[] = {"BINARY", "MOTOROLA", "WAVE", "AIFF", "MP3", "FLAC"};
constexpr const char* kModes[] = {"AUDIO",      "CDG",        "MODE1/2048", "MODE1/2352",
                                  "MODE2/2048", "MODE2/2324", "MODE2/2336", "MODE2/2352",
                                  "CDI/2336",   "CDI/2352"};

std::string Time(std::uint32_t frames)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / 75 / 60, frames / 75 % 60,
                  frames % 75);
    return text;
}

// FILE lines up to and including file, those not written yet.
void FilesUpTo(const CCueSheet& sheet, std::size_t file, std::size_t& written, std::string& out)
{
    for (; written <= file; ++written) {
        const CCueSheet::File& f = sheet.Files()[written];
        // A name holding a quote came unquoted, so it holds no blank at either end.
        const bool bQuote = f.m_strName.find('"') == std::string::npos;
        out += "FILE " + (bQuote ? '"' + f.m_strName + '"' : f.m_strName) + ' ' +
               kTypes[static_cast<int>(f.m_eType)] + "\r\n";
    }
}

std::string Write(const CCueSheet& sheet)
{
    std::string out = "REM written again\n";
    std::size_t written = 0;
    unsigned session = 1;
    for (const CCueSheet::Track& track : sheet.Tracks()) {
        if (track.m_nSession != session)
            out += "REM SESSION " + std::to_string(session = track.m_nSession) + '\n';
        FilesUpTo(sheet, track.m_nFile, written, out);
        out += "  track " + std::to_string(track.m_nNumber) + ' ' +
               kModes[static_cast<int>(track.m_eMode)] + '\n';
        if (track.m_nPregap)
            out += "    PREGAP " + Time(track.m_nPregap) + '\n';
        for (const CCueSheet::Index& index : track.m_arrIndexes) {
            FilesUpTo(sheet, index.m_nFile, written, out);
            out +=
                "    INDEX " + std::to_string(index.m_nNumber) + ' ' + Time(index.m_nFrame) + '\n';
        }
        if (track.m_nPostgap)
            out += "    POSTGAP " + Time(track.m_nPostgap) + '\n';
    }
    if (!sheet.Files().empty())
        FilesUpTo(sheet, sheet.Files().size() - 1, written, out);
    return out;
}

bool Same(const CCueSheet& a, const CCueSheet& b)
{
    if (a.Files().size() != b.Files().size() || a.Tracks().size() != b.Tracks().size())
        return false;
    for (std::size_t i = 0; i < a.Files().size(); ++i)
        if (a.Files()[i].m_strName != b.Files()[i].m_strName ||
            a.Files()[i].m_eType != b.Files()[i].m_eType)
            return false;
    for (std::size_t i = 0; i < a.Tracks().size(); ++i) {
        const CCueSheet::Track& s = a.Tracks()[i];
        const CCueSheet::Track& t = b.Tracks()[i];
        if (s.m_nNumber != t.m_nNumber || s.m_eMode != t.m_eMode || s.m_nFile != t.m_nFile ||
            s.m_nPregap != t.m_nPregap || s.m_nPostgap != t.m_nPostgap ||
            s.m_nSession != t.m_nSession || s.m_arrIndexes.size() != t.m_arrIndexes.size())
            return false;
        for (std::size_t j = 0; j < s.m_arrIndexes.size(); ++j)
            if (s.m_arrIndexes[j].m_nNumber != t.m_arrIndexes[j].m_nNumber ||
                s.m_arrIndexes[j].m_nFile != t.m_arrIndexes[j].m_nFile ||
                s.m_arrIndexes[j].m_nFrame != t.m_arrIndexes[j].m_nFrame)
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto sheet = CCueSheet::Parse(Fuzz::AsText(data, size));
    if (!sheet)
        return 0;
    const auto& files = sheet->Files();
    const auto& tracks = sheet->Tracks();
    FUZZ_CHECK(!files.empty() && files.size() <= CCueSheet::kMaxFiles);
    FUZZ_CHECK(!tracks.empty() && tracks.size() <= CCueSheet::kMaxTracks);
    for (const CCueSheet::File& file : files)
        FUZZ_CHECK(!file.m_strName.empty() && file.m_strName.find('\0') == std::string::npos);
    unsigned lastTrack = 0;
    for (const CCueSheet::Track& track : tracks) {
        FUZZ_CHECK(track.m_nNumber > lastTrack && track.m_nNumber <= 99);
        lastTrack = track.m_nNumber;
        FUZZ_CHECK(track.m_nFile < files.size() && !track.m_arrIndexes.empty());
        FUZZ_CHECK(track.m_arrIndexes.front().m_nNumber <= 1);
        bool bOne = false;
        std::size_t lastFile = track.m_nFile;
        for (const CCueSheet::Index& index : track.m_arrIndexes) {
            FUZZ_CHECK(index.m_nFile >= lastFile && index.m_nFile < files.size());
            lastFile = index.m_nFile;
            bOne = bOne || index.m_nNumber == 1;
        }
        FUZZ_CHECK(bOne);
    }
    if (const CCueSheet::Track* pData = sheet->FirstDataTrack())
        FUZZ_CHECK(CCueSheet::IsData(pData->m_eMode));
    // Sizes from the input itself: some files unknown, some too short for what the sheet says.
    std::vector<std::optional<std::uint64_t>> fileBytes;
    for (std::size_t i = 0; i < files.size(); ++i)
        fileBytes.push_back(i % 3 == 2
                                ? std::nullopt
                                : std::optional<std::uint64_t>(data[i % size] * 2352ull * (i + 1)));
    for (const CCueSheet::Track& track : tracks) {
        const auto place = sheet->Place(track, fileBytes);
        if (!place)
            continue;
        FUZZ_CHECK(place->m_nFile < files.size() &&
                   place->m_nSectorBytes == CCueSheet::SectorBytes(track.m_eMode));
        if (const auto& bytes = fileBytes[place->m_nFile]) {
            FUZZ_CHECK(place->m_nOffset < *bytes);
            FUZZ_CHECK(place->m_nSectors <= (*bytes - place->m_nOffset) / place->m_nSectorBytes);
        }
    }
    if (const CCueSheet::Track* pLast = sheet->LastDataTrack())
        FUZZ_CHECK(CCueSheet::IsData(pLast->m_eMode) && sheet->FirstDataTrack() <= pLast);

    const auto again = CCueSheet::Parse(Write(*sheet));
    FUZZ_CHECK(again && Same(*sheet, *again));
    return 0;
}
