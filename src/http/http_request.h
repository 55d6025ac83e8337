// HttpRequest: the description of one HTTP request handed to Web::CHttpSender, with the values of
// its preferred authentication scheme and option bits. EscapeRequestObject prepares the request's
// path and query for the wire.
//
// Threads: plain values and a pure function; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/text_utils.h"

namespace Web {

// Transport of HttpRequest::protocol; any other value means plain HTTP.
constexpr std::uint32_t kProtocolHttps = 1;

// Bits of HttpRequest::options.
constexpr std::uint32_t kOptionEscapeDisableQuery = 1; // the query is sent as given
constexpr std::uint32_t kOptionIgnoreCertErrors = 2;   // HTTPS only: accept any certificate
constexpr std::uint32_t kOptionNoRedirects = 4;        // a 3xx answer is the response
constexpr std::uint32_t kOptionNoResponseWait = 8;     // return once the request is sent

// Options of every request the driver sends: query as given, no redirects.
constexpr std::uint32_t kDefaultOptions = kOptionEscapeDisableQuery | kOptionNoRedirects;

struct HttpRequest {
    HttpRequest(std::string verbText, std::string objectText)
        : verb(std::move(verbText))
        , object(std::move(objectText)) {}

    std::string verb;           // HTTP method
    std::string object;         // path and query
    std::uint32_t protocol = 0; // kProtocolHttps, or plain HTTP
    std::uint32_t authScheme =
            0; // preferred scheme: 0 Basic, 1 NTLM, 2 Passport, 3 Digest, 4 Negotiate
    std::vector<std::uint8_t> body;
    std::uint32_t totalLength = 0;    // declared body length; larger than body: the rest follows
    std::vector<std::string> headers; // complete "Name: value" lines
    std::uint32_t options = kDefaultOptions;
};

// The token rule of header names and authentication schemes is the text layer's.
using norvane::IsTokenChar;

// EscapeRequestObject percent-encodes the bytes of `object` that cannot stand in a request line
// as they are: in the path every byte outside the printable ASCII range and the unsafe characters
// of RFC 3986 section 2 ("<>\^`{|}), and "#" so that it is never taken for a fragment. The query
// (from the first "?") is escaped the same way unless `escapeQuery` is false; then only the bytes
// that would break the request line (controls, blank, DEL) are encoded. "%" is never encoded:
// callers pass objects that may already hold escapes.
std::string EscapeRequestObject(std::string_view object, bool escapeQuery);

} // namespace Web
