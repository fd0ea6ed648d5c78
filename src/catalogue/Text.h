// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

// Byte-string helpers shared by every part of the catalogue. File names and descriptor
// values are bytes; nothing here depends on the process locale.
namespace Text {

// Descriptor values are cut after this many bytes, which may split a character.
inline constexpr std::size_t kValueCut = 4095;

inline constexpr char FoldAscii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive for ASCII letters only; other bytes compare exactly.
bool EqualsNoCase(std::string_view a, std::string_view b) noexcept;
// Negative, zero or positive, ordering as if both were ASCII-lower-cased.
int CompareNoCase(std::string_view a, std::string_view b) noexcept;
std::string ToLowerAscii(std::string_view s);

// Case beyond ASCII, by the C library's Unicode tables (never the process locale): each
// valid UTF-8 character maps as a whole; any other byte (Windows-1252 names) maps as ASCII.
// Equal when every character folds alike (capital and small E acute); one character never
// becomes two (sharp s stays apart from "ss").
bool EqualsFolded(std::string_view a, std::string_view b) noexcept;
std::string ToLower(std::string_view s);
// One unit of a name for matching: a folded code point, or a byte that is not part of valid
// UTF-8 as kNotUtf8 + byte, so that it only ever equals itself. Sets length to the bytes used.
inline constexpr char32_t kNotUtf8 = 0x110000;
char32_t FoldedNonAsciiUnitAt(std::string_view s, std::size_t pos, std::size_t& length) noexcept;
inline char32_t FoldedUnitAt(std::string_view s, std::size_t pos, std::size_t& length) noexcept
{
    const auto c = static_cast<unsigned char>(s[pos]);
    if (c >= 0x80)
        return FoldedNonAsciiUnitAt(s, pos, length);
    length = 1;
    return static_cast<unsigned char>(FoldAscii(static_cast<char>(c)));
}

bool IsValidUtf8(std::string_view bytes) noexcept;
// Appends the code point c (below 0x110000) to out as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t c);
// Text for people: UTF-8 kept as it is when valid, otherwise read as Windows-1252. A text of
// exactly kValueCut bytes that is valid UTF-8 up to a character cut short at its end shows
// as UTF-8 without that character.
std::string DecodeForDisplay(std::string_view bytes);

// For unordered containers keyed without regard to case, as EqualsFolded compares. Texts
// equal by EqualsNoCase also hash alike.
struct NoCaseHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
};
struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept
    {
        return EqualsFolded(a, b);
    }
};

} // namespace Text
