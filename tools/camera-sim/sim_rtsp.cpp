// The camera's RTSP/1.0 server (RFC 2326): OPTIONS, DESCRIBE, SETUP (RTP over UDP), PLAY,
// GET_PARAMETER and TEARDOWN for the streams "vtl_media/main" (H.264) and "vtl_media/second"
// (RTP/JPEG), with Basic or Digest authentication and session time-outs.
#include <random>

#include "platform/clock.h"
#include "sim_internal.h"
#include "sim_packetizer.h"

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

void CCameraSim::Impl::ServeRtsp(CConnection& connection) {
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
        LogRequest(LoggedRequest::Protocol::Rtsp, request);
        const SimFaults faults = Faults();
        if (faults.closeRtspConnection) {
            return; // the camera drops the connection without an answer
        }
        std::vector<std::pair<std::string, std::string>> headers;
        const auto cseq = request.head.Header("CSeq");
        int status = 200;
        std::string body;
        std::shared_ptr<CRtspSession> startAfterReply;
        const std::string sessionId = SessionIdOf(request.head.Header("Session"));
        std::shared_ptr<CRtspSession> session;
        if (!sessionId.empty()) {
            std::lock_guard guard(sessionLock);
            const auto it = sessions.find(sessionId);
            if (it != sessions.end()) {
                session = it->second;
                session->lastActivityMs.store(platform::MonotonicMs());
            }
        }
        if (cseq) {
            headers.emplace_back("CSeq", *cseq);
        }
        headers.emplace_back("Server", "Vantrel RTSP Server");
        const std::string& method = request.method;
        const RtspTarget target = TargetOf(request.uri);
        if (!cseq || !ParseUnsigned(*cseq)) {
            status = 400;
        } else if (request.version != "RTSP/1.0") {
            status = 505;
        } else if (faults.rtspAlways401 ||
                   !rtspAuth->Check(method, request.head.Header("Authorization"))) {
            status = 401;
            headers.emplace_back("WWW-Authenticate",
                                 rtspAuth->Mode() == AuthMode::None
                                         ? "Basic realm=\"" + config.realm + "\""
                                         : rtspAuth->Challenge());
        } else if (!sessionId.empty() && !session && method != "OPTIONS" && method != "DESCRIBE") {
            status = 454;
        } else if (method == "OPTIONS") {
            headers.emplace_back("Public",
                                 "OPTIONS, DESCRIBE, SETUP, TEARDOWN, PLAY, GET_PARAMETER");
        } else if (method == "DESCRIBE") {
            if (!target.valid || target.track) {
                status = 404;
            } else {
                body = BuildSdp(target.mainStream, AddressText(connection.LocalAddress()));
                headers.emplace_back("Content-Base",
                                     PresentationUrl(request.uri, target.mainStream) + "/");
                headers.emplace_back("Content-Type", "application/sdp");
            }
        } else if (method == "SETUP") {
            std::uint16_t clientRtp = 0;
            std::uint16_t clientRtcp = 0;
            if (!target.valid) {
                status = 404;
            } else if (!ClientPorts(request.head.Header("Transport").value_or(""), clientRtp,
                                    clientRtcp)) {
                status = 461;
            } else if (session) {
                status = 455; // one track per session: a second SETUP has nothing to add
            } else if (ActiveSessions() >= kMaxSessions) {
                status = 453;
            } else {
                session = CreateSession(target.mainStream, {connection.Peer().address, clientRtp},
                                        {connection.Peer().address, clientRtcp},
                                        faults.sessionTimeoutSec != 0 ? faults.sessionTimeoutSec
                                                                      : config.sessionTimeoutSec);
                if (!session) {
                    status = 500;
                }
                if (session) {
                    headers.emplace_back(
                            "Transport",
                            "RTP/AVP;unicast;client_port=" + std::to_string(clientRtp) + "-" +
                                    std::to_string(clientRtcp) +
                                    ";server_port=" + std::to_string(session->serverRtpPort) + "-" +
                                    std::to_string(session->serverRtcpPort) +
                                    ";ssrc=" + HexString(session->ssrc, 8));
                }
            }
        } else if (method == "PLAY") {
            if (!session) {
                status = 454;
            } else {
                headers.emplace_back("Range", "npt=0.000-");
                headers.emplace_back("RTP-Info",
                                     "url=" + PresentationUrl(request.uri, session->mainStream) +
                                             "/" + kTrack +
                                             ";seq=" + std::to_string(session->firstSequence) +
                                             ";rtptime=" + std::to_string(session->firstTimestamp));
                std::lock_guard guard(sessionLock);
                if (!session->playing) {
                    session->playing = true;
                    startAfterReply = session;
                }
            }
        } else if (method == "GET_PARAMETER") {
            // Harmless keep-alive: nothing to report.
        } else if (method == "TEARDOWN") {
            if (!session) {
                status = 454;
            } else {
                EndSession(session);
                session.reset();
            }
        } else {
            status = 501;
        }
        if (session && status == 200) {
            headers.emplace_back("Session",
                                 session->id + ";timeout=" + std::to_string(session->timeoutSec));
        }
        if (!body.empty()) {
            headers.emplace_back("Content-Length", std::to_string(body.size()));
        }
        const std::string reply = FormatReply(
                "RTSP/1.0 " + std::to_string(status) + " " + RtspReason(status), headers, body);
        const bool sent = connection.Send(reply, faults);
        if (startAfterReply) {
            // Started under the table lock, so that EndSession either sees the thread or the
            // session is already gone and nothing starts.
            std::lock_guard guard(sessionLock);
            const auto it = sessions.find(startAfterReply->id);
            if (it != sessions.end() && it->second == startAfterReply) {
                startAfterReply->thread =
                        std::thread([this, startAfterReply] { RunStreamer(startAfterReply); });
            }
        }
        if (!sent) {
            return;
        }
    }
}

std::string CCameraSim::Impl::BuildSdp(bool mainStream, const std::string& address) const {
    // RFC 4566 session description; RFC 6184 section 8.2.1 for the H.264 parameters.
    std::string sdp = "v=0\r\n"
                      "o=- 1 1 IN IP4 " +
                      address +
                      "\r\n"
                      "s=Vantrel Media Stream\r\n"
                      "c=IN IP4 0.0.0.0\r\n"
                      "t=0 0\r\n"
                      "a=control:*\r\n";
    if (mainStream) {
        const auto clip = MainClip();
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
    sdp += "a=framerate:" + FormatDecimal(StreamFps(mainStream)) + "\r\n";
    sdp += "a=control:" + std::string(kTrack) + "\r\n";
    return sdp;
}

std::shared_ptr<CRtspSession> CCameraSim::Impl::CreateSession(bool mainStream,
                                                              platform::SocketAddress clientRtp,
                                                              platform::SocketAddress clientRtcp,
                                                              std::uint32_t timeoutSec) {
    auto session = std::make_shared<CRtspSession>();
    session->mainStream = mainStream;
    session->clientRtp = clientRtp;
    session->clientRtcp = clientRtcp;
    session->timeoutSec = timeoutSec;
    session->stopEvent = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset);
    if (!session->stopEvent || !BindPortPair(bindAddress, *session)) {
        return nullptr;
    }
    std::lock_guard guard(sessionLock);
    // Ids, SSRC, first sequence number and timestamp follow from the seed (RFC 3550 wants the
    // last three random; repeatable runs want them reproducible).
    std::mt19937_64 random(config.seed * 1000003ULL + ++sessionCounter);
    do {
        session->id = std::to_string(10000000 + random() % 90000000);
    } while (sessions.count(session->id) != 0);
    session->ssrc = static_cast<std::uint32_t>(random());
    session->firstSequence = static_cast<std::uint16_t>(random());
    session->firstTimestamp = static_cast<std::uint32_t>(random());
    session->faultSeed = random();
    session->lastActivityMs.store(platform::MonotonicMs());
    sessions[session->id] = session;
    return session;
}

std::string CCameraSim::Impl::PresentationUrl(const std::string& uri, bool mainStream) const {
    // The URL as the client wrote it (so that its host part is one the client can reach), cut
    // back to the presentation.
    if (!StartsWithNoCase(uri, "rtsp://")) {
        return RtspUrlOf(mainStream);
    }
    const std::string path = mainStream ? kMainPath : kSecondPath;
    const std::size_t at = uri.find(path, 7);
    return at == std::string::npos ? RtspUrlOf(mainStream) : uri.substr(0, at + path.size());
}

std::string CCameraSim::Impl::RtspUrlOf(bool mainStream) const {
    return "rtsp://" + AddressText(bindAddress) + ":" + std::to_string(rtspPort) + "/" +
           (mainStream ? kMainPath : kSecondPath);
}

bool SessionIdleTooLong(std::uint64_t nowMs, std::uint64_t lastActivityMs,
                        std::uint32_t timeoutSec) {
    return nowMs > lastActivityMs && nowMs - lastActivityMs > timeoutSec * 1000ULL;
}

void CCameraSim::Impl::ExpireSessions() {
    std::vector<std::shared_ptr<CRtspSession>> expired;
    const std::uint64_t now = platform::MonotonicMs();
    {
        std::lock_guard guard(sessionLock);
        for (const auto& [id, session] : sessions) {
            if (SessionIdleTooLong(now, session->lastActivityMs.load(), session->timeoutSec)) {
                expired.push_back(session);
            }
        }
    }
    for (const auto& session : expired) {
        EndSession(session);
    }
}

void CCameraSim::Impl::EndSession(const std::shared_ptr<CRtspSession>& session) {
    std::thread streamer;
    {
        std::lock_guard guard(sessionLock);
        const auto it = sessions.find(session->id);
        if (it == sessions.end() || it->second != session) {
            return; // another thread ended it
        }
        sessions.erase(it);
        streamer = std::move(session->thread);
    }
    session->stopEvent->Set();
    if (streamer.joinable()) {
        streamer.join();
    }
}

void CCameraSim::Impl::EndAllSessions() {
    std::vector<std::shared_ptr<CRtspSession>> all;
    {
        std::lock_guard guard(sessionLock);
        for (const auto& [id, session] : sessions) {
            all.push_back(session);
        }
    }
    for (const auto& session : all) {
        EndSession(session);
    }
}

} // namespace norvane::sim
