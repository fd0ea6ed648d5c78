// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempTree.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

// Started from a checkout in a folder closed to others (a 0700 home or mktemp -d), the
// unprivileged child must still be able to go back to its current folder, as tests that
// switch folders do.
TEST(RunUnprivileged, ChildStandsInAFolderItMayEnter)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root drops to another user";
    CTempTree tree;
    const std::string closed = tree.MakeFolder("closed/checkout");
    tree.SetMode("closed", 0700);
    const fs::path previous = fs::current_path();
    fs::current_path(closed);
    const bool ok = RunUnprivileged([] {
        std::error_code error;
        fs::current_path(fs::current_path(error), error);
        return !error && ::geteuid() != 0;
    });
    fs::current_path(previous);
    EXPECT_TRUE(ok);
}
