// CIOBase: the device-independent part of a camera's digital I/O. It remembers the last known
// state of every alarm input and relay output, carries out the host's output requests in order on
// the "Digital Output thread", polls the inputs every two seconds on the "Digital Input thread",
// and reports input changes and failures to the host's IIOCallback. A derived class supplies the
// two device operations: switch one output, read the inputs once.
//
// A stop is not a failure: a device request abandoned because of StopIO, or one that a queued
// request would have started while the stop runs, reports nothing to the host.
//
// Threads: the host's thread (SetCallback, StartIO, SetOutput, StopIO, the counts), the output
// worker (ProcessOutput, WriteOutput) and the input poller (PollOnce, PollInputs, UpdateInput).
// Both state maps are guarded by m_stateLock; device operations and host callbacks run without
// it. The driver owns the object; the host stops it with StopIO before the driver is deleted.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "core/driver_interfaces.h"
#include "norvane/ipcapture.h"
#include "runtime/threads.h"

namespace norvane {

// Input and output states: 0 unknown (nothing reported or requested since the last reset).
constexpr std::uint32_t kIOStateUnknown = 0;
constexpr std::uint32_t kIOStateInactive = 1; // input inactive; output state written at start
constexpr std::uint32_t kIOStateActive = 2;

class CIOBase : public ICaptureIOApi {
    NORVANE_IMPLEMENT_SLOT0(CIOBase)

public:
    // One queued output request.
    class CWorkItem : public thread::CWorkItemThread::IWorkItem {
    public:
        CWorkItem(std::uint32_t outputIndex, std::uint32_t outputState)
            : index(outputIndex)
            , state(outputState) {}

        std::uint32_t index;
        std::uint32_t state;
    };

    explicit CIOBase(IDriver* driver);
    virtual ~CIOBase() NORVANE_DTOR_OVERRIDE;
    CIOBase(const CIOBase&) = delete;
    CIOBase& operator=(const CIOBase&) = delete;

    bool SetCallback(IIOCallback* callback) override;
    // StartIO reads the inputs once, writes state 1 to every output, then starts the output
    // worker (when there are outputs) and the input poller (when there are inputs).
    bool StartIO() override;
    // StopIO ends both workers (a hanging device request is aborted first), then resets every
    // known state to unknown.
    bool StopIO() override;
    uint32_t GetInputCount() override;
    uint32_t GetOutputCount() override;
    // SetOutput queues a request; false when the output worker is not running.
    bool SetOutput(uint32_t index, uint32_t state) override;

    // InitializeIO polls the inputs once and puts every output into state 1.
    virtual void InitializeIO();
    // WriteOutput switches one output on the device; true on success.
    virtual bool WriteOutput(std::uint32_t index, std::uint32_t state) = 0;
    // PollInputs reads the device's inputs once and reports them through UpdateInput.
    virtual bool PollInputs() = 0;

    // Snapshots of the state maps, for diagnostics and tests.
    std::map<std::uint32_t, std::uint32_t> InputStates();
    std::map<std::uint32_t, std::uint32_t> OutputStates();

    // SetInterval sets the input polling period in milliseconds.
    void SetInterval(std::uint32_t milliseconds) { m_inputPoller.SetInterval(milliseconds); }

protected:
    // UpdateInput stores a new input state and tells the host when it differs from the last one.
    void UpdateInput(std::uint32_t index, std::uint32_t state);
    // ResetStates sets every input and output back to unknown, so that inputs are reported again
    // and output requests are carried out again even when they repeat the last one.
    void ResetStates();

    // StopWorkers ends both workers if they run, without touching the states or the host.
    void StopWorkers();

    // AbortDeviceRequests ends a device request under way on another thread at once; called by
    // StopIO before it waits for the workers. ResumeDeviceRequests re-arms them at StartIO.
    virtual void AbortDeviceRequests() {}

    virtual void ResumeDeviceRequests() {}

    IDriver* m_driver;

private:
    // The two threads of the object, each calling back into it.
    class COutputWorker final : public thread::CWorkItemThread {
    public:
        explicit COutputWorker(CIOBase& owner) : m_owner(owner) {}

        ~COutputWorker() override { StopWorker(); }

        COutputWorker(const COutputWorker&) = delete;
        COutputWorker& operator=(const COutputWorker&) = delete;

    protected:
        void Process(IWorkItem& item) override { m_owner.ProcessOutput(item); }

        void OnThreadException(const char* what) noexcept override {
            m_owner.ReportException(Name(), what);
        }

    private:
        CIOBase& m_owner;
    };

    class CInputPoller final : public thread::CTickerThread {
    public:
        explicit CInputPoller(CIOBase& owner) : m_owner(owner) {}

        ~CInputPoller() override { StopTicker(); }

        CInputPoller(const CInputPoller&) = delete;
        CInputPoller& operator=(const CInputPoller&) = delete;

    protected:
        void OnTick() override { m_owner.PollOnce(); }

        void OnThreadException(const char* what) noexcept override {
            m_owner.ReportException(Name(), what);
        }

    private:
        CIOBase& m_owner;
    };

    // ReportSwitched tells at level 2 that the camera accepted an output's new state.
    void ReportSwitched(std::uint32_t index, std::uint32_t state);
    // ProcessOutput carries out one output request on the output worker.
    void ProcessOutput(thread::CWorkItemThread::IWorkItem& item);
    // PollOnce reads the inputs once on the input poller.
    void PollOnce();
    // ReportFailure resets the states and tells the host, unless a stop is under way.
    void ReportFailure();
    // ReportException tells the host at level 1 that a worker's request ended in an exception;
    // the request counts as failed.
    void ReportException(const std::string& thread, const char* what) noexcept;

    std::atomic<bool> m_stopping{false};
    std::atomic<IIOCallback*> m_callback{nullptr};
    std::mutex m_stateLock;
    std::map<std::uint32_t, std::uint32_t> m_inputStates;
    std::map<std::uint32_t, std::uint32_t> m_outputStates;
    // Last, so that they are gone before the state they use.
    COutputWorker m_outputWorker{*this};
    CInputPoller m_inputPoller{*this};
};

} // namespace norvane
