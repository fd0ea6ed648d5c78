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
    // Control files and descriptors name their images by their own base name.
    tree.WriteFile("shelf/a/Disc.CCD", "[CloneCD]\n[Entry 0]\nSession=1\nPoint=1\nPLBA=0\n");
    tree.WriteFile("shelf/a/disc.img", "");
    std::string mds = "MEDIA DESCRIPTOR";
    mds.resize(192, '\0');
    mds[0x14] = mds[88 + 8] = mds[88 + 10] = mds[112 + 4] = 1; // one session of one track
    mds[0x50] = 88;
    mds[88 + 20] = 112;
    tree.WriteFile("shelf/a/dvd.mds", mds);
    tree.WriteFile("shelf/a/dvd.MDF", "");
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
        (std::vector<std::string>{shelf + "/a/Disc.CCD", shelf + "/a/Game.cue",
                                  shelf + "/a/dvd.mds", shelf + "/a/lone.BIN",
                                  shelf + "/a/pipe.iso", shelf + "/deep/er/cd", shelf + "/disc"}));

    // A disc folder, a plain folder and anything else stand for themselves.
    EXPECT_EQ(VolumeFinder::Find(shelf + "/disc"), std::vector<std::string>{shelf + "/disc"});
    tree.WriteFile("plain/sub/readme.txt", "");
    EXPECT_EQ(VolumeFinder::Find(tree.Path("plain")), std::vector<std::string>{tree.Path("plain")});
    EXPECT_EQ(VolumeFinder::Find(tree.Path("missing")),
              std::vector<std::string>{tree.Path("missing")});
}

} // namespace
