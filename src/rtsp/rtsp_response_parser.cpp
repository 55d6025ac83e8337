#include "rtsp/rtsp_response_parser.h"

#include <array>
#include <charconv>
#include <limits>
#include <utility>
#include <vector>

#include "rtsp/rtsp_auth.h"
#include "text/auth_challenge.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

constexpr int kStatusOk = 200;
constexpr int kStatusUnauthorized = 401;
constexpr std::uint32_t kZeroSessionTimeout = 30; // s; what a Session header's "timeout=0" means

// Preference among the challenges of one reply, higher wins.
constexpr int kRankNone = 0;
constexpr int kRankBasic = 1;
constexpr int kRankMd5Digest = 2;
constexpr int kRankSha256Digest = 3;

// The classified headers in table order.
constexpr std::array<std::pair<std::string_view, RTSPHeader>, 15> kHeaderNames = {{
        {"CSeq", kHeaderCSeq},
        {"Date", kHeaderDate},
        {"Content-Base", kHeaderContentBase},
        {"Content-Type", kHeaderContentType},
        {"Content-Length", kHeaderContentLength},
        {"Transport", kHeaderTransport},
        {"Session", kHeaderSession},
        {"Range", kHeaderRange},
        {"RTP-Info", kHeaderRtpInfo},
        {"Server", kHeaderServer},
        {"Accept-Ranges", kHeaderAcceptRanges},
        {"RTCP-Interval", kHeaderRtcpInterval},
        {"WWW-Authenticate", kHeaderWWWAuthenticate},
        {"Location", kHeaderLocation},
        {"Content-Location", kHeaderContentLocation},
}};

// HeaderValue returns the text after the colon of a header line, without surrounding blanks.
std::string_view HeaderValue(std::string_view line) {
    const std::size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view{}
                                           : TrimBlanks(line.substr(colon + 1));
}

// Which challenge one reply offers, over all its WWW-Authenticate lines in order: the strongest
// this client can answer, SHA-256 Digest over MD5 Digest over Basic (RFC 7616, section 3.7), so the
// password is never sent in clear to a camera that offered Digest.
class CChallengeChoice {
public:
    // Take reads one WWW-Authenticate value into `reply`. False when the value is not well formed
    // or offers only a Digest challenge without realm or nonce.
    bool Take(std::string_view value, RTSPReply& reply);

private:
    int m_bestRank = kRankNone; // of the challenge taken so far from this reply
    bool m_hadChallenge = false;
    bool m_digestOffered = false; // any Digest challenge, whether this client can answer it or not
};

RTSPChallenge ToRTSPChallenge(const AuthChallenge& challenge) {
    RTSPChallenge result;
    if (challenge.IsScheme("Digest")) {
        result.scheme = kAuthDigest;
    } else if (challenge.IsScheme("Basic")) {
        result.scheme = kAuthBasic;
    }
    result.realm = std::string(challenge.Parameter("realm").value_or(""));
    result.nonce = std::string(challenge.Parameter("nonce").value_or(""));
    result.opaque = std::string(challenge.Parameter("opaque").value_or(""));
    result.algorithm = std::string(challenge.Parameter("algorithm").value_or(""));
    result.qop = std::string(challenge.Parameter("qop").value_or(""));
    result.stale = EqualsNoCase(challenge.Parameter("stale").value_or(""), "true");
    result.userhash = EqualsNoCase(challenge.Parameter("userhash").value_or(""), "true");
    return result;
}

// Rank orders the challenges this client can answer; kRankNone for any other.
int Rank(const RTSPChallenge& challenge) {
    if (challenge.scheme == kAuthBasic) {
        return kRankBasic;
    }
    if (!DigestAnswerable(challenge)) {
        return kRankNone;
    }
    const DigestAlgorithm algorithm = *DigestAlgorithmOf(challenge.algorithm);
    return algorithm == DigestAlgorithm::Sha256 || algorithm == DigestAlgorithm::Sha256Sess
                   ? kRankSha256Digest
                   : kRankMd5Digest;
}

bool CChallengeChoice::Take(std::string_view value, RTSPReply& reply) {
    const AuthChallengeList list = ParseChallenges(value);
    if (!list.wellFormed) {
        return false;
    }
    std::optional<RTSPChallenge> chosen;
    int chosenRank = kRankNone;
    bool incompleteDigest = false;
    for (const AuthChallenge& challenge : list.challenges) {
        RTSPChallenge candidate = ToRTSPChallenge(challenge);
        if (candidate.scheme == kAuthDigest &&
            (candidate.realm.empty() || candidate.nonce.empty())) {
            incompleteDigest = true;
        }
        const int rank = Rank(candidate);
        m_digestOffered = m_digestOffered || candidate.scheme == kAuthDigest;
        if (rank > chosenRank) {
            chosenRank = rank;
            chosen = std::move(candidate);
        }
    }
    bool taken = true;
    if (chosen) {
        if (chosenRank > m_bestRank) {
            reply.challenge = std::move(chosen);
            m_bestRank = chosenRank;
        }
        m_hadChallenge = true;
    } else if (incompleteDigest && m_bestRank < kRankMd5Digest) {
        taken = false;
    } else if (!m_hadChallenge) {
        reply.challenge = RTSPChallenge{}; // only schemes this client does not speak
    }
    // A camera that offered Digest never gets the password in clear, not even when this client
    // cannot answer its Digest (auth-int only, userhash, an unknown algorithm): nothing is sent.
    if (taken && m_bestRank == kRankBasic && m_digestOffered) {
        reply.challenge = RTSPChallenge{};
    }
    return taken;
}

bool ParseStatusLine(std::string_view line, RTSPReply& reply) {
    // Status-Line = RTSP-Version SP Status-Code SP Reason-Phrase (RFC 2326, section 7.1).
    const std::string_view version = FirstWord(TrimBlanks(line));
    if (version.empty()) {
        return false;
    }
    std::string_view rest = TrimBlanks(TrimBlanks(line).substr(version.size()));
    const std::string_view code = FirstWord(rest);
    rest = TrimBlanks(rest.substr(code.size()));
    const std::string_view reason = FirstWord(rest);
    const auto status = ParseDecimal32(code);
    if (!status || *status > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) ||
        reason.empty()) {
        return false;
    }
    reply.version = std::string(version);
    reply.statusCode = static_cast<std::int32_t>(*status);
    reply.reason = std::string(reason);
    return true;
}

bool ParseSession(std::string_view value, RTSPReply& reply) {
    // session-id [ ";" "timeout" "=" delta-seconds ] (RFC 2326, section 12.37). The id is opaque
    // and compared exactly by servers, so it is kept as written.
    reply.session = std::string();
    const std::size_t semicolon = value.find(';');
    if (semicolon == std::string_view::npos) {
        reply.session = std::string(value);
        return !reply.session->empty();
    }
    const std::string_view id = TrimBlanks(value.substr(0, semicolon));
    std::optional<std::string_view> timeout;
    std::string_view parameters = value.substr(semicolon + 1);
    while (!parameters.empty()) {
        const std::size_t next = parameters.find(';');
        const std::string_view parameter = parameters.substr(0, next);
        parameters =
                next == std::string_view::npos ? std::string_view{} : parameters.substr(next + 1);
        const std::size_t equals = parameter.find('=');
        if (equals != std::string_view::npos &&
            EqualsNoCase(TrimBlanks(parameter.substr(0, equals)), "timeout")) {
            timeout = parameter.substr(equals + 1);
            break;
        }
    }
    if (!timeout || TrimBlanks(*timeout).empty()) {
        return false; // parameters without a time-out leave no usable session
    }
    const auto seconds = LeadingDecimal32(*timeout);
    if (!seconds) {
        return false;
    }
    reply.session = std::string(id);
    reply.sessionTimeout = *seconds == 0 ? kZeroSessionTimeout : *seconds;
    return !reply.session->empty();
}

// ParseHex32 reads one to eight hexadecimal digits and nothing else.
std::optional<std::uint32_t> ParseHex32(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, 16);
    if (text.empty() || text.size() > 8 || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

// ParseChannelPair reads the a[-b] of interleaved=a[-b] (RFC 2326, 12.39); the second channel is
// the first plus one when only one is named. Anything unreadable gives none, as a transport the
// client did not ask for would fail the session later anyway.
std::optional<std::array<std::uint8_t, 2>> ParseChannelPair(std::string_view channels) {
    const std::size_t dash = channels.find('-');
    const auto first = ParseDecimal32(channels.substr(0, dash));
    const auto second = dash == std::string_view::npos
                                ? (first ? std::optional<std::uint32_t>(*first + 1) : std::nullopt)
                                : ParseDecimal32(channels.substr(dash + 1));
    if (!first || !second || *first > 255 || *second > 255 || *first == *second) {
        return std::nullopt;
    }
    return std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(*first),
                                       static_cast<std::uint8_t>(*second)};
}

bool ParseHeader(std::string_view line, RTSPReply& reply, CChallengeChoice& challenges) {
    const std::string_view value = HeaderValue(line);
    switch (ClassifyHeader(line)) {
    case kHeaderCSeq:
        reply.cseq = ParseDecimal32(value);
        return reply.cseq.has_value();
    case kHeaderContentType: {
        const std::string_view type = FirstWord(value);
        if (type.empty()) {
            return false;
        }
        reply.contentType = ToLower(type);
        return true;
    }
    case kHeaderContentLength: {
        const auto length = ParseDecimal32(value);
        if (!length) {
            return false;
        }
        reply.contentLength = *length;
        return true;
    }
    case kHeaderSession:
        return ParseSession(value, reply);
    case kHeaderTransport:
        // What the camera says of its sender only narrows the packets accepted; a Transport
        // header that cannot be read refuses nothing.
        reply.transport = ParseTransport(value);
        if (reply.transport && reply.transport->interleaved) {
            reply.interleavedChannels = reply.transport->interleaved;
        }
        return true;
    case kHeaderWWWAuthenticate:
        return challenges.Take(value, reply);
    case kHeaderLocation:
        reply.location = std::string(value);
        return true;
    case kHeaderContentBase:
        reply.contentBase = std::string(value);
        return true;
    case kHeaderRtpInfo:
        reply.rtpInfo = ParseRtpInfo(value);
        return true;
    case kHeaderContentLocation:
        // Content-Base, wherever it stands, takes precedence.
        if (reply.contentBase.empty()) {
            reply.contentBase = std::string(value);
        }
        return true;
    default:
        return true;
    }
}

} // namespace

namespace {

// ForEachParameter calls `take(name, argument)` for every "name=argument" of a ";"-separated
// list, blanks trimmed; items without "=" are skipped.
template <class Take>
void ForEachParameter(std::string_view list, Take&& take) {
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t next = list.find(';', at);
        const std::string_view parameter = list.substr(
                at, next == std::string_view::npos ? std::string_view::npos : next - at);
        at = next == std::string_view::npos ? list.size() + 1 : next + 1;
        const std::size_t equals = parameter.find('=');
        if (equals != std::string_view::npos) {
            take(TrimBlanks(parameter.substr(0, equals)), TrimBlanks(parameter.substr(equals + 1)));
        }
    }
}

} // namespace

std::vector<RtpInfoEntry> ParseRtpInfo(std::string_view value) {
    // Entries separated by commas, each "url=...;seq=...;rtptime=..." in any order.
    std::vector<RtpInfoEntry> entries;
    while (!value.empty() && entries.size() < kMaxRtpInfoEntries) {
        const std::size_t comma = value.find(',');
        RtpInfoEntry entry;
        ForEachParameter(value.substr(0, comma),
                         [&](std::string_view name, std::string_view argument) {
                             if (EqualsNoCase(name, "url")) {
                                 entry.url = std::string(argument);
                             } else if (EqualsNoCase(name, "seq")) {
                                 const auto sequence = ParseDecimal32(argument);
                                 if (sequence && *sequence <= 0xFFFF) {
                                     entry.sequence = static_cast<std::uint16_t>(*sequence);
                                 }
                             }
                         });
        if (!entry.url.empty()) {
            entries.push_back(std::move(entry));
        }
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    }
    return entries;
}

std::optional<RTSPTransport> ParseTransport(std::string_view value) {
    // A transport, then ";"-separated parameters; several transports separated by commas; the
    // answer to a SETUP names the one chosen, so only the first counts.
    value = value.substr(0, value.find(','));
    const std::size_t semicolon = value.find(';');
    if (TrimBlanks(value.substr(0, semicolon)).empty()) {
        return std::nullopt;
    }
    if (semicolon == std::string_view::npos) {
        return RTSPTransport{};
    }
    RTSPTransport transport;
    ForEachParameter(value.substr(semicolon + 1),
                     [&](std::string_view name, std::string_view argument) {
                         if (EqualsNoCase(name, "server_port")) {
                             const auto port = LeadingDecimal32(argument);
                             if (port && *port > 0 && *port <= 0xFFFF) {
                                 transport.serverRtpPort = static_cast<std::uint16_t>(*port);
                             }
                         } else if (EqualsNoCase(name, "ssrc")) {
                             transport.ssrc = ParseHex32(argument);
                         } else if (EqualsNoCase(name, "source")) {
                             transport.source = std::string(argument);
                         } else if (EqualsNoCase(name, "interleaved")) {
                             transport.interleaved = ParseChannelPair(argument);
                         }
                     });
    return transport;
}

bool IsRedirection(std::int32_t status) {
    // 300 Multiple Choices names no single target; 304 Not Modified and 305 Use Proxy are not
    // followed either.
    return status == 301 || status == 302 || status == 303 || status == 307;
}

RTSPHeader ClassifyHeader(std::string_view line) {
    if (line.empty()) {
        return kHeaderEmpty;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return kHeaderUnknown;
    }
    const std::string_view name = TrimBlanks(line.substr(0, colon));
    for (const auto& [known, index] : kHeaderNames) {
        if (EqualsNoCase(name, known)) {
            return index;
        }
    }
    return kHeaderUnknown;
}

RTSPReply CRTSPResponseParser::Parse(std::string_view text, std::uint32_t method) const {
    RTSPReply reply;
    std::size_t position = 0;
    if (!ParseStatusLine(NextLine(text, position), reply) ||
        (reply.statusCode != kStatusOk && reply.statusCode != kStatusUnauthorized &&
         !IsRedirection(*reply.statusCode))) {
        return reply;
    }
    CChallengeChoice challenges;
    for (;;) {
        const std::string_view line = NextLine(text, position);
        if (line.empty()) {
            break; // the empty line, or the end of the text, ends the headers
        }
        if (!ParseHeader(line, reply, challenges)) {
            return reply;
        }
    }
    if (method != kDescribe || reply.statusCode != kStatusOk) {
        reply.contentBase.clear(); // only a description has a base for its controls
    }
    // RFC 2326, section 12.14: a reply without Content-Length has no body.
    std::string_view body;
    if (position == std::string_view::npos) {
        if (reply.contentLength > 0) {
            return reply;
        }
    } else {
        body = text.substr(position, reply.contentLength);
    }
    reply.accepted = method != kDescribe || IsRedirection(*reply.statusCode) ||
                     ParseSessionDescription(body, reply.description);
    return reply;
}

} // namespace norvane
