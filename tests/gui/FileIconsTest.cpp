// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTestSupport.h"
#include "TempTree.h"

#include "app/CatalogDlg.h"
#include "catalogue/FileListJob.h"
#include "view/FileRowView.h"

#include <QIcon>
#include <QImage>
#include <gtest/gtest.h>

namespace {

class FileIcons : public testing::Test {
protected:
    void SetUp() override
    {
        m_drive.WriteFile("autorun.inf", "[autorun]\nlabel=Icons\n");
        m_folder = std::make_unique<CCurrentFolder>(m_drive.Root());
        m_dlg = std::make_unique<CCatalogDlg>();
        m_dlg->show();
    }

    static CFileRow Row(const std::string& extension, const QString& iconName = {},
                        bool withImage = false)
    {
        auto view = std::make_shared<CFileRowView>();
        view->strType = QString::fromStdString(extension);
        view->strIconName = iconName;
        if (withImage) {
            view->imageExe = QImage(16, 16, QImage::Format_ARGB32);
            view->imageExe.fill(Qt::red);
        }
        CFileRow row;
        row.strExtension = extension;
        row.pExtra = std::move(view);
        return row;
    }

    void ExpectInStep() const
    {
        EXPECT_EQ(m_dlg->ApplicationView().IconExtensions().size(),
                  m_dlg->ApplicationView().ImageCount());
    }

    CTempTree m_drive;
    std::unique_ptr<CCurrentFolder> m_folder;
    std::unique_ptr<CCatalogDlg> m_dlg;
};

TEST_F(FileIcons, FixedEntriesAnswerWithoutALookUp)
{
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".com")), 1);
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".dll")), 2);
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".scr")), 3);
    EXPECT_EQ(m_dlg->ApplicationView().IconExtensions().size(), 4);
    ExpectInStep();
}

TEST_F(FileIcons, UnknownTypesAndIconlessProgramsLeaveNoTrace)
{
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".qqz")), 0);
    EXPECT_EQ(
        m_dlg->ApplicationView().GetFileIcon(Row(".qqz", QStringLiteral("no-such-icon-anywhere"))),
        0);
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".exe")), 1);
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row("")), 0);
    EXPECT_EQ(m_dlg->ApplicationView().IconExtensions().size(), 4);
    ExpectInStep();
}

TEST_F(FileIcons, ProgramsGetAnImageEachAndLeaveOnTheNextSelection)
{
    const QString textIcon = QStringLiteral("text-x-generic");
    if (QIcon::fromTheme(textIcon).isNull())
        GTEST_SKIP() << "no icon theme with " << textIcon.toStdString() << " here";

    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".exe", {}, true)), 4);
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".txt", textIcon)), 5);
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".exe", {}, true)), 6);
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".txt", textIcon)), 5)
        << "one look-up per type";
    ExpectInStep();

    m_dlg->ApplicationView().RemoveExeIcons();
    EXPECT_EQ(m_dlg->ApplicationView().IconExtensions(),
              (QStringList{"unknown", ".com", ".dll", ".scr", ".txt"}));
    ExpectInStep();
    EXPECT_EQ(m_dlg->ApplicationView().GetFileIcon(Row(".txt", textIcon)), 4)
        << "moved down with its image";

    m_dlg->ApplicationView().RemoveExeIcons();
    EXPECT_EQ(m_dlg->ApplicationView().IconExtensions().size(), 5) << "nothing more to drop";
}

} // namespace
