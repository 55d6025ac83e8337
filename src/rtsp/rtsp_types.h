// The settings record of one RTSP session, the request kinds, the authentication schemes and the
// chosen challenge shared by the RTSP client, its reply parser and the RTSP channel.
//
// Threads: plain values; copied between threads, never shared.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvane {

// AuthScheme names the Authorization header the client sends (RFC 2617).
enum AuthScheme : std::uint32_t {
    kAuthNone = 0,
    kAuthBasic = 1,
    kAuthDigest = 2,
};

// RTSPChallenge: the challenge of a reply the client answers (RFC 2617, RFC 7616), parameters
// unquoted.
struct RTSPChallenge {
    std::uint32_t scheme = kAuthNone; // AuthScheme; kAuthNone: a scheme the client does not speak
    std::string realm;
    std::string nonce;
    std::string opaque;
    std::string algorithm; // as written; empty when the challenge named none (MD5)
    std::string qop;       // the offered list as written ("auth,auth-int"); empty when none
    bool stale = false;    // the nonce expired, the credentials were right (RFC 7616, 3.3)
    bool userhash = false; // the server wants the user name hashed (RFC 7616, 3.4.4)
};

// RTSPTransport: what the Transport header of a SETUP answer says of the media's sender (RFC 2326,
// section 12.39); items the answer did not name stay unset.
struct RTSPTransport {
    std::optional<std::uint16_t> serverRtpPort; // first port of server_port
    std::optional<std::uint32_t> ssrc;          // the sender's SSRC
    std::string source;                         // source address as written; empty when none
    // The channels of RTP and RTCP inside the RTSP connection (interleaved=a-b).
    std::optional<std::array<std::uint8_t, 2>> interleaved;
};

// One stream of an RTP-Info header: its URL and, where given, the sequence number of the first
// RTP packet the server sends after PLAY.
struct RtpInfoEntry {
    std::string url;
    std::optional<std::uint16_t> sequence;
};

// RTSPMethod is the request kind passed to every client operation (RFC 2326, section 10).
enum RTSPMethod : std::uint32_t {
    kDescribe = 1,
    kSetup = 2,
    kPlay = 3,
    kTeardown = 4,
    kOptions = 5,
    kPause = 6,
};

// MethodName returns the RTSP method name of a request kind, or an empty text for any other value.
std::string_view MethodName(std::uint32_t method);

// KeepAliveIntervalMs returns the period of the keep-alive request: half the session time-out the
// camera announced, or half `fallbackSeconds` when it announced none (0). Computed in 64 bits, so
// that no announced time-out can wrap it.
std::uint64_t KeepAliveIntervalMs(std::uint32_t announcedSeconds, std::uint32_t fallbackSeconds);

// RTSPSessionSettings: connection and stream settings that the channel fills and Connect copies.
struct RTSPSessionSettings {
    std::uint16_t port = 554;            // RTSP server port; also written into the URL
    std::uint16_t rtpPort = 0;           // first client port of the Transport header
    std::uint16_t rtcpPort = 0;          // second client port of the Transport header
    std::string address;                 // host name or dotted IPv4 address of the camera
    std::uint32_t resolvedAddress = 0;   // the address already looked up (network order), or 0
    std::string userName;                // credentials for Basic and Digest
    std::string password;                //
    std::uint32_t connectTimeout = 5000; // ms allowed for the TCP connect
    std::uint32_t ioTimeout = 5000;      // ms allowed for sending a request and for its whole reply
    std::uint32_t receiveBufferSize = 65536;
    std::uint32_t sessionTimeout = 60;    // s; keep-alive fallback when the camera names none
    std::uint32_t authScheme = kAuthNone; // scheme of the Authorization header (AuthScheme)
    std::string path;                     // stream path after the port, without a leading "/"
    std::uint32_t track = 0;              // SDP control used by SETUP: 0 video, 1 audio, 2 metadata
    bool interleaved = false; // media inside the RTSP connection (RFC 2326, 10.12), not over UDP
};

} // namespace norvane
