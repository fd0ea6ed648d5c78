// SPDX-License-Identifier: GPL-3.0-or-later
// Faults that only a long session showed.
#include "GuiTestSupport.h"
#include "TempTree.h"
#include "IconProgram.h"

#include "app/CatalogDlg.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SoakFault, SwitchingModesKeepsOneIconPerProgram)
{
    CTempTree drive;
    drive.WriteFile("autorun.inf", "[autorun]\nlabel=Icons\n");
    drive.WriteFile("app/app.brw", "[info]\ncategory=Tools\nname=Tool\n");
    const std::string program = IconProgram::WithIcon();
    for (int i = 0; i < 5; ++i)
        drive.WriteFile("app/prog" + std::to_string(i) + ".exe", program);
    drive.WriteFile("app/readme.txt", "r");
    CMainWindow dlg(drive.Root());
    dlg.show();
    const auto done = [&] {
        return dlg.WaitForListing();
    };
    ASSERT_TRUE(done());
    QTreeView& tree = dlg.CatalogTree();
    const QModelIndex category = tree.model()->index(0, 0, tree.model()->index(0, 0));
    tree.selectionModel()->setCurrentIndex(tree.model()->index(0, 0, category),
                                           QItemSelectionModel::ClearAndSelect);
    ASSERT_TRUE(done());
    ASSERT_TRUE(WaitUntil([&] { return !dlg.ApplicationView().IsReadingIcons(); }));
    EXPECT_EQ(dlg.ApplicationView().ProgramIconCount(), 5u);

    // Each press lists the same programs again: their icons come from the cache, which
    // stops growing once every program has been read.
    for (int press = 0; press < 8; ++press) {
        const int mode = press % 2;
        QTest::mouseClick(ToolButton(dlg, mode ? "showAppFiles" : "showAllFiles"), Qt::LeftButton);
        ASSERT_TRUE(done());
        ASSERT_TRUE(WaitUntil([&] { return !dlg.ApplicationView().IsReadingIcons(); }));
        EXPECT_EQ(dlg.ApplicationView().ProgramIconCount(), 5u) << press;
    }
}

} // namespace
