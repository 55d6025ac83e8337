// Watchdog: bounds a benchmark program in time. When `limit` passes before the watchdog is
// destroyed, `onExpiry` runs and the process ends with exit code 1.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace norvane::bench {

class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::function<void()> onExpiry)
        : m_onExpiry(std::move(onExpiry))
        , m_thread([this, limit] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                m_onExpiry();
                std::_Exit(1);
            }
        }) {}

    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::function<void()> m_onExpiry;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

} // namespace norvane::bench
