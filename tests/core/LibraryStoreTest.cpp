// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/LibraryAdder.h"
#include "library/LibraryCatalogue.h"
#include "library/LibraryStore.h"
#include "library/ReadAhead.h"
#include "platform/DiscImage.h"
#include "platform/OpenVolume.h"

#include "ImageTools.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sqlite3.h>

using namespace ImageTools;

namespace {

class LibraryStoreTest : public testing::Test {
protected:
    CLibraryStore::EOpen Open(CLibraryStore& store)
    {
        m_strError.clear();
        m_strNotice.clear();
        return store.Open(m_strPath, m_strError, m_strNotice);
    }

    static std::vector<std::string> Hits(CLibraryStore& store, std::vector<std::string> words)
    {
        std::vector<std::string> hits;
        store.Search(
            words, [&](const auto& hit) { hits.push_back("a:" + hit.strName); },
            [&](const auto& hit) { hits.push_back("f:" + hit.strFolder + "/" + hit.strName); });
        return hits;
    }

    CTempTree m_tree;
    const std::string m_strPath = m_tree.Path("data/quarrow/library.sqlite");
    std::string m_strError, m_strNotice;
};

CLibraryContents SampleContents()
{
    CLibraryContents contents;
    contents.astrFolders = {"", "apps/ÉDIT"};
    contents.arrFiles = {{0, "README.TXT", 10, 1, {}},
                         {1, "Éditeur.exe", 20, 2, "ico"},
                         {1, "tiny.db", 30, 3, {}},
                         {1, "\xff\x41X.bin", 40, 4, "ico"}};
    contents.arrApplications = {{"Tools",
                                 "Éditeur",
                                 "apps/ÉDIT/e.brw",
                                 "apps/ÉDIT",
                                 "Writes HEX\r\n",
                                 {"*.exe", ""},
                                 true}};
    return contents;
}

TEST_F(LibraryStoreTest, KeepsVolumesAndFindsTheirItemsByFoldedWords)
{
    CLibraryStore store;
    ASSERT_EQ(Open(store), CLibraryStore::EOpen::Ok) << m_strError;
    EXPECT_EQ(std::filesystem::status(m_strPath).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    CLibraryVolume volume;
    volume.strIdentity = "id1";
    volume.strLabel = "Disc";
    volume.strPath = "/d/one.iso";
    volume.eKind = EVolumeKind::Image;
    volume.nSize = 99;
    const CLibraryContents contents = SampleContents();
    store.Save(volume, &contents);
    EXPECT_NE(volume.nId, 0);

    CLibraryStore again;
    ASSERT_EQ(Open(again), CLibraryStore::EOpen::Ok) << m_strError;
    const std::vector<CLibraryVolume> volumes = again.Volumes();
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0].strLabel, "Disc");
    EXPECT_EQ(volumes[0].eKind, EVolumeKind::Image);
    EXPECT_EQ(volumes[0].nSize, 99u);
    EXPECT_EQ(volumes[0].nApplications, 1u);
    EXPECT_EQ(volumes[0].nFiles, 4u);
    EXPECT_EQ(again.VolumesWithIdentity("id1").size(), 1u);
    const CLibraryContents read = again.Contents(volume.nId);
    EXPECT_EQ(read.astrFolders, contents.astrFolders);
    ASSERT_EQ(read.arrFiles.size(), 4u);
    EXPECT_EQ(read.arrFiles[3].strName, "\xff\x41X.bin");
    EXPECT_EQ(read.arrFiles[3].nFolder, 1u);
    EXPECT_EQ(read.arrFiles[3].nSize, 40u);
    EXPECT_EQ(read.arrFiles[3].strIcon, "ico");
    EXPECT_EQ(read.arrFiles[2].strIcon, "");
    ASSERT_EQ(read.arrApplications.size(), 1u);
    EXPECT_EQ(read.arrApplications[0].astrPatterns, contents.arrApplications[0].astrPatterns);
    EXPECT_TRUE(read.arrApplications[0].bSearchSubdirs);
    EXPECT_EQ(read.arrApplications[0].strDescription, "Writes HEX\r\n");

    // Beyond ASCII, in names, categories and descriptions; long words by trigram, short ones
    // by folded text; every word must occur.
    EXPECT_EQ(Hits(again, {"éDITEUR"}),
              (std::vector<std::string>{"a:Éditeur", "f:apps/ÉDIT/Éditeur.exe"}));
    EXPECT_EQ(Hits(again, {"hex", "TOOLS"}), (std::vector<std::string>{"a:Éditeur"}));
    EXPECT_EQ(Hits(again, {"t", "db"}), (std::vector<std::string>{"f:apps/ÉDIT/tiny.db"}));
    EXPECT_EQ(Hits(again, {"readme", "zz"}), std::vector<std::string>{});
    EXPECT_EQ(Hits(again, {"\"x"}), std::vector<std::string>{});
    EXPECT_EQ(Hits(again, {"ÿax"}), (std::vector<std::string>{"f:apps/ÉDIT/\xff\x41X.bin"}));

    // Replaced contents leave nothing of the old behind, in the index either.
    CLibraryContents fewer;
    fewer.astrFolders = {""};
    fewer.arrFiles = {{0, "other.txt", 1, 1, {}}};
    again.Save(volume, &fewer);
    EXPECT_TRUE(again.Contents(volume.nId).arrFiles[0].strIcon.empty());
    EXPECT_EQ(Hits(again, {"éditeur"}), std::vector<std::string>{});
    EXPECT_EQ(Hits(again, {"other"}), (std::vector<std::string>{"f:/other.txt"}));
    EXPECT_TRUE(again.Forget("/d/one.iso"));
    EXPECT_FALSE(again.Forget("/d/one.iso"));
    EXPECT_EQ(Hits(again, {"other"}), std::vector<std::string>{});
    EXPECT_TRUE(again.Volumes().empty());
}

TEST_F(LibraryStoreTest, ChangingOneVolumeLeavesTheOthersWholeAlsoInAnOlderStore)
{
    const CLibraryContents contents = SampleContents();
    std::vector<CLibraryVolume> volumes(3);
    {
        CLibraryStore store;
        ASSERT_EQ(Open(store), CLibraryStore::EOpen::Ok) << m_strError;
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            volumes[i].strPath = "/d/" + std::to_string(i) + ".iso";
            store.Save(volumes[i], &contents);
        }
    }
    // As the version before left it: every volume's range began at the first file.
    sqlite3* hDb = nullptr;
    ASSERT_EQ(sqlite3_open(m_strPath.c_str(), &hDb), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(hDb,
                     "UPDATE volume SET first_file = 1; ALTER TABLE file DROP COLUMN seq; "
                     "ALTER TABLE volume DROP COLUMN sorted; DROP TRIGGER application_removed; "
                     "DROP TABLE application_key; DROP INDEX application_name; "
                     "DROP TABLE file_names; PRAGMA user_version=2",
                     nullptr, nullptr, nullptr),
        SQLITE_OK)
        << sqlite3_errmsg(hDb);
    sqlite3_close(hDb);

    CLibraryStore store;
    ASSERT_EQ(Open(store), CLibraryStore::EOpen::Ok) << m_strError;
    CLibraryContents one;
    one.astrFolders = {""};
    one.arrFiles = {{0, "one.txt", 1, 1, {}}};
    store.Save(volumes[2], &one);
    EXPECT_TRUE(store.Forget("/d/1.iso"));
    EXPECT_EQ(store.Contents(volumes[0].nId).arrFiles.size(), 4u);
    EXPECT_EQ(store.Contents(volumes[2].nId).arrFiles.size(), 1u);
    EXPECT_EQ(Hits(store, {"tiny"}), (std::vector<std::string>{"f:apps/ÉDIT/tiny.db"}));
}

TEST_F(LibraryStoreTest, SetsADamagedStoreAsideAndLeavesANewerOneAlone)
{
    m_tree.WriteFile("data/quarrow/library.sqlite", std::string(8192, 'j'));
    {
        CLibraryStore store;
        ASSERT_EQ(Open(store), CLibraryStore::EOpen::Ok) << m_strError;
        EXPECT_NE(m_strNotice.find(m_strPath + ".damaged-"), std::string::npos) << m_strNotice;
        EXPECT_TRUE(store.Volumes().empty());
    }
    int nAside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_tree.Path("data/quarrow")))
        nAside += entry.path().filename().string().starts_with("library.sqlite.damaged-");
    EXPECT_EQ(nAside, 1);

    sqlite3* hDb = nullptr;
    ASSERT_EQ(sqlite3_open(m_strPath.c_str(), &hDb), SQLITE_OK);
    sqlite3_exec(hDb, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
    sqlite3_close(hDb);
    const std::string before = ReadBytes(m_strPath);
    CLibraryStore store;
    EXPECT_EQ(Open(store), CLibraryStore::EOpen::Newer);
    EXPECT_NE(m_strError.find("newer"), std::string::npos) << m_strError;
    EXPECT_EQ(ReadBytes(m_strPath), before);
}

TEST_F(LibraryStoreTest, ImageIdentityFollowsContentsNotName)
{
    if (!HaveTool("xorriso"))
        GTEST_SKIP() << "xorriso is not installed";
    m_tree.WriteFile("disc/autorun.inf", "[autorun]\nlabel=Tools\n");
    m_tree.WriteFile("disc/apps/a.brw", "[info]\ncategory=Tools\nname=Hex\n");
    m_tree.WriteFile("other/readme.txt", "other");
    for (const char* name : {"disc", "other"})
        ASSERT_TRUE(RunQuietly("xorriso -as mkisofs -R -J -o " +
                               Quote(m_tree.Path(std::string(name) + ".iso")) + " " +
                               Quote(m_tree.Path(name))));
    const auto identity = [&](const std::string& path) {
        const auto volume = DiscImage::Open(path);
        return volume ? LibraryCatalogue::Identity(*volume, path) : std::string();
    };
    const std::string first = identity(m_tree.Path("disc.iso"));
    ASSERT_FALSE(first.empty());
    std::filesystem::rename(m_tree.Path("disc.iso"), m_tree.Path("renamed.img"));
    EXPECT_EQ(identity(m_tree.Path("renamed.img")), first);
    EXPECT_NE(identity(m_tree.Path("other.iso")), first);

    const auto volume = DiscImage::Open(m_tree.Path("renamed.img"));
    const CLibraryContents contents = LibraryCatalogue::Read(*volume);
    ASSERT_EQ(contents.arrApplications.size(), 1u);
    EXPECT_EQ(contents.arrApplications[0].strFolder, "apps");
    EXPECT_EQ(contents.arrApplications[0].strDescription, "No Description Available.");
    EXPECT_EQ(contents.arrFiles.size(), 2u);
}

TEST_F(LibraryStoreTest, AddingManyStoresEachInTurnAndStopsBetweenThem)
{
    for (const char* name : {"a", "b", "c"}) {
        m_tree.WriteFile(std::string(name) + "/autorun.inf",
                         "[autorun]\nlabel=" + std::string(name));
        m_tree.WriteFile(std::string(name) + "/apps/x.brw", "[info]\ncategory=Tools\nname=X\n");
    }
    m_tree.WriteFile("junk.iso", std::string(70000, 'j'));
    const std::vector<std::string> paths = {m_tree.Path("a"), m_tree.Path("junk.iso"),
                                            m_tree.Path("b"), m_tree.Path("c")};
    CLibraryStore store;
    ASSERT_EQ(Open(store), CLibraryStore::EOpen::Ok);
    CLibraryAdder adder(store);
    const auto addAll = [&](std::size_t stopAfter) {
        std::vector<std::string> seen;
        adder.AddAll(paths, {[&] { return seen.size() >= stopAfter; },
                             [&](std::size_t i) { seen.push_back(std::to_string(i)); },
                             [&](CLibraryAdder::Outcome&& outcome) {
                                 seen.back() += "AUF"[static_cast<int>(outcome.eState)];
                                 seen.back() += NameOf(outcome.volume.strPath);
                             }});
        return seen;
    };
    EXPECT_EQ(addAll(3), (std::vector<std::string>{"0Aa", "1Fjunk.iso", "2Ab"}));
    EXPECT_EQ(store.Volumes().size(), 3u);
    EXPECT_EQ(addAll(99), (std::vector<std::string>{"0Ua", "1Fjunk.iso", "2Ub", "3Ac"}));
    EXPECT_EQ(Hits(store, {"x.brw"}),
              (std::vector<std::string>{"f:apps/x.brw", "f:apps/x.brw", "f:apps/x.brw"}));
}

TEST_F(LibraryStoreTest, ALimitedSearchGivesTheFirstHitsOfTheWholeOne)
{
    CLibraryStore store;
    ASSERT_EQ(Open(store), CLibraryStore::EOpen::Ok) << m_strError;
    for (int v = 0; v < 4; ++v) {
        CLibraryContents contents;
        contents.astrFolders = {"", "sub"};
        for (int i = 0; i < 40; ++i) {
            const std::string n = std::to_string((i * 7 + v * 13) % 40);
            contents.arrFiles.push_back({static_cast<std::uint32_t>(i % 2),
                                         i % 3 ? "Game_" + n + ".txt" : "LEVEL" + n + ".dat",
                                         1,
                                         1,
                                         {}});
        }
        contents.arrFiles.push_back({0, "readme.txt", 1, 1, {}});
        for (int a = 0; a < 12; ++a)
            contents.arrApplications.push_back(
                {"Games", "Game " + std::to_string((a * 5 + v) % 12), "a.brw", "", "", {}, false});
        CLibraryVolume volume;
        volume.strPath = "/d/" + std::to_string(v) + ".iso";
        store.Save(volume, &contents);
    }
    // A volume stored before names were kept in order is read all at once; names kept in one
    // piece come to an older store's sorted volumes when it is opened.
    sqlite3* hDb = nullptr;
    ASSERT_EQ(sqlite3_open(m_strPath.c_str(), &hDb), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(hDb,
                           "UPDATE volume SET sorted = 0 WHERE id = 2; DROP TABLE file_names; "
                           "PRAGMA user_version=3",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    CLibraryStore older;
    ASSERT_EQ(Open(older), CLibraryStore::EOpen::Ok) << m_strError;
    sqlite3_stmt* kept = nullptr;
    sqlite3_prepare_v2(hDb, "SELECT count(*) FROM file_names", -1, &kept, nullptr);
    ASSERT_EQ(sqlite3_step(kept), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(kept, 0), 3);
    sqlite3_finalize(kept);
    sqlite3_close(hDb);

    const auto search = [&](const std::vector<std::string>& words, std::size_t limit) {
        std::vector<std::string> apps, files;
        older.Search(
            words, [&](const auto& hit) { apps.push_back(hit.strVolumePath + hit.strName); },
            [&](const auto& hit) {
                files.push_back(hit.strVolumePath + "/" + hit.strFolder + "/" + hit.strName);
            },
            limit);
        return std::pair(apps, files);
    };
    for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
             {"game_1"}, {"e"}, {"readme"}, {"a", "1"}, {"level2"}, {"game", "1"}}) {
        const auto [allApps, allFiles] = search(words, CLibraryStore::kAll);
        const auto [apps, files] = search(words, 5);
        EXPECT_EQ(apps, std::vector(allApps.begin(),
                                    allApps.begin() + std::min<std::size_t>(5, allApps.size())))
            << words[0];
        ASSERT_LE(std::min<std::size_t>(5, allFiles.size()), files.size()) << words[0];
        EXPECT_EQ(files, std::vector(allFiles.begin(), allFiles.begin() + files.size()))
            << words[0];
    }
    // Every file of the name at the cut comes with it.
    EXPECT_EQ(search({"readme"}, 1).second.size(), 4u);
}

TEST(ReadAheadTest, HandsOnItemsInOrderThenWhatFailed)
{
    CReadAhead<int> ahead(5, [](std::size_t i) {
        if (i == 3)
            throw std::runtime_error("item 3");
        return static_cast<int>(i) * 10;
    });
    EXPECT_EQ(ahead.Take(), 0);
    EXPECT_EQ(ahead.Take(), 10);
    EXPECT_EQ(ahead.Take(), 20);
    EXPECT_THROW(ahead.Take(), std::runtime_error);

    // Left with most of its items untaken, it stops at once.
    CReadAhead<int> many(1'000'000, [](std::size_t i) { return static_cast<int>(i); });
    EXPECT_EQ(many.Take(), 0);
}

} // namespace
