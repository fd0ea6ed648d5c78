// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/VolumeFinder.h"

#include "TempTree.h"

#include <gtest/gtest.h>

namespace {

TEST(VolumeFinderTest, FindsImagesAndDiscFoldersOnceEach)
{
    CTempTree tree;
    tree.WriteFile("shelf/a/Game.cue", "FILE \"GAME.BIN\" BINARY\n  TRACK 01 MODE1/2352\n"
                                       "    INDEX 01 00:00:00\n");
    tree.WriteFile("shelf/a/game.bin", "");
    tree.WriteFile("shelf/a/lone.BIN", "");
    tree.WriteFile("shelf/a/notes.txt", "");
    tree.MakeFifo("shelf/a/pipe.iso");
    // A disc folder's insides are its own, images included.
    tree.WriteFile("shelf/disc/AUTORUN.INF", "");
    tree.WriteFile("shelf/disc/inner.iso", "");
    tree.WriteFile("shelf/disc/more/autorun.inf", "");
    tree.WriteFile("shelf/deep/er/cd/autorun.inf", "");
    const std::string shelf = tree.Path("shelf");
    EXPECT_EQ(
        VolumeFinder::Find(shelf),
        (std::vector<std::string>{shelf + "/a/Game.cue", shelf + "/a/lone.BIN",
                                  shelf + "/a/pipe.iso", shelf + "/deep/er/cd", shelf + "/disc"}));

    // A disc folder, a plain folder and anything else stand for themselves.
    EXPECT_EQ(VolumeFinder::Find(shelf + "/disc"), std::vector<std::string>{shelf + "/disc"});
    tree.WriteFile("plain/sub/readme.txt", "");
    EXPECT_EQ(VolumeFinder::Find(tree.Path("plain")), std::vector<std::string>{tree.Path("plain")});
    EXPECT_EQ(VolumeFinder::Find(tree.Path("missing")),
              std::vector<std::string>{tree.Path("missing")});
}

} // namespace
