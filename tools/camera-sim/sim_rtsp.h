// CSimRtspServer: the simulated camera's RTSP/1.0 server (RFC 2326) for the streams
// "vtl_media/main" (H.264) and "vtl_media/second" (RTP/JPEG): one handler per method, Basic or
// Digest authentication, RTP over UDP sessions with time-outs, each streamed by its own thread.
//
// Threads: Serve runs on one connection thread per connection, ExpireSessions on the accept
// thread, EndAllSessions on the owner's thread once the connections are joined. The session table
// has its own lock, which is never held while a sender thread is joined.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "sim_internal.h"
#include "sim_session.h"
#include "sim_state.h"

namespace norvane::sim {

// SessionIdleTooLong tells whether a session last refreshed at `lastActivityMs` has outlived its
// time-out at `nowMs`. A request may refresh the session after `nowMs` was read; such a session
// is fresh, not idle for the whole range of the clock.
[[nodiscard]] bool SessionIdleTooLong(std::uint64_t nowMs, std::uint64_t lastActivityMs,
                                      std::uint32_t timeoutSec);

class CSimRtspServer {
public:
    explicit CSimRtspServer(CSimState& state);

    // SetEndpoint gives the address (network byte order) and port the server listens on; called
    // before the first connection is served.
    void SetEndpoint(std::uint32_t bindAddress, std::uint16_t port);

    // Serve answers the requests of one connection until it closes, fails or the simulator stops.
    void Serve(CConnection& connection);
    // ExpireSessions ends the sessions that no request refreshed within their time-out.
    void ExpireSessions();
    void EndAllSessions();
    [[nodiscard]] std::size_t ActiveSessions() const;

private:
    struct Exchange; // one request and the reply being built for it

    // One method the server answers: its name, whether a Session header naming no live session
    // may come with it, and its handler.
    struct MethodRule {
        std::string_view name;
        bool anySession;
        void (CSimRtspServer::*handle)(Exchange& exchange);
    };

    // The methods in the order the Public header of an OPTIONS reply lists them.
    static const MethodRule kMethods[];

    // Answer runs the checks every request passes (CSeq, version, credentials, a named session
    // that lives), then the method's handler, which fills in its reply's status, headers and body.
    void Answer(Exchange& exchange);
    void ServeRequests(CConnection& connection);
    void Options(Exchange& exchange);
    void Describe(Exchange& exchange);
    void Setup(Exchange& exchange);
    void Play(Exchange& exchange);
    void GetParameter(Exchange& exchange);
    void Teardown(Exchange& exchange);

    // FindSession returns the session named by a Session header and marks it active.
    std::shared_ptr<CRtspSession> FindSession(const std::string& id);
    // CreateSession binds the server port pair and enters a new session; null when no ports.
    std::shared_ptr<CRtspSession> CreateSession(bool mainStream, platform::SocketAddress clientRtp,
                                                platform::SocketAddress clientRtcp,
                                                std::uint32_t timeoutSec);
    void StartStreamer(const std::shared_ptr<CRtspSession>& session);
    void EndSession(const std::shared_ptr<CRtspSession>& session);

    [[nodiscard]] std::string BuildSdp(bool mainStream, const std::string& address) const;
    [[nodiscard]] std::string PresentationUrl(const std::string& uri, bool mainStream) const;
    [[nodiscard]] std::string RtspUrlOf(bool mainStream) const;

    CSimState& m_state;
    CAuthenticator m_auth;
    std::uint32_t m_bindAddress = 0;
    std::uint16_t m_port = 0;

    mutable std::mutex m_sessionLock;
    std::map<std::string, std::shared_ptr<CRtspSession>> m_sessions;
    std::uint64_t m_sessionCounter = 0;
};

} // namespace norvane::sim
