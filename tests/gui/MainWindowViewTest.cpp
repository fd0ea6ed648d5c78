// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTestSupport.h"
#include "ModelCheck.h"
#include "TempTree.h"

#include "app/CatalogDlg.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

class MainWindowView : public testing::Test {
protected:
    void SetUp() override { m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=View\n"); }
    void TearDown() override
    {
        m_checks.clear();
        m_dlg.reset();
    }

    void Start()
    {
        m_dlg = std::make_unique<CMainWindow>(m_drive.Root());
        // Both models stay checked through the scan, selections, mode switches and relistings.
        m_checks.push_back(std::make_unique<CModelCheck>(m_dlg->CatalogModel()));
        m_checks.push_back(std::make_unique<CModelCheck>(m_dlg->ApplicationView().FileListModel()));
        ASSERT_TRUE(m_dlg->Start());
    }

    QString Status(int part) const { return m_dlg->Status(part); }

    // Selects the application node with this text, wherever it is.
    void Select(const QString& name)
    {
        QTreeView& tree = m_dlg->CatalogTree();
        const QAbstractItemModel* model = tree.model();
        const QModelIndex root = model->index(0, 0);
        for (int c = 0; c < model->rowCount(root); ++c) {
            const QModelIndex category = model->index(c, 0, root);
            for (int a = 0; a < model->rowCount(category); ++a) {
                const QModelIndex app = model->index(a, 0, category);
                if (app.data().toString() == name) {
                    tree.setCurrentIndex(app);
                    return;
                }
            }
        }
        FAIL() << "no application " << name.toStdString();
    }

    bool ListingDone() { return m_dlg->WaitForListing(); }

    std::vector<std::string> Rows(int column = 0) const
    {
        std::vector<std::string> rows;
        const CFileListModel& model = m_dlg->ApplicationView().FileListModel();
        for (int r = 0; r < model.rowCount(); ++r)
            rows.push_back(model.index(r, column).data().toString().toStdString());
        return rows;
    }

    QString Pane() const { return m_dlg->DescriptionPane().toPlainText(); }

    CTempTree m_drive;
    std::unique_ptr<CMainWindow> m_dlg;
    std::vector<std::unique_ptr<CModelCheck>> m_checks;
};

TEST_F(MainWindowView, SelectingAnApplicationShowsItsNameDescriptionAndFiles)
{
    m_drive.WriteFile("app/app.brw", "[info]\ncategory=Tools\nname=Tool\n[description]\n"
                                     "line1=Hello\nline2=World\n");
    m_drive.WriteFile("app/readme.txt", "r");
    m_drive.WriteFile("app/Setup.EXE", "not a program");
    m_drive.WriteFile("app/data.bin", "d");
    Start();
    Select(QStringLiteral("Tool"));
    EXPECT_EQ(Status(2), QStringLiteral("Tool"));
    ASSERT_TRUE(ListingDone());
    EXPECT_EQ(Pane(), QStringLiteral("Hello\nWorld\n"));
    // The *.exe walk comes first, so the text file, found last, stands first.
    EXPECT_EQ(Rows(), (std::vector<std::string>{"readme", "Setup"}));
    EXPECT_EQ(Rows(1), (std::vector<std::string>{".txt", ".exe"}));
    EXPECT_EQ(Rows(2), (std::vector<std::string>{m_drive.Path("app"), m_drive.Path("app")}));
    EXPECT_EQ(m_dlg->ApplicationView().FileListModel().RowAt(1)->strPath,
              m_drive.Path("app/Setup.EXE"));
    EXPECT_EQ(Picture(m_dlg->ApplicationView().FileListModel().RowAt(1)->icon),
              Picture(QIcon(QStringLiteral(":/filetypes/program.svg"))))
        << "a program without icons";
    EXPECT_EQ(m_dlg->CurrentFolder(), m_drive.Path("app"));
}

TEST_F(MainWindowView, ShowAllFilesTogglesAndEachPressRelists)
{
    m_drive.WriteFile("app/app.brw", "[info]\ncategory=Tools\nname=Tool\n");
    m_drive.WriteFile("app/readme.txt", "r");
    m_drive.WriteFile("app/data.bin", "d");
    m_drive.WriteFile("app/sub/deep.txt", "x");
    Start();
    Select(QStringLiteral("Tool"));
    ASSERT_TRUE(ListingDone());
    EXPECT_EQ(Rows(), (std::vector<std::string>{"readme"}));

    QTest::mouseClick(ToolButton(*m_dlg, "showAllFiles"), Qt::LeftButton);
    EXPECT_TRUE(Action(*m_dlg, "showAllFiles").isChecked());
    EXPECT_FALSE(Action(*m_dlg, "showAppFiles").isChecked());
    ASSERT_TRUE(ListingDone());
    const std::vector<std::string> all = Rows();
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()),
              (std::set<std::string>{"readme", "data", "app"}))
        << "the folder itself only, each title once";

    // Pressing the pressed button switches back.
    QTest::mouseClick(ToolButton(*m_dlg, "showAllFiles"), Qt::LeftButton);
    EXPECT_FALSE(Action(*m_dlg, "showAllFiles").isChecked());
    EXPECT_TRUE(Action(*m_dlg, "showAppFiles").isChecked());
    ASSERT_TRUE(ListingDone());
    EXPECT_EQ(Rows(), (std::vector<std::string>{"readme"}));
}

TEST_F(MainWindowView, SelectingACategoryEmptiesTheViewAndDisablesTheModes)
{
    m_drive.WriteFile("app/app.brw",
                      "[info]\ncategory=Tools\nname=Tool\n[description]\nfile=missing.txt\n");
    m_drive.WriteFile("app/readme.txt", "r");
    Start();
    Select(QStringLiteral("Tool"));
    ASSERT_TRUE(ListingDone());
    EXPECT_EQ(Pane(), QStringLiteral("Error: Description file not found."));
    EXPECT_EQ(Rows().size(), 1u) << "the list is filled all the same";

    QTreeView& tree = m_dlg->CatalogTree();
    tree.setCurrentIndex(tree.model()->index(0, 0, tree.model()->index(0, 0)));
    EXPECT_EQ(Status(1), QStringLiteral("Tools"));
    EXPECT_EQ(Status(2), QString());
    EXPECT_EQ(Pane(), QString());
    EXPECT_EQ(m_dlg->ApplicationView().FileListModel().rowCount(), 0);
    EXPECT_FALSE(Action(*m_dlg, "showAppFiles").isEnabled());
    EXPECT_FALSE(Action(*m_dlg, "showAllFiles").isEnabled());
    EXPECT_EQ(m_dlg->CurrentFolder(), m_drive.Path("app")) << "a category keeps the folder";
}

TEST_F(MainWindowView, ANewSelectionDuringALongListingShowsOnlyItsOwnRows)
{
    m_drive.WriteFile("big/big.brw", "[info]\ncategory=A\nname=Big\n[showfiles]\nfile1=*\n");
    for (int i = 0; i < 3000; ++i)
        m_drive.WriteFile("big/f" + std::to_string(i) + ".dat", "");
    m_drive.WriteFile("small/small.brw", "[info]\ncategory=A\nname=Small\n");
    m_drive.WriteFile("small/only.txt", "");
    Start();
    for (int round = 0; round < 5; ++round) {
        Select(QStringLiteral("Big"));
        QCoreApplication::processEvents();
        // Odd rounds replace a list that already holds rows.
        if (round % 2 == 1) {
            ASSERT_TRUE(
                WaitUntil([&] { return m_dlg->ApplicationView().FileListModel().rowCount() > 0; }));
        }
        Select(QStringLiteral("Small"));
        ASSERT_TRUE(ListingDone());
        EXPECT_EQ(Rows(), (std::vector<std::string>{"only"}));
    }
}

TEST_F(MainWindowView, EachFileTypeIsLookedUpOnceAcrossListings)
{
    m_drive.WriteFile("app/app.brw", "[info]\ncategory=Tools\nname=Tool\n");
    m_drive.WriteFile("app/a.txt", "");
    m_drive.WriteFile("app/b.txt", "");
    m_drive.WriteFile("app/lib.dll", "");
    m_drive.WriteFile("two/two.brw", "[info]\ncategory=Tools\nname=Tool 2\n"
                                     "[showfiles]\nfile1=*.*\n");
    m_drive.WriteFile("two/c.txt", "");
    m_drive.WriteFile("two/d.qqz", "");
    Start();
    const CApplicationView& view = m_dlg->ApplicationView();
    std::size_t asked = 0;
    for (int round = 0; round < 2; ++round) {
        for (const char* name : {"Tool", "Tool 2"}) {
            Select(QString::fromLatin1(name));
            ASSERT_TRUE(ListingDone());
            for (int r = 0; r < view.FileListModel().rowCount(); ++r)
                EXPECT_FALSE(view.FileListModel().RowAt(r)->icon.isNull()) << name << r;
        }
        if (round == 0)
            asked = view.FileTypeIcons().LookUps();
    }
    EXPECT_EQ(view.FileTypeIcons().LookUps(), asked) << "no type asked for twice";
}

} // namespace
