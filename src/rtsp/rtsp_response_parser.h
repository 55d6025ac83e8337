// CRTSPResponseParser reads one RTSP/1.0 reply (RFC 2326): the status line, the headers the client
// needs and, for DESCRIBE, the session description (RFC 4566). It is also the client's memory: its
// fields keep the CSeq counter, the session, the control URLs, the H.264 parameter sets and the
// last authentication challenge from one reply to the next.
//
// Threads: owned by one RTSP client and used only on that client's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
};

// SdpLineKind: what ClassifySdpLine found at the start of a description line.
enum SdpLineKind : int {
    kSdpOther = 0,
    kSdpEmpty = 1,
    kSdpVideo = 2,
    kSdpAudio = 3,
    kSdpMetadata = 4,
    kSdpOtherMedium = 5,
    kSdpControl = 6,
    kSdpFmtp = 7,
};

// One challenge of a WWW-Authenticate header (RFC 2617, section 1.2), parameters unquoted.
struct AuthChallenge {
    std::uint32_t scheme = 0; // AuthScheme; 0 for a scheme the client does not speak
    std::string realm;
    std::string nonce;
    std::string opaque;
    std::string algorithm;
};

// NextLine returns the line that starts at `position` and moves `position` past its end. A line
// ends at CR LF, a lone LF or a lone CR; the last line may end with the text. At the end of the
// text `position` becomes npos and the line is empty.
std::string_view NextLine(std::string_view text, std::size_t& position);

// ClassifyHeader returns the RTSPHeader of a line by the name before its colon (case-insensitive),
// kHeaderEmpty for an empty line and kHeaderUnknown for any other name or a line without a colon.
RTSPHeader ClassifyHeader(std::string_view line);

// ClassifySdpLine returns the SdpLineKind of a description line from its start (case-insensitive).
SdpLineKind ClassifySdpLine(std::string_view line);

// ParseChallenges reads the value of a WWW-Authenticate header: one or more challenges, each a
// scheme (any case) followed by comma-separated parameters whose values are tokens or quoted
// strings (blanks, commas and quoted pairs inside quotes are kept). Nothing when the value is not
// well formed.
std::optional<std::vector<AuthChallenge>> ParseChallenges(std::string_view value);

// ParseDecimal32 reads an unsigned decimal number that must fit 32 bits: leading blanks, then one
// or more digits, then only blanks. Nothing for anything else.
std::optional<std::uint32_t> ParseDecimal32(std::string_view text);

// Base64Decode decodes base64 text (RFC 4648 alphabet), skipping every other character ("=" and
// line breaks included). `count` receives the number of bytes the whole text decodes to; bytes
// beyond the capacity of `buffer` are not written and make the result false.
bool Base64Decode(std::string_view text, std::span<std::uint8_t> buffer, std::size_t& count);

class CRTSPResponseParser {
public:
    CRTSPResponseParser() = default;
    virtual ~CRTSPResponseParser() = default;
    CRTSPResponseParser(const CRTSPResponseParser&) = default;
    CRTSPResponseParser& operator=(const CRTSPResponseParser&) = default;

    // Parse reads one complete reply to `method` (RTSPMethod). True for a well-formed 200 or 401
    // reply whose handled headers can be read and, for DESCRIBE, whose description is usable.
    // Fields keep their values until a later reply carries their header again; Content-Length is
    // the reply's own (0 when absent). On failure the fields stay as far as the parse got.
    [[nodiscard]] bool Parse(std::string_view reply, std::uint32_t method);

    // ParseSdp reads the control URLs of the video, audio and metadata media and appends the H.264
    // parameter sets of sprop-parameter-sets (RFC 6184, section 8.1). False when a control line
    // inside one of those media cannot be read.
    [[nodiscard]] bool ParseSdp(std::string_view body);

    std::string m_version;
    std::int32_t m_statusCode = 0;
    std::string m_reason;      // first word of the reason phrase
    std::uint32_t m_cseq = 0;  // CSeq counter: advanced per request, overwritten per reply
    std::string m_contentType; // first word, lower-cased
    std::uint32_t m_contentLength = 0;
    std::string m_session;              // session id exactly as the camera wrote it
    std::uint32_t m_sessionTimeout = 0; // seconds; 0 until a Session header names one
    std::string m_videoControl;
    std::string m_audioControl;
    std::string m_metadataControl;
    std::uint32_t m_authScheme = 0; // AuthScheme of the last challenge
    std::string m_realm;
    std::string m_nonce;
    std::string m_opaque;
    std::vector<std::uint8_t> m_sps;
    std::vector<std::uint8_t> m_pps;

private:
    bool ParseStatusLine(std::string_view line);
    bool ParseHeader(std::string_view line);
    bool ParseSession(std::string_view value);
    bool ParseAuthenticate(std::string_view value);
    bool ParseControl(std::string_view line, std::string& target);
    bool ParseFmtp(std::string_view line);

    // Set while one reply is parsed: a Digest challenge of this reply was taken, so a Basic
    // challenge of the same reply does not replace it.
    bool m_replyOfferedDigest = false;
    bool m_replyHadChallenge = false;
};

} // namespace norvane
