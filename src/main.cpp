// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CatalogApp.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char* argv[])
{
    // --help and --version must answer where there is no display (over ssh, in CI), and a
    // QApplication needs one: read them first with a QCoreApplication.
    {
        QCoreApplication core(argc, argv);
        if (const auto exitCode = CCatalogApp::ParseCommandLine(false))
            return *exitCode;
    }
    QApplication application(argc, argv);
    if (const auto exitCode = CCatalogApp::ParseCommandLine(true))
        return *exitCode;
    theApp.InitInstance(CCatalogApp::StartPath(argc, argv));
    return 0;
}
