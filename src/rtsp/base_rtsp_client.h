// CBaseRTSPClient: the RTSP/1.0 client towards one camera stream (RFC 2326). It talks through one
// byte stream (a TCP connection unless a test hands in another), builds each request from a fixed
// template, reads the whole framed reply, parses it and keeps in its RTSPSessionState what later
// requests need. A 401 reply makes Request adopt the challenged scheme and repeat the request once,
// and once more when a Digest nonce went stale.
//
// With interleaved transport (RFC 2326, 10.12) the media shares the connection: SETUP asks for
// RTP on channel 0 and RTCP on channel 1, and once a reader runs (SetReaderActive) it alone reads
// the connection: ReadInterleaved hands every frame to its sink and posts every reply, which the
// request waiting for it picks up.
//
// Threads: used by one thread at a time (the RTSP channel's), except that while a reader is
// active ReadInterleaved runs on the reader's thread and SendInterleaved on any thread; sends are
// serialized by a lock and replies pass through a locked mailbox. Every blocking wait (connect,
// send, receive) also ends at once when the stop event handed to the client is set. Owned by the
// channel.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rtsp/byte_stream.h"
#include "rtsp/interleaved_splitter.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_session_state.h"
#include "rtsp/rtsp_types.h"
#include "rtsp/socket_stream.h"
#include "runtime/event.h"

namespace norvane {

namespace platform {
class CEventHandle;
}

// IInterleavedSink takes what a reader finds in the connection, on the reader's thread.
class IInterleavedSink {
public:
    // OnInterleavedFrame takes one frame of `channel`; the bytes are valid only during the call.
    virtual void OnInterleavedFrame(std::uint8_t channel,
                                    std::span<const std::uint8_t> payload) = 0;
    // HoldTimeoutMs and OnHoldTimeout: as IPacketSink's; asked before each wait of the reader.
    virtual int HoldTimeoutMs() = 0;
    virtual void OnHoldTimeout() = 0;

protected:
    ~IInterleavedSink() = default;
};

// What one read of the reader found.
enum class InterleavedRead {
    Ok,      // the connection carries on
    Stopped, // the reader's stop event was set
    Lost,    // closed, failed, or its framing was lost: only a new connection helps
};

class CBaseRTSPClient {
public:
    // The interleaved channels SETUP asks for (RFC 2326, 12.39).
    static constexpr std::uint8_t kRtpChannel = 0;
    static constexpr std::uint8_t kRtcpChannel = 1;

    // `stopEvent` (may be null, not owned) ends every wait of the client when it is set. `stream`
    // (may be null, not owned) replaces the client's own TCP stream.
    explicit CBaseRTSPClient(platform::CEventHandle* stopEvent = nullptr,
                             IByteStream* stream = nullptr);
    virtual ~CBaseRTSPClient();
    CBaseRTSPClient(const CBaseRTSPClient&) = delete;
    CBaseRTSPClient& operator=(const CBaseRTSPClient&) = delete;

    // BuildRequest returns the complete text of a request, or an empty text when none can be built
    // (unknown method, Basic credentials too long).
    virtual std::string BuildRequest(std::uint32_t method);

    // SetClientNonceSource replaces the source of Digest client nonces (by default 32 random
    // hexadecimal digits), so that a test can fix them.
    void SetClientNonceSource(std::function<std::string()> source) {
        m_clientNonceSource = std::move(source);
    }

    // SetStopEvent replaces the stop event (may be null, not owned).
    void SetStopEvent(platform::CEventHandle* stopEvent) { m_stopEvent = stopEvent; }

    // Connect copies the settings and opens the connection within connectTimeout (in steps of
    // 100 ms; below 100 ms a connect that does not complete at once fails). True at once when
    // already connected.
    [[nodiscard]] bool Connect(const RTSPSessionSettings& settings);

    // Disconnect closes the connection; the session state stays.
    void Disconnect();

    // Transact sends one request and parses its reply; false when not connected, when no request
    // can be built, on a send or receive failure, a time-out, a stop, an oversized or malformed
    // reply, or when the parser refuses the reply. What the reply carried is kept either way.
    [[nodiscard]] bool Transact(std::uint32_t method);

    // Request is Transact with the 401 rule: after a 401 whose scheme differs from the one in use,
    // or that is Digest (a fresh nonce), the request is repeated once; a Digest 401 marked stale
    // in answer to our Digest credentials (RFC 7616, section 3.3) earns one more repetition, as
    // it does not refuse the credentials. A DESCRIBE redirected (301, 302, 303, 307) to another
    // rtsp:// URL follows it, at most kMaxRedirections times: the connection moves to the new
    // server and the URL of every later request is the new one. True only when the final reply
    // is a success (2xx); StatusCode tells which refusal it was otherwise.
    [[nodiscard]] bool Request(std::uint32_t method);

    static constexpr int kMaxRedirections = 3;

    [[nodiscard]] bool IsConnected() const { return m_connected; }

    // SetReaderActive hands reading of the connection to a reader thread (true; call before the
    // thread starts) or takes it back (false; call after the thread ended). Bytes that arrived
    // behind the last reply stay for the next reader.
    void SetReaderActive(bool active);

    // ReadInterleaved waits once for bytes (up to the sink's hold time, or a second) and passes
    // on every complete item: frames to `sink`, replies to the request waiting for them. Only a
    // reader calls it, with its own stop event.
    [[nodiscard]] InterleavedRead ReadInterleaved(IInterleavedSink& sink,
                                                  platform::CEventHandle* stop);

    // SendInterleaved sends `payload` as one frame of `channel` within `timeoutMs`; false when not
    // connected, too long for a frame or the send fails.
    [[nodiscard]] bool SendInterleaved(std::uint8_t channel, std::span<const std::uint8_t> payload,
                                       int timeoutMs);

    [[nodiscard]] const RTSPSessionSettings& Settings() const { return m_settings; }

    [[nodiscard]] RTSPSessionSettings& Settings() { return m_settings; }

    [[nodiscard]] const RTSPSessionState& State() const { return m_state; }

    [[nodiscard]] RTSPSessionState& State() { return m_state; }

    [[nodiscard]] std::uint32_t SessionTimeout() const { return m_state.sessionTimeout; }

    [[nodiscard]] std::int32_t StatusCode() const { return m_state.statusCode; }

    [[nodiscard]] std::uint32_t AuthSchemeOfReply() const { return m_state.challenge.scheme; }

    [[nodiscard]] const std::vector<std::uint8_t>& Sps() const { return m_state.sps; }

    [[nodiscard]] const std::vector<std::uint8_t>& Pps() const { return m_state.pps; }

    [[nodiscard]] const H265Description& H265() const { return m_state.h265; }

    // BaseUrl returns "rtsp://address:port/path"; TrackUrl the URL SETUP uses for the chosen track:
    // an absolute control as it is, "*" as the base URL, a relative control joined to the base
    // (the description's Content-Base or Content-Location when it named one).
    [[nodiscard]] std::string BaseUrl() const;
    [[nodiscard]] std::string TrackUrl() const;

protected:
    RTSPSessionSettings m_settings;
    RTSPSessionState m_state;
    CRTSPResponseParser m_parser;
    bool m_connected = false;

private:
    bool ReceiveReply(std::string& reply);
    // RequestAnswering is Request without redirections.
    bool RequestAnswering(std::uint32_t method);
    // FollowRedirection reconnects to the URL of the last reply's Location; false when it is not
    // an rtsp:// URL that can be reached.
    bool FollowRedirection();
    // ReceiveSplitReply reads the reply to request `cseq` through the splitter (interleaved
    // transport, no reader): frames before it are dropped, bytes after it stay buffered.
    bool ReceiveSplitReply(std::string& reply, std::uint32_t cseq);
    // AwaitPostedReply waits for the reader to post the reply to request `cseq`.
    bool AwaitPostedReply(std::string& reply, std::uint32_t cseq);
    StreamStatus SendLocked(std::span<const std::uint8_t> data, int timeoutMs,
                            platform::CEventHandle* stop);

    platform::CEventHandle* m_stopEvent;
    std::function<std::string()> m_clientNonceSource;
    CSocketStream m_socketStream;
    IByteStream* m_stream; // m_socketStream, or the stream handed in

    // Interleaved transport.
    CInterleavedSplitter m_splitter; // the reader's while it is active, else the client's
    std::vector<std::uint8_t> m_readBuffer;
    std::atomic<bool> m_readerActive{false};
    std::atomic<bool> m_lost{false}; // the reader found the connection closed or unframed
    std::mutex m_sendLock;           // one request or frame at a time on the connection
    std::mutex m_mailLock;
    std::vector<std::string> m_mail; // replies the reader posted; guarded by m_mailLock
    CAutoEvent m_mailEvent;          // set when a reply is posted or the connection is lost
};

} // namespace norvane
