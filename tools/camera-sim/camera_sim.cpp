#include "camera_sim.h"

#include <algorithm>
#include <random>

#include "platform/clock.h"
#include "platform/system.h"
#include "platform/wait.h"
#include "sim_internal.h"

namespace norvane::sim {

namespace {

constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
constexpr std::size_t kMaxNonces = 64;
constexpr int kAcceptPollMs = 200; // also the period of the session time-out check
// Bounds that keep a long-running simulator (or a misbehaving client) from growing without limit.
constexpr std::size_t kMaxConnections = 64;
constexpr std::size_t kMaxLoggedRequests = 100000;
constexpr std::size_t kLogTrim = 10000; // oldest entries dropped when the log is full

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
                               std::string realm, bool offerQop)
    : m_mode(mode)
    , m_user(std::move(user))
    , m_password(std::move(password))
    , m_realm(std::move(realm))
    , m_offerQop(offerQop) {
    std::random_device device;
    m_nonceCounter = (static_cast<std::uint64_t>(device()) << 32) | device();
}

std::string CAuthenticator::Challenge() {
    if (m_mode == AuthMode::Basic) {
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
        challenge += ", qop=\"auth\", algorithm=MD5";
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
    if (get("username") != m_user || get("realm") != m_realm || uri.empty() ||
        (!algorithm.empty() && !EqualsNoCase(algorithm, "MD5"))) {
        return false;
    }
    {
        std::lock_guard guard(m_lock);
        if (std::find(m_nonces.begin(), m_nonces.end(), nonce) == m_nonces.end()) {
            return false;
        }
    }
    // RFC 7616 section 3.4.1; without qop the RFC 2069 form that RFC 2617 keeps.
    const std::string ha1 = Md5Hex(m_user + ":" + m_realm + ":" + m_password);
    const std::string ha2 = Md5Hex(method + ":" + uri);
    const std::string qop = get("qop");
    std::string expected;
    if (qop.empty()) {
        expected = Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    } else if (qop == "auth") {
        const std::string nc = get("nc");
        const std::string cnonce = get("cnonce");
        if (nc.empty() || cnonce.empty()) {
            return false;
        }
        expected = Md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
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
        if (!haveHead) {
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

bool CConnection::Send(const std::string& reply, const SimFaults& faults) {
    if (faults.replyDelayMs > 0 && m_stop->Wait(static_cast<int>(faults.replyDelayMs))) {
        return false;
    }
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

std::string FormatReply(const std::string& firstLine,
                        const std::vector<std::pair<std::string, std::string>>& headers,
                        const std::string& body) {
    std::string reply = firstLine + "\r\n";
    for (const auto& [name, value] : headers) {
        reply += name + ": " + value + "\r\n";
    }
    reply += "\r\n";
    reply += body;
    return reply;
}

// ---- Impl -----------------------------------------------------------------------------------

CCameraSim::Impl::Impl(CameraSimConfig configuration) : config(std::move(configuration)) {
    currentFaults = config.faults;
    const std::string fps = FormatDecimal(config.fps);
    const std::string size0 = std::to_string(config.width) + "x" + std::to_string(config.height);
    codec = {{"codec0", "h264"},
             {"resolution0", size0},
             {"bitctrl0", "cbr"},
             {"bitavr0", "2048"},
             {"fps0", fps},
             {"codec1", "mjpeg"},
             {"resolution1", "704x576"},
             {"bitctrl1", "cbr"},
             {"bitavr1", "2048"},
             {"fps1", fps},
             {"ff_mode", std::to_string(config.ffMode)},
             {"mirror_mode", "none"},
             {"bandon", "no"},
             {"bandwidth", "5000"}};
    alarmPort = {{"in_enable", "yes"},    {"in_type", "no"},           {"in_text", "ALARM 1"},
                 {"out_oper", "useroff"}, {"out_mode", "transparent"}, {"out_dwell", "5"}};
}

SimFaults CCameraSim::Impl::Faults() const {
    std::lock_guard guard(lock);
    return currentFaults;
}

void CCameraSim::Impl::LogRequest(LoggedRequest::Protocol protocol,
                                  const ReceivedRequest& request) {
    {
        std::lock_guard guard(lock);
        if (log.size() >= kMaxLoggedRequests) {
            log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(kLogTrim));
        }
        log.push_back(LoggedRequest{protocol, request.method, request.uri, request.headText});
    }
    logChanged.notify_all();
}

std::string CCameraSim::Impl::CodecValue(const std::string& key) const {
    std::lock_guard guard(lock);
    for (const auto& [name, value] : codec) {
        if (name == key) {
            return value;
        }
    }
    return {};
}

double CCameraSim::Impl::StreamFps(bool mainStream) const {
    const std::string text = CodecValue(mainStream ? "fps0" : "fps1");
    char* end = nullptr;
    const double fps = std::strtod(text.c_str(), &end);
    return fps > 0.0 && fps <= 240.0 ? fps : config.fps;
}

std::shared_ptr<const H264Clip> CCameraSim::Impl::MainClip() const {
    if (h264File) {
        return h264File;
    }
    // The embedded clip nearest to the configured size of the main stream.
    const std::string size = CodecValue("resolution0");
    const auto width = ParseUnsigned(size.substr(0, size.find('x')));
    return width && *width > 800 ? EmbeddedH264_1280x720() : EmbeddedH264_640x480();
}

std::string CCameraSim::Impl::AddressText(std::uint32_t address) const {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address); // network order
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

void CCameraSim::Impl::AcceptLoop(platform::CSocket& listener, bool rtsp) {
    while (true) {
        const auto wait = platform::WaitSocket(listener, platform::WaitFor::Read, stopEvent.get(),
                                               kAcceptPollMs);
        if (wait == platform::WaitResult::Stopped) {
            return;
        }
        if (rtsp) {
            ExpireSessions();
        }
        if (wait != platform::WaitResult::Ready) {
            continue;
        }
        platform::SocketAddress peer;
        platform::CSocket socket = listener.Accept(&peer);
        if (!socket.IsValid() || connections.Running() >= kMaxConnections) {
            continue; // over the limit the connection is closed at once
        }
        auto connection = std::make_shared<CConnection>(std::move(socket), peer, stopEvent.get());
        connection->SetLocalAddress(bindAddress);
        connections.Spawn([this, connection, rtsp] {
            if (rtsp) {
                ServeRtsp(*connection);
            } else {
                ServeHttp(*connection);
            }
        });
    }
}

// ---- CCameraSim -----------------------------------------------------------------------------

CCameraSim::CCameraSim(CameraSimConfig config)
    : m_impl(std::make_unique<Impl>(std::move(config))) {}

CCameraSim::~CCameraSim() {
    Stop();
}

namespace {

bool Listen(platform::CSocket& socket, std::uint32_t address, std::uint16_t port,
            std::uint16_t& boundPort, const char* what, std::string* error) {
    socket = platform::CSocket::CreateTcp();
    if (!socket.IsValid() || !socket.SetReuseAddress(true) || !socket.Bind(address, port) ||
        !socket.Listen(128)) {
        *error = std::string("cannot listen for ") + what + " on port " + std::to_string(port);
        socket.Close();
        return false;
    }
    boundPort = socket.LocalPort();
    return true;
}

} // namespace

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
    const CameraSimConfig& config = impl.config;
    if (config.mtu < 64 || config.mtu > 65000) {
        *error = "the MTU must be between 64 and 65000 bytes";
        return false;
    }
    if (!(config.fps > 0.0 && config.fps <= 240.0)) {
        *error = "the frame rate must be above 0 and at most 240";
        return false;
    }
    if (!config.h264File.empty()) {
        std::vector<std::uint8_t> bytes;
        if (!ReadFileBytes(config.h264File, bytes, error)) {
            return false;
        }
        impl.h264File = ParseAnnexB(bytes, error);
        if (!impl.h264File) {
            *error = config.h264File + ": " + *error;
            return false;
        }
    } else if (!EmbeddedH264_640x480() || !EmbeddedH264_1280x720()) {
        *error = "the embedded H.264 clips cannot be read";
        return false;
    }
    if (!config.mjpegFile.empty()) {
        std::vector<std::uint8_t> bytes;
        if (!ReadFileBytes(config.mjpegFile, bytes, error)) {
            return false;
        }
        impl.jpegClip = ParseMjpeg(bytes, error);
        if (!impl.jpegClip) {
            *error = config.mjpegFile + ": " + *error;
            return false;
        }
    } else {
        impl.jpegClip = EmbeddedMjpeg_704x576();
        if (!impl.jpegClip) {
            *error = "the embedded JPEG clip cannot be read";
            return false;
        }
    }
    // 0.0.0.0 serves every local address; any other address must resolve.
    impl.bindAddress = platform::ResolveIPv4(config.bindAddress);
    if (impl.bindAddress == 0 && config.bindAddress != "0.0.0.0") {
        *error = "cannot resolve the address " + config.bindAddress;
        return false;
    }
    impl.stopEvent = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset);
    if (!impl.stopEvent) {
        *error = "cannot create the stop event";
        return false;
    }
    if (!Listen(impl.httpListener, impl.bindAddress, config.httpPort, impl.httpPort, "HTTP",
                error) ||
        !Listen(impl.rtspListener, impl.bindAddress, config.rtspPort, impl.rtspPort, "RTSP",
                error)) {
        impl.httpListener.Close();
        return false;
    }
    impl.httpAuth = std::make_unique<CAuthenticator>(config.httpAuth, config.user, config.password,
                                                     config.realm, config.httpDigestQop);
    impl.rtspAuth = std::make_unique<CAuthenticator>(config.rtspAuth, config.user, config.password,
                                                     config.realm, config.rtspDigestQop);
    impl.httpAcceptor = std::thread([&impl] { impl.AcceptLoop(impl.httpListener, false); });
    impl.rtspAcceptor = std::thread([&impl] { impl.AcceptLoop(impl.rtspListener, true); });
    impl.started = true;
    return true;
}

void CCameraSim::Stop() {
    Impl& impl = *m_impl;
    if (!impl.started) {
        return;
    }
    impl.stopEvent->Set();
    impl.httpAcceptor.join();
    impl.rtspAcceptor.join();
    impl.connections.JoinAll();
    impl.EndAllSessions();
    impl.httpListener.Close();
    impl.rtspListener.Close();
    impl.started = false;
}

std::uint16_t CCameraSim::HttpPort() const {
    return m_impl->httpPort;
}

std::uint16_t CCameraSim::RtspPort() const {
    return m_impl->rtspPort;
}

std::string CCameraSim::RtspUrl(const std::string& path) const {
    return "rtsp://" + m_impl->config.bindAddress + ":" + std::to_string(m_impl->rtspPort) + "/" +
           path;
}

std::string CCameraSim::HttpUrl(const std::string& pathAndQuery) const {
    return "http://" + m_impl->config.bindAddress + ":" + std::to_string(m_impl->httpPort) +
           pathAndQuery;
}

void CCameraSim::SetFaults(const SimFaults& faults) {
    std::lock_guard guard(m_impl->lock);
    m_impl->currentFaults = faults;
}

SimFaults CCameraSim::GetFaults() const {
    return m_impl->Faults();
}

std::vector<LoggedRequest> CCameraSim::Requests() const {
    std::lock_guard guard(m_impl->lock);
    return m_impl->log;
}

void CCameraSim::ClearRequests() {
    std::lock_guard guard(m_impl->lock);
    m_impl->log.clear();
}

bool CCameraSim::WaitForRequest(const std::function<bool(const LoggedRequest&)>& match,
                                std::chrono::milliseconds timeout) const {
    std::unique_lock guard(m_impl->lock);
    return m_impl->logChanged.wait_for(guard, timeout, [&] {
        return std::any_of(m_impl->log.begin(), m_impl->log.end(), match);
    });
}

void CCameraSim::SetAlarmInput(bool active) {
    std::lock_guard guard(m_impl->lock);
    m_impl->alarmInput = active;
}

bool CCameraSim::AlarmInput() const {
    std::lock_guard guard(m_impl->lock);
    return m_impl->alarmInput;
}

bool CCameraSim::RelayOutput() const {
    std::lock_guard guard(m_impl->lock);
    return m_impl->relayOutput;
}

std::uint32_t CCameraSim::RelaySwitchCount() const {
    std::lock_guard guard(m_impl->lock);
    return m_impl->relaySwitches;
}

std::vector<std::pair<std::string, std::string>> CCameraSim::CodecSettings() const {
    std::lock_guard guard(m_impl->lock);
    return m_impl->codec;
}

std::vector<ReceivedRtcp> CCameraSim::ReceivedRtcpPackets() const {
    std::lock_guard guard(m_impl->lock);
    return m_impl->rtcpPackets;
}

std::size_t CCameraSim::Impl::ActiveSessions() const {
    std::lock_guard guard(sessionLock);
    return sessions.size();
}

std::size_t CCameraSim::ActiveSessionCount() const {
    return m_impl->ActiveSessions();
}

StreamStats CCameraSim::Stats(const std::string& path) const {
    const StreamCounters& counters =
            path == "vtl_media/second" ? m_impl->secondCounters : m_impl->mainCounters;
    return StreamStats{counters.framesSent.load(), counters.packetsSent.load(),
                       counters.senderReports.load()};
}

} // namespace norvane::sim
