// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Description.h"

#include "catalogue/ProfileReader.h"
#include "platform/MountedVolume.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::string_literals;
using Description::Source;

namespace {

class DescriptionTest : public ::testing::Test {
protected:
    // Writes the descriptor of the application in folder "app" and builds its description.
    Description::Result Build(std::string_view descriptor,
                              std::size_t maxBytes = Description::kMaxDescriptionBytes)
    {
        return BuildIn(m_tree.Path("app"), descriptor, maxBytes);
    }

    Description::Result BuildIn(const std::string& folder, std::string_view descriptor,
                                std::size_t maxBytes = Description::kMaxDescriptionBytes)
    {
        return BuildFrom(m_tree.WriteFile("app/app.brw", descriptor), folder, maxBytes);
    }

    static Description::Result BuildFrom(const std::string& descriptorPath,
                                         const std::string& folder,
                                         std::size_t maxBytes = Description::kMaxDescriptionBytes)
    {
        CProfileReader reader;
        const CMountedVolume volume("/");
        return Description::Build(Descriptor::ReaderFor(reader, volume, descriptorPath), volume,
                                  folder, maxBytes);
    }

    // Builds in a forked child, so that an open or read that blocks fails the test instead of
    // hanging it. True when the child reported "not found" in time.
    bool ChildFindsNothingPromptly(const std::string& folder, const std::string& file)
    {
        const std::string descriptor =
            m_tree.WriteFile("app/app.brw", "[description]\nfile=" + file + "\nline1=lines\n");
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(10);
            const auto result = BuildFrom(descriptor, folder);
            const bool bOk =
                result.source == Source::NotFound && result.strText == Description::kNotFound;
            ::_exit(bOk ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    CTempTree m_tree;
};

TEST_F(DescriptionTest, FileContentIsTheWholeDescription)
{
    m_tree.WriteFile("app/readme.txt", "abc");
    auto result = Build("[description]\nfile=readme.txt\n");
    EXPECT_EQ(result.source, Source::File);
    EXPECT_EQ(result.strText, "abc");

    // Line ends in the file are kept as they are; nothing is added.
    m_tree.WriteFile("app/readme.txt", "one\r\ntwo\n");
    EXPECT_EQ(Build("[description]\nfile=readme.txt\n").strText, "one\r\ntwo\n");

    m_tree.WriteFile("app/empty.txt", "");
    result = Build("[description]\nfile=empty.txt\nline1=not used\n");
    EXPECT_EQ(result.source, Source::File);
    EXPECT_EQ(result.strText, "");
}

TEST_F(DescriptionTest, FileWinsOverLinesUnlessItIsMinusOne)
{
    m_tree.WriteFile("app/readme.txt", "from the file");
    EXPECT_EQ(Build("[description]\nline1=a line\nfile=readme.txt\n").strText, "from the file");

    const auto result = Build("[description]\nfile=-1\nline1=a line\n");
    EXPECT_EQ(result.source, Source::Lines);
    EXPECT_EQ(result.strText, "a line\r\r\n");
}

TEST_F(DescriptionTest, FileTextEndsAtTheFirstNulAndIsDecodedForDisplay)
{
    m_tree.WriteFile("app/nul.txt", "before\0after"s);
    EXPECT_EQ(Build("[description]\nfile=nul.txt\n").strText, "before");

    m_tree.WriteFile("app/cp1252.txt", "caf\xE9 \x80");
    EXPECT_EQ(Build("[description]\nfile=cp1252.txt\n").strText, "caf\xC3\xA9 \xE2\x82\xAC");

    m_tree.WriteFile("app/utf8.txt", "caf\xC3\xA9");
    EXPECT_EQ(Build("[description]\nfile=utf8.txt\n").strText, "caf\xC3\xA9");
}

TEST_F(DescriptionTest, NamesTakeEitherSeparatorAndAnyCase)
{
    m_tree.WriteFile("app/docs/readme.txt", "docs");
    EXPECT_EQ(Build("[description]\nfile=docs\\readme.txt\n").strText, "docs");
    EXPECT_EQ(Build("[description]\nfile=docs/readme.txt\n").strText, "docs");
    EXPECT_EQ(Build("[description]\nfile=DOCS\\README.TXT\n").strText, "docs");
}

TEST_F(DescriptionTest, WhatIsNoRegularFileBelowTheFolderIsNotFound)
{
    m_tree.WriteFile("app/readme.txt", "text");
    m_tree.MakeFolder("app/docs");
    for (const char* value : {"missing.txt", "", "docs", "readme.txt\\", "readme.txt/", "..\\app",
                              "missing\\readme.txt"}) {
        const auto result = Build("[description]\nfile=" + std::string(value) + "\nline1=x\n");
        EXPECT_EQ(result.source, Source::NotFound) << '"' << value << '"';
        EXPECT_EQ(result.strText, "Error: Description file not found.") << '"' << value << '"';
    }
}

TEST_F(DescriptionTest, DotDotGoesUpByNameButNeverAboveTheRoot)
{
    m_tree.WriteFile("common/About.txt", "common");
    const CMountedVolume drive(m_tree.Root());
    for (const char* value : {"..\\COMMON\\about.txt", "gone\\..\\..\\common\\about.txt",
                              "../../../common/about.txt"}) {
        const auto read = [&](auto...) {
            return std::string(value);
        };
        EXPECT_EQ(Description::Build(read, drive, m_tree.Path("app")).strText, "common") << value;
    }
}

TEST_F(DescriptionTest, SpecialFilesAreRefusedWithoutBlocking)
{
    const std::string fifo = m_tree.MakeFifo("app/fifo.txt");
    m_tree.MakeLink("app/link.txt", fifo);
    m_tree.MakeSocket("app/socket.txt");
    const std::string app = m_tree.Path("app");
    EXPECT_TRUE(ChildFindsNothingPromptly(app, "fifo.txt"));
    EXPECT_TRUE(ChildFindsNothingPromptly(app, "FIFO.TXT"));
    EXPECT_TRUE(ChildFindsNothingPromptly(app, "link.txt"));
    EXPECT_TRUE(ChildFindsNothingPromptly(app, "socket.txt"));
    EXPECT_TRUE(ChildFindsNothingPromptly("/dev", "zero"));
}

TEST_F(DescriptionTest, FileThatCannotBeOpenedIsNotFound)
{
    m_tree.WriteFile("app/locked.txt", "secret");
    m_tree.SetMode("app/locked.txt", 0);
    m_tree.WriteFile("app/open.txt", "visible");
    const std::string lockedBrw =
        m_tree.WriteFile("app/locked.brw", "[description]\nfile=locked.txt\n");
    const std::string openBrw = m_tree.WriteFile("app/open.brw", "[description]\nfile=open.txt\n");
    const std::string app = m_tree.Path("app");
    EXPECT_TRUE(RunUnprivileged([&] {
        const auto locked = BuildFrom(lockedBrw, app);
        return locked.source == Source::NotFound &&
               locked.strText == "Error: Description file not found." &&
               BuildFrom(openBrw, app).strText == "visible";
    }));
}

TEST_F(DescriptionTest, FailedReadLeavesNoPartialText)
{
    // A regular file by its type whose reads fail: address 0 of our memory is not mapped.
    if (!std::filesystem::is_regular_file("/proc/self/mem"))
        GTEST_SKIP() << "no /proc";
    const auto result = BuildIn("/proc/self", "[description]\nfile=mem\n");
    EXPECT_EQ(result.source, Source::ReadError);
    EXPECT_EQ(result.strText, "Error reading description file.");
}

TEST_F(DescriptionTest, FilesUpToTheCapAreRead)
{
    m_tree.WriteFile("app/eight.txt", "12345678");
    m_tree.WriteFile("app/nine.txt", "123456789");
    EXPECT_EQ(Build("[description]\nfile=eight.txt\n", 8).strText, "12345678");
    const auto result = Build("[description]\nfile=nine.txt\n", 8);
    EXPECT_EQ(result.source, Source::TooLarge);
    EXPECT_EQ(result.strText, "Error: Description file too large.");
    EXPECT_EQ(Build("[description]\nfile=eight.txt\n", 0).source, Source::TooLarge);
    m_tree.WriteFile("app/empty.txt", "");
    EXPECT_EQ(Build("[description]\nfile=empty.txt\n", 0).source, Source::File);
}

TEST_F(DescriptionTest, RealCapHolds)
{
    // Sparse, so the test costs no disk; zeros make an empty text.
    const std::string atCap = m_tree.WriteFile("app/at-cap.txt", "");
    std::filesystem::resize_file(atCap, Description::kMaxDescriptionBytes);
    auto result = Build("[description]\nfile=at-cap.txt\n");
    EXPECT_EQ(result.source, Source::File);
    EXPECT_EQ(result.strText, "");

    const std::string over = m_tree.WriteFile("app/over.txt", "");
    std::filesystem::resize_file(over, Description::kMaxDescriptionBytes + 1);
    result = Build("[description]\nfile=over.txt\n");
    EXPECT_EQ(result.source, Source::TooLarge);
    EXPECT_EQ(result.strText, "Error: Description file too large.");
}

TEST_F(DescriptionTest, LinesEndInCrCrLfUpToTheFirstGap)
{
    auto result = Build("[description]\nline1=Hello\nline2=World\n");
    EXPECT_EQ(result.source, Source::Lines);
    EXPECT_EQ(result.strText, "Hello\r\r\nWorld\r\r\n");

    EXPECT_EQ(Build("[description]\nline1=one\nline3=three\n").strText, "one\r\r\n");
    EXPECT_EQ(Build("[description]\nline1=\nline2=two\n").strText, "\r\r\ntwo\r\r\n");
    // Each line decoded on its own.
    EXPECT_EQ(Build("[description]\nline1=caf\xC3\xA9\nline2=caf\xE9\n").strText,
              "caf\xC3\xA9\r\r\ncaf\xC3\xA9\r\r\n");
}

TEST_F(DescriptionTest, NoLinesGiveNoDescription)
{
    for (const char* descriptor :
         {"[description]\nline1=-1\nline2=World\n", "[description]\nline2=World\n",
          "[info]\nname=x\n", "[description]\nfile=-1\n", ""}) {
        const auto result = Build(descriptor);
        EXPECT_EQ(result.source, Source::None) << descriptor;
        EXPECT_EQ(result.strText, "No Description Available.") << descriptor;
    }
}

TEST(DescriptionDisplay, EveryLineEndBecomesOneLineFeed)
{
    EXPECT_EQ(Description::ForDisplay("Hello\r\r\nWorld\r\r\n"), "Hello\nWorld\n");
    EXPECT_EQ(Description::ForDisplay("a\r\nb\rc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(Description::ForDisplay("\r\r\r\n"), "\n\n");
    EXPECT_EQ(Description::ForDisplay("\r\r"), "\n\n");
    EXPECT_EQ(Description::ForDisplay(""), "");
}

} // namespace

namespace {

class DescriptionLines : public DescriptionTest {};

TEST_F(DescriptionLines, AFileOfTooManyShortLinesIsTooLargeWhateverItsSize)
{
    const std::size_t cap = Description::kMaxDescriptionLines;
    m_tree.WriteFile("app/ok.txt", std::string(cap, '\n'));
    m_tree.WriteFile("app/crlf.txt", [cap] {
        std::string text;
        for (std::size_t i = 0; i < cap; ++i)
            text += "x\r\n"; // one break each, as the pane shows it
        return text;
    }());
    m_tree.WriteFile("app/over.txt", std::string(cap, '\n') + "\r");
    EXPECT_EQ(Build("[description]\nfile=ok.txt\n").source, Source::File);
    EXPECT_EQ(Build("[description]\nfile=crlf.txt\n").source, Source::File);
    const Description::Result over = Build("[description]\nfile=over.txt\n");
    EXPECT_EQ(over.source, Source::TooLarge);
    EXPECT_EQ(over.strText, Description::kTooLarge);
}

TEST_F(DescriptionLines, DescriptorLinesObeyTheSameLimitsAsAFile)
{
    const auto lines = [](std::size_t count, std::size_t length) {
        std::string text = "[description]\n";
        for (std::size_t n = 1; n <= count; ++n)
            text += "line" + std::to_string(n) + "=" + std::string(length, 'x') + "\n";
        return text;
    };
    const std::size_t cap = Description::kMaxDescriptionLines;
    EXPECT_EQ(Build(lines(cap, 1)).source, Source::Lines);
    const Description::Result tooMany = Build(lines(cap + 1, 1));
    EXPECT_EQ(tooMany.source, Source::TooLarge);
    EXPECT_EQ(tooMany.strText, Description::kTooLarge);

    // Ten lines of 9 bytes and their breaks make 100 bytes.
    EXPECT_EQ(Build(lines(10, 9), 100).source, Source::Lines);
    EXPECT_EQ(Build(lines(10, 9), 99).source, Source::TooLarge);
}

} // namespace
