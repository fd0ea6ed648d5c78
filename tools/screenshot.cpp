// Saves a picture of the real main window, started in the current folder as the program
// starts, once its scan is done: quarrow_screenshot OUT.png [APPLICATION-NAME]
#include "app/CatalogDlg.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPixmap>
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

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: quarrow_screenshot OUT.png [APPLICATION-NAME]\n");
        return 2;
    }
    CCatalogDlg dlg;
    dlg.show();
    QDeadlineTimer deadline(30000);
    while (dlg.StatusBar().GetText(0) != QLatin1String("Done.") && !deadline.hasExpired())
        Settle(20);
    if (argc > 2) {
        const QModelIndex app =
            FindApplication(*dlg.CatalogTree().model(), {}, QString::fromLocal8Bit(argv[2]));
        if (app.isValid()) {
            dlg.CatalogTree().setCurrentIndex(app);
            dlg.CatalogTree().setFocus();
        }
    }
    Settle(500);
    const bool saved = dlg.grab().save(QString::fromLocal8Bit(argv[1]));
    dlg.close();
    return saved ? 0 : 1;
}
