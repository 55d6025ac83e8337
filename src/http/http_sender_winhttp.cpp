// The HTTP sender on WinHTTP, synchronous: one session and one connection handle per sender for
// its whole life, one request handle per request. The service's own time-outs (resolve, connect,
// send, each wait for the answer) bound every wait. Abort closes the request handle from another
// thread, which ends the call in progress on it.
#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>

#include <windows.h>
#include <winhttp.h>

#include "http/auth_scheme.h"
#include "http/http_sender.h"

namespace Web {
namespace {

constexpr DWORD kMaxConnectionsPerServer = 16;
constexpr DWORD kIgnoreCertificateErrors =
        SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
        SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
constexpr DWORD kAddReplace = WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE;

// Widen converts 8-bit text in the system's ANSI code page; false when it cannot be converted
// (the request then fails instead of going out with different text).
bool Widen(std::string_view text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) {
        return true;
    }
    if (text.size() > 0x7fffffff) {
        return false;
    }
    const int length = static_cast<int>(text.size());
    const int needed =
            ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    wide.resize(static_cast<std::size_t>(needed));
    return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(),
                                 needed) == needed;
}

bool IsTokenText(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// IsHeaderLine accepts "Name: value" with a token name and no CR or LF, which would let a
// caller's text add lines of its own.
bool IsHeaderLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    return line.find_first_of("\r\n") == std::string_view::npos &&
           colon != std::string_view::npos && IsTokenText(line.substr(0, colon));
}

bool SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
    return ::WinHttpSetOption(handle, option, &value, sizeof value) != FALSE;
}

} // namespace

// CTransfer owns the WinHTTP handles. The request handle is shared with Abort under a lock;
// everything else belongs to the owner's thread.
class CHttpSender::CTransfer {
public:
    explicit CTransfer(std::int32_t timeoutMs) {
        m_session = ::WinHttpOpen(L"Norvane::HttpClient", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        if (m_session == nullptr) {
            return;
        }
        const DWORD timeout = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
        SetDwordOption(m_session, WINHTTP_OPTION_RECEIVE_TIMEOUT, timeout);
        SetDwordOption(m_session, WINHTTP_OPTION_RESOLVE_TIMEOUT, timeout);
        // From here the first refused option ends the sequence; the rest keep their defaults.
        static_cast<void>(
                SetDwordOption(m_session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, timeout) &&
                SetDwordOption(m_session, WINHTTP_OPTION_SEND_TIMEOUT, timeout) &&
                SetDwordOption(m_session, WINHTTP_OPTION_CONNECT_TIMEOUT, timeout) &&
                SetDwordOption(m_session, WINHTTP_OPTION_MAX_CONNS_PER_SERVER,
                               kMaxConnectionsPerServer) &&
                SetDwordOption(m_session, WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER,
                               kMaxConnectionsPerServer));
    }

    ~CTransfer() {
        CloseRequest();
        if (m_connection != nullptr) {
            ::WinHttpCloseHandle(m_connection);
        }
        if (m_session != nullptr) {
            ::WinHttpCloseHandle(m_session);
        }
    }

    CTransfer(const CTransfer&) = delete;
    CTransfer& operator=(const CTransfer&) = delete;

    [[nodiscard]] bool Usable() const { return m_session != nullptr; }

    bool Connect(const norvane::DEVICE_INFO& device) {
        if (m_connection == nullptr) {
            std::wstring host;
            if (!Widen(device.address, host) || host.empty()) {
                return false;
            }
            m_connection = ::WinHttpConnect(m_session, host.c_str(), device.port, 0);
        }
        return m_connection != nullptr;
    }

    // OpenRequest opens the request handle and sets the credentials; null on failure. The
    // handle is published for Abort; a sender aborted meanwhile gets null.
    HINTERNET OpenRequest(const norvane::DEVICE_INFO& device, const HttpRequest& request,
                          std::uint32_t scheme, const std::atomic<bool>& aborted) {
        if (!IsTokenText(request.verb) || request.object.empty()) {
            return nullptr;
        }
        std::wstring verb;
        std::wstring object;
        const std::string escaped = EscapeRequestObject(
                request.object, (request.options & kOptionEscapeDisableQuery) == 0);
        if (!Widen(request.verb, verb) || !Widen(escaped, object)) {
            return nullptr;
        }
        DWORD flags = (request.options & kOptionEscapeDisableQuery) != 0
                              ? (WINHTTP_FLAG_REFRESH | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY)
                              : WINHTTP_FLAG_REFRESH;
        if (request.protocol == kProtocolHttps) {
            flags |= WINHTTP_FLAG_SECURE;
        }
        HINTERNET handle =
                ::WinHttpOpenRequest(m_connection, verb.c_str(), object.c_str(), nullptr,
                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
        if (handle == nullptr) {
            return nullptr;
        }
        {
            std::lock_guard<std::mutex> lock(m_requestLock);
            m_request = handle;
        }
        if (aborted.load()) {
            CloseRequest();
            return nullptr;
        }
        if (!device.userName.empty()) {
            std::wstring user;
            std::wstring password;
            if (!Widen(device.userName, user) || !Widen(device.password, password) ||
                ::WinHttpSetCredentials(handle, WINHTTP_AUTH_TARGET_SERVER, scheme, user.c_str(),
                                        password.c_str(), nullptr) == FALSE) {
                CloseRequest();
                return nullptr;
            }
        }
        return handle;
    }

    // CloseRequest closes the current request handle, if Abort has not already done so.
    void CloseRequest() {
        HINTERNET handle = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_requestLock);
            handle = m_request;
            m_request = nullptr;
        }
        if (handle != nullptr) {
            ::WinHttpCloseHandle(handle);
        }
    }

    // ReadBody reads the response body up to kMaxBodyBytes; false when the body ended early (a
    // failed read, or fewer bytes than the Content-Length announced).
    bool ReadBody(HINTERNET request, std::vector<std::uint8_t>& body) {
        std::vector<std::uint8_t> chunk(kBodyChunkBytes);
        while (body.size() < kMaxBodyBytes) {
            const std::size_t room = std::min(kBodyChunkBytes, kMaxBodyBytes - body.size());
            DWORD read = 0;
            if (::WinHttpReadData(request, chunk.data(), static_cast<DWORD>(room), &read) ==
                FALSE) {
                return false;
            }
            if (read == 0) {
                break;
            }
            body.insert(body.end(), chunk.begin(),
                        chunk.begin() + static_cast<std::ptrdiff_t>(read));
        }
        if (body.size() >= kMaxBodyBytes) {
            return true; // capped on purpose
        }
        DWORD length = 0;
        DWORD size = sizeof length;
        const bool announced =
                ::WinHttpQueryHeaders(request,
                                      WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                      WINHTTP_HEADER_NAME_BY_INDEX, &length, &size,
                                      WINHTTP_NO_HEADER_INDEX) != FALSE;
        return !announced || body.size() >= length;
    }

    HINTERNET m_session = nullptr;
    HINTERNET m_connection = nullptr;
    std::mutex m_requestLock;
    HINTERNET m_request = nullptr;
    // The response body, read once the head arrived, handed out by ReadBody.
    std::vector<std::uint8_t> m_body;
};

CHttpSender::CHttpSender(const norvane::DEVICE_INFO& settings) : m_deviceInfo(settings) {
    auto transfer = std::make_unique<CTransfer>(m_deviceInfo.requestTimeout);
    if (transfer->Usable()) {
        m_transfer = std::move(transfer);
    }
}

CHttpSender::~CHttpSender() = default;

bool CHttpSender::Send(const HttpRequest& request) {
    m_statusCode = 0; // a status left from an earlier request would be taken for this one's
    if (!m_transfer) {
        return false;
    }
    CTransfer& transfer = *m_transfer;
    transfer.CloseRequest();
    transfer.m_body.clear();
    if (m_aborted.load() || (request.options & kOptionNoResponseWait) != 0 ||
        request.body.size() < request.totalLength) {
        return false;
    }
    if (!transfer.Connect(m_deviceInfo)) {
        return false;
    }
    const std::uint32_t preferred = PreferredAuthScheme(request.authScheme);
    HINTERNET handle = transfer.OpenRequest(
            m_deviceInfo, request, m_authScheme != 0 ? m_authScheme : preferred, m_aborted);
    if (handle == nullptr) {
        return false;
    }
    const auto fail = [&] {
        transfer.CloseRequest();
        return false;
    };
    if (request.protocol == kProtocolHttps && (request.options & kOptionIgnoreCertErrors) != 0 &&
        !SetDwordOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, kIgnoreCertificateErrors)) {
        return fail();
    }
    if ((request.options & kOptionNoRedirects) != 0 &&
        !SetDwordOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS)) {
        return fail();
    }
    for (const std::string& line : request.headers) {
        std::wstring wide;
        if (!IsHeaderLine(line) || !Widen(line, wide) ||
            ::WinHttpAddRequestHeaders(handle, wide.c_str(), static_cast<DWORD>(wide.size()),
                                       kAddReplace) == FALSE) {
            return fail();
        }
    }
    const auto length = static_cast<DWORD>(request.body.size());
    void* body = request.body.empty() ? nullptr : const_cast<std::uint8_t*>(request.body.data());
    if (::WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, length, length, 0) ==
                FALSE ||
        ::WinHttpReceiveResponse(handle, nullptr) != TRUE) {
        return fail();
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (::WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                              WINHTTP_NO_HEADER_INDEX) == FALSE) {
        return fail();
    }
    constexpr DWORD kUnauthorized = 401;
    if (status != kUnauthorized || m_authScheme != 0) {
        // The body is read now, while the head's time-outs still hold. Only a complete answer
        // counts: one cut short, timed out or aborted is a failed request.
        if (!transfer.ReadBody(handle, transfer.m_body) || m_aborted.load()) {
            transfer.m_body.clear();
            return fail();
        }
        m_statusCode = status;
        return true;
    }
    // First 401 on this sender: learn the camera's first scheme and, if it is not the scheme
    // just refused, repeat the request once with it (m_authScheme is now set, so only once).
    m_statusCode = status;
    DWORD supported = 0;
    DWORD first = 0;
    DWORD target = 0;
    const bool queried = ::WinHttpQueryAuthSchemes(handle, &supported, &first, &target) != FALSE;
    transfer.CloseRequest();
    if (!queried || first == 0) {
        return false;
    }
    m_authScheme = first;
    if (first == preferred) {
        return false;
    }
    return Send(request);
}

std::size_t CHttpSender::ReadBody(std::vector<std::uint8_t>& body) {
    body.clear();
    if (m_transfer) {
        body.swap(m_transfer->m_body);
    }
    return body.size();
}

void CHttpSender::Abort() {
    m_aborted.store(true);
    if (m_transfer) {
        m_transfer->CloseRequest();
    }
}

void CHttpSender::Rearm() {
    m_aborted.store(false);
}

} // namespace Web
