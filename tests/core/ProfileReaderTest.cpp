// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ProfileReader.h"

#include "platform/MountedVolume.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::string_literals;

namespace {

class ProfileReaderTest : public ::testing::Test {
protected:
    // Writes content as x.brw and reads one key from it.
    std::string Read(std::string_view content, std::string_view section, std::string_view key,
                     std::string_view defaultValue = "DEFAULT")
    {
        const std::string path = m_tree.WriteFile("x.brw", content);
        return m_reader.GetString(m_volume, path, section, key, defaultValue);
    }

    // Reads path in a forked child so that a reader that blocks fails the test instead of
    // hanging it. True when the child got defaultValue back in time.
    static bool ChildGetsDefaultPromptly(const std::string& path)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(10);
            CProfileReader reader;
            ::_exit(reader.GetString(CMountedVolume("/"), path, "info", "name", "untitled") ==
                            "untitled"
                        ? 0
                        : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    CTempTree m_tree;
    const CMountedVolume m_volume{m_tree.Root()};
    CProfileReader m_reader;
};

TEST_F(ProfileReaderTest, NamesIgnoreCaseAndSurroundingBlanks)
{
    const std::string file = "[Info]\n category \t= Games\n\vNAME\v=\tDisk Doctor \t\v\n"
                             "my key = spaced\n";
    EXPECT_EQ(Read(file, "info", "category"), "Games");
    EXPECT_EQ(Read(file, "INFO", "Category"), "Games");
    EXPECT_EQ(Read(file, "info", "name"), "Disk Doctor");
    EXPECT_EQ(Read(file, "info", "my key"), "spaced");
    EXPECT_EQ(Read(file, "info", "mykey"), "DEFAULT");
    // Non-ASCII letters are not folded.
    EXPECT_EQ(Read("[\xC3\x89t\xC3\xA9]\nk=v\n", "\xC3\x89t\xC3\xA9", "K"), "v");
    EXPECT_EQ(Read("[\xC3\x89t\xC3\xA9]\nk=v\n", "\xC3\xA9t\xC3\xA9", "k"), "DEFAULT");
}

TEST_F(ProfileReaderTest, ValueIsTextAfterTheFirstEqualsSign)
{
    EXPECT_EQ(Read("[s]\nk=a=b = c\n", "s", "k"), "a=b = c");
    EXPECT_EQ(Read("[s]\nk=\n", "s", "k"), "");
    EXPECT_EQ(Read("[s]\nk=   \n", "s", "k"), "");
    EXPECT_EQ(Read("[s]\nk = x ;not a comment\n", "s", "k"), "x ;not a comment");
    EXPECT_EQ(Read("[s]\nk=\\n%s\\\n", "s", "k"), "\\n%s\\");
}

TEST_F(ProfileReaderTest, OnePairOfMatchingQuotesIsDropped)
{
    EXPECT_EQ(Read("[s]\nk=\"quoted\"\n", "s", "k"), "quoted");
    EXPECT_EQ(Read("[s]\nk='single'\n", "s", "k"), "single");
    EXPECT_EQ(Read("[s]\nk =  \"  inner blanks  \"  \n", "s", "k"), "  inner blanks  ");
    EXPECT_EQ(Read("[s]\nk=\"\"\"twice\"\"\"\n", "s", "k"), "\"\"twice\"\"");
    EXPECT_EQ(Read("[s]\nk=\"\"\n", "s", "k"), "");
    EXPECT_EQ(Read("[s]\nk=\"mismatched'\n", "s", "k"), "\"mismatched'");
    EXPECT_EQ(Read("[s]\nk=\"open\n", "s", "k"), "\"open");
    EXPECT_EQ(Read("[s]\nk=\"\n", "s", "k"), "\"");
    EXPECT_EQ(Read("[s]\nk=say \"hi\"\n", "s", "k"), "say \"hi\"");
}

TEST_F(ProfileReaderTest, LongValuesAreCutTo4095Bytes)
{
    const std::string value5000 = [] {
        std::string s;
        for (int i = 0; i < 5000; ++i)
            s += static_cast<char>('a' + i % 26);
        return s;
    }();
    EXPECT_EQ(Read("[s]\nk=" + value5000 + "\n", "s", "k"), value5000.substr(0, 4095));
    EXPECT_EQ(Read("[s]\nk=" + value5000.substr(0, 4095) + "\n", "s", "k").size(), 4095u);
    EXPECT_EQ(Read("[s]\nk=" + value5000.substr(0, 4096) + "\n", "s", "k").size(), 4095u);
    // The cut applies after the quotes are dropped.
    EXPECT_EQ(Read("[s]\nk=\"" + value5000 + "\"\n", "s", "k"), value5000.substr(0, 4095));
    // Defaults go through the same buffer.
    EXPECT_EQ(Read("", "s", "k", value5000), value5000.substr(0, 4095));
}

TEST_F(ProfileReaderTest, AllLineEndsSplitLines)
{
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        const std::string file = "[s]"s + eol + "a=1" + eol + "b=2" + eol + "[t]" + eol + "c=3";
        EXPECT_EQ(Read(file, "s", "a"), "1") << ::testing::PrintToString(eol);
        EXPECT_EQ(Read(file, "s", "b"), "2") << ::testing::PrintToString(eol);
        EXPECT_EQ(Read(file, "t", "c"), "3") << ::testing::PrintToString(eol);
    }
    const std::string mixed = "[s]\r\na=1\r\rb=2\n\rc=3\r\n\r\nd=4";
    EXPECT_EQ(Read(mixed, "s", "a"), "1");
    EXPECT_EQ(Read(mixed, "s", "b"), "2");
    EXPECT_EQ(Read(mixed, "s", "c"), "3");
    EXPECT_EQ(Read(mixed, "s", "d"), "4");
}

TEST_F(ProfileReaderTest, SemicolonLinesAreCommentsHashLinesAreNot)
{
    const std::string file = "[s]\n;a=comment\n \t;b=indented comment\n#c=hash\n";
    EXPECT_EQ(Read(file, "s", "a"), "DEFAULT");
    EXPECT_EQ(Read(file, "s", ";a"), "DEFAULT");
    EXPECT_EQ(Read(file, "s", "b"), "DEFAULT");
    EXPECT_EQ(Read(file, "s", "#c"), "hash");
    EXPECT_EQ(Read(";[s]\nk=v\n", "s", "k"), "DEFAULT");
}

TEST_F(ProfileReaderTest, FirstSectionAndFirstKeyWin)
{
    const std::string file = "[info]\nname=one\nname=two\n"
                             "[other]\nx=1\n"
                             "[INFO]\nname=three\ncategory=late\n";
    EXPECT_EQ(Read(file, "info", "name"), "one");
    // Keys of a repeated section are never looked at.
    EXPECT_EQ(Read(file, "info", "category"), "DEFAULT");
    EXPECT_EQ(Read(file, "other", "x"), "1");
}

TEST_F(ProfileReaderTest, SectionLines)
{
    // The name ends at the first ']'; the rest of the line does not matter.
    EXPECT_EQ(Read("[info] trailing [junk]\nk=v\n", "info", "k"), "v");
    EXPECT_EQ(Read("  [ info ]\nk=v\n", "info", "k"), "v");
    EXPECT_EQ(Read("[]\nk=v\n", "", "k"), "v");
    EXPECT_EQ(Read("[a]b]\nk=v\n", "a", "k"), "v");
    // Without ']' the name runs to the end of the line, blanks around it trimmed.
    const std::string unclosed = "[a]\nk=1\n[Name \t \nj=2\n";
    EXPECT_EQ(Read(unclosed, "name", "j"), "2");
    EXPECT_EQ(Read(unclosed, "a", "j"), "DEFAULT");
    EXPECT_EQ(Read(unclosed, "a", "k"), "1");
    EXPECT_EQ(Read("[ info\r\ncategory=Tools\r\n", "info", "category"), "Tools");
    EXPECT_EQ(Read("[\nk=v\n", "", "k"), "v");
    // Lines without '=' are skipped, not taken as the end of the section.
    EXPECT_EQ(Read("[a]\njust words\nk=v\n", "a", "k"), "v");
}

TEST_F(ProfileReaderTest, ManySectionsOfOneFileReadInAnyOrder)
{
    std::string file;
    for (int i = 0; i < 40; ++i)
        file += "[s" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
    file += "[s7]\nk=repeated\nextra=1\n";
    const std::string path = m_tree.WriteFile("many.brw", file);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 40; ++i) {
            const int n = round == 1 ? 39 - i : i;
            ASSERT_EQ(m_reader.GetString(m_volume, path, "S" + std::to_string(n), "K", ""),
                      std::to_string(n));
        }
        EXPECT_EQ(m_reader.GetString(m_volume, path, "s7", "extra", "none"), "none");
        EXPECT_EQ(m_reader.GetString(m_volume, path, "s40", "k", "none"), "none");
    }
    EXPECT_EQ(m_reader.ParseCount(), 1u);
}

TEST_F(ProfileReaderTest, LinesBeforeTheFirstSectionCannotBeRead)
{
    const std::string file = "k=orphan\n[s]\nother=1\n";
    EXPECT_EQ(Read(file, "", "k"), "DEFAULT");
    EXPECT_EQ(Read(file, "s", "k"), "DEFAULT");
}

TEST_F(ProfileReaderTest, ByteOrderMarkOnlyAtTheStart)
{
    EXPECT_EQ(Read("\xEF\xBB\xBF[info]\nname=x\n", "info", "name"), "x");
    EXPECT_EQ(Read("[info]\n\xEF\xBB\xBFname=x\n", "info", "name"), "DEFAULT");
    EXPECT_EQ(Read("[info]\n\xEF\xBB\xBFname=x\n", "info", "\xEF\xBB\xBFname"), "x");
}

TEST_F(ProfileReaderTest, NulBytesEndValuesButNotLines)
{
    const std::string file = "[s]\n"
                             "a=ab\0cd\n"
                             "junk\0=\0\n"
                             "b=after\n"
                             "q=\"x\0y\"\n"s;
    EXPECT_EQ(Read(file, "s", "a"), "ab");
    EXPECT_EQ(Read(file, "s", "b"), "after");
    // Quotes go first, as the file holds them; then the value ends at the NUL.
    EXPECT_EQ(Read(file, "s", "q"), "x");
    EXPECT_EQ(Read("[s]\na=1\n"s, "s", "a\0ignored"s), "1");
    EXPECT_EQ(Read("", "s", "a", "def\0ault"s), "def");
}

TEST_F(ProfileReaderTest, DefaultsLoseTrailingSpacesOnly)
{
    EXPECT_EQ(Read("", "s", "k", "  padded  "), "  padded");
    EXPECT_EQ(Read("", "s", "k", "tab\t"), "tab\t");
    EXPECT_EQ(Read("", "s", "k", ""), "");
    EXPECT_EQ(m_reader.GetString(m_volume, m_tree.Path("missing.brw"), "s", "k", "-1 "), "-1");
}

TEST_F(ProfileReaderTest, MissingFileSectionOrKeyGiveTheDefault)
{
    EXPECT_EQ(m_reader.GetString(m_volume, m_tree.Path("none.brw"), "info", "category", "nil"),
              "nil");
    EXPECT_EQ(m_reader.GetString(m_volume, m_tree.Path("no/such/folder/x.brw"), "s", "k", "d"),
              "d");
    EXPECT_EQ(m_reader.GetString(m_volume, "", "s", "k", "d"), "d");
    EXPECT_EQ(Read("[other]\ncategory=x\n", "info", "category", "nil"), "nil");
    EXPECT_EQ(Read("[info]\nname=x\n", "info", "category", "nil"), "nil");
    EXPECT_EQ(Read("", "info", "category", "nil"), "nil");
}

TEST_F(ProfileReaderTest, HugeLinesDoNotHideLaterKeys)
{
    std::string file = "[s]\nbig=";
    file.append(10u << 20, 'x');
    file += "\nafter=1\n";
    file.append(10u << 20, '[');
    file += "\r[t]\r\nk=2\r";
    EXPECT_EQ(Read(file, "s", "big"), std::string(4095, 'x'));
    EXPECT_EQ(Read(file, "s", "after"), "1");
    EXPECT_EQ(Read(file, "t", "k"), "2");
}

TEST_F(ProfileReaderTest, BinaryJunkIsSurvived)
{
    std::mt19937 random(12345);
    std::string junk(1u << 20, '\0');
    for (char& c : junk)
        c = static_cast<char>(random());
    EXPECT_EQ(Read(junk, "info", "category", "nil"), "nil");
    EXPECT_EQ(Read(junk + "\n[info]\ncategory=found\n", "info", "category", "nil"), "found");
}

TEST_F(ProfileReaderTest, OnlyRegularFilesAreOpened)
{
    const std::string fifo = m_tree.MakeFifo("fifo.brw");
    EXPECT_TRUE(ChildGetsDefaultPromptly(fifo));
    EXPECT_TRUE(ChildGetsDefaultPromptly(m_tree.MakeLink("link-to-fifo.brw", fifo)));
    EXPECT_TRUE(ChildGetsDefaultPromptly(m_tree.MakeSocket("s.brw")));
    EXPECT_TRUE(ChildGetsDefaultPromptly("/dev/null"));

    m_tree.WriteFile("folder.brw/[info]", "");
    EXPECT_EQ(m_reader.GetString(m_volume, m_tree.Path("folder.brw"), "info", "name", "untitled"),
              "untitled");

    const std::string real = m_tree.WriteFile("real.brw", "[info]\nname=linked\n");
    EXPECT_EQ(
        m_reader.GetString(m_volume, m_tree.MakeLink("link.brw", real), "info", "name", "untitled"),
        "linked");
}

TEST_F(ProfileReaderTest, OversizedFileGivesTheDefault)
{
    // Sparse: the size alone must refuse it, before any byte is read.
    const std::string path = m_tree.WriteFile("huge.brw", "[info]\nname=huge\n");
    std::filesystem::resize_file(path, (std::uintmax_t{256} << 20) + 1);
    EXPECT_EQ(m_reader.GetString(m_volume, path, "info", "name", "untitled"), "untitled");
}

TEST_F(ProfileReaderTest, UnreadableFileGivesTheDefault)
{
    const std::string locked = m_tree.WriteFile("locked.brw", "[info]\nname=secret\n");
    const std::string open = m_tree.WriteFile("open.brw", "[info]\nname=visible\n");
    m_tree.SetMode("locked.brw", 0);
    EXPECT_TRUE(RunUnprivileged([&] {
        CProfileReader reader;
        return reader.GetString(m_volume, locked, "info", "name", "untitled") == "untitled" &&
               reader.GetString(m_volume, open, "info", "name", "untitled") == "visible";
    }));
}

TEST_F(ProfileReaderTest, CacheParsesOnceUntilTheFileChanges)
{
    std::string file = "[description]\n";
    for (int i = 1; i <= 5000; ++i)
        file += "line" + std::to_string(i) + "=text " + std::to_string(i) + "\n";
    const std::string path = m_tree.WriteFile("app.brw", file);
    for (int i = 1; i <= 5000; ++i) {
        ASSERT_EQ(
            m_reader.GetString(m_volume, path, "description", "line" + std::to_string(i), "-1"),
            "text " + std::to_string(i));
    }
    EXPECT_EQ(m_reader.GetString(m_volume, path, "description", "line5001", "-1"), "-1");
    EXPECT_EQ(m_reader.ParseCount(), 1u);

    m_tree.WriteFile("app.brw", "[description]\nline1=changed and longer\n");
    EXPECT_EQ(m_reader.GetString(m_volume, path, "description", "line1", "-1"),
              "changed and longer");
    EXPECT_EQ(m_reader.GetString(m_volume, path, "description", "line2", "-1"), "-1");
    EXPECT_EQ(m_reader.ParseCount(), 2u);

    ::unlink(path.c_str());
    EXPECT_EQ(m_reader.GetString(m_volume, path, "description", "line1", "-1"), "-1");
}

TEST_F(ProfileReaderTest, CacheSeesSameSizeRewrites)
{
    // Straight after a read, within one tick of the file system's clock.
    const std::string path = m_tree.WriteFile("app.brw", "[info]\nname=1111\n");
    EXPECT_EQ(m_reader.GetString(m_volume, path, "info", "name", "untitled"), "1111");
    m_tree.WriteFile("app.brw", "[info]\nname=2222\n");
    EXPECT_EQ(m_reader.GetString(m_volume, path, "info", "name", "untitled"), "2222");
    EXPECT_EQ(m_reader.GetString(m_volume, path, "info", "name", "untitled"), "2222");
    EXPECT_EQ(m_reader.ParseCount(), 2u);

    m_tree.WriteFile("app.brw", "[info]\nname=AAAA\n");
    const timespec fixed[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), fixed, 0), 0);
    EXPECT_EQ(m_reader.GetString(m_volume, path, "info", "name", "untitled"), "AAAA");

    // Same size, in place: only the modification time tells.
    m_tree.WriteFile("app.brw", "[info]\nname=BBBB\n");
    const timespec later[2] = {{1000000000, 1}, {1000000000, 1}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    EXPECT_EQ(m_reader.GetString(m_volume, path, "info", "name", "untitled"), "BBBB");

    // Same size and modification time, but a new file put in place.
    m_tree.WriteFile("new.brw", "[info]\nname=CCCC\n");
    ASSERT_EQ(::utimensat(AT_FDCWD, m_tree.Path("new.brw").c_str(), later, 0), 0);
    ASSERT_EQ(::rename(m_tree.Path("new.brw").c_str(), path.c_str()), 0);
    EXPECT_EQ(m_reader.GetString(m_volume, path, "info", "name", "untitled"), "CCCC");
    EXPECT_EQ(m_reader.ParseCount(), 5u);
}

TEST_F(ProfileReaderTest, CacheHoldsSeveralFilesAtOnce)
{
    std::string paths[4];
    for (int i = 0; i < 4; ++i)
        paths[i] = m_tree.WriteFile("app" + std::to_string(i) + ".brw",
                                    "[info]\nname=app " + std::to_string(i) + "\n");
    for (int round = 0; round < 10; ++round) {
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(m_reader.GetString(m_volume, paths[i], "info", "name", ""),
                      "app " + std::to_string(i));
    }
    EXPECT_EQ(m_reader.ParseCount(), 4u);
}

} // namespace
