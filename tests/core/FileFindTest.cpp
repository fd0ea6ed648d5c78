#include "platform/FileFind.h"

#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

std::map<std::string, CFileFind::EntryType> ListTypes(const std::string& folder)
{
    std::map<std::string, CFileFind::EntryType> types;
    CFileFind finder;
    if (!finder.FindFile(CFileFind::OpenFolder(folder), folder))
        return types;
    while (finder.FindNextFile())
        types[finder.GetFileName()] = finder.GetEntryType();
    return types;
}

// Restores the switch even when an expectation fails half-way.
struct AssumeUnknownType {
    AssumeUnknownType() { CFileFind::SetAssumeUnknownType(true); }
    ~AssumeUnknownType() { CFileFind::SetAssumeUnknownType(false); }
};

TEST(FileFind, CurrentEntryPaths)
{
    CFileFind finder;
    finder.SetCurrent("/", "a.brw");
    EXPECT_EQ(finder.GetFilePath(), "/a.brw");
    EXPECT_EQ(finder.GetRoot(), "/");
    finder.SetCurrent("/cd/apps", "x.brw");
    EXPECT_EQ(finder.GetFilePath(), "/cd/apps/x.brw");
    EXPECT_EQ(finder.GetFileName(), "x.brw");
}

TEST(FileFind, ListingTellsEntryTypesAndLeavesOutDots)
{
    CTempTree tree;
    tree.WriteFile("plain.txt", "x");
    tree.MakeFolder("folder");
    tree.MakeLink("to-folder", tree.Path("folder"));
    tree.MakeLink("to-file", tree.Path("plain.txt"));
    tree.MakeLink("dangling", tree.Path("missing"));
    tree.MakeFifo("fifo");
    tree.MakeSocket("sock");

    using Type = CFileFind::EntryType;
    const std::map<std::string, Type> expected = {
        {"plain.txt", Type::File}, {"folder", Type::Folder}, {"to-folder", Type::FolderLink},
        {"to-file", Type::File},   {"dangling", Type::File}, {"fifo", Type::File},
        {"sock", Type::File}};
    EXPECT_EQ(ListTypes(tree.Root()), expected);

    // As on a CD: every type learnt from fstatat, to the same result.
    const std::uint64_t before = CFileFind::StatCallCount();
    {
        AssumeUnknownType unknown;
        EXPECT_EQ(ListTypes(tree.Root()), expected);
    }
    // One per entry, one more for each of the three links.
    EXPECT_EQ(CFileFind::StatCallCount() - before, expected.size() + 3);
}

TEST(FileFind, UnlistableFolders)
{
    CTempTree tree;
    CFileFind finder;
    EXPECT_FALSE(finder.FindFile(-1, tree.Root()));
    EXPECT_FALSE(finder.FindNextFile());
    EXPECT_LT(CFileFind::OpenFolder(tree.Path("missing")), 0);
    tree.WriteFile("file", "x");
    EXPECT_LT(CFileFind::OpenFolder(tree.Path("file")), 0);
    // A FIFO is never opened as a folder, and trying does not block.
    tree.MakeFifo("fifo");
    EXPECT_LT(CFileFind::OpenFolder(tree.Path("fifo")), 0);
}

TEST(FileFind, ResolveNoCaseFindsNamesAsWrittenOrIgnoringCase)
{
    CTempTree tree;
    tree.WriteFile("Docs/Read Me.TXT", "x");
    tree.WriteFile("Docs/Sub/deep.txt", "x");
    const std::string root = tree.Root();

    EXPECT_EQ(CFileFind::ResolveNoCase(root, "Docs/Read Me.TXT"), tree.Path("Docs/Read Me.TXT"));
    EXPECT_EQ(CFileFind::ResolveNoCase(root, "docs\\read me.txt"), tree.Path("Docs/Read Me.TXT"));
    EXPECT_EQ(CFileFind::ResolveNoCase(root, "DOCS\\SUB\\DEEP.TXT"),
              tree.Path("Docs/Sub/deep.txt"));
    EXPECT_EQ(CFileFind::ResolveNoCase(root, ".\\docs//./sub\\deep.txt"),
              tree.Path("Docs/Sub/deep.txt"));
    EXPECT_EQ(CFileFind::ResolveNoCase(root, "docs"), tree.Path("Docs"));
    EXPECT_EQ(CFileFind::ResolveNoCase(root + "/", "docs"), tree.Path("Docs"));
    // The root folder joins without a doubled separator.
    EXPECT_EQ(CFileFind::ResolveNoCase("/", root.substr(1) + "/docs"), tree.Path("Docs"));
}

TEST(FileFind, ResolveNoCaseRefusesWhatIsMissingOrClimbsOut)
{
    CTempTree tree;
    tree.WriteFile("app/readme.txt", "x");
    tree.WriteFile("other.txt", "x");
    const std::string app = tree.Path("app");

    EXPECT_EQ(CFileFind::ResolveNoCase(app, "missing.txt"), std::nullopt);
    EXPECT_EQ(CFileFind::ResolveNoCase(app, "readme.txt/x"), std::nullopt);
    EXPECT_EQ(CFileFind::ResolveNoCase(app, "..\\other.txt"), std::nullopt);
    EXPECT_EQ(CFileFind::ResolveNoCase(app, "sub/../readme.txt"), std::nullopt);
    EXPECT_EQ(CFileFind::ResolveNoCase(app, std::string("readme.txt\0x", 12)), std::nullopt);
    EXPECT_EQ(CFileFind::ResolveNoCase(tree.Path("missing"), "readme.txt"), std::nullopt);
}

TEST(FileFind, ResolveNoCasePrefersTheNameAsWritten)
{
    CTempTree tree;
    tree.WriteFile("readme.txt", "lower");
    tree.WriteFile("README.TXT", "upper");
    tree.WriteFile("bin/a", "x");
    tree.WriteFile("BIN", "a file, not a folder");
    const std::string root = tree.Root();

    EXPECT_EQ(CFileFind::ResolveNoCase(root, "README.TXT"), tree.Path("README.TXT"));
    EXPECT_EQ(CFileFind::ResolveNoCase(root, "readme.txt"), tree.Path("readme.txt"));
    const auto either = CFileFind::ResolveNoCase(root, "ReadMe.txt");
    ASSERT_TRUE(either);
    EXPECT_TRUE(*either == tree.Path("readme.txt") || *either == tree.Path("README.TXT"));
    // A file cannot hold files: the folder that differs in case is taken instead.
    EXPECT_EQ(CFileFind::ResolveNoCase(root, "BIN/A"), tree.Path("bin/a"));
}

TEST(FileFind, ResolveNoCaseKeepsNonUtf8Bytes)
{
    CTempTree tree;
    tree.WriteFile("caf\xE9/NOTE\n.txt", "x");
    EXPECT_EQ(CFileFind::ResolveNoCase(tree.Root(), "CAF\xE9\\note\n.TXT"),
              tree.Path("caf\xE9/NOTE\n.txt"));
    // Only ASCII letters fold.
    EXPECT_EQ(CFileFind::ResolveNoCase(tree.Root(), "caf\xC9"), std::nullopt);
}

} // namespace
