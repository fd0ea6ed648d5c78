// SPDX-License-Identifier: GPL-3.0-or-later
// Saves a picture of the real main window as the screen shows it, started in the current
// folder as the program starts, once its scan is done and, when named, an application is
// selected and its files are listed: quarrow_screenshot OUT.png [APPLICATION-NAME]
#include "MainWindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>

namespace {

QModelIndex FindApplication(const QAbstractItemModel& model, const QModelIndex& parent,
                            const QString& name)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (index.data().toString() == name)
            return index;
        if (const QModelIndex found = FindApplication(model, index, name); found.isValid())
            return found;
    }
    return {};
}

void Settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

bool SettleUntilDone(CMainWindow& dlg, bool listed)
{
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        if (!dlg.IsWorkerRunning() && dlg.StatusBar().GetText(0) == QLatin1String("Done.") &&
            (!listed || dlg.FileList().model()->rowCount() > 0))
            return true;
        Settle(20);
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: quarrow_screenshot OUT.png [APPLICATION-NAME [DRIVE-OR-IMAGE]]\n");
        return 2;
    }
    CMainWindow dlg;
    if (argc > 3)
        dlg.SetStartPath(argv[3]);
    dlg.show();
    if (!SettleUntilDone(dlg, false)) {
        std::fprintf(stderr, "the scan did not end\n");
        return 1;
    }
    if (argc > 2) {
        const QString name = QString::fromLocal8Bit(argv[2]);
        const QModelIndex app = FindApplication(*dlg.CatalogTree().model(), {}, name);
        if (!app.isValid()) {
            std::fprintf(stderr, "no application named %s\n", argv[2]);
            return 1;
        }
        // As a person would: open the category, then pick the application.
        dlg.CatalogTree().setFocus();
        dlg.CatalogTree().setCurrentIndex(app.parent());
        Settle(100);
        dlg.CatalogTree().setCurrentIndex(app);
        if (!SettleUntilDone(dlg, true)) {
            std::fprintf(stderr, "no files were listed\n");
            return 1;
        }
    }
    Settle(500);
    const QPixmap shot = dlg.screen()->grabWindow(dlg.winId());
    const bool saved = shot.save(QString::fromLocal8Bit(argv[1]));
    dlg.close();
    return saved ? 0 : 1;
}
