#include "channels/base_camera_channel.h"

#include <exception>
#include <system_error>

#include "platform/clock.h"
#include "platform/system.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

constexpr const char* kSetCameraState = "norvane::CBaseCameraChannel::SetCameraState";
// Pause before the channel thread starts over after an exception.
constexpr int kRetryPauseMs = 1000;

} // namespace

CBaseCameraChannel::CBaseCameraChannel(IDriver* driver, std::uint32_t channelIndex,
                                       IFrameSink* sink)
    : m_channelIndex(channelIndex)
    , m_driver(driver)
    , m_sink(sink) {}

CBaseCameraChannel::~CBaseCameraChannel() {
    // Derived channels call Stop in their own destructors, before their part of the object that
    // the thread uses is gone; here it is harmless and catches any thread left.
    Stop();
}

void CBaseCameraChannel::Entry(CBaseCameraChannel* self) {
    // An exception (out of memory in a 32-bit host) must not end the host: it is told, and the
    // thread starts over as after any failed connection, until it is stopped.
    while (!self->m_stopEvent.IsSet()) {
        try {
            self->Run();
            break;
        } catch (const std::exception& error) {
            self->ReportThreadException(error.what());
        } catch (...) {
            self->ReportThreadException("an exception of unknown type");
        }
    }
    self->m_threadEnded.Set();
}

void CBaseCameraChannel::ReportThreadException(const char* what) noexcept {
    try {
        SetState(kStateStopped);
        m_driver->DebugMessage(1, "%s: the channel thread failed: %s", kSetCameraState, what);
    } catch (...) {
        // Not even the message could be made: the thread starts over all the same.
    }
    m_stopEvent.Wait(kRetryPauseMs);
}

bool CBaseCameraChannel::StartThread() {
    m_stopEvent.Reset();
    m_threadEnded.Reset();
    m_stopRequested.store(false);
    OnStarting();
    try {
        m_thread = std::thread(&CBaseCameraChannel::Entry, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CBaseCameraChannel::Start(const ChannelStartRecord* record) {
    Stop();
    if (record != nullptr) {
        m_start = *record;
    }
    if (!m_socketsStarted) {
        m_socketsStarted = platform::StartSockets();
    }
    if (!StartThread()) {
        if (m_socketsStarted) {
            platform::CleanupSockets();
            m_socketsStarted = false;
        }
        return false;
    }
    return true;
}

void CBaseCameraChannel::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_cameraStateLock);
        m_stopRequested.store(true);
        SetState(kStateStopped);
        SetCameraStateLocked(false);
    }
    StopThread();
    if (m_socketsStarted) {
        platform::CleanupSockets();
        m_socketsStarted = false;
    }
}

bool CBaseCameraChannel::Restart(const ChannelStartRecord* record) {
    m_stopRequested.store(true);
    SetState(kStateStopped);
    // The channel's threads read the record: it changes only once they are gone.
    StopThread();
    if (record != nullptr) {
        const std::uint32_t quality = m_start.quality;
        m_start = *record;
        m_start.quality = quality;
    }
    return StartThread();
}

void CBaseCameraChannel::StopThread() {
    m_stopEvent.Set();
    if (!m_thread.joinable()) {
        return;
    }
    OnStopRequested();
    const DEVICE_INFO info = m_driver->GetDeviceInfo();
    // Every wait of the channel thread ends on the stop event, so the thread ends at once; the
    // bound is the outer limit. A thread still running after it (a host callback that does not
    // return) is still joined: it must not outlive the channel.
    m_threadEnded.Wait(2 * info.requestTimeout);
    m_thread.join();
}

std::int32_t CBaseCameraChannel::GetState() {
    CSpinWaitLockGuard guard(m_stateLock);
    return m_state;
}

void CBaseCameraChannel::SetState(std::int32_t state) {
    CSpinWaitLockGuard guard(m_stateLock);
    m_state = state;
}

std::string CBaseCameraChannel::DeviceName() {
    const DEVICE_INFO info = m_driver->GetDeviceInfo();
    if (m_driver->GetChannelCount() > 1) {
        return FormatString("Video-server %s (channel %u)", info.address.c_str(), m_channelIndex);
    }
    return FormatString("Camera %s", info.address.c_str());
}

void CBaseCameraChannel::SetCameraState(bool online) {
    std::lock_guard<std::mutex> guard(m_cameraStateLock);
    SetCameraStateLocked(online);
}

void CBaseCameraChannel::ReportOnline() {
    std::lock_guard<std::mutex> guard(m_cameraStateLock);
    if (!m_stopRequested.load()) {
        SetCameraStateLocked(true);
    }
}

void CBaseCameraChannel::SetCameraStateLocked(bool online) {
    if (m_online.exchange(online) == online) {
        return;
    }
    std::string name = DeviceName();
    if (online) {
        m_driver->DebugMessage(2, "%s: %s is online", kSetCameraState, name.c_str());
        return;
    }
    switch (GetState()) {
    case kStateStopped:
        m_driver->DebugMessage(2, "%s: %s is offline. Channel was stopped", kSetCameraState,
                               name.c_str());
        break;
    case kStateSignalLost:
        name[0] = static_cast<char>(ToLower(name.substr(0, 1))[0]);
        m_driver->DebugMessage(1, "%s: Signal was lost for %s", kSetCameraState, name.c_str());
        break;
    default:
        m_driver->DebugMessage(1, "%s: %s is offline or failed", kSetCameraState, name.c_str());
        break;
    }
}

void CBaseCameraChannel::MarkDataTime() {
    const std::uint64_t now = platform::MonotonicMs();
    CSpinWaitLockGuard guard(m_timeLock);
    m_lastDataTime = now;
}

std::uint32_t CBaseCameraChannel::MillisecondsSinceData() {
    return MillisecondsSinceData(platform::MonotonicMs());
}

std::uint32_t CBaseCameraChannel::MillisecondsSinceData(std::uint64_t nowMs) {
    std::uint64_t last = 0;
    {
        CSpinWaitLockGuard guard(m_timeLock);
        last = m_lastDataTime;
    }
    return static_cast<std::uint32_t>(nowMs > last ? nowMs - last : 0);
}

bool CBaseCameraChannel::WithinLossGrace() {
    const DEVICE_INFO info = m_driver->GetDeviceInfo();
    return MillisecondsSinceData() <= 2 * static_cast<std::uint32_t>(info.dataTimeout);
}

} // namespace norvane
