#include "rtsp/base_rtsp_client.h"

#include <algorithm>
#include <array>

#include "platform/clock.h"
#include "platform/event_handle.h"
#include "platform/system.h"
#include "platform/wait.h"
#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_reply_framer.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

constexpr std::uint32_t kConnectPollMs = 100; // connectTimeout is counted in steps of this size
constexpr std::size_t kReadSize = 4096;

using platform::WaitFor;
using platform::WaitResult;

// CDeadline turns a time budget into the remaining milliseconds for each wait.
class CDeadline {
public:
    explicit CDeadline(std::uint64_t budgetMs) : m_end(platform::MonotonicMs() + budgetMs) {}

    [[nodiscard]] int RemainingMs() const {
        const std::uint64_t now = platform::MonotonicMs();
        return now >= m_end ? 0
                            : static_cast<int>(std::min<std::uint64_t>(m_end - now, 0x7fffffff));
    }

private:
    std::uint64_t m_end;
};

bool IsAbsoluteUrl(std::string_view control) {
    constexpr std::string_view kSchemes[] = {"rtsp://", "rtsps://", "rtspu://"};
    for (const std::string_view scheme : kSchemes) {
        if (StartsWithNoCase(control, scheme)) {
            return true;
        }
    }
    return false;
}

} // namespace

CBaseRTSPClient::CBaseRTSPClient(platform::CEventHandle* stopEvent) : m_stopEvent(stopEvent) {}

CBaseRTSPClient::~CBaseRTSPClient() {
    Disconnect();
}

bool CBaseRTSPClient::Connect(const RTSPSessionSettings& settings) {
    if (m_connected) {
        return true;
    }
    m_settings = settings;
    m_socket = platform::CSocket::CreateTcp();
    if (!m_socket.IsValid()) {
        return false;
    }
    const auto fail = [this]() {
        m_socket.Close();
        return false;
    };
    if (!m_socket.SetReceiveBufferSize(m_settings.receiveBufferSize) ||
        !m_socket.SetReceiveTimeout(m_settings.ioTimeout)) {
        return fail();
    }
    const std::uint32_t address = platform::ResolveIPv4(m_settings.address);
    if (address == 0 || !m_socket.SetNonBlocking(true)) {
        return fail();
    }
    switch (m_socket.Connect({address, m_settings.port})) {
    case platform::ConnectResult::Connected:
        break;
    case platform::ConnectResult::InProgress: {
        // The connect may take connectTimeout rounded down to whole 100 ms steps.
        const std::uint32_t polls = m_settings.connectTimeout / kConnectPollMs;
        if (polls < 1) {
            return fail();
        }
        const WaitResult wait = platform::WaitSocket(m_socket, WaitFor::Write, m_stopEvent,
                                                     static_cast<int>(polls * kConnectPollMs));
        if (wait != WaitResult::Ready || m_socket.PendingError() != platform::SocketError::None) {
            return fail();
        }
        break;
    }
    case platform::ConnectResult::Failed:
        return fail();
    }
    // The socket stays non-blocking: every send and receive waits through WaitSocket, so that a
    // stop ends it and no single call can block beyond ioTimeout.
    m_connected = true;
    return true;
}

void CBaseRTSPClient::Disconnect() {
    if (m_connected) {
        m_socket.Close();
        m_connected = false;
    }
}

std::string CBaseRTSPClient::BaseUrl() const {
    return FormatString("rtsp://%s:%d/%s", m_settings.address.c_str(), m_settings.port,
                        m_settings.path.c_str());
}

std::string CBaseRTSPClient::TrackUrl() const {
    const std::string base = BaseUrl();
    std::string control;
    switch (m_settings.track) {
    case 0:
        control = m_state.videoControl;
        break;
    case 1:
        control = m_state.audioControl;
        break;
    case 2:
        control = m_state.metadataControl;
        break;
    default:
        break;
    }
    // RFC 2326, appendix C.1.1: an absolute control is the URL itself; "*" is the base URL.
    if (IsAbsoluteUrl(control)) {
        return control;
    }
    if (control == "*") {
        return base;
    }
    return m_settings.path.empty() ? base + control : base + "/" + control;
}

std::string CBaseRTSPClient::BuildRequest(std::uint32_t method) {
    const std::string baseUrl = BaseUrl();
    std::string authorization;
    if (m_settings.authScheme == kAuthBasic) {
        const auto credentials = BasicCredentials(m_settings.userName, m_settings.password);
        if (!credentials) {
            return {};
        }
        authorization = FormatString("Authorization: Basic %s\r\n", credentials->c_str());
    } else if (m_settings.authScheme == kAuthDigest) {
        authorization = DigestAuthorization(m_state.challenge, m_settings.userName,
                                            m_settings.password, baseUrl, method);
    }
    ++m_state.cseq;
    const std::string cseq = FormatString("CSeq: %u\r\n", m_state.cseq);
    const char* const version = "RTSP/1.0\r\n";
    const char* const accept = "Accept: application/sdp\r\n";
    const char* const userAgent = "User-Agent: Norvane\r\n";
    // The session id goes back exactly as the camera wrote it.
    const std::string session = FormatString("Session: %s\r\n", m_state.session.c_str());
    const char* const range = "Range: npt=0.000-\r\n";
    const std::string transport = FormatString(
            "Transport: RTP/AVP/UDP;unicast;client_port=%u-%u\r\n",
            static_cast<unsigned>(m_settings.rtpPort), static_cast<unsigned>(m_settings.rtcpPort));
    const char* const auth = authorization.c_str();

    switch (method) {
    case kDescribe:
        return FormatString("DESCRIBE %s %s%s%s%s%s\r\n", baseUrl.c_str(), version, cseq.c_str(),
                            accept, auth, userAgent);
    case kSetup:
        return FormatString("SETUP %s %s%s%s%s%s\r\n", TrackUrl().c_str(), version, cseq.c_str(),
                            transport.c_str(), auth, userAgent);
    case kPlay:
        return FormatString("PLAY %s %s%s%s%s%s%s\r\n", baseUrl.c_str(), version, cseq.c_str(),
                            session.c_str(), range, auth, userAgent);
    case kTeardown:
        return FormatString("TEARDOWN %s %s%s%s%s%s\r\n", baseUrl.c_str(), version, cseq.c_str(),
                            session.c_str(), auth, userAgent);
    case kOptions:
        return FormatString("OPTIONS %s %s%s%s%s%s\r\n", baseUrl.c_str(), version, cseq.c_str(),
                            session.c_str(), auth, userAgent);
    case kPause:
        return FormatString("PAUSE %s %s%s%s%s%s%s\r\n", baseUrl.c_str(), version, cseq.c_str(),
                            session.c_str(), range, auth, userAgent);
    default:
        return {};
    }
}

bool CBaseRTSPClient::Transact(std::uint32_t method) {
    if (!m_connected) {
        return false;
    }
    const std::string request = BuildRequest(method);
    if (request.empty()) {
        return false;
    }
    if (!DiscardStaleInput() || !SendAll(request)) {
        return false;
    }
    std::string reply;
    if (!ReceiveReply(reply)) {
        return false;
    }
    const RTSPReply parsed = m_parser.Parse(reply, method);
    m_state.Apply(parsed);
    return parsed.accepted;
}

bool CBaseRTSPClient::Request(std::uint32_t method) {
    const bool ok = Transact(method);
    if (ok && m_state.statusCode == 401) {
        if (m_state.challenge.scheme != m_settings.authScheme) {
            m_settings.authScheme = m_state.challenge.scheme;
            return Transact(method);
        }
        if (m_state.challenge.scheme == kAuthDigest) {
            return Transact(method); // a fresh nonce
        }
    }
    return ok;
}

bool CBaseRTSPClient::DiscardStaleInput() {
    // A reply that arrived after its request timed out must not be taken for the next one.
    std::array<std::uint8_t, kReadSize> buffer{};
    for (;;) {
        const platform::IoResult result = m_socket.Receive(buffer);
        if (result.error == platform::SocketError::WouldBlock) {
            return true;
        }
        if (!result.Ok() || result.bytes == 0) {
            return false;
        }
    }
}

bool CBaseRTSPClient::SendAll(const std::string& request) {
    const CDeadline deadline(m_settings.ioTimeout);
    std::span<const std::uint8_t> rest(reinterpret_cast<const std::uint8_t*>(request.data()),
                                       request.size());
    while (!rest.empty()) {
        const platform::IoResult result = m_socket.Send(rest);
        if (result.Ok()) {
            rest = rest.subspan(result.bytes);
            continue;
        }
        if (result.error != platform::SocketError::WouldBlock &&
            result.error != platform::SocketError::Interrupted) {
            return false;
        }
        if (platform::WaitSocket(m_socket, WaitFor::Write, m_stopEvent, deadline.RemainingMs()) !=
            WaitResult::Ready) {
            return false;
        }
    }
    return true;
}

bool CBaseRTSPClient::ReceiveReply(std::string& reply) {
    // The whole reply, however many segments it arrives in, must come within ioTimeout.
    const CDeadline deadline(m_settings.ioTimeout);
    CRTSPReplyFramer framer;
    std::array<std::uint8_t, kReadSize> buffer{};
    for (;;) {
        if (platform::WaitSocket(m_socket, WaitFor::Read, m_stopEvent, deadline.RemainingMs()) !=
            WaitResult::Ready) {
            return false;
        }
        const platform::IoResult result = m_socket.Receive(buffer);
        if (result.error == platform::SocketError::WouldBlock ||
            result.error == platform::SocketError::Interrupted) {
            continue;
        }
        if (!result.Ok() || result.bytes == 0) {
            return false; // reset, or closed before the reply was complete
        }
        switch (framer.Feed(std::span(buffer).first(result.bytes))) {
        case FrameStatus::NeedMore:
            break;
        case FrameStatus::Complete:
            reply = std::string(framer.Reply());
            return true;
        case FrameStatus::TooLarge:
        case FrameStatus::Malformed:
            return false;
        }
    }
}

} // namespace norvane
