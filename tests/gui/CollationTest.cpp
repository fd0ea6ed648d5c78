// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/Collation.h"

#include "catalogue/Catalogue.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> SortedCategories(const std::vector<std::string>& names,
                                          const QLocale& locale)
{
    CCatalogue catalogue;
    for (const std::string& name : names)
        catalogue.AddApplication(name, {"app", "/" + name + ".brw", "/"});
    catalogue.Sort(CCollation(locale).Order());
    std::vector<std::string> sorted;
    for (const CCategoryEntry& category : catalogue.Categories())
        sorted.push_back(category.strText);
    return sorted;
}

TEST(Collation, AccentedLettersStandBesideTheirBaseLetters)
{
    const std::string ueber = "\xC3\x9C"
                              "bersetzer"; // U diaeresis in UTF-8
    const std::string editeurs = "\xC9"
                                 "diteurs"; // E acute in Windows-1252, shown decoded
    const std::vector<std::string> names = {"Zip",    ueber,   "Editoren", "Ufo",
                                            editeurs, "Fonts", "vlc",      "Viewers"};
    const std::vector<std::string> expected = {editeurs, "Editoren", "Fonts", ueber,
                                               "Ufo",    "Viewers",  "vlc",   "Zip"};
    for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany),
                                  QLocale(QLocale::English, QLocale::UnitedStates)})
        EXPECT_EQ(SortedCategories(names, locale), expected) << locale.name().toStdString();
}

TEST(Collation, CaseNeverDecidesAndEqualTextsKeepTheirOrder)
{
    CCatalogue catalogue;
    catalogue.AddApplication("Tools", {"beta", "/1.brw", "/"});
    catalogue.AddApplication("Tools", {"ALPHA", "/2.brw", "/"});
    catalogue.AddApplication("Tools", {"Beta", "/3.brw", "/"});
    catalogue.Sort(CCollation(QLocale(QLocale::English)).Order());
    const auto& apps = catalogue.Categories().front().arrApplications;
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0].strName, "ALPHA");
    EXPECT_EQ(apps[1].strDescriptorPath, "/1.brw");
    EXPECT_EQ(apps[2].strDescriptorPath, "/3.brw");
}

} // namespace
