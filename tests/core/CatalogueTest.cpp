// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const CCategoryEntry& category)
{
    std::vector<std::string> names;
    for (const CApplicationEntry& app : category.arrApplications)
        names.push_back(app.strName);
    return names;
}

TEST(Catalogue, CategoriesEqualWithoutCaseShareTheFirstText)
{
    CCatalogue catalogue;
    catalogue.AddApplication("Games", {"b", "/d/b.brw", "/d"});
    catalogue.AddApplication("GAMES", {"a", "/e/a.brw", "/e"});
    catalogue.AddApplication("Nil", {"n", "/n/n.brw", "/n"});
    catalogue.AddApplication("", {"empty", "/x/x.brw", "/x"});
    ASSERT_EQ(catalogue.Categories().size(), 3u);
    EXPECT_EQ(catalogue.Categories()[0].strText, "Games");
    EXPECT_EQ(catalogue.ApplicationCount(), 4u);
}

TEST(Catalogue, SortsWithoutCaseAndKeepsEqualNamesInOrderOfDiscovery)
{
    CCatalogue catalogue;
    catalogue.AddApplication("utilities", {"zip", "/1.brw", "/"});
    catalogue.AddApplication("Archivers", {"Same", "/first.brw", "/"});
    catalogue.AddApplication("Archivers", {"beta", "/2.brw", "/"});
    catalogue.AddApplication("Archivers", {"Same", "/second.brw", "/"});
    catalogue.AddApplication("Archivers", {"Alpha", "/3.brw", "/"});
    catalogue.AddApplication("books", {"b", "/4.brw", "/"});
    catalogue.Sort();
    const auto& categories = catalogue.Categories();
    ASSERT_EQ(categories.size(), 3u);
    EXPECT_EQ(categories[0].strText, "Archivers");
    EXPECT_EQ(categories[1].strText, "books");
    EXPECT_EQ(categories[2].strText, "utilities");
    EXPECT_EQ(Names(categories[0]), (std::vector<std::string>{"Alpha", "beta", "Same", "Same"}));
    EXPECT_EQ(categories[0].arrApplications[2].strDescriptorPath, "/first.brw");
    EXPECT_EQ(categories[0].arrApplications[3].strDescriptorPath, "/second.brw");
}

TEST(Catalogue, CategoriesMergeWithoutCaseBeyondAscii)
{
    CCatalogue catalogue;
    catalogue.AddApplication("\xC3\x89"
                             "diteurs",
                             {"a", "/a.brw", "/"});
    catalogue.AddApplication("\xC3\xA9"
                             "DITEURS",
                             {"b", "/b.brw", "/"});
    catalogue.AddApplication("Editeurs", {"c", "/c.brw", "/"});
    ASSERT_EQ(catalogue.Categories().size(), 2u);
    EXPECT_EQ(catalogue.Categories()[0].arrApplications.size(), 2u);
}

TEST(Catalogue, SortsByTheGivenOrderOfDisplayTexts)
{
    CCatalogue catalogue;
    // Windows-1252 bytes reach the order decoded, as they are shown.
    catalogue.AddApplication("\xC9"
                             "diteurs",
                             {"z", "/1.brw", "/"});
    catalogue.AddApplication("Zip", {"b", "/2.brw", "/"});
    catalogue.AddApplication("Zip", {"a", "/3.brw", "/"});
    catalogue.AddApplication("Editeurs", {"e", "/4.brw", "/"});
    std::vector<std::string> seen;
    // Longest first, so the order is visibly the one given; equal lengths keep discovery order.
    catalogue.Sort([&](std::string_view a, std::string_view b) {
        seen.emplace_back(a);
        seen.emplace_back(b);
        return static_cast<int>(b.size()) - static_cast<int>(a.size());
    });
    const auto& categories = catalogue.Categories();
    ASSERT_EQ(categories.size(), 3u);
    EXPECT_EQ(categories[0].strText, "\xC9"
                                     "diteurs");
    EXPECT_EQ(categories[1].strText, "Editeurs");
    EXPECT_EQ(categories[2].strText, "Zip");
    EXPECT_EQ(Names(categories[2]), (std::vector<std::string>{"b", "a"}));
    EXPECT_NE(std::find(seen.begin(), seen.end(),
                        "\xC3\x89"
                        "diteurs"),
              seen.end());
}

} // namespace
