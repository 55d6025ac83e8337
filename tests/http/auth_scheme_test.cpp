#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/auth_scheme.h"

namespace Web {
namespace {

TEST(PreferredAuthScheme, BitsMapToSchemesLaterRulesWin) {
    const std::uint32_t expected[] = {
            kAuthSchemeBasic,     kAuthSchemeNtlm,      kAuthSchemePassport,  kAuthSchemeDigest,
            kAuthSchemeNegotiate, kAuthSchemeNegotiate, kAuthSchemeNegotiate, kAuthSchemeNegotiate};
    for (std::uint32_t value = 0; value < 8; ++value) {
        EXPECT_EQ(PreferredAuthScheme(value), expected[value]) << value;
    }
    EXPECT_EQ(PreferredAuthScheme(8), kAuthSchemeBasic);
    EXPECT_EQ(PreferredAuthScheme(11), kAuthSchemeDigest);
}

TEST(FirstAuthScheme, ReadsTheFirstKnownChallenge) {
    struct Case {
        std::vector<std::string> headers;
        std::uint32_t expected;
    };

    const Case cases[] = {
            {{"WWW-Authenticate: Basic realm=\"cam\""}, kAuthSchemeBasic},
            {{"WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\", qop=\"auth\""},
             kAuthSchemeDigest},
            {{"www-authenticate:digest realm=cam"}, kAuthSchemeDigest},
            {{"WWW-Authenticate: Digest realm=\"a\"", "WWW-Authenticate: Basic realm=\"a\""},
             kAuthSchemeDigest},
            {{"WWW-Authenticate: Basic realm=\"a\"", "WWW-Authenticate: Digest realm=\"a\""},
             kAuthSchemeBasic},
            // Several challenges in one header; commas and scheme names inside quoted realms.
            {{"WWW-Authenticate: Digest realm=\"Login to 2M0123, Basic\", nonce=\"n\", Basic "
              "realm=\"x\""},
             kAuthSchemeDigest},
            {{"WWW-Authenticate: Bearer realm=\"Basic, x\", Digest realm=\"y\""},
             kAuthSchemeDigest},
            {{"WWW-Authenticate: Foo realm=Basic, NTLM"}, kAuthSchemeNtlm},
            {{"WWW-Authenticate: Negotiate abc+/d==, Basic realm=\"a\""}, kAuthSchemeNegotiate},
            {{"WWW-Authenticate: Foo Basic, Digest realm=\"a\""}, kAuthSchemeDigest},
            {{"WWW-Authenticate: Foo abc==, Passport1.4 x=1"}, kAuthSchemePassport},
            {{"WWW-Authenticate: Bearer", "WWW-Authenticate: NTLM"}, kAuthSchemeNtlm},
            {{"Server: Basic", "Proxy-Authenticate: Basic", "X-WWW-Authenticate: Digest"}, 0},
            {{"WWW-Authenticate: Bearer realm=\"unterminated, Basic"}, 0},
            {{"WWW-Authenticate:"}, 0},
            {{}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers.empty() ? std::string("(none)") : c.headers.front());
        EXPECT_EQ(FirstAuthScheme(c.headers), c.expected);
    }
}

} // namespace
} // namespace Web
