// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Description.h"

#include "catalogue/Path.h"
#include "catalogue/Text.h"
#include "catalogue/Volume.h"

#include <optional>

namespace Description {

namespace {

Result Fixed(Source source, std::string_view text)
{
    return {source, std::string(text)};
}

// LF, CR LF and a lone CR each count once, as the pane shows them.
std::size_t CountLineBreaks(std::string_view text)
{
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++breaks;
    }
    return breaks;
}

Result FromFile(const CVolume& volume, const std::string& folder, std::string_view value,
                std::size_t maxBytes)
{
    // A trailing separator names a folder, which cannot be opened as a file, even when a
    // file of that name exists.
    if (!value.empty() && (value.back() == '\\' || value.back() == '/'))
        return Fixed(Source::NotFound, kNotFound);
    // ".." goes up by name, as on Windows, and stops at the volume's root; only the names
    // that follow are looked up on the drive.
    const std::optional<CRelativePath> relative = CRelativePath::Parse(value);
    const std::optional<std::string_view> climbed =
        relative ? relative->ClimbFrom(volume.Root(), folder) : std::nullopt;
    std::string names;
    if (climbed) {
        for (const std::string& name : relative->Names()) {
            if (!names.empty())
                names += '/';
            names += name;
        }
    }
    const std::optional<std::string> path =
        climbed ? volume.ResolveNoCase(std::string(*climbed), names) : std::nullopt;
    const std::unique_ptr<CVolume::CFile> file = path ? volume.OpenFile(*path) : nullptr;
    if (!file)
        return Fixed(Source::NotFound, kNotFound);

    std::string content;
    switch (file->ReadAll(content, maxBytes)) {
    case CVolume::ReadStatus::Ok:
        break;
    case CVolume::ReadStatus::TooLarge:
        return Fixed(Source::TooLarge, kTooLarge);
    case CVolume::ReadStatus::ReadError:
        return Fixed(Source::ReadError, kReadError);
    }
    std::string_view text = content;
    text = text.substr(0, text.find('\0'));
    if (CountLineBreaks(text) > kMaxDescriptionLines)
        return Fixed(Source::TooLarge, kTooLarge);
    return {Source::File, Text::DecodeForDisplay(text)};
}

} // namespace

Result Build(const Descriptor::ReadKey& read, const CVolume& volume, const std::string& folder,
             std::size_t maxBytes)
{
    const std::string file = read("description", "file", Descriptor::kAbsent);
    if (!Descriptor::IsAbsent(file))
        return FromFile(volume, folder, file, maxBytes);

    // The pane's limits hold for lines as for a file: a descriptor of many megabytes of
    // lines would stall the window just the same. Reading stops at the first line past them.
    Result result{Source::Lines, {}};
    std::size_t lines = 0;
    std::size_t shownBytes = 0; // as a file would hold them: one break per line
    Descriptor::ForEachNumbered(read, "description", "line", [&](std::string&& line) {
        shownBytes += line.size() + 1;
        if (++lines > kMaxDescriptionLines || shownBytes > maxBytes) {
            result = Fixed(Source::TooLarge, kTooLarge);
            return false;
        }
        // Each line on its own: one line's encoding says nothing about the next.
        result.strText += Text::DecodeForDisplay(line);
        result.strText += kLineEnd;
        return true;
    });
    if (lines == 0)
        return Fixed(Source::None, kNoDescription);
    return result;
}

std::string ForDisplay(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
            continue;
        }
        if (text.substr(i, 3) == "\r\r\n")
            i += 2;
        else if (text.substr(i, 2) == "\r\n")
            i += 1;
        out += '\n';
    }
    return out;
}

} // namespace Description
