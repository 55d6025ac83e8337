// CSimState: what the simulated camera knows and the servers share: its configuration, the
// faults in force, the settings the CGI interface reads and writes, the loaded clips, the log of
// requests and of RTCP received, and the counters of what each stream sent.
//
// Threads: LoadMedia runs on the owner's thread before any server thread starts; every other
// method may be called from any thread. One lock guards the faults, settings and logs; the clips
// are immutable once loaded and the counters are atomic.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "camera_sim.h"
#include "sim_media.h"

namespace norvane::sim {

using Settings = std::vector<std::pair<std::string, std::string>>;

// The camera's settings as the CGI interface reads and writes them.
struct CameraSettings {
    Settings codec;     // get_setup.video.codec, in the order it reports them
    Settings alarmPort; // get_setup.event.alarm_port
    bool alarmInput = false;
    bool relayOutput = false;
    std::uint32_t relaySwitches = 0;
};

// Counters of one stream path, updated by the sender threads.
struct StreamCounters {
    std::atomic<std::uint64_t> framesSent{0};
    std::atomic<std::uint64_t> packetsSent{0};
    std::atomic<std::uint64_t> senderReports{0};
    std::atomic<std::uint64_t> longestSendGapMs{0};
    std::atomic<std::uint64_t> longSendGaps{0};
};

class CSimState {
public:
    explicit CSimState(CameraSimConfig config);

    [[nodiscard]] const CameraSimConfig& Config() const { return m_config; }

    // LoadMedia reads the configured files or the embedded clips; false with `error` set when a
    // file cannot be used.
    bool LoadMedia(std::string* error);
    // MainClip is the clip of vtl_media/main: with codec0=h265 the H.265 file or embedded clip,
    // otherwise the H.264 file, or the embedded clip nearest to the main stream's size.
    [[nodiscard]] std::shared_ptr<const H264Clip> MainClip() const;

    [[nodiscard]] std::shared_ptr<const JpegClip> SecondClip() const { return m_jpegClip; }

    [[nodiscard]] StreamCounters& Counters(bool mainStream) {
        return mainStream ? m_mainCounters : m_secondCounters;
    }

    [[nodiscard]] SimFaults Faults() const;
    void SetFaults(const SimFaults& faults);

    // WithSettings runs `change` on the settings under the state's lock and returns its result.
    template <typename Change>
    auto WithSettings(Change&& change) {
        std::lock_guard guard(m_lock);
        return change(m_settings);
    }

    // StreamFps is the frame rate of a stream as fps0 / fps1 set it, else the configured one.
    [[nodiscard]] double StreamFps(bool mainStream) const;

    void LogRequest(LoggedRequest request);
    [[nodiscard]] std::vector<LoggedRequest> Requests() const;
    void ClearRequests();
    bool WaitForRequest(const std::function<bool(const LoggedRequest&)>& match,
                        std::chrono::milliseconds timeout) const;

    void RecordRtcp(ReceivedRtcp packet);
    [[nodiscard]] std::vector<ReceivedRtcp> RtcpPackets() const;

private:
    [[nodiscard]] std::string CodecValue(const std::string& key) const;

    const CameraSimConfig m_config;
    std::shared_ptr<const H264Clip> m_h264File; // null: the embedded clips
    std::shared_ptr<const H264Clip> m_h265File; // null: the embedded clip
    std::shared_ptr<const JpegClip> m_jpegClip;
    StreamCounters m_mainCounters;
    StreamCounters m_secondCounters;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_logChanged;
    SimFaults m_faults;
    CameraSettings m_settings;
    std::vector<LoggedRequest> m_log;
    std::vector<ReceivedRtcp> m_rtcpPackets;
};

} // namespace norvane::sim
