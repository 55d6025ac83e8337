// Fuzzes the WWW-Authenticate grammar and both of its readers: the bytes as one header value and
// as header lines, read by the RTSP reply parser (whose chosen challenge then builds a Digest line)
// and by the HTTP sender's scheme reader. The same bytes also go through the HTTP request-object
// escaping. Checks that a Digest line stays one header line, that the HTTP scheme is one known
// value and that no escaped object can break a request line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "http/auth_scheme.h"
#include "http/http_request.h"
#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_types.h"
#include "text/auth_challenge.h"

namespace {

void CheckRtspReply(const std::string& reply) {
    const norvane::RTSPReply parsed =
            norvane::CRTSPResponseParser().Parse(reply, norvane::kOptions);
    if (!parsed.accepted || !parsed.challenge) {
        return;
    }
    const std::string line = norvane::DigestAuthorization(*parsed.challenge, "user", "pass",
                                                          "rtsp://127.0.0.1:554/", norvane::kPlay);
    // Camera text never brings its own line break.
    if (!line.empty() && line.find_first_of("\r\n") != line.size() - 2) {
        std::abort();
    }
}

void CheckHttpScheme(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    const std::uint32_t scheme = Web::FirstAuthScheme(lines);
    if (scheme != 0 && scheme != Web::kAuthSchemeBasic && scheme != Web::kAuthSchemeNtlm &&
        scheme != Web::kAuthSchemePassport && scheme != Web::kAuthSchemeDigest &&
        scheme != Web::kAuthSchemeNegotiate) {
        std::abort();
    }
}

void CheckEscaping(std::string_view text) {
    for (const bool escapeQuery : {false, true}) {
        for (const char c : Web::EscapeRequestObject(text, escapeQuery)) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte <= 0x20 || byte == 0x7F) {
                std::abort();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static_cast<void>(norvane::ParseChallenges(text));
    const std::string status = "RTSP/1.0 401 Unauthorized\r\n";
    CheckRtspReply(status + "WWW-Authenticate: " + std::string(text) + "\r\n\r\n");
    CheckRtspReply(status + std::string(text) + "\r\n\r\n");
    CheckHttpScheme(text);
    CheckEscaping(text);
    return 0;
}
