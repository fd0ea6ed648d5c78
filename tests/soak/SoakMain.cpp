// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <gtest/gtest.h>

namespace {

QtMessageHandler g_previousHandler = nullptr;

// The drive list's popup opens once a scan; the offscreen platform's note about it would
// bury the soak's own lines.
void DropPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (text.startsWith(QLatin1String("This plugin does not support")))
        return;
    g_previousHandler(type, context, text);
}

} // namespace

int main(int argc, char* argv[])
{
    // The soak runs the real window, but never needs a real display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_previousHandler = qInstallMessageHandler(DropPlatformNotes);
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
