// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/PeIconReader.h"

#include "platform/MountedVolume.h"
#include "support/PeBuilder.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Images = CPeIconReader::Images;

using namespace PeBuilder;

std::uint32_t Get16(const Bytes& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8;
}

std::uint32_t Get32(const Bytes& b, std::size_t at)
{
    return Get16(b, at) | Get16(b, at + 2) << 16;
}

// Enough of a PNG for the reader, which never decodes.
std::string Png(char fill)
{
    return std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16) + std::string(40, fill);
}

struct IconImage {
    std::string header; // width, height, colours, reserved, planes, bit count
    std::string data;
};

// An icon file laid out canonically: directory, then the images in order.
std::string IconFile(const std::vector<IconImage>& images)
{
    std::string s;
    Append16(s, 0);
    Append16(s, 1);
    Append16(s, images.size());
    std::size_t offset = 6 + 16 * images.size();
    for (const IconImage& image : images) {
        s += image.header;
        Append32(s, image.data.size());
        Append32(s, offset);
        offset += image.data.size();
    }
    for (const IconImage& image : images)
        s += image.data;
    return s;
}

std::string EntryHeader(unsigned char width, unsigned char height, std::uint16_t bits)
{
    std::string s{static_cast<char>(width), static_cast<char>(height), '\0', '\0'};
    Append16(s, 1);
    Append16(s, bits);
    return s;
}

// Parses a result, checking the layout a decoder relies on: a directory, then the images
// back to back in directory order up to the end of the file. nullopt on any fault.
std::optional<std::vector<IconImage>> ParseIcon(const Bytes& ico)
{
    if (ico.size() < 6 || Get16(ico, 0) != 0 || Get16(ico, 2) != 1 || Get16(ico, 4) == 0)
        return std::nullopt;
    const std::size_t count = Get16(ico, 4);
    std::size_t expected = 6 + 16 * count;
    if (ico.size() < expected)
        return std::nullopt;
    std::vector<IconImage> images;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 16 * i;
        const std::size_t size = Get32(ico, entry + 8);
        if (Get32(ico, entry + 12) != expected || size == 0 || size > ico.size() - expected)
            return std::nullopt;
        images.push_back({std::string(ico.begin() + entry, ico.begin() + entry + 8),
                          std::string(ico.begin() + expected, ico.begin() + expected + size)});
        expected += size;
    }
    if (expected != ico.size())
        return std::nullopt;
    return images;
}

Bytes Extract(const std::string& bytes, int index = 0, Images images = Images::All)
{
    return CPeIconReader::ExtractIconFromBytes(bytes, index, images);
}

// The data of each image of a result, or a single "invalid" when it is no icon file.
std::vector<std::string> ImageData(const Bytes& ico)
{
    const auto images = ParseIcon(ico);
    if (!images)
        return {"invalid"};
    std::vector<std::string> data;
    for (const IconImage& image : *images)
        data.push_back(image.data);
    return data;
}

using Data = std::vector<std::string>;

const std::string kSmall = Dib(16, 16, 4, '\x11');
const std::string kLarge = Dib(32, 32, 32, '\x22');
const std::string kOther = Dib(16, 16, 8, '\x33');

// A program with one group of a 16 x 16 and a 32 x 32 image.
std::vector<ResType> OneGroup()
{
    return {{3, {{1, {}, kSmall}, {2, {}, kLarge}}},
            {14, {{1, {}, GroupData({{16, 16, 4, 1}, {32, 32, 32, 2}})}}}};
}

TEST(PeIconReaderProgram, RebuildsTheGroupAsAnIconFile)
{
    for (const bool bPlus : {false, true}) {
        SCOPED_TRACE(bPlus ? "PE32+" : "PE32");
        const Bytes ico = Extract(BuildPe(OneGroup(), bPlus).bytes);
        const auto images = ParseIcon(ico);
        ASSERT_TRUE(images);
        ASSERT_EQ(images->size(), 2u);
        // The group entry's fields are kept; sizes and offsets are the rebuilt file's own.
        EXPECT_EQ((*images)[0].header, EntryHeader(16, 16, 4));
        EXPECT_EQ((*images)[0].data, kSmall);
        EXPECT_EQ((*images)[1].header, EntryHeader(32, 32, 32));
        EXPECT_EQ((*images)[1].data, kLarge);

        EXPECT_EQ(ImageData(Extract(BuildPe(OneGroup(), bPlus).bytes, 0, Images::ClosestTo16)),
                  Data{kSmall});
    }
}

TEST(PeIconReaderProgram, ReadsTheFileFromDisk)
{
    CTempTree tree;
    const CBuiltPe pe = BuildPe(OneGroup());
    const std::string path = tree.WriteFile("Setup.exe", pe.bytes);
    EXPECT_EQ(CPeIconReader::ExtractIcon(CMountedVolume("/"), path, 0), Extract(pe.bytes));
    EXPECT_EQ(
        ImageData(CPeIconReader::ExtractIcon(CMountedVolume("/"), path, 0, Images::ClosestTo16)),
        Data{kSmall});
    EXPECT_TRUE(CPeIconReader::ExtractIcon(CMountedVolume("/"), path, 1).empty());
    EXPECT_TRUE(
        CPeIconReader::ExtractIcon(CMountedVolume("/"), tree.Path("missing.exe"), 0).empty());
}

TEST(PeIconReaderProgram, IndexCountsGroupsInDirectoryOrderAndNegativeNamesAnId)
{
    const std::string a = Dib(16, 16, 4, 'a'), b = Dib(16, 16, 4, 'b'), c = Dib(16, 16, 4, 'c'),
                      d = Dib(16, 16, 4, 'd');
    const std::string pe = BuildPe({{3, {{1, {}, a}, {2, {}, b}, {3, {}, c}, {4, {}, d}}},
                                    {14,
                                     {{0, u"MAINICON", GroupData({{16, 16, 4, 1}})},
                                      {1, {}, GroupData({{16, 16, 4, 4}})},
                                      {5, {}, GroupData({{16, 16, 4, 2}})},
                                      {7, {}, GroupData({{16, 16, 4, 3}})}}}})
                               .bytes;
    EXPECT_EQ(ImageData(Extract(pe, 0)), Data{a});
    EXPECT_EQ(ImageData(Extract(pe, 1)), Data{d});
    EXPECT_EQ(ImageData(Extract(pe, 2)), Data{b});
    EXPECT_EQ(ImageData(Extract(pe, 3)), Data{c});
    EXPECT_TRUE(Extract(pe, 4).empty());
    EXPECT_TRUE(Extract(pe, INT_MAX).empty());

    EXPECT_EQ(ImageData(Extract(pe, -7)), Data{c});
    EXPECT_EQ(ImageData(Extract(pe, -5)), Data{b});
    EXPECT_TRUE(Extract(pe, -6).empty());
    // -1 asks for a count, never for the group with id 1.
    EXPECT_TRUE(Extract(pe, -1).empty());
    EXPECT_TRUE(Extract(pe, -65536 - 5).empty());
    EXPECT_TRUE(Extract(pe, INT_MIN).empty());
}

TEST(PeIconReaderProgram, MissingAndOversizedImagesAreLeftOut)
{
    const std::string huge(CPeIconReader::kMaxImageSize + 1, 'h');
    const auto withGroup = [&](const std::string& group) {
        return BuildPe({{3, {{1, {}, kSmall}, {2, {}, huge}, {3, {}, ""}}}, {14, {{1, {}, group}}}})
            .bytes;
    };
    EXPECT_EQ(ImageData(Extract(withGroup(GroupData({{16, 16, 4, 99}, {16, 16, 4, 1}})))),
              Data{kSmall});
    // The closest image is missing, so the next best one is taken.
    EXPECT_EQ(ImageData(Extract(withGroup(GroupData({{16, 16, 4, 99}, {32, 32, 4, 1}})), 0,
                                Images::ClosestTo16)),
              Data{kSmall});
    EXPECT_TRUE(Extract(withGroup(GroupData({{16, 16, 4, 99}}))).empty());
    EXPECT_TRUE(Extract(withGroup(GroupData({{16, 16, 4, 2}, {16, 16, 4, 3}}))).empty());
}

TEST(PeIconReaderProgram, CorruptGroupDirectoriesGiveNothing)
{
    const auto withGroup = [](const std::string& group) {
        return Extract(BuildPe({{3, {{1, {}, kSmall}}}, {14, {{1, {}, group}}}}).bytes);
    };
    ASSERT_FALSE(withGroup(GroupData({{16, 16, 4, 1}})).empty());
    EXPECT_TRUE(withGroup(GroupData({{16, 16, 4, 1}}, 1000)).empty());
    EXPECT_TRUE(withGroup(GroupData({{16, 16, 4, 1}}, 0)).empty());
    EXPECT_TRUE(withGroup(GroupData({{16, 16, 4, 1}}, 2)).empty());
    EXPECT_TRUE(withGroup(GroupData(std::vector<GroupEntry>(65, {16, 16, 4, 1}))).empty());
    EXPECT_TRUE(withGroup(GroupData({{16, 16, 4, 1}}).substr(0, 19)).empty());
    EXPECT_TRUE(withGroup("").empty());
    std::string cursorGroup = GroupData({{16, 16, 4, 1}});
    cursorGroup[2] = 2;
    EXPECT_TRUE(withGroup(cursorGroup).empty());
}

TEST(PeIconReaderProgram, CorruptHeadersAndOffsetsGiveNothing)
{
    const CBuiltPe good = BuildPe(OneGroup());
    ASSERT_FALSE(Extract(good.bytes).empty());
    const auto patched = [&](std::size_t at, std::uint32_t value, bool b16 = false) {
        std::string bytes = good.bytes;
        b16 ? Put16(bytes, at, value) : Put32(bytes, at, value);
        return Extract(bytes);
    };
    const std::size_t root = kRsrcFileOffset;
    const std::size_t rootIconType = root + 16 + 4; // RT_ICON's subdirectory
    const std::size_t groupTypeDir = root + 16 + 2 * 8 + 16 + 2 * 8;

    EXPECT_TRUE(patched(0x3C, good.bytes.size()).empty());
    EXPECT_TRUE(patched(0x3C, good.bytes.size() - 10).empty());
    EXPECT_TRUE(patched(0x3C, 0xFFFFFFFF).empty());
    EXPECT_TRUE(patched(kPeOffset, 0x0000454E).empty()); // "NE"
    EXPECT_TRUE(patched(kPeOffset + 24, 0x107, true).empty());
    EXPECT_TRUE(patched(kPeOffset + 4 + 16, 0x60, true).empty()); // no room for directory 2
    EXPECT_TRUE(patched(kPeOffset + 4 + 16, 0xFFFF, true).empty());
    EXPECT_TRUE(patched(kPeOffset + 4 + 2, 0, true).empty()); // no sections
    EXPECT_TRUE(patched(good.nResourceEntryAt, 0).empty());
    EXPECT_TRUE(patched(good.nResourceEntryAt, 0x9000).empty());
    EXPECT_TRUE(patched(good.nResourceEntryAt, 0xFFFFFFF0).empty());
    EXPECT_TRUE(patched(good.nRsrcSectionAt + 20, 0xFFFFFE00).empty());
    EXPECT_TRUE(patched(good.nRsrcSectionAt + 16, 0x10).empty());
    EXPECT_TRUE(patched(good.nRsrcSectionAt + 8, 0x10).empty()); // the virtual size limits too
    EXPECT_TRUE(patched(root + 14, 0xFFFF, true).empty());
    EXPECT_TRUE(patched(root + 12, 0xFFFF, true).empty());
    EXPECT_TRUE(patched(groupTypeDir + 14, 0xFFFF, true).empty());
    EXPECT_TRUE(patched(rootIconType, 0x80000000u).empty()); // RT_ICON points at the root
    EXPECT_TRUE(patched(rootIconType, 0x7FFFFFF0).empty());
    EXPECT_TRUE(patched(root + 16 + 8 + 4, 0x80000000u).empty()); // so does RT_GROUP_ICON
    EXPECT_TRUE(patched(root + 16 + 8 + 4, 0x80000000u | 0x7FFFFFFF).empty());
    EXPECT_TRUE(patched(root + 16 + 8 + 4, 0x20).empty()); // a data entry at the type level
}

TEST(PeIconReaderProgram, EveryTruncationGivesTheIconOrNothing)
{
    for (const bool bPlus : {false, true}) {
        const std::string pe = BuildPe(OneGroup(), bPlus).bytes;
        const Bytes all = Extract(pe);
        const Bytes small = Extract(pe, 0, Images::ClosestTo16);
        ASSERT_FALSE(all.empty());
        ASSERT_FALSE(small.empty());
        for (std::size_t length = 0; length < pe.size(); ++length) {
            // An exact-size heap copy, so that AddressSanitizer sees any read past the end.
            const std::vector<char> cut(pe.begin(), pe.begin() + length);
            const std::string_view bytes(cut.data(), cut.size());
            for (const Images images : {Images::All, Images::ClosestTo16}) {
                const Bytes ico = CPeIconReader::ExtractIconFromBytes(bytes, 0, images);
                if (length < kRsrcFileOffset + 0x100) {
                    EXPECT_TRUE(ico.empty()) << "length " << length;
                } else if (!ico.empty()) {
                    EXPECT_EQ(ico, images == Images::All ? all : small) << "length " << length;
                }
            }
        }
    }
}

TEST(PeIconReaderProgram, ProgramsWithoutGroupIconsGiveNothing)
{
    EXPECT_TRUE(Extract(BuildPe({}).bytes).empty());
    EXPECT_TRUE(Extract(BuildPe({{3, {{1, {}, kSmall}}}}).bytes).empty());
    EXPECT_TRUE(Extract(BuildPe({{14, {{1, {}, GroupData({{16, 16, 4, 1}})}}}}).bytes).empty());
    EXPECT_TRUE(Extract(BuildPe({{14, {}}, {3, {{1, {}, kSmall}}}}).bytes).empty());
    // A plain DOS program.
    std::string dos(0x200, '\0');
    dos[0] = 'M';
    dos[1] = 'Z';
    EXPECT_TRUE(Extract(dos).empty());
}

TEST(PeIconReaderIconFile, ReturnsTheIconUnchangedForIndexZeroOnly)
{
    const std::string file =
        IconFile({{EntryHeader(32, 32, 32), kLarge}, {EntryHeader(16, 16, 4), kSmall}});
    EXPECT_EQ(Extract(file), Bytes(file.begin(), file.end()));
    EXPECT_EQ(ImageData(Extract(file, 0, Images::ClosestTo16)), Data{kSmall});
    EXPECT_TRUE(Extract(file, 1).empty());
    EXPECT_TRUE(Extract(file, -2).empty());
}

TEST(PeIconReaderIconFile, BadEntriesAreLeftOutAndBadDirectoriesGiveNothing)
{
    const std::string file =
        IconFile({{EntryHeader(16, 16, 4), kSmall}, {EntryHeader(32, 32, 32), kLarge}});
    const auto patched = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = file;
        Put32(bytes, at, value);
        return ImageData(Extract(bytes));
    };
    const std::size_t second = 6 + 16;
    EXPECT_EQ(patched(second + 12, file.size() - 10), Data{kSmall});
    EXPECT_EQ(patched(second + 12, 0xFFFFFFFF), Data{kSmall});
    EXPECT_EQ(patched(second + 12, 6), Data{kSmall}); // inside the directory
    EXPECT_EQ(patched(second + 8, 0), Data{kSmall});
    EXPECT_EQ(patched(second + 8, 0xFFFFFFF0), Data{kSmall});

    EXPECT_TRUE(Extract(file.substr(0, 6 + 16)).empty());
    std::string thousand = file;
    Put16(thousand, 4, 1000);
    EXPECT_TRUE(Extract(thousand).empty());
    std::string none = file;
    Put16(none, 4, 0);
    EXPECT_TRUE(Extract(none).empty());
    std::string cursor = file;
    Put16(cursor, 2, 2);
    EXPECT_TRUE(Extract(cursor).empty());
}

TEST(PeIconReaderIconFile, TotalSizeIsCapped)
{
    const std::size_t each = CPeIconReader::kMaxImageSize;
    const std::vector<IconImage> images(9, {EntryHeader(0, 0, 32), std::string(each, 'x')});
    const Bytes ico = Extract(IconFile(images));
    const auto parsed = ParseIcon(ico);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->size(), CPeIconReader::kMaxIconFileSize / each - 1);
    EXPECT_LE(ico.size(), CPeIconReader::kMaxIconFileSize);
}

TEST(PeIconReaderClosestTo16, PrefersExactThenSmallestLargerThenLargestSmaller)
{
    const auto pick = [](const std::vector<IconImage>& images) {
        return ImageData(Extract(IconFile(images), 0, Images::ClosestTo16));
    };
    const std::string p256 = Png('p'), d32 = Dib(32, 32, 32, '3'), d24 = Dib(24, 24, 8, '2'),
                      d16a = Dib(16, 16, 4, 'a'), d16b = Dib(16, 16, 32, 'b'),
                      d16c = Dib(16, 16, 32, 'c'), d8 = Dib(8, 8, 4, '8'),
                      d12 = Dib(12, 12, 4, 'c');
    EXPECT_EQ(pick({{EntryHeader(32, 32, 32), d32},
                    {EntryHeader(16, 16, 4), d16a},
                    {EntryHeader(16, 16, 32), d16b},
                    {EntryHeader(16, 16, 32), d16c}}),
              Data{d16b});
    EXPECT_EQ(pick({{EntryHeader(0, 0, 32), p256},
                    {EntryHeader(32, 32, 32), d32},
                    {EntryHeader(24, 24, 8), d24},
                    {EntryHeader(8, 8, 4), d8}}),
              Data{d24});
    EXPECT_EQ(pick({{EntryHeader(8, 8, 4), d8}, {EntryHeader(12, 12, 4), d12}}), Data{d12});
    EXPECT_EQ(pick({{EntryHeader(0, 0, 32), p256}, {EntryHeader(8, 8, 4), d8}}), Data{p256});
    // Without a stated bit count, the image's own header decides.
    EXPECT_EQ(pick({{EntryHeader(16, 16, 0), d16a}, {EntryHeader(16, 16, 0), d16b}}), Data{d16b});
}

TEST(PeIconReaderOtherFiles, GiveNothing)
{
    EXPECT_TRUE(Extract("").empty());
    EXPECT_TRUE(Extract("M").empty());
    EXPECT_TRUE(Extract("MZ").empty());
    EXPECT_TRUE(Extract(std::string(4, '\0')).empty());
    EXPECT_TRUE(Extract(std::string("\0\0\1\0", 4)).empty());

    CTempTree tree;
    EXPECT_TRUE(CPeIconReader::ExtractIcon(CMountedVolume("/"),
                                           tree.WriteFile("readme.exe", "Hello, world\n"), 0)
                    .empty());
    EXPECT_TRUE(CPeIconReader::ExtractIcon(CMountedVolume("/"), tree.WriteFile("empty.exe", ""), 0)
                    .empty());
    EXPECT_TRUE(
        CPeIconReader::ExtractIcon(CMountedVolume("/"), tree.MakeFolder("folder.exe"), 0).empty());
}

TEST(PeIconReaderOtherFiles, FifoGivesNothingWithoutBlocking)
{
    CTempTree tree;
    const std::string fifo = tree.MakeFifo("x.exe");
    // In a child, so that a reader that blocks fails the test instead of hanging it.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::alarm(10);
        ::_exit(CPeIconReader::ExtractIcon(CMountedVolume("/"), fifo, 0).empty() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
