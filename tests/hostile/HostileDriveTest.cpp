// SPDX-License-Identifier: GPL-3.0-or-later
#include "HostileDrive.h"

#include "../gui/GuiTestSupport.h"
#include "TempTree.h"

#include "app/CatalogDlg.h"
#include "view/JobRunner.h"
#include "view/CatalogModel.h"

#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using AppKey = std::pair<std::string, std::string>; // category, name; bytes as in the tree

// Sanitizer builds walk the drive a few times slower; a wait that ends here fails with its
// message, well before the test's own timeout would end it silently.
constexpr int kBoundMs = 5 * 60 * 1000;

const HostileDrive& Drive()
{
    static const HostileDrive drive = [] {
        const char* base = std::getenv("QUARROW_HOSTILE_DRIVE");
        const HostileSizes sizes =
            std::getenv("QUARROW_HOSTILE_SMALL") ? HostileSizes::Small() : HostileSizes{};
        return DescribeHostileDrive(base && *base ? base : QUARROW_HOSTILE_DRIVE_DEFAULT, sizes);
    }();
    return drive;
}

// Root opens every file: the locked parts of the drive count as readable then.
bool PermissionsHold()
{
    return ::geteuid() != 0;
}

// The peak resident set of this process, in MiB.
long PeakResidentMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6) / 1024;
    return -1;
}

std::string Listed(const std::vector<AppKey>& keys)
{
    std::string text;
    for (std::size_t i = 0; i < keys.size() && i < 20; ++i)
        text += "  [" + keys[i].first + "] " + keys[i].second.substr(0, 60) + "\n";
    if (keys.size() > 20)
        text += "  ... " + std::to_string(keys.size() - 20) + " more\n";
    return text;
}

class MainWindow : public testing::Test {
protected:
    void TearDown() override { m_dlg.reset(); }

    void Start(const std::string& root)
    {
        m_dlg = std::make_unique<CMainWindow>(root);
        m_dlg->show();
    }

    QString Status(int part) const { return m_dlg->Status(part); }
    bool Done(int boundMs = kBoundMs)
    {
        return WaitUntil(
            [&] {
                return !m_dlg->IsWorkerRunning() && !m_dlg->ApplicationView().IsListing() &&
                       Status(0) == QLatin1String("Done.");
            },
            boundMs);
    }

    std::vector<AppKey> ListedApps() const
    {
        std::vector<AppKey> apps;
        const CCatalogModel& model = m_dlg->CatalogModel();
        const QModelIndex root = model.RootIndex();
        for (int c = 0; c < model.rowCount(root); ++c) {
            const QModelIndex category = model.index(c, 0, root);
            for (int a = 0; a < model.rowCount(category); ++a)
                apps.emplace_back(category.data().toString().toStdString(),
                                  model.index(a, 0, category).data().toString().toStdString());
        }
        std::sort(apps.begin(), apps.end());
        return apps;
    }

    // As a user clicks it: through the view's current index.
    bool Select(const std::string& name)
    {
        const QModelIndex app = m_dlg->CatalogModel().FindApplication(QString::fromStdString(name));
        if (!app.isValid())
            return false;
        m_dlg->CatalogTree().setCurrentIndex(app);
        return true;
    }

    void Press(const char* command)
    {
        QTest::mouseClick(ToolButton(*m_dlg, command), Qt::LeftButton);
    }

    std::unique_ptr<CMainWindow> m_dlg;
};

class HostileDriveTest : public MainWindow {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::access(Drive().strRoot.c_str(), F_OK), 0)
            << Drive().strRoot << " is missing: write it with gen_hostile " << Drive().strBase
            << " (the hostile.build test does)";
        Start(Drive().strRoot);
        ASSERT_TRUE(Done()) << "the scan never ended";
    }

    std::vector<AppKey> ExpectedApps() const
    {
        std::vector<AppKey> apps;
        for (const HostileApp& app : Drive().apps)
            if (!app.bNeedsPermission || !PermissionsHold())
                apps.emplace_back(app.strCategory, app.strName);
        std::sort(apps.begin(), apps.end());
        return apps;
    }

    static std::string ExpectedPane(const HostileApp& app)
    {
        if (app.bDescriptionLocked && PermissionsHold())
            return "Error: Description file not found.";
        return app.strPane;
    }

    // Every kind once: the crowds are alike, so only their first member is looked at.
    static bool WorthSelecting(const HostileApp& app)
    {
        if (app.bNeedsPermission && PermissionsHold())
            return false;
        if (app.strCategory == "Crowd")
            return app.strName == HostileNames::kCrowdFirst;
        return app.strCategory.rfind("Category ", 0) != 0 || app.strName == "Member 0000";
    }
};

TEST_F(HostileDriveTest, ScanListsExactlyTheApplicationsOfReadableDescriptors)
{
    const std::vector<AppKey> listed = ListedApps();
    const std::vector<AppKey> expected = ExpectedApps();
    std::vector<AppKey> missing;
    std::vector<AppKey> unexpected;
    std::set_difference(expected.begin(), expected.end(), listed.begin(), listed.end(),
                        std::back_inserter(missing));
    std::set_difference(listed.begin(), listed.end(), expected.begin(), expected.end(),
                        std::back_inserter(unexpected));
    EXPECT_TRUE(missing.empty()) << "missing:\n" << Listed(missing);
    EXPECT_TRUE(unexpected.empty()) << "unexpected (links must not leave the drive):\n"
                                    << Listed(unexpected);
    EXPECT_EQ(listed.size(), expected.size()) << "each application once";
    std::printf("hostile drive: %zu applications listed, peak resident %ld MiB\n", listed.size(),
                PeakResidentMiB());
    RecordProperty("PeakResidentMiB", static_cast<int>(PeakResidentMiB()));
}

TEST_F(HostileDriveTest, EachKindOfApplicationShowsItsDescriptionAndRows)
{
    for (const HostileApp& app : Drive().apps) {
        if (!WorthSelecting(app))
            continue;
        SCOPED_TRACE("application " + app.strName.substr(0, 40));
        ASSERT_TRUE(Select(app.strName));
        ASSERT_TRUE(Done()) << "the listing never ended";
        const std::string pane = m_dlg->DescriptionPane().toPlainText().toStdString();
        EXPECT_TRUE(pane == ExpectedPane(app))
            << "the pane shows " << pane.size() << " bytes: " << pane.substr(0, 80);
        if (app.nRows >= 0) {
            EXPECT_EQ(m_dlg->ApplicationView().FileListModel().rowCount(), app.nRows);
        }
    }
    std::printf("hostile drive: peak resident %ld MiB after every kind was shown\n",
                PeakResidentMiB());
}

TEST_F(HostileDriveTest, SelectionsAndModeSwitchesDuringTheLargestListingEndCleanly)
{
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(Select(HostileNames::kFlat));
        QTest::qWait(20);
        Press("showAllFiles");
        QTest::qWait(5);
        ASSERT_TRUE(Select(HostileNames::kDeep));
        ASSERT_TRUE(Select(HostileNames::kFlat));
        Press("showAppFiles");
    }
    ASSERT_TRUE(Done());
    EXPECT_EQ(m_dlg->ApplicationView().FileListModel().rowCount(),
              Drive().Find(HostileNames::kFlat)->nRows);

    // Closing in the middle of a listing lets the worker go and drops its rows.
    ASSERT_TRUE(Select(HostileNames::kCrowdFirst));
    ASSERT_TRUE(Select(HostileNames::kFlat));
    QTest::qWait(10);
    m_dlg->close();
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_FALSE(m_dlg->IsWorkerRunning());
    QTest::qWait(50);
}

// A wake-up of the listing before can arrive after the last report was taken, while rows
// still wait to be placed; it must neither end the listing early nor keep it from ending.
TEST_F(HostileDriveTest, AWakeUpThatBringsNothingKeepsTheLargestListingEnding)
{
    ASSERT_TRUE(Select(HostileNames::kFlat));
    // Every report, the last one too, waits for one wake-up: too many rows for one turn.
    while (m_dlg->IsWorkerRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto* runner = m_dlg->findChild<CJobRunner*>();
    ASSERT_NE(runner, nullptr);
    QMetaObject::invokeMethod(runner, "OnWake", Qt::QueuedConnection,
                              Q_ARG(quint64, runner->RunningNumber()));
    ASSERT_TRUE(Done()) << "the listing never ended";
    EXPECT_EQ(m_dlg->ApplicationView().FileListModel().rowCount(),
              Drive().Find(HostileNames::kFlat)->nRows);
}

// Folders renamed, replaced by files or by links out of the drive, and files coming and
// going, all while the scans and a listing run.
class ChurningDriveTest : public MainWindow {
protected:
    static constexpr int kStable = 20;
    static constexpr int kChurning = 300;

    void SetUp() override
    {
        for (int i = 0; i < kStable; ++i) {
            const std::string folder = "stable/s" + std::to_string(i);
            m_drive.WriteFile(folder + "/app.brw",
                              "[info]\ncategory=Stable\nname=Stable " + std::to_string(i) + "\n");
            m_drive.WriteFile(folder + "/keep.txt", "k");
        }
        for (int i = 0; i < kChurning; ++i)
            m_drive.WriteFile(Churning(i) + "/app.brw",
                              "[info]\ncategory=Churn\nname=Churn " + std::to_string(i) + "\n");
        m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=Churn\n");
        m_churn = std::thread([this] { Churn(); });
    }

    void TearDown() override
    {
        m_bStop = true;
        if (m_churn.joinable())
            m_churn.join();
        MainWindow::TearDown();
    }

    static std::string Churning(int i) { return "churn/c" + std::to_string(i); }

    void Churn()
    {
        const std::string spare = m_drive.Path("spare");
        for (unsigned n = 0; !m_bStop; ++n) {
            const std::string folder = m_drive.Path(Churning(static_cast<int>(n % kChurning)));
            const std::string stable = m_drive.Path("stable/s0/tmp" + std::to_string(n % 50));
            switch (n % 4) {
            case 0: // the folder goes, a file takes its name, then the folder comes back
                ::rename(folder.c_str(), spare.c_str());
                ::close(::creat(folder.c_str(), 0644));
                ::unlink(folder.c_str());
                ::rename(spare.c_str(), folder.c_str());
                break;
            case 1: // a link out of the drive stands in for the folder for a moment
                ::rename(folder.c_str(), spare.c_str());
                (void)!::symlink("/", folder.c_str()); // churn: a failure only skips a step
                ::unlink(folder.c_str());
                ::rename(spare.c_str(), folder.c_str());
                break;
            case 2:
                ::close(::creat(stable.c_str(), 0644));
                break;
            default:
                ::unlink(stable.c_str());
                break;
            }
        }
    }

    CTempTree m_drive;
    std::atomic<bool> m_bStop{false};
    std::thread m_churn;
};

TEST_F(ChurningDriveTest, ScansAndListingsEndWithTheStableApplications)
{
    Start(m_drive.Root());
    for (int scan = 0; scan < 5; ++scan) {
        if (scan > 0)
            m_dlg->StartScan(m_drive.Root());
        ASSERT_TRUE(Done(120000)) << "scan " << scan << " never ended";
        int stable = 0;
        int churning = 0;
        for (const AppKey& app : ListedApps()) {
            if (app.first == "Stable")
                ++stable;
            else if (app.first == "Churn")
                ++churning;
            else
                ADD_FAILURE() << "unexpected [" << app.first << "] " << app.second;
        }
        EXPECT_EQ(stable, kStable);
        EXPECT_LE(churning, kChurning);
    }
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(Select("Stable 0"));
        ASSERT_TRUE(Done(120000));
        EXPECT_GE(m_dlg->ApplicationView().FileListModel().rowCount(), 1) << "keep.txt stays";
        ASSERT_TRUE(Select("Stable 1"));
        ASSERT_TRUE(Done(120000));
    }
}

} // namespace
