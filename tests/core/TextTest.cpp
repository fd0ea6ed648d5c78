// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Text.h"
#include "catalogue/Path.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

using namespace std::string_literals;

TEST(TextCase, EqualsFoldsAsciiLettersOnly)
{
    EXPECT_TRUE(Text::EqualsNoCase("Setup.EXE", "setup.exe"));
    EXPECT_TRUE(Text::EqualsNoCase("", ""));
    EXPECT_FALSE(Text::EqualsNoCase("abc", "abcd"));
    // '@' and '`', '[' and '{' differ by the case bit but are not letters.
    EXPECT_FALSE(Text::EqualsNoCase("@[", "`{"));
    // Capital and small e-acute in UTF-8, and in Windows-1252: bytes compare exactly.
    EXPECT_FALSE(Text::EqualsNoCase("\xC3\x89", "\xC3\xA9"));
    EXPECT_FALSE(Text::EqualsNoCase("\xC9", "\xE9"));
    EXPECT_EQ(Text::ToLowerAscii("MiXeD \xC9 Case_42"), "mixed \xC9 case_42");
}

TEST(TextCase, CompareOrdersAsIfLowerCased)
{
    EXPECT_EQ(Text::CompareNoCase("Games", "gAMES"), 0);
    EXPECT_LT(Text::CompareNoCase("apple", "Banana"), 0);
    EXPECT_GT(Text::CompareNoCase("Zebra", "apple"), 0);
    // '_' sits between the capitals and the small letters: folding must come first.
    EXPECT_LT(Text::CompareNoCase("_x", "Ax"), 0);
    EXPECT_LT(Text::CompareNoCase("abc", "ABCD"), 0);
    EXPECT_GT(Text::CompareNoCase("abcd", "ABC"), 0);
    // Bytes above 0x7F order after ASCII, as unsigned.
    EXPECT_LT(Text::CompareNoCase("z", "\xE9"), 0);
    EXPECT_GT(Text::CompareNoCase("\x80", "Z"), 0);
}

TEST(TextCase, HashAgreesWithEqualityAcrossWordBoundaries)
{
    const Text::NoCaseHash hash;
    // Every byte at every position of strings long enough to use whole words and a tail.
    for (std::size_t length : {1u, 7u, 8u, 9u, 17u}) {
        for (std::size_t pos = 0; pos < length; ++pos) {
            for (int c = 0; c < 256; ++c) {
                std::string s(length, 'q');
                s[pos] = static_cast<char>(c);
                std::string folded = s;
                folded[pos] = Text::FoldAscii(static_cast<char>(c));
                ASSERT_EQ(hash(s), hash(folded)) << "byte " << c << " at " << pos;
            }
        }
    }
    // Bytes whose low seven bits are a capital must not be folded.
    EXPECT_NE(hash("\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9"),
              hash("\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9"));
    EXPECT_NE(hash("@"), hash("`"));
    EXPECT_NE(hash("["), hash("{"));
    EXPECT_NE(hash("a"), hash("a\0"s));
    EXPECT_NE(hash(""), hash("\0"s));
}

TEST(TextCase, HashAndEqualServeTransparentLookups)
{
    std::unordered_set<std::string, Text::NoCaseHash, Text::NoCaseEqual> set{"Utilities", "Games"};
    EXPECT_TRUE(set.contains(std::string_view("UTILITIES")));
    EXPECT_TRUE(set.contains(std::string_view("games")));
    EXPECT_FALSE(set.contains(std::string_view("game")));
    EXPECT_FALSE(set.insert("GAMES").second);
}

TEST(TextCase, FoldedEqualityGoesBeyondAscii)
{
    EXPECT_TRUE(Text::EqualsFolded("\xC3\x89"
                                   "cole",
                                   "\xC3\xA9"
                                   "COLE"));                 // E acute
    EXPECT_TRUE(Text::EqualsFolded("\xC3\x9C", "\xC3\xBC")); // U diaeresis
    // Final and medial sigma, Kelvin sign and 'k': lengths in bytes differ.
    EXPECT_TRUE(Text::EqualsFolded("\xCE\xA3\xCE\x9F\xCE\xA3", "\xCF\x83\xCE\xBF\xCF\x82"));
    EXPECT_TRUE(Text::EqualsFolded("\xE2\x84\xAA", "K"));
    EXPECT_TRUE(Text::EqualsFolded("Setup.EXE", "setup.exe"));
    EXPECT_FALSE(Text::EqualsFolded("\xC3\x9F", "ss")); // sharp s
    EXPECT_FALSE(Text::EqualsFolded("\xC3\xA9", "e"));
    EXPECT_FALSE(Text::EqualsFolded("abc", "abcd"));
    EXPECT_FALSE(Text::EqualsFolded("@[", "`{"));
    // Bytes that are not UTF-8 (Windows-1252 capitals) fold as ASCII only.
    EXPECT_FALSE(Text::EqualsFolded("\xC9", "\xE9"));
    EXPECT_TRUE(Text::EqualsFolded("CAF\xE9", "caf\xE9"));
    EXPECT_FALSE(Text::EqualsFolded("\xC3", "\xC3\xA9"));

    const Text::NoCaseHash hash;
    EXPECT_EQ(hash("\xC3\x89"
                   "COLE NORMALE"),
              hash("\xC3\xA9"
                   "cole normale"));
    EXPECT_EQ(hash("\xE2\x84\xAA"), hash("k"));
    EXPECT_EQ(hash("twelve bytes\xC3\x9C"
                   "ber"),
              hash("TWELVE BYTES\xC3\xBC"
                   "BER"));
    std::unordered_set<std::string, Text::NoCaseHash, Text::NoCaseEqual> set{"\xC3\x89t\xC3\xA9"};
    EXPECT_TRUE(set.contains(std::string_view("\xC3\xA9T\xC3\x89")));
    EXPECT_FALSE(set.contains(std::string_view("ete")));
}

TEST(TextCase, ToLowerMapsWholeCharacters)
{
    EXPECT_EQ(Text::ToLower(".\xC3\x89XE"), ".\xC3\xA9xe");
    EXPECT_EQ(Text::ToLower(".\xD0\x94\xD0\x9E\xD0\x9A"), ".\xD0\xB4\xD0\xBE\xD0\xBA"); // Cyrillic
    EXPECT_EQ(Text::ToLower(".\xF0\x90\x90\x80"), ".\xF0\x90\x90\xA8"); // Deseret, four bytes
    EXPECT_EQ(Text::ToLower("MiXeD \xC9 Case\xC3"), "mixed \xC9 case\xC3");
}

TEST(TextUtf8, AcceptsWellFormedText)
{
    EXPECT_TRUE(Text::IsValidUtf8(""));
    EXPECT_TRUE(Text::IsValidUtf8("plain ASCII, long enough for whole words"));
    EXPECT_TRUE(Text::IsValidUtf8("caf\xC3\xA9"));      // U+00E9
    EXPECT_TRUE(Text::IsValidUtf8("\xC2\x80"));         // U+0080, smallest two-byte
    EXPECT_TRUE(Text::IsValidUtf8("\xE0\xA0\x80"));     // U+0800, smallest three-byte
    EXPECT_TRUE(Text::IsValidUtf8("\xE2\x82\xAC"));     // euro sign
    EXPECT_TRUE(Text::IsValidUtf8("\xED\x9F\xBF"));     // U+D7FF, just below surrogates
    EXPECT_TRUE(Text::IsValidUtf8("\xEE\x80\x80"));     // U+E000, just above them
    EXPECT_TRUE(Text::IsValidUtf8("\xEF\xBF\xBF"));     // U+FFFF
    EXPECT_TRUE(Text::IsValidUtf8("\xF0\x90\x80\x80")); // U+10000
    EXPECT_TRUE(Text::IsValidUtf8("\xF4\x8F\xBF\xBF")); // U+10FFFF, the last
    EXPECT_TRUE(Text::IsValidUtf8("0123456789\xF0\x9F\x98\x80tail")); // after a word of ASCII
    EXPECT_TRUE(Text::IsValidUtf8("nul \0 inside"s));
}

TEST(TextUtf8, RejectsOverlongsSurrogatesAndOutOfRange)
{
    const char* const bad[] = {
        "\x80",             // stray continuation byte
        "\xC0\x80",         // overlong NUL
        "\xC1\xBF",         // overlong U+007F
        "\xE0\x80\x80",     // overlong
        "\xE0\x9F\xBF",     // overlong U+07FF
        "\xED\xA0\x80",     // U+D800
        "\xED\xBF\xBF",     // U+DFFF
        "\xF0\x8F\xBF\xBF", // overlong U+FFFF
        "\xF4\x90\x80\x80", // U+110000
        "\xF5\x80\x80\x80",
        "\xFE",
        "\xFF",
        "\xC3",         // truncated
        "\xE2\x82",     // truncated
        "\xF0\x9F\x98", // truncated
        "\xC3\x28",     // continuation missing
        "\xE2\x28\xAC",
        "caf\xE9",             // Windows-1252
        "0123456789abcde\xE9", // after a word of ASCII
    };
    for (const char* s : bad)
        EXPECT_FALSE(Text::IsValidUtf8(s)) << ::testing::PrintToString(std::string(s));
}

TEST(TextDisplay, KeepsUtf8AndDecodesEverythingElseAsWindows1252)
{
    EXPECT_EQ(Text::DecodeForDisplay("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(Text::DecodeForDisplay("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(Text::DecodeForDisplay("\x80"), "\xE2\x82\xAC");
    EXPECT_EQ(Text::DecodeForDisplay("\x9F"), "\xC5\xB8");     // Y with diaeresis
    EXPECT_EQ(Text::DecodeForDisplay("\x85"), "\xE2\x80\xA6"); // ellipsis
    EXPECT_EQ(Text::DecodeForDisplay("\xA0\xFF"), "\xC2\xA0\xC3\xBF");
    // One bad byte makes the whole text Windows-1252, valid sequences included.
    EXPECT_EQ(Text::DecodeForDisplay("\xC3\xA9\xE9"), "\xC3\x83\xC2\xA9\xC3\xA9");
    // The five bytes Windows-1252 leaves undefined keep their own code points.
    for (const char* b : {"\x81", "\x8D", "\x8F", "\x90", "\x9D"}) {
        const auto c = static_cast<unsigned char>(b[0]);
        const std::string expected{'\xC2', static_cast<char>(c)};
        EXPECT_EQ(Text::DecodeForDisplay(b), expected);
    }
}

TEST(TextDisplay, ValueCutInsideACharacterDropsThatCharacter)
{
    const std::size_t cut = Text::kValueCut;
    for (const std::string tail : {"\xC3", "\xE2\x82", "\xF0\x9F\x98"}) {
        const std::string text = std::string(cut - tail.size() - 2, 'a') + "\xC3\xA9" + tail;
        EXPECT_EQ(Text::DecodeForDisplay(text), text.substr(0, cut - tail.size()));
    }
    // A bad byte before the cut, a tail no character starts with, or another length:
    // Windows-1252 as before.
    const std::string bad = "\xE9" + std::string(cut - 2, 'a') + "\xC3";
    EXPECT_EQ(Text::DecodeForDisplay(bad).substr(0, 2), "\xC3\xA9");
    EXPECT_EQ(Text::DecodeForDisplay(std::string(cut - 2, 'a') + "\xE0\x80").substr(cut - 2),
              "\xC3\xA0\xE2\x82\xAC");
    EXPECT_EQ(Text::DecodeForDisplay(std::string(cut - 2, 'a') + "\xC3\x28").substr(cut - 2),
              "\xC3\x83(");
    EXPECT_EQ(Text::DecodeForDisplay(std::string(cut, 'a') + "\xC3").substr(cut), "\xC3\x83");
    EXPECT_EQ(Text::DecodeForDisplay("Caf\xE9"), "Caf\xC3\xA9");
}

TEST(TextDisplay, NoByteIsLost)
{
    // Each of the 128 high bytes becomes its own character, so distinct names stay distinct.
    std::unordered_set<std::string> seen;
    for (int c = 0x80; c < 0x100; ++c) {
        const std::string shown = Text::DecodeForDisplay(std::string(1, static_cast<char>(c)));
        EXPECT_TRUE(Text::IsValidUtf8(shown));
        EXPECT_TRUE(seen.insert(shown).second) << "byte " << c;
    }
    EXPECT_EQ(Text::DecodeForDisplay("a\0\xE9"s), "a\0\xC3\xA9"s);
}

TEST(TextPath, JoinUsesExactlyOneSlash)
{
    EXPECT_EQ(Path::Join("/", "a"), "/a");
    EXPECT_EQ(Path::Join("/media/cd", "app.brw"), "/media/cd/app.brw");
    EXPECT_EQ(Path::Join("/media/cd/", "app.brw"), "/media/cd/app.brw");
    EXPECT_EQ(Path::Join("/media/cd", "/app.brw"), "/media/cd/app.brw");
    EXPECT_EQ(Path::Join("", "app.brw"), "app.brw");
    EXPECT_EQ(Path::Join("rel", "sub/x.txt"), "rel/sub/x.txt");
    // An empty name names the folder followed by a separator, which opens as no file.
    EXPECT_EQ(Path::Join("/media/cd", ""), "/media/cd/");
}

TEST(TextPath, FolderOfDropsTheLastComponent)
{
    EXPECT_EQ(Path::FolderOf("/media/cd/app.brw"), "/media/cd");
    EXPECT_EQ(Path::FolderOf("/app.brw"), "/");
    EXPECT_EQ(Path::FolderOf("app.brw"), "");
}

TEST(TextPath, SplitFileNameAtTheLastDot)
{
    using Split = std::pair<std::string_view, std::string_view>;
    EXPECT_EQ(Path::SplitFileName("readme"), Split("readme", ""));
    EXPECT_EQ(Path::SplitFileName("Setup.EXE"), Split("Setup", ".EXE"));
    EXPECT_EQ(Path::SplitFileName(".profile"), Split("", ".profile"));
    EXPECT_EQ(Path::SplitFileName("file."), Split("file", "."));
    EXPECT_EQ(Path::SplitFileName("a.b.c"), Split("a.b", ".c"));
    EXPECT_EQ(Path::SplitFileName(""), Split("", ""));
}
