// SPDX-License-Identifier: GPL-3.0-or-later
#include "BlockingVolume.h"
#include "GuiTestSupport.h"

#include "TempTree.h"

#include "dialogs/DriveSelectDlg.h"
#include "platform/DriveSource.h"
#include "platform/MountedVolume.h"
#include "desktop/Prompt.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

class CFakeDriveSource : public CDriveSource {
public:
    std::vector<CDrive> Drives() override
    {
        ++m_nCalls;
        return m_arrDrives;
    }

    std::vector<CDrive> m_arrDrives;
    int m_nCalls = 0;
};

class DriveSelectDlgTest : public testing::Test {
protected:
    void SetUp() override
    {
        CPrompt::Reset();
        m_source.m_arrDrives = {{"/media/cdrom", EDriveKind::CdRom},
                                {"/", EDriveKind::Fixed},
                                {"/mnt/share", EDriveKind::Remote}};
        m_dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
    }

    void TearDown() override
    {
        // A box that nobody answered would have blocked the test; a leftover answer means a
        // box the test expected never came.
        EXPECT_EQ(CPrompt::PendingAnswers(), 0);
        CPrompt::Reset();
    }

    template <class T>
    T& Control(const char* name)
    {
        T* pControl = m_dlg.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(pControl, nullptr) << name;
        return *pControl;
    }
    QComboBox& Combo() { return Control<QComboBox>("drives"); }
    QString KindLine() { return Control<QLabel>("driveKind").text(); }
    bool PopupOpen() { return Combo().view()->isVisible(); }

    QStringList Entries()
    {
        QStringList entries;
        for (int row = 0; row < Combo().count(); ++row)
            entries << Combo().itemText(row);
        return entries;
    }

    void OpenList()
    {
        QTest::keyClick(&Combo(), Qt::Key_F4);
        if (Combo().count() > 0) {
            ASSERT_TRUE(WaitUntil([&] { return PopupOpen(); }));
        }
    }

    void CloseListWithoutPick()
    {
        QTest::keyClick(Combo().view(), Qt::Key_Escape);
        ASSERT_TRUE(WaitUntil([&] { return !PopupOpen(); }));
    }

    // Opens the list, moves to the entry with the keyboard and takes it with Enter.
    void Pick(const QString& text)
    {
        OpenList();
        const int row = Combo().findText(text);
        ASSERT_GE(row, 0) << text.toStdString();
        QAbstractItemView* pView = Combo().view();
        QTest::keyClick(pView, Qt::Key_Home);
        for (int i = 0; i < row; ++i)
            QTest::keyClick(pView, Qt::Key_Down);
        QTest::keyClick(pView, Qt::Key_Return);
        ASSERT_TRUE(WaitUntil([&] { return !PopupOpen() && Combo().currentText() == text; }));
    }

    void ClickOK() { QTest::mouseClick(&Control<QPushButton>("ok"), Qt::LeftButton); }
    void ClickCancel() { QTest::mouseClick(&Control<QPushButton>("cancel"), Qt::LeftButton); }

    void ExpectPleaseSelectADrive()
    {
        const std::optional<CPromptBox> box = CPrompt::LastShown();
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->m_strText, QStringLiteral("Please select a drive"));
        EXPECT_EQ(box->m_strCaption, QStringLiteral("Quarrow"));
        EXPECT_EQ(box->m_eIcon, QMessageBox::Information);
        EXPECT_EQ(box->m_eButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
        EXPECT_TRUE(m_dlg.isVisible());
        EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
    }

    // Makes the image chooser choose path.
    void ChooseWith(const std::string& path)
    {
        CPrompt::SetDialogRunner([path](QDialog& dialog) {
            auto* chooser = qobject_cast<QFileDialog*>(&dialog);
            if (!chooser)
                return int(QDialog::Rejected);
            chooser->selectFile(QString::fromStdString(path));
            return int(QDialog::Accepted);
        });
    }

    void ExpectQuitQuestion()
    {
        const std::optional<CPromptBox> box = CPrompt::LastShown();
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->m_strText, QStringLiteral("Do you want to quit?"));
        EXPECT_EQ(box->m_strCaption, QStringLiteral("Quarrow"));
        EXPECT_EQ(box->m_eIcon, QMessageBox::Warning);
        EXPECT_EQ(box->m_eButtons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box->m_eDefault, QMessageBox::No);
    }

    CFakeDriveSource m_source;
    CDriveSelectDlg m_dlg{m_source};
};

TEST_F(DriveSelectDlgTest, OpensWithBlankKindLineNoDriveAndAnEmptyList)
{
    EXPECT_EQ(KindLine(), QString());
    EXPECT_TRUE(m_dlg.Drive().empty());
    EXPECT_EQ(Combo().count(), 0);
    EXPECT_EQ(m_source.m_nCalls, 0);
    EXPECT_EQ(Combo().accessibleName(), QStringLiteral("Drive"));
    EXPECT_FALSE(Control<QLabel>("driveKind").accessibleName().isEmpty());
}

TEST_F(DriveSelectDlgTest, ThePromptShowsWholeAndEveryControlFitsTheDialog)
{
    QLabel& prompt = Control<QLabel>("prompt");
    EXPECT_LE(prompt.sizeHint().width(), prompt.width());
    for (QWidget* pControl : m_dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        SCOPED_TRACE(pControl->objectName().toStdString());
        EXPECT_TRUE(m_dlg.rect().contains(pControl->geometry()));
    }
    EXPECT_FALSE(prompt.geometry().intersects(Combo().geometry()));
}

TEST_F(DriveSelectDlgTest, OpeningTheListFillsItAfreshSortedOnceEachWithRootSelected)
{
    m_source.m_arrDrives.push_back({"/media/cdrom", EDriveKind::CdRom});
    QTest::mouseClick(&Combo(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return PopupOpen(); }));
    EXPECT_EQ(Entries(), (QStringList{"/", "/media/cdrom", "/mnt/share"}));
    EXPECT_EQ(Combo().currentText(), QStringLiteral("/"));
    // Only closing the list chooses.
    EXPECT_EQ(KindLine(), QString());
    CloseListWithoutPick();

    // A disc inserted while the dialog is open shows up the next time the list opens.
    m_source.m_arrDrives.push_back({"/media/usb", EDriveKind::Removable});
    OpenList();
    EXPECT_EQ(Entries(), (QStringList{"/", "/media/cdrom", "/media/usb", "/mnt/share"}));
    EXPECT_EQ(Combo().currentText(), QStringLiteral("/"));
    CloseListWithoutPick();
    EXPECT_EQ(m_source.m_nCalls, 2);
}

TEST_F(DriveSelectDlgTest, PickingAnEntryShowsItsKindForEveryKind)
{
    const struct {
        EDriveKind eKind;
        const char* pszPrefix;
    } kCases[] = {
        {EDriveKind::Unknown, "Unknown Drive - "},
        {EDriveKind::NoRootDir, "Current Drive - "},
        {EDriveKind::Removable, "Removable Disk Drive - "},
        {EDriveKind::Fixed, "Fixed Disk Drive - "},
        {EDriveKind::Remote, "Network Drive - "},
        {EDriveKind::CdRom, "CD-ROM Drive - "},
        {EDriveKind::RamDisk, "RAM Drive - "},
        {static_cast<EDriveKind>(42), "Unknown Drive - "},
    };
    for (const auto& testCase : kCases) {
        SCOPED_TRACE(testCase.pszPrefix);
        m_source.m_arrDrives = {{"/", EDriveKind::Fixed}, {"/media/drive", testCase.eKind}};
        Pick(QStringLiteral("/media/drive"));
        EXPECT_EQ(KindLine(), QString::fromLatin1(testCase.pszPrefix) + "/media/drive");
        EXPECT_EQ(m_dlg.DriveKind(), KindLine());
        EXPECT_EQ(m_dlg.Drive(), "/media/drive");
    }
}

TEST_F(DriveSelectDlgTest, ClosingWithoutAPickTakesTheSelectedEntry)
{
    OpenList();
    CloseListWithoutPick();
    EXPECT_EQ(m_dlg.Drive(), "/");
    EXPECT_EQ(KindLine(), QStringLiteral("Fixed Disk Drive - /"));
}

TEST_F(DriveSelectDlgTest, ClosingWithNothingSelectedClearsTheDriveChosenBefore)
{
    Pick(QStringLiteral("/media/cdrom"));
    ASSERT_EQ(m_dlg.Drive(), "/media/cdrom");

    // Without "/" nothing is selected when the list opens.
    m_source.m_arrDrives = {{"/media/cdrom", EDriveKind::CdRom}};
    OpenList();
    EXPECT_EQ(Combo().currentIndex(), -1);
    CloseListWithoutPick();
    EXPECT_TRUE(m_dlg.Drive().empty());
    EXPECT_EQ(KindLine(), QStringLiteral("No Drive Selected"));

    CPrompt::SetNextAnswer(QMessageBox::Ok);
    ClickOK();
    ExpectPleaseSelectADrive();
}

TEST_F(DriveSelectDlgTest, AMachineWithoutDrivesClosesTheEmptyListAtOnce)
{
    Pick(QStringLiteral("/"));
    m_source.m_arrDrives.clear();
    OpenList();
    EXPECT_FALSE(PopupOpen());
    EXPECT_EQ(Combo().count(), 0);
    EXPECT_TRUE(m_dlg.Drive().empty());
    EXPECT_EQ(KindLine(), QStringLiteral("No Drive Selected"));
}

TEST_F(DriveSelectDlgTest, KeepsTheMountPointBytesAndShowsThemDecoded)
{
    // Latin-1 "é", not valid UTF-8: shown as Windows-1252, kept as it is.
    const std::string mountPoint = "/media/caf\xe9";
    m_source.m_arrDrives = {{"/", EDriveKind::Fixed}, {mountPoint, EDriveKind::Removable}};
    Pick(QStringLiteral("/media/caf\u00e9"));
    EXPECT_EQ(m_dlg.Drive(), mountPoint);
    EXPECT_EQ(KindLine(), QStringLiteral("Removable Disk Drive - /media/caf\u00e9"));
}

TEST_F(DriveSelectDlgTest, KeyboardChoiceWithTheListClosedCountsAsAPick)
{
    OpenList();
    CloseListWithoutPick();
    ASSERT_EQ(m_dlg.Drive(), "/");

    Combo().setFocus();
    QTest::keyClick(&Combo(), Qt::Key_Down);
    ASSERT_FALSE(PopupOpen());
    EXPECT_EQ(m_dlg.Drive(), "/media/cdrom");
    EXPECT_EQ(KindLine(), QStringLiteral("CD-ROM Drive - /media/cdrom"));

    ClickOK();
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
    EXPECT_EQ(m_dlg.Drive(), "/media/cdrom");
}

TEST_F(DriveSelectDlgTest, OkWithoutADriveAsksForOneAndStaysOpen)
{
    // Right after opening, before the list was ever opened.
    CPrompt::SetNextAnswer(QMessageBox::Ok);
    ClickOK();
    ExpectPleaseSelectADrive();

    // Enter is OK too.
    CPrompt::Reset();
    CPrompt::SetNextAnswer(QMessageBox::Ok);
    QTest::keyClick(&m_dlg, Qt::Key_Return);
    ExpectPleaseSelectADrive();
}

TEST_F(DriveSelectDlgTest, OkAndEnterWithADriveEndTheDialogWithoutAQuestion)
{
    CPrompt::SetNextAnswer(QMessageBox::Ok); // must stay unused
    Pick(QStringLiteral("/mnt/share"));
    ClickOK();
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
    EXPECT_EQ(m_dlg.Drive(), "/mnt/share");

    m_dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
    // Enter with the focus on the closed list still means OK.
    Combo().setFocus();
    QTest::keyClick(&Combo(), Qt::Key_Return);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
    EXPECT_EQ(CPrompt::PendingAnswers(), 1);
    CPrompt::Reset();
}

TEST_F(DriveSelectDlgTest, CancelAndEscapeFromTheCommandCloseWithoutAQuestion)
{
    CPrompt::SetNextAnswer(QMessageBox::Yes); // must stay unused
    Pick(QStringLiteral("/media/cdrom"));
    ClickCancel();
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);

    m_dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
    QTest::keyClick(&m_dlg, Qt::Key_Escape);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
    EXPECT_EQ(CPrompt::PendingAnswers(), 1);
    CPrompt::Reset();
}

TEST_F(DriveSelectDlgTest, CancelAndEscapeAtStartupAskAndNoKeepsTheDialog)
{
    m_dlg.SetAtStartup(true);
    Pick(QStringLiteral("/media/cdrom"));

    CPrompt::SetNextAnswer(QMessageBox::No);
    ClickCancel();
    ExpectQuitQuestion();
    EXPECT_TRUE(m_dlg.isVisible());

    CPrompt::Reset();
    CPrompt::SetNextAnswer(QMessageBox::No);
    QTest::keyClick(&m_dlg, Qt::Key_Escape);
    ExpectQuitQuestion();
    EXPECT_TRUE(m_dlg.isVisible());

    // Escape in the open list only closes the list.
    OpenList();
    CloseListWithoutPick();
    EXPECT_TRUE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.Drive(), "/");
}

TEST(DriveSelectDlgDeathTest, YesToQuitAtStartupEndsTheProcessWithStatusZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CFakeDriveSource source;
            CDriveSelectDlg dlg(source);
            dlg.SetAtStartup(true);
            dlg.show();
            CPrompt::SetNextAnswer(QMessageBox::Yes);
            QTest::keyClick(&dlg, Qt::Key_Escape);
            // Still here: the answer did not end the process.
            std::abort();
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(DriveSelectDlgTest, TheImageButtonMakesAReadableImageTheSelectedEntry)
{
    CTempTree files;
    const std::string image = files.WriteFile("cd1.iso", "image");
    const std::string junk = files.WriteFile("junk.iso", "junk");
    const std::shared_ptr<const CVolume> volume = CMountedVolume::Create(files.Root());
    m_dlg.SetImageOpener([&](const std::string& path) {
        return path == image ? volume : std::shared_ptr<const CVolume>();
    });
    QStringList filters;
    CPrompt::SetDialogRunner([&](QDialog& dialog) {
        auto* chooser = qobject_cast<QFileDialog*>(&dialog);
        if (!chooser)
            return int(QDialog::Rejected);
        filters = chooser->nameFilters();
        chooser->selectFile(QString::fromStdString(junk));
        return int(QDialog::Accepted);
    });
    QPushButton& button = Control<QPushButton>("image");
    EXPECT_FALSE(button.geometry().intersects(Control<QPushButton>("cancel").geometry()));

    CPrompt::SetNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return CPrompt::LastShown().has_value(); }));
    EXPECT_EQ(CPrompt::LastShown()->m_strText,
              QString::fromStdString(junk + " is not a disc image that Quarrow can read"));
    EXPECT_TRUE(m_dlg.Drive().empty());
    ASSERT_FALSE(filters.isEmpty());
    EXPECT_TRUE(filters.constFirst().contains(QStringLiteral("*.iso")));

    ChooseWith(image);
    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return !m_dlg.IsOpeningImage(); }));
    EXPECT_EQ(KindLine(), QString::fromStdString("Disc Image - " + image));
    EXPECT_EQ(m_dlg.Drive(), image);
    EXPECT_EQ(m_dlg.Image(), volume);

    // The image stays in the list beside the drives; picking a drive leaves it.
    Pick(QStringLiteral("/"));
    EXPECT_EQ(m_dlg.Image(), nullptr);
    Pick(QString::fromStdString(image));
    EXPECT_EQ(m_dlg.Image(), volume);
    ClickOK();
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
    CPrompt::SetDialogRunner({});
}

TEST_F(DriveSelectDlgTest, AnImageStuckOpeningLeavesTheDialogAnsweringAndCancelLetsItGo)
{
    CTempTree files;
    const std::string image = files.WriteFile("slow.iso", "image");
    const auto gate = std::make_shared<CBlockingVolume>(CMountedVolume::Create(files.Root()),
                                                        std::chrono::seconds(30));
    gate->Shut();
    m_dlg.SetImageOpener(
        [gate](const std::string&) -> std::shared_ptr<const CVolume> { return gate; });
    ChooseWith(image);
    QTest::mouseClick(&Control<QPushButton>("image"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == 1; }));
    EXPECT_EQ(KindLine(), QString::fromStdString("Opening " + image + "..."));
    EXPECT_FALSE(Control<QPushButton>("ok").isEnabled());
    // Enter waits for the image rather than taking the drive chosen before.
    QTest::keyClick(&m_dlg, Qt::Key_Return);
    EXPECT_TRUE(m_dlg.isVisible());

    ClickCancel();
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
    EXPECT_EQ(gate->Waiting(), 1);
    EXPECT_EQ(m_dlg.Image(), nullptr);
    gate->Open();
    EXPECT_TRUE(WaitUntil([&] { return gate->Waiting() == 0; }));
    CPrompt::SetDialogRunner({});
}

} // namespace
