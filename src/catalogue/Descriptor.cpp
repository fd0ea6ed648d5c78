// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Descriptor.h"

#include "catalogue/ProfileReader.h"
#include "catalogue/Text.h"

#include <utility>

namespace Descriptor {

ReadKey ReaderFor(CProfileReader& reader, const CVolume& volume, std::string path)
{
    return [&reader, &volume, path = std::move(path)](
               std::string_view section, std::string_view key, std::string_view defaultValue) {
        return reader.GetString(volume, path, section, key, defaultValue);
    };
}

bool IsAbsent(std::string_view value) noexcept
{
    return Text::EqualsNoCase(value, kAbsent);
}

bool IsTrue(std::string_view value) noexcept
{
    return Text::EqualsNoCase(value, "true");
}

void ForEachNumbered(const ReadKey& read, std::string_view section, std::string_view stem,
                     const std::function<bool(std::string&&)>& take)
{
    std::string key(stem);
    for (unsigned long long n = 1;; ++n) {
        key.resize(stem.size());
        key += std::to_string(n);
        std::string value = read(section, key, kAbsent);
        if (IsAbsent(value) || !take(std::move(value)))
            return;
    }
}

std::vector<std::string> ReadNumberedList(const ReadKey& read, std::string_view section,
                                          std::string_view stem)
{
    std::vector<std::string> entries;
    ForEachNumbered(read, section, stem, [&](std::string&& value) {
        entries.push_back(std::move(value));
        return true;
    });
    return entries;
}

const std::vector<std::string>& DefaultPatterns()
{
    static const std::vector<std::string> patterns = {"*.exe", "*.txt", "*.zip", "*.me", "*.hlp"};
    return patterns;
}

Listing ReadListing(const ReadKey& read)
{
    Listing listing;
    listing.strCategory = read("info", "category", kNil);
    // Case matters here, unlike every other sentinel: "Nil" is a category of its own.
    listing.bListed = listing.strCategory != kNil;
    if (listing.bListed)
        listing.strName = read("info", "name", kUntitled);
    return listing;
}

ShowFiles ReadShowFiles(const ReadKey& read)
{
    ShowFiles show;
    show.bSearchSubdirs = IsTrue(read("showfiles", "searchsubdirs", kFalse));
    show.astrPatterns = ReadNumberedList(read, "showfiles", "file");
    if (show.astrPatterns.empty())
        show.astrPatterns = DefaultPatterns();
    return show;
}

} // namespace Descriptor
