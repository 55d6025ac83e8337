#include "rtsp/base_rtsp_client.h"

#include <algorithm>
#include <array>
#include <optional>
#include <random>

#include "platform/system.h"
#include "platform/wait.h"
#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_reply_framer.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

constexpr std::uint32_t kConnectPollMs = 100; // connectTimeout is counted in steps of this size
constexpr std::size_t kReadSize = 4096;
constexpr std::size_t kInterleavedReadSize = 65536; // a reader takes whole bursts per call
constexpr int kReaderIdleWaitMs = 1000;             // a reader's wait while nothing is held back
constexpr std::size_t kMaxPostedReplies = 8;        // unclaimed replies beyond this are dropped

// WaitMs turns a time-out of the settings into the milliseconds of one wait.
int WaitMs(std::uint32_t milliseconds) {
    return static_cast<int>(std::min<std::uint32_t>(milliseconds, 0x7fffffff));
}

bool IsAbsoluteUrl(std::string_view control) {
    constexpr std::string_view kSchemes[] = {"rtsp://", "rtsps://", "rtspu://"};
    return std::ranges::any_of(
            kSchemes, [&](std::string_view scheme) { return StartsWithNoCase(control, scheme); });
}

// RandomClientNonce returns 128 random bits as 32 hexadecimal digits, a client nonce no server
// can predict (RFC 7616, section 3.4: cnonce).
std::string RandomClientNonce() {
    std::random_device device;
    std::string cnonce;
    for (int i = 0; i < 4; ++i) {
        cnonce += FormatString("%08x", static_cast<unsigned>(device()));
    }
    return cnonce;
}

// ReplyCSeq reads the CSeq header of a framed reply; none when it carries none.
std::optional<std::uint32_t> ReplyCSeq(std::string_view reply) {
    std::size_t position = 0;
    NextLine(reply, position); // status line
    while (position != std::string_view::npos) {
        const std::string_view line = NextLine(reply, position);
        if (ClassifyHeader(line) == kHeaderEmpty) {
            break;
        }
        if (ClassifyHeader(line) == kHeaderCSeq) {
            return ParseDecimal32(line.substr(line.find(':') + 1));
        }
    }
    return std::nullopt;
}

// AnswersRequest tells whether a reply answers request `cseq`: a reply that names a lower CSeq
// answers an earlier request whose wait ended (a camera that numbers its own way still works).
bool AnswersRequest(std::string_view reply, std::uint32_t cseq) {
    const auto replyCSeq = ReplyCSeq(reply);
    return !replyCSeq || *replyCSeq >= cseq;
}

} // namespace

CBaseRTSPClient::CBaseRTSPClient(platform::CEventHandle* stopEvent, IByteStream* stream)
    : m_stopEvent(stopEvent)
    , m_clientNonceSource(RandomClientNonce)
    , m_stream(stream != nullptr ? stream : &m_socketStream) {}

CBaseRTSPClient::~CBaseRTSPClient() {
    Disconnect();
}

bool CBaseRTSPClient::Connect(const RTSPSessionSettings& settings) {
    if (m_connected) {
        return true;
    }
    m_settings = settings;
    // The connect may take connectTimeout rounded down to whole 100 ms steps.
    const std::uint32_t budgetMs = m_settings.connectTimeout / kConnectPollMs * kConnectPollMs;
    // The URL keeps the camera's name; the connection goes to the address the channel looked up
    // for this attempt, so that the name is not looked up twice.
    const std::string host = m_settings.resolvedAddress != 0
                                     ? platform::FormatIPv4(m_settings.resolvedAddress)
                                     : m_settings.address;
    m_splitter.Reset();
    m_lost.store(false);
    {
        const std::lock_guard lock(m_mailLock);
        m_mail.clear();
    }
    m_connected = m_stream->Connect(host, m_settings.port, m_settings.receiveBufferSize,
                                    WaitMs(budgetMs), m_stopEvent);
    return m_connected;
}

void CBaseRTSPClient::Disconnect() {
    if (m_connected) {
        m_stream->Close();
        m_connected = false;
    }
}

std::string CBaseRTSPClient::BaseUrl() const {
    return FormatString("rtsp://%s:%d/%s", m_settings.address.c_str(), m_settings.port,
                        m_settings.path.c_str());
}

std::string CBaseRTSPClient::TrackUrl() const {
    std::string base = BaseUrl();
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
        return m_state.contentBase.empty() ? base : m_state.contentBase;
    }
    if (!m_state.contentBase.empty()) {
        const std::string& named = m_state.contentBase;
        return named.back() == '/' ? named + control : named + "/" + control;
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
        DigestNonceUse use;
        if (!m_state.challenge.qop.empty()) {
            use = m_state.UseNonce(m_state.challenge.nonce, m_clientNonceSource);
        }
        authorization = DigestAuthorization(m_state.challenge, m_settings.userName,
                                            m_settings.password, baseUrl, method, use);
    }
    ++m_state.cseq;
    const std::string cseq = FormatString("CSeq: %u\r\n", m_state.cseq);
    const char* const version = "RTSP/1.0\r\n";
    const char* const accept = "Accept: application/sdp\r\n";
    const char* const userAgent = "User-Agent: Norvane\r\n";
    // The session id goes back exactly as the camera wrote it.
    const std::string session = FormatString("Session: %s\r\n", m_state.session.c_str());
    const char* const range = "Range: npt=0.000-\r\n";
    const std::string transport =
            m_settings.interleaved
                    ? FormatString("Transport: RTP/AVP/TCP;unicast;interleaved=%u-%u\r\n",
                                   unsigned{kRtpChannel}, unsigned{kRtcpChannel})
                    : FormatString("Transport: RTP/AVP/UDP;unicast;client_port=%u-%u\r\n",
                                   static_cast<unsigned>(m_settings.rtpPort),
                                   static_cast<unsigned>(m_settings.rtcpPort));
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
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(request.data()),
                                              request.size());
    std::string reply;
    if (m_settings.interleaved) {
        // Media bytes may be pending at any time, so nothing is discarded: the splitter steps
        // over frames, and a reply to an earlier request is known by its CSeq.
        const std::uint32_t cseq = m_state.cseq;
        if (m_lost.load() ||
            SendLocked(bytes, WaitMs(m_settings.ioTimeout), m_stopEvent) != StreamStatus::Ok ||
            !(m_readerActive.load() ? AwaitPostedReply(reply, cseq)
                                    : ReceiveSplitReply(reply, cseq))) {
            return false;
        }
        const RTSPReply parsed = m_parser.Parse(reply, method);
        m_state.Apply(parsed);
        return parsed.accepted;
    }
    // A reply that arrived after its request timed out must not be taken for the next one.
    if (!m_stream->DiscardPending() ||
        m_stream->Send(bytes, WaitMs(m_settings.ioTimeout), m_stopEvent) != StreamStatus::Ok) {
        return false;
    }
    if (!ReceiveReply(reply)) {
        return false;
    }
    const RTSPReply parsed = m_parser.Parse(reply, method);
    m_state.Apply(parsed);
    return parsed.accepted;
}

bool CBaseRTSPClient::Request(std::uint32_t method) {
    bool ok = RequestAnswering(method);
    for (int followed = 0; !ok && method == kDescribe && IsRedirection(m_state.statusCode) &&
                           followed < kMaxRedirections;
         ++followed) {
        if (!FollowRedirection()) {
            return false;
        }
        ok = RequestAnswering(method);
    }
    return ok;
}

bool CBaseRTSPClient::FollowRedirection() {
    // rtsp://[user[:password]@]host[:port][/path]; the credentials of the settings stay in use.
    std::string_view url = TrimBlanks(m_state.location);
    if (!StartsWithNoCase(url, "rtsp://")) {
        return false;
    }
    url.remove_prefix(7);
    const std::size_t slash = url.find('/');
    std::string_view authority = url.substr(0, slash);
    const std::string_view path =
            slash == std::string_view::npos ? std::string_view{} : url.substr(slash + 1);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::uint32_t port = 554;
    const std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
        const auto number = ParseDecimal32(authority.substr(colon + 1));
        if (!number || *number == 0 || *number > 0xFFFF) {
            return false;
        }
        port = *number;
    }
    const std::string host(authority.substr(0, colon));
    if (host.empty() || host.front() == '[') {
        return false; // IPv6 literals are not reachable by this client
    }
    const std::uint32_t address =
            platform::ResolveIPv4Stoppable(host, m_stopEvent, WaitMs(m_settings.connectTimeout));
    if (address == 0) {
        return false;
    }
    Disconnect();
    RTSPSessionSettings moved = m_settings;
    moved.address = host;
    moved.resolvedAddress = address;
    moved.port = static_cast<std::uint16_t>(port);
    moved.path = std::string(path);
    moved.authScheme = kAuthNone; // the new server challenges afresh
    m_state.session.clear();
    m_state.contentBase.clear();
    return Connect(moved);
}

bool CBaseRTSPClient::RequestAnswering(std::uint32_t method) {
    bool ok = Transact(method);
    bool repeated = false;
    bool repeatedForStale = false;
    while (ok && m_state.statusCode == 401) {
        const RTSPChallenge& challenge = m_state.challenge;
        if (!repeated &&
            (challenge.scheme != m_settings.authScheme || challenge.scheme == kAuthDigest)) {
            // A scheme other than the one in use, or a fresh Digest nonce: the request once more.
            repeated = true;
        } else if (!repeatedForStale && challenge.scheme == kAuthDigest && challenge.stale &&
                   m_settings.authScheme == kAuthDigest) {
            // Our Digest answer was right but its nonce expired meanwhile: answer the new one.
            repeatedForStale = true;
        } else {
            break;
        }
        m_settings.authScheme = challenge.scheme;
        ok = Transact(method);
    }
    // A reply that refuses the request (401, 404, 454, 5xx ...) ends the exchange as a failure;
    // what it carried stays readable.
    return ok && m_state.statusCode / 100 == 2;
}

bool CBaseRTSPClient::ReceiveReply(std::string& reply) {
    // The whole reply, however many segments it arrives in, must come within ioTimeout.
    const CDeadline deadline(m_settings.ioTimeout);
    CRTSPReplyFramer framer;
    std::array<std::uint8_t, kReadSize> buffer{};
    for (;;) {
        const StreamResult result = m_stream->Receive(buffer, deadline.RemainingMs(), m_stopEvent);
        if (result.status != StreamStatus::Ok) {
            return false; // time-out, stop, reset, or closed before the reply was complete
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

StreamStatus CBaseRTSPClient::SendLocked(std::span<const std::uint8_t> data, int timeoutMs,
                                         platform::CEventHandle* stop) {
    const std::lock_guard lock(m_sendLock);
    return m_stream->Send(data, timeoutMs, stop);
}

bool CBaseRTSPClient::ReceiveSplitReply(std::string& reply, std::uint32_t cseq) {
    const CDeadline deadline(m_settings.ioTimeout);
    std::array<std::uint8_t, kReadSize> buffer{};
    for (;;) {
        for (SplitStatus item = m_splitter.Next(); item != SplitStatus::NeedMore;
             item = m_splitter.Next()) {
            if (item == SplitStatus::Failed) {
                m_lost.store(true);
                return false;
            }
            if (item == SplitStatus::Reply && AnswersRequest(m_splitter.ReplyText(), cseq)) {
                reply = std::string(m_splitter.ReplyText());
                return true; // what follows stays buffered for the reader
            }
        }
        const StreamResult result = m_stream->Receive(buffer, deadline.RemainingMs(), m_stopEvent);
        if (result.status != StreamStatus::Ok) {
            if (result.status == StreamStatus::Closed || result.status == StreamStatus::Failed) {
                m_lost.store(true);
            }
            return false;
        }
        m_splitter.Append(std::span(buffer).first(result.bytes));
    }
}

bool CBaseRTSPClient::AwaitPostedReply(std::string& reply, std::uint32_t cseq) {
    const CDeadline deadline(m_settings.ioTimeout);
    for (;;) {
        {
            const std::lock_guard lock(m_mailLock);
            for (std::string& posted : m_mail) {
                if (AnswersRequest(posted, cseq)) {
                    reply = std::move(posted);
                    m_mail.clear();
                    return true;
                }
            }
            m_mail.clear(); // answers to requests nobody waits for any more
        }
        const int remaining = deadline.RemainingMs();
        if (m_lost.load() || remaining == 0 ||
            platform::WaitEvents({m_stopEvent, m_mailEvent.Handle()}, remaining) != 1) {
            return false;
        }
    }
}

void CBaseRTSPClient::SetReaderActive(bool active) {
    m_readerActive.store(active);
    if (active && m_readBuffer.empty()) {
        m_readBuffer.resize(kInterleavedReadSize);
    }
}

InterleavedRead CBaseRTSPClient::ReadInterleaved(IInterleavedSink& sink,
                                                 platform::CEventHandle* stop) {
    const auto drain = [&]() {
        for (SplitStatus item = m_splitter.Next(); item != SplitStatus::NeedMore;
             item = m_splitter.Next()) {
            if (item == SplitStatus::Frame) {
                sink.OnInterleavedFrame(m_splitter.Channel(), m_splitter.Payload());
            } else if (item == SplitStatus::Reply) {
                const std::lock_guard lock(m_mailLock);
                if (m_mail.size() == kMaxPostedReplies) {
                    m_mail.erase(m_mail.begin());
                }
                m_mail.emplace_back(m_splitter.ReplyText());
                m_mailEvent.Set();
            } else {
                return false;
            }
        }
        return true;
    };
    const auto lose = [&]() {
        m_lost.store(true);
        m_mailEvent.Set(); // a request waiting for its reply gives up at once
        return InterleavedRead::Lost;
    };
    if (!m_connected || m_lost.load() || !drain()) {
        return lose();
    }
    const int hold = sink.HoldTimeoutMs();
    const StreamResult result =
            m_stream->Receive(m_readBuffer, hold < 0 ? kReaderIdleWaitMs : hold, stop);
    switch (result.status) {
    case StreamStatus::Ok:
        m_splitter.Append(std::span(m_readBuffer).first(result.bytes));
        return drain() ? InterleavedRead::Ok : lose();
    case StreamStatus::Timeout:
        if (hold >= 0) {
            sink.OnHoldTimeout();
        }
        return InterleavedRead::Ok;
    case StreamStatus::Stopped:
        return InterleavedRead::Stopped;
    case StreamStatus::Closed:
    case StreamStatus::Failed:
        break;
    }
    return lose();
}

bool CBaseRTSPClient::SendInterleaved(std::uint8_t channel, std::span<const std::uint8_t> payload,
                                      int timeoutMs) {
    if (!m_connected || payload.empty() || payload.size() > CInterleavedSplitter::kMaxFrameBytes) {
        return false;
    }
    std::vector<std::uint8_t> frame{CInterleavedSplitter::kFrameMarker, channel,
                                    static_cast<std::uint8_t>(payload.size() >> 8),
                                    static_cast<std::uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return SendLocked(frame, timeoutMs, nullptr) == StreamStatus::Ok;
}

} // namespace norvane
