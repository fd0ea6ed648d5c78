// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

// Runs the event loop, blocking between events, until done() holds or boundMs passes;
// returns done(). The heartbeat wakes the loop every heartbeatMs, so that a condition
// another thread or process changes without an event is still seen. It never sleeps on the
// UI thread, so a benchmark that waits here measures the window, not the wait.
template <class Done>
bool WaitUntil(Done done, int boundMs = 20000, int heartbeatMs = 1)
{
    QTimer heartbeat;
    heartbeat.start(heartbeatMs);
    const QDeadlineTimer deadline(boundMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
