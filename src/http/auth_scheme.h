// Authentication schemes of the HTTP sender: the scheme values (bit values, one per scheme), the
// mapping of a request's preferred scheme, and the reading of a 401 answer's challenges.
//
// Threads: pure functions; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Web {

constexpr std::uint32_t kAuthSchemeBasic = 1;
constexpr std::uint32_t kAuthSchemeNtlm = 2;
constexpr std::uint32_t kAuthSchemePassport = 4;
constexpr std::uint32_t kAuthSchemeDigest = 8;
constexpr std::uint32_t kAuthSchemeNegotiate = 16;

// PreferredAuthScheme maps HttpRequest::authScheme to a scheme value: start with Basic; bit 1
// gives NTLM, bit 2 Passport, both of them Digest, bit 4 Negotiate; each later rule overrides the
// earlier ones (so 0 is Basic, 3 Digest, 5 Negotiate).
std::uint32_t PreferredAuthScheme(std::uint32_t authScheme);

// AuthSchemeFromName returns the value of a scheme token (case-insensitive, RFC 7235 section 2.1),
// 0 for a scheme the sender does not know.
std::uint32_t AuthSchemeFromName(std::string_view name);

// FirstAuthScheme returns the first scheme the server offers in the WWW-Authenticate headers of a
// response, in header order and, within one header, in challenge order (RFC 7235 section 4.1:
// one header may hold several challenges separated by commas). `headerLines` are the response's
// header lines ("Name: value"); other headers are ignored. Values are read with the shared
// challenge grammar (text/auth_challenge.h), so commas and blanks inside a quoted realm do not
// start a challenge. Schemes the sender does not know are passed over, and so is text the grammar
// does not allow; 0 when no known scheme is offered.
std::uint32_t FirstAuthScheme(std::span<const std::string> headerLines);

} // namespace Web
