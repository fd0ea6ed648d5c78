// SPDX-License-Identifier: GPL-3.0-or-later
#include "DescriptorText.h"
#include "EnvOverride.h"
#include "IconProgram.h"
#include "GuiTestSupport.h"
#include "TempTree.h"

#include "dialogs/LibraryDlg.h"
#include "library/LibraryAdder.h"
#include "library/LibraryStore.h"
#include "desktop/Prompt.h"
#include "view/DisplayText.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
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
        m_strStore = m_state.Path("quarrow/library.sqlite");
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
    // The store the main window reads as well.
    CEnvOverride m_dataHome{"XDG_DATA_HOME", m_state.Root()};
    std::string m_strStore;
};

// What a person sees of an application: its description, then each listed file's row with
// a digest of its icon.
QStringList Shown(CMainWindow& window, const QString& category, const QString& application)
{
    EXPECT_TRUE(window.WaitForDone());
    EXPECT_TRUE(window.Select(category, application));
    EXPECT_TRUE(window.WaitForListing());
    EXPECT_TRUE(WaitUntil([&] { return !window.ApplicationView().IsReadingIcons(); }, 10000));
    QStringList shown{window.DescriptionPane().toPlainText()};
    const CFileListModel& files = window.ApplicationView().FileListModel();
    for (int row = 0; row < files.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < files.columnCount(); ++column)
            cells << files.index(row, column).data().toString();
        const QImage icon = Picture(files.RowAt(row)->icon);
        cells << QString::number(qHashBits(icon.constBits(), icon.sizeInBytes()));
        shown << cells.join('|');
    }
    return shown;
}

// Taken away after cataloguing, a disc is shown as it was, the title says it is not there,
// and opening a file says where it was.
TEST_F(LibraryWindow, ShowsADiscThatIsAwayAsItWasCatalogued)
{
    const std::string disc = m_state.Path("away");
    m_state.WriteFile("away/AUTORUN.INF", "[autorun]\nlabel=Away Disc\n");
    m_state.WriteFile("away/paint/painter.brw", CDescriptorText()
                                                    .Info("Graphics", "Painter \"Pro\"")
                                                    .Section("description")
                                                    .Key("file", "ABOUT.TXT")
                                                    .Section("showfiles")
                                                    .Key("searchsubdirs", "true")
                                                    .Key("file1", "*.txt")
                                                    .Key("file2", "*.exe")
                                                    .Text());
    m_state.WriteFile("away/paint/painter.exe", IconProgram::WithIcon());
    m_state.WriteFile("away/paint/about.txt", "Paints\r\nin caf\xE9 colours");
    m_state.WriteFile("away/paint/docs/guide.txt", "a guide of some length");
    {
        CLibraryStore store;
        std::string error, notice;
        ASSERT_EQ(store.Open(m_strStore, error, notice), CLibraryStore::EOpen::Ok) << error;
        ASSERT_EQ(CLibraryAdder(store).Add(disc).eState, CLibraryAdder::EState::Added);
    }
    const QString category = QStringLiteral("Graphics");
    const QString application = QStringLiteral("Painter \"Pro\"");
    QStringList present;
    {
        CMainWindow window;
        window.SetStartPath(disc);
        window.show();
        present = Shown(window, category, application);
    }
    ASSERT_EQ(present.size(), 4) << present.join(QStringLiteral(" // ")).toStdString();

    std::filesystem::rename(disc, disc + "-elsewhere");
    CMainWindow window;
    window.SetStartPath(disc);
    window.show();
    EXPECT_EQ(Shown(window, category, application), present);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quarrow - Away Disc (not available)"));

    CPrompt::SetNextAnswer(QMessageBox::Ok);
    QTreeView& list = window.FileList();
    const QPoint row = list.visualRect(list.model()->index(0, 0)).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, row);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, row);
    ASSERT_TRUE(CPrompt::LastShown());
    EXPECT_EQ(CPrompt::LastShown()->m_strText.toStdString(),
              "The folder of Away Disc is no longer at " + disc +
                  ". Put it back there to open its files.");
    CPrompt::Reset();
}

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
