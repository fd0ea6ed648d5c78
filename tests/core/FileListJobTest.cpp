// SPDX-License-Identifier: GPL-3.0-or-later
#include "TempTree.h"

#include "catalogue/Descriptor.h"
#include "catalogue/FileListJob.h"
#include "platform/MountedVolume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

struct Listed {
    std::vector<CFileRow> rows;
    bool finished = false;
};

Listed List(const std::string& folder, std::vector<std::string> patterns, bool subdirs,
            bool showAll)
{
    CFileListJob job(CMountedVolume::Create(folder),
                     {folder, std::move(patterns), subdirs, showAll, {}, false});
    job.Run();
    CFileListJob::Reports reports = job.TakeReports();
    return {std::move(reports.arrRows), reports.bFinished};
}

std::vector<std::string> Titles(const Listed& listed)
{
    std::vector<std::string> titles;
    for (const CFileRow& row : listed.rows)
        titles.push_back(row.strTitle);
    return titles;
}

std::set<std::string> TitleSet(const Listed& listed)
{
    const std::vector<std::string> titles = Titles(listed);
    return {titles.begin(), titles.end()};
}

TEST(FileListJob, DefaultPatternsListTheFolderItselfWithTheFirstTitleWinning)
{
    CTempTree tree;
    tree.WriteFile("readme.exe", "");
    tree.WriteFile("README.txt", "");
    tree.WriteFile("Setup.EXE", "");
    tree.WriteFile("notes.me", "");
    tree.WriteFile("data.bin", "");
    tree.WriteFile("sub/deep.txt", "");
    const Listed listed = List(tree.Root(), Descriptor::DefaultPatterns(), false, false);
    EXPECT_TRUE(listed.finished);
    EXPECT_EQ(TitleSet(listed), (std::set<std::string>{"readme", "Setup", "notes"}));
    for (const CFileRow& row : listed.rows) {
        if (Text::EqualsNoCase(row.strTitle, "readme")) {
            EXPECT_EQ(row.strExtension, ".exe") << "the *.exe walk comes first";
            EXPECT_EQ(row.strPath, tree.Path("readme.exe"));
        }
        if (row.strTitle == "Setup") {
            EXPECT_EQ(row.strExtension, ".exe") << "shown lower case";
            EXPECT_EQ(row.strPath, tree.Path("Setup.EXE")) << "the path keeps the real name";
        }
        EXPECT_EQ(row.Folder(), tree.Root());
    }
    // Pattern order decides the order of discovery: programs before texts and notes.
    const std::vector<std::string> titles = Titles(listed);
    const auto at = [&](const char* t) {
        return std::find(titles.begin(), titles.end(), t);
    };
    EXPECT_LT(at("Setup"), at("notes"));
}

TEST(FileListJob, SubfoldersOnlyWhenAskedAndShowAllStaysInTheFolder)
{
    CTempTree tree;
    tree.WriteFile("top.txt", "");
    tree.WriteFile("top.dat", "");
    tree.WriteFile("README", "");
    tree.WriteFile("sub/inner.txt", "");
    tree.WriteFile("sub/inner.dat", "");
    tree.WriteFile("other/top.txt", ""); // same title as the top one: listed once

    EXPECT_EQ(TitleSet(List(tree.Root(), {"*.txt"}, false, false)), (std::set<std::string>{"top"}));
    EXPECT_EQ(TitleSet(List(tree.Root(), {"*.txt"}, true, false)),
              (std::set<std::string>{"top", "inner"}));

    const Listed all = List(tree.Root(), {"*.txt"}, true, true);
    EXPECT_EQ(TitleSet(all), (std::set<std::string>{"top", "inner", "README"}))
        << "show-all adds the folder's own files only, each title once";
    EXPECT_EQ(all.rows.size(), 3u);
    for (const CFileRow& row : all.rows) {
        if (row.strTitle == "README") {
            EXPECT_EQ(row.strExtension, "");
        }
    }
}

TEST(FileListJob, TypeAndTitleFoldCaseBeyondAscii)
{
    CTempTree tree;
    const std::string capitalE = "\xC3\x89", smallE = "\xC3\xA9"; // acute
    for (const std::string& name : {capitalE + "T.TXT", smallE + "t.txt", "x." + capitalE + "BC"})
        tree.WriteFile(name, "");
    std::set<std::string> rows;
    for (const CFileRow& row : List(tree.Root(), {"*"}, false, false).rows)
        rows.insert(row.strTitle + row.strExtension);
    EXPECT_EQ(rows.size(), 2u) << "one row per title";
    EXPECT_TRUE(rows.contains("x." + smallE + "bc"));
}

TEST(FileListJob, EmptyOrUnmatchedPatternsAndMissingFoldersListNothingButFinish)
{
    CTempTree tree;
    tree.WriteFile("a.txt", "");
    EXPECT_TRUE(List(tree.Root(), {""}, false, false).rows.empty());
    EXPECT_TRUE(List(tree.Root(), {"*.doc"}, false, false).rows.empty());
    const Listed missing = List(tree.Path("gone"), {"*.*"}, true, true);
    EXPECT_TRUE(missing.rows.empty());
    EXPECT_TRUE(missing.finished);
}

TEST(FileListJob, AStoppedJobReportsNoEnd)
{
    CTempTree tree;
    for (int i = 0; i < 50; ++i)
        tree.WriteFile("f" + std::to_string(i) + ".txt", "");
    CFileListJob job(CMountedVolume::Create(tree.Root()),
                     {tree.Root(), {"*.txt"}, false, false, {}, false});
    job.RequestStop();
    job.Run();
    EXPECT_FALSE(job.TakeReports().bFinished);
}

TEST(FileListJob, RowsCarryTheBytesOfTheirNameAndFolder)
{
    CTempTree tree;
    tree.WriteFile("a.txt", "");
    tree.WriteFile("A.EXE", "");
    tree.WriteFile("sub/b\xE9.txt", "");
    const Listed listed = List(tree.Root(), {"*.exe", "*.txt"}, true, false);
    ASSERT_EQ(listed.rows.size(), 2u) << "a duplicate title is dropped";
    EXPECT_EQ(listed.rows[0].strTitle, "A");
    EXPECT_EQ(listed.rows[0].strExtension, ".exe");
    EXPECT_EQ(listed.rows[1].strTitle, "b\xE9");
    EXPECT_EQ(listed.rows[1].Folder(), tree.Path("sub"));
}

} // namespace

namespace {

std::vector<std::string> Paths(const Listed& listed)
{
    std::vector<std::string> paths;
    for (const CFileRow& row : listed.rows)
        paths.push_back(row.strPath);
    return paths;
}

TEST(FileListJob, OneReadingGivesTheRowsOfOneWalkPerPattern)
{
    CTempTree tree;
    for (const char* name :
         {"b.txt", "A.EXE", "c.zip", "readme", "a.txt", "x.me", "y.hlp", "sub/a.exe", "sub/d.txt",
          "sub/deeper/e.exe", "sub/deeper/b.zip", "other/f.dat", "other/g.txt"})
        tree.WriteFile(name, "");
    std::vector<std::string> patterns = Descriptor::DefaultPatterns();
    for (bool subdirs : {false, true}) {
        for (bool showAll : {false, true}) {
            const Listed once = List(tree.Root(), patterns, subdirs, showAll);
            // A pattern with a folder part (matching nothing here) forces a walk per pattern.
            std::vector<std::string> forced = patterns;
            forced.push_back("nowhere\\*.none");
            const Listed perPattern = List(tree.Root(), forced, subdirs, showAll);
            EXPECT_EQ(Paths(once), Paths(perPattern)) << subdirs << showAll;
            EXPECT_FALSE(once.rows.empty());
        }
    }
}

} // namespace
