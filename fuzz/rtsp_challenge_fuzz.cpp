// Fuzzes the WWW-Authenticate parse and the Digest line built from what it stored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_types.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    static_cast<void>(norvane::ParseChallenges(value));

    norvane::CRTSPResponseParser parser;
    const std::string reply =
            "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: " + std::string(value) + "\r\n\r\n";
    if (parser.Parse(reply, norvane::kOptions)) {
        const std::string line = norvane::DigestAuthorization(
                parser, "user", "pass", "rtsp://127.0.0.1:554/", norvane::kPlay);
        // The line is one header line: camera text never brings its own line break.
        if (!line.empty() && line.find_first_of("\r\n") != line.size() - 2) {
            std::abort();
        }
    }
    return 0;
}
