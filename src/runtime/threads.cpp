#include "runtime/threads.h"

#include <system_error>

#include "platform/system.h"

namespace norvane::thread {

CSimpleThread::~CSimpleThread() {
    // The owner stops the thread before destruction; a thread still known here is let go rather
    // than terminating the process.
    if (m_thread.joinable()) {
        m_thread.detach();
    }
}

void CSimpleThread::Entry(CSimpleThread* self) {
    self->m_threadId.store(platform::CurrentThreadId());
    self->RunGuarded([self] { self->Run(); });
    self->m_exitCode.store(kThreadExitCode);
}

bool CSimpleThread::Start(const std::string& name) {
    if (m_thread.joinable()) {
        return false;
    }
    m_name = name;
    m_exitCode.store(-1);
    try {
        m_thread = std::thread(&CSimpleThread::Entry, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CSimpleThread::JoinThread() {
    if (!m_thread.joinable()) {
        return;
    }
    if (m_thread.get_id() == std::this_thread::get_id()) {
        m_thread.detach();
    } else {
        m_thread.join();
    }
}

bool CTickerThread::CreateStopEvent() {
    auto event = std::make_unique<CAutoEvent>();
    if (event->Handle() == nullptr) {
        return false;
    }
    m_stopEvent = std::move(event);
    return true;
}

void CTickerThread::ResetStopEvent() {
    if (m_stopEvent) {
        m_stopEvent->Reset();
    }
}

bool CTickerThread::StopTicker() {
    if (!m_stopEvent) {
        return false;
    }
    m_stopEvent->Set();
    JoinThread();
    return true;
}

void CTickerThread::Run() {
    for (;;) {
        if (m_stopEvent && m_stopEvent->Wait(static_cast<int>(m_interval.load()))) {
            return;
        }
        if (!m_stopEvent) {
            return; // without a stop event the loop could never be ended
        }
        RunGuarded([this] { OnTick(); });
    }
}

CWorkItemThread::~CWorkItemThread() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_queue.clear();
}

bool CWorkItemThread::StartWorker(const std::string& name) {
    m_running.store(true);
    if (!Start(name)) {
        m_running.store(IsStarted());
        return false;
    }
    return true;
}

bool CWorkItemThread::Post(std::unique_ptr<IWorkItem> item) {
    if (!m_running.load() || !item) {
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queue.push_back(std::move(item));
    }
    m_wake.notify_one();
    return true;
}

void CWorkItemThread::StopWorker() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_running.store(false);
    }
    m_wake.notify_all();
    JoinThread();
}

void CWorkItemThread::Run() {
    while (m_running.load()) {
        std::unique_ptr<IWorkItem> item;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_wake.wait(guard, [this] { return !m_queue.empty() || !m_running.load(); });
            if (!m_running.load()) {
                break;
            }
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        RunGuarded([this, &item] { Process(*item); });
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_queue.clear(); // dropped unprocessed, in queue order
}

} // namespace norvane::thread
