// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as description text: decoded for display, turned into the pane's line
// breaks, and built into a description both from numbered lines and from a file.
//
// For the build, the input's lines are the descriptor's values: when the first line starts
// with "file=", the rest of it is [description] file and the whole input is written to
// "ReadMe.Txt" in the application's folder; the other lines are line1, line2, ...

#include "FuzzSupport.h"

#include "catalogue/Description.h"
#include "catalogue/Descriptor.h"
#include "catalogue/Path.h"
#include "catalogue/Text.h"
#include "platform/MountedVolume.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

// Decodes each sequence to its code point and back: valid UTF-8 is exactly the text whose
// sequences are the shortest encodings of scalar values.
bool IsCanonicalUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t length = 1;
        char32_t cp = c;
        if (c >= 0xF0) {
            length = 4;
            cp = c & 0x07;
        } else if (c >= 0xE0) {
            length = 3;
            cp = c & 0x0F;
        } else if (c >= 0xC0) {
            length = 2;
            cp = c & 0x1F;
        } else if (c >= 0x80) {
            return false;
        }
        if (length > s.size() - i)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto cont = static_cast<unsigned char>(s[i + k]);
            if ((cont & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (cont & 0x3F);
        }
        const std::size_t shortest = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        if (c >= 0xF8 || shortest != length || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

const std::string& AppFolder()
{
    static const std::string folder = [] {
        namespace fs = std::filesystem;
        const fs::path root = Fuzz::ScratchFolder();
        fs::create_directories(root / "app" / "Docs");
        Fuzz::WriteFile(root / "app" / "Docs" / "Notes.txt", "Notes\r\n");
        Fuzz::WriteFile(root / "outside.txt", "outside\n");
        fs::create_symlink("..", root / "app" / "up");
        fs::create_symlink("loop", root / "app" / "loop");
        ::mkfifo((root / "app" / "pipe.txt").c_str(), 0644);
        return (root / "app").string();
    }();
    return folder;
}

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', start);
        lines.push_back(text.substr(start, lf - start));
        if (lf == std::string_view::npos)
            return lines;
        start = lf + 1;
    }
}

void CheckDecoding(std::string_view bytes)
{
    const bool bValid = Text::IsValidUtf8(bytes);
    FUZZ_CHECK(bValid == IsCanonicalUtf8(bytes));
    const std::string shown = Text::DecodeForDisplay(bytes);
    FUZZ_CHECK(Text::IsValidUtf8(shown));
    if (bValid) {
        FUZZ_CHECK(shown == bytes);
    } else if (shown.size() < bytes.size()) {
        // A value cut inside a character shows without that character.
        FUZZ_CHECK(bytes.size() == Text::kValueCut && bytes.size() - shown.size() <= 3);
        FUZZ_CHECK(bytes.starts_with(shown));
    } else {
        // Every byte becomes one character of one to three bytes; ASCII stays itself.
        FUZZ_CHECK(shown.size() >= bytes.size() && shown.size() <= 3 * bytes.size());
        FUZZ_CHECK(std::count_if(shown.begin(), shown.end(), [](char c) {
                       return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
                   }) == static_cast<std::ptrdiff_t>(bytes.size()));
    }
    FUZZ_CHECK(Text::DecodeForDisplay(shown) == shown);

    // The pane's text has no CR left, and converting it again changes nothing.
    const std::string display = Description::ForDisplay(shown);
    FUZZ_CHECK(display.find('\r') == std::string::npos);
    FUZZ_CHECK(Description::ForDisplay(display) == display);
    FUZZ_CHECK(Text::IsValidUtf8(display));
}

void CheckText(std::string_view bytes)
{
    const std::string lower = Text::ToLowerAscii(bytes);
    const std::string flipped = Fuzz::FlipAsciiCase(bytes);
    FUZZ_CHECK(Text::EqualsNoCase(bytes, lower) && Text::EqualsNoCase(flipped, bytes));
    FUZZ_CHECK(Text::CompareNoCase(bytes, flipped) == 0);
    const Text::NoCaseHash hash;
    FUZZ_CHECK(hash(bytes) == hash(lower) && hash(bytes) == hash(flipped));
    // Any two parts order one way round only, and equal exactly when equal without case.
    const std::string_view a = bytes.substr(0, bytes.size() / 2);
    const std::string_view b = bytes.substr(bytes.size() / 2);
    const int ab = Text::CompareNoCase(a, b);
    FUZZ_CHECK((ab > 0) == (Text::CompareNoCase(b, a) < 0));
    FUZZ_CHECK((ab == 0) == Text::EqualsNoCase(a, b));
    if (ab == 0)
        FUZZ_CHECK(hash(a) == hash(b));

    const auto [title, extension] = Path::SplitFileName(bytes);
    FUZZ_CHECK(std::string(title) + std::string(extension) == bytes);
    FUZZ_CHECK(extension.empty() || extension.front() == '.');
}

void CheckBuild(std::string_view bytes)
{
    const std::string& folder = AppFolder();
    const std::vector<std::string_view> lines = SplitLines(bytes);
    const bool bFileMode = lines.front().starts_with("file=");
    const std::string readme = folder + "/ReadMe.Txt";
    if (bFileMode)
        Fuzz::WriteFile(readme, bytes);

    const Descriptor::ReadKey read = [&](std::string_view section, std::string_view key,
                                         std::string_view defaultValue) -> std::string {
        FUZZ_CHECK(section == "description");
        if (key == "file")
            return std::string(bFileMode ? lines.front().substr(5) : defaultValue);
        FUZZ_CHECK(key.starts_with("line"));
        const std::size_t n = std::stoul(std::string(key.substr(4)));
        if (n < lines.size())
            return std::string(lines[n]);
        return std::string(defaultValue);
    };

    std::size_t nListed = 0;
    while (nListed + 1 < lines.size() && !Descriptor::IsAbsent(lines[nListed + 1]))
        ++nListed;

    const Description::Result result =
        Description::Build(read, CMountedVolume(Fuzz::ScratchFolder()), folder);
    FUZZ_CHECK(Text::IsValidUtf8(result.strText));
    switch (result.source) {
    case Description::Source::Lines: {
        FUZZ_CHECK(!bFileMode || Descriptor::IsAbsent(lines.front().substr(5)));
        FUZZ_CHECK(result.strText.ends_with(Description::kLineEnd));
        std::string expected;
        for (std::size_t n = 1; n <= nListed; ++n)
            expected += Text::DecodeForDisplay(lines[n]) + std::string(Description::kLineEnd);
        FUZZ_CHECK(result.strText == expected);
        break;
    }
    case Description::Source::None:
        FUZZ_CHECK(nListed == 0 && result.strText == Description::kNoDescription);
        break;
    case Description::Source::File:
        // Only the regular files the folder was given can be found.
        FUZZ_CHECK(bFileMode);
        FUZZ_CHECK(result.strText == Text::DecodeForDisplay(bytes.substr(0, bytes.find('\0'))) ||
                   result.strText == "Notes\r\n" || result.strText == "outside\n");
        break;
    case Description::Source::NotFound:
        FUZZ_CHECK(bFileMode && result.strText == Description::kNotFound);
        break;
    case Description::Source::TooLarge: {
        // Only the line cap can refuse an input this small; the pane counts a CR LF once.
        FUZZ_CHECK(bFileMode && result.strText == Description::kTooLarge);
        const std::string_view text = bytes.substr(0, bytes.find('\0'));
        std::size_t breaks = 0;
        for (std::size_t i = 0; i < text.size(); ++i)
            breaks += text[i] == '\n' || (text[i] == '\r' && !text.substr(i + 1).starts_with('\n'));
        FUZZ_CHECK(breaks > Description::kMaxDescriptionLines);
        break;
    }
    case Description::Source::ReadError:
        FUZZ_CHECK(false);
    }

    // A cap below the file's size refuses it, whatever its content.
    if (result.source == Description::Source::File && bytes.size() > 1 &&
        result.strText != "Notes\r\n" && result.strText != "outside\n") {
        const Description::Result capped = Description::Build(
            read, CMountedVolume(Fuzz::ScratchFolder()), folder, bytes.size() - 1);
        FUZZ_CHECK(capped.source == Description::Source::TooLarge);
        FUZZ_CHECK(capped.strText == Description::kTooLarge);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes = Fuzz::AsText(data, size);
    CheckDecoding(bytes);
    CheckText(bytes);
    CheckBuild(bytes);
    return 0;
}
