// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTestSupport.h"
#include "ImageTools.h"
#include "TempTree.h"

#include "desktop/Prompt.h"
#include "platform/DiscView.h"
#include "platform/ExtractCache.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// A program on a disc image, started through the window, finds the rest of the disc.
class DiscViewStart : public testing::Test {
protected:
    void SetUp() override
    {
        if (::access("/dev/fuse", F_OK) != 0 && !std::getenv("QUARROW_REQUIRE_FUSE"))
            GTEST_SKIP() << "no /dev/fuse";
        ASSERT_TRUE(ImageTools::HaveTool("xorriso"));
        CPrompt::Reset();
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(m_runtime.Root()));
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(m_runtime.Path("cache")));
        qputenv("QUARROW_DISC_VIEW", QUARROW_DISC_VIEW_SERVER);
        qputenv("QUARROW_TEST_OUT", QByteArray::fromStdString(m_out));
        m_tree.WriteFile("AUTORUN.INF", "[AutoRun]\nLabel=Games Disc\n");
        m_tree.WriteFile("APP/app.brw", "[info]\ncategory=Tools\nname=Tool\n"
                                        "[showfiles]\nfile1=*.sh\n");
        m_tree.WriteFile("APP/run.sh",
                         "#!/bin/sh\nsleep \"${DELAY:-0}\"\n"
                         "cat ../DATA/words.txt ../.windows-label > \"$QUARROW_TEST_OUT\"\n");
        m_tree.SetMode("APP/run.sh", 0755);
        m_tree.WriteFile("DATA/words.txt", "from the data folder\n");
        ASSERT_TRUE(ImageTools::RunQuietly("xorriso -as mkisofs -R -J -o " +
                                           ImageTools::Quote(m_image) + " " +
                                           ImageTools::Quote(m_tree.Root())));
    }
    void TearDown() override
    {
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "QUARROW_DISC_VIEW",
                                 "QUARROW_TEST_OUT", "DELAY"})
            qunsetenv(name);
        CPrompt::Reset();
    }

    // Starts run.sh in a fresh window on the image; the window is left open.
    void StartProgram(CMainWindow& window)
    {
        window.SetStartPath(m_image);
        window.show();
        ASSERT_TRUE(window.WaitForDone());
        ASSERT_TRUE(window.Select(QStringLiteral("Tools"), QStringLiteral("Tool")));
        ASSERT_TRUE(
            WaitUntil([&] { return window.ApplicationView().FileListModel().rowCount() == 1; }));
        window.FileList().setCurrentIndex(window.ApplicationView().FileListModel().index(0, 0));
        window.OnDblclkList();
        ASSERT_TRUE(WaitUntil([&] {
            return !window.IsCopying() && !window.Status(0).startsWith(QStringLiteral("Opening"));
        }));
    }
    std::string MountPoint() const { return m_runtime.Path("quarrow/discs/Games_Disc"); }
    bool Wrote(const std::string& text) const
    {
        return WaitUntil([&] {
            return ::access(m_out.c_str(), F_OK) == 0 && ImageTools::ReadBytes(m_out) == text;
        });
    }

    CTempTree m_runtime;
    CTempTree m_tree;
    CTempTree m_files;
    std::string m_image = m_files.Path("games.iso");
    std::string m_out = m_files.Path("out.txt");
};

TEST_F(DiscViewStart, TheProgramReadsTheDiscAndTheLabelAndOutlivesTheWindowThenTheViewGoes)
{
    qputenv("DELAY", "2");
    {
        CMainWindow window;
        StartProgram(window);
        EXPECT_EQ(window.Status(0), QStringLiteral("Done."));
        EXPECT_TRUE(DiscView::IsMounted(MountPoint()));
        EXPECT_EQ(window.ExtractCache(), nullptr);
        window.accept();
    }
    EXPECT_TRUE(Wrote("from the data folder\nGames Disc\n"));
    // The program has left the view and no window holds it.
    EXPECT_TRUE(WaitUntil([&] { return ::access(MountPoint().c_str(), F_OK) != 0; }, 10000));
}

TEST_F(DiscViewStart, AKilledServersViewIsClearedAndASecondWindowReusesALiveOne)
{
    CMainWindow first;
    StartProgram(first);
    ASSERT_TRUE(Wrote("from the data folder\nGames Disc\n"));
    const std::optional<DiscView::Info> info = DiscView::ReadInfo(MountPoint() + ".info");
    ASSERT_TRUE(info);

    CMainWindow second;
    ::unlink(m_out.c_str());
    StartProgram(second);
    ASSERT_TRUE(Wrote("from the data folder\nGames Disc\n"));
    EXPECT_EQ(DiscView::ReadInfo(MountPoint() + ".info")->nPid, info->nPid);
    first.accept();
    second.accept();

    ::kill(info->nPid, SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return !DiscView::IsServing(info->nPid); }));
    ASSERT_TRUE(DiscView::IsMounted(MountPoint()));
    CMainWindow third;
    ::unlink(m_out.c_str());
    StartProgram(third);
    EXPECT_TRUE(Wrote("from the data folder\nGames Disc\n"));
    EXPECT_NE(DiscView::ReadInfo(MountPoint() + ".info")->nPid, info->nPid);
    struct stat status {};
    EXPECT_EQ(::stat((MountPoint() + "/DATA").c_str(), &status), 0);
    third.accept();
    EXPECT_TRUE(WaitUntil([&] { return ::access(MountPoint().c_str(), F_OK) != 0; }, 10000));
}

TEST_F(DiscViewStart, WithoutAServerTheFileIsCopiedOutAndTheStatusSaysWhy)
{
    qputenv("QUARROW_DISC_VIEW", "/bin/false");
    CMainWindow window;
    StartProgram(window);
    ASSERT_TRUE(
        WaitUntil([&] { return window.Status(0).startsWith(QStringLiteral("Quarrow cannot")); }));
    EXPECT_EQ(window.Status(0), QStringLiteral("Quarrow cannot show the disc image in place (its "
                                               "helper program did not answer); its files are "
                                               "copied out instead."));
    ASSERT_NE(window.ExtractCache(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ::access(m_out.c_str(), F_OK) == 0; }));
    // The copy holds the application's folder alone.
    EXPECT_EQ(ImageTools::ReadBytes(m_out).find("data folder"), std::string::npos);
}

} // namespace
