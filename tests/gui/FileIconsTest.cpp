// SPDX-License-Identifier: GPL-3.0-or-later
#include "BlockingVolume.h"
#include "GuiTestSupport.h"
#include "IconProgram.h"
#include "TempTree.h"

#include "app/CatalogDlg.h"
#include "catalogue/FileListJob.h"
#include "platform/MountedVolume.h"

#include <QIcon>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

namespace {

class FileIcons : public testing::Test {
protected:
    void SetUp() override
    {
        m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=Icons\n");
        m_drive.WriteFile("app/app.brw", "[info]\ncategory=Tools\nname=Tool\n");
        const std::string program = IconProgram::WithIcon();
        for (int i = 0; i < 3; ++i)
            m_drive.WriteFile("app/prog" + std::to_string(i) + ".exe", program);
        m_drive.WriteFile("app/bare.exe", "not a program");
        m_drive.WriteFile("app/readme.txt", "r");
        m_drive.WriteFile("other/other.brw", "[info]\ncategory=Tools\nname=Other\n");
        m_drive.WriteFile("other/only.txt", "");
        m_dlg = std::make_unique<CMainWindow>(m_drive.Root());
        m_dlg->show();
        ASSERT_TRUE(Done());
    }

    static CFileRow Row(const std::string& extension)
    {
        CFileRow row;
        row.strExtension = extension;
        return row;
    }
    static QImage Fixed(const char* name)
    {
        return Picture(QIcon(QStringLiteral(":/filetypes/") + QLatin1String(name)));
    }

    bool Done()
    {
        return m_dlg->WaitForListing() && WaitUntil([&] { return !View().IsReadingIcons(); });
    }
    void Select(const char* name)
    {
        m_dlg->CatalogTree().setCurrentIndex(
            m_dlg->CatalogModel().FindApplication(QString::fromLatin1(name)));
    }
    CApplicationView& View() { return m_dlg->ApplicationView(); }
    // The picture of each row, by name.
    std::map<std::string, QImage> Pictures()
    {
        std::map<std::string, QImage> pictures;
        const CFileListModel& model = View().FileListModel();
        for (int r = 0; r < model.rowCount(); ++r)
            pictures[model.RowAt(r)->strName.toStdString()] = Picture(model.RowAt(r)->icon);
        return pictures;
    }

    CTempTree m_drive;
    std::unique_ptr<CMainWindow> m_dlg;
};

TEST_F(FileIcons, EachTypeIsLookedUpOnceAndUnknownOnesFallBack)
{
    EXPECT_EQ(Picture(View().GetFileIcon(Row(".com"))), Fixed("program.svg"));
    EXPECT_EQ(Picture(View().GetFileIcon(Row(".exe"))), Fixed("program.svg"))
        << "a program before its own icon is read";
    EXPECT_EQ(Picture(View().GetFileIcon(Row(".dll"))), Fixed("library.svg"));
    EXPECT_EQ(Picture(View().GetFileIcon(Row(".scr"))), Fixed("screensaver.svg"));
    EXPECT_EQ(Picture(View().GetFileIcon(Row(".qqz"))), Fixed("unknown.svg"));
    EXPECT_EQ(Picture(View().GetFileIcon(Row(""))), Fixed("unknown.svg"));
    const std::size_t asked = View().FileTypeIcons().LookUps();
    for (const char* extension : {".qqz", "", ".txt", ".com", ".txt", ".qqz"})
        View().GetFileIcon(Row(extension));
    EXPECT_EQ(View().FileTypeIcons().LookUps(), asked + 1) << "only .txt was new";
}

TEST_F(FileIcons, ProgramsShowTheirOwnIconsOnceReadAndKeepThemAfterRemoval)
{
    Select("Tool");
    ASSERT_TRUE(Done());
    std::map<std::string, QImage> pictures = Pictures();
    ASSERT_EQ(pictures.size(), 5u);
    EXPECT_EQ(pictures["bare"], Fixed("program.svg")) << "no icon in it";
    EXPECT_NE(pictures["prog0"], Fixed("program.svg"));
    EXPECT_EQ(pictures["prog0"], pictures["prog2"]);
    EXPECT_FALSE(pictures["readme"].isNull());
    EXPECT_EQ(View().ProgramIconCount(), 3u);

    View().RemoveExeIcons();
    EXPECT_EQ(View().ProgramIconCount(), 0u);
    EXPECT_EQ(Pictures(), pictures) << "the rows shown keep theirs";
}

TEST_F(FileIcons, ARevisitedApplicationReadsNoProgramAgain)
{
    auto volume = std::make_shared<CBlockingVolume>(CMountedVolume::Create(m_drive.Root()),
                                                    std::chrono::seconds(30));
    m_dlg->StartScan(volume);
    ASSERT_TRUE(WaitUntil([&] { return m_dlg->CatalogTree().isEnabled(); }));
    const auto opened = [&](const char* name) {
        const int before = volume->FilesOpened();
        Select(name);
        EXPECT_TRUE(Done()) << name;
        return volume->FilesOpened() - before;
    };
    const int first = opened("Tool");
    opened("Other");
    for (int visit = 0; visit < 2; ++visit) {
        EXPECT_EQ(first - opened("Tool"), 4) << "the four programs, read on the first visit only";
        EXPECT_NE(Pictures()["prog1"], Fixed("program.svg"));
        opened("Other");
    }
}

} // namespace
