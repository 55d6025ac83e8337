// Web::CHttpSender: the driver's HTTP client for the camera's CGI interface. One sender keeps one
// connection to the camera for its whole life and sends one request at a time: it adds the
// camera's credentials to every request (Basic until the camera's first 401 names its own first
// scheme, that scheme from then on), waits for the response head within the request time-out and
// hands out the body, capped at 1 MiB.
//
// Threads: a sender belongs to one thread at a time (its owner's worker or channel thread); only
// Abort and IsAborted may be called from any other thread, while the sender exists.
// Owners: the camera properties object, the digital I/O object (one per worker), each stream
// channel.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/device_info.h"
#include "http/http_request.h"

namespace Web {

// Largest response body a sender keeps; CGI answers are a few hundred bytes, and a camera must
// not make a 32-bit host allocate more.
constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

// The body arrives in pieces of at most this many bytes.
constexpr std::size_t kBodyChunkBytes = 8192;

// User agent of every request.
constexpr const char* kUserAgent = "Norvane::HttpClient";

class CHttpSender {
public:
    // The sender copies `settings`; requestTimeout (ms) bounds connecting, sending and every wait
    // for data. Nothing is contacted yet. When the HTTP library cannot be set up every Send fails.
    explicit CHttpSender(const norvane::DEVICE_INFO& settings);
    virtual ~CHttpSender();
    CHttpSender(const CHttpSender&) = delete;
    CHttpSender& operator=(const CHttpSender&) = delete;

    // Send sends `request` and waits for its response head. True when a head was received,
    // whatever its status (StatusCode holds it); false when the request could not be sent, no
    // head came within the time-out, the sender was aborted, or the camera refused the scheme it
    // had just been offered. The first 401 on a sender teaches it the camera's first scheme and,
    // when that differs from the request's preferred scheme, repeats the request once with it.
    // A new Send discards the previous response. Requests with option kOptionNoResponseWait or
    // a body shorter than totalLength are refused (false): this sender streams no bodies.
    [[nodiscard]] bool Send(const HttpRequest& request);

    // ReadBody replaces `body` with the body of the last response and returns its size. The body
    // is handed out once; a second call returns 0.
    std::size_t ReadBody(std::vector<std::uint8_t>& body);

    // Abort ends a transfer in progress at once and makes every later Send fail until Rearm.
    // Thread-safe.
    void Abort();
    // Rearm lets Send work again after Abort; on the owner's thread, between requests.
    void Rearm();

    [[nodiscard]] bool IsAborted() const { return m_aborted.load(); }

    // StatusCode is the status of the response head the last Send received; 0 when it received
    // none.
    [[nodiscard]] std::uint32_t StatusCode() const { return m_statusCode; }

    // AuthScheme is 0 until a 401 named the camera's first scheme, then that scheme's value.
    [[nodiscard]] std::uint32_t AuthScheme() const { return m_authScheme; }

    [[nodiscard]] const norvane::DEVICE_INFO& DeviceInfo() const { return m_deviceInfo; }

private:
    class CTransfer;

    norvane::DEVICE_INFO m_deviceInfo;
    std::uint32_t m_authScheme = 0;
    std::uint32_t m_statusCode = 0;
    std::atomic<bool> m_aborted{false};
    // The HTTP library's handles (its connection cache keeps the camera connection) and the
    // current response; null when the library could not be set up.
    std::unique_ptr<CTransfer> m_transfer;
};

} // namespace Web
