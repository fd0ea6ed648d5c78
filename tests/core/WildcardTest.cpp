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

TEST(Wildcard, CaseFoldingIsAsciiOnly)
{
    EXPECT_TRUE(Match("ABC.TXT", "abc.txt"));
    // Latin-1 and UTF-8 capitals are different bytes, whatever the locale says.
    EXPECT_FALSE(Match("\xC4.txt", "\xE4.txt"));
    EXPECT_FALSE(Match("\xC3\x84.txt", "\xC3\xA4.txt"));
    EXPECT_TRUE(Match("\xC3\x84*", "\xC3\x84rger.txt"));
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
