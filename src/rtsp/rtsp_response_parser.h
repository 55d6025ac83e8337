// CRTSPResponseParser reads one RTSP/1.0 reply (RFC 2326): the status line, the headers the client
// needs, the challenge it answers and, for DESCRIBE, the session description (RFC 4566). It keeps
// nothing between replies: what a reply said comes back as an RTSPReply, and the client's memory
// of the session (RTSPSessionState) takes it from there.
//
// Threads: stateless; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rtsp/rtsp_types.h"
#include "rtsp/sdp_parser.h"

namespace norvane {

// RTSPHeader: the headers the parser classifies, by name at the start of the line.
enum RTSPHeader : int {
    kHeaderUnknown = 0,
    kHeaderCSeq = 1,
    kHeaderDate = 2,
    kHeaderContentBase = 3,
    kHeaderContentType = 4,
    kHeaderContentLength = 5,
    kHeaderTransport = 6,
    kHeaderSession = 7,
    kHeaderRange = 8,
    kHeaderRtpInfo = 9,
    kHeaderEmpty = 10,
    kHeaderServer = 11,
    kHeaderAcceptRanges = 12,
    kHeaderRtcpInterval = 13,
    kHeaderWWWAuthenticate = 14,
    kHeaderLocation = 15,
    kHeaderContentLocation = 16,
};

// ParseTransport reads the first transport of a Transport header's value; unset when it names
// none. Parameters it does not use, and values it cannot read, are left out.
std::optional<RTSPTransport> ParseTransport(std::string_view value);

// ParseRtpInfo reads the streams of an RTP-Info header (RFC 2326, 12.33): each stream's URL and
// the sequence number of its first packet after PLAY where given. Entries without a URL are left
// out; at most kMaxRtpInfoEntries are read.
constexpr std::size_t kMaxRtpInfoEntries = 8;
std::vector<RtpInfoEntry> ParseRtpInfo(std::string_view value);

// IsRedirection tells the statuses whose Location the client follows: 301, 302, 303 and 307.
[[nodiscard]] bool IsRedirection(std::int32_t status);

// ClassifyHeader returns the RTSPHeader of a line by the name before its colon (case-insensitive),
// kHeaderEmpty for an empty line and kHeaderUnknown for any other name or a line without a colon.
RTSPHeader ClassifyHeader(std::string_view line);

// What one reply said. Items whose header the reply did not carry stay unset; when a reply is
// refused, the items read before the refusal are set.
struct RTSPReply {
    // A well-formed 200, 401 or redirection (3xx) reply, and a usable description for DESCRIBE.
    bool accepted = false;
    std::string version;
    std::optional<std::int32_t> statusCode; // set when the status line could be read
    std::string reason;                     // first word of the reason phrase
    std::optional<std::uint32_t> cseq;
    std::string contentType; // first word, lower-cased
    std::uint32_t contentLength = 0;
    // The session id exactly as the camera wrote it; empty when a Session header could not be
    // read. The time-out is set only by a Session header that names one (0 reads as 30).
    std::optional<std::string> session;
    std::optional<std::uint32_t> sessionTimeout;
    // The challenge to answer, set when the reply carried WWW-Authenticate: Digest over Basic
    // within one reply, scheme kAuthNone when only other schemes were offered.
    std::optional<RTSPChallenge> challenge;
    std::optional<RTSPTransport> transport; // set by a Transport header that could be read
    std::string location;                   // where a redirection sends the request
    // The base of relative controls: Content-Base, else Content-Location (RFC 2326, C.1.1).
    std::string contentBase;
    // The RTP and RTCP channels of an interleaved transport the camera chose (RFC 2326, 12.39:
    // interleaved=a[-b]); unset when the Transport header names none or names them unreadably.
    std::optional<std::array<std::uint8_t, 2>> interleavedChannels;
    std::vector<RtpInfoEntry> rtpInfo; // PLAY: the streams' first sequence numbers
    SessionDescription description;    // DESCRIBE only
};

class CRTSPResponseParser {
public:
    // Parse reads one complete reply `text` to `method` (RTSPMethod). Content-Length is the
    // reply's own (0 when absent), and the body is read only up to it.
    [[nodiscard]] RTSPReply Parse(std::string_view text, std::uint32_t method) const;
};

} // namespace norvane
