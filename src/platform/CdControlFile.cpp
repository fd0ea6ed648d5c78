// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/CdControlFile.h"

#include "catalogue/Text.h"
#include "platform/CueSheet.h"

#include <algorithm>
#include <map>
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

// Decimal with an optional minus, or 0x hex; within 32 bits either way.
std::optional<std::int64_t> Number(std::string_view s)
{
    bool bNegative = false;
    if (s.starts_with('-')) {
        bNegative = true;
        s.remove_prefix(1);
    }
    unsigned base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.size() > 10)
        return std::nullopt;
    std::int64_t n = 0;
    for (const char c : s) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        n = n * base + digit;
    }
    if (n > UINT32_MAX)
        return std::nullopt;
    return bNegative ? -n : n;
}

// A section's name and number: "Entry 12" gives ("Entry", 12); no number gives -1, a
// malformed one -2.
std::pair<std::string_view, std::int64_t> SectionName(std::string_view name)
{
    const std::size_t blank = name.find_first_of(kBlanks);
    if (blank == std::string_view::npos)
        return {name, -1};
    const auto number = Number(Trim(name.substr(blank)));
    return {name.substr(0, blank), number.value_or(-2)};
}

enum class Section { Other, Main, Entry, Track };

struct Entry {
    std::int64_t nSession = -1;
    std::int64_t nPoint = -1;
    std::int64_t nControl = 0;
    std::int64_t nStart = -1;
};

} // namespace

std::optional<CCdControlFile> CCdControlFile::Parse(std::string_view text)
{
    if (text.size() > kMaxBytes || text.find('\0') != std::string_view::npos)
        return std::nullopt;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);

    std::map<std::int64_t, Entry> entries;
    std::map<std::int64_t, std::int64_t> trackModes; // -1 when the section gives none
    Section section = Section::Other;
    Entry* pEntry = nullptr;
    std::int64_t track = 0;
    bool bMain = false;
    for (std::size_t lines = 0; !text.empty(); ++lines) {
        if (lines >= kMaxLines)
            return std::nullopt;
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.starts_with(';'))
            continue;
        if (line.starts_with('[')) {
            if (!line.ends_with(']'))
                return std::nullopt;
            const auto [name, number] = SectionName(Trim(line.substr(1, line.size() - 2)));
            section = Section::Other;
            if (Text::EqualsNoCase(name, "CloneCD") && number == -1) {
                section = Section::Main;
                bMain = true;
            } else if (Text::EqualsNoCase(name, "Entry")) {
                if (number < 0 || number >= static_cast<std::int64_t>(kMaxEntries) ||
                    entries.contains(number))
                    return std::nullopt;
                section = Section::Entry;
                pEntry = &entries[number];
            } else if (Text::EqualsNoCase(name, "TRACK")) {
                if (number < 1 || number > 99 || trackModes.contains(number))
                    return std::nullopt;
                section = Section::Track;
                track = number;
                trackModes[track] = -1;
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue; // a tool's notes: nothing read here depends on them
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (section == Section::Entry) {
            std::int64_t* pField = Text::EqualsNoCase(key, "Session")   ? &pEntry->nSession
                                   : Text::EqualsNoCase(key, "Point")   ? &pEntry->nPoint
                                   : Text::EqualsNoCase(key, "Control") ? &pEntry->nControl
                                   : Text::EqualsNoCase(key, "PLBA")    ? &pEntry->nStart
                                                                        : nullptr;
            if (pField) {
                const auto number = Number(value);
                if (!number)
                    return std::nullopt;
                *pField = *number;
            }
        } else if (section == Section::Track && Text::EqualsNoCase(key, "MODE")) {
            const auto number = Number(value);
            if (!number || *number < 0 || *number > 2)
                return std::nullopt;
            trackModes[track] = *number;
        }
    }
    if (!bMain)
        return std::nullopt;

    CCdControlFile file;
    for (const auto& [index, entry] : entries) {
        if (entry.nSession < 1 || entry.nSession > 99 || entry.nPoint < 0 || entry.nPoint > 0xFF)
            return std::nullopt;
        const auto session = static_cast<unsigned>(entry.nSession);
        // The lead-in's other points say nothing of where data lies.
        if (entry.nPoint == 0xA2 && entry.nStart >= 0) {
            file.m_arrLeadOuts.push_back({session, static_cast<std::uint32_t>(entry.nStart)});
        } else if (entry.nPoint >= 1 && entry.nPoint <= 99) {
            if (entry.nStart < 0)
                return std::nullopt;
            const auto mode = trackModes.find(entry.nPoint);
            const bool bData = mode != trackModes.end() && mode->second >= 0
                                   ? mode->second != 0
                                   : (entry.nControl & 0x04) != 0;
            file.m_arrTracks.push_back({static_cast<unsigned>(entry.nPoint), session, bData,
                                        static_cast<std::uint32_t>(entry.nStart)});
        }
    }
    std::sort(file.m_arrTracks.begin(), file.m_arrTracks.end(),
              [](const Track& a, const Track& b) { return a.m_nNumber < b.m_nNumber; });
    for (std::size_t i = 1; i < file.m_arrTracks.size(); ++i) {
        const Track& a = file.m_arrTracks[i - 1];
        const Track& b = file.m_arrTracks[i];
        if (a.m_nNumber == b.m_nNumber || a.m_nStart >= b.m_nStart || a.m_nSession > b.m_nSession)
            return std::nullopt;
    }
    if (file.m_arrTracks.empty())
        return std::nullopt;
    return file;
}

std::vector<std::uint64_t> CCdControlFile::ImageSectors(const Track& track) const
{
    // Between one session's lead-out and the next one's pregap the disc holds nothing an
    // image could keep.
    std::uint64_t skipped = 0;
    unsigned session = m_arrTracks.front().m_nSession;
    std::uint32_t lastStart = 0;
    for (const Track& t : m_arrTracks) {
        if (t.m_nSession != session) {
            std::uint64_t gap = session == m_arrTracks.front().m_nSession
                                    ? CCueSheet::kFirstSessionGap
                                    : CCueSheet::kLaterSessionGap;
            for (const LeadOut& leadOut : m_arrLeadOuts) {
                if (leadOut.m_nSession == session && leadOut.m_nStart > lastStart &&
                    std::uint64_t{leadOut.m_nStart} + CCueSheet::kSessionPregap <= t.m_nStart)
                    gap = t.m_nStart - CCueSheet::kSessionPregap - leadOut.m_nStart;
            }
            skipped += gap;
            session = t.m_nSession;
        }
        if (&t == &track)
            break;
        lastStart = t.m_nStart;
    }
    std::vector<std::uint64_t> sectors;
    if (skipped > 0 && skipped <= track.m_nStart)
        sectors.push_back(track.m_nStart - skipped);
    sectors.push_back(track.m_nStart);
    return sectors;
}
