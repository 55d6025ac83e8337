// The grammar of WWW-Authenticate header values (RFC 7235, section 4.1; RFC 2617, section 1.2),
// read the same way for RTSP cameras and for HTTP: one value may hold several challenges, each a
// scheme followed by a token68 or by name=value parameters whose values are tokens or quoted
// strings. Which challenge to answer is the caller's rule. Pure.
//
// Threads: stateless; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane {

// One challenge, with the scheme as written and parameter values unquoted.
struct AuthChallenge {
    std::string scheme;
    std::string token68; // the single credential-like value some schemes carry ("Negotiate abc==")
    std::vector<std::pair<std::string, std::string>> parameters; // in the order written

    // IsScheme compares the scheme with `name` without case (schemes are case-insensitive).
    [[nodiscard]] bool IsScheme(std::string_view name) const;

    // Parameter returns the value of parameter `name` (compared without case); of a name written
    // twice, the later value counts. Nothing when the challenge has no such parameter.
    [[nodiscard]] std::optional<std::string_view> Parameter(std::string_view name) const;
};

struct AuthChallengeList {
    std::vector<AuthChallenge> challenges;
    // False when the value held text the grammar does not allow (a quoted string without its
    // closing quote, a separator where a scheme or parameter name belongs); the challenges read
    // around it are still listed.
    bool wellFormed = true;
};

// ParseChallenges reads one header value (the text after "WWW-Authenticate:"). Blanks, commas and
// quoted pairs inside quoted strings are kept, so a realm such as "Login to 2M0123, Basic" is one
// value and names no scheme.
AuthChallengeList ParseChallenges(std::string_view value);

} // namespace norvane
