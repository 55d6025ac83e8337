#include "sim_rtsp.h"

#include <algorithm>
#include <random>

#include "platform/clock.h"
#include "sim_streamer.h"

namespace norvane::sim {

namespace {

constexpr char kMainPath[] = "vtl_media/main";
constexpr char kSecondPath[] = "vtl_media/second";
constexpr char kTrack[] = "trackID=1";
constexpr int kMaxPortAttempts = 32;
constexpr std::size_t kMaxSessions = 32;

struct RtspTarget {
    bool valid = false;
    bool mainStream = true;
    bool track = false; // the URL names the track rather than the presentation
};

// PathOf returns the path of an rtsp:// URL without its leading and trailing slashes.
std::string PathOf(const std::string& uri) {
    std::string_view rest = uri;
    if (StartsWithNoCase(rest, "rtsp://")) {
        rest.remove_prefix(7);
        const std::size_t slash = rest.find('/');
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    while (!rest.empty() && rest.front() == '/') {
        rest.remove_prefix(1);
    }
    while (!rest.empty() && rest.back() == '/') {
        rest.remove_suffix(1);
    }
    return std::string(rest);
}

RtspTarget TargetOf(const std::string& uri) {
    const std::string path = PathOf(uri);
    for (const bool main : {true, false}) {
        const std::string base = main ? kMainPath : kSecondPath;
        if (path == base) {
            return RtspTarget{true, main, false};
        }
        if (path == base + "/" + kTrack) {
            return RtspTarget{true, main, true};
        }
    }
    return {};
}

const char* RtspReason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 454:
        return "Session Not Found";
    case 453:
        return "Not Enough Bandwidth";
    case 455:
        return "Method Not Valid in This State";
    case 461:
        return "Unsupported Transport";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 505:
        return "RTSP Version Not Supported";
    default:
        return "Error";
    }
}

// ClientPorts reads client_port=a-b of a unicast UDP transport; false for TCP, multicast or no
// ports (RFC 2326 section 12.39).
bool ClientPorts(const std::string& transport, std::uint16_t& rtp, std::uint16_t& rtcp) {
    const std::string lower = AsciiLower(transport);
    if (lower.find("rtp/avp/tcp") != std::string::npos ||
        lower.find("interleaved") != std::string::npos ||
        lower.find("multicast") != std::string::npos || lower.find("rtp/avp") != 0) {
        return false;
    }
    const std::size_t at = lower.find("client_port=");
    if (at == std::string::npos) {
        return false;
    }
    std::string_view ports = std::string_view(lower).substr(at + 12);
    ports = ports.substr(0, ports.find(';'));
    const std::size_t dash = ports.find('-');
    const auto first = ParseUnsigned(ports.substr(0, dash));
    if (!first || *first == 0 || *first > 65534) {
        return false;
    }
    std::uint32_t second = *first + 1;
    if (dash != std::string_view::npos) {
        const auto given = ParseUnsigned(ports.substr(dash + 1));
        if (!given || *given == 0 || *given > 65535) {
            return false;
        }
        second = *given;
    }
    rtp = static_cast<std::uint16_t>(*first);
    rtcp = static_cast<std::uint16_t>(second);
    return true;
}

// InterleavedChannels reads interleaved=a-b of a unicast TCP transport (RFC 2326, 10.12 and
// 12.39); false for any other transport.
bool InterleavedChannels(const std::string& transport, std::uint8_t& rtp, std::uint8_t& rtcp) {
    const std::string lower = AsciiLower(transport);
    const std::size_t at = lower.find("interleaved=");
    if (lower.rfind("rtp/avp/tcp", 0) != 0 || at == std::string::npos ||
        lower.find("multicast") != std::string::npos) {
        return false;
    }
    std::string_view channels = std::string_view(lower).substr(at + 12);
    channels = channels.substr(0, channels.find(';'));
    const std::size_t dash = channels.find('-');
    const auto first = ParseUnsigned(channels.substr(0, dash));
    const auto second = dash == std::string_view::npos
                                ? (first ? decltype(first)(*first + 1) : std::nullopt)
                                : ParseUnsigned(channels.substr(dash + 1));
    if (!first || !second || *first > 255 || *second > 255 || *first == *second) {
        return false;
    }
    rtp = static_cast<std::uint8_t>(*first);
    rtcp = static_cast<std::uint8_t>(*second);
    return true;
}

// BindPortPair binds an even RTP port and the odd RTCP port above it (RFC 3550 section 11).
bool BindPortPair(std::uint32_t address, CRtspSession& session) {
    for (int attempt = 0; attempt < kMaxPortAttempts; ++attempt) {
        platform::CSocket rtp = platform::CSocket::CreateUdp();
        if (!rtp.IsValid() || !rtp.Bind(address, 0)) {
            return false;
        }
        const std::uint16_t port = rtp.LocalPort();
        if (port == 0 || port % 2 != 0 || port == 65534) {
            continue;
        }
        platform::CSocket rtcp = platform::CSocket::CreateUdp();
        if (!rtcp.IsValid() || !rtcp.Bind(address, static_cast<std::uint16_t>(port + 1))) {
            continue;
        }
        (void)rtp.SetSendBufferSize(1024 * 1024);
        session.rtp = std::move(rtp);
        session.rtcp = std::move(rtcp);
        session.serverRtpPort = port;
        session.serverRtcpPort = static_cast<std::uint16_t>(port + 1);
        return true;
    }
    return false;
}

std::string SessionIdOf(const std::optional<std::string>& header) {
    if (!header) {
        return {};
    }
    return std::string(TrimBlanks(std::string_view(*header).substr(0, header->find(';'))));
}

} // namespace

struct CSimRtspServer::Exchange {
    Exchange(CConnection& on, const ReceivedRequest& received, const SimFaults& inForce)
        : connection(on)
        , request(received)
        , faults(inForce) {}

    CConnection& connection;
    const ReceivedRequest& request;
    const SimFaults& faults;
    std::shared_ptr<CRtspSession> session; // the live session the Session header names
    int status = 200;
    Headers headers;
    std::string body;
    std::shared_ptr<CRtspSession> startAfterReply; // PLAY starts sending once the reply is out
};

const CSimRtspServer::MethodRule CSimRtspServer::kMethods[] = {
        {"OPTIONS", true, &CSimRtspServer::Options},
        {"DESCRIBE", true, &CSimRtspServer::Describe},
        {"SETUP", false, &CSimRtspServer::Setup},
        {"TEARDOWN", false, &CSimRtspServer::Teardown},
        {"PLAY", false, &CSimRtspServer::Play},
        {"GET_PARAMETER", false, &CSimRtspServer::GetParameter},
};

CSimRtspServer::CSimRtspServer(CSimState& state)
    : m_state(state)
    , m_auth(state.Config().rtspAuth, state.Config().user, state.Config().password,
             state.Config().realm, state.Config().rtspDigestQop, state.Config().digestAlgorithm) {}

void CSimRtspServer::SetEndpoint(std::uint32_t bindAddress, std::uint16_t port) {
    m_bindAddress = bindAddress;
    m_port = port;
}

void CSimRtspServer::Serve(CConnection& connection) {
    // RTCP the client sends inside the connection is recorded like RTCP over UDP.
    connection.SetFrameHandler([this, &connection](std::uint8_t channel,
                                                   std::span<const std::uint8_t> data) {
        std::string id;
        {
            std::lock_guard guard(m_sessionLock);
            for (const auto& [sessionId, session] : m_sessions) {
                if (session->connection == &connection && session->rtcpChannel == channel) {
                    id = sessionId;
                }
            }
        }
        if (!id.empty()) {
            m_state.RecordRtcp(ReceivedRtcp{id, connection.Peer(),
                                            std::vector<std::uint8_t>(data.begin(), data.end())});
        }
    });
    ServeRequests(connection);
    // Interleaved sessions end with their connection.
    std::vector<std::shared_ptr<CRtspSession>> carried;
    {
        std::lock_guard guard(m_sessionLock);
        for (const auto& [id, session] : m_sessions) {
            if (session->connection == &connection) {
                carried.push_back(session);
            }
        }
    }
    for (const auto& session : carried) {
        EndSession(session);
    }
}

void CSimRtspServer::ServeRequests(CConnection& connection) {
    while (true) {
        ReceivedRequest request;
        const auto read = connection.Read(request, kIdleConnectionMs);
        if (read == CConnection::ReadResult::Malformed) {
            (void)connection.Send(FormatReply("RTSP/1.0 400 Bad Request", {}, ""), SimFaults{});
            return;
        }
        if (read != CConnection::ReadResult::Ok) {
            return;
        }
        m_state.LogRequest(LogEntry(LoggedRequest::Protocol::Rtsp, request));
        const SimFaults faults = m_state.Faults();
        if (faults.closeRtspConnection) {
            return; // the camera drops the connection without an answer
        }
        Exchange exchange(connection, request, faults);
        Answer(exchange);
        const bool sent =
                connection.Send(FormatReply("RTSP/1.0 " + std::to_string(exchange.status) + " " +
                                                    RtspReason(exchange.status),
                                            exchange.headers, exchange.body),
                                faults);
        if (exchange.startAfterReply) {
            StartStreamer(exchange.startAfterReply);
        }
        if (!sent) {
            return;
        }
    }
}

void CSimRtspServer::Answer(Exchange& x) {
    const ReceivedRequest& request = x.request;
    const auto cseq = request.head.Header("CSeq");
    if (cseq) {
        x.headers.emplace_back("CSeq", *cseq);
    }
    x.headers.emplace_back("Server", "Vantrel RTSP Server");
    const std::string sessionId = SessionIdOf(request.head.Header("Session"));
    x.session = FindSession(sessionId);
    const auto* rule = std::find_if(std::begin(kMethods), std::end(kMethods),
                                    [&](const MethodRule& r) { return r.name == request.method; });
    const bool known = rule != std::end(kMethods);
    if (!cseq || !ParseUnsigned(*cseq)) {
        x.status = 400;
    } else if (request.version != "RTSP/1.0") {
        x.status = 505;
    } else if (x.faults.rtspAlways401 ||
               !m_auth.Check(request.method, request.head.Header("Authorization"))) {
        x.status = 401;
        x.headers.emplace_back("WWW-Authenticate", m_auth.Challenge());
    } else if (!sessionId.empty() && !x.session && !(known && rule->anySession)) {
        x.status = 454;
    } else if (!known) {
        x.status = 501;
    } else {
        (this->*rule->handle)(x);
    }
    if (x.session && x.status == 200) {
        x.headers.emplace_back("Session",
                               x.session->id + ";timeout=" + std::to_string(x.session->timeoutSec));
    }
    if (!x.body.empty()) {
        x.headers.emplace_back("Content-Length", std::to_string(x.body.size()));
    }
}

void CSimRtspServer::Options(Exchange& x) {
    std::string methods;
    for (const MethodRule& rule : kMethods) {
        methods += (methods.empty() ? "" : ", ") + std::string(rule.name);
    }
    x.headers.emplace_back("Public", methods);
}

void CSimRtspServer::Describe(Exchange& x) {
    const RtspTarget target = TargetOf(x.request.uri);
    if (!target.valid || target.track) {
        x.status = 404;
        return;
    }
    x.body = BuildSdp(target.mainStream, AddressText(x.connection.LocalAddress()));
    x.headers.emplace_back("Content-Base", PresentationUrl(x.request.uri, target.mainStream) + "/");
    x.headers.emplace_back("Content-Type", "application/sdp");
}

void CSimRtspServer::Setup(Exchange& x) {
    const RtspTarget target = TargetOf(x.request.uri);
    std::uint16_t clientRtp = 0;
    std::uint16_t clientRtcp = 0;
    std::uint8_t rtpChannel = 0;
    std::uint8_t rtcpChannel = 1;
    const std::string transport = x.request.head.Header("Transport").value_or("");
    const bool interleaved =
            !x.faults.refuseInterleaved && InterleavedChannels(transport, rtpChannel, rtcpChannel);
    if (!target.valid) {
        x.status = 404;
    } else if (!interleaved &&
               (x.faults.refuseUdp || !ClientPorts(transport, clientRtp, clientRtcp))) {
        x.status = 461;
    } else if (x.session) {
        x.status = 455; // one track per session: a second SETUP has nothing to add
    } else if (ActiveSessions() >= kMaxSessions) {
        x.status = 453;
    } else {
        const std::uint32_t peer = x.connection.Peer().address;
        x.session =
                CreateSession(target.mainStream, {peer, clientRtp}, {peer, clientRtcp},
                              x.faults.sessionTimeoutSec != 0 ? x.faults.sessionTimeoutSec
                                                              : m_state.Config().sessionTimeoutSec);
        if (!x.session) {
            x.status = 500;
            return;
        }
        if (interleaved) {
            x.session->connection = &x.connection;
            x.session->rtpChannel = rtpChannel;
            x.session->rtcpChannel = rtcpChannel;
            x.headers.emplace_back("Transport",
                                   "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(rtpChannel) +
                                           "-" + std::to_string(rtcpChannel) +
                                           ";ssrc=" + HexString(x.session->ssrc, 8));
            return;
        }
        x.headers.emplace_back("Transport",
                               "RTP/AVP;unicast;client_port=" + std::to_string(clientRtp) + "-" +
                                       std::to_string(clientRtcp) +
                                       ";server_port=" + std::to_string(x.session->serverRtpPort) +
                                       "-" + std::to_string(x.session->serverRtcpPort) +
                                       ";ssrc=" + HexString(x.session->ssrc, 8));
    }
}

void CSimRtspServer::Play(Exchange& x) {
    if (!x.session) {
        x.status = 454;
        return;
    }
    x.headers.emplace_back("Range", "npt=0.000-");
    x.headers.emplace_back("RTP-Info",
                           "url=" + PresentationUrl(x.request.uri, x.session->mainStream) + "/" +
                                   kTrack + ";seq=" + std::to_string(x.session->firstSequence) +
                                   ";rtptime=" + std::to_string(x.session->firstTimestamp));
    std::lock_guard guard(m_sessionLock);
    if (!x.session->playing) {
        x.session->playing = true;
        x.startAfterReply = x.session;
    }
}

void CSimRtspServer::GetParameter(Exchange& /*x*/) {
    // A harmless keep-alive: nothing to report.
}

void CSimRtspServer::Teardown(Exchange& x) {
    if (!x.session) {
        x.status = 454;
        return;
    }
    EndSession(x.session);
    x.session.reset();
}

std::shared_ptr<CRtspSession> CSimRtspServer::FindSession(const std::string& id) {
    if (id.empty()) {
        return nullptr;
    }
    std::lock_guard guard(m_sessionLock);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end()) {
        return nullptr;
    }
    it->second->lastActivityMs.store(platform::MonotonicMs());
    return it->second;
}

void CSimRtspServer::StartStreamer(const std::shared_ptr<CRtspSession>& session) {
    // Started under the table lock, so that EndSession either sees the thread or the session is
    // already gone and nothing starts.
    std::lock_guard guard(m_sessionLock);
    const auto it = m_sessions.find(session->id);
    if (it != m_sessions.end() && it->second == session) {
        session->thread =
                std::thread([this, session] { RunStreamer(*session, m_state, m_bindAddress); });
    }
}

std::string CSimRtspServer::BuildSdp(bool mainStream, const std::string& address) const {
    // RFC 4566 session description; RFC 6184 section 8.2.1 for the H.264 parameters.
    std::string sdp = "v=0\r\n"
                      "o=- 1 1 IN IP4 " +
                      address +
                      "\r\n"
                      "s=Vantrel Media Stream\r\n"
                      "c=IN IP4 0.0.0.0\r\n"
                      "t=0 0\r\n"
                      "a=control:*\r\n";
    const auto clip = mainStream ? m_state.MainClip() : nullptr;
    if (clip && clip->codec == VideoCodec::H265) {
        // RFC 7798 section 7.1: the parameter sets, and decoding order numbers when announced.
        const std::uint32_t donDiff = m_state.Config().h265MaxDonDiff;
        sdp += "m=video 0 RTP/AVP 96\r\n"
               "a=rtpmap:96 H265/90000\r\n"
               "a=fmtp:96 sprop-vps=" +
               Base64Encode(clip->vps) + ";sprop-sps=" + Base64Encode(clip->sps) +
               ";sprop-pps=" + Base64Encode(clip->pps) +
               (donDiff > 0 ? ";sprop-max-don-diff=" + std::to_string(donDiff) : "") + "\r\n";
    } else if (mainStream) {
        const std::string profile = HexString(clip->sps.size() > 1 ? clip->sps[1] : 66, 2) +
                                    HexString(clip->sps.size() > 2 ? clip->sps[2] : 0xE0, 2) +
                                    HexString(clip->sps.size() > 3 ? clip->sps[3] : 30, 2);
        sdp += "m=video 0 RTP/AVP 96\r\n"
               "a=rtpmap:96 H264/90000\r\n"
               "a=fmtp:96 packetization-mode=1;profile-level-id=" +
               profile + ";sprop-parameter-sets=" + Base64Encode(clip->sps) + "," +
               Base64Encode(clip->pps) + "\r\n";
    } else {
        sdp += "m=video 0 RTP/AVP 26\r\n"
               "a=rtpmap:26 JPEG/90000\r\n";
    }
    sdp += "a=framerate:" + FormatDecimal(m_state.StreamFps(mainStream)) + "\r\n";
    sdp += "a=control:" + std::string(kTrack) + "\r\n";
    return sdp;
}

std::shared_ptr<CRtspSession> CSimRtspServer::CreateSession(bool mainStream,
                                                            platform::SocketAddress clientRtp,
                                                            platform::SocketAddress clientRtcp,
                                                            std::uint32_t timeoutSec) {
    auto session = std::make_shared<CRtspSession>();
    session->mainStream = mainStream;
    session->clientRtp = clientRtp;
    session->clientRtcp = clientRtcp;
    session->timeoutSec = timeoutSec;
    session->stopEvent = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset);
    if (!session->stopEvent || !BindPortPair(m_bindAddress, *session)) {
        return nullptr;
    }
    std::lock_guard guard(m_sessionLock);
    // Ids, SSRC, first sequence number and timestamp follow from the seed (RFC 3550 wants the
    // last three random; repeatable runs want them reproducible).
    std::mt19937_64 random(m_state.Config().seed * 1000003ULL + ++m_sessionCounter);
    do {
        session->id = std::to_string(10000000 + random() % 90000000);
    } while (m_sessions.count(session->id) != 0);
    session->ssrc = static_cast<std::uint32_t>(random());
    session->firstSequence = static_cast<std::uint16_t>(random());
    session->firstTimestamp = static_cast<std::uint32_t>(random());
    session->faultSeed = random();
    session->lastActivityMs.store(platform::MonotonicMs());
    m_sessions[session->id] = session;
    return session;
}

std::string CSimRtspServer::PresentationUrl(const std::string& uri, bool mainStream) const {
    // The URL as the client wrote it (so that its host part is one the client can reach), cut
    // back to the presentation.
    if (!StartsWithNoCase(uri, "rtsp://")) {
        return RtspUrlOf(mainStream);
    }
    const std::string path = mainStream ? kMainPath : kSecondPath;
    const std::size_t at = uri.find(path, 7);
    return at == std::string::npos ? RtspUrlOf(mainStream) : uri.substr(0, at + path.size());
}

std::string CSimRtspServer::RtspUrlOf(bool mainStream) const {
    return "rtsp://" + AddressText(m_bindAddress) + ":" + std::to_string(m_port) + "/" +
           (mainStream ? kMainPath : kSecondPath);
}

bool SessionIdleTooLong(std::uint64_t nowMs, std::uint64_t lastActivityMs,
                        std::uint32_t timeoutSec) {
    return nowMs > lastActivityMs && nowMs - lastActivityMs > timeoutSec * 1000ULL;
}

void CSimRtspServer::ExpireSessions() {
    std::vector<std::shared_ptr<CRtspSession>> expired;
    const std::uint64_t now = platform::MonotonicMs();
    {
        std::lock_guard guard(m_sessionLock);
        for (const auto& [id, session] : m_sessions) {
            if (SessionIdleTooLong(now, session->lastActivityMs.load(), session->timeoutSec)) {
                expired.push_back(session);
            }
        }
    }
    for (const auto& session : expired) {
        EndSession(session);
    }
}

void CSimRtspServer::EndSession(const std::shared_ptr<CRtspSession>& session) {
    std::thread streamer;
    {
        std::lock_guard guard(m_sessionLock);
        const auto it = m_sessions.find(session->id);
        if (it == m_sessions.end() || it->second != session) {
            return; // another thread ended it
        }
        m_sessions.erase(it);
        streamer = std::move(session->thread);
    }
    session->stopEvent->Set();
    if (streamer.joinable()) {
        streamer.join();
    }
}

void CSimRtspServer::EndAllSessions() {
    std::vector<std::shared_ptr<CRtspSession>> all;
    {
        std::lock_guard guard(m_sessionLock);
        for (const auto& [id, session] : m_sessions) {
            all.push_back(session);
        }
    }
    for (const auto& session : all) {
        EndSession(session);
    }
}

std::size_t CSimRtspServer::ActiveSessions() const {
    std::lock_guard guard(m_sessionLock);
    return m_sessions.size();
}

} // namespace norvane::sim
