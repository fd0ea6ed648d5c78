// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTestSupport.h"
#include "TempTree.h"

#include "app/CatalogDlg.h"
#include "dialogs/DriveSelectDlg.h"
#include "desktop/Prompt.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Descriptor(const std::string& category, const std::string& name)
{
    return "[info]\ncategory=" + category + "\nname=" + name + "\n";
}

class MainWindowScan : public testing::Test {
protected:
    // Shows the real main window started in the drive's root, as the program starts.
    std::unique_ptr<CMainWindow> Start()
    {
        auto dlg = std::make_unique<CMainWindow>(m_drive.Root());
        dlg->show();
        return dlg;
    }

    static std::vector<std::string> ChildTexts(const QAbstractItemModel& model,
                                               const QModelIndex& parent)
    {
        std::vector<std::string> texts;
        for (int row = 0; row < model.rowCount(parent); ++row)
            texts.push_back(model.index(row, 0, parent).data().toString().toStdString());
        return texts;
    }

    static QModelIndex FindChild(const QAbstractItemModel& model, const QModelIndex& parent,
                                 const std::string& text)
    {
        for (int row = 0; row < model.rowCount(parent); ++row) {
            const QModelIndex child = model.index(row, 0, parent);
            if (child.data().toString().toStdString() == text)
                return child;
        }
        return {};
    }

    CTempTree m_drive;
};

TEST_F(MainWindowScan, AutorunLabelBecomesTitleAndTheFolderIsScanned)
{
    m_drive.WriteFile("autorun.inf", "[autorun]\r\nlabel=Sample\r\n");
    m_drive.WriteFile("games/star/star.brw", Descriptor("Games", "Star"));
    auto dlg = Start();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Quarrow - Sample"));
    EXPECT_EQ(dlg->CurrentFolder(), m_drive.Root());
    ASSERT_TRUE(dlg->WaitForDone());
    const CCatalogModel& model = dlg->CatalogModel();
    EXPECT_EQ(ChildTexts(model, {}), std::vector<std::string>{"Application Categories"});
    EXPECT_EQ(ChildTexts(model, model.RootIndex()), std::vector<std::string>{"Games"});
}

TEST_F(MainWindowScan, TitleFallsBackForMissingEmptyOrUnreadableLabels)
{
    struct Case {
        const char* content; // nullptr: autorun.inf is a FIFO
        const char* name;
        QString title;
    };
    const Case cases[] = {
        {"[autorun]\nopen=x.exe\n", "autorun.inf", QStringLiteral("Quarrow - Unknown")},
        {"[autorun]\nlabel=\n", "autorun.inf", QStringLiteral("Quarrow - ")},
        {"[AutoRun]\nLABEL = Disc One\n", "AUTORUN.INF", QStringLiteral("Quarrow - Disc One")},
        {nullptr, "autorun.inf", QStringLiteral("Quarrow - Unknown")},
    };
    for (const Case& c : cases) {
        CTempTree drive;
        if (c.content)
            drive.WriteFile(c.name, c.content);
        else
            drive.MakeFifo(c.name);
        CMainWindow dlg(drive.Root());
        dlg.show();
        EXPECT_EQ(dlg.windowTitle(), c.title) << c.name;
        EXPECT_TRUE(dlg.WaitForDone()) << c.name;
    }
}

TEST_F(MainWindowScan, ButtonStatesFollowTheScan)
{
    m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=x\n");
    m_drive.WriteFile("a/a.brw", Descriptor("Tools", "A"));
    auto dlg = Start();
    // Before the event loop has run, the scan cannot have reported its end.
    EXPECT_FALSE(Action(*dlg, "selectDrive").isEnabled());
    EXPECT_FALSE(Action(*dlg, "openFolder").isEnabled());
    EXPECT_FALSE(Action(*dlg, "showAppFiles").isEnabled());
    EXPECT_FALSE(Action(*dlg, "showAllFiles").isEnabled());
    EXPECT_TRUE(Action(*dlg, "about").isEnabled());
    EXPECT_TRUE(Action(*dlg, "showAppFiles").isChecked());
    EXPECT_FALSE(Action(*dlg, "showAllFiles").isChecked());
    EXPECT_FALSE(dlg->CatalogTree().isEnabled());

    ASSERT_TRUE(dlg->WaitForDone());
    EXPECT_TRUE(Action(*dlg, "selectDrive").isEnabled());
    EXPECT_TRUE(Action(*dlg, "openFolder").isEnabled());
    EXPECT_FALSE(Action(*dlg, "showAppFiles").isEnabled());
    EXPECT_TRUE(dlg->CatalogTree().isEnabled());
    EXPECT_TRUE(dlg->CatalogTree().isExpanded(dlg->CatalogTree().model()->index(0, 0)));
}

TEST_F(MainWindowScan, EmptyScanShowsTheEmptyLeafAndKeepsOpenFolderDisabled)
{
    m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=x\n");
    m_drive.WriteFile("hidden/h.brw", Descriptor("nil", "Hidden"));
    m_drive.WriteFile("none/n.brw", "[description]\nline1=no info section\n");
    auto dlg = Start();
    ASSERT_TRUE(dlg->WaitForDone());
    const CCatalogModel& model = dlg->CatalogModel();
    EXPECT_EQ(ChildTexts(model, model.RootIndex()),
              std::vector<std::string>{"No Applications Found!"});
    EXPECT_EQ(model.rowCount(model.index(0, 0, model.RootIndex())), 0);
    EXPECT_FALSE(Action(*dlg, "openFolder").isEnabled());
    EXPECT_TRUE(Action(*dlg, "selectDrive").isEnabled());
}

TEST_F(MainWindowScan, TreeIsSortedWithCategoriesMergedAndLeavesInPlace)
{
    m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=x\n");
    m_drive.WriteFile("z/zeta.brw", Descriptor("games", "zeta"));
    m_drive.WriteFile("y/Alpha.BRW", Descriptor("Games", "Alpha"));
    m_drive.WriteFile("x/one.brw", Descriptor("Utilities", "Same"));
    m_drive.WriteFile("x/two.brw", Descriptor("Utilities", "Same"));
    m_drive.WriteFile("w/w.brw", Descriptor("NIL", "Shown"));
    m_drive.WriteFile("v/v.brw", "[info]\ncategory=Archivers\n");
    m_drive.WriteFile("root.brw", Descriptor("Archivers", "beta"));
    auto dlg = Start();
    ASSERT_TRUE(dlg->WaitForDone());
    const CCatalogModel& model = dlg->CatalogModel();
    const QModelIndex root = model.RootIndex();

    const std::vector<std::string> categories = ChildTexts(model, root);
    ASSERT_EQ(categories.size(), 4u);
    EXPECT_EQ(categories[0], "Archivers");
    EXPECT_TRUE(categories[1] == "games" || categories[1] == "Games");
    EXPECT_EQ(categories[2], "NIL");
    EXPECT_EQ(categories[3], "Utilities");

    const QModelIndex archivers = model.index(0, 0, root);
    EXPECT_EQ(ChildTexts(model, archivers), (std::vector<std::string>{"beta", "untitled"}));
    EXPECT_EQ(ChildTexts(model, model.index(1, 0, root)),
              (std::vector<std::string>{"Alpha", "zeta"}));

    // Two descriptors in one folder: two nodes, one folder.
    const QModelIndex utilities = FindChild(model, root, "Utilities");
    ASSERT_TRUE(utilities.isValid());
    std::vector<std::string> paths;
    for (int row = 0; row < model.rowCount(utilities); ++row) {
        const QModelIndex app = model.index(row, 0, utilities);
        const CApplicationEntry* entry = model.ApplicationAt(app);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(model.rowCount(app), 0) << "applications never open";
        EXPECT_EQ(entry->strFolder, m_drive.Path("x"));
        paths.push_back(entry->strDescriptorPath);
    }
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths,
              (std::vector<std::string>{m_drive.Path("x/one.brw"), m_drive.Path("x/two.brw")}));

    // A descriptor in the scan root: its folder is the root itself.
    const CApplicationEntry* beta = model.ApplicationAt(FindChild(model, archivers, "beta"));
    ASSERT_NE(beta, nullptr);
    EXPECT_EQ(beta->strDescriptorPath, m_drive.Path("root.brw"));
    EXPECT_EQ(beta->strFolder, m_drive.Root());

    EXPECT_FALSE(model.IsApplication(root));
    EXPECT_FALSE(model.IsApplication(utilities));
}

TEST_F(MainWindowScan, ApplicationNodesNeverOpenAndCategoriesExpandSingly)
{
    m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=x\n");
    m_drive.WriteFile("a/a.brw", Descriptor("Alpha", "First"));
    m_drive.WriteFile("b/b.brw", Descriptor("Beta", "Second"));
    auto dlg = Start();
    ASSERT_TRUE(dlg->WaitForDone());
    QTreeView& view = dlg->CatalogTree();
    const QAbstractItemModel* model = view.model();
    const QModelIndex root = model->index(0, 0);
    const QModelIndex alpha = model->index(0, 0, root);
    const QModelIndex beta = model->index(1, 0, root);
    const QModelIndex first = model->index(0, 0, alpha);
    ASSERT_TRUE(first.isValid());

    view.setCurrentIndex(alpha);
    EXPECT_TRUE(view.isExpanded(alpha));
    EXPECT_EQ(dlg->StatusBar().GetText(1), QStringLiteral("Alpha"));
    EXPECT_EQ(dlg->StatusBar().GetText(2), QString());

    view.setCurrentIndex(first);
    EXPECT_EQ(dlg->StatusBar().GetText(1), QStringLiteral("Alpha"));
    EXPECT_EQ(dlg->StatusBar().GetText(2), QStringLiteral("First"));
    view.expand(first);
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Right);
    QTest::keyClick(&view, Qt::Key_Plus);
    EXPECT_FALSE(view.isExpanded(first));
    EXPECT_EQ(model->rowCount(first), 0);

    view.setCurrentIndex(beta);
    EXPECT_TRUE(view.isExpanded(beta));
    view.setCurrentIndex(model->index(0, 0, beta));
    view.setCurrentIndex(alpha);
    EXPECT_TRUE(view.isExpanded(alpha));
    view.setCurrentIndex(beta);
    EXPECT_FALSE(view.isExpanded(alpha)) << "selecting another category closes the open one";
}

TEST_F(MainWindowScan, AClickOnACategoryBelowAnOpenOneSelectsAndOpensTheClickedOne)
{
    m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=x\n");
    for (const char* name : {"One", "Two", "Three"})
        m_drive.WriteFile(std::string("a/") + name + ".brw", Descriptor("Alpha", name));
    m_drive.WriteFile("b/b.brw", Descriptor("Beta", "Second"));
    m_drive.WriteFile("c/c.brw", Descriptor("Gamma", "Third"));
    auto dlg = Start();
    ASSERT_TRUE(dlg->WaitForDone());
    QTreeView& view = dlg->CatalogTree();
    const QAbstractItemModel* model = view.model();
    const QModelIndex root = model->index(0, 0);
    const QModelIndex alpha = model->index(0, 0, root);

    // Once with a row under the pointer after the open one closes, once with none.
    for (const char* clicked : {"Beta", "Gamma"}) {
        SCOPED_TRACE(clicked);
        view.setCurrentIndex(alpha);
        ASSERT_TRUE(view.isExpanded(alpha));
        const QModelIndex target = FindChild(*model, root, clicked);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(target).center());
        QCoreApplication::processEvents();
        EXPECT_EQ(view.currentIndex(), target);
        EXPECT_EQ(view.selectionModel()->selectedIndexes(), QModelIndexList{target});
        EXPECT_TRUE(view.isExpanded(target));
        EXPECT_FALSE(view.isExpanded(alpha));
        EXPECT_EQ(dlg->StatusBar().GetText(1), QString::fromLatin1(clicked));
    }
}

TEST_F(MainWindowScan, WithoutAutorunTheDriveSelectionComesFirst)
{
    m_drive.WriteFile("a/a.brw", Descriptor("Alpha", "First"));
    bool asked = false;
    bool atStartup = false;
    bool windowShown = true;
    CCatalogDlg* window = nullptr;
    CPrompt::SetDialogRunner([&](QDialog& dialog) {
        auto* drives = qobject_cast<CDriveSelectDlg*>(&dialog);
        asked = drives != nullptr;
        atStartup = drives && drives->AtStartup();
        windowShown = window && window->isVisible();
        return int(QDialog::Rejected);
    });
    CMainWindow dlg(m_drive.Root());
    window = &dlg;
    dlg.show();
    CPrompt::SetDialogRunner({});
    EXPECT_TRUE(asked);
    EXPECT_TRUE(atStartup);
    EXPECT_FALSE(windowShown) << "the drive is asked for before the window shows";
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Quarrow"));
    EXPECT_EQ(dlg.CatalogModel().rowCount(), 0);
}

TEST_F(MainWindowScan, ClosingDuringALargeScanReturnsPromptly)
{
    m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=x\n");
    for (int i = 0; i < 60; ++i)
        for (int j = 0; j < 60; ++j)
            m_drive.MakeFolder("d" + std::to_string(i) + "/e" + std::to_string(j));
    auto dlg = Start();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    dlg->close();
    EXPECT_FALSE(dlg->IsWorkerRunning());
    // A generous bound against a hang; how fast it is belongs to a benchmark.
    EXPECT_LT(timer.elapsed(), 5000);
    dlg.reset();
    QCoreApplication::processEvents(); // no report may reach a window that is gone
}

} // namespace
