#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

// Byte-string helpers shared by every part of the catalogue. File names and descriptor
// values are bytes; nothing here depends on the locale.
namespace Text {

inline constexpr char FoldAscii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive for ASCII letters only; other bytes compare exactly.
bool EqualsNoCase(std::string_view a, std::string_view b) noexcept;
// Negative, zero or positive, ordering as if both were ASCII-lower-cased.
int CompareNoCase(std::string_view a, std::string_view b) noexcept;
std::string ToLowerAscii(std::string_view s);

bool IsValidUtf8(std::string_view bytes) noexcept;
// Text for people: UTF-8 kept as it is when valid, otherwise read as Windows-1252.
std::string DecodeForDisplay(std::string_view bytes);

// For unordered containers keyed without regard to (ASCII) case.
struct NoCaseHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
};
struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept
    {
        return EqualsNoCase(a, b);
    }
};

} // namespace Text

namespace Path {

// Joins with exactly one '/', so "/" + "a" is "/a", never "//a".
std::string Join(std::string_view folder, std::string_view name);
// The folder part of a path: everything before the last '/'; "/" for a file in the root.
std::string FolderOf(std::string_view path);
// Title and extension as the file list shows them: the extension runs from the last dot
// (dot included) to the end; "readme" has none, ".profile" has an empty title.
std::pair<std::string_view, std::string_view> SplitFileName(std::string_view name) noexcept;

} // namespace Path
