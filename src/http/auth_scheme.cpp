#include "http/auth_scheme.h"

#include <array>
#include <utility>

#include "text/auth_challenge.h"
#include "text/text_utils.h"

namespace Web {
namespace {

constexpr std::string_view kChallengeHeader = "www-authenticate";

} // namespace

std::uint32_t PreferredAuthScheme(std::uint32_t authScheme) {
    std::uint32_t scheme = kAuthSchemeBasic;
    if ((authScheme & 1U) != 0) {
        scheme = kAuthSchemeNtlm;
    }
    if ((authScheme & 2U) != 0) {
        scheme = kAuthSchemePassport;
    }
    if ((authScheme & 3U) == 3U) {
        scheme = kAuthSchemeDigest;
    }
    if ((authScheme & 4U) != 0) {
        scheme = kAuthSchemeNegotiate;
    }
    return scheme;
}

std::uint32_t AuthSchemeFromName(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, std::uint32_t>, 5> kSchemes{{
            {"Basic", kAuthSchemeBasic},
            {"NTLM", kAuthSchemeNtlm},
            {"Passport1.4", kAuthSchemePassport},
            {"Digest", kAuthSchemeDigest},
            {"Negotiate", kAuthSchemeNegotiate},
    }};
    for (const auto& [schemeName, value] : kSchemes) {
        if (norvane::EqualsNoCase(name, schemeName)) {
            return value;
        }
    }
    return 0;
}

std::uint32_t FirstAuthScheme(std::span<const std::string> headerLines) {
    for (const std::string& line : headerLines) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos ||
            !norvane::EqualsNoCase(norvane::TrimBlanks(std::string_view(line).substr(0, colon)),
                                   kChallengeHeader)) {
            continue;
        }
        // Text the grammar does not allow is passed over: the challenges around it still count.
        const norvane::AuthChallengeList list =
                norvane::ParseChallenges(std::string_view(line).substr(colon + 1));
        for (const norvane::AuthChallenge& challenge : list.challenges) {
            if (const std::uint32_t scheme = AuthSchemeFromName(challenge.scheme); scheme != 0) {
                return scheme;
            }
        }
    }
    return 0;
}

} // namespace Web
