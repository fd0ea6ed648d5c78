// SPDX-License-Identifier: GPL-3.0-or-later
#include "Unprivileged.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string g_home;

// Root reads every file, so the locked parts of the drive would prove nothing: the tests run
// as "nobody", in a home of their own for what the desktop layer writes.
void DropRootIntoHome()
{
    if (::geteuid() != 0)
        return;
    constexpr uid_t kNobody = 65534;
    char home[] = "/tmp/quarrow-hostile-home-XXXXXX";
    if (!::mkdtemp(home) || ::chown(home, kNobody, kNobody) != 0)
        return;
    if (!DropRoot(home)) {
        std::fprintf(stderr, "cannot drop root; locked files will read as readable\n");
        return;
    }
    g_home = home;
    ::setenv("HOME", home, 1);
    ::setenv("XDG_DATA_HOME", (std::string(home) + "/.local/share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (std::string(home) + "/.cache").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (std::string(home) + "/.config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", home, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    DropRootIntoHome();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (!g_home.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(g_home, ignored);
    }
    return result;
}
