// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CProfileReader;
class CVolume;

// The one definition of a descriptor (.brw) file's keys, defaults and sentinels.
namespace Descriptor {

inline constexpr std::string_view kPattern = "*.brw";
inline constexpr std::string_view kNil = "nil"; // category: not listed (case matters)
inline constexpr std::string_view kUntitled = "untitled";
inline constexpr std::string_view kAbsent = "-1"; // ends numbered lists; "no file"
inline constexpr std::string_view kFalse = "false";

// Reads one key: (section, key, default) -> value.
using ReadKey = std::function<std::string(std::string_view section, std::string_view key,
                                          std::string_view defaultValue)>;

// A reader bound to one descriptor path of volume; reader and volume must outlive it.
ReadKey ReaderFor(CProfileReader& reader, const CVolume& volume, std::string path);

bool IsAbsent(std::string_view value) noexcept; // "-1", without regard to case
bool IsTrue(std::string_view value) noexcept;   // "true" in any case; all else is false

// stem + "1", stem + "2", ... up to the first value that is "-1" (missing or written).
std::vector<std::string> ReadNumberedList(const ReadKey& read, std::string_view section,
                                          std::string_view stem);
// The same entries, one at a time; take returns false to stop early.
void ForEachNumbered(const ReadKey& read, std::string_view section, std::string_view stem,
                     const std::function<bool(std::string&&)>& take);

// "*.exe", "*.txt", "*.zip", "*.me", "*.hlp", in this order.
const std::vector<std::string>& DefaultPatterns();

struct Listing {
    bool bListed = false; // false when the category is exactly "nil"
    std::string strCategory;
    std::string strName; // read only when listed
};
// [info] category (default "nil"); [info] name (default "untitled") only when listed.
Listing ReadListing(const ReadKey& read);

struct ShowFiles {
    bool bSearchSubdirs = false;
    std::vector<std::string> astrPatterns; // the defaults when file1 is absent
};
// [showfiles] searchsubdirs, then file1, file2, ... in this order.
ShowFiles ReadShowFiles(const ReadKey& read);

} // namespace Descriptor
