// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool Match(std::string_view pattern, std::string_view name)
{
    return CWildcard(pattern).Matches(name);
}

TEST(Wildcard, EmptyPatternMatchesNothing)
{
    EXPECT_FALSE(Match("", "a"));
    EXPECT_FALSE(Match("", ""));
    EXPECT_FALSE(Match("", "."));
}

TEST(Wildcard, EverythingPatterns)
{
    for (const char* pattern : {"*", "*.*", "**", "***"}) {
        for (const char* name : {"a", "noext", "a.b", ".profile", "a.b.c", "trailing."})
            EXPECT_TRUE(Match(pattern, name)) << pattern << " vs " << name;
    }
}

TEST(Wildcard, StarDotMatchesOnlyNamesWithoutExtension)
{
    EXPECT_TRUE(Match("*.", "readme"));
    EXPECT_TRUE(Match("*.", "Makefile"));
    EXPECT_FALSE(Match("*.", "a.b"));
    EXPECT_FALSE(Match("*.", "a.b.c"));
    EXPECT_FALSE(Match("*.", ".profile"));
    // A trailing dot is a dot that matches nothing at the end of the name.
    EXPECT_TRUE(Match("readme.", "README"));
    EXPECT_FALSE(Match("readme.", "readme.txt"));
}

TEST(Wildcard, SuffixPatternsIgnoreAsciiCase)
{
    EXPECT_TRUE(Match("*.brw", "app.brw"));
    EXPECT_TRUE(Match("*.brw", "APP.BRW"));
    EXPECT_TRUE(Match("*.BrW", "app.bRw"));
    EXPECT_TRUE(Match("*.brw", "two.dots.brw"));
    EXPECT_TRUE(Match("*.brw", ".brw"));
    EXPECT_FALSE(Match("*.brw", "app.brw.bak"));
    EXPECT_FALSE(Match("*.brw", "app.brwx"));
    EXPECT_FALSE(Match("*.brw", "brw"));
    EXPECT_FALSE(Match("*.brw", "appbrw"));
    EXPECT_TRUE(Match("*end", "theEND"));
    EXPECT_FALSE(Match("*end", "en"));
}

TEST(Wildcard, CaseFoldingCoversUtf8AndNoOtherBytes)
{
    EXPECT_TRUE(Match("ABC.TXT", "abc.txt"));
    EXPECT_TRUE(Match("\xC3\x84.txt", "\xC3\xA4.txt"));
    EXPECT_TRUE(Match("\xC3\x84*", "\xC3\xA4rger.txt"));
    EXPECT_TRUE(Match("*.\xD0\x94\xD0\x9E\xD0\x9A", "x.\xD0\xB4\xD0\xBE\xD0\xBA"));
    // An ASCII suffix still meets characters that fold onto ASCII (the Kelvin sign).
    EXPECT_TRUE(Match("*zabk", "zab\xE2\x84\xAA"));
    EXPECT_TRUE(Match("*.txt", "caf\xC3\xA9.TXT"));
    // Windows-1252 capitals are not UTF-8: those bytes compare exactly, whatever the locale.
    EXPECT_FALSE(Match("\xC4.txt", "\xE4.txt"));
    EXPECT_TRUE(Match("\xC4.TXT", "\xC4.txt"));
    // '@' and '`' sit next to the letters and must not fold onto them.
    EXPECT_FALSE(Match("@", "`"));
    EXPECT_FALSE(Match("[", "{"));
}

TEST(Wildcard, QuestionMarkTakesOneNonDotOrNothingAtDotAndEnd)
{
    EXPECT_TRUE(Match("file?.txt", "file.txt"));
    EXPECT_TRUE(Match("file?.txt", "file1.txt"));
    EXPECT_FALSE(Match("file?.txt", "file12.txt"));
    EXPECT_TRUE(Match("ab?", "ab"));
    EXPECT_TRUE(Match("ab?", "abc"));
    EXPECT_FALSE(Match("ab?", "abcd"));
    EXPECT_TRUE(Match("ab??", "ab"));
    EXPECT_TRUE(Match("ab??", "abc"));
    EXPECT_TRUE(Match("???.txt", "ab.txt"));
    EXPECT_FALSE(Match("a?c", "ac"));
    EXPECT_TRUE(Match("a?c", "abc"));
    EXPECT_FALSE(Match("a?b", "a.b"));
    // One character, whatever its length in bytes; a byte that is not UTF-8 is one too.
    EXPECT_TRUE(Match("caf?.txt", "caf\xC3\xA9.txt"));
    EXPECT_TRUE(Match("?", "\xF0\x9F\x98\x80"));
    EXPECT_FALSE(Match("a?c", "a\xC3\xA9\xC3\xA9"
                              "c"));
    EXPECT_TRUE(Match("a??c", "a\xC3\xA9\xC3\xA9"
                              "c"));
    EXPECT_TRUE(Match("a?c", "a\xE9"
                             "c"));
    EXPECT_FALSE(Match("a?c", "a\xE2\x82"
                              "c"));
}

TEST(Wildcard, DotBeforeWildcardMayMatchNothingAtTheEnd)
{
    EXPECT_TRUE(Match("foo.*", "foo"));
    EXPECT_TRUE(Match("foo.*", "foo.bar"));
    EXPECT_FALSE(Match("foo.*", "foobar"));
    EXPECT_TRUE(Match("a.?", "a"));
    EXPECT_TRUE(Match("a.?", "a.b"));
    EXPECT_FALSE(Match("a.?", "a.bc"));
    // "*.?": any name whose extension has at most one character, or none.
    EXPECT_TRUE(Match("*.?", "abc"));
    EXPECT_TRUE(Match("*.?", "a.b.c"));
    EXPECT_FALSE(Match("*.?", "a.b.cd"));
}

TEST(Wildcard, StarBeforeDotKeepsTheLastDot)
{
    EXPECT_FALSE(Match("*.", "a.b"));
    EXPECT_TRUE(Match("x*.y*", "x1.2.yz"));
    EXPECT_TRUE(Match("*.t?t", "a.b.txt"));
    EXPECT_FALSE(Match("*.t?t", "a.txt.b"));
    // A star not followed by a dot swallows dots freely.
    EXPECT_TRUE(Match("a*b", "a.x.b"));
    EXPECT_TRUE(Match("*x*", "1.x.2"));
}

TEST(Wildcard, OtherCharactersAreLiteral)
{
    EXPECT_TRUE(Match("[a].txt", "[a].txt"));
    EXPECT_FALSE(Match("[a].txt", "a.txt"));
    EXPECT_TRUE(Match("\\x", "\\X"));
    EXPECT_TRUE(Match("a b", "A B"));
    EXPECT_FALSE(Match("a", "ab"));
    EXPECT_FALSE(Match("ab", "a"));
}

TEST(Wildcard, HostilePatternsEndWithoutBacktracking)
{
    std::string pattern;
    for (int i = 0; i < 120; ++i)
        pattern += "*a";
    pattern += "*b";
    const std::string name(255, 'a');
    EXPECT_FALSE(Match(pattern, name));
    EXPECT_TRUE(Match(pattern, name + "b"));

    std::string questions(4095, '?');
    EXPECT_TRUE(Match(questions, name));
    questions[100] = '*';
    EXPECT_TRUE(Match(questions, "x.y"));
    EXPECT_FALSE(Match(std::string(4095, 'a'), name));
}

} // namespace
