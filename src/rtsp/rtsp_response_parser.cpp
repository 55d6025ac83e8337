#include "rtsp/rtsp_response_parser.h"

#include <array>
#include <limits>
#include <utility>

#include "rtsp/rtsp_types.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

constexpr int kStatusOk = 200;
constexpr int kStatusUnauthorized = 401;
constexpr std::size_t kParameterSetCapacity = 256; // bytes kept per decoded parameter set
constexpr std::string_view kBlanks = " \t";

// The classified headers in table order.
constexpr std::array<std::pair<std::string_view, RTSPHeader>, 13> kHeaderNames = {{
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
}};

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ToLower(a) == ToLower(b);
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimView(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// HeaderValue returns the text after the colon of a header line, without surrounding blanks.
std::string_view HeaderValue(std::string_view line) {
    const std::size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view{} : TrimView(line.substr(colon + 1));
}

// FirstWord returns the text up to the first blank.
std::string_view FirstWord(std::string_view text) {
    return text.substr(0, text.find_first_of(kBlanks));
}

// LeadingNumber32 reads the digits at the start of `text` after blanks (none: 0); nothing when
// they do not fit 32 bits.
std::optional<std::uint32_t> LeadingNumber32(std::string_view text) {
    std::uint64_t value = 0;
    std::size_t i = text.find_first_not_of(kBlanks);
    for (; i != std::string_view::npos && i < text.size() && text[i] >= '0' && text[i] <= '9';
         ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

bool IsTokenChar(char c) {
    // RFC 2616, section 2.2: any visible character except separators.
    constexpr std::string_view kSeparators = "()<>@,;:\\\"/[]?={} \t";
    const auto u = static_cast<unsigned char>(c);
    return u > 32 && u < 127 && kSeparators.find(c) == std::string_view::npos;
}

// Small cursor over a header value for the challenge grammar.
class CValueReader {
public:
    explicit CValueReader(std::string_view text) : m_text(text) {}

    void SkipBlanks() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t')) {
            ++m_pos;
        }
    }

    bool AtEnd() const { return m_pos >= m_text.size(); }

    char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }

    void Advance() { ++m_pos; }

    std::size_t Position() const { return m_pos; }

    void Rewind(std::size_t pos) { m_pos = pos; }

    std::string_view Token() {
        const std::size_t start = m_pos;
        while (!AtEnd() && IsTokenChar(m_text[m_pos])) {
            ++m_pos;
        }
        return m_text.substr(start, m_pos - start);
    }

    // Token68 (RFC 7235, section 2.1) also allows "/" and trailing "=" in credentials-like values.
    std::string_view Token68() {
        const std::size_t start = m_pos;
        while (!AtEnd() &&
               (IsTokenChar(m_text[m_pos]) || m_text[m_pos] == '/' || m_text[m_pos] == '=')) {
            ++m_pos;
        }
        return m_text.substr(start, m_pos - start);
    }

    // QuotedString reads a quoted-string at the cursor (which stands on the opening quote) and
    // removes its quoted pairs; nothing when the closing quote is missing.
    std::optional<std::string> QuotedString() {
        std::string result;
        ++m_pos;
        while (!AtEnd()) {
            const char c = m_text[m_pos++];
            if (c == '"') {
                return result;
            }
            if (c == '\\' && !AtEnd()) {
                result.push_back(m_text[m_pos++]);
            } else {
                result.push_back(c);
            }
        }
        return std::nullopt;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

std::uint32_t SchemeOf(std::string_view name) {
    if (EqualNoCase(name, "Digest")) {
        return kAuthDigest;
    }
    if (EqualNoCase(name, "Basic")) {
        return kAuthBasic;
    }
    return kAuthNone;
}

void StoreParameter(AuthChallenge& challenge, std::string_view name, std::string value) {
    if (EqualNoCase(name, "realm")) {
        challenge.realm = std::move(value);
    } else if (EqualNoCase(name, "nonce")) {
        challenge.nonce = std::move(value);
    } else if (EqualNoCase(name, "opaque")) {
        challenge.opaque = std::move(value);
    } else if (EqualNoCase(name, "algorithm")) {
        challenge.algorithm = std::move(value);
    }
}

// A Digest challenge this client can answer: MD5 (the default algorithm, RFC 2617 section 3.2.1).
bool UsableDigest(const AuthChallenge& challenge) {
    return challenge.algorithm.empty() || EqualNoCase(challenge.algorithm, "MD5");
}

} // namespace

std::string_view NextLine(std::string_view text, std::size_t& position) {
    if (position == std::string_view::npos || position >= text.size()) {
        position = std::string_view::npos;
        return {};
    }
    const std::size_t end = text.find_first_of("\r\n", position);
    if (end == std::string_view::npos) {
        const std::string_view line = text.substr(position);
        position = std::string_view::npos;
        return line;
    }
    const std::string_view line = text.substr(position, end - position);
    position = end + 1;
    if (text[end] == '\r' && position < text.size() && text[position] == '\n') {
        ++position;
    }
    return line;
}

RTSPHeader ClassifyHeader(std::string_view line) {
    if (line.empty()) {
        return kHeaderEmpty;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return kHeaderUnknown;
    }
    const std::string_view name = TrimView(line.substr(0, colon));
    for (const auto& [known, index] : kHeaderNames) {
        if (EqualNoCase(name, known)) {
            return index;
        }
    }
    return kHeaderUnknown;
}

SdpLineKind ClassifySdpLine(std::string_view line) {
    if (line.empty()) {
        return kSdpEmpty;
    }
    static constexpr std::array<std::pair<std::string_view, SdpLineKind>, 6> kKinds = {{
            {"a=control", kSdpControl},
            {"a=fmtp", kSdpFmtp},
            {"m=video", kSdpVideo},
            {"m=audio", kSdpAudio},
            {"m=metadata", kSdpMetadata},
            {"m=", kSdpOtherMedium},
    }};
    for (const auto& [prefix, kind] : kKinds) {
        if (StartsNoCase(line, prefix)) {
            return kind;
        }
    }
    return kSdpOther;
}

std::optional<std::vector<AuthChallenge>> ParseChallenges(std::string_view value) {
    // RFC 7235, section 4.1: challenge = auth-scheme [ 1*SP ( token68 / #auth-param ) ], and
    // several challenges may share one header, separated by commas.
    std::vector<AuthChallenge> challenges;
    CValueReader reader(value);
    for (;;) {
        while (reader.Peek() == ',' || reader.Peek() == ' ' || reader.Peek() == '\t') {
            reader.Advance();
        }
        if (reader.AtEnd()) {
            break;
        }
        const std::string_view scheme = reader.Token();
        if (scheme.empty()) {
            return std::nullopt;
        }
        AuthChallenge challenge;
        challenge.scheme = SchemeOf(scheme);
        for (;;) {
            reader.SkipBlanks();
            while (reader.Peek() == ',') {
                reader.Advance();
                reader.SkipBlanks();
            }
            if (reader.AtEnd()) {
                break;
            }
            const std::size_t start = reader.Position();
            const std::string_view name = reader.Token();
            reader.SkipBlanks();
            if (name.empty() || reader.Peek() != '=') {
                if (name.empty()) {
                    // Neither a parameter nor a scheme: a token68 such as "Negotiate abc/def==".
                    if (reader.Token68().empty()) {
                        return std::nullopt;
                    }
                    continue;
                }
                reader.Rewind(start); // a new scheme begins here
                break;
            }
            reader.Advance(); // '='
            reader.SkipBlanks();
            std::string parameter;
            if (reader.Peek() == '"') {
                auto quoted = reader.QuotedString();
                if (!quoted) {
                    return std::nullopt;
                }
                parameter = std::move(*quoted);
            } else {
                parameter = std::string(reader.Token68());
            }
            StoreParameter(challenge, name, std::move(parameter));
        }
        challenges.push_back(std::move(challenge));
    }
    return challenges;
}

std::optional<std::uint32_t> ParseDecimal32(std::string_view text) {
    const std::string_view trimmed = TrimView(text);
    if (trimmed.empty() || trimmed.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return LeadingNumber32(trimmed);
}

bool Base64Decode(std::string_view text, std::span<std::uint8_t> buffer, std::size_t& count) {
    count = 0;
    bool refused = false;
    std::uint32_t group = 0;
    int characters = 0;
    auto flush = [&]() {
        // n characters carry 6n bits: 4 -> 3 bytes, 3 -> 2, 2 -> 1, 1 -> 0.
        const std::size_t bytes = static_cast<std::size_t>(characters) * 6 / 8;
        group <<= 6 * (4 - characters);
        if (refused || count + bytes > buffer.size()) {
            refused = true;
        } else {
            for (std::size_t i = 0; i < bytes; ++i) {
                buffer[count + i] = static_cast<std::uint8_t>(group >> (16 - 8 * i));
            }
        }
        count += bytes;
        group = 0;
        characters = 0;
    };
    for (const char c : text) {
        if (c == '\0' && characters == 0) {
            break;
        }
        int sixBits = -1;
        if (c >= 'A' && c <= 'Z') {
            sixBits = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            sixBits = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            sixBits = c - '0' + 52;
        } else if (c == '+') {
            sixBits = 62;
        } else if (c == '/') {
            sixBits = 63;
        }
        if (sixBits < 0) {
            continue;
        }
        group = (group << 6) | static_cast<std::uint32_t>(sixBits);
        if (++characters == 4) {
            flush();
        }
    }
    if (characters > 0) {
        flush();
    }
    return !refused;
}

bool CRTSPResponseParser::Parse(std::string_view reply, std::uint32_t method) {
    std::size_t position = 0;
    if (!ParseStatusLine(NextLine(reply, position))) {
        return false;
    }
    if (m_statusCode != kStatusOk && m_statusCode != kStatusUnauthorized) {
        return false;
    }
    // RFC 2326, section 12.14: a reply without Content-Length has no body.
    m_contentLength = 0;
    m_replyOfferedDigest = false;
    m_replyHadChallenge = false;
    for (;;) {
        const std::string_view line = NextLine(reply, position);
        if (line.empty()) {
            break; // the empty line, or the end of the text, ends the headers
        }
        if (!ParseHeader(line)) {
            return false;
        }
    }
    std::string_view body;
    if (position == std::string_view::npos) {
        if (m_contentLength > 0) {
            return false;
        }
    } else {
        body = reply.substr(position, m_contentLength);
    }
    if (method == kDescribe) {
        return ParseSdp(body);
    }
    return true;
}

bool CRTSPResponseParser::ParseStatusLine(std::string_view line) {
    // Status-Line = RTSP-Version SP Status-Code SP Reason-Phrase (RFC 2326, section 7.1).
    const std::string_view version = FirstWord(TrimView(line));
    if (version.empty()) {
        return false;
    }
    std::string_view rest = TrimView(TrimView(line).substr(version.size()));
    const std::string_view code = FirstWord(rest);
    rest = TrimView(rest.substr(code.size()));
    const std::string_view reason = FirstWord(rest);
    const auto status = ParseDecimal32(code);
    if (!status || *status > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) ||
        reason.empty()) {
        return false;
    }
    m_version = std::string(version);
    m_statusCode = static_cast<std::int32_t>(*status);
    m_reason = std::string(reason);
    return true;
}

bool CRTSPResponseParser::ParseHeader(std::string_view line) {
    const std::string_view value = HeaderValue(line);
    switch (ClassifyHeader(line)) {
    case kHeaderCSeq: {
        const auto cseq = ParseDecimal32(value);
        if (!cseq) {
            return false;
        }
        m_cseq = *cseq;
        return true;
    }
    case kHeaderContentType: {
        const std::string_view type = FirstWord(value);
        if (type.empty()) {
            return false;
        }
        m_contentType = ToLower(type);
        return true;
    }
    case kHeaderContentLength: {
        const auto length = ParseDecimal32(value);
        if (!length) {
            return false;
        }
        m_contentLength = *length;
        return true;
    }
    case kHeaderSession:
        return ParseSession(value);
    case kHeaderWWWAuthenticate:
        return ParseAuthenticate(value);
    default:
        return true;
    }
}

bool CRTSPResponseParser::ParseSession(std::string_view value) {
    // session-id [ ";" "timeout" "=" delta-seconds ] (RFC 2326, section 12.37). The id is opaque
    // and compared exactly by servers, so it is kept as written.
    m_session.clear();
    const std::size_t semicolon = value.find(';');
    if (semicolon == std::string_view::npos) {
        m_session = std::string(value);
        return !m_session.empty();
    }
    const std::string_view id = TrimView(value.substr(0, semicolon));
    std::optional<std::string_view> timeout;
    std::string_view parameters = value.substr(semicolon + 1);
    while (!parameters.empty()) {
        const std::size_t next = parameters.find(';');
        const std::string_view parameter = parameters.substr(0, next);
        parameters =
                next == std::string_view::npos ? std::string_view{} : parameters.substr(next + 1);
        const std::size_t equals = parameter.find('=');
        if (equals != std::string_view::npos &&
            EqualNoCase(TrimView(parameter.substr(0, equals)), "timeout")) {
            timeout = parameter.substr(equals + 1);
            break;
        }
    }
    if (!timeout || TrimView(*timeout).empty()) {
        return false; // parameters without a time-out leave no usable session
    }
    const auto seconds = LeadingNumber32(*timeout);
    if (!seconds) {
        return false;
    }
    m_session = std::string(id);
    m_sessionTimeout = *seconds == 0 ? 30 : *seconds;
    return !m_session.empty();
}

bool CRTSPResponseParser::ParseAuthenticate(std::string_view value) {
    const auto challenges = ParseChallenges(value);
    if (!challenges) {
        return false;
    }
    // Prefer Digest over Basic within one reply (also across its header lines), so the password is
    // never sent in clear to a camera that offered Digest.
    const AuthChallenge* chosen = nullptr;
    bool incompleteDigest = false;
    for (const AuthChallenge& challenge : *challenges) {
        if (challenge.scheme != kAuthDigest) {
            continue;
        }
        if (challenge.realm.empty() || challenge.nonce.empty()) {
            incompleteDigest = true;
        } else if (chosen == nullptr && UsableDigest(challenge)) {
            chosen = &challenge;
        }
    }
    if (chosen == nullptr && !m_replyOfferedDigest) {
        for (const AuthChallenge& challenge : *challenges) {
            if (challenge.scheme == kAuthBasic) {
                chosen = &challenge;
                break;
            }
        }
    }
    if (chosen != nullptr) {
        if (chosen->scheme == kAuthDigest) {
            m_replyOfferedDigest = true;
        }
        m_authScheme = chosen->scheme;
        m_realm = chosen->realm;
        m_nonce = chosen->nonce;
        m_opaque = chosen->opaque;
        m_replyHadChallenge = true;
        return true;
    }
    if (incompleteDigest && !m_replyOfferedDigest) {
        return false; // a Digest challenge without realm or nonce
    }
    if (!m_replyHadChallenge) {
        m_authScheme = kAuthNone; // only schemes this client does not speak
    }
    return true;
}

bool CRTSPResponseParser::ParseSdp(std::string_view body) {
    enum class Medium { None, Video, Audio, Metadata };
    Medium medium = Medium::None;
    bool ok = true;
    std::size_t position = 0;
    do {
        const std::string_view line = NextLine(body, position);
        switch (ClassifySdpLine(line)) {
        case kSdpControl:
            if (medium == Medium::Video) {
                ok = ParseControl(line, m_videoControl);
            } else if (medium == Medium::Audio) {
                ok = ParseControl(line, m_audioControl);
            } else if (medium == Medium::Metadata) {
                ok = ParseControl(line, m_metadataControl);
            }
            break;
        case kSdpFmtp:
            static_cast<void>(ParseFmtp(line));
            break;
        case kSdpVideo:
            medium = Medium::Video;
            break;
        case kSdpAudio:
            medium = Medium::Audio;
            break;
        case kSdpMetadata:
            medium = Medium::Metadata;
            break;
        case kSdpOtherMedium:
            medium = Medium::None;
            break;
        default:
            break;
        }
    } while (position < body.size() && ok);
    return ok;
}

bool CRTSPResponseParser::ParseControl(std::string_view line, std::string& target) {
    constexpr std::string_view kPrefix = "a=control:";
    if (line.substr(0, kPrefix.size()) == kPrefix) {
        const std::string_view word = FirstWord(TrimView(line.substr(kPrefix.size())));
        if (!word.empty()) {
            target = std::string(word);
            return true;
        }
    }
    target.clear();
    return false;
}

bool CRTSPResponseParser::ParseFmtp(std::string_view line) {
    // RFC 6184, section 8.1: sprop-parameter-sets is one fmtp parameter; ";" or a blank ends it.
    const std::string value = FindValue("sprop-parameter-sets", "=", line, "; \t\r\n");
    if (value.empty()) {
        return false;
    }
    const std::vector<std::string> list = SplitList(value);
    if (list.size() < 2 || list[0].empty() || list[1].empty()) {
        return false;
    }
    std::array<std::uint8_t, kParameterSetCapacity> buffer{};
    std::size_t count = 0;
    if (Base64Decode(list[0], buffer, count)) {
        m_sps.insert(m_sps.end(), buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(count));
    }
    if (Base64Decode(list[1], buffer, count)) {
        m_pps.insert(m_pps.end(), buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(count));
    }
    return true;
}

} // namespace norvane
