// CRtspSession: one RTSP session of the simulated camera. SETUP creates it with its server port
// pair, PLAY starts its sender thread, TEARDOWN, its time-out or Stop end it. An interleaved
// session sends its RTP and RTCP as frames on the RTSP connection that set it up, and ends when
// that connection ends.
//
// Threads: the RTSP server's connection threads create, refresh and end sessions; the sender
// thread reads the fixed fields and the sockets. `playing` and `thread` are guarded by the RTSP
// server's session table lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/event_handle.h"
#include "platform/socket.h"

namespace norvane::sim {

class CConnection;

struct CRtspSession {
    std::string id;
    bool mainStream = true;
    platform::SocketAddress clientRtp;
    platform::SocketAddress clientRtcp;
    platform::CSocket rtp;
    platform::CSocket rtcp;
    std::uint16_t serverRtpPort = 0;
    std::uint16_t serverRtcpPort = 0;
    std::uint32_t ssrc = 0;
    std::uint16_t firstSequence = 0;
    std::uint32_t firstTimestamp = 0;
    std::uint64_t faultSeed = 0;
    std::uint32_t timeoutSec = 60;
    std::atomic<std::uint64_t> lastActivityMs{0};
    std::unique_ptr<platform::CEventHandle> stopEvent;
    std::thread thread;
    bool playing = false;
    CConnection* connection = nullptr; // set for an interleaved session
    std::uint8_t rtpChannel = 0;
    std::uint8_t rtcpChannel = 1;
};

} // namespace norvane::sim
