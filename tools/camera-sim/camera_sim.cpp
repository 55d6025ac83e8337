#include "camera_sim.h"

#include <algorithm>
#include <random>

#include "platform/system.h"
#include "platform/wait.h"
#include "sim_http.h"
#include "sim_internal.h"
#include "sim_rtsp.h"
#include "sim_state.h"

namespace norvane::sim {

namespace {

constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
constexpr std::size_t kMaxNonces = 64;
constexpr int kAcceptPollMs = 200; // also the period of the session time-out check
// Connections beyond this many are closed at once, so that a misbehaving client cannot make a
// long-running simulator grow without limit.
constexpr std::size_t kMaxConnections = 64;
constexpr int kListenBacklog = 128;
constexpr std::uint32_t kMinMtu = 64;
constexpr std::uint32_t kMaxMtu = 65000;
constexpr double kMaxFps = 240.0;

} // namespace

// ---- CThreadSet -----------------------------------------------------------------------------

void CThreadSet::Spawn(std::function<void()> body) {
    std::lock_guard guard(m_lock);
    ReapLocked();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([body = std::move(body), done] {
        body();
        done->store(true);
    });
    m_threads.push_back(Entry{std::move(thread), std::move(done)});
}

void CThreadSet::ReapLocked() {
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t CThreadSet::Running() {
    std::lock_guard guard(m_lock);
    ReapLocked();
    return m_threads.size();
}

void CThreadSet::JoinAll() {
    std::list<Entry> threads;
    {
        std::lock_guard guard(m_lock);
        threads.swap(m_threads);
    }
    for (auto& entry : threads) {
        if (entry.thread.joinable()) {
            entry.thread.join();
        }
    }
}

// ---- CAuthenticator -------------------------------------------------------------------------

CAuthenticator::CAuthenticator(AuthMode mode, std::string user, std::string password,
                               std::string realm, bool offerQop, std::string algorithm)
    : m_mode(mode)
    , m_user(std::move(user))
    , m_password(std::move(password))
    , m_realm(std::move(realm))
    , m_offerQop(offerQop)
    , m_algorithm(std::move(algorithm)) {
    std::random_device device;
    m_nonceCounter = (static_cast<std::uint64_t>(device()) << 32) | device();
}

std::string CAuthenticator::Challenge() {
    if (m_mode != AuthMode::Digest) {
        return "Basic realm=\"" + m_realm + "\"";
    }
    std::string nonce;
    {
        std::lock_guard guard(m_lock);
        nonce = Md5Hex("nonce:" + std::to_string(++m_nonceCounter));
        m_nonces.push_back(nonce);
        if (m_nonces.size() > kMaxNonces) {
            m_nonces.pop_front();
        }
    }
    std::string challenge = "Digest realm=\"" + m_realm + "\", nonce=\"" + nonce + "\"";
    if (m_offerQop) {
        challenge += ", qop=\"auth\"";
    }
    if (m_offerQop || !EqualsNoCase(m_algorithm, "MD5")) {
        challenge += ", algorithm=" + m_algorithm;
    }
    return challenge;
}

bool CAuthenticator::Check(const std::string& method,
                           const std::optional<std::string>& authorization) {
    if (m_mode == AuthMode::None) {
        return true;
    }
    if (!authorization) {
        return false;
    }
    const std::string_view value = *authorization;
    const std::size_t blank = value.find(' ');
    if (blank == std::string_view::npos) {
        return false;
    }
    const std::string_view scheme = value.substr(0, blank);
    const std::string_view rest = TrimBlanks(value.substr(blank + 1));
    if (m_mode == AuthMode::Basic) {
        if (!EqualsNoCase(scheme, "Basic")) {
            return false;
        }
        const auto decoded = Base64Decode(rest);
        return decoded &&
               std::string(decoded->begin(), decoded->end()) == m_user + ":" + m_password;
    }
    return EqualsNoCase(scheme, "Digest") && CheckDigest(method, rest);
}

bool CAuthenticator::CheckDigest(const std::string& method, std::string_view text) {
    const auto params = ParseAuthParams(text);
    if (!params) {
        return false;
    }
    std::map<std::string, std::string> p(params->begin(), params->end());
    const auto get = [&](const char* name) {
        const auto it = p.find(name);
        return it == p.end() ? std::string() : it->second;
    };
    const std::string nonce = get("nonce");
    const std::string uri = get("uri");
    const std::string algorithm = get("algorithm");
    // An answer names the challenge's algorithm; only MD5 may be left unnamed.
    const bool algorithmMatches = algorithm.empty() ? EqualsNoCase(m_algorithm, "MD5")
                                                    : EqualsNoCase(algorithm, m_algorithm);
    if (get("username") != m_user || get("realm") != m_realm || uri.empty() || !algorithmMatches) {
        return false;
    }
    {
        std::lock_guard guard(m_lock);
        if (std::find(m_nonces.begin(), m_nonces.end(), nonce) == m_nonces.end()) {
            return false;
        }
    }
    // RFC 7616 section 3.4.1; without qop the RFC 2069 form that RFC 2617 keeps.
    const DigestHash hash =
            StartsWithNoCase(m_algorithm, "SHA-256") ? DigestHash::Sha256 : DigestHash::Md5;
    const auto h = [hash](const std::string& input) { return DigestHex(hash, input); };
    const bool session =
            m_algorithm.size() > 5 &&
            EqualsNoCase(std::string_view(m_algorithm).substr(m_algorithm.size() - 5), "-sess");
    const std::string qop = get("qop");
    const std::string nc = get("nc");
    const std::string cnonce = get("cnonce");
    std::string ha1 = h(m_user + ":" + m_realm + ":" + m_password);
    if (session) {
        if (cnonce.empty()) {
            return false;
        }
        ha1 = h(ha1 + ":" + nonce + ":" + cnonce); // RFC 7616 section 3.4.2
    }
    const std::string ha2 = h(method + ":" + uri);
    std::string expected;
    if (qop.empty()) {
        expected = h(ha1 + ":" + nonce + ":" + ha2);
    } else if (qop == "auth") {
        if (nc.empty() || cnonce.empty()) {
            return false;
        }
        expected = h(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
    } else {
        return false;
    }
    return AsciiLower(get("response")) == expected;
}

// ---- CConnection ----------------------------------------------------------------------------

CConnection::ReadResult CConnection::Read(ReceivedRequest& request, int idleTimeoutMs) {
    std::size_t headLength = 0;
    std::size_t bodyLength = 0;
    bool haveHead = false;
    while (true) {
        // Interleaved frames from the client come between requests (RFC 2326, 10.12).
        while (!haveHead && m_buffer.size() >= 4 && m_buffer[0] == '$') {
            const std::size_t length = static_cast<std::uint8_t>(m_buffer[2]) << 8 |
                                       static_cast<std::uint8_t>(m_buffer[3]);
            if (m_buffer.size() < 4 + length) {
                break;
            }
            if (m_onFrame) {
                m_onFrame(static_cast<std::uint8_t>(m_buffer[1]),
                          {reinterpret_cast<const std::uint8_t*>(m_buffer.data()) + 4, length});
            }
            m_buffer.erase(0, 4 + length);
        }
        const bool framePending = !haveHead && !m_buffer.empty() && m_buffer[0] == '$';
        if (!haveHead && !framePending) {
            headLength = FindHeadEnd(m_buffer);
            if (headLength > kMaxHeadBytes) {
                return ReadResult::Malformed;
            }
            if (headLength > 0) {
                auto head = ParseMessageHead(std::string_view(m_buffer).substr(0, headLength));
                if (!head) {
                    return ReadResult::Malformed;
                }
                request.head = std::move(*head);
                request.headText = m_buffer.substr(0, headLength);
                const std::string& line = request.head.startLine;
                const std::size_t first = line.find(' ');
                const std::size_t second =
                        first == std::string::npos ? first : line.find(' ', first + 1);
                if (second == std::string::npos) {
                    return ReadResult::Malformed;
                }
                request.method = line.substr(0, first);
                request.uri = line.substr(first + 1, second - first - 1);
                request.version = line.substr(second + 1);
                const auto length = request.head.Header("Content-Length");
                if (length) {
                    const auto value = ParseUnsigned(*length);
                    if (!value || *value > kMaxBodyBytes) {
                        return ReadResult::Malformed;
                    }
                    bodyLength = *value;
                }
                haveHead = true;
            } else if (m_buffer.size() > kMaxHeadBytes) {
                return ReadResult::Malformed;
            }
        }
        if (haveHead && m_buffer.size() >= headLength + bodyLength) {
            request.body = m_buffer.substr(headLength, bodyLength);
            m_buffer.erase(0, headLength + bodyLength);
            return ReadResult::Ok;
        }
        switch (platform::WaitSocket(m_socket, platform::WaitFor::Read, m_stop, idleTimeoutMs)) {
        case platform::WaitResult::Ready:
            break;
        case platform::WaitResult::Stopped:
            return ReadResult::Stopped;
        default:
            return ReadResult::Closed;
        }
        std::uint8_t chunk[4096];
        const auto result = m_socket.Receive(chunk);
        if (!result.Ok() || result.bytes == 0) {
            return ReadResult::Closed;
        }
        m_buffer.append(reinterpret_cast<const char*>(chunk), result.bytes);
    }
}

bool CConnection::SendAll(std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        const auto result = m_socket.Send(data);
        if (!result.Ok() || result.bytes == 0) {
            return false;
        }
        data = data.subspan(result.bytes);
    }
    return true;
}

bool CConnection::SendFrame(std::uint8_t channel, std::span<const std::uint8_t> data) {
    if (data.size() > 0xFFFF) {
        return false;
    }
    const std::uint8_t head[4] = {'$', channel, static_cast<std::uint8_t>(data.size() >> 8),
                                  static_cast<std::uint8_t>(data.size())};
    const std::lock_guard guard(m_sendLock);
    return SendAll(head) && SendAll(data);
}

bool CConnection::Send(const std::string& reply, const SimFaults& faults) {
    if (faults.replyDelayMs > 0 && m_stop->Wait(static_cast<int>(faults.replyDelayMs))) {
        return false;
    }
    const std::lock_guard guard(m_sendLock);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(reply.data()),
                                              reply.size());
    if (faults.splitReplyBytes == 0) {
        return SendAll(bytes);
    }
    for (std::size_t at = 0; at < bytes.size(); at += faults.splitReplyBytes) {
        if (at > 0 && faults.splitDelayMs > 0 &&
            m_stop->Wait(static_cast<int>(faults.splitDelayMs))) {
            return false;
        }
        if (!SendAll(bytes.subspan(
                    at, std::min<std::size_t>(faults.splitReplyBytes, bytes.size() - at)))) {
            return false;
        }
    }
    return true;
}

std::string FormatReply(const std::string& firstLine, const Headers& headers,
                        const std::string& body) {
    std::string reply = firstLine + "\r\n";
    for (const auto& [name, value] : headers) {
        reply += name + ": " + value + "\r\n";
    }
    reply += "\r\n";
    reply += body;
    return reply;
}

std::string AddressText(std::uint32_t address) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address); // network order
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

LoggedRequest LogEntry(LoggedRequest::Protocol protocol, const ReceivedRequest& request) {
    return LoggedRequest{protocol, request.method, request.uri, request.headText};
}

// ---- CListener ------------------------------------------------------------------------------

bool CListener::Listen(std::uint32_t address, std::uint16_t port, const char* what,
                       std::string* error) {
    m_socket = platform::CSocket::CreateTcp();
    if (!m_socket.IsValid() || !m_socket.SetReuseAddress(true) || !m_socket.Bind(address, port) ||
        !m_socket.Listen(kListenBacklog)) {
        *error = std::string("cannot listen for ") + what + " on port " + std::to_string(port);
        m_socket.Close();
        return false;
    }
    m_address = address;
    m_port = m_socket.LocalPort();
    return true;
}

void CListener::Start(platform::CEventHandle* stop, CThreadSet& connections, ServeFn serve,
                      std::function<void()> tick) {
    m_serve = std::move(serve);
    m_tick = std::move(tick);
    m_acceptor = std::thread([this, stop, &connections] { AcceptLoop(stop, connections); });
}

void CListener::Join() {
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
}

void CListener::AcceptLoop(platform::CEventHandle* stop, CThreadSet& connections) {
    while (true) {
        const auto wait =
                platform::WaitSocket(m_socket, platform::WaitFor::Read, stop, kAcceptPollMs);
        if (wait == platform::WaitResult::Stopped) {
            return;
        }
        if (m_tick) {
            m_tick();
        }
        if (wait != platform::WaitResult::Ready) {
            continue;
        }
        platform::SocketAddress peer;
        platform::CSocket socket = m_socket.Accept(&peer);
        if (!socket.IsValid() || connections.Running() >= kMaxConnections) {
            continue; // over the limit the connection is closed at once
        }
        auto connection = std::make_shared<CConnection>(std::move(socket), peer, stop);
        connection->SetLocalAddress(m_address);
        connections.Spawn([this, connection] { m_serve(*connection); });
    }
}

// ---- CCameraSim -----------------------------------------------------------------------------

// The simulator's pieces: the shared state, one server per protocol with its listener, and the
// threads of their connections. Start and Stop (on the owner's thread) start and join them.
struct CCameraSim::Impl {
    explicit Impl(CameraSimConfig config) : state(std::move(config)), http(state), rtsp(state) {}

    CSimState state;
    CSimHttpServer http;
    CSimRtspServer rtsp;
    std::unique_ptr<platform::CEventHandle> stopEvent;
    CListener httpListener;
    CListener rtspListener;
    CThreadSet connections;
    bool started = false;
};

// ---- CCameraSim -----------------------------------------------------------------------------

CCameraSim::CCameraSim(CameraSimConfig config)
    : m_impl(std::make_unique<Impl>(std::move(config))) {}

CCameraSim::~CCameraSim() {
    Stop();
}

bool CCameraSim::Start(std::string* error) {
    std::string ignored;
    if (error == nullptr) {
        error = &ignored;
    }
    Impl& impl = *m_impl;
    if (impl.started) {
        *error = "already started";
        return false;
    }
    const CameraSimConfig& config = impl.state.Config();
    if (config.mtu < kMinMtu || config.mtu > kMaxMtu) {
        *error = "the MTU must be between 64 and 65000 bytes";
        return false;
    }
    if (!(config.fps > 0.0 && config.fps <= kMaxFps)) {
        *error = "the frame rate must be above 0 and at most 240";
        return false;
    }
    if (!impl.state.LoadMedia(error)) {
        return false;
    }
    // 0.0.0.0 serves every local address; any other address must resolve.
    const std::uint32_t address = platform::ResolveIPv4(config.bindAddress);
    if (address == 0 && config.bindAddress != "0.0.0.0") {
        *error = "cannot resolve the address " + config.bindAddress;
        return false;
    }
    impl.stopEvent = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset);
    if (!impl.stopEvent) {
        *error = "cannot create the stop event";
        return false;
    }
    if (!impl.httpListener.Listen(address, config.httpPort, "HTTP", error) ||
        !impl.rtspListener.Listen(address, config.rtspPort, "RTSP", error)) {
        impl.httpListener.Close();
        return false;
    }
    impl.rtsp.SetEndpoint(address, impl.rtspListener.Port());
    impl.httpListener.Start(impl.stopEvent.get(), impl.connections,
                            [&impl](CConnection& connection) { impl.http.Serve(connection); });
    impl.rtspListener.Start(
            impl.stopEvent.get(), impl.connections,
            [&impl](CConnection& connection) { impl.rtsp.Serve(connection); },
            [&impl] { impl.rtsp.ExpireSessions(); });
    impl.started = true;
    return true;
}

void CCameraSim::Stop() {
    Impl& impl = *m_impl;
    if (!impl.started) {
        return;
    }
    impl.stopEvent->Set();
    impl.httpListener.Join();
    impl.rtspListener.Join();
    impl.connections.JoinAll();
    impl.rtsp.EndAllSessions();
    impl.httpListener.Close();
    impl.rtspListener.Close();
    impl.started = false;
}

std::uint16_t CCameraSim::HttpPort() const {
    return m_impl->httpListener.Port();
}

std::uint16_t CCameraSim::RtspPort() const {
    return m_impl->rtspListener.Port();
}

std::string CCameraSim::RtspUrl(const std::string& path) const {
    return "rtsp://" + m_impl->state.Config().bindAddress + ":" + std::to_string(RtspPort()) + "/" +
           path;
}

std::string CCameraSim::HttpUrl(const std::string& pathAndQuery) const {
    return "http://" + m_impl->state.Config().bindAddress + ":" + std::to_string(HttpPort()) +
           pathAndQuery;
}

void CCameraSim::SetFaults(const SimFaults& faults) {
    m_impl->state.SetFaults(faults);
}

SimFaults CCameraSim::GetFaults() const {
    return m_impl->state.Faults();
}

std::vector<LoggedRequest> CCameraSim::Requests() const {
    return m_impl->state.Requests();
}

void CCameraSim::ClearRequests() {
    m_impl->state.ClearRequests();
}

bool CCameraSim::WaitForRequest(const std::function<bool(const LoggedRequest&)>& match,
                                std::chrono::milliseconds timeout) const {
    return m_impl->state.WaitForRequest(match, timeout);
}

void CCameraSim::SetAlarmInput(bool active) {
    m_impl->state.WithSettings(
            [active](CameraSettings& settings) { settings.alarmInput = active; });
}

bool CCameraSim::AlarmInput() const {
    return m_impl->state.WithSettings(
            [](const CameraSettings& settings) { return settings.alarmInput; });
}

bool CCameraSim::RelayOutput() const {
    return m_impl->state.WithSettings(
            [](const CameraSettings& settings) { return settings.relayOutput; });
}

std::uint32_t CCameraSim::RelaySwitchCount() const {
    return m_impl->state.WithSettings(
            [](const CameraSettings& settings) { return settings.relaySwitches; });
}

std::vector<std::pair<std::string, std::string>> CCameraSim::CodecSettings() const {
    return m_impl->state.WithSettings(
            [](const CameraSettings& settings) { return settings.codec; });
}

std::vector<ReceivedRtcp> CCameraSim::ReceivedRtcpPackets() const {
    return m_impl->state.RtcpPackets();
}

std::size_t CCameraSim::ActiveSessionCount() const {
    return m_impl->rtsp.ActiveSessions();
}

StreamStats CCameraSim::Stats(const std::string& path) const {
    const StreamCounters& counters = m_impl->state.Counters(path != "vtl_media/second");
    return StreamStats{counters.framesSent.load(), counters.packetsSent.load(),
                       counters.senderReports.load(), counters.longestSendGapMs.load(),
                       counters.longSendGaps.load()};
}

} // namespace norvane::sim
