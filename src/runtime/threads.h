// Thread classes with a fixed shape for the driver's worker objects: a plain thread that runs one
// body, a ticker that calls a handler at a fixed period until told to stop, and a thread that
// carries out queued work items one after the other. The digital I/O object derives from both
// CWorkItemThread (output switching) and CTickerThread (input polling).
//
// Threads: Start, the stop calls and the destructor run on the owner's thread; Post on any thread;
// Run, OnTick and Process on the worker thread. Neither destructor stops a running thread: the
// owner stops it first.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/event.h"

namespace norvane::thread {

// Exit code of every thread started by these classes.
constexpr std::int32_t kThreadExitCode = 123;

class CSimpleThread {
public:
    CSimpleThread() = default;
    virtual ~CSimpleThread();
    CSimpleThread(const CSimpleThread&) = delete;
    CSimpleThread& operator=(const CSimpleThread&) = delete;

    // Start runs Run on a new thread labelled `name` (the label stays in the object). False when a
    // thread was already started (nothing changes) or the system could not create one.
    bool Start(const std::string& name);

    [[nodiscard]] const std::string& Name() const { return m_name; }

    [[nodiscard]] bool IsStarted() const { return m_thread.joinable(); }

    // ExitCode is kThreadExitCode once the body has returned, -1 before.
    [[nodiscard]] std::int32_t ExitCode() const { return m_exitCode.load(); }

    [[nodiscard]] std::uint32_t ThreadId() const { return m_threadId.load(); }

protected:
    // Run is the thread body.
    virtual void Run() = 0;

    // OnThreadException hears of an exception that escaped the thread's work (the body, one tick
    // or one item) with its text; the thread has stopped that work and goes on as after a normal
    // return. A thread of the driver must never end the host's process. It must not throw.
    virtual void OnThreadException(const char* /*what*/) noexcept {}

    // RunGuarded calls `work` and turns any exception it lets escape into OnThreadException.
    template <class Work>
    void RunGuarded(Work&& work) noexcept {
        try {
            work();
        } catch (const std::exception& error) {
            OnThreadException(error.what());
        } catch (...) {
            OnThreadException("an exception of unknown type");
        }
    }

    // JoinThread waits without limit for the thread to end and forgets it; called on the thread
    // itself it only lets it go (a thread cannot wait for itself).
    void JoinThread();

private:
    static void Entry(CSimpleThread* self);

    std::string m_name;
    std::thread m_thread;
    std::atomic<std::uint32_t> m_threadId{0};
    std::atomic<std::int32_t> m_exitCode{-1};
};

// CTickerThread calls OnTick every m_interval milliseconds (plus the duration of OnTick) until its
// stop event is set. The owner creates the stop event before the first Start.
class CTickerThread : public CSimpleThread {
public:
    static constexpr std::uint32_t kDefaultIntervalMs = 2000;

    // CreateStopEvent makes the auto-reset stop event; false when it cannot be created.
    bool CreateStopEvent();

    [[nodiscard]] bool HasStopEvent() const { return m_stopEvent != nullptr; }

    void ResetStopEvent();

    // StopTicker sets the stop event and waits for the thread. False when there is no stop event.
    bool StopTicker();

    void SetInterval(std::uint32_t milliseconds) { m_interval.store(milliseconds); }

    [[nodiscard]] std::uint32_t Interval() const { return m_interval.load(); }

protected:
    void Run() override;

    // OnTick is the periodic work, on the ticker thread.
    virtual void OnTick() = 0;

private:
    std::unique_ptr<CAutoEvent> m_stopEvent;
    std::atomic<std::uint32_t> m_interval{kDefaultIntervalMs};
};

// CWorkItemThread carries out posted work items strictly in posting order, one at a time.
class CWorkItemThread : public CSimpleThread {
public:
    // One unit of work; the item carries its data, the thread's Process does the work.
    class IWorkItem {
    public:
        virtual ~IWorkItem() = default;
    };

    ~CWorkItemThread() override;

    // StartWorker marks the worker running, then starts the thread like CSimpleThread::Start.
    bool StartWorker(const std::string& name);

    // Post queues `item` and wakes the worker; false (and the item is destroyed) when the worker is
    // not running or the item is null.
    bool Post(std::unique_ptr<IWorkItem> item);

    // StopWorker ends the worker: an item being processed is finished, queued items are dropped
    // unprocessed. Waits for the thread unless called on it.
    void StopWorker();

    [[nodiscard]] bool IsRunning() const { return m_running.load(); }

protected:
    void Run() override;

    // Process carries out one item on the worker thread, without the queue lock held.
    virtual void Process(IWorkItem& item) = 0;

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::unique_ptr<IWorkItem>> m_queue;
    std::atomic<bool> m_running{false};
};

} // namespace norvane::thread
