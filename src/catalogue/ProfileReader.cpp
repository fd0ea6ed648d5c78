// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ProfileReader.h"

#include "catalogue/Text.h"
#include "catalogue/Volume.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kMaxCachedFiles = 8;
// Big files still parse, but the cache does not hold on to many of them.
constexpr std::size_t kMaxCachedBytes = 64u << 20;
// A descriptor is a few lines of text. Past this size, which no real one reaches, a (possibly
// sparse or crafted) file is treated as unreadable rather than read at all.
constexpr std::size_t kMaxFileSize = 64u << 20;
static_assert(kMaxFileSize < (std::size_t{1} << 32), "offsets into a file are 32-bit");

// File systems stamp times in ticks (a jiffy on most, two seconds on FAT), so a rewrite
// of the same size within one tick keeps every stat field. Until the clock is a tick past
// a file's last change, a cached copy is checked against the file's bytes.
constexpr long long kStampTickSeconds = 2;

using FileId = CVolume::FileIdentity;
using Stamp = CVolume::Timestamp;

Stamp Now() noexcept
{
    std::timespec now{};
    std::timespec_get(&now, TIME_UTC);
    return {now.tv_sec, now.tv_nsec};
}

constexpr bool IsBlank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\v';
}

std::string_view TrimBlanks(std::string_view s) noexcept
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// What the C-string API hands back: everything up to the first NUL, at most
// kBufferSize - 1 bytes.
std::string_view UpToNul(std::string_view s) noexcept
{
    if (s.empty())
        return s;
    const void* nul = std::memchr(s.data(), '\0', s.size());
    return nul ? s.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - s.data()))
               : s;
}

static_assert(CProfileReader::kBufferSize - 1 == Text::kValueCut);

std::string_view AsReturned(std::string_view s) noexcept
{
    s = UpToNul(s);
    if (s.size() > CProfileReader::kBufferSize - 1)
        s = s.substr(0, CProfileReader::kBufferSize - 1);
    return s;
}

std::string_view ValueOf(std::string_view raw) noexcept
{
    std::string_view v = TrimBlanks(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return AsReturned(v);
}

// memchr for string_views: the position of the first c, or s.size().
std::size_t FindByte(std::string_view s, char c) noexcept
{
    if (s.empty())
        return 0;
    const void* found = std::memchr(s.data(), c, s.size());
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - s.data()) : s.size();
}

// Positions in a caller's array, found by hash through open addressing, with no
// allocation per item. Each slot carries the upper half of its item's hash, so most
// mismatches never touch the array.
class CPositionIndex {
public:
    CPositionIndex() { Resize(0); }

    // same(pos) tells whether the item at pos has the name looked for.
    template <class Same>
    std::optional<std::uint32_t> Find(std::uint64_t hash, Same same) const
    {
        if (m_arrSlots.empty())
            return std::nullopt;
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        for (std::size_t i = hash & m_nMask;; i = (i + 1) & m_nMask) {
            const Slot slot = m_arrSlots[i];
            if (slot.nPos == 0)
                return std::nullopt;
            if (slot.nTag == tag && same(slot.nPos - 1))
                return slot.nPos - 1;
        }
    }

    // Adds pos unless an item of the same name is there already; returns the position
    // of the item kept and whether it is pos. hashOf(p) gives the hash of any added p.
    template <class Same, class HashOf>
    std::pair<std::uint32_t, bool> FindOrAdd(std::uint64_t hash, std::uint32_t pos, Same same,
                                             HashOf hashOf)
    {
        if ((m_nCount + 1) * 2 > m_arrSlots.size()) {
            const std::vector<Slot> old = std::exchange(m_arrSlots, {});
            Resize(m_nCount + 1);
            for (const Slot& slot : old) {
                if (slot.nPos != 0)
                    m_arrSlots[FreeSlot(hashOf(slot.nPos - 1))] = slot;
            }
        }
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        std::size_t i = hash & m_nMask;
        for (; m_arrSlots[i].nPos != 0; i = (i + 1) & m_nMask) {
            const Slot slot = m_arrSlots[i];
            if (slot.nTag == tag && same(slot.nPos - 1))
                return {slot.nPos - 1, false};
        }
        m_arrSlots[i] = {pos + 1, tag};
        ++m_nCount;
        return {pos, true};
    }

private:
    struct Slot {
        std::uint32_t nPos; // position + 1; 0 is a free slot
        std::uint32_t nTag;
    };

    // At most half full, so probe runs stay short.
    void Resize(std::size_t capacity)
    {
        std::size_t size = 16;
        while (size < capacity * 2)
            size *= 2;
        m_arrSlots.assign(size, Slot{0, 0});
        m_nMask = size - 1;
    }

    std::size_t FreeSlot(std::uint64_t hash) const noexcept
    {
        std::size_t i = hash & m_nMask;
        while (m_arrSlots[i].nPos != 0)
            i = (i + 1) & m_nMask;
        return i;
    }

    std::vector<Slot> m_arrSlots;
    std::size_t m_nMask = 0;
    std::size_t m_nCount = 0;
};

} // namespace

// Parsing only notes where sections and entries are, in one sequential pass: a big file
// costs little more than reading it. A section is indexed when it is first asked for, and
// only that one; the few sections the program reads are remembered with their indexes.
struct CProfileReader::CParsedFile {
    std::string strPath;
    FileId id;
    // When the content was last read from the file (CLOCK_REALTIME, before the read began).
    mutable Stamp readStart;
    std::string strContent;

    void Parse();
    // True once the clock was a whole time-stamp tick past the file's last change when the
    // content was read: any later write then shows in the stat fields.
    bool IsSettled() const noexcept
    {
        const Stamp settledFrom{readStart.nSeconds - kStampTickSeconds, readStart.nNanoseconds};
        return settledFrom >= std::max(id.modified, id.changed);
    }
    // The value of the first entry of key in the first section of that name, if any.
    std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;
    std::size_t MemoryUse() const noexcept
    {
        return strContent.size() + arrEntries.size() * sizeof(Span) +
               arrSections.size() * sizeof(Section);
    }

private:
    static constexpr std::uint32_t kNoSection = ~std::uint32_t{0};
    static constexpr std::size_t kMaxLooked = 8;

    // A run of strContent; files are far smaller than 4 GiB.
    struct Span {
        std::uint32_t nOffset;
        std::uint32_t nLength;
    };
    // Every section line, repeated names included; entry lines follow their section line,
    // so a section's entries are one run of arrEntries.
    struct Section {
        Span name;
        std::uint32_t nFirstEntry;
        std::uint32_t nEndEntry;
    };
    struct Looked {
        std::string strName;
        std::uint32_t nSection = kNoSection; // the first section of that name
        CPositionIndex keys;                 // its first entry of each key
    };

    std::string_view TextOf(Span span) const noexcept
    {
        return std::string_view(strContent).substr(span.nOffset, span.nLength);
    }
    Span SpanOf(std::string_view part) const noexcept
    {
        return {static_cast<std::uint32_t>(part.data() - strContent.data()),
                static_cast<std::uint32_t>(part.size())};
    }
    std::string_view KeyOf(Span entry) const noexcept
    {
        const std::string_view line = TextOf(entry);
        return TrimBlanks(line.substr(0, FindByte(line, '=')));
    }
    void ParseLine(std::string_view line, std::uint32_t& nSection);
    const Looked& Look(std::string_view section) const;

    std::vector<Section> arrSections;
    std::vector<Span> arrEntries; // from the key to the end of the line
    mutable std::vector<Looked> arrLooked;
};

const CProfileReader::CParsedFile::Looked&
CProfileReader::CParsedFile::Look(std::string_view section) const
{
    for (const Looked& looked : arrLooked) {
        if (Text::EqualsNoCase(looked.strName, section))
            return looked;
    }
    if (arrLooked.size() >= kMaxLooked)
        arrLooked.clear();
    Looked& looked = arrLooked.emplace_back();
    looked.strName = section;
    for (std::size_t p = 0; p < arrSections.size(); ++p) {
        if (Text::EqualsNoCase(TextOf(arrSections[p].name), section)) {
            looked.nSection = static_cast<std::uint32_t>(p);
            break;
        }
    }
    if (looked.nSection == kNoSection)
        return looked;

    const Section& found = arrSections[looked.nSection];
    std::vector<std::uint64_t> hashes;
    hashes.reserve(found.nEndEntry - found.nFirstEntry);
    for (std::uint32_t p = found.nFirstEntry; p < found.nEndEntry; ++p) {
        const std::string_view key = KeyOf(arrEntries[p]);
        hashes.push_back(Text::NoCaseHash{}(key));
        looked.keys.FindOrAdd(
            hashes.back(), p,
            [&](std::uint32_t q) { return Text::EqualsNoCase(KeyOf(arrEntries[q]), key); },
            [&](std::uint32_t q) { return hashes[q - found.nFirstEntry]; });
    }
    return looked;
}

std::optional<std::string_view> CProfileReader::CParsedFile::Find(std::string_view section,
                                                                  std::string_view key) const
{
    const Looked& looked = Look(section);
    if (looked.nSection == kNoSection)
        return std::nullopt;
    const auto nEntry = looked.keys.Find(Text::NoCaseHash{}(key), [&](std::uint32_t p) {
        return Text::EqualsNoCase(KeyOf(arrEntries[p]), key);
    });
    if (!nEntry)
        return std::nullopt;
    const std::string_view line = TextOf(arrEntries[*nEntry]);
    return ValueOf(line.substr(FindByte(line, '=') + 1));
}

void CProfileReader::CParsedFile::ParseLine(std::string_view line, std::uint32_t& nSection)
{
    while (!line.empty() && IsBlank(line.front()))
        line.remove_prefix(1);
    if (line.empty() || line.front() == ';')
        return;
    if (line.front() == '[') {
        // Without a ']' the name runs to the end of the line.
        const std::size_t close = FindByte(line, ']');
        const auto here = static_cast<std::uint32_t>(arrEntries.size());
        arrSections.push_back({SpanOf(TrimBlanks(line.substr(1, close - 1))), here, here});
        nSection = static_cast<std::uint32_t>(arrSections.size() - 1);
        return;
    }
    if (nSection == kNoSection || FindByte(line, '=') == line.size())
        return;
    arrEntries.push_back(SpanOf(line));
    arrSections[nSection].nEndEntry = static_cast<std::uint32_t>(arrEntries.size());
}

void CProfileReader::CParsedFile::Parse()
{
    std::string_view rest = strContent;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF")
        rest.remove_prefix(3);

    // Lines before the first section belong to none.
    std::uint32_t nSection = kNoSection;
    // A lone CR ends a line as LF does; CR LF then yields an empty line, which means nothing.
    const bool bAnyCr = FindByte(rest, '\r') < rest.size();
    while (!rest.empty()) {
        const std::size_t lf = FindByte(rest, '\n');
        std::string_view segment = rest.substr(0, lf);
        rest.remove_prefix(lf < rest.size() ? lf + 1 : rest.size());
        while (bAnyCr) {
            const std::size_t cr = FindByte(segment, '\r');
            if (cr == segment.size())
                break;
            ParseLine(segment.substr(0, cr), nSection);
            segment.remove_prefix(cr + 1);
        }
        ParseLine(segment, nSection);
    }
}

CProfileReader::CProfileReader() = default;
CProfileReader::~CProfileReader() = default;

std::shared_ptr<const CProfileReader::CParsedFile> CProfileReader::Load(const CVolume& volume,
                                                                        const std::string& filePath)
{
    // Stat first so that a FIFO or device is never opened at all.
    const std::optional<FileId> seen = volume.IdentityOf(filePath);
    if (!seen)
        return nullptr;

    std::shared_ptr<const CParsedFile> pCached;
    for (auto it = m_lstCache.begin(); it != m_lstCache.end(); ++it) {
        if ((*it)->id == *seen) {
            m_lstCache.splice(m_lstCache.begin(), m_lstCache, it);
            pCached = m_lstCache.front();
            break;
        }
    }
    if (pCached && pCached->IsSettled())
        return pCached;

    const Stamp readStart = Now();
    // The path may have been swapped since the stat: the opened file's identity is the one kept.
    std::unique_ptr<CVolume::CFile> file = volume.OpenFile(filePath);
    if (!file)
        return nullptr;
    const std::optional<FileId> id = file->Identity();
    std::string content;
    if (!id || file->ReadAll(content, kMaxFileSize) != CVolume::ReadStatus::Ok)
        return nullptr;
    file.reset();
    const FileId& opened = *id;
    if (pCached && pCached->id == opened && pCached->strContent == content) {
        pCached->readStart = readStart;
        return pCached;
    }

    auto parsed = std::make_shared<CParsedFile>();
    parsed->strPath = filePath;
    parsed->id = opened;
    parsed->readStart = readStart;
    parsed->strContent = std::move(content);
    parsed->Parse();
    ++m_nParses;

    // Older versions of this file can never be right again.
    m_lstCache.remove_if(
        [&](const auto& cached) { return cached->strPath == filePath || cached->id == opened; });
    m_lstCache.push_front(std::move(parsed));
    std::size_t bytes = 0;
    std::size_t count = 0;
    for (auto it = m_lstCache.begin(); it != m_lstCache.end(); ++it) {
        bytes += (*it)->MemoryUse();
        if (++count > kMaxCachedFiles || (count > 1 && bytes > kMaxCachedBytes)) {
            m_lstCache.erase(it, m_lstCache.end());
            break;
        }
    }
    return m_lstCache.front();
}

std::string CProfileReader::GetString(const CVolume& volume, const std::string& filePath,
                                      std::string_view section, std::string_view key,
                                      std::string_view defaultValue)
{
    // Names are C strings to the API this replaces, and blanks around them never matter.
    const std::string_view sectionName = TrimBlanks(AsReturned(section));
    const std::string_view keyName = TrimBlanks(AsReturned(key));
    if (const auto parsed = Load(volume, filePath)) {
        if (const auto value = parsed->Find(sectionName, keyName))
            return std::string(*value);
    }
    std::string_view fallback = UpToNul(defaultValue);
    while (!fallback.empty() && fallback.back() == ' ')
        fallback.remove_suffix(1);
    return std::string(AsReturned(fallback));
}
