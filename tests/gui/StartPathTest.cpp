// SPDX-License-Identifier: GPL-3.0-or-later
#include "BlockingVolume.h"
#include "GuiTestSupport.h"
#include "TempTree.h"

#include "app/CatalogDlg.h"
#include "dialogs/AboutBox.h"
#include "dialogs/DriveSelectDlg.h"
#include "platform/ExtractCache.h"
#include "platform/MountedVolume.h"
#include "desktop/Prompt.h"

#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>

namespace {

unsigned ModeOf(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Start-up on a PATH: a folder, a disc image, or something Quarrow cannot use. An "image"
// here is a file that the test's opener maps to a folder standing in for its contents.
class StartPath : public testing::Test {
protected:
    void SetUp() override
    {
        CPrompt::Reset();
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(m_cacheHome.Root()));
        m_drive.WriteFile("App/app.brw", "[info]\ncategory=Tools\nname=Tool\n"
                                         "[showfiles]\nfile1=*.qqz\n");
        m_drive.WriteFile("App/Data.QQZ", "data");
        m_image = m_files.WriteFile("cd1.iso", "an image");
        m_dlg.SetImageOpener([this](const std::string& path) -> std::shared_ptr<const CVolume> {
            if (path != m_image)
                return nullptr;
            auto image = std::make_shared<CBlockingVolume>(CMountedVolume::Create(m_drive.Root()),
                                                           std::chrono::seconds(1));
            image->ActAsImage();
            return image;
        });
        CPrompt::SetDialogRunner([this](QDialog& dialog) {
            m_bAskedForDrive = qobject_cast<CDriveSelectDlg*>(&dialog) != nullptr;
            return int(QDialog::Rejected);
        });
    }
    void TearDown() override
    {
        CPrompt::SetDialogRunner({});
        CPrompt::Reset();
        qunsetenv("XDG_CACHE_HOME");
    }

    void Start(const std::string& path)
    {
        m_dlg.SetStartPath(path);
        m_dlg.show();
    }
    bool ScanEnds() { return m_dlg.WaitForDone(); }
    void ExpectReportedThenAskedForDrive(const QString& text)
    {
        // The path is opened on a worker: the box comes once the event loop has turned.
        ASSERT_TRUE(WaitUntil([&] { return m_bAskedForDrive; }));
        ASSERT_TRUE(CPrompt::LastShown());
        EXPECT_EQ(CPrompt::LastShown()->m_strText, text);
        EXPECT_EQ(CPrompt::LastShown()->m_strCaption, QStringLiteral("Quarrow"));
        EXPECT_TRUE(m_bAskedForDrive);
        EXPECT_EQ(m_dlg.windowTitle(), QStringLiteral("Quarrow"));
    }

    CTempTree m_cacheHome;
    CTempTree m_drive;
    CTempTree m_files;
    std::string m_image;
    bool m_bAskedForDrive = false;
    CMainWindow m_dlg;
};

TEST_F(StartPath, AFolderIsScannedAsADriveTitledByItsLabelOrItsPath)
{
    m_drive.WriteFile("AUTORUN.INF", "[AutoRun]\nLabel=Sample Disc\n");
    Start(m_drive.Root() + "/App/..//");
    ASSERT_TRUE(ScanEnds());
    EXPECT_EQ(m_dlg.windowTitle(), QStringLiteral("Quarrow - Sample Disc"));
    EXPECT_EQ(m_dlg.CatalogModel().rowCount(m_dlg.CatalogModel().RootIndex()), 1);
    EXPECT_FALSE(m_bAskedForDrive);

    CMainWindow other;
    other.SetStartPath(m_drive.Path("App"));
    other.show();
    ASSERT_TRUE(other.WaitForDone());
    EXPECT_EQ(other.windowTitle(), QString::fromStdString("Quarrow - " + m_drive.Path("App")));
}

TEST_F(StartPath, AMissingPathIsReportedThenTheDriveIsAskedFor)
{
    CPrompt::SetNextAnswer(QMessageBox::Ok);
    Start(m_files.Path("nothing.iso"));
    ExpectReportedThenAskedForDrive(QString::fromStdString(
        "Quarrow cannot open " + m_files.Path("nothing.iso") + ": No such file or directory."));
}

TEST_F(StartPath, AFileThatIsNoImageIsReportedThenTheDriveIsAskedFor)
{
    CPrompt::SetNextAnswer(QMessageBox::Ok);
    Start(m_files.WriteFile("notes.txt", "text"));
    ExpectReportedThenAskedForDrive(QString::fromStdString(
        m_files.Path("notes.txt") + " is not a disc image that Quarrow can read"));
}

TEST_F(StartPath, AFifoIsNeverOpened)
{
    CPrompt::SetNextAnswer(QMessageBox::Ok);
    Start(m_files.MakeFifo("pipe"));
    ExpectReportedThenAskedForDrive(
        QString::fromStdString(m_files.Path("pipe") + " is neither a folder nor a disc image."));
}

TEST_F(StartPath, TheWindowShowsAndAnswersWhileAnImageIsStuckOpeningAndClosesWithoutIt)
{
    // Its label is read while opening, so the open waits at the gate.
    const auto gate = std::make_shared<CBlockingVolume>(CMountedVolume::Create(m_drive.Root()),
                                                        std::chrono::seconds(30));
    gate->Shut();
    m_dlg.SetImageOpener(
        [gate](const std::string&) -> std::shared_ptr<const CVolume> { return gate; });
    Start(m_image);
    ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == 1; }));
    EXPECT_TRUE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.StatusBar().GetText(0), QString::fromStdString("Opening: " + m_image));
    EXPECT_FALSE(m_dlg.CatalogTree().isEnabled());

    bool bAbout = false;
    CPrompt::SetDialogRunner([&](QDialog& dialog) {
        bAbout = qobject_cast<CAboutBox*>(&dialog) != nullptr;
        return int(QDialog::Accepted);
    });
    QTest::mouseClick(ToolButton(m_dlg, "about"), Qt::LeftButton);
    EXPECT_TRUE(bAbout);

    m_dlg.reject();
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(gate->Waiting(), 1);
    gate->Open();
    EXPECT_TRUE(WaitUntil([&] { return gate->Waiting() == 0; }));
    EXPECT_EQ(m_dlg.windowTitle(), QStringLiteral("Quarrow"));
}

TEST_F(StartPath, AnImageFileIsCopiedOutReadOnlyBeforeTheDesktopGetsItAndGoesAtTheEnd)
{
    Start(m_image);
    ASSERT_TRUE(ScanEnds());
    EXPECT_EQ(m_dlg.windowTitle(), QString::fromStdString("Quarrow - " + m_drive.Root()));
    QTreeView& tree = m_dlg.CatalogTree();
    const QModelIndex category = tree.model()->index(0, 0, tree.model()->index(0, 0));
    tree.setCurrentIndex(tree.model()->index(0, 0, category));
    ASSERT_TRUE(WaitUntil([&] { return m_dlg.ApplicationView().FileListModel().rowCount() == 1; }));
    const QModelIndex row = m_dlg.ApplicationView().FileListModel().index(0, 0);
    m_dlg.FileList().setCurrentIndex(row);

    // Whatever the desktop makes of the copy, a box it reports is answered.
    CPrompt::SetNextAnswer(QMessageBox::Ok);
    m_dlg.OnDblclkList();
    EXPECT_TRUE(m_dlg.StatusBar().GetText(0).startsWith(QStringLiteral("Opening: ")));
    ASSERT_TRUE(WaitUntil([&] {
        return !m_dlg.IsCopying() && m_dlg.StatusBar().GetText(0) == QLatin1String("Done.");
    }));
    CPrompt::Reset();
    ASSERT_NE(m_dlg.ExtractCache(), nullptr);
    const std::string copies = m_dlg.ExtractCache()->ImageFolder(m_drive.Root(), {});
    const std::string runFolder = m_dlg.ExtractCache()->RunFolder();
    EXPECT_EQ(ModeOf(copies + "/App/Data.QQZ"), 0444u);
    EXPECT_EQ(ModeOf(runFolder), 0700u);
    EXPECT_EQ(runFolder.rfind(m_cacheHome.Path("quarrow/run-"), 0), 0u);

    m_dlg.accept();
    EXPECT_EQ(ModeOf(runFolder), 0u);
}

} // namespace
