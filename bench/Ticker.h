// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BenchSupport.h"

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

// How late the UI thread's event loop runs: a 10 ms precise timer records when each tick
// fires, by the wall clock and by the UI thread's own CPU time.
namespace Bench {

constexpr int kTickMs = 10;

inline double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

// Records when each tick of a 10 ms precise timer fires.
class CTicker {
public:
    CTicker()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTickMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_arrTicks.push_back(WallMs());
            m_arrCpu.push_back(ThreadCpuMs());
        });
    }

    void Start()
    {
        m_arrTicks.clear();
        m_arrCpu.clear();
        m_timer.start();
    }
    void Stop() { m_timer.stop(); }
    std::size_t Count() const noexcept { return m_arrTicks.size(); }
    double At(std::size_t i) const { return m_arrTicks.at(i); }

    // Each interval's excess over the timer's own, from the tick at index from on.
    std::vector<double> Lateness(std::size_t from) const { return Excess(m_arrTicks, from); }
    // The same from the UI thread's CPU time in each interval: the lateness its own work would
    // cause on a core of its own, whatever else runs on the machine.
    std::vector<double> OwnLateness(std::size_t from) const { return Excess(m_arrCpu, from); }

private:
    static std::vector<double> Excess(const std::vector<double>& at, std::size_t from)
    {
        std::vector<double> late;
        for (std::size_t i = from + 1; i < at.size(); ++i)
            late.push_back(std::max(0.0, at[i] - at[i - 1] - kTickMs));
        return late;
    }

    QTimer m_timer;
    std::vector<double> m_arrTicks;
    std::vector<double> m_arrCpu;
};

} // namespace Bench
