#include "catalogue/Text.h"

#include <cstdint>
#include <cstring>

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

// Length of the valid UTF-8 sequence at the start of p (n bytes available), 0 if invalid.
std::size_t ValidSequenceLength(const unsigned char* p, std::size_t n) noexcept
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    auto cont = [&](std::size_t i) {
        return i < n && (p[i] & 0xC0) == 0x80;
    };
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (n < 2)
            return 0;
        // Overlongs below U+0800 and the surrogates U+D800..U+DFFF are not characters.
        const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = c == 0xED ? 0x9F : 0xBF;
        if (p[1] < lo || p[1] > hi)
            return 0;
        return cont(2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (n < 2)
            return 0;
        // Overlongs below U+10000 and anything past U+10FFFF.
        const unsigned char lo = c == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = c == 0xF4 ? 0x8F : 0xBF;
        if (p[1] < lo || p[1] > hi)
            return 0;
        return cont(2) && cont(3) ? 4 : 0;
    }
    return 0; // 0x80..0xC1 (stray continuation, overlong lead) and 0xF5..0xFF
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
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

} // namespace

bool IsValidUtf8(std::string_view bytes) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (i + 8 <= n && (LoadWord(bytes.data() + i) & 0x8080808080808080ull) == 0) {
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
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c < 0xA0)
            AppendUtf8(out, kCp1252High[c - 0x80]);
        else
            AppendUtf8(out, c);
    }
    return out;
}

std::size_t NoCaseHash::operator()(std::string_view s) const noexcept
{
    std::uint64_t h = 0x243F6A8885A308D3ull ^ s.size();
    const char* p = s.data();
    std::size_t n = s.size();
    for (; n >= 8; p += 8, n -= 8)
        h = Mix(h, FoldWord(LoadWord(p)));
    if (n > 0) {
        std::uint64_t tail = 0;
        std::memcpy(&tail, p, n);
        h = Mix(h, FoldWord(tail));
    }
    // Final avalanche so that buckets taken from the low bits are spread well.
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return static_cast<std::size_t>(h);
}

} // namespace Text

namespace Path {

std::string Join(std::string_view folder, std::string_view name)
{
    if (folder.empty())
        return std::string(name);
    while (!folder.empty() && folder.back() == '/')
        folder.remove_suffix(1);
    while (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    std::string out;
    out.reserve(folder.size() + 1 + name.size());
    out.append(folder);
    out += '/';
    out.append(name);
    return out;
}

std::string FolderOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::pair<std::string_view, std::string_view> SplitFileName(std::string_view name) noexcept
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {name, {}};
    return {name.substr(0, dot), name.substr(dot)};
}

} // namespace Path
