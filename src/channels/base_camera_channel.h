// CBaseCameraChannel: one video stream of one camera. It owns the channel thread, the channel
// state, the time of the last accepted frame and the online/offline messages to the host; the
// thread body comes from the RTP channel.
//
// Threads: Start, Stop, Restart and destruction on the host's thread; Run on the channel thread;
// MarkDataTime and the online report on the UDP receive thread. m_state and m_lastDataTime each
// have their own lock (no code holds both); the stop request travels only through m_stopEvent.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "channels/camera_channel.h"
#include "core/driver_interfaces.h"
#include "norvane/host.h"
#include "runtime/event.h"
#include "runtime/spin_wait_lock.h"

namespace norvane {

class CBaseCameraChannel : public ICameraChannel {
public:
    CBaseCameraChannel(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink);
    ~CBaseCameraChannel() override;
    CBaseCameraChannel(const CBaseCameraChannel&) = delete;
    CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

    // Start stops a running thread, takes the record and starts the channel thread.
    bool Start(const ChannelStartRecord* record) override;
    // Stop ends the channel thread (every wait of it ends at once on the stop event) and reports
    // the camera offline if it was online.
    void Stop() override;
    // Restart applies a new record, keeping the previous quality, and starts the thread again
    // without an offline report.
    bool Restart(const ChannelStartRecord* record) override;
    std::int32_t GetState() override;
    void SetState(std::int32_t state) override;

    // Run is the thread body; OnStopRequested runs before the stopper waits for the thread (a
    // channel aborts there what it is waiting for); OnStarting runs on the starter's thread right
    // before a new channel thread starts.
    virtual std::int32_t Run() = 0;

    virtual void OnStopRequested() {}

    virtual void OnStarting() {}

    // SetCameraState reports a change between online and offline to the host, once per change.
    void SetCameraState(bool online);
    // ReportOnline reports the camera online unless a stop has begun: after "Channel was stopped"
    // nothing more is said about the channel.
    void ReportOnline();

    // MarkDataTime notes that the host accepted a frame now.
    void MarkDataTime();
    // MillisecondsSinceData is the time since the last accepted frame (low 32 bits), by the
    // monotonic clock (platform::MonotonicMs), which a step of the wall clock does not move.
    std::uint32_t MillisecondsSinceData();
    std::uint32_t MillisecondsSinceData(std::uint64_t nowMs);
    // WithinLossGrace is true while no more than twice the data time-out passed without a frame.
    bool WithinLossGrace();

    [[nodiscard]] const ChannelStartRecord& StartRecord() const { return m_start; }

    // StopRequested is true from the moment Stop or Restart begins until the next thread starts;
    // a frame delivered meanwhile does not report the camera online again.
    [[nodiscard]] bool StopRequested() const { return m_stopRequested.load(); }

protected:
    // StopThread sets the stop event and waits for the channel thread.
    void StopThread();
    bool StartThread();

    bool m_socketsStarted = false;
    std::atomic<bool> m_online{false};
    CSpinWaitLock m_stateLock;
    std::int32_t m_state = kStateStopped;
    CSpinWaitLock m_timeLock;
    std::uint64_t m_lastDataTime = 0; // monotonic milliseconds
    std::uint32_t m_channelIndex;
    IDriver* m_driver;
    IFrameSink* m_sink;
    ChannelStartRecord m_start;
    std::thread m_thread;
    CManualEvent m_stopEvent;

private:
    static void Entry(CBaseCameraChannel* self);
    std::string DeviceName();
    void SetCameraStateLocked(bool online);
    // ReportThreadException tells the host at level 1 that the thread's body ended in an
    // exception, then pauses (a stop ends the pause).
    void ReportThreadException(const char* what) noexcept;

    CManualEvent m_threadEnded;
    std::atomic<bool> m_stopRequested{false};
    // Makes a stop's offline report and a frame's online report one after the other, never
    // interleaved.
    std::mutex m_cameraStateLock;
};

} // namespace norvane
