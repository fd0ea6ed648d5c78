// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTestSupport.h"
#include "ModelCheck.h"
#include "TempTree.h"

#include "app/CatalogDlg.h"
#include "dialogs/AboutBox.h"
#include "dialogs/DriveSelectDlg.h"
#include "platform/DriveSource.h"
#include "desktop/Prompt.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CFakeDrives final : public CDriveSource {
public:
    explicit CFakeDrives(std::vector<CDrive> drives)
        : m_arrDrives(std::move(drives))
    {}
    std::vector<CDrive> Drives() override { return m_arrDrives; }

private:
    std::vector<CDrive> m_arrDrives;
};

class MainWindowCommands : public testing::Test {
protected:
    void SetUp() override
    {
        m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=Commands\n");
        m_drive.WriteFile("app/app.brw", "[info]\ncategory=Tools\nname=Tool\n");
        m_drive.WriteFile("app/readme.txt", "r");
        m_other.WriteFile("other/o.brw", "[info]\ncategory=Other\nname=Elsewhere\n");
        m_dlg = std::make_unique<CMainWindow>(m_drive.Root());
        m_dlg->SetDriveSource(std::make_unique<CFakeDrives>(
            std::vector<CDrive>{{"/", EDriveKind::Fixed}, {m_other.Root(), EDriveKind::CdRom}}));
        // A second scan replaces a filled catalogue: both models stay checked through it.
        m_checks.push_back(std::make_unique<CModelCheck>(m_dlg->CatalogModel()));
        m_checks.push_back(std::make_unique<CModelCheck>(m_dlg->ApplicationView().FileListModel()));
        ASSERT_TRUE(m_dlg->Start());
    }
    void TearDown() override
    {
        CPrompt::SetDialogRunner({});
        CPrompt::Reset();
        m_checks.clear();
        m_dlg.reset();
    }

    QString Status(int part) const { return m_dlg->Status(part); }

    CTempTree m_drive;
    CTempTree m_other;
    std::unique_ptr<CMainWindow> m_dlg;
    std::vector<std::unique_ptr<CModelCheck>> m_checks;
};

TEST_F(MainWindowCommands, ToolTipsAreTheCommandsTextsAndTheStatusParts)
{
    EXPECT_EQ(ToolButton(*m_dlg, "openFolder")->toolTip(),
              QStringLiteral("Open the folder contaning the currently selected application"));
    EXPECT_EQ(ToolButton(*m_dlg, "about")->toolTip(), QStringLiteral("About Quarrow"));
    EXPECT_EQ(ToolButton(*m_dlg, "selectDrive")->toolTip(),
              QStringLiteral("Select drive to scan for applications"));
    EXPECT_EQ(m_dlg->DescriptionPane().viewport()->toolTip(),
              QStringLiteral("Description of the selected application"));
    EXPECT_TRUE(m_dlg->CatalogTree().viewport()->toolTip().isEmpty());
    EXPECT_TRUE(m_dlg->FileList().viewport()->toolTip().isEmpty());

    m_dlg->StatusBar().SetText(1, QStringLiteral("Tools"));
    m_dlg->StatusBar().SetText(2, QString());
    EXPECT_EQ(m_dlg->StatusBar().ToolTipText(), QStringLiteral("Done. | Tools | "));
    const QString longText = QStringLiteral("Scanning: ") + QString(120, QLatin1Char('x'));
    m_dlg->StatusBar().SetText(0, longText);
    EXPECT_EQ(m_dlg->StatusBar().ToolTipText(), longText + " | Tools | ") << "no 80-character cut";
    EXPECT_EQ(m_dlg->StatusBar().GetTipText(1), QStringLiteral("Catagory"));
}

TEST_F(MainWindowCommands, AboutButtonAndWindowMenuShowTheSameBox)
{
    std::vector<QString> shown;
    CPrompt::SetDialogRunner([&](QDialog& dialog) {
        shown.push_back(QString::fromLatin1(dialog.metaObject()->className()));
        return int(QDialog::Accepted);
    });
    QTest::mouseClick(ToolButton(*m_dlg, "about"), Qt::LeftButton);
    QWidget* statusBar = &m_dlg->StatusBar();
    ASSERT_EQ(statusBar->contextMenuPolicy(), Qt::ActionsContextMenu);
    ASSERT_EQ(statusBar->actions().size(), 1);
    EXPECT_EQ(statusBar->actions().constFirst()->text(), QStringLiteral("&About Quarrow..."));
    statusBar->actions().constFirst()->trigger();
    EXPECT_EQ(shown, (std::vector<QString>{"CAboutBox", "CAboutBox"}));
    EXPECT_TRUE(m_dlg->isVisible());
}

TEST_F(MainWindowCommands, EscapeAndEnterCloseTheWindowAtOnce)
{
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        m_dlg->show();
        m_dlg->CatalogTree().setFocus();
        QTest::keyClick(&m_dlg->CatalogTree(), key);
        EXPECT_FALSE(m_dlg->isVisible()) << key;
        EXPECT_EQ(CPrompt::PendingAnswers(), 0);
        EXPECT_FALSE(CPrompt::LastShown()) << "no question asked";
    }
}

TEST_F(MainWindowCommands, CancelledDriveSelectionChangesNothing)
{
    const QString title = m_dlg->windowTitle();
    const std::string folder = m_dlg->CurrentFolder();
    const QString status = Status(0);
    CPrompt::SetDialogRunner([](QDialog&) { return int(QDialog::Rejected); });
    QTest::mouseClick(ToolButton(*m_dlg, "selectDrive"), Qt::LeftButton);
    EXPECT_EQ(m_dlg->windowTitle(), title);
    EXPECT_EQ(m_dlg->CurrentFolder(), folder);
    EXPECT_EQ(Status(0), status);
    EXPECT_EQ(m_dlg->CatalogModel().rowCount(m_dlg->CatalogModel().RootIndex()), 1);
    EXPECT_FALSE(CPrompt::LastShown()) << "Cancel from the command asks nothing";
}

TEST_F(MainWindowCommands, ChosenDriveIsScannedAndTitled)
{
    CPrompt::SetDialogRunner([&](QDialog& dialog) {
        auto& drives = dynamic_cast<CDriveSelectDlg&>(dialog);
        EXPECT_FALSE(drives.AtStartup());
        auto* combo = drives.findChild<QComboBox*>();
        EXPECT_NE(combo, nullptr);
        if (!combo)
            return int(QDialog::Rejected);
        drives.show();
        combo->showPopup();
        combo->setCurrentIndex(combo->findText(QString::fromStdString(m_other.Root())));
        combo->hidePopup();
        EXPECT_EQ(drives.DriveKind(),
                  QStringLiteral("CD-ROM Drive - ") + QString::fromStdString(m_other.Root()));
        drives.accept();
        return drives.result();
    });
    CPrompt::SetNextAnswer(QMessageBox::Ok); // only taken if no drive was chosen
    QTest::mouseClick(ToolButton(*m_dlg, "selectDrive"), Qt::LeftButton);
    EXPECT_EQ(CPrompt::PendingAnswers(), 1) << "a drive was chosen, so nothing was asked";
    EXPECT_EQ(m_dlg->windowTitle(),
              QStringLiteral("Quarrow - ") + QString::fromStdString(m_other.Root()));
    EXPECT_EQ(m_dlg->CurrentFolder(), m_other.Root());
    EXPECT_FALSE(m_dlg->CatalogTree().isEnabled()) << "the tree is locked while it scans";
    ASSERT_TRUE(WaitUntil([&] { return m_dlg->CatalogTree().isEnabled(); }));
    EXPECT_EQ(Status(0), QStringLiteral("Done."));
    const CCatalogModel& model = m_dlg->CatalogModel();
    EXPECT_EQ(model.index(0, 0, model.RootIndex()).data().toString(), QStringLiteral("Other"));
}

TEST_F(MainWindowCommands, ModeButtonsRunTheirCommandFromAnAssistiveTechnology)
{
    QTreeView& tree = m_dlg->CatalogTree();
    const QModelIndex category = tree.model()->index(0, 0, tree.model()->index(0, 0));
    tree.setCurrentIndex(tree.model()->index(0, 0, category));
    ASSERT_TRUE(WaitUntil([&] { return !m_dlg->ApplicationView().IsListing(); }));

    QToolButton* showAll = ToolButton(*m_dlg, "showAllFiles");
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(showAll);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Show all files"));
    QAccessibleActionInterface* actions = accessible->actionInterface();
    ASSERT_NE(actions, nullptr);
    const QStringList names = actions->actionNames();
    ASSERT_FALSE(names.isEmpty());
    actions->doAction(names.first());
    ASSERT_TRUE(WaitUntil([&] { return m_dlg->ApplicationView().IsShowingAllFiles(); }, 5000))
        << names.first().toStdString() << " did not run the command";
    EXPECT_TRUE(Action(*m_dlg, "showAllFiles").isChecked());
    EXPECT_FALSE(Action(*m_dlg, "showAppFiles").isChecked());

    actions->doAction(names.first());
    ASSERT_TRUE(WaitUntil([&] { return !m_dlg->ApplicationView().IsShowingAllFiles(); }, 5000));
    EXPECT_TRUE(Action(*m_dlg, "showAppFiles").isChecked());
}

TEST_F(MainWindowCommands, ControlsCarryTheirAccessibleNames)
{
    EXPECT_EQ(m_dlg->CatalogTree().accessibleName(), QStringLiteral("Catalogue"));
    EXPECT_EQ(m_dlg->FileList().accessibleName(), QStringLiteral("Files"));
    EXPECT_EQ(m_dlg->DescriptionPane().accessibleName(), QStringLiteral("Description"));
    auto* toolBar = m_dlg->findChild<QWidget*>(QStringLiteral("toolBar"));
    ASSERT_NE(toolBar, nullptr);
    EXPECT_EQ(toolBar->accessibleName(), QStringLiteral("Toolbar"));
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(toolBar);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->role(), QAccessible::ToolBar);
    EXPECT_EQ(bar->text(QAccessible::Name), QStringLiteral("Toolbar"));
    QAccessibleInterface* about =
        QAccessible::queryAccessibleInterface(ToolButton(*m_dlg, "about"));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->parent(), bar);
    EXPECT_EQ(about->text(QAccessible::Name), QStringLiteral("About Quarrow"));
    EXPECT_EQ(m_dlg->StatusBar().accessibleName(), QStringLiteral("Status"));
    EXPECT_EQ(m_dlg->StatusBar().PartLabel(1)->accessibleDescription(), QStringLiteral("Category"));
    EXPECT_EQ(ToolButton(*m_dlg, "openFolder")->toolButtonStyle(), Qt::ToolButtonIconOnly);
}

} // namespace
