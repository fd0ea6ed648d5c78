// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTestSupport.h"
#include "ImageTools.h"
#include "TempTree.h"

#include "desktop/Prompt.h"
#include "platform/DiscImage.h"
#include "platform/DiscView.h"
#include "platform/ExtractCache.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
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

// Each entry of a listing, by name, with the inode it gives.
std::map<std::string, ino_t> ListingOf(const std::string& folder)
{
    std::map<std::string, ino_t> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            names[entry->d_name] = entry->d_ino;
        ::closedir(dir);
    }
    return names;
}

// The view shows the image's tree as the window reads it: names over several pages of a
// listing, sizes, execute bits and contents; inodes agree between listing and look-up;
// nothing can be written.
TEST_F(DiscViewStart, TheViewShowsTheTreeOfTheImageAndRefusesWrites)
{
    for (int i = 0; i < 400; ++i)
        m_tree.WriteFile("MANY/a file with a rather long name " + std::to_string(i) + ".txt",
                         std::string(static_cast<std::size_t>(i), 'x'));
    m_tree.WriteFile("MANY/deep/er/leaf.txt", "leaf\n");
    ASSERT_TRUE(ImageTools::RunQuietly("xorriso -as mkisofs -R -J -o " +
                                       ImageTools::Quote(m_image) + " " +
                                       ImageTools::Quote(m_tree.Root())));
    const std::shared_ptr<const CVolume> volume = DiscImage::Open(m_image);
    ASSERT_TRUE(volume);
    std::string error;
    std::unique_ptr<DiscView::CLease> lease =
        DiscView::Acquire(*volume, QUARROW_DISC_VIEW_SERVER, error);
    ASSERT_TRUE(lease) << error;
    const std::string many = lease->MountPoint() + "/MANY";

    for (int pass = 0; pass < 2; ++pass) { // the second from the kernel's cache
        const std::map<std::string, ino_t> names = ListingOf(many);
        EXPECT_EQ(names.size(), 403U); // ".", ".." and "deep"
        for (int i : {0, 199, 399}) {
            const std::string name = "a file with a rather long name " + std::to_string(i) + ".txt";
            ASSERT_EQ(names.count(name), 1U) << name;
            struct stat status {};
            ASSERT_EQ(::stat((many + "/" + name).c_str(), &status), 0);
            EXPECT_EQ(status.st_size, i);
            EXPECT_EQ(status.st_ino, names.at(name));
            EXPECT_EQ(status.st_mode, S_IFREG | 0444);
        }
        struct stat deep {};
        ASSERT_EQ(::stat((many + "/deep").c_str(), &deep), 0);
        EXPECT_TRUE(S_ISDIR(deep.st_mode));
        EXPECT_EQ(deep.st_ino, names.at("deep"));
    }
    EXPECT_EQ(ImageTools::ReadBytes(many + "/deep/er/leaf.txt"), "leaf\n");
    struct stat status {};
    ASSERT_EQ(::stat((lease->MountPoint() + "/APP/run.sh").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, S_IFREG | 0555);
    EXPECT_EQ(ImageTools::ReadBytes(lease->MountPoint() + "/.windows-label"), "Games Disc\n");
    EXPECT_EQ(ListingOf(lease->MountPoint()).count(".windows-serial"), 1U);

    errno = 0;
    EXPECT_EQ(::stat((many + "/missing").c_str(), &status), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(::open((many + "/deep/er/leaf.txt").c_str(), O_WRONLY), -1);
    EXPECT_EQ(::mkdir((many + "/new").c_str(), 0700), -1);
    EXPECT_EQ(errno, EROFS);
    const std::string mountPoint = lease->MountPoint();
    lease.reset();
    EXPECT_TRUE(WaitUntil([&] { return ::access(mountPoint.c_str(), F_OK) != 0; }, 10000));
}

} // namespace
