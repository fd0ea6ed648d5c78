// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/CueSheet.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using Mode = CCueSheet::Mode;
using FileType = CCueSheet::FileType;

TEST(CueSheet, ReadsFilesTracksAndTimesPastTheFieldsItIgnores)
{
    const auto sheet = CCueSheet::Parse("\xEF\xBB\xBFREM GENRE Game\r\n"
                                        "CDTEXTFILE \"disc.cdt\"\r\n"
                                        "title \"Disc \"One\"\r\n"
                                        "file \"Disc One.bin\" binary\r\n"
                                        "\ttrack 01 mode1/2352\r\n"
                                        "  FLAGS DCP\r\n"
                                        "    INDEX 01 00:00:00\r\n"
                                        "  TRACK 2 AUDIO\r\n"
                                        "    ISRC ABCDE1234567\r\n"
                                        "    PREGAP 00:02:00\r\n"
                                        "    INDEX 1 12:34:56\r\n"
                                        "    POSTGAP 00:00:10\r\n"
                                        "FILE My Song.wav WAVE\n"
                                        "  TRACK 03 AUDIO\r"
                                        "    INDEX 01 00:00:00\n");
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->Files().size(), 2u);
    EXPECT_EQ(sheet->Files()[0].m_strName, "Disc One.bin");
    EXPECT_EQ(sheet->Files()[0].m_eType, FileType::Binary);
    EXPECT_EQ(sheet->Files()[1].m_strName, "My Song.wav");
    EXPECT_EQ(sheet->Files()[1].m_eType, FileType::Wave);
    ASSERT_EQ(sheet->Tracks().size(), 3u);
    const CCueSheet::Track& second = sheet->Tracks()[1];
    EXPECT_EQ(second.m_nNumber, 2u);
    EXPECT_EQ(second.m_eMode, Mode::Audio);
    EXPECT_EQ(second.m_nPregap, 150u);
    EXPECT_EQ(second.m_nPostgap, 10u);
    ASSERT_EQ(second.m_arrIndexes.size(), 1u);
    EXPECT_EQ(second.m_arrIndexes[0].m_nFrame, (12u * 60 + 34) * 75 + 56);
    EXPECT_EQ(sheet->Tracks()[2].m_arrIndexes[0].m_nFile, 1u);
}

TEST(CueSheet, DataTrackLiesWhereItsIndexOneIs)
{
    // The file and byte offset of the first data track, no file's size known.
    auto placeOf =
        [](const std::string& text) -> std::optional<std::pair<std::size_t, std::uint64_t>> {
        const auto sheet = CCueSheet::Parse(text);
        if (!sheet || !sheet->FirstDataTrack())
            return std::nullopt;
        const auto place =
            sheet->Place(*sheet->FirstDataTrack(),
                         std::vector<std::optional<std::uint64_t>>(sheet->Files().size()));
        if (!place)
            return std::nullopt;
        return std::pair{place->m_nFile, place->m_nOffset};
    };
    using Place = std::pair<std::size_t, std::uint64_t>;
    const std::string audio = "FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    EXPECT_EQ(placeOf("FILE d.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"), Place(0, 0));
    EXPECT_EQ(placeOf(audio + "FILE d.bin BINARY\nTRACK 02 MODE2/2352\nINDEX 01 00:00:00\n"),
              Place(1, 0));
    // The pregap of a track spanning two files lies in the first.
    EXPECT_EQ(placeOf(audio + "TRACK 02 MODE1/2352\nINDEX 00 03:00:00\n"
                              "FILE d.bin BINARY\nINDEX 01 00:00:00\n"),
              Place(1, 0));
    EXPECT_EQ(placeOf(audio + "TRACK 02 MODE1/2048\nINDEX 01 03:00:00\n"), Place(0, 13500 * 2352));
    EXPECT_EQ(placeOf("FILE d.bin BINARY\nTRACK 01 MODE1/2352\nINDEX 00 00:00:00\n"
                      "INDEX 01 00:02:00\n"),
              Place(0, 150 * 2352));
    EXPECT_FALSE(placeOf(audio));
}

TEST(CueSheet, MalformedOrUnboundedTextIsNoSheet)
{
    const std::string file = "FILE d.bin BINARY\n";
    const std::string track = "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n";
    std::string files;
    for (std::size_t i = 0; i < CCueSheet::kMaxFiles; ++i)
        files += file;
    EXPECT_TRUE(CCueSheet::Parse(files + track));
    for (const std::string& text :
         {std::string(),
          std::string("\n \r\n"),
          file,
          track,
          files + file + track,
          std::string("FILE \"d.bin BINARY\n") + track,
          "FILE d.bin\n" + track,
          "FILE \"d.bin\" BINARY JUNK\n" + track,
          file + "TRACK 00 AUDIO\nINDEX 01 00:00:00\n",
          file + "TRACK 100 AUDIO\nINDEX 01 00:00:00\n",
          file + "TRACK 01 MODE3/2352\n",
          file + "TRACK 01 AUDIO\nINDEX 02 00:00:00\n",
          file + "TRACK 01 AUDIO\n" + track,
          file + track + track,
          file + "TRACK 01 AUDIO\nINDEX 01 00:60:00\n",
          file + "TRACK 01 AUDIO\nINDEX 01 00:00:75\n",
          file + "TRACK 01 AUDIO\nINDEX 01 1:2\n",
          file + "TRACK 01 AUDIO\nINDEX 01 01:00:00\nTRACK 02 AUDIO\nINDEX 01 00:59:74\n",
          file + track + "INDEX 02 00:00:01 extra\n",
          file + std::string("TRACK 01 AUDIO\0\nINDEX 01 00:00:00\n", 34),
          std::string("\x7F"
                      "ELF\x02\x01\x01\0\0\0\0\0",
                      12)})
        EXPECT_FALSE(CCueSheet::Parse(text)) << text;
}

// Offsets walk the sectors of each earlier stretch in its own size; disc addresses add the
// files before, pregaps outside the files and the gap between sessions.
TEST(CueSheet, PlacesTracksInTheirFilesAndOnTheDisc)
{
    const auto sheet = CCueSheet::Parse("REM SESSION 01\nFILE a.bin BINARY\n"
                                        "TRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"
                                        "TRACK 02 AUDIO\nPREGAP 00:01:00\nINDEX 00 00:00:10\n"
                                        "INDEX 01 00:00:20\nTRACK 03 MODE2/2336\n"
                                        "INDEX 01 00:01:00\nREM SESSION 02\nFILE b.bin BINARY\n"
                                        "TRACK 04 MODE1/2352\nINDEX 01 00:00:00\n");
    ASSERT_TRUE(sheet);
    const auto& tracks = sheet->Tracks();
    EXPECT_EQ(tracks[2].m_nSession, 1u);
    EXPECT_EQ(tracks[3].m_nSession, 2u);
    EXPECT_EQ(sheet->LastDataTrack(), &tracks[3]);
    const std::uint64_t aBytes = 10 * 2048 + 65 * 2352 + 100 * 2336;
    const auto third = sheet->Place(tracks[2], {aBytes, std::nullopt});
    ASSERT_TRUE(third);
    EXPECT_EQ(third->m_nOffset, 10 * 2048 + 65 * 2352u);
    EXPECT_EQ(third->m_nSectors, 100u);
    EXPECT_EQ(third->m_nDiscBlock, 75 + 75u);
    const auto second = sheet->Place(tracks[1], {aBytes, std::nullopt});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->m_nOffset, 10 * 2048 + 10 * 2352u);
    EXPECT_EQ(second->m_nSectors, 55u);
    const auto fourth = sheet->Place(tracks[3], {aBytes, 1000 * 2352});
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->m_nFile, 1u);
    EXPECT_EQ(fourth->m_nOffset, 0u);
    EXPECT_EQ(fourth->m_nSectors, 1000u);
    EXPECT_EQ(fourth->m_nDiscBlock, 175 + 75 + 11400u);
    // Unknown sizes before it leave its disc address unknown; a file too short leaves no track.
    EXPECT_FALSE(sheet->Place(tracks[3], {std::nullopt, 1000 * 2352})->m_nDiscBlock);
    EXPECT_FALSE(sheet->Place(tracks[2], {10 * 2048, std::nullopt}));
}

} // namespace
