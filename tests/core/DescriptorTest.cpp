// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/Descriptor.h"

#include "catalogue/ProfileReader.h"
#include "platform/MountedVolume.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

// Keys held in memory; records every read so tests can tell which keys were asked for.
class CFakeDescriptor {
public:
    CFakeDescriptor& Set(std::string section, std::string key, std::string value)
    {
        m_mapValues[{std::move(section), std::move(key)}] = std::move(value);
        return *this;
    }

    Descriptor::ReadKey Reader()
    {
        return
            [this](std::string_view section, std::string_view key, std::string_view defaultValue) {
                m_arrReads.push_back(std::string(section) + "/" + std::string(key) + "=" +
                                     std::string(defaultValue));
                const auto it = m_mapValues.find({std::string(section), std::string(key)});
                return it == m_mapValues.end() ? std::string(defaultValue) : it->second;
            };
    }

    const std::vector<std::string>& Reads() const { return m_arrReads; }

private:
    std::map<std::pair<std::string, std::string>, std::string> m_mapValues;
    std::vector<std::string> m_arrReads;
};

using Strings = std::vector<std::string>;

TEST(DescriptorValues, AbsentIsExactlyMinusOne)
{
    EXPECT_TRUE(Descriptor::IsAbsent("-1"));
    for (const char* present : {"-1 ", " -1", "1", "", "-10", "--1"})
        EXPECT_FALSE(Descriptor::IsAbsent(present)) << '"' << present << '"';
}

TEST(DescriptorListing, NilHidesTheApplicationWithoutReadingItsName)
{
    CFakeDescriptor missing;
    missing.Set("info", "name", "Hidden");
    EXPECT_FALSE(Descriptor::ReadListing(missing.Reader()).bListed);
    EXPECT_EQ(missing.Reads(), Strings{"info/category=nil"});

    CFakeDescriptor nil;
    nil.Set("info", "category", "nil").Set("info", "name", "Hidden");
    EXPECT_FALSE(Descriptor::ReadListing(nil.Reader()).bListed);
    EXPECT_EQ(nil.Reads(), Strings{"info/category=nil"});
}

TEST(DescriptorListing, OtherCapitalisationsOfNilAreCategories)
{
    for (const char* category : {"NIL", "Nil", "nIL", "nil ", ""}) {
        CFakeDescriptor d;
        d.Set("info", "category", category).Set("info", "name", "Shown");
        const Descriptor::Listing listing = Descriptor::ReadListing(d.Reader());
        EXPECT_TRUE(listing.bListed) << '"' << category << '"';
        EXPECT_EQ(listing.strCategory, category);
        EXPECT_EQ(listing.strName, "Shown");
    }
}

TEST(DescriptorListing, MissingNameIsUntitled)
{
    CFakeDescriptor d;
    d.Set("info", "category", "Games");
    const Descriptor::Listing listing = Descriptor::ReadListing(d.Reader());
    EXPECT_TRUE(listing.bListed);
    EXPECT_EQ(listing.strName, "untitled");
    EXPECT_EQ(d.Reads(), (Strings{"info/category=nil", "info/name=untitled"}));
}

TEST(DescriptorLists, StopAtTheFirstAbsentNumber)
{
    CFakeDescriptor d;
    d.Set("description", "line1", "first")
        .Set("description", "line2", "")
        .Set("description", "line3", "third")
        .Set("description", "line5", "after a gap");
    EXPECT_EQ(Descriptor::ReadNumberedList(d.Reader(), "description", "line"),
              (Strings{"first", "", "third"}));
    EXPECT_EQ(d.Reads().back(), "description/line4=-1");
}

TEST(DescriptorLists, ExplicitMinusOneEndsTheList)
{
    CFakeDescriptor d;
    d.Set("showfiles", "file1", "*.doc")
        .Set("showfiles", "file2", "-1")
        .Set("showfiles", "file3", "*.txt");
    EXPECT_EQ(Descriptor::ReadNumberedList(d.Reader(), "showfiles", "file"), Strings{"*.doc"});

    CFakeDescriptor first;
    first.Set("description", "line2", "orphan");
    EXPECT_TRUE(Descriptor::ReadNumberedList(first.Reader(), "description", "line").empty());
    EXPECT_EQ(first.Reads(), Strings{"description/line1=-1"});
}

TEST(DescriptorLists, HaveNoUpperLimit)
{
    CFakeDescriptor d;
    for (int i = 1; i <= 12000; ++i)
        d.Set("description", "line" + std::to_string(i), std::to_string(i));
    const Strings lines = Descriptor::ReadNumberedList(d.Reader(), "description", "line");
    ASSERT_EQ(lines.size(), 12000u);
    EXPECT_EQ(lines[9999], "10000");
    EXPECT_EQ(lines.back(), "12000");
}

TEST(DescriptorShowFiles, SearchSubdirsOnlyWhenTrue)
{
    const std::pair<const char*, bool> cases[] = {
        {"TRUE", true}, {"true", true}, {"tRuE", true},   {"yes", false}, {"1", false},
        {"", false},    {"on", false},  {"truee", false}, {"tru", false}, {"false", false}};
    for (const auto& [value, expected] : cases) {
        CFakeDescriptor d;
        d.Set("showfiles", "searchsubdirs", value);
        EXPECT_EQ(Descriptor::ReadShowFiles(d.Reader()).bSearchSubdirs, expected) << value;
    }
    CFakeDescriptor missing;
    EXPECT_FALSE(Descriptor::ReadShowFiles(missing.Reader()).bSearchSubdirs);
    EXPECT_EQ(missing.Reads().front(), "showfiles/searchsubdirs=false");
}

TEST(DescriptorShowFiles, DefaultsOnlyWhenFileOneIsAbsent)
{
    const Strings defaults{"*.exe", "*.txt", "*.zip", "*.me", "*.hlp"};
    EXPECT_EQ(Descriptor::DefaultPatterns(), defaults);

    CFakeDescriptor gap;
    gap.Set("showfiles", "file2", "*.doc");
    EXPECT_EQ(Descriptor::ReadShowFiles(gap.Reader()).astrPatterns, defaults);
    EXPECT_EQ(gap.Reads(), (Strings{"showfiles/searchsubdirs=false", "showfiles/file1=-1"}));

    CFakeDescriptor explicitAbsent;
    explicitAbsent.Set("showfiles", "file1", "-1");
    EXPECT_EQ(Descriptor::ReadShowFiles(explicitAbsent.Reader()).astrPatterns, defaults);

    CFakeDescriptor single;
    single.Set("showfiles", "file1", "*.doc");
    EXPECT_EQ(Descriptor::ReadShowFiles(single.Reader()).astrPatterns, Strings{"*.doc"});

    // An empty pattern is an entry, so the defaults do not apply.
    CFakeDescriptor empty;
    empty.Set("showfiles", "file1", "");
    EXPECT_EQ(Descriptor::ReadShowFiles(empty.Reader()).astrPatterns, Strings{""});
}

TEST(DescriptorFile, ReadsThroughTheProfileReader)
{
    CTempTree tree;
    const std::string path =
        tree.WriteFile("disk/DISKDOC.BRW", "[info]\r\n"
                                           "category=Utilities\r\n"
                                           "name=Disk Doctor\r\n"
                                           "[description]\r\n"
                                           "line1=Checks and repairs disks.\r\n"
                                           "line2=Runs straight from the CD.\r\n"
                                           "[showfiles]\r\n"
                                           "searchsubdirs=true\r\n"
                                           "file1=*.exe\r\n"
                                           "file2=*.txt\r\n");
    CProfileReader reader;
    const CMountedVolume volume(tree.Root());
    Descriptor::ReadKey read;
    {
        std::string temporary = path;
        read = Descriptor::ReaderFor(reader, volume, std::move(temporary));
    }
    const Descriptor::Listing listing = Descriptor::ReadListing(read);
    EXPECT_TRUE(listing.bListed);
    EXPECT_EQ(listing.strCategory, "Utilities");
    EXPECT_EQ(listing.strName, "Disk Doctor");
    const Descriptor::ShowFiles show = Descriptor::ReadShowFiles(read);
    EXPECT_TRUE(show.bSearchSubdirs);
    EXPECT_EQ(show.astrPatterns, (Strings{"*.exe", "*.txt"}));
    EXPECT_EQ(Descriptor::ReadNumberedList(read, "description", "line"),
              (Strings{"Checks and repairs disks.", "Runs straight from the CD."}));
    EXPECT_EQ(read("description", "file", Descriptor::kAbsent), "-1");
    EXPECT_EQ(reader.ParseCount(), 1u);
}

TEST(DescriptorFile, UnreadableDescriptorsAreNotListed)
{
    CTempTree tree;
    CProfileReader reader;
    const CMountedVolume volume(tree.Root());
    const std::string noInfo = tree.WriteFile("a.brw", "[showfiles]\nfile1=*.doc\n");
    EXPECT_FALSE(Descriptor::ReadListing(Descriptor::ReaderFor(reader, volume, noInfo)).bListed);
    EXPECT_FALSE(
        Descriptor::ReadListing(Descriptor::ReaderFor(reader, volume, tree.MakeFolder("dir.brw")))
            .bListed);
    EXPECT_FALSE(
        Descriptor::ReadListing(Descriptor::ReaderFor(reader, volume, tree.Path("gone.brw")))
            .bListed);

    const std::string longCategory(5000, 'c');
    const std::string path = tree.WriteFile("b.brw", "[info]\ncategory=" + longCategory + "\n");
    EXPECT_EQ(Descriptor::ReadListing(Descriptor::ReaderFor(reader, volume, path)).strCategory,
              longCategory.substr(0, 4095));
}

} // namespace
