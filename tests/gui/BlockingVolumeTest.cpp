// SPDX-License-Identifier: GPL-3.0-or-later
#include "BlockingVolume.h"
#include "GuiTestSupport.h"
#include "TempTree.h"

#include "app/CatalogDlg.h"
#include "platform/MountedVolume.h"
#include "desktop/Prompt.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

using namespace std::chrono_literals;

// A drive that stops answering must never stop the window: every call of the volume below
// waits far longer than any of these actions may take.
class BlockingVolume : public testing::Test {
protected:
    static constexpr auto kStall = 30s;
    // Well above the responsiveness targets, far below the stall: only a window that waits
    // for the drive can miss it, even in a sanitizer build.
    static constexpr qint64 kAnswerMs = 2000;

    void SetUp() override
    {
        m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=Slow\n");
        m_drive.WriteFile("one/one.brw", "[info]\ncategory=Apps\nname=One\n"
                                         "[description]\nline1=First app\n");
        m_drive.WriteFile("one/one.exe", "x");
        m_drive.WriteFile("two/two.brw", "[info]\ncategory=Apps\nname=Two\n"
                                         "[description]\nline1=Second app\n");
        m_drive.WriteFile("two/two.txt", "x");
        m_dlg = std::make_unique<CMainWindow>(m_drive.Root());
        ASSERT_TRUE(m_dlg->Start());

        m_pVolume = std::make_shared<CBlockingVolume>(CMountedVolume::Create(m_drive.Root()),
                                                      std::chrono::milliseconds(kStall));
        m_dlg->StartScan(m_pVolume);
        ASSERT_TRUE(WaitUntil([&] { return m_dlg->CatalogTree().isEnabled(); }));
    }

    void TearDown() override
    {
        CPrompt::SetDialogRunner({});
        m_pVolume->Open();
        m_dlg.reset();
        // Listings let go while blocked finish on their own once the drive answers.
        EXPECT_TRUE(WaitUntil([&] { return m_pVolume->Waiting() == 0; }));
    }

    QString Status() const { return m_dlg->StatusBar().GetText(0); }

    // How long the UI thread spent in action.
    template <class Action>
    static qint64 Timed(Action action)
    {
        QElapsedTimer clock;
        clock.start();
        action();
        return clock.elapsed();
    }

    void Select(const char* name)
    {
        m_dlg->CatalogTree().setCurrentIndex(
            m_dlg->CatalogModel().FindApplication(QString::fromLatin1(name)));
    }

    bool ListingBlocked()
    {
        return WaitUntil([&] { return m_pVolume->Waiting() > 0; });
    }

    std::vector<QString> Names() const
    {
        std::vector<QString> names;
        const CFileListModel& model = m_dlg->ApplicationView().FileListModel();
        for (int r = 0; r < model.rowCount(); ++r)
            names.push_back(model.index(r, 0).data().toString());
        return names;
    }

    CTempTree m_drive;
    std::unique_ptr<CMainWindow> m_dlg;
    std::shared_ptr<CBlockingVolume> m_pVolume;
};

TEST_F(BlockingVolume, SelectionsModesAboutAndClosingAnswerWhileTheDriveHangs)
{
    Select("One");
    ASSERT_TRUE(WaitUntil([&] { return !m_dlg->ApplicationView().IsListing(); }));
    m_pVolume->Shut();

    EXPECT_LT(Timed([&] { Select("Two"); }), kAnswerMs);
    ASSERT_TRUE(ListingBlocked());
    EXPECT_LT(Timed([&] { Select("One"); }), kAnswerMs) << "a blocked listing is superseded";
    ASSERT_TRUE(ListingBlocked());
    EXPECT_LT(Timed([&] { QTest::mouseClick(ToolButton(*m_dlg, "showAppFiles"), Qt::LeftButton); }),
              kAnswerMs);

    bool bAboutShown = false;
    CPrompt::SetDialogRunner([&](QDialog&) {
        bAboutShown = true;
        return 0;
    });
    EXPECT_LT(Timed([&] { m_dlg->OnAbout(); }), kAnswerMs);
    EXPECT_TRUE(bAboutShown);

    EXPECT_LT(Timed([&] { QTest::keyClick(m_dlg.get(), Qt::Key_Escape); }), kAnswerMs);
    EXPECT_FALSE(m_dlg->isVisible());
}

TEST_F(BlockingVolume, OnlyTheLatestSelectionReachesTheListAndThePane)
{
    m_pVolume->Shut();
    Select("One");
    ASSERT_TRUE(ListingBlocked());
    Select("Two");
    EXPECT_TRUE(m_dlg->DescriptionPane().toPlainText().isEmpty()) << "nothing is ready yet";
    m_pVolume->Open();
    ASSERT_TRUE(m_dlg->WaitForListing());
    EXPECT_EQ(Names(), std::vector<QString>{QStringLiteral("two")});
    EXPECT_EQ(m_dlg->DescriptionPane().toPlainText(), QStringLiteral("Second app\n"));
}

} // namespace
