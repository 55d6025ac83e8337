// Feeds arbitrary response header lines to the challenge reader, and the same bytes as a request
// object to the escaping; checks that a scheme is one known value and that no escaped object can
// break a request line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "http/auth_scheme.h"
#include "http/http_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
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
    for (const bool escapeQuery : {false, true}) {
        for (const char c : Web::EscapeRequestObject(text, escapeQuery)) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte <= 0x20 || byte == 0x7F) {
                std::abort();
            }
        }
    }
    return 0;
}
