// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/NameSet.h"

#include <gtest/gtest.h>

#include <string>

TEST(NameSet, KeepsTheFirstOfNamesEqualWithoutRegardToCase)
{
    CNameSet set;
    EXPECT_TRUE(set.Insert("Readme"));
    EXPECT_FALSE(set.Insert("README"));
    EXPECT_FALSE(set.Insert("readme"));
    EXPECT_TRUE(set.Insert("readme2"));
    EXPECT_TRUE(set.Insert("")) << "a file named .txt has an empty title";
    EXPECT_FALSE(set.Insert(""));
    EXPECT_TRUE(set.Insert("\xC3\x89t\xC3\xA9")); // "Été"
    EXPECT_FALSE(set.Insert("\xC3\xA9T\xC3\x89")) << "folded beyond ASCII";
    EXPECT_TRUE(set.Insert("Caf\xE9")) << "not UTF-8: folded as ASCII";
    EXPECT_FALSE(set.Insert("CAF\xE9"));
    EXPECT_TRUE(set.Insert("CAF\xC9"));
    EXPECT_EQ(set.Size(), 6u);
}

TEST(NameSet, GrowsPastAnyReservationAndEmptiesOnRelease)
{
    CNameSet set;
    set.Reserve(4);
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(set.Insert("File-" + std::to_string(i))) << i;
    for (int i = 0; i < 20000; i += 7)
        ASSERT_FALSE(set.Insert("FILE-" + std::to_string(i))) << i;
    EXPECT_EQ(set.Size(), 20000u);
    set.Release();
    EXPECT_EQ(set.Size(), 0u);
    EXPECT_TRUE(set.Insert("file-1"));
}
