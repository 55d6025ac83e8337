// Internal parts of CCameraSim shared by its source files: the state every thread reads, the
// connection reader/writer, the authenticator and the RTSP session record.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camera_sim.h"
#include "platform/event_handle.h"
#include "platform/socket.h"
#include "sim_media.h"
#include "sim_text.h"

namespace norvane::sim {

// A connection without any request for this long is closed.
constexpr int kIdleConnectionMs = 120000;

// SessionIdleTooLong tells whether a session last refreshed at `lastActivityMs` has outlived its
// time-out at `nowMs`. A request may refresh the session after `nowMs` was read; such a session
// is fresh, not idle for the whole range of the clock.
[[nodiscard]] bool SessionIdleTooLong(std::uint64_t nowMs, std::uint64_t lastActivityMs,
                                      std::uint32_t timeoutSec);

// CThreadSet owns the connection threads, so that Stop can join every one of them; finished
// threads are joined whenever a new one is spawned or the running ones are counted.
class CThreadSet {
public:
    ~CThreadSet() { JoinAll(); }

    void Spawn(std::function<void()> body);
    void JoinAll();
    // Running returns the number of threads that have not finished yet.
    std::size_t Running();

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void ReapLocked();

    std::mutex m_lock;
    std::list<Entry> m_threads;
};

// CAuthenticator checks Basic (RFC 7617) and Digest (RFC 7616/2617, MD5, with or without
// qop=auth) credentials and words the challenge. Nonces stay valid while they are among the last
// 64 issued. Threads: any; the nonce list is locked.
class CAuthenticator {
public:
    CAuthenticator(AuthMode mode, std::string user, std::string password, std::string realm,
                   bool offerQop);

    [[nodiscard]] AuthMode Mode() const { return m_mode; }

    // Check returns true when the request carries valid credentials (always true for None).
    bool Check(const std::string& method, const std::optional<std::string>& authorization);
    // Challenge returns the value of the WWW-Authenticate header for a 401 reply.
    std::string Challenge();

private:
    bool CheckDigest(const std::string& method, std::string_view params);

    AuthMode m_mode;
    std::string m_user;
    std::string m_password;
    std::string m_realm;
    bool m_offerQop;
    std::mutex m_lock;
    std::deque<std::string> m_nonces;
    std::uint64_t m_nonceCounter = 0;
};

// A request read from a connection.
struct ReceivedRequest {
    std::string headText; // exactly as received
    MessageHead head;
    std::string method;
    std::string uri;
    std::string version;
    std::string body;
};

// CConnection reads requests from and writes replies to one accepted TCP connection, honouring
// the stop event and the reply faults. Used by one connection thread.
class CConnection {
public:
    enum class ReadResult { Ok, Closed, Stopped, Malformed };

    CConnection(platform::CSocket socket, platform::SocketAddress peer,
                platform::CEventHandle* stop)
        : m_socket(std::move(socket))
        , m_peer(peer)
        , m_stop(stop) {}

    ReadResult Read(ReceivedRequest& request, int idleTimeoutMs);
    // Send writes the whole reply; with split faults in pieces with pauses. False when the
    // connection failed or the simulator stops.
    bool Send(const std::string& reply, const SimFaults& faults);

    [[nodiscard]] const platform::SocketAddress& Peer() const { return m_peer; }

    [[nodiscard]] std::uint32_t LocalAddress() const { return m_localAddress; }

    void SetLocalAddress(std::uint32_t address) { m_localAddress = address; }

private:
    bool SendAll(std::span<const std::uint8_t> data);

    platform::CSocket m_socket;
    platform::SocketAddress m_peer;
    platform::CEventHandle* m_stop;
    std::string m_buffer;
    std::uint32_t m_localAddress = 0;
};

// Counters of one stream path, updated by the sender threads.
struct StreamCounters {
    std::atomic<std::uint64_t> framesSent{0};
    std::atomic<std::uint64_t> packetsSent{0};
    std::atomic<std::uint64_t> senderReports{0};
};

// One RTSP session: created by SETUP, streamed by its own thread after PLAY, ended by TEARDOWN,
// its time-out or Stop.
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
    bool playing = false; // guarded by the session table lock
};

struct CCameraSim::Impl {
    explicit Impl(CameraSimConfig config);

    // Shared state.
    CameraSimConfig config;
    mutable std::mutex lock;
    mutable std::condition_variable logChanged;
    SimFaults currentFaults;
    std::vector<LoggedRequest> log;
    std::vector<ReceivedRtcp> rtcpPackets;
    bool alarmInput = false;
    bool relayOutput = false;
    std::uint32_t relaySwitches = 0;
    std::vector<std::pair<std::string, std::string>> codec;
    std::vector<std::pair<std::string, std::string>> alarmPort;

    std::shared_ptr<const H264Clip> h264File;
    std::shared_ptr<const JpegClip> jpegClip;
    StreamCounters mainCounters;
    StreamCounters secondCounters;

    std::unique_ptr<CAuthenticator> httpAuth;
    std::unique_ptr<CAuthenticator> rtspAuth;

    std::unique_ptr<platform::CEventHandle> stopEvent;
    platform::CSocket httpListener;
    platform::CSocket rtspListener;
    std::uint16_t httpPort = 0;
    std::uint16_t rtspPort = 0;
    std::uint32_t bindAddress = 0;
    std::thread httpAcceptor;
    std::thread rtspAcceptor;
    CThreadSet connections;
    bool started = false;

    mutable std::mutex sessionLock;
    std::map<std::string, std::shared_ptr<CRtspSession>> sessions;
    std::uint64_t sessionCounter = 0;

    SimFaults Faults() const;
    void LogRequest(LoggedRequest::Protocol protocol, const ReceivedRequest& request);
    std::string CodecValue(const std::string& key) const;
    double StreamFps(bool mainStream) const;
    std::shared_ptr<const H264Clip> MainClip() const;
    std::string AddressText(std::uint32_t address) const;
    std::string RtspUrlOf(bool mainStream) const;
    std::string PresentationUrl(const std::string& uri, bool mainStream) const;
    std::string BuildSdp(bool mainStream, const std::string& address) const;
    // CreateSession binds the server port pair and enters a new session; null when no ports.
    std::shared_ptr<CRtspSession> CreateSession(bool mainStream, platform::SocketAddress clientRtp,
                                                platform::SocketAddress clientRtcp,
                                                std::uint32_t timeoutSec);
    std::size_t ActiveSessions() const;

    // Servers (camera_sim.cpp, sim_http.cpp, sim_rtsp.cpp, sim_streamer.cpp).
    void AcceptLoop(platform::CSocket& listener, bool rtsp);
    void ServeHttp(CConnection& connection);
    void ServeRtsp(CConnection& connection);
    std::string HandleCgi(const ReceivedRequest& request, int& status);
    void ExpireSessions();
    void EndSession(const std::shared_ptr<CRtspSession>& session);
    void EndAllSessions();
    void RunStreamer(const std::shared_ptr<CRtspSession>& session);
};

// FormatReply words a reply head and body; `firstLine` is the status line without its line end.
std::string FormatReply(const std::string& firstLine,
                        const std::vector<std::pair<std::string, std::string>>& headers,
                        const std::string& body);

} // namespace norvane::sim
