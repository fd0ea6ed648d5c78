// SPDX-License-Identifier: GPL-3.0-or-later
// Types queries into the real library window's search field (offscreen), one key every
// 80 ms as a person types, over a store already filled, and tells how late the UI thread's
// event loop ran meanwhile.
//
//   gui_library STORE QUERIES-FILE [QUERIES]
//
// QUERIES (default 20) lines of QUERIES-FILE are typed, each into a cleared field. The line
// the script reads:
//   typing keys 160 p99-ms 3.1 max-ms 9.0 own-p99-ms 1.2 own-max-ms 4.0 results 500
// own-: the same from the UI thread's CPU time in each interval (its own work).

#include "BenchSupport.h"
#include "Ticker.h"
#include "dialogs/LibraryDlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// As the keyboard delivers a key: pressed, then released.
void Type(QWidget& widget, QChar c)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(&widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(&widget, &release);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: gui_library STORE QUERIES-FILE [QUERIES]\n");
        return 2;
    }
    const int count = argc > 3 ? std::atoi(argv[3]) : 20;
    std::vector<QString> queries;
    std::ifstream in(argv[2]);
    for (std::string line; static_cast<int>(queries.size()) < count && std::getline(in, line);)
        queries.push_back(QString::fromStdString(line));

    CLibraryDlg library(QString::fromLocal8Bit(argv[1]).toStdString());
    library.show();
    auto* field = library.findChild<QLineEdit*>(QStringLiteral("search"));
    auto* results = library.findChild<QTreeWidget*>(QStringLiteral("results"));
    if (!field || !results) {
        std::fprintf(stderr, "gui_library: no search field\n");
        return 1;
    }
    Wait(500); // the volumes' list, read once at start

    Bench::CTicker ticker;
    ticker.Start();
    int keys = 0;
    for (const QString& query : queries) {
        field->clear();
        for (const QChar c : query) {
            Type(*field, c);
            ++keys;
            Wait(80);
        }
        Wait(300); // the last key's search and its rows
    }
    ticker.Stop();
    const std::vector<double> late = ticker.Lateness(0);
    const std::vector<double> own = ticker.OwnLateness(0);
    std::printf("typing keys %d p99-ms %.1f max-ms %.1f own-p99-ms %.1f own-max-ms %.1f "
                "results %d\n",
                keys, Bench::Percentile(late, 0.99), Bench::Percentile(late, 1.0),
                Bench::Percentile(own, 0.99), Bench::Percentile(own, 1.0),
                results->topLevelItemCount());
    return 0;
}
