// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileFind.h"

#include "support/OpenFiles.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Each entry's type, and whether it was listed as a regular file.
using Types = std::map<std::string, std::pair<CFileFind::EntryType, bool>>;

Types ListTypes(const std::string& folder, CFileFind::Options options = {})
{
    Types types;
    CFileFind finder(options);
    if (!finder.FindFile(CFileFind::OpenFolder(folder), folder))
        return types;
    while (finder.FindNextFile())
        types[finder.GetFileName()] = {finder.GetEntryType(), finder.IsRegular()};
    return types;
}

// Appends one record laid out as the kernel's linux_dirent64; length 0 means the true,
// 8-aligned one.
void AppendRecord(std::string& buffer, unsigned char type, std::string_view name,
                  std::uint16_t length = 0)
{
    const std::size_t start = buffer.size();
    const std::size_t natural = (19 + name.size() + 1 + 7) / 8 * 8;
    buffer.resize(start + natural, '\0');
    buffer[start] = 1; // inode
    const std::uint16_t stored = length ? length : static_cast<std::uint16_t>(natural);
    std::memcpy(&buffer[start + 16], &stored, sizeof stored);
    buffer[start + 18] = static_cast<char>(type);
    std::memcpy(&buffer[start + 19], name.data(), name.size());
}

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
    // Only the plain file is regular: a link to one is not, nor any special file.
    const Types expected = {{"plain.txt", {Type::File, true}},
                            {"folder", {Type::Folder, false}},
                            {"to-folder", {Type::FolderLink, false}},
                            {"to-file", {Type::File, false}},
                            {"dangling", {Type::File, false}},
                            {"fifo", {Type::File, false}},
                            {"sock", {Type::File, false}}};
    EXPECT_EQ(ListTypes(tree.Root()), expected);

    // As on a CD: every type learnt from fstatat, to the same result.
    std::atomic<std::uint64_t> statCalls = 0;
    EXPECT_EQ(ListTypes(tree.Root(), {true, &statCalls}), expected);
    // One per entry, one more for each of the three links.
    EXPECT_EQ(statCalls, expected.size() + 3);
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

TEST(FileFind, ListingLongerThanOneReadComesWholeAndOnce)
{
    // About 200 KiB of records: several reads of the finder's buffer.
    CTempTree tree;
    std::multiset<std::string> expected;
    for (int i = 0; i < 1500; ++i)
        expected.insert(tree.WriteFile(std::to_string(i) + std::string(110, 'n'), ""));

    std::multiset<std::string> listed;
    CFileFind finder;
    ASSERT_TRUE(finder.FindFile(CFileFind::OpenFolder(tree.Root()), tree.Root()));
    while (finder.FindNextFile())
        listed.insert(finder.GetFilePath());
    EXPECT_EQ(listed, expected);
    EXPECT_FALSE(finder.FindNextFile()) << "the end stays the end";
}

TEST(FileFind, OneFinderListsFolderAfterFolderAndHandsItsHandleOn)
{
    CTempTree tree;
    for (int i = 0; i < 50; ++i)
        tree.WriteFile("a/file" + std::to_string(i), "");
    tree.WriteFile("b/only", "");
    const int fds = CountOpenFds();
    auto list = [&](CFileFind& finder, const char* folder) {
        std::vector<std::string> names;
        if (finder.FindFile(CFileFind::OpenFolder(tree.Path(folder)), tree.Path(folder))) {
            while (finder.FindNextFile())
                names.push_back(finder.GetFileName());
        }
        return names;
    };

    CFileFind finder;
    EXPECT_EQ(finder.TakeFolder(), -1);
    // Neither a listing left half-way nor one read to its end may spill into the next.
    ASSERT_TRUE(finder.FindFile(CFileFind::OpenFolder(tree.Path("a")), tree.Path("a")));
    ASSERT_TRUE(finder.FindNextFile());
    EXPECT_EQ(list(finder, "b"), std::vector<std::string>{"only"});
    EXPECT_EQ(list(finder, "a").size(), 50u);

    // The handle given away is the caller's: Close leaves it open, and it still opens
    // subfolders.
    ASSERT_TRUE(finder.FindFile(CFileFind::OpenFolder(tree.Root()), tree.Root()));
    ASSERT_TRUE(finder.FindNextFile());
    const int hFolder = finder.TakeFolder();
    ASSERT_GE(hFolder, 0);
    EXPECT_FALSE(finder.FindNextFile());
    finder.Close();
    const int hSub = CFileFind::OpenSubfolder(hFolder, "b", false);
    CFileFind::CloseFolder(hFolder);
    ASSERT_TRUE(finder.FindFile(hSub, tree.Path("b")));
    ASSERT_TRUE(finder.FindNextFile());
    EXPECT_EQ(finder.GetFilePath(), tree.Path("b/only"));
    finder.Close();
    EXPECT_EQ(CountOpenFds(), fds);
}

TEST(FileFind, ReadRecordRefusesDamagedRecords)
{
    std::string buffer;
    AppendRecord(buffer, DT_REG, "a.brw");
    AppendRecord(buffer, DT_DIR, std::string(200, 'd'));
    CFileFind::DirRecord record;
    ASSERT_EQ(CFileFind::ReadRecord(buffer.data(), buffer.size(), 0, record), 32u);
    EXPECT_EQ(record.type, DT_REG);
    EXPECT_EQ(std::string(record.name, record.nameLength), "a.brw");
    EXPECT_EQ(CFileFind::ReadRecord(buffer.data(), buffer.size(), 32, record), buffer.size());
    EXPECT_EQ(std::string(record.name, record.nameLength), std::string(200, 'd'));
    EXPECT_EQ(CFileFind::ReadRecord(buffer.data(), buffer.size(), buffer.size(), record), 0u);

    // Each would otherwise loop for ever or read past the buffer (ASan watches).
    const auto damaged = [](std::uint16_t length, std::size_t used, std::string_view name) {
        std::string bytes;
        AppendRecord(bytes, DT_REG, name, length);
        CFileFind::DirRecord ignored;
        return CFileFind::ReadRecord(bytes.data(), used ? used : bytes.size(), 0, ignored);
    };
    EXPECT_EQ(damaged(0xFFFF, 0, "x"), 0u) << "length past the buffer";
    EXPECT_EQ(damaged(8, 0, "x"), 0u) << "shorter than its own header";
    EXPECT_EQ(damaged(20, 0, ""), 20u) << "shortest possible: an empty name";
    EXPECT_EQ(damaged(22, 0, "xyz"), 0u) << "name without its NUL";
    EXPECT_EQ(damaged(24, 19, "x"), 0u) << "header cut short";
    EXPECT_EQ(damaged(24, 22, "x"), 0u) << "record cut short";
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
