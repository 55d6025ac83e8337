// The HTTP sender on libcurl: one multi handle (its connection cache keeps the connection to the
// camera) and one easy handle per sender. Transfers run in a loop over curl_multi_poll so that
// Abort can wake and end them from another thread, and so that the sender's own idle time-out
// (no byte moved for requestTimeout ms) bounds every wait for data: a time-out per operation
// (connect, send, each wait for the answer), not one for the whole exchange.
#include <algorithm>
#include <string>
#include <string_view>

#include <curl/curl.h>

#include "http/auth_scheme.h"
#include "http/http_sender.h"
#include "platform/clock.h"
#include "text/text_utils.h"

namespace Web {
namespace {

// Longest single wait of the transfer loop; the idle time-out is checked after each.
constexpr int kPollSliceMs = 1000;
// Redirects followed when a request allows them (the driver's requests never do).
constexpr long kMaxRedirects = 10;
// Connections kept per camera; a sender uses one at a time.
constexpr long kMaxHostConnections = 16;
// Response header bytes kept for reading the challenges of a 401 answer.
constexpr std::size_t kMaxHeaderBytes = std::size_t{64} * 1024;

void InitCurlOnce() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    static_cast<void>(result); // a failure shows as a null handle below
}

// The curl value of a scheme value; 0 for schemes curl cannot send (Passport).
unsigned long CurlAuthFor(std::uint32_t scheme) {
    switch (scheme) {
    case kAuthSchemeBasic:
        return CURLAUTH_BASIC;
    case kAuthSchemeNtlm:
        return CURLAUTH_NTLM;
    case kAuthSchemeDigest:
        return CURLAUTH_DIGEST;
    case kAuthSchemeNegotiate:
        return CURLAUTH_NEGOTIATE;
    default:
        return 0;
    }
}

bool IsTokenText(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), IsTokenChar);
}

// HeaderName returns the lower-case name of a "Name: value" line; empty when the line is not a
// valid header (no colon, a name that is not a token, or a CR or LF anywhere, which would let a
// caller's text add lines of its own).
std::string HeaderName(std::string_view line) {
    if (line.find_first_of("\r\n") != std::string_view::npos) {
        return {};
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsTokenText(line.substr(0, colon))) {
        return {};
    }
    return norvane::ToLower(line.substr(0, colon));
}

struct CurlSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct CurlUrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

using SlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;
using UrlPtr = std::unique_ptr<CURLU, CurlUrlDeleter>;

} // namespace

// CTransfer owns the curl handles and collects the current response from curl's callbacks.
class CHttpSender::CTransfer {
public:
    CTransfer(const norvane::DEVICE_INFO& settings, const std::atomic<bool>& aborted)
        : m_timeoutMs(settings.requestTimeout)
        , m_aborted(aborted) {
        InitCurlOnce();
        m_multi = curl_multi_init();
        m_easy = curl_easy_init();
    }

    ~CTransfer() {
        if (m_easy != nullptr) {
            curl_easy_cleanup(m_easy);
        }
        if (m_multi != nullptr) {
            curl_multi_cleanup(m_multi);
        }
    }

    CTransfer(const CTransfer&) = delete;
    CTransfer& operator=(const CTransfer&) = delete;

    // Configure sets the options that hold for every request; false when curl refuses one.
    bool Configure() {
        if (m_multi == nullptr || m_easy == nullptr) {
            return false;
        }
        curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, kMaxHostConnections);
        bool ok = true;
        const auto set = [&](CURLoption option, auto value) {
            ok = ok && curl_easy_setopt(m_easy, option, value) == CURLE_OK;
        };
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_USERAGENT, kUserAgent);
        set(CURLOPT_PROXY, ""); // never a proxy, whatever the environment says
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        set(CURLOPT_BUFFERSIZE, static_cast<long>(kBodyChunkBytes));
        set(CURLOPT_PATH_AS_IS, 1L);
        set(CURLOPT_MAXREDIRS, kMaxRedirects);
        if (m_timeoutMs > 0) {
            set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_timeoutMs));
        }
        set(CURLOPT_HEADERFUNCTION, &CTransfer::OnHeader);
        set(CURLOPT_HEADERDATA, this);
        set(CURLOPT_WRITEFUNCTION, &CTransfer::OnBody);
        set(CURLOPT_WRITEDATA, this);
        set(CURLOPT_XFERINFOFUNCTION, &CTransfer::OnProgress);
        set(CURLOPT_XFERINFODATA, this);
        set(CURLOPT_NOPROGRESS, 0L);
        set(CURLOPT_PREREQFUNCTION, &CTransfer::OnPrerequest);
        set(CURLOPT_PREREQDATA, this);
        return ok;
    }

    // Prepare sets the options of one request; false when the request cannot be expressed.
    bool Prepare(const norvane::DEVICE_INFO& device, const HttpRequest& request,
                 std::uint32_t scheme) {
        if (request.verb.empty() || request.object.empty() || !IsTokenText(request.verb)) {
            return false;
        }
        if (!BuildUrl(device, request)) {
            return false;
        }
        bool ok = true;
        const auto set = [&](CURLoption option, auto value) {
            ok = ok && curl_easy_setopt(m_easy, option, value) == CURLE_OK;
        };
        set(CURLOPT_CURLU, m_url.get());
        set(CURLOPT_NOBODY, 0L);
        if (request.body.empty()) {
            set(CURLOPT_HTTPGET, 1L);
        } else {
            set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            set(CURLOPT_POSTFIELDS, static_cast<const void*>(request.body.data()));
        }
        const bool plainMethod = request.verb == "GET" || request.verb == "HEAD" ||
                                 (request.verb == "POST" && !request.body.empty());
        set(CURLOPT_CUSTOMREQUEST, plainMethod ? nullptr : request.verb.c_str());
        if (request.verb == "HEAD") {
            set(CURLOPT_NOBODY, 1L);
        }
        set(CURLOPT_FOLLOWLOCATION, (request.options & kOptionNoRedirects) != 0 ? 0L : 1L);
        const bool ignoreCertificate = request.protocol == kProtocolHttps &&
                                       (request.options & kOptionIgnoreCertErrors) != 0;
        set(CURLOPT_SSL_VERIFYPEER, ignoreCertificate ? 0L : 1L);
        set(CURLOPT_SSL_VERIFYHOST, ignoreCertificate ? 0L : 2L);
        if (!ok || !BuildHeaders(request) ||
            curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers.get()) != CURLE_OK) {
            return false;
        }
        return SetCredentials(device, scheme);
    }

    enum class Outcome { Completed, Failed, Aborted, TimedOut };

    // Perform runs the prepared request until it ends, fails, times out or is aborted.
    Outcome Perform() {
        ResetResponse();
        m_lastActivityMs = norvane::platform::MonotonicMs();
        if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
            return Outcome::Failed;
        }
        Outcome outcome = Run();
        curl_multi_remove_handle(m_multi, m_easy);
        return outcome;
    }

    // HeadReceived tells whether the head of a final (non-1xx) response arrived completely.
    [[nodiscard]] bool HeadReceived() const { return m_headComplete && m_status >= 200; }

    [[nodiscard]] std::uint32_t Status() const { return m_status; }

    [[nodiscard]] const std::vector<std::string>& Headers() const { return m_headerLines; }

    std::vector<std::uint8_t> TakeBody() {
        std::vector<std::uint8_t> body;
        body.swap(m_body);
        return body;
    }

    void ResetResponse() {
        m_headerLines.clear();
        m_headerBytes = 0;
        m_status = 0;
        m_headComplete = false;
        m_body.clear();
        m_capped = false;
        m_lastUpload = 0;
    }

    // Wakeup ends a curl_multi_poll in progress; thread-safe.
    void Wakeup() {
        if (m_multi != nullptr) {
            curl_multi_wakeup(m_multi);
        }
    }

private:
    Outcome Run() {
        for (;;) {
            int running = 0;
            if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
                return Outcome::Failed;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy) {
                    if (m_aborted.load()) {
                        return Outcome::Aborted;
                    }
                    // A body that reached its cap ends the transfer on purpose; any other error
                    // (a body shorter than its length, a chunked body without its last chunk, a
                    // reset) means the answer is incomplete.
                    const CURLcode result = message->data.result;
                    return result == CURLE_OK || (result == CURLE_WRITE_ERROR && m_capped)
                                   ? Outcome::Completed
                                   : Outcome::Failed;
                }
            }
            if (m_aborted.load()) {
                return Outcome::Aborted;
            }
            int waitMs = kPollSliceMs;
            if (m_timeoutMs > 0) {
                const std::uint64_t idle = norvane::platform::MonotonicMs() - m_lastActivityMs;
                const auto limit = static_cast<std::uint64_t>(m_timeoutMs);
                if (idle >= limit) {
                    return Outcome::TimedOut;
                }
                waitMs = static_cast<int>(std::min<std::uint64_t>(limit - idle, kPollSliceMs));
            }
            if (curl_multi_poll(m_multi, nullptr, 0, waitMs, nullptr) != CURLM_OK) {
                return Outcome::Failed;
            }
        }
    }

    bool BuildUrl(const norvane::DEVICE_INFO& device, const HttpRequest& request) {
        m_url.reset(curl_url());
        if (!m_url) {
            return false;
        }
        const std::string object = EscapeRequestObject(
                request.object, (request.options & kOptionEscapeDisableQuery) == 0);
        const std::size_t question = object.find('?');
        std::string path = object.substr(0, question);
        if (path.empty() || path.front() != '/') {
            path.insert(path.begin(), '/');
        }
        // An IPv6 literal is written in brackets (RFC 3986 section 3.2.2).
        const std::string host = device.address.find(':') != std::string::npos
                                         ? "[" + device.address + "]"
                                         : device.address;
        const std::string port = std::to_string(device.port);
        CURLU* url = m_url.get();
        bool ok = curl_url_set(url, CURLUPART_SCHEME,
                               request.protocol == kProtocolHttps ? "https" : "http",
                               0) == CURLUE_OK &&
                  curl_url_set(url, CURLUPART_HOST, host.c_str(), 0) == CURLUE_OK &&
                  curl_url_set(url, CURLUPART_PORT, port.c_str(), 0) == CURLUE_OK &&
                  curl_url_set(url, CURLUPART_PATH, path.c_str(), 0) == CURLUE_OK;
        if (ok && question != std::string::npos) {
            const std::string query = object.substr(question + 1);
            ok = curl_url_set(url, CURLUPART_QUERY, query.c_str(), 0) == CURLUE_OK;
        }
        return ok;
    }

    // BuildHeaders adds the request's header lines; a later line replaces an earlier one of the
    // same name. False for a line that is not a valid header.
    bool BuildHeaders(const HttpRequest& request) {
        std::vector<std::pair<std::string, std::string>> lines; // name, line
        for (const std::string& line : request.headers) {
            std::string name = HeaderName(line);
            if (name.empty()) {
                return false;
            }
            auto existing = std::find_if(lines.begin(), lines.end(),
                                         [&](const auto& entry) { return entry.first == name; });
            if (existing != lines.end()) {
                existing->second = line;
            } else {
                lines.emplace_back(std::move(name), line);
            }
        }
        // A body goes out at once; curl would otherwise wait for "100 Continue".
        if (!request.body.empty() &&
            std::none_of(lines.begin(), lines.end(),
                         [](const auto& entry) { return entry.first == "expect"; })) {
            lines.emplace_back("expect", "Expect:");
        }
        m_headers.reset();
        curl_slist* list = nullptr;
        for (const auto& entry : lines) {
            curl_slist* grown = curl_slist_append(list, entry.second.c_str());
            if (grown == nullptr) {
                curl_slist_free_all(list);
                return false;
            }
            list = grown;
        }
        m_headers.reset(list);
        return true;
    }

    bool SetCredentials(const norvane::DEVICE_INFO& device, std::uint32_t scheme) {
        if (device.userName.empty()) {
            return curl_easy_setopt(m_easy, CURLOPT_USERNAME, nullptr) == CURLE_OK &&
                   curl_easy_setopt(m_easy, CURLOPT_PASSWORD, nullptr) == CURLE_OK &&
                   curl_easy_setopt(m_easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC) == CURLE_OK;
        }
        const unsigned long curlAuth = CurlAuthFor(scheme);
        return curlAuth != 0 && curl_easy_setopt(m_easy, CURLOPT_HTTPAUTH, curlAuth) == CURLE_OK &&
               curl_easy_setopt(m_easy, CURLOPT_USERNAME, device.userName.c_str()) == CURLE_OK &&
               curl_easy_setopt(m_easy, CURLOPT_PASSWORD, device.password.c_str()) == CURLE_OK;
    }

    void NoteActivity() { m_lastActivityMs = norvane::platform::MonotonicMs(); }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
        auto* self = static_cast<CTransfer*>(user);
        const std::size_t bytes = size * count;
        self->NoteActivity();
        std::string_view line(data, bytes);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (line.substr(0, 5) == "HTTP/") {
            // Start of a response (an interim one, or the next one of an authentication round):
            // only the last response counts.
            self->ResetResponse();
            const std::size_t blank = line.find(' ');
            std::uint32_t status = 0;
            for (std::size_t i = blank == std::string_view::npos ? line.size() : blank + 1;
                 i < line.size() && line[i] >= '0' && line[i] <= '9' && status < 1000; ++i) {
                status = status * 10 + static_cast<std::uint32_t>(line[i] - '0');
            }
            self->m_status = status;
        } else if (line.empty()) {
            self->m_headComplete = true;
        } else if (self->m_headerBytes + line.size() <= kMaxHeaderBytes) {
            self->m_headerBytes += line.size();
            self->m_headerLines.emplace_back(line);
        }
        return bytes;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto* self = static_cast<CTransfer*>(user);
        const std::size_t bytes = size * count;
        self->NoteActivity();
        const std::size_t room = kMaxBodyBytes - std::min(kMaxBodyBytes, self->m_body.size());
        const std::size_t taken = std::min(bytes, room);
        self->m_capped = taken < bytes;
        self->m_body.insert(self->m_body.end(), reinterpret_cast<const std::uint8_t*>(data),
                            reinterpret_cast<const std::uint8_t*>(data) + taken);
        // Returning less than offered ends the transfer: the body has reached its cap.
        return taken;
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
        auto* self = static_cast<CTransfer*>(user);
        if (uploaded != self->m_lastUpload) {
            self->m_lastUpload = uploaded;
            self->NoteActivity();
        }
        return self->m_aborted.load() ? 1 : 0;
    }

    // Called once the connection stands, just before the request goes out: from here the wait
    // for the response is bounded afresh, as a connect that took long must not shorten it.
    static int OnPrerequest(void* user, char*, char*, int, int) {
        static_cast<CTransfer*>(user)->NoteActivity();
        return CURL_PREREQFUNC_OK;
    }

    const std::int32_t m_timeoutMs;
    const std::atomic<bool>& m_aborted;
    CURLM* m_multi = nullptr;
    CURL* m_easy = nullptr;
    UrlPtr m_url;
    SlistPtr m_headers;

    std::vector<std::string> m_headerLines;
    std::size_t m_headerBytes = 0;
    std::uint32_t m_status = 0;
    bool m_headComplete = false;
    std::vector<std::uint8_t> m_body;
    bool m_capped = false; // the body reached kMaxBodyBytes and the rest was refused
    curl_off_t m_lastUpload = 0;
    std::uint64_t m_lastActivityMs = 0;
};

CHttpSender::CHttpSender(const norvane::DEVICE_INFO& settings) : m_deviceInfo(settings) {
    auto transfer = std::make_unique<CTransfer>(m_deviceInfo, m_aborted);
    if (transfer->Configure()) {
        m_transfer = std::move(transfer);
    }
}

CHttpSender::~CHttpSender() = default;

bool CHttpSender::Send(const HttpRequest& request) {
    m_statusCode = 0; // a status left from an earlier request would be taken for this one's
    if (!m_transfer) {
        return false;
    }
    m_transfer->ResetResponse();
    if (m_aborted.load() || (request.options & kOptionNoResponseWait) != 0 ||
        request.body.size() < request.totalLength) {
        return false;
    }
    const std::uint32_t preferred = PreferredAuthScheme(request.authScheme);
    if (!m_transfer->Prepare(m_deviceInfo, request, m_authScheme != 0 ? m_authScheme : preferred)) {
        return false;
    }
    const CTransfer::Outcome outcome = m_transfer->Perform();
    // Only a complete answer counts: one cut short or timed out after its head is a failed
    // request, so that an answer that lost its return code is never taken as carried out.
    if (outcome != CTransfer::Outcome::Completed || !m_transfer->HeadReceived()) {
        m_transfer->ResetResponse();
        return false;
    }
    m_statusCode = m_transfer->Status();
    constexpr std::uint32_t kUnauthorized = 401;
    if (m_statusCode != kUnauthorized || m_authScheme != 0) {
        return true;
    }
    // First 401 on this sender: learn the camera's first scheme and, if it is not the scheme
    // just refused, repeat the request once with it (m_authScheme is now set, so only once).
    const std::uint32_t offered = FirstAuthScheme(m_transfer->Headers());
    m_transfer->ResetResponse();
    if (offered == 0) {
        return false;
    }
    m_authScheme = offered;
    if (offered == preferred) {
        return false;
    }
    return Send(request);
}

std::size_t CHttpSender::ReadBody(std::vector<std::uint8_t>& body) {
    body.clear();
    if (m_transfer) {
        body = m_transfer->TakeBody();
    }
    return body.size();
}

void CHttpSender::Abort() {
    m_aborted.store(true);
    if (m_transfer) {
        m_transfer->Wakeup();
    }
}

void CHttpSender::Rearm() {
    m_aborted.store(false);
}

} // namespace Web
