// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Timing and waiting shared by the widget benchmarks.

#include "WaitUntil.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
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

// Longer than any measurement; the heartbeat rarely wakes the UI thread, whose time is measured.
inline constexpr int kWaitBoundMs = 600000;
inline constexpr int kWaitHeartbeatMs = 50;

// The deepest folder holding both paths: a listing reads through a volume, which must hold
// the folder listed and its descriptor alike.
inline std::string CommonFolder(const std::string& a, const std::string& b)
{
    std::string common = a;
    while (common.size() > 1 && !(b.compare(0, common.size(), common) == 0 &&
                                  (b.size() == common.size() || b[common.size()] == '/'))) {
        const std::size_t slash = common.rfind('/');
        common.resize(slash == 0 || slash == std::string::npos ? 1 : slash);
    }
    return common;
}

} // namespace Bench
