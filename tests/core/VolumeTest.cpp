// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MountedVolume.h"

#include "support/OpenFiles.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Type = CVolume::EntryType;
using Kind = CVolume::PathKind;
using Listing = std::map<std::string, std::tuple<Type, bool>>;

Listing List(const CVolume& volume, const CVolume::CFolder& folder)
{
    Listing listing;
    const auto reader = volume.NewFolderReader();
    CVolume::Entry entry;
    if (reader->Start(folder)) {
        while (reader->Next(entry))
            listing[entry.strName] = {entry.type, entry.bLink};
    }
    return listing;
}

TEST(MountedVolume, ListsNamesAsBytesWithTypesInOnePass)
{
    CTempTree tree;
    tree.WriteFile("caf\xE9.txt", "x");
    tree.MakeFolder("Sub");
    tree.MakeLink("to-sub", tree.Path("Sub"));
    tree.MakeLink("dangling", tree.Path("missing"));
    tree.MakeFifo("fifo");
    const CMountedVolume volume(tree.Root() + "/");
    EXPECT_EQ(volume.Root(), tree.Root());

    const int fds = CountOpenFds();
    {
        const auto root = volume.OpenFolder(tree.Root());
        ASSERT_TRUE(root);
        const Listing expected = {{"caf\xE9.txt", {Type::File, false}},
                                  {"Sub", {Type::Folder, false}},
                                  {"to-sub", {Type::FolderLink, true}},
                                  {"dangling", {Type::File, true}},
                                  {"fifo", {Type::File, false}}};
        EXPECT_EQ(List(volume, *root), expected);

        // A listed folder still opens its subfolders; links only when asked to follow them.
        const auto sub = volume.OpenSubfolder(*root, "Sub", false);
        ASSERT_TRUE(sub);
        EXPECT_FALSE(volume.OpenSubfolder(*root, "to-sub", false));
        const auto viaLink = volume.OpenSubfolder(*root, "to-sub", true);
        ASSERT_TRUE(viaLink);
        const auto subInfo = volume.GetFolderInfo(*sub);
        ASSERT_TRUE(subInfo);
        EXPECT_TRUE(subInfo->bOnRootFileSystem);
        EXPECT_EQ(subInfo->id, volume.GetFolderInfo(*viaLink)->id);
        EXPECT_FALSE(volume.OpenSubfolder(*sub, "..", true));
        EXPECT_FALSE(volume.OpenSubfolder(*sub, "/", true));
    }
    EXPECT_EQ(CountOpenFds(), fds);
}

TEST(MountedVolume, TellsWhatPathsAreAndOpensOnlyRegularFiles)
{
    CTempTree tree;
    const std::string file = tree.WriteFile("f", "x");
    const std::string fifo = tree.MakeFifo("fifo");
    const std::string socket = tree.MakeSocket("sock");
    const CMountedVolume volume(tree.Root());

    EXPECT_EQ(volume.What(file), Kind::File);
    EXPECT_EQ(volume.What(tree.Root()), Kind::Folder);
    EXPECT_EQ(volume.What(tree.Path("missing")), Kind::Missing);
    for (const std::string& special : {fifo, socket}) {
        // Nobody writes to the FIFO: an open that blocked would hang here.
        EXPECT_EQ(volume.What(special), Kind::Other);
        EXPECT_FALSE(volume.OpenFile(special));
        EXPECT_FALSE(volume.IdentityOf(special));
        EXPECT_FALSE(volume.OpenFolder(special));
    }
    EXPECT_FALSE(volume.OpenFile(tree.Root()));
    EXPECT_EQ(volume.RealPathForDesktop(file), file);

    // A path that is no longer the regular file a listing showed is refused, without hanging.
    const auto listed = volume.OpenListedFile(file);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->Size(), 1u);
    const std::string link = tree.MakeLink("link", file);
    for (const std::string& changed : {fifo, socket, link, tree.Root(), tree.Path("missing")})
        EXPECT_FALSE(volume.OpenListedFile(changed)) << changed;
}

TEST(MountedVolume, RefusesPathsOutsideItsRoot)
{
    CTempTree tree;
    const std::string outside = tree.WriteFile("outside.txt", "x");
    tree.WriteFile("drive/in.txt", "x");
    tree.WriteFile("drive2/in.txt", "x");
    const CMountedVolume volume(tree.Path("drive"));

    for (const std::string& path :
         {outside, tree.Path("drive2/in.txt"), tree.Path("drive/../outside.txt"), std::string()}) {
        EXPECT_FALSE(volume.OpenFile(path)) << path;
        EXPECT_FALSE(volume.IdentityOf(path)) << path;
        EXPECT_EQ(volume.What(path), Kind::Missing) << path;
        EXPECT_EQ(volume.RealPathForDesktop(path), std::nullopt) << path;
    }
    EXPECT_FALSE(volume.OpenFolder(tree.Root()));
    EXPECT_FALSE(volume.OpenFolder(tree.Path("drive/..")));
    EXPECT_EQ(volume.ResolveNoCase(tree.Root(), "outside.txt"), std::nullopt);
    EXPECT_TRUE(volume.OpenFile(tree.Path("drive/in.txt")));
    EXPECT_TRUE(volume.OpenFile(tree.Path("drive/./in.txt")));
    EXPECT_TRUE(CMountedVolume("/").OpenFile(outside));

    // A row on the drive that links to a program off it is never handed to the desktop.
    const std::string toProgram = tree.MakeLink("drive/setup", "/bin/sh");
    const std::string inside = tree.MakeLink("drive/in-link.txt", "in.txt");
    EXPECT_EQ(volume.RealPathForDesktop(toProgram), std::nullopt);
    EXPECT_EQ(volume.RealPathForDesktop(tree.MakeLink("drive/up.txt", outside)), std::nullopt);
    EXPECT_EQ(volume.RealPathForDesktop(inside), inside);
}

TEST(MountedVolume, TellsWhetherLinksLeadBelowAFolder)
{
    CTempTree tree;
    tree.MakeFolder("drive/a/deep");
    tree.MakeFolder("elsewhere");
    const std::string down = tree.MakeLink("drive/down", tree.Path("drive/a/deep"));
    const std::string up = tree.MakeLink("drive/a/up", tree.Path("drive"));
    const std::string out = tree.MakeLink("drive/out", tree.Path("elsewhere"));
    const std::string relative = tree.MakeLink("drive/a/rel", "deep");
    const CMountedVolume volume(tree.Path("drive"));

    EXPECT_TRUE(volume.LinkLeadsBelow(down, volume.Root()));
    EXPECT_TRUE(volume.LinkLeadsBelow(relative, tree.Path("drive/a")));
    EXPECT_FALSE(volume.LinkLeadsBelow(up, volume.Root())) << "the root itself is not below it";
    EXPECT_FALSE(volume.LinkLeadsBelow(up, tree.Path("drive/a")));
    EXPECT_FALSE(volume.LinkLeadsBelow(out, volume.Root()));
    EXPECT_FALSE(volume.LinkLeadsBelow(tree.Path("drive/none"), volume.Root()));
}

} // namespace
