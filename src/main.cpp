// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CatalogApp.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <string_view>

namespace {

// Qt aborts when it finds no display to connect to. Without any way to one, the program says
// so and ends instead.
bool MayHaveDisplay(int argc, char** argv)
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM"})
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "-platform" || argument == "--platform")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    // --help, --version and the library's commands must answer where there is no display
    // (over ssh, in CI), and a QApplication needs one: read them first with a QCoreApplication.
    {
        QCoreApplication core(argc, argv);
        // With no display, Qt's GUI options are of no use either: the reading is the last.
        const bool bDisplay = MayHaveDisplay(argc, argv);
        if (const auto exitCode = CCatalogApp::ParseCommandLine(!bDisplay, argc, argv))
            return *exitCode;
        if (!bDisplay) {
            std::fputs("quarrow: no display to open the window on (DISPLAY and "
                       "WAYLAND_DISPLAY are not set)\n",
                       stderr);
            return 1;
        }
    }
    QApplication application(argc, argv);
    if (const auto exitCode = CCatalogApp::ParseCommandLine(true))
        return *exitCode;
    CCatalogApp().InitInstance(CCatalogApp::StartPath(argc, argv),
                               CCatalogApp::WantsLibrary(argc, argv));
    return 0;
}
