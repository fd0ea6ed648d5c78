#pragma once

// Timing and waiting shared by the widget benchmarks.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <vector>

namespace Bench {

// CPU time of the calling thread: the UI thread's own share of a measurement.
inline double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

inline double WallMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

struct CStats {
    double median = 0;
    double min = 0;
    double max = 0;
};

inline CStats Summarise(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

// Runs the event loop, blocking between events, until done() holds; false after boundMs.
// The heartbeat timer bounds each wait, so a missed wake-up cannot hang the benchmark.
inline bool WaitUntil(const std::function<bool()>& done, int boundMs = 600000)
{
    QTimer heartbeat;
    heartbeat.start(50);
    const QDeadlineTimer deadline(boundMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace Bench
