// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/CueSheet.h"

#include "catalogue/Text.h"

#include <array>
#include <utility>

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s)
{
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// The first word of rest, which then keeps what follows it, trimmed.
std::string_view NextWord(std::string_view& rest)
{
    const std::size_t end = std::min(rest.find_first_of(kBlanks), rest.size());
    const std::string_view word = rest.substr(0, end);
    rest = Trim(rest.substr(end));
    return word;
}

// 1 to maxDigits decimal digits.
std::optional<std::uint32_t> Number(std::string_view s, std::size_t maxDigits)
{
    if (s.empty() || s.size() > maxDigits)
        return std::nullopt;
    std::uint32_t n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return n;
}

// mm:ss:ff as frames; minutes may pass 99 in sheets of DVD-sized tracks.
std::optional<std::uint32_t> Time(std::string_view s)
{
    const std::size_t first = s.find(':');
    const std::size_t second = first == std::string_view::npos ? first : s.find(':', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto minutes = Number(s.substr(0, first), 3);
    const auto seconds = Number(s.substr(first + 1, second - first - 1), 2);
    const auto frames = Number(s.substr(second + 1), 2);
    if (!minutes || !seconds || !frames || *seconds >= 60 || *frames >= CCueSheet::kFramesPerSecond)
        return std::nullopt;
    return (*minutes * 60 + *seconds) * CCueSheet::kFramesPerSecond + *frames;
}

template <class T, std::size_t N>
std::optional<T> Lookup(std::string_view word,
                        const std::array<std::pair<std::string_view, T>, N>& table)
{
    for (const auto& [name, value] : table)
        if (Text::EqualsNoCase(word, name))
            return value;
    return std::nullopt;
}

using Mode = CCueSheet::Mode;
using FileType = CCueSheet::FileType;

constexpr std::array<std::pair<std::string_view, Mode>, 10> kModes{{
    {"AUDIO", Mode::Audio},
    {"CDG", Mode::Cdg},
    {"MODE1/2048", Mode::Mode1_2048},
    {"MODE1/2352", Mode::Mode1_2352},
    {"MODE2/2048", Mode::Mode2_2048},
    {"MODE2/2324", Mode::Mode2_2324},
    {"MODE2/2336", Mode::Mode2_2336},
    {"MODE2/2352", Mode::Mode2_2352},
    {"CDI/2336", Mode::Cdi2336},
    {"CDI/2352", Mode::Cdi2352},
}};

constexpr std::array<std::pair<std::string_view, FileType>, 5> kFileTypes{{
    {"BINARY", FileType::Binary},
    {"MOTOROLA", FileType::Motorola},
    {"WAVE", FileType::Wave},
    {"AIFF", FileType::Aiff},
    {"MP3", FileType::Mp3},
}};

// FILE's operands: a name, quoted when it holds blanks, then the type.
std::optional<CCueSheet::File> FileLine(std::string_view rest)
{
    std::string_view name;
    std::string_view type;
    if (rest.starts_with('"')) {
        const std::size_t close = rest.find('"', 1);
        if (close == std::string_view::npos)
            return std::nullopt;
        name = rest.substr(1, close - 1);
        type = Trim(rest.substr(close + 1));
    } else {
        const std::size_t last = rest.find_last_of(kBlanks);
        if (last == std::string_view::npos)
            return std::nullopt;
        name = Trim(rest.substr(0, last));
        type = rest.substr(last + 1);
    }
    if (name.empty() || type.empty() || type.find_first_of(kBlanks) != std::string_view::npos)
        return std::nullopt;
    return CCueSheet::File{std::string(name), Lookup(type, kFileTypes).value_or(FileType::Other)};
}

bool HasIndexOne(const CCueSheet::Track& track)
{
    for (const CCueSheet::Index& index : track.m_arrIndexes)
        if (index.m_nNumber == 1)
            return true;
    return false;
}

} // namespace

std::optional<CCueSheet> CCueSheet::Parse(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);

    CCueSheet sheet;
    // Frames only grow within a file, so the last index tells where the next may start.
    std::optional<Index> lastIndex;
    bool bPregap = false;
    bool bPostgap = false;
    unsigned session = 1;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        std::string_view rest = Trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (rest.empty())
            continue;
        const std::string_view keyword = NextWord(rest);
        Track* pTrack = sheet.m_arrTracks.empty() ? nullptr : &sheet.m_arrTracks.back();

        if (Text::EqualsNoCase(keyword, "FILE")) {
            auto file = FileLine(rest);
            if (!file || sheet.m_arrFiles.size() >= kMaxFiles)
                return std::nullopt;
            sheet.m_arrFiles.push_back(std::move(*file));
        } else if (Text::EqualsNoCase(keyword, "TRACK")) {
            const auto number = Number(NextWord(rest), 2);
            const auto mode = Lookup(NextWord(rest), kModes);
            if (sheet.m_arrFiles.empty() || !number || !mode || !rest.empty() || *number == 0 ||
                (pTrack && (*number <= pTrack->m_nNumber || !HasIndexOne(*pTrack))))
                return std::nullopt;
            sheet.m_arrTracks.push_back(
                {*number, *mode, sheet.m_arrFiles.size() - 1, {}, 0, 0, session});
            bPregap = bPostgap = false;
        } else if (Text::EqualsNoCase(keyword, "INDEX")) {
            const auto number = Number(NextWord(rest), 2);
            const auto frame = Time(NextWord(rest));
            if (!pTrack || !number || !frame || !rest.empty())
                return std::nullopt;
            const Index index{*number, sheet.m_arrFiles.size() - 1, *frame};
            const auto& indexes = pTrack->m_arrIndexes;
            if (indexes.empty() ? index.m_nNumber > 1 : index.m_nNumber <= indexes.back().m_nNumber)
                return std::nullopt;
            if (lastIndex && lastIndex->m_nFile == index.m_nFile &&
                lastIndex->m_nFrame > index.m_nFrame)
                return std::nullopt;
            pTrack->m_arrIndexes.push_back(index);
            lastIndex = index;
        } else if (Text::EqualsNoCase(keyword, "PREGAP") ||
                   Text::EqualsNoCase(keyword, "POSTGAP")) {
            const bool bPre = Text::EqualsNoCase(keyword, "PREGAP");
            const auto frames = Time(NextWord(rest));
            if (!pTrack || !frames || !rest.empty() || (bPre ? bPregap : bPostgap))
                return std::nullopt;
            (bPre ? pTrack->m_nPregap : pTrack->m_nPostgap) = *frames;
            (bPre ? bPregap : bPostgap) = true;
        } else if (Text::EqualsNoCase(keyword, "REM") &&
                   Text::EqualsNoCase(NextWord(rest), "SESSION")) {
            // A comment all the same: a malformed one is passed over like any other.
            const auto number = Number(rest, 2);
            if (number && *number >= session && *number > 0)
                session = *number;
        }
        // Every other line (REM, CD-TEXT, CDTEXTFILE, a tool's own keywords) says nothing about
        // where the data lies, and names nothing that is ever opened.
    }
    if (sheet.m_arrTracks.empty() || !HasIndexOne(sheet.m_arrTracks.back()))
        return std::nullopt;
    return sheet;
}

bool CCueSheet::IsData(Mode mode) noexcept
{
    return mode != Mode::Audio && mode != Mode::Cdg;
}

std::uint32_t CCueSheet::SectorBytes(Mode mode) noexcept
{
    switch (mode) {
    case Mode::Mode1_2048:
    case Mode::Mode2_2048:
        return 2048;
    case Mode::Mode2_2324:
        return 2324;
    case Mode::Mode2_2336:
    case Mode::Cdi2336:
        return 2336;
    case Mode::Cdg:
        return 2448;
    case Mode::Audio:
    case Mode::Mode1_2352:
    case Mode::Mode2_2352:
    case Mode::Cdi2352:
        break;
    }
    return 2352;
}

const CCueSheet::Track* CCueSheet::FirstDataTrack() const noexcept
{
    for (const Track& track : m_arrTracks)
        if (IsData(track.m_eMode))
            return &track;
    return nullptr;
}

const CCueSheet::Track* CCueSheet::LastDataTrack() const noexcept
{
    for (auto it = m_arrTracks.rbegin(); it != m_arrTracks.rend(); ++it)
        if (IsData(it->m_eMode))
            return &*it;
    return nullptr;
}

std::optional<CCueSheet::Placement>
CCueSheet::Place(const Track& track,
                 const std::vector<std::optional<std::uint64_t>>& fileBytes) const
{
    if (fileBytes.size() != m_arrFiles.size())
        return std::nullopt;
    Placement place;
    place.m_nSectorBytes = SectorBytes(track.m_eMode);
    // Indexes in order of place: each starts a stretch of its track's sectors that runs to
    // the next index, or its file's end.
    std::size_t file = 0;
    std::uint32_t frame = 0;
    std::uint64_t offset = 0;
    std::uint64_t fileStart = 0; // the disc address of the file's first sector
    std::uint64_t gaps = 0;      // pregaps and session gaps not in any file
    bool bKnown = true;
    std::uint32_t bytes = SectorBytes(m_arrTracks.front().m_eMode);
    unsigned session = m_arrTracks.front().m_nSession;
    bool bFound = false;
    // Sectors from the last index to the file's end, or nullopt when its size is not known
    // or too small for the stretches before.
    auto rest = [&]() -> std::optional<std::uint64_t> {
        if (!fileBytes[file] || *fileBytes[file] < offset)
            return std::nullopt;
        return (*fileBytes[file] - offset) / bytes;
    };
    for (const Track& t : m_arrTracks) {
        if (bFound) {
            // The next track in the same file ends this one.
            if (t.m_arrIndexes.front().m_nFile == place.m_nFile)
                place.m_nSectors = t.m_arrIndexes.front().m_nFrame - frame;
            break;
        }
        if (&t != &m_arrTracks.front()) {
            gaps += t.m_nPregap;
            if (t.m_nSession != session) {
                gaps += session == 1 ? kFirstSessionGap : kLaterSessionGap;
                if (t.m_nPregap == 0 && t.m_arrIndexes.front().m_nNumber != 0)
                    gaps += kSessionPregap;
                session = t.m_nSession;
            }
        }
        for (const Index& index : t.m_arrIndexes) {
            if (index.m_nFile != file) {
                const auto sectors = rest();
                bKnown = bKnown && sectors && index.m_nFile == file + 1;
                if (bKnown)
                    fileStart += frame + *sectors;
                file = index.m_nFile;
                frame = 0;
                offset = 0;
            }
            offset += std::uint64_t{index.m_nFrame - frame} * bytes;
            frame = index.m_nFrame;
            bytes = SectorBytes(t.m_eMode);
            if (&t == &track && index.m_nNumber == 1) {
                place.m_nFile = file;
                place.m_nOffset = offset;
                if (bKnown)
                    place.m_nDiscBlock = fileStart + frame + gaps;
                bFound = true;
                break;
            }
        }
    }
    if (!bFound)
        return std::nullopt;
    if (fileBytes[file]) {
        if (*fileBytes[file] <= offset)
            return std::nullopt;
        place.m_nSectors = std::min(place.m_nSectors, (*fileBytes[file] - offset) / bytes);
    }
    return place;
}
