#include "http/http_request.h"

namespace Web {
namespace {

bool BreaksRequestLine(unsigned char c) {
    return c <= 0x20 || c == 0x7F;
}

// Characters that RFC 3986 section 2 does not allow unescaped in a URI, plus "#", which would
// otherwise end the path or query as a fragment.
bool IsUnsafe(unsigned char c) {
    return BreaksRequestLine(c) || c >= 0x80 ||
           std::string_view("\"<>\\^`{|}#").find(static_cast<char>(c)) != std::string_view::npos;
}

void AppendEscaped(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[c >> 4U];
    out += kHex[c & 0x0FU];
}

} // namespace

std::string EscapeRequestObject(std::string_view object, bool escapeQuery) {
    std::string out;
    out.reserve(object.size());
    bool inQuery = false;
    for (const char ch : object) {
        const auto c = static_cast<unsigned char>(ch);
        if (!inQuery && c == '?') {
            inQuery = true;
            out += ch;
            continue;
        }
        const bool escape = (inQuery && !escapeQuery) ? BreaksRequestLine(c) : IsUnsafe(c);
        if (escape) {
            AppendEscaped(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace Web
