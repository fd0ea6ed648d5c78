// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Text.h"

#include <cstdint>
#include <cstring>
#include <locale.h>
#include <wctype.h>

namespace Text {

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

int CompareNoCase(std::string_view a, std::string_view b) noexcept
{
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        // Bytes order as unsigned, so non-ASCII names sort after ASCII ones on every platform.
        const auto ca = static_cast<unsigned char>(FoldAscii(a[i]));
        const auto cb = static_cast<unsigned char>(FoldAscii(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string ToLowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = FoldAscii(c);
    return out;
}

namespace {

// The bytes a sequence with this lead byte takes, 0 for a byte that leads none.
std::size_t SequenceLength(unsigned char c) noexcept
{
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return 2;
    if (c >= 0xE0 && c <= 0xEF)
        return 3;
    if (c >= 0xF0 && c <= 0xF4)
        return 4;
    return 0; // 0x80..0xC1 (stray continuation, overlong lead) and 0xF5..0xFF
}

// Whether p[0, n) are bytes of a valid sequence: its lead and the continuations seen so far.
bool IsSequenceStart(const unsigned char* p, std::size_t n) noexcept
{
    if (n == 0 || n > SequenceLength(p[0]))
        return false;
    if (n >= 2) {
        // Overlongs, the surrogates U+D800..U+DFFF and anything past U+10FFFF.
        const unsigned char c = p[0];
        const unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (p[1] < lo || p[1] > hi)
            return false;
    }
    for (std::size_t i = 2; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return false;
    }
    return true;
}

// Length of the valid UTF-8 sequence at the start of p (n bytes available), 0 if invalid.
std::size_t ValidSequenceLength(const unsigned char* p, std::size_t n) noexcept
{
    const std::size_t len = SequenceLength(p[0]);
    return len != 0 && len <= n && IsSequenceStart(p, len) ? len : 0;
}

char32_t CodePointOf(const unsigned char* p, std::size_t len) noexcept
{
    static constexpr unsigned char kLeadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t cp = p[0] & kLeadMask[len];
    for (std::size_t i = 1; i < len; ++i)
        cp = (cp << 6) | (p[i] & 0x3F);
    return cp;
}

// Built in glibc since 2.35, so the tables never depend on the locales installed.
locale_t Utf8Locale() noexcept
{
    static const locale_t s_locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return s_locale;
}

// Simple folding: upper then lower, so that variants such as final sigma, long s and the
// Kelvin sign meet their letters.
char32_t FoldCodePoint(char32_t cp) noexcept
{
    if (cp < 0x80)
        return static_cast<unsigned char>(FoldAscii(static_cast<char>(cp)));
    const locale_t locale = Utf8Locale();
    if (cp >= kNotUtf8 || !locale)
        return cp;
    return static_cast<char32_t>(
        ::towlower_l(::towupper_l(static_cast<wint_t>(cp), locale), locale));
}

char32_t LowerCodePoint(char32_t cp) noexcept
{
    if (cp < 0x80)
        return static_cast<unsigned char>(FoldAscii(static_cast<char>(cp)));
    const locale_t locale = Utf8Locale();
    if (cp >= kNotUtf8 || !locale)
        return cp;
    return static_cast<char32_t>(::towlower_l(static_cast<wint_t>(cp), locale));
}

// The unit at s[pos] before any case mapping.
char32_t UnitAt(std::string_view s, std::size_t pos, std::size_t& length) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + pos;
    length = ValidSequenceLength(p, s.size() - pos);
    if (length == 0) {
        length = 1;
        return kNotUtf8 + p[0];
    }
    return CodePointOf(p, length);
}

// Writes a unit as it was written (code points as UTF-8, stray bytes as themselves) to
// out, which has room for four bytes; returns the bytes written.
std::size_t EncodeUnit(char32_t unit, char* out) noexcept
{
    if (unit >= kNotUtf8) {
        out[0] = static_cast<char>(unit - kNotUtf8);
        return 1;
    }
    if (unit < 0x80) {
        out[0] = static_cast<char>(unit);
        return 1;
    }
    if (unit < 0x800) {
        out[0] = static_cast<char>(0xC0 | (unit >> 6));
        out[1] = static_cast<char>(0x80 | (unit & 0x3F));
        return 2;
    }
    if (unit < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (unit >> 12));
        out[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (unit & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (unit >> 18));
    out[1] = static_cast<char>(0x80 | ((unit >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (unit & 0x3F));
    return 4;
}

void AppendUnit(std::string& out, char32_t unit)
{
    char bytes[4];
    out.append(bytes, EncodeUnit(unit, bytes));
}

// Windows-1252 for 0x80..0x9F. The five bytes it leaves undefined keep their own code
// points, as the platform's converter maps them, so no byte is ever lost.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::uint64_t LoadWord(const char* p) noexcept
{
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// Lower-cases the ASCII capitals among eight bytes at once; other bytes stay as they are.
constexpr std::uint64_t FoldWord(std::uint64_t x) noexcept
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    const std::uint64_t low7 = x & (kOnes * 0x7F);
    const std::uint64_t aboveZ = low7 + kOnes * (0x7F - 'Z'); // high bit set when > 'Z'
    const std::uint64_t fromA = low7 + kOnes * (0x80 - 'A');  // high bit set when >= 'A'
    const std::uint64_t upper = (fromA ^ aboveZ) & ~x & (kOnes * 0x80);
    return x | (upper >> 2);
}

constexpr std::uint64_t Mix(std::uint64_t h, std::uint64_t w) noexcept
{
    h ^= w;
    h *= 0x9E3779B97F4A7C15ull;
    return (h << 31) | (h >> 33);
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Hashes a byte stream eight bytes at a time, folding ASCII capitals; whole words may go
// in directly while no partial word is pending.
class CFoldingHasher {
public:
    void AddWord(std::uint64_t word) noexcept
    {
        m_h = Mix(m_h, FoldWord(word));
        m_nTotal += 8;
    }
    void AddBytes(const char* p, std::size_t n) noexcept
    {
        for (std::size_t i = 0; i < n; ++i) {
            m_buffer[m_nFill++] = p[i];
            if (m_nFill == 8) {
                m_h = Mix(m_h, FoldWord(LoadWord(m_buffer)));
                m_nFill = 0;
            }
        }
        m_nTotal += n;
    }
    std::size_t Finish() noexcept
    {
        if (m_nFill > 0) {
            std::memset(m_buffer + m_nFill, 0, 8 - m_nFill);
            m_h = Mix(m_h, FoldWord(LoadWord(m_buffer)));
        }
        std::uint64_t h = Mix(m_h, m_nTotal);
        // Final avalanche so that buckets taken from the low bits are spread well.
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return static_cast<std::size_t>(h);
    }

private:
    std::uint64_t m_h = 0x243F6A8885A308D3ull;
    std::uint64_t m_nTotal = 0;
    char m_buffer[8] = {};
    std::size_t m_nFill = 0;
};

} // namespace

char32_t FoldedNonAsciiUnitAt(std::string_view s, std::size_t pos, std::size_t& length) noexcept
{
    return FoldCodePoint(UnitAt(s, pos, length));
}

bool EqualsFolded(std::string_view a, std::string_view b) noexcept
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if ((ca | cb) < 0x80) {
            if (ca != cb && FoldAscii(a[i]) != FoldAscii(b[j]))
                return false;
            ++i;
            ++j;
            continue;
        }
        std::size_t la = 0;
        std::size_t lb = 0;
        if (FoldedUnitAt(a, i, la) != FoldedUnitAt(b, j, lb))
            return false;
        i += la;
        j += lb;
    }
    return i == a.size() && j == b.size();
}

std::string ToLower(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += FoldAscii(s[i]);
            ++i;
            continue;
        }
        std::size_t length = 0;
        AppendUnit(out, LowerCodePoint(UnitAt(s, i, length)));
        i += length;
    }
    return out;
}

bool IsValidUtf8(std::string_view bytes) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (i + 8 <= n && (LoadWord(bytes.data() + i) & kHighBits) == 0) {
            i += 8;
            continue;
        }
        const std::size_t len = ValidSequenceLength(p + i, n - i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::string DecodeForDisplay(std::string_view bytes)
{
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    // Only at the cut: elsewhere such a tail is a Windows-1252 letter ("Caf\xE9").
    if (bytes.size() == kValueCut) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        std::size_t lead = bytes.size() - 1;
        while (lead > bytes.size() - 4 && (p[lead] & 0xC0) == 0x80)
            --lead;
        const std::size_t tail = bytes.size() - lead;
        if (tail < SequenceLength(p[lead]) && IsSequenceStart(p + lead, tail) &&
            IsValidUtf8(bytes.substr(0, lead)))
            return std::string(bytes.substr(0, lead));
    }
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c < 0xA0)
            AppendUnit(out, kCp1252High[c - 0x80]);
        else
            AppendUnit(out, c);
    }
    return out;
}

std::size_t NoCaseHash::operator()(std::string_view s) const noexcept
{
    // Hashes the folded text, whose length may differ (the Kelvin sign folds to 'k').
    CFoldingHasher hasher;
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        const std::uint64_t word = LoadWord(s.data() + i);
        if (word & kHighBits)
            break;
        hasher.AddWord(word);
    }
    while (i < s.size()) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            hasher.AddBytes(s.data() + i, 1);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char bytes[4];
        hasher.AddBytes(bytes, EncodeUnit(FoldedUnitAt(s, i, length), bytes));
        i += length;
    }
    return hasher.Finish();
}

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace Text
