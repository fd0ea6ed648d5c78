// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ImageTools.h"
#include "support/TempTree.h"

#include "catalogue/FileListJob.h"
#include "catalogue/ScanJob.h"
#include "platform/DiscImage.h"
#include "platform/MountedVolume.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

using Kind = CVolume::PathKind;
using Type = CVolume::EntryType;

using ImageTools::HaveTool;
using ImageTools::Le;
using ImageTools::PutLe;
using ImageTools::Quote;
using ImageTools::ReadBytes;
using ImageTools::RunQuietly;
using ImageTools::WriteBytes;

// Each 2048-byte block of an image as a raw sector of sectorBytes (2352, or 2448 with
// subchannel data): sync, header, a form 1 subheader in mode 2, data, and zeroed error codes,
// which readers do not check.
std::string RawSectors(const std::string& data, std::size_t sectorBytes, char mode)
{
    std::string raw;
    auto bcd = [](unsigned v) {
        return static_cast<char>((v / 10) << 4 | (v % 10));
    };
    for (std::size_t block = 0; block * 2048 < data.size(); ++block) {
        const std::size_t start = raw.size();
        const unsigned frame = static_cast<unsigned>(block) + 150;
        raw += std::string("\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0", 12);
        raw += bcd(frame / 75 / 60);
        raw += bcd(frame / 75 % 60);
        raw += bcd(frame % 75);
        raw += mode;
        if (mode == 2)
            raw += std::string("\0\0\x08\0\0\0\x08\0", 8);
        raw += data.substr(block * 2048, 2048);
        raw.resize(start + sectorBytes, '\0');
    }
    return raw;
}

// The image as raw mode 1 sectors, and a sheet naming the result.
void WriteBinCue(const std::string& iso, const std::string& bin, const std::string& cue)
{
    WriteBytes(bin, RawSectors(ReadBytes(iso), 2352, 1));
    WriteBytes(cue, "FILE \"" + bin.substr(bin.rfind('/') + 1) +
                        "\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
}

// How a UDF file entry gets rewritten: its data moved into the entry, or its one extent
// cut in two after the first block, as Windows and packet writers record files.
std::string Be32(std::uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string NrgChunk(const std::string& tag, const std::string& data)
{
    return tag + Be32(static_cast<std::uint32_t>(data.size())) + data;
}

// A one-track data disc as an NRG image (a DVD's: no pregap): the track, the footer's chunks,
// "END!", and "NERO" with where the chunks start.
std::string NrgImage(const std::string& track, const std::string& chunks)
{
    return track + chunks + NrgChunk("END!", "") + "NERO" +
           Be32(static_cast<std::uint32_t>(track.size()));
}

enum class UdfRewrite { Embed, Split };

// Rewrites the one UDF file entry (short allocation descriptors, as genisoimage writes them)
// of a file of size bytes, with a fresh tag checksum and CRC; false when there is not exactly
// one such entry.
bool RewriteUdfEntry(const std::string& image, std::uint64_t size, UdfRewrite how)
{
    std::string data = ReadBytes(image);
    std::vector<std::size_t> found;
    for (std::size_t at = 0; at + 2048 <= data.size(); at += 2048) {
        if (Le(data, at, 2) == 261 && Le(data, at + 56, 8) == size && Le(data, at + 172, 4) == 8)
            found.push_back(at);
    }
    if (found.size() != 1)
        return false;
    const std::size_t fe = found.front();
    const std::size_t ads = fe + 176 + Le(data, fe + 168, 4);
    const std::uint64_t block = Le(data, ads + 4, 4); // inside the partition
    std::size_t adsLength = 8;
    if (how == UdfRewrite::Embed) {
        // The tag's location is the entry's block inside the partition: where it starts.
        const std::uint64_t partition = fe / 2048 - Le(data, fe + 12, 4);
        data.replace(ads, size, data.substr((partition + block) * 2048, size));
        PutLe(data, fe + 34, 2, (Le(data, fe + 34, 2) & ~7u) | 3); // allocation: in the entry
        adsLength = size;
    } else {
        PutLe(data, ads, 4, 2048);
        PutLe(data, ads + 8, 4, size - 2048);
        PutLe(data, ads + 12, 4, block + 1);
        adsLength = 16;
    }
    PutLe(data, fe + 172, 4, adsLength);
    ImageTools::ResealUdfTag(data, fe, 176 + Le(data, fe + 168, 4) + adsLength - 16);
    WriteBytes(image, data);
    return true;
}

using Tree = std::map<std::string, std::string>; // path inside -> "dir" or the file's bytes

// Everything below folder, depth first, through the volume.
void Collect(const CVolume& volume, const std::string& folder, const std::string& inside, Tree& out)
{
    const auto open = volume.OpenFolder(folder);
    ASSERT_TRUE(open) << folder;
    const auto reader = volume.NewFolderReader();
    ASSERT_TRUE(reader->Start(*open));
    CVolume::Entry entry;
    while (reader->Next(entry)) {
        const std::string path = folder + '/' + entry.strName;
        const std::string key = inside + '/' + entry.strName;
        if (entry.type == Type::Folder) {
            out[key] = "dir";
            Collect(volume, path, key, out);
        } else if (entry.type == Type::FolderLink) {
            out[key] = "folder link";
        } else {
            const auto file = volume.OpenFile(path);
            std::string bytes = entry.bLink ? "link" : "unreadable";
            if (file) {
                EXPECT_EQ(file->ReadAll(bytes, 1 << 20), CVolume::ReadStatus::Ok) << path;
            }
            // Long contents by size and hash, to keep failure reports short.
            if (bytes.size() > 64)
                bytes = std::to_string(bytes.size()) + " bytes, hash " +
                        std::to_string(std::hash<std::string>{}(bytes));
            out[key] = bytes;
        }
    }
}

Tree Collect(const CVolume& volume)
{
    Tree tree;
    Collect(volume, volume.Root(), "", tree);
    return tree;
}

// Every folder and file the volume shows, read as far as it lets them be read; returns how
// many entries it saw. For damaged images: nothing here may fail, only end early.
int WalkWhatever(const CVolume& volume, const std::string& folder, int depth = 0)
{
    const auto open = volume.OpenFolder(folder);
    const auto reader = volume.NewFolderReader();
    if (!open || depth > 8 || !reader->Start(*open))
        return 0;
    int seen = 0;
    std::string bytes;
    for (CVolume::Entry entry; reader->Next(entry) && seen < 10000; ++seen) {
        const std::string path = folder + '/' + entry.strName;
        if (entry.type == Type::Folder)
            seen += WalkWhatever(volume, path, depth + 1);
        else if (const auto file = volume.OpenFile(path); file && entry.type == Type::File)
            (void)file->ReadAll(bytes, 1 << 20);
    }
    return seen;
}

// A .ccd's text for table-of-contents entries of (session, point, control, start).
std::string ControlText(const std::vector<std::tuple<int, int, int, std::uint32_t>>& entries)
{
    std::string text =
        "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=" + std::to_string(entries.size()) + "\r\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& [session, point, control, start] = entries[i];
        text += "[Entry " + std::to_string(i) + "]\r\nSession=" + std::to_string(session) +
                "\r\nPoint=0x" + (std::ostringstream() << std::hex << point).str() +
                "\r\nADR=0x01\r\nControl=0x0" + std::to_string(control) +
                "\r\nPLBA=" + std::to_string(start) + "\r\n";
    }
    return text;
}

// A .mds for tracks of (session, point, mode, sector bytes, start, offset in the image):
// the header, a block for each session, then each session's track blocks.
using MdsTrack = std::tuple<int, int, int, std::uint32_t, std::uint32_t, std::uint64_t>;
std::string MdsBytes(const std::vector<MdsTrack>& tracks, int sessions)
{
    std::string mds = "MEDIA DESCRIPTOR\x01\x05";
    mds.resize(88 + 24 * static_cast<std::size_t>(sessions), '\0');
    PutLe(mds, 0x14, 2, static_cast<std::uint64_t>(sessions));
    PutLe(mds, 0x50, 4, 88);
    for (int session = 1; session <= sessions; ++session) {
        const std::size_t block = 88 + 24 * static_cast<std::size_t>(session - 1);
        PutLe(mds, block + 8, 2, static_cast<std::uint64_t>(session));
        PutLe(mds, block + 20, 4, mds.size());
        for (const auto& [s, point, mode, bytes, start, offset] : tracks) {
            if (s != session)
                continue;
            const std::size_t at = mds.size();
            mds.resize(at + 80, '\0');
            PutLe(mds, block + 10, 1, Le(mds, block + 10, 1) + 1);
            PutLe(mds, at, 1, static_cast<std::uint64_t>(mode));
            PutLe(mds, at + 4, 1, static_cast<std::uint64_t>(point));
            PutLe(mds, at + 0x10, 2, bytes);
            PutLe(mds, at + 0x24, 4, start);
            PutLe(mds, at + 0x28, 8, offset);
        }
    }
    return mds;
}

class ImageVolume : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveTool("xorriso"))
            GTEST_SKIP() << "xorriso is not installed";
        m_src.WriteFile("autorun.inf", "[autorun]\r\nlabel=Test\r\n");
        m_src.WriteFile("Apps/Hex Edit/hexedit.brw",
                        "[info]\r\ncategory=Tools\r\nname=Hex Edit\r\n[description]\r\n"
                        "file=Docs\\ReadMe.TXT\r\n[showfiles]\r\nsearchsubdirs=true\r\n"
                        "file1=*.exe\r\nfile2=bin\\*.dll\r\n");
        m_src.WriteFile("Apps/Hex Edit/HexEdit.exe", std::string(5000, 'x') + "MZ");
        m_src.WriteFile("Apps/Hex Edit/docs/readme.txt", "Edits bytes.\r\n");
        m_src.WriteFile("Apps/Hex Edit/Bin/Core.DLL", "dll");
        m_src.WriteFile("Apps/Hex Edit/Bin/deeper/more.dll", "more");
        m_src.WriteFile("Apps/Paint/paint.brw",
                        "[info]\r\ncategory=graphics\r\nname=Paint\r\n[description]\r\n"
                        "line1=Draws.\r\nline2=In colour.\r\n");
        m_src.WriteFile("Apps/Paint/Paint.exe", "MZ");
        m_src.WriteFile("Apps/Paint/a long name with spaces and more than 31 letters.txt", "t");
        m_src.MakeFolder("Empty");
    }

    std::string Build(const std::string& name, const std::string& options)
    {
        const std::string image = m_out.Path(name);
        if (!RunQuietly("xorriso -as mkisofs " + options + " -o " + Quote(image) + " " +
                        Quote(m_src.Root())))
            return {};
        return image;
    }

    CTempTree m_src;
    CTempTree m_out;
};

TEST_F(ImageVolume, RockRidgeJolietImageReadsLikeTheFolder)
{
    m_src.MakeLink("Apps/Shortcut", "Hex Edit");
    m_src.MakeLink("Apps/Outside", "/etc");
    const std::string image = Build("cd.iso", "-J -R");
    ASSERT_FALSE(image.empty());
    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->Root(), image);
    const CMountedVolume folder(m_src.Root());

    Tree fromImage = Collect(*volume);
    Tree fromFolder = Collect(folder);
    EXPECT_EQ(fromImage["/Apps/Shortcut"], "folder link");
    EXPECT_EQ(fromImage["/Apps/Outside"], "link") << "a link never leaves the image";
    fromImage.erase("/Apps/Outside");
    fromFolder.erase("/Apps/Outside");
    EXPECT_EQ(fromImage, fromFolder);

    EXPECT_EQ(volume->What(image + "/Apps/Shortcut/Bin"), Kind::Folder);
    EXPECT_EQ(volume->What(image + "/Apps/Hex Edit/HexEdit.exe"), Kind::File);
    EXPECT_EQ(volume->What(image + "/Apps/Outside"), Kind::Missing);
    EXPECT_EQ(volume->What(image + "/Apps/../Apps"), Kind::Missing);
    EXPECT_TRUE(volume->LinkLeadsBelow(image + "/Apps/Shortcut", image + "/Apps"));
    EXPECT_FALSE(volume->LinkLeadsBelow(image + "/Apps/Shortcut", image + "/Apps/Paint"));
    EXPECT_FALSE(volume->LinkLeadsBelow(image + "/Apps/Outside", image));
    EXPECT_EQ(volume->ResolveNoCase(image + "/apps", "HEX EDIT\\DOCS/README.txt"), std::nullopt)
        << "the folder given is taken as written";
    EXPECT_EQ(volume->ResolveNoCase(image + "/Apps", "HEX EDIT\\DOCS/README.txt"),
              image + "/Apps/Hex Edit/docs/readme.txt");
    EXPECT_FALSE(volume->RealPathForDesktop(image + "/Apps/Paint/Paint.exe"));

    // Reads at any offset, bounded by the file.
    const auto file = volume->OpenFile(image + "/Apps/Hex Edit/HexEdit.exe");
    ASSERT_TRUE(file);
    char tail[3] = {};
    EXPECT_TRUE(file->ReadAt(4999, tail, 3));
    EXPECT_EQ(std::string(tail, 3), "xMZ");
    EXPECT_FALSE(file->ReadAt(5000, tail, 3));
    // Small reads one after another, as a reader of file headers makes them.
    std::string pieces;
    for (std::size_t at = 0; at < 5002; at += 61) {
        char piece[61];
        const std::size_t n = std::min<std::size_t>(sizeof piece, 5002 - at);
        ASSERT_TRUE(file->ReadAt(at, piece, n));
        pieces.append(piece, n);
    }
    EXPECT_EQ(pieces, std::string(5000, 'x') + "MZ");
    std::string all;
    EXPECT_EQ(file->ReadAll(all, 100), CVolume::ReadStatus::TooLarge);
    EXPECT_TRUE(all.empty());
}

// Scan, descriptions and file lists of the image equal those of the folder, paths aside.
TEST_F(ImageVolume, JobsGiveTheSameResultsAsOnTheFolder)
{
    const std::string image = Build("cd.iso", "-J -R");
    ASSERT_FALSE(image.empty());
    const std::shared_ptr<const CVolume> volumes[] = {DiscImage::Open(image),
                                                      CMountedVolume::Create(m_src.Root())};
    ASSERT_TRUE(volumes[0]);
    std::string results[2];
    for (int i = 0; i < 2; ++i) {
        const std::string& root = volumes[i]->Root();
        std::ostringstream out;
        CScanJob scan(volumes[i]);
        scan.Run();
        const auto catalogue = scan.TakeReports().pCatalogue;
        ASSERT_TRUE(catalogue);
        for (const CCategoryEntry& category : catalogue->Categories())
            for (const CApplicationEntry& app : category.arrApplications) {
                out << category.strText << '|' << app.strName << '|'
                    << app.strDescriptorPath.substr(root.size()) << '\n';
                for (const bool bAll : {false, true}) {
                    CFileListJob list(
                        volumes[i], {app.strFolder, {}, false, bAll, app.strDescriptorPath, true});
                    list.Run();
                    const auto reports = list.TakeReports();
                    out << reports.strDescription.value_or("(none)") << '\n';
                    for (const CFileRow& row : reports.arrRows)
                        out << row.strTitle << row.strExtension << ' '
                            << row.strPath.substr(root.size()) << '\n';
                }
            }
        results[i] = out.str();
    }
    EXPECT_NE(results[1].find("Edits bytes."), std::string::npos) << results[1];
    EXPECT_NE(results[1].find("Core.dll /Apps/Hex Edit/Bin/Core.DLL"), std::string::npos)
        << results[1];
    EXPECT_EQ(results[0], results[1]);
}

// Without extensions the names are those a mount shows: lower case, no ";1" version.
TEST_F(ImageVolume, PlainAndJolietNamesAsAMountShowsThem)
{
    const std::string plain = Build("plain.iso", "-iso-level 2 --norock");
    m_src.WriteFile("Apps/Caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80.txt", "utf-16");
    const std::string joliet = Build("joliet.iso", "-J -input-charset UTF-8");
    ASSERT_FALSE(plain.empty() || joliet.empty());
    const auto volume = DiscImage::Open(plain);
    ASSERT_TRUE(volume);
    const Tree tree = Collect(*volume);
    EXPECT_EQ(tree.count("/apps/paint/paint.exe"), 1u) << ::testing::PrintToString(tree);
    EXPECT_EQ(volume->ResolveNoCase(plain, "APPS/Paint/PAINT.BRW"),
              plain + "/apps/paint/paint.brw");

    const auto jvolume = DiscImage::Open(joliet);
    ASSERT_TRUE(jvolume);
    const Tree jtree = Collect(*jvolume);
    EXPECT_EQ(jtree.at("/Apps/Hex Edit/Bin/Core.DLL"), "dll") << ::testing::PrintToString(jtree);
    EXPECT_EQ(jtree.at("/Apps/Caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80.txt"), "utf-16");
}

TEST_F(ImageVolume, RawSectorImageWithItsCueSheet)
{
    const std::string image = Build("cd.iso", "-J -R");
    ASSERT_FALSE(image.empty());
    const std::string bin = m_out.Path("Disc One.bin");
    const std::string cue = m_out.Path("Disc One.cue");
    WriteBinCue(image, bin, cue);
    const auto direct = DiscImage::Open(image);
    for (const std::string& path : {cue, bin}) {
        const auto volume = DiscImage::Open(path);
        ASSERT_TRUE(volume) << path;
        EXPECT_EQ(Collect(*volume), Collect(*direct)) << path;
    }
    // A sheet whose data file is short shows what is there, or nothing: never more.
    WriteBytes(bin, ReadBytes(bin).substr(0, 2352 * 20));
    if (const auto volume = DiscImage::Open(cue)) {
        EXPECT_EQ(volume->What(cue + "/Apps/Paint/Paint.exe"), Kind::Missing);
    }
    std::remove(bin.c_str());
    EXPECT_FALSE(DiscImage::Open(cue));
}

TEST_F(ImageVolume, RawSectorLayoutsReadLikeTheCookedImage)
{
    const std::string image = Build("cd.iso", "-J -R");
    ASSERT_FALSE(image.empty());
    const Tree expected = Collect(*DiscImage::Open(image));
    const std::string data = ReadBytes(image);
    WriteBytes(m_out.Path("sub.bin"), RawSectors(data, 2448, 1));
    WriteBytes(m_out.Path("xa.bin"), RawSectors(data, 2352, 2));
    const std::string track = " BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n";
    for (const std::string& path : {m_out.Path("sub.bin"), m_out.Path("xa.bin"),
                                    m_out.WriteFile("xa.cue", "FILE xa.bin" + track)}) {
        const auto volume = DiscImage::Open(path);
        ASSERT_TRUE(volume) << path;
        EXPECT_EQ(Collect(*volume), expected) << path;
    }
    // A sheet that gives the wrong sector size opens nothing rather than misreading.
    EXPECT_FALSE(DiscImage::Open(m_out.WriteFile("wrong.cue", "FILE sub.bin" + track)));
}

// Folders relocated below rr_moved, names and link targets in continuation areas, modes.
TEST_F(ImageVolume, RockRidgeAsAMountShowsIt)
{
    if (!HaveTool("genisoimage"))
        GTEST_SKIP() << "genisoimage is not installed";
    std::string deep = "Deep";
    for (int i = 0; i < 10; ++i)
        deep += "/level " + std::to_string(i);
    m_src.WriteFile(deep + "/bottom.txt", "bottom");
    m_src.WriteFile("Apps/" + std::string(200, 'n') + ".txt", "long");
    m_src.MakeLink("Apps/ToBottom", "../" + deep + "/bottom.txt");
    m_src.WriteFile("Apps/tool.sh", "#!/bin/sh\n");
    m_src.SetMode("Apps/tool.sh", 0755);
    const std::string image = m_out.Path("deep.iso");
    ASSERT_TRUE(RunQuietly("genisoimage -R -o " + Quote(image) + " " + Quote(m_src.Root())));
    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    Tree tree = Collect(*volume);
    EXPECT_EQ(tree.erase("/rr_moved"), 1u) << "kept, emptied of the folders moved there";
    EXPECT_EQ(tree, Collect(CMountedVolume(m_src.Root())));
    EXPECT_TRUE(volume->OpenFile(image + "/Apps/tool.sh")->IsRecordedExecutable());
    EXPECT_FALSE(volume->OpenFile(image + "/Apps/ToBottom")->IsRecordedExecutable());
}

TEST_F(ImageVolume, CueSheetOpensTheDataFileItNames)
{
    const std::string image = Build("cd.iso", "-J -R");
    ASSERT_FALSE(image.empty());
    const Tree expected = Collect(*DiscImage::Open(image));
    // Named in capitals, as sheets written on Windows do; the sheet's own name leads nowhere.
    const std::string bin = m_out.Path("dzone.bin");
    const std::string cue = m_out.Path("Disc.cue");
    WriteBinCue(image, bin, cue);
    WriteBytes(cue, "REM from Windows\r\nFILE \"DZONE.BIN\" BINARY\r\n  TRACK 01 MODE1/2352\r\n"
                    "    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    INDEX 01 00:10:00\r\n");
    const auto volume = DiscImage::Open(cue);
    ASSERT_TRUE(volume);
    EXPECT_EQ(Collect(*volume), expected);
    const std::string cooked =
        m_out.WriteFile("cooked.cue", "file cd.iso binary\ntrack 1 mode1/2048\nindex 1 0:00:00\n");
    ASSERT_TRUE(DiscImage::Open(cooked));
    EXPECT_EQ(Collect(*DiscImage::Open(cooked)), expected);
    std::string mode2; // form 1 sectors: subheader, data, error codes
    const std::string data = ReadBytes(image);
    for (std::size_t at = 0; at < data.size(); at += 2048)
        mode2 +=
            std::string("\0\0\x08\0\0\0\x08\0", 8) + data.substr(at, 2048) + std::string(280, '\0');
    WriteBytes(m_out.Path("mode2.bin"), mode2);
    const std::string xa = m_out.WriteFile(
        "xa.cue", "FILE mode2.bin BINARY\nTRACK 01 MODE2/2336\nINDEX 01 00:00:00\n");
    ASSERT_TRUE(DiscImage::Open(xa));
    EXPECT_EQ(Collect(*DiscImage::Open(xa)), expected);

    // A new data file under the same name gives new identities.
    const std::string path = cue + "/Apps/Paint/Paint.exe";
    const auto before = volume->IdentityOf(path);
    ASSERT_TRUE(before);
    ASSERT_EQ(std::rename(bin.c_str(), m_out.Path("old.bin").c_str()), 0);
    WriteBytes(bin, ReadBytes(m_out.Path("old.bin")));
    const auto reopened = DiscImage::Open(cue);
    ASSERT_TRUE(reopened);
    EXPECT_NE(reopened->IdentityOf(path), before);
}

// Nothing here may block: the sheet's data file is the only file opened, and never a FIFO.
TEST_F(ImageVolume, CueSheetOpensNothingButARegularDataFile)
{
    const std::string image = Build("cd.iso", "-J -R");
    ASSERT_FALSE(image.empty());
    const std::string track = "TRACK 01 MODE1/2048\nINDEX 01 00:00:00\n";
    m_out.MakeFifo("disc.bin");
    m_out.MakeFifo("disc.cdt");
    EXPECT_TRUE(DiscImage::Open(
        m_out.WriteFile("disc.cue", "CDTEXTFILE \"disc.cdt\"\nFILE \"cd.iso\" BINARY\n" + track)));

    m_out.MakeFolder("folder.bin");
    m_out.MakeFolder("sub");
    const std::string nested = m_out.WriteFile("sub/nested.cue", "FILE ../cd.iso BINARY\n" + track);
    for (const std::string& file :
         std::vector<std::string>{"\"disc.bin\" BINARY", "folder.bin BINARY", "missing.bin BINARY",
                                  image + " BINARY", "cd.iso WAVE"})
        EXPECT_FALSE(DiscImage::Open(m_out.WriteFile("bad.cue", "FILE " + file + "\n" + track)))
            << file;
    EXPECT_FALSE(DiscImage::Open(nested));
    // Sound alone, a data track where no file system lies, and junk.
    EXPECT_FALSE(DiscImage::Open(
        m_out.WriteFile("sound.cue", "FILE cd.iso BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n")));
    EXPECT_FALSE(DiscImage::Open(
        m_out.WriteFile("mixed.cue", "FILE cd.iso BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                     "TRACK 02 MODE1/2048\nINDEX 01 00:04:00\n")));
    EXPECT_FALSE(DiscImage::Open(m_out.WriteFile("junk.cue", ReadBytes(image).substr(0, 60000))));
}

// Sound first, then data: in one file behind it, with a pregap kept there and addresses
// counted from the disc's start or from the track's, or in a file of a later session.
TEST_F(ImageVolume, CueSheetFindsTheDataTrackBehindSound)
{
    const std::string plain = Build("cd.iso", "-J -R");
    const std::string late = Build("late.iso", "-J -R -C 0,450");
    const std::string session = Build("session.iso", "-J -R -C 0,11700");
    ASSERT_FALSE(plain.empty() || late.empty() || session.empty());
    const Tree expected = Collect(*DiscImage::Open(plain));
    const std::string sound(300 * 2352, '\0');
    WriteBytes(m_out.Path("mixed.bin"),
               sound + std::string(150 * 2352, '\0') + RawSectors(ReadBytes(late), 2352, 1));
    WriteBytes(m_out.Path("cooked.bin"), sound + ReadBytes(plain));
    WriteBytes(m_out.Path("Track 1.bin"), sound);
    WriteBytes(m_out.Path("Track 2.bin"), RawSectors(ReadBytes(session), 2352, 1));
    const std::string audio = "TRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    for (const std::string& cue :
         {m_out.WriteFile("mixed.cue", "FILE mixed.bin BINARY\n" + audio +
                                           "TRACK 02 MODE1/2352\nINDEX 00 00:04:00\n"
                                           "INDEX 01 00:06:00\n"),
          m_out.WriteFile("cooked.cue", "FILE cooked.bin BINARY\n" + audio +
                                            "TRACK 02 MODE1/2048\nINDEX 01 00:04:00\n"),
          m_out.WriteFile("extra.cue", "REM SESSION 01\nFILE \"Track 1.bin\" BINARY\n" + audio +
                                           "REM LEAD-OUT 01:30:00\nREM SESSION 02\n"
                                           "FILE \"TRACK 2.BIN\" BINARY\nTRACK 02 MODE1/2352\n"
                                           "INDEX 01 00:00:00\n")}) {
        const auto volume = DiscImage::Open(cue);
        ASSERT_TRUE(volume) << cue;
        EXPECT_EQ(Collect(*volume), expected) << cue;
    }
    // Of two data sessions the later shows, as a mount shows it.
    m_src.WriteFile("Apps/added.txt", "new");
    const std::uint64_t first = ReadBytes(plain).size() / 2048;
    const std::string second = Build("second.iso", "-J -R -C 0," + std::to_string(first + 11400));
    WriteBytes(m_out.Path("one.bin"), RawSectors(ReadBytes(plain), 2352, 1));
    WriteBytes(m_out.Path("two.bin"), RawSectors(ReadBytes(second), 2352, 1));
    const auto both = DiscImage::Open(
        m_out.WriteFile("both.cue", "FILE one.bin BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                                    "REM SESSION 02\nFILE two.bin BINARY\nTRACK 02 MODE1/2352\n"
                                    "INDEX 01 00:00:00\n"));
    ASSERT_TRUE(both);
    EXPECT_EQ(Collect(*both)["/Apps/added.txt"], "new");
}

// The image keeps no gap between sessions; its control file names it in other case.
TEST_F(ImageVolume, ControlFileOpensItsImageLastDataSession)
{
    const std::string plain = Build("cd.iso", "-J -R");
    const std::string session = Build("session.iso", "-J -R -C 0,11700");
    ASSERT_FALSE(plain.empty() || session.empty());
    const Tree expected = Collect(*DiscImage::Open(plain));
    WriteBytes(m_out.Path("extra.img"),
               std::string(450 * 2352, '\0') + RawSectors(ReadBytes(session), 2352, 1));
    const std::string extra = ControlText({{1, 1, 0, 0}, {1, 0xA2, 0, 300}, {2, 2, 4, 11700}});
    WriteBytes(m_out.Path("data.img"), RawSectors(ReadBytes(plain), 2352, 1));
    for (const auto& [ccd, img] :
         {std::pair{m_out.WriteFile("Extra.ccd", extra), m_out.Path("extra.img")},
          std::pair{m_out.WriteFile("data.ccd", ControlText({{1, 1, 4, 0}}) +
                                                    "[TRACK 1]\r\nMODE=1\r\nINDEX 1=0\r\n"),
                    m_out.Path("data.img")}}) {
        for (const std::string& path : {ccd, img}) {
            const auto volume = DiscImage::Open(path);
            ASSERT_TRUE(volume) << path;
            EXPECT_EQ(volume->Root(), path);
            EXPECT_EQ(Collect(*volume), expected) << path;
        }
    }
    // Malformed, out of bounds, or no data where the entries say.
    for (const std::string& text :
         {extra.substr(0, extra.find("[Entry 2]")), extra.substr(extra.find("[Disc]")),
          extra + "[Entry 3]\r\nPLBA=12x\r\n", extra + "[Entry 2]\r\n", extra + "[Entry 400]\r\n",
          ControlText({{1, 0x1FF, 4, 0}}), ControlText({{1, 1, 4, 300}, {1, 2, 4, 200}}),
          ControlText({{1, 1, 4, 1u << 31}}), ControlText({{1, 1, 4, 4000000000u}}),
          extra + std::string(300000, '\n')})
        EXPECT_FALSE(DiscImage::Open(m_out.WriteFile("extra.ccd", text))) << text.substr(0, 200);
}

TEST_F(ImageVolume, MdsOpensTheLastDataTrackOfItsImage)
{
    const std::string plain = Build("cd.iso", "-J -R");
    const std::string session = Build("session.iso", "-J -R -C 0,11700");
    ASSERT_FALSE(plain.empty() || session.empty());
    const Tree expected = Collect(*DiscImage::Open(plain));
    WriteBytes(m_out.Path("extra.mdf"),
               std::string(450 * 2352, '\0') + RawSectors(ReadBytes(session), 2352, 1));
    // Sound, a lead-in point that is no track, then the data session.
    const std::string extra = MdsBytes(
        {{1, 1, 0xA9, 2352, 0, 0}, {2, 0xA0, 0, 0, 0, 0}, {2, 2, 0xAA, 2352, 11700, 450 * 2352}},
        2);
    WriteBytes(m_out.Path("dvd.mdf"), ReadBytes(plain));
    for (const auto& [mds, mdf] :
         {std::pair{m_out.WriteFile("Extra.mds", extra), m_out.Path("extra.mdf")},
          std::pair{m_out.WriteFile("dvd.mds", MdsBytes({{1, 1, 0x02, 2048, 0, 0}}, 1)),
                    m_out.Path("dvd.mdf")}}) {
        for (const std::string& path : {mds, mdf}) {
            const auto volume = DiscImage::Open(path);
            ASSERT_TRUE(volume) << path;
            EXPECT_EQ(Collect(*volume), expected) << path;
        }
    }
    // Cut short, counts and offsets that lead outside it, a track twice, sound alone.
    std::string wild = extra;
    PutLe(wild, 0x14, 2, 0xFFFF);
    std::string offsets = extra;
    PutLe(offsets, 88 + 24 + 20, 4, extra.size() - 40);
    std::string blocks = extra;
    PutLe(blocks, 88 + 10, 1, 255);
    std::string extraAt = extra;
    PutLe(extraAt, 88 + 48 + 160 + 0x0C, 4, extra.size() - 4);
    for (const std::string& bytes :
         {extra.substr(0, 100), extra.substr(0, extra.size() - 1), wild, offsets, blocks, extraAt,
          "MEDIA DESCRIPTOR" + std::string(100, '\xFF'),
          MdsBytes({{1, 1, 0xAA, 2352, 0, 0}, {2, 1, 0xAA, 2352, 0, 0}}, 2),
          MdsBytes({{1, 1, 0xA9, 2352, 0, 0}}, 1),
          MdsBytes({{1, 1, 0xAA, 2352, 0, 1ull << 40}}, 1)})
        EXPECT_FALSE(DiscImage::Open(m_out.WriteFile("extra.mds", bytes)));
}

TEST_F(ImageVolume, UdfBridgeImageShowsItsUdfNames)
{
    if (!HaveTool("genisoimage"))
        GTEST_SKIP() << "genisoimage is not installed";
    // Names of 8-bit and of 16-bit characters, told apart by their first byte.
    m_src.WriteFile("Apps/caf\xC3\xA9.txt", "8");
    m_src.WriteFile("Apps/\xE6\x97\xA5\xE6\x9C\xAC.txt", "16");
    const std::string image = m_out.Path("dvd.iso");
    ASSERT_TRUE(RunQuietly("genisoimage -input-charset utf-8 -udf -o " + Quote(image) + " " +
                           Quote(m_src.Root())));
    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    EXPECT_EQ(Collect(*volume), Collect(CMountedVolume(m_src.Root())));
}

TEST_F(ImageVolume, UdfFilesSplitOrKeptInTheirEntryReadLikeTheFolder)
{
    if (!HaveTool("genisoimage"))
        GTEST_SKIP() << "genisoimage is not installed";
    const std::string image = m_out.Path("dvd.iso");
    ASSERT_TRUE(RunQuietly("genisoimage -udf -o " + Quote(image) + " " + Quote(m_src.Root())));
    const std::size_t descriptorSize = ReadBytes(m_src.Path("Apps/Paint/paint.brw")).size();
    ASSERT_TRUE(RewriteUdfEntry(image, descriptorSize, UdfRewrite::Embed));
    ASSERT_TRUE(RewriteUdfEntry(image, 5002, UdfRewrite::Split)); // HexEdit.exe, 3 blocks
    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    EXPECT_EQ(Collect(*volume), Collect(CMountedVolume(m_src.Root())));
}

// File entries, folders and data seen through a metadata partition (as UDF 2.50 writes),
// here one whose blocks lie one block further into the physical partition: the image's
// partition gets a block in front, which holds the metadata file's entry.
TEST_F(ImageVolume, UdfMetadataPartitionIsReadThroughItsFile)
{
    if (!HaveTool("genisoimage"))
        GTEST_SKIP() << "genisoimage is not installed";
    using ImageTools::Le;
    using ImageTools::PutLe;
    using ImageTools::ResealUdfTag;
    const std::string image = m_out.Path("dvd.iso");
    ASSERT_TRUE(RunQuietly("genisoimage -udf -o " + Quote(image) + " " + Quote(m_src.Root())));
    std::string data = ReadBytes(image);
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    for (std::size_t at = 0; at + 2048 <= data.size(); at += 2048) {
        if (Le(data, at + 12, 4) != at / 2048)
            continue;
        if (Le(data, at, 2) == 5) {
            start = Le(data, at + 188, 4);
            length = Le(data, at + 192, 4);
            PutLe(data, at + 192, 4, length + 1);
            ResealUdfTag(data, at, 496);
        } else if (Le(data, at, 2) == 6) {
            const std::size_t map = at + 440 + Le(data, at + 264, 4);
            PutLe(data, at + 264, 4, Le(data, at + 264, 4) + 64);
            PutLe(data, at + 268, 4, 2);
            PutLe(data, map, 2, 2 | 64 << 8);
            data.replace(map + 5, 23, "*UDF Metadata Partition");
            PutLe(data, map + 36, 4, 1); // volume 1, partition 0; its file at block 0
            PutLe(data, at + 256, 2, 1); // the file set lies in the metadata partition
            ResealUdfTag(data, at, 440 + Le(data, at + 264, 4) - 16);
        }
    }
    ASSERT_GT(start, 0u);
    PutLe(data, start * 2048 + 408, 2, 1); // and so does the root
    ResealUdfTag(data, start * 2048, 496);
    for (std::size_t at = start * 2048; at + 40 <= data.size(); at += 4)
        if (Le(data, at, 2) == 257 && Le(data, at + 2, 2) == 2) {
            PutLe(data, at + 28, 2, 1);
            ResealUdfTag(data, at, Le(data, at + 10, 2));
        }
    std::string metadata(2048, '\0'); // its one short allocation descriptor: all but itself
    PutLe(metadata, 0, 4, 261 | 2 << 16);
    PutLe(metadata, 20, 2, 4);
    PutLe(metadata, 24, 2, 1);
    metadata[27] = static_cast<char>(250);
    PutLe(metadata, 56, 8, length * 2048);
    PutLe(metadata, 172, 4, 8);
    PutLe(metadata, 176, 4, length * 2048);
    PutLe(metadata, 180, 4, 1);
    ResealUdfTag(metadata, 0, 168);
    data.insert(start * 2048, metadata);
    WriteBytes(image, data);

    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    EXPECT_EQ(Collect(*volume), Collect(CMountedVolume(m_src.Root())));
}

// A CD-RW's packet that went bad is read from where its sparing tables moved it.
TEST_F(ImageVolume, UdfSparedPacketIsReadWhereItWasMoved)
{
    if (!HaveTool("mkudffs"))
        GTEST_SKIP() << "mkudffs is not installed";
    using ImageTools::Le;
    const std::string image = m_out.WriteFile("cdrw.udf", std::string(8 << 20, '\0'));
    ASSERT_TRUE(
        RunQuietly("mkudffs --blocksize=2048 --media-type=cdrw --udfrev=2.01 " + Quote(image)));
    std::string data = ReadBytes(image);
    std::uint64_t start = 0;
    std::uint64_t packet = 0;
    std::uint64_t root = 0;
    std::vector<std::size_t> tables;
    for (std::size_t at = 0; at + 2048 <= data.size(); at += 2048) {
        const std::uint64_t tag = Le(data, at, 2);
        if (tag == 5)
            start = Le(data, at + 188, 4);
        else if (tag == 6)
            packet = Le(data, at + 440 + 40, 2);
        else if (tag == 0 && data.compare(at + 17, 18, "*UDF Sparing Table") == 0)
            tables.push_back(at);
        else if ((tag == 261 || tag == 266) && data[at + 27] == 4)
            root = at / 2048 - start; // the one folder mkudffs writes
    }
    ASSERT_TRUE(start > 0 && packet > 0 && root > 0 && !tables.empty());
    const std::uint64_t moved = Le(data, tables.front() + 60, 4);
    const std::uint64_t first = root / packet * packet;
    data.replace(moved * 2048, packet * 2048, data.substr((start + first) * 2048, packet * 2048));
    data.replace((start + first) * 2048, packet * 2048, std::string(packet * 2048, '\0'));
    for (const std::size_t at : tables) {
        ImageTools::PutLe(data, at + 56, 4, first);
        ImageTools::ResealUdfTag(data, at, Le(data, at + 10, 2));
    }
    WriteBytes(image, data);
    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    EXPECT_EQ(Collect(*volume), Tree{});
}

// An entry recorded again (strategy 4096) is read where the indirect entry after it leads;
// an entry whose CRC fails is left out, as a Linux mount leaves it.
TEST_F(ImageVolume, UdfEntriesAreReadAtTheirLatestRecordingAndOnlyWhole)
{
    if (!HaveTool("genisoimage"))
        GTEST_SKIP() << "genisoimage is not installed";
    CTempTree src;
    src.WriteFile("a.txt", "first");
    src.WriteFile("b.txt", "second");
    src.WriteFile("c.txt", "third file");
    const std::string image = m_out.Path("rewritten.iso");
    ASSERT_TRUE(RunQuietly("genisoimage -udf -o " + Quote(image) + " " + Quote(src.Root())));
    const std::string made = ReadBytes(image);
    const auto entryOf = [&](std::string_view name) {
        const std::size_t fid = ImageTools::UdfIdentifiers(made, name).at(0);
        const std::uint64_t partition = fid / 2048 - Le(made, fid + 12, 4);
        return std::pair{(partition + Le(made, fid + 24, 4)) * 2048, Le(made, fid + 24, 4)};
    };
    const auto [a, aBlock] = entryOf("a.txt");
    const auto [b, bBlock] = entryOf("b.txt");
    const auto [c, cBlock] = entryOf("c.txt");
    ASSERT_TRUE(b == a + 2048 && bBlock == aBlock + 1);

    std::string data = made;
    PutLe(data, a + 20, 2, 4096);
    ImageTools::ResealUdfTag(data, a, Le(data, a + 10, 2));
    data.replace(b, 2048, std::string(2048, '\0')); // b.txt's entry becomes the indirect one
    PutLe(data, b, 2, 259);
    PutLe(data, b + 12, 4, bBlock);
    PutLe(data, b + 36, 4, 2048);
    PutLe(data, b + 40, 4, cBlock);
    ImageTools::ResealUdfTag(data, b, 36);
    WriteBytes(image, data);
    auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    // b.txt's record now names the indirect entry itself, which leads on too.
    EXPECT_EQ(Collect(*volume),
              (Tree{{"/a.txt", "third file"}, {"/b.txt", "third file"}, {"/c.txt", "third file"}}));

    data = made;
    data[c + 36] ^= 1; // its owner, under the CRC but not the tag's checksum
    WriteBytes(image, data);
    volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    EXPECT_EQ(Collect(*volume), (Tree{{"/a.txt", "first"}, {"/b.txt", "second"}}));
}

// A link's target is recorded as path components: a relative one leads on inside the image.
TEST_F(ImageVolume, UdfLinkLeadsWhereItsPathComponentsSay)
{
    if (!HaveTool("genisoimage"))
        GTEST_SKIP() << "genisoimage is not installed";
    // "..", ".", "Hex Edit", "docs": written as a file's data, then its entry made a link's.
    const std::string components = std::string("\3\0\0\0\4\0\0\0", 8) +
                                   std::string("\5\x09\0\0\x08"
                                               "Hex Edit",
                                               13) +
                                   std::string("\5\x05\0\0\x08"
                                               "docs",
                                               9);
    m_src.WriteFile("Apps/Paint/Manual", components);
    const std::string image = m_out.Path("dvd.iso");
    ASSERT_TRUE(RunQuietly("genisoimage -udf -o " + Quote(image) + " " + Quote(m_src.Root())));
    std::string data = ReadBytes(image);
    std::vector<std::size_t> found;
    for (std::size_t at = 0; at + 2048 <= data.size(); at += 2048)
        if (ImageTools::Le(data, at, 2) == 261 && ImageTools::Le(data, at + 56, 8) == 30)
            found.push_back(at);
    ASSERT_EQ(found.size(), 1u);
    data[found.front() + 27] = 12; // the file type: a link
    ImageTools::ResealUdfTag(data, found.front(), ImageTools::Le(data, found.front() + 10, 2));
    WriteBytes(image, data);
    const auto volume = DiscImage::Open(image);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->What(image + "/Apps/Paint/Manual/readme.txt"), Kind::File);
}

// Fresh file systems as disc writers lay them out: folders in a sparable partition (CD-RW)
// and behind a virtual allocation table (CD-R, BD-R), read past the unwritten blocks after.
TEST_F(ImageVolume, UdfOfEachPartitionKindShowsItsRoot)
{
    if (!HaveTool("mkudffs"))
        GTEST_SKIP() << "mkudffs is not installed";
    for (const char* media : {"bdr --udfrev=2.50", "cdrw --udfrev=2.01", "cdr --udfrev=2.01"}) {
        SCOPED_TRACE(media);
        const std::string image = m_out.WriteFile("fresh.udf", std::string(8 << 20, '\0'));
        ASSERT_TRUE(RunQuietly(std::string("mkudffs --blocksize=2048 --media-type=") + media + " " +
                               Quote(image)));
        const auto volume = DiscImage::Open(image);
        ASSERT_TRUE(volume);
        EXPECT_EQ(Collect(*volume), Tree{}); // a root that lists, holding only its parent
        // As raw sectors: told from other data by their volume recognition sequence.
        const auto raw =
            DiscImage::Open(m_out.WriteFile("fresh.bin", RawSectors(ReadBytes(image), 2352, 1)));
        ASSERT_TRUE(raw);
        EXPECT_EQ(Collect(*raw), Tree{});
    }
}

TEST_F(ImageVolume, WhatIsNoImageGivesNoVolume)
{
    const std::string image = Build("cd.iso", "-J -R");
    ASSERT_FALSE(image.empty());
    const std::string bytes = ReadBytes(image);
    EXPECT_FALSE(DiscImage::Open(m_out.WriteFile("empty.iso", "")));
    EXPECT_FALSE(DiscImage::Open(m_out.WriteFile("text.iso", std::string(40000, 't'))));
    EXPECT_FALSE(DiscImage::Open(m_out.WriteFile("missing.cue", "FILE \"nope.bin\" BINARY\n")));
    EXPECT_FALSE(DiscImage::Open(m_out.Path("nowhere.iso")));
    EXPECT_FALSE(DiscImage::Open(m_out.MakeFolder("folder.iso")));
    EXPECT_FALSE(DiscImage::Open(m_out.MakeFifo("fifo.iso")));
    EXPECT_FALSE(DiscImage::Open("relative.iso"));
    // NRG footers whose offset points outside the file.
    const std::string area(40000, '\0');
    EXPECT_FALSE(DiscImage::Open(m_out.WriteFile("short.nrg", "N6zONERO\x85")));
    EXPECT_FALSE(
        DiscImage::Open(m_out.WriteFile("wild.iso", area + std::string("NERO\xFF\0\0\0", 8))));
    EXPECT_FALSE(DiscImage::Open(
        m_out.WriteFile("wild.nrg", area + std::string("NER5\xFF\xFF\0\0\0\0\0\0", 12))));

    // Cut short: what lies before the cut is still read; nothing reads past it.
    const std::string cut = m_out.WriteFile("cut.iso", bytes.substr(0, bytes.size() / 2));
    if (const auto volume = DiscImage::Open(cut)) {
        const Tree tree = Collect(*volume);
        EXPECT_FALSE(tree.empty());
    }

    // Replaced while open: the volume keeps reading the image it opened.
    const std::string moving = m_out.WriteFile("moving.iso", bytes);
    const auto volume = DiscImage::Open(moving);
    ASSERT_TRUE(volume);
    std::remove(moving.c_str());
    EXPECT_EQ(volume->What(moving + "/Apps/Paint/paint.brw"), Kind::File);
}

// The fuzzing seeds: well-made images and those that once crashed the reading.
TEST_F(ImageVolume, FuzzSeedsOpenOrNotWithoutHarm)
{
    int opened = 0;
    for (const auto& seed : std::filesystem::directory_iterator(QUARROW_IMAGE_SEEDS_DIR)) {
        const std::string bytes = ReadBytes(seed.path().string());
        // As the fuzzer names them: the NRG reader looks at .nrg files only.
        const std::string tail = bytes.substr(bytes.size() > 12 ? bytes.size() - 12 : 0);
        const bool bNrg =
            tail.find("NER5") != std::string::npos || tail.find("NERO") != std::string::npos;
        const std::string copy = m_out.WriteFile(bNrg ? "seed.nrg" : "seed.iso", bytes);
        SCOPED_TRACE(seed.path().filename().string());
        if (const auto volume = DiscImage::Open(copy)) {
            ++opened;
            WalkWhatever(*volume, volume->Root());
        }
        std::filesystem::remove(copy);
    }
    EXPECT_GE(opened, 4) << "the well-made seeds open";
}

// An NRG footer, sound or not, leaves the data track before it readable as it is.
TEST_F(ImageVolume, NrgFootersOfAnyKindLeaveTheTrackReadable)
{
    const std::string image = Build("cd.iso", "-J -R");
    ASSERT_FALSE(image.empty());
    const Tree expected = Collect(*DiscImage::Open(image));
    const std::string track = ReadBytes(image);
    const auto size = static_cast<std::uint32_t>(track.size());
    const std::string mode1Track = NrgChunk("ETNF", Be32(0) + Be32(size) + std::string(12, '\0'));
    for (const char* name : {"sound.nrg", "sound.iso"}) {
        const auto volume = DiscImage::Open(m_out.WriteFile(name, NrgImage(track, mode1Track)));
        ASSERT_TRUE(volume) << name;
        EXPECT_EQ(Collect(*volume), expected) << name;
    }
    const std::string unsound[] = {
        NrgChunk("CUES", ""),
        mode1Track + mode1Track,
        NrgChunk("ETNF", std::string(20 * 100, '\0')),
        mode1Track + NrgChunk("DAOX", std::string(60, '\0')),
        NrgChunk("SKIP", std::string(4096, '\0')) + mode1Track,
        "ETNF" + Be32(1000) + mode1Track,
    };
    for (const std::string& chunks : unsound) {
        const auto volume =
            DiscImage::Open(m_out.WriteFile("unsound.nrg", NrgImage(track, chunks)));
        ASSERT_TRUE(volume) << chunks.substr(0, 4);
        EXPECT_EQ(Collect(*volume), expected) << chunks.substr(0, 4);
    }
}

} // namespace

// zisofs files show at the size they inflate to and read as they were put in; a damaged
// block is a read error of that file alone.
TEST_F(ImageVolume, ZisofsFilesReadInflated)
{
    std::string numbers;
    for (int i = 0; i < 30000; ++i)
        numbers += std::to_string(i) + '\n';
    m_src.WriteFile("Apps/Paint/numbers.txt", numbers);
    m_src.WriteFile("Apps/Paint/zeros.bin", std::string(100000, '\0'));
    const std::string image = m_out.Path("z.iso");
    ASSERT_TRUE(RunQuietly("xorriso -no_rc -outdev " + Quote(image) + " -map " +
                           Quote(m_src.Root()) +
                           " / -zisofs level=6 -set_filter_r --zisofs / -- -commit"));
    const std::string path = image + "/Apps/Paint/numbers.txt";
    {
        const auto volume = DiscImage::Open(image);
        ASSERT_TRUE(volume);
        EXPECT_EQ(volume->IdentityOf(path)->nSize, numbers.size());
        const auto file = volume->OpenFile(path);
        ASSERT_TRUE(file);
        std::string all;
        ASSERT_EQ(file->ReadAll(all, 1 << 20), CVolume::ReadStatus::Ok);
        EXPECT_EQ(all, numbers);
        // Across the first block's end, after a read further on.
        char piece[20];
        ASSERT_TRUE(file->ReadAt(150000, piece, sizeof piece));
        ASSERT_TRUE(file->ReadAt(32760, piece, sizeof piece));
        EXPECT_EQ(std::string(piece, sizeof piece), numbers.substr(32760, sizeof piece));
        std::string zeros;
        ASSERT_EQ(volume->OpenFile(image + "/Apps/Paint/zeros.bin")->ReadAll(zeros, 1 << 20),
                  CVolume::ReadStatus::Ok);
        EXPECT_EQ(zeros, std::string(100000, '\0'));
    }
    // The stored header, with the size it inflates to, starts the file's first block: break
    // that block's data.
    std::string bytes = ReadBytes(image);
    std::string magic = "\x37\xE4\x53\x96\xC9\xDB\xD6\x07";
    for (int shift = 0; shift < 32; shift += 8)
        magic += static_cast<char>(numbers.size() >> shift);
    const std::size_t header = bytes.find(magic);
    ASSERT_NE(header, std::string::npos);
    for (std::size_t i = 64; i < 200; ++i)
        bytes[header + i] = static_cast<char>(~bytes[header + i]);
    WriteBytes(image, bytes);
    const auto damaged = DiscImage::Open(image);
    ASSERT_TRUE(damaged);
    std::string all;
    const auto file = damaged->OpenFile(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->ReadAll(all, 1 << 20), CVolume::ReadStatus::ReadError);
}

// Floppy and disk images made by mtools: the tree put in is the tree shown.
class FatImage : public ImageVolume {
protected:
    void SetUp() override
    {
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy"))
            GTEST_SKIP() << "dosfstools or mtools is not installed";
        ImageVolume::SetUp();
    }

    std::string Make(const std::string& name, const std::string& options, int kib)
    {
        const std::string image = m_out.Path(name);
        std::string copy = "mcopy -s -i " + Quote(image);
        for (const auto& top : std::filesystem::directory_iterator(m_src.Root()))
            copy += ' ' + Quote(top.path().string());
        if (!RunQuietly("mkfs.fat -C " + options + ' ' + Quote(image) + ' ' +
                        std::to_string(kib)) ||
            !RunQuietly(copy + " ::"))
            return {};
        return image;
    }
};

TEST_F(FatImage, EachFatTypeReadsLikeTheFolder)
{
    m_src.WriteFile("Apps/Paint/big.dat", std::string(70000, 'b') + "end");
    const Tree fromFolder = Collect(CMountedVolume(m_src.Root()));
    // A floppy's 512-byte clusters, 2048-byte ones in line with the image's blocks, and FAT32.
    for (const auto& [name, options, kib] :
         {std::tuple{"disk.img", "-F 12", 1440}, std::tuple{"disk.vfd", "-F 16 -s 4", 16384},
          std::tuple{"disk.ima", "-F 32 -s 1", 40000}}) {
        SCOPED_TRACE(name);
        const std::string image = Make(name, options, kib);
        ASSERT_FALSE(image.empty());
        const auto volume = DiscImage::Open(image);
        ASSERT_TRUE(volume);
        EXPECT_EQ(Collect(*volume), fromFolder);
        EXPECT_EQ(volume->What(image + "/Apps/Hex Edit/Bin/deeper/more.dll"), Kind::File);
    }
}

// Chains that loop or leave the volume make their file or folder unreadable, and end.
TEST_F(FatImage, BrokenChainsAreUnreadable)
{
    using ImageTools::Le;
    using ImageTools::PutLe;
    m_src.WriteFile("loop.txt", std::string(5000, 'l'));
    m_src.WriteFile("far.txt", std::string(1500, 'f'));
    m_src.MakeFolder("circle");
    const std::string image = Make("floppy.img", "-F 12", 1440);
    ASSERT_FALSE(image.empty());
    std::string data = ReadBytes(image);
    // 1.44 MB layout: one reserved sector, two FATs of nine, then the root.
    constexpr std::size_t kFat = 512;
    const auto firstCluster = [&data](std::string_view shortName) -> std::size_t {
        const std::size_t at = data.find(shortName, 19 * 512);
        return at == std::string::npos ? 0 : Le(data, at + 26, 2);
    };
    const auto link = [&data](std::size_t cluster, std::size_t next) {
        const std::size_t at = kFat + cluster * 3 / 2;
        const std::uint64_t pair = Le(data, at, 2);
        PutLe(data, at, 2, cluster % 2 != 0 ? (pair & 0x000F) | next << 4 : (pair & 0xF000) | next);
    };
    const std::size_t loop = firstCluster("LOOP    TXT");
    const std::size_t far = firstCluster("FAR     TXT");
    const std::size_t circle = firstCluster("CIRCLE     ");
    ASSERT_TRUE(loop && far && circle);
    link(loop + 3, loop);
    link(far, 4000);
    link(circle, circle);
    const std::string broken = m_out.WriteFile("broken.img", data);
    const auto volume = DiscImage::Open(broken);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->What(broken + "/loop.txt"), Kind::File);
    EXPECT_FALSE(volume->OpenFile(broken + "/loop.txt"));
    EXPECT_FALSE(volume->OpenFile(broken + "/far.txt"));
    EXPECT_TRUE(volume->OpenFile(broken + "/autorun.inf"));
    const auto open = volume->OpenFolder(broken + "/circle");
    EXPECT_TRUE(!open || !volume->NewFolderReader()->Start(*open));
    EXPECT_GT(WalkWhatever(*volume, broken), 5);
}

// What tools this project does not write read from the same images.
class IndependentReader : public ImageVolume {
protected:
    void SetUp() override
    {
        ImageVolume::SetUp();
        if (IsSkipped())
            return;
        for (const char* tool : {"isoinfo", "7zz", "genisoimage"})
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
        m_src.WriteFile("Apps/Paint/caf\xC3\xA9 au lait.txt", "non-ASCII");
        m_src.WriteFile("Data/blob.bin", std::string(70000, '\x5a') + "end");
    }

    // The tree 7-Zip extracts from image as type (iso, udf), read as a folder.
    Tree SevenZip(const std::string& image, const std::string& type)
    {
        const std::string into = m_out.Path("7z-" + type + std::to_string(++m_nRuns));
        EXPECT_TRUE(RunQuietly("LC_ALL=C.UTF-8 7zz x -y -t" + type + " -o" + Quote(into) + " " +
                               Quote(image)));
        return Collect(CMountedVolume(into));
    }

    // The tree isoinfo lists with names of option (-R: it gives Joliet names in 8-bit charsets
    // alone), each file extracted by it.
    Tree Isoinfo(const std::string& image, const std::string& option)
    {
        const std::string into = m_out.Path("isoinfo" + std::to_string(++m_nRuns));
        std::filesystem::create_directory(into);
        const std::string list = m_out.Path("list.txt");
        const std::string isoinfo = "isoinfo " + option + " -i " + Quote(image);
        EXPECT_TRUE(RunQuietly("(" + isoinfo + " -l > " + Quote(list) + ")"));
        std::istringstream lines(ReadBytes(list));
        std::string folder;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("Directory listing of ", 0) == 0)
                folder = line.substr(21);
            const std::size_t at = line.find("]  ");
            if (at == std::string::npos || line.size() < at + 4)
                continue;
            const std::string name = line.substr(at + 3, line.size() - at - 4);
            if (name == "." || name == "..")
                continue;
            const std::string path = folder + name;
            if (line[0] == 'd')
                std::filesystem::create_directories(into + path);
            else
                EXPECT_TRUE(RunQuietly("(" + isoinfo + " -x " + Quote(path) + " > " +
                                       Quote(into + path) + ")"));
        }
        return Collect(CMountedVolume(into));
    }

    int m_nRuns = 0;
};

TEST_F(IndependentReader, RockRidgeAndJolietImagesAreAsIsoinfoAnd7ZipReadThem)
{
    const std::string both = Build("both.iso", "-R -J -joliet-long");
    ASSERT_FALSE(both.empty());
    const auto volume = DiscImage::Open(both);
    ASSERT_TRUE(volume);
    const Tree read = Collect(*volume);
    EXPECT_EQ(read, Isoinfo(both, "-R"));

    const std::string joliet = m_out.Path("joliet.iso");
    ASSERT_TRUE(RunQuietly("genisoimage -input-charset utf-8 -J -joliet-long -o " + Quote(joliet) +
                           " " + Quote(m_src.Root())));
    const auto jolietVolume = DiscImage::Open(joliet);
    ASSERT_TRUE(jolietVolume);
    EXPECT_EQ(Collect(*jolietVolume), SevenZip(joliet, "iso"));
    EXPECT_EQ(Collect(*jolietVolume), read);
}

TEST_F(IndependentReader, UdfOfVersionsOneToTwoSixtyIsAs7ZipReadsIt)
{
    if (!HaveTool("pycdlib-genisoimage"))
        GTEST_SKIP() << "python3-pycdlib is not installed";
    // UDF 1.02 from genisoimage, 2.60 from pycdlib.
    for (const std::string maker : {"genisoimage -input-charset utf-8", "pycdlib-genisoimage"}) {
        const std::string image = m_out.Path("udf.iso");
        ASSERT_TRUE(RunQuietly(maker + " -udf -o " + Quote(image) + " " + Quote(m_src.Root())));
        const auto volume = DiscImage::Open(image);
        ASSERT_TRUE(volume) << maker;
        EXPECT_EQ(Collect(*volume), SevenZip(image, "udf")) << maker;
        EXPECT_EQ(Collect(*volume), Collect(CMountedVolume(m_src.Root()))) << maker;
    }
}
