// SPDX-License-Identifier: GPL-3.0-or-later
#include "DescriptorText.h"
#include "GuiTestSupport.h"
#include "TempTree.h"

#include "dialogs/LibraryDlg.h"
#include "library/LibraryAdder.h"
#include "library/LibraryStore.h"
#include "view/DisplayText.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <optional>

namespace {

// A disc in a folder, catalogued into a store of the test's own, searched and opened
// through the library window as a person does.
class LibraryWindow : public testing::Test {
protected:
    void SetUp() override
    {
        m_disc.WriteFile("autorun.inf", "[autorun]\nlabel=Shelf Disc\n");
        m_disc.WriteFile("tools/zipper/zipper.brw",
                         CDescriptorText().Info("Archivers", "Zipper").Text());
        m_disc.WriteFile("tools/zipper/zipper.exe", "MZ");
        m_disc.WriteFile("tools/zipper/readme-quokka.txt", "hello");
        m_strStore = m_state.Path("library.sqlite");
        CLibraryStore store;
        std::string error, notice;
        ASSERT_EQ(store.Open(m_strStore, error, notice), CLibraryStore::EOpen::Ok) << error;
        ASSERT_EQ(CLibraryAdder(store).Add(m_disc.Root()).eState, CLibraryAdder::EState::Added);
    }

    // Types words into the search field and waits for rows.
    QTreeWidget& Search(CLibraryDlg& library, const QString& words)
    {
        auto& field = *library.findChild<QLineEdit*>(QStringLiteral("search"));
        auto& results = *library.findChild<QTreeWidget*>(QStringLiteral("results"));
        field.clear();
        results.clear();
        QTest::keyClicks(&field, words);
        EXPECT_TRUE(WaitUntil([&] { return results.topLevelItemCount() > 0; }, 10000));
        return results;
    }

    CTempTree m_disc;
    CTempTree m_state;
    std::string m_strStore;
};

TEST_F(LibraryWindow, FindsAnApplicationAndAFileAndOpensThemSelected)
{
    CLibraryDlg library(m_strStore);
    std::optional<CLibraryDlg::OpenRequest> asked;
    library.SetOpener([&](const CLibraryDlg::OpenRequest& request) { asked = request; });
    library.show();
    EXPECT_EQ(library.windowTitle(), QStringLiteral("Quarrow Library"));

    // The application first, then its descriptor and program by name.
    QTreeWidget& results = Search(library, QStringLiteral("ZIPP"));
    ASSERT_EQ(results.topLevelItemCount(), 3);
    EXPECT_EQ(results.topLevelItem(2)->text(0), QStringLiteral("zipper.exe"));
    QTreeWidgetItem* hit = results.topLevelItem(0);
    EXPECT_EQ(hit->text(0), QStringLiteral("Zipper"));
    EXPECT_EQ(hit->text(1), QStringLiteral("Archivers"));
    EXPECT_EQ(hit->text(2), QStringLiteral("Shelf Disc"));
    emit results.itemActivated(hit, 0);
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->strVolume, m_disc.Root());
    EXPECT_EQ(asked->strFolder, m_disc.Path("tools/zipper"));

    // As the library opens its first window: on the volume, told what to select.
    CMainWindow window;
    window.SetStartPath(asked->strVolume);
    window.SetStartSelection({asked->strApplication, asked->strFolder, {}});
    window.show();
    ASSERT_TRUE(
        WaitUntil([&] { return window.CurrentFolder() == m_disc.Path("tools/zipper"); }, 10000));
    EXPECT_EQ(window.CatalogTree().currentIndex().data().toString(), QStringLiteral("Zipper"));

    // A file outside the application's own list: all files are shown to select it.
    QTreeWidget& files = Search(library, QStringLiteral("quokka"));
    ASSERT_EQ(files.topLevelItemCount(), 1);
    EXPECT_EQ(files.topLevelItem(0)->text(1), QStringLiteral("File"));
    emit files.itemActivated(files.topLevelItem(0), 0);
    const std::string file = m_disc.Path("tools/zipper/readme-quokka.txt");
    ASSERT_EQ(asked->strFile, file);
    window.OpenAndSelect(asked->strVolume, {{}, {}, asked->strFile});
    ASSERT_TRUE(WaitUntil(
        [&] {
            const CFileListModel::Row* selected = window.ApplicationView().SelectedFileRow();
            return selected && selected->strPath == file;
        },
        10000))
        << window.Status(0).toStdString();
}

TEST_F(LibraryWindow, ListsTheDiscsAndForgetsOne)
{
    CLibraryDlg library(m_strStore);
    library.show();
    auto& discs = *library.findChild<QTreeWidget*>(QStringLiteral("discs"));
    ASSERT_TRUE(WaitUntil([&] { return discs.topLevelItemCount() == 1; }, 10000));
    const QTreeWidgetItem* disc = discs.topLevelItem(0);
    EXPECT_EQ(disc->text(0), QStringLiteral("Shelf Disc"));
    EXPECT_EQ(disc->text(2), QStringLiteral("1"));
    EXPECT_EQ(disc->text(3), QStringLiteral("4"));
    EXPECT_EQ(disc->text(4), QStringLiteral("present"));

    discs.setCurrentItem(discs.topLevelItem(0));
    library.findChild<QPushButton*>(QStringLiteral("forget"))->click();
    ASSERT_TRUE(WaitUntil([&] { return discs.topLevelItemCount() == 0; }, 10000));
    CLibraryStore store;
    std::string error, notice;
    ASSERT_EQ(store.Open(m_strStore, error, notice), CLibraryStore::EOpen::Ok);
    EXPECT_TRUE(store.Volumes().empty());
}

TEST_F(LibraryWindow, CataloguesAFolderAddedAndShowsItsProgressEnd)
{
    CTempTree more;
    more.WriteFile("second/autorun.inf", "[autorun]\nlabel=Second\n");
    more.WriteFile("second/a.brw", CDescriptorText().Info("Games", "Maze").Text());
    CLibraryDlg library(m_strStore);
    library.show();
    library.AddPaths({more.Root()});
    auto& discs = *library.findChild<QTreeWidget*>(QStringLiteral("discs"));
    ASSERT_TRUE(WaitUntil([&] { return discs.topLevelItemCount() == 2; }, 10000));
    EXPECT_EQ(Search(library, QStringLiteral("maze")).topLevelItem(0)->text(2),
              QStringLiteral("Second"));
}

} // namespace
