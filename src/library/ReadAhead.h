// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <variant>

// Makes items 0..count-1 in order on a thread of its own, a few ahead of the one who takes
// them, so that making the next overlaps with using the last. What make throws is thrown
// again by the Take that would have returned that item. Leaving the scope stops making and
// waits for the item in hand.
template <typename T>
class CReadAhead {
public:
    CReadAhead(std::size_t count, std::function<T(std::size_t)> make)
        : m_make(std::move(make))
        , m_nCount(count)
        , m_thread([this] { Run(); })
    {}
    ~CReadAhead()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_bStopped = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    CReadAhead(const CReadAhead&) = delete;
    CReadAhead& operator=(const CReadAhead&) = delete;

    // The next item; call it at most count times.
    T Take()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty(); });
        Made made = std::move(m_ready.front());
        m_ready.pop_front();
        lock.unlock();
        m_changed.notify_all();
        if (std::holds_alternative<std::exception_ptr>(made))
            std::rethrow_exception(std::get<std::exception_ptr>(made));
        return std::move(std::get<T>(made));
    }

private:
    using Made = std::variant<T, std::exception_ptr>;
    static constexpr std::size_t kAhead = 2;

    void Run()
    {
        for (std::size_t i = 0; i < m_nCount; ++i) {
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_bStopped || m_ready.size() < kAhead; });
                if (m_bStopped)
                    return;
            }
            Made made = MakeOne(i);
            const bool bFailed = std::holds_alternative<std::exception_ptr>(made);
            {
                const std::lock_guard lock(m_mutex);
                m_ready.push_back(std::move(made));
            }
            m_changed.notify_all();
            if (bFailed)
                return;
        }
    }

    Made MakeOne(std::size_t i)
    {
        try {
            return Made(std::in_place_index<0>, m_make(i));
        } catch (...) {
            return Made(std::in_place_index<1>, std::current_exception());
        }
    }

    const std::function<T(std::size_t)> m_make;
    const std::size_t m_nCount;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Made> m_ready;
    bool m_bStopped = false;
    std::thread m_thread; // last: it starts once the rest is made
};
