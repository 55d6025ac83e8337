// CCameraSim: a simulated Vantrel camera on loopback (or any local address): the HTTP CGI control
// interface, an RTSP/1.0 server with the streams "vtl_media/main" (H.264) and "vtl_media/second"
// (RTP/JPEG), RTP over UDP paced at the stream's frame rate and RTCP sender reports. Tests start it
// in-process on ephemeral ports, switch faults at run time and assert on the exact requests it
// received; the vantrel-camera-sim program wraps it for people without a camera.
//
// Threads: Start and Stop run on the owner's thread. The simulator runs one accept thread per
// server, one thread per client connection and one sender thread per playing RTSP session; every
// other method may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace norvane::sim {

enum class AuthMode { None, Basic, Digest };

// Faults that can be switched at run time (SetFaults) or given at start (CameraSimConfig::faults).
struct SimFaults {
    bool stopMedia = false;      // sessions keep running but send no RTP
    double dropShare = 0.0;      // share of RTP packets not sent (0..1)
    double reorderShare = 0.0;   // share of RTP packets sent after the next one
    double duplicateShare = 0.0; // share of RTP packets sent twice
    bool httpAlways401 = false;  // every HTTP request is refused with 401 and a challenge
    bool rtspAlways401 = false;  // every RTSP request is refused with 401 and a challenge
    // CGI functions to refuse: function name -> "0x8..." (answered 200 with that return_code) or a
    // decimal HTTP status such as "500".
    std::map<std::string, std::string> refusedCgi;
    bool closeRtspConnection = false;    // RTSP requests get no answer: the connection is closed
    std::uint32_t splitReplyBytes = 0;   // replies are written in pieces of this many bytes ...
    std::uint32_t splitDelayMs = 0;      // ... with this pause before each later piece
    std::uint32_t replyDelayMs = 0;      // pause before every reply
    std::uint32_t sessionTimeoutSec = 0; // non-zero: announce and enforce this session time-out
    bool alternateSource = false;        // send RTP from 127.0.0.2 instead of the server's address
    // Drop every RTP and RTCP datagram (a camera behind a firewall); media inside the RTSP
    // connection still flows.
    bool blockUdpMedia = false;
    bool refuseInterleaved = false; // SETUP asking for RTP inside the connection gets 461
    bool refuseUdp = false;         // SETUP asking for RTP over UDP gets 461
};

struct CameraSimConfig {
    std::string bindAddress = "127.0.0.1";
    std::uint16_t httpPort = 0; // 0: the system picks a free port
    std::uint16_t rtspPort = 0;
    std::string user = "admin";
    std::string password = "admin";
    AuthMode httpAuth = AuthMode::None;
    AuthMode rtspAuth = AuthMode::None;
    bool httpDigestQop = true;  // the HTTP Digest challenge offers qop="auth"
    bool rtspDigestQop = false; // the RTSP Digest challenge offers qop="auth"
    std::string realm = "Vantrel Camera";
    // Digest algorithm of both servers' challenges: MD5, MD5-sess, SHA-256 or SHA-256-sess.
    std::string digestAlgorithm = "MD5";
    std::string brand = "Vantrel";
    std::string hwver = "VT-2M100";
    std::string swver = "2.4.1";
    std::string h264File;  // Annex-B file for the main stream; empty: embedded clips
    std::string h265File;  // Annex-B H.265 file for the main stream; empty: embedded clip
    std::string mjpegFile; // JPEG pictures for the second stream; empty: embedded clip
    // The camera takes codec0=h265 and then streams H.265 on the main stream; false: a camera that
    // only knows H.264 and refuses it as an invalid value.
    bool h265 = true;
    std::uint32_t h265MaxDonDiff = 0; // announced as sprop-max-don-diff when above 0
    std::string codec0 = "h264";      // the main stream's codec until a client sets another
    std::uint32_t width = 640;        // initial main stream size (chooses the embedded H.264 clip)
    std::uint32_t height = 480;
    double fps = 25.0;             // initial frame rate of both streams
    std::uint32_t mtu = 1400;      // largest RTP packet (header included) in bytes
    bool jpegInBandTables = false; // always send Q = 255 with the tables in the first packet
    // Send an access unit delimiter (a 2-byte NAL unit, its own RTP packet) before every H.264
    // access unit that has none, as many cameras do.
    bool h264AccessUnitDelimiters = false;
    std::uint32_t sessionTimeoutSec = 60;
    std::uint32_t rtcpIntervalMs = 1000;
    std::uint64_t seed = 1; // seeds sequence numbers, SSRCs and the packet faults
    std::uint32_t ffMode = 50;
    SimFaults faults;
};

// One request as received: the head text exactly as the client wrote it (request line, header
// lines with their line ends, and the empty line).
struct LoggedRequest {
    enum class Protocol { Http, Rtsp };
    Protocol protocol = Protocol::Http;
    std::string method;
    std::string uri;
    std::string text;
};

// One RTCP datagram received from a client, with the session it belongs to.
struct ReceivedRtcp {
    std::string sessionId;
    platform::SocketAddress from;
    std::vector<std::uint8_t> bytes;
};

struct StreamStats {
    std::uint64_t framesSent = 0;
    std::uint64_t packetsSent = 0;
    std::uint64_t senderReports = 0;
    // Pacing: the longest time between two frames of one session (from its second frame on),
    // and how many such gaps were longer than kLongSendGapMs, over every session of the stream.
    std::uint64_t longestSendGapMs = 0;
    std::uint64_t longSendGaps = 0;
};

// A gap between two frames of a session that counts as long (several frame times at 25 fps).
constexpr std::uint64_t kLongSendGapMs = 250;

class CCameraSim {
public:
    explicit CCameraSim(CameraSimConfig config);
    ~CCameraSim(); // stops the simulator
    CCameraSim(const CCameraSim&) = delete;
    CCameraSim& operator=(const CCameraSim&) = delete;

    // Start loads the media, binds both servers and starts their threads. False with `error` set
    // when a file cannot be used or a port cannot be bound.
    bool Start(std::string* error);
    // Stop ends every session and connection and joins every thread; it returns promptly.
    void Stop();

    [[nodiscard]] std::uint16_t HttpPort() const;
    [[nodiscard]] std::uint16_t RtspPort() const;
    [[nodiscard]] std::string RtspUrl(const std::string& path) const;
    [[nodiscard]] std::string HttpUrl(const std::string& pathAndQuery) const;

    void SetFaults(const SimFaults& faults);
    [[nodiscard]] SimFaults GetFaults() const;

    [[nodiscard]] std::vector<LoggedRequest> Requests() const;
    void ClearRequests();
    // WaitForRequest waits until a logged request satisfies `match`; false after `timeout`.
    bool WaitForRequest(const std::function<bool(const LoggedRequest&)>& match,
                        std::chrono::milliseconds timeout) const;

    // The alarm input that get_setup.event.status reports as rise_alarm.
    void SetAlarmInput(bool active);
    [[nodiscard]] bool AlarmInput() const;
    // The relay output that set_setup.event.alarm_port switches (out_oper=useron/useroff).
    [[nodiscard]] bool RelayOutput() const;
    [[nodiscard]] std::uint32_t RelaySwitchCount() const;

    // The encoder settings as get_setup.video.codec reports them, in order.
    [[nodiscard]] std::vector<std::pair<std::string, std::string>> CodecSettings() const;

    [[nodiscard]] std::vector<ReceivedRtcp> ReceivedRtcpPackets() const;
    [[nodiscard]] std::size_t ActiveSessionCount() const;
    // Stats of everything sent on `path` ("vtl_media/main" or "vtl_media/second") so far.
    [[nodiscard]] StreamStats Stats(const std::string& path) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace norvane::sim
