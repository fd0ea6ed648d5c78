// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A CD image's cue sheet, read from its text alone: the files it names and the tracks laid
// out in them. Reading never opens anything, not even the files the sheet names: which of
// them is opened, and how, is for the caller to decide.
//
// Keywords are taken in any case, lines end in LF, CR LF or CR. FILE, TRACK, INDEX, PREGAP
// and POSTGAP are read; every other line (CD-TEXT, REM, CATALOG, FLAGS, ISRC, the keywords of
// one tool or another) is passed over. A malformed field of those read, a track out of order
// or without INDEX 01, a NUL byte, or no track at all make the text no sheet.
class CCueSheet {
public:
    static constexpr std::size_t kMaxTracks = 99;
    static constexpr std::size_t kMaxFiles = 99;
    static constexpr std::uint32_t kFramesPerSecond = 75;

    enum class FileType : unsigned char { Binary, Motorola, Wave, Aiff, Mp3, Other };
    enum class Mode : unsigned char {
        Audio,
        Cdg,
        Mode1_2048,
        Mode1_2352,
        Mode2_2048,
        Mode2_2324,
        Mode2_2336,
        Mode2_2352,
        Cdi2336,
        Cdi2352
    };

    struct File {
        std::string m_strName; // as written, without quotes; never empty
        FileType m_eType = FileType::Other;
    };
    // A position in one of the files: 75 frames a second, one sector each.
    struct Index {
        unsigned m_nNumber = 0;
        std::size_t m_nFile = 0;
        std::uint32_t m_nFrame = 0;
    };
    struct Track {
        unsigned m_nNumber = 0;
        Mode m_eMode = Mode::Audio;
        std::size_t m_nFile = 0;         // the file named last before the TRACK line
        std::vector<Index> m_arrIndexes; // ascending numbers, 00 or 01 first, 01 always there
        std::uint32_t m_nPregap = 0;     // frames of silence not in any file
        std::uint32_t m_nPostgap = 0;
        unsigned m_nSession = 1; // from the REM SESSION line before it, as rippers write
    };
    // Where a track's INDEX 01 lies in its file and on the disc.
    struct Placement {
        std::size_t m_nFile = 0;
        std::uint64_t m_nOffset = 0;           // bytes into the file
        std::uint64_t m_nSectors = UINT64_MAX; // up to the next track, or the file's end
        std::uint32_t m_nSectorBytes = 0;
        std::optional<std::uint64_t> m_nDiscBlock; // known when every earlier file's size is
    };
    // The disc addresses between sessions: the first lead-out and each lead-in; later
    // lead-outs are shorter. A session's first track has a two-second pregap unless told.
    static constexpr std::uint32_t kFirstSessionGap = 6750 + 4500;
    static constexpr std::uint32_t kLaterSessionGap = 2250 + 4500;
    static constexpr std::uint32_t kSessionPregap = 150;

    // The sheet the text holds, or nullopt when it holds none.
    static std::optional<CCueSheet> Parse(std::string_view text);

    const std::vector<File>& Files() const noexcept { return m_arrFiles; }
    // Ascending track numbers, 1 to 99; never empty.
    const std::vector<Track>& Tracks() const noexcept { return m_arrTracks; }

    // Mode 1 or mode 2 (CD-i included), as against sound and graphics.
    static bool IsData(Mode mode) noexcept;
    // The bytes each sector of the mode takes in its file.
    static std::uint32_t SectorBytes(Mode mode) noexcept;

    // The first data track, or null when every track is sound.
    const Track* FirstDataTrack() const noexcept;
    // The last one, what a mount shows of a disc of several sessions.
    const Track* LastDataTrack() const noexcept;
    // Where track lies, with fileBytes giving each file's size (nullopt when unknown); the
    // sectors of earlier tracks in its file may differ in size. nullopt when the sizes known
    // put it past its file's end.
    std::optional<Placement>
    Place(const Track& track, const std::vector<std::optional<std::uint64_t>>& fileBytes) const;

private:
    std::vector<File> m_arrFiles;
    std::vector<Track> m_arrTracks;
};
