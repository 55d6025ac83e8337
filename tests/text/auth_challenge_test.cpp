#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/auth_challenge.h"

namespace norvane {
namespace {

// Each challenge written as "scheme" + " token68" or " name=value" per parameter.
std::vector<std::string> Describe(const AuthChallengeList& list) {
    std::vector<std::string> described;
    for (const AuthChallenge& challenge : list.challenges) {
        std::string text = challenge.scheme;
        if (!challenge.token68.empty()) {
            text += " " + challenge.token68;
        }
        for (const auto& [name, value] : challenge.parameters) {
            text += " " + name + "=" + value;
        }
        described.push_back(text);
    }
    return described;
}

TEST(ParseChallenges, Grammar) {
    struct Case {
        const char* value;
        std::vector<std::string> challenges;
        bool wellFormed;
    };

    const Case cases[] = {
            {"Basic realm=\"Surveillance Server\"", {"Basic realm=Surveillance Server"}, true},
            {"Digest realm=\"IP Camera(C1214)\", nonce=\"a, b\\\"c\", stale=FALSE",
             {"Digest realm=IP Camera(C1214) nonce=a, b\"c stale=FALSE"},
             true},
            {"  digest   realm=r ,nonce=n", {"digest realm=r nonce=n"}, true},
            {"Basic realm=\"b\", Digest realm=\"d\", nonce=\"n\"",
             {"Basic realm=b", "Digest realm=d nonce=n"},
             true},
            // Scheme names inside a quoted realm are text, not challenges.
            {"Digest realm=\"Login to 2M0123, Basic\", nonce=\"n\"",
             {"Digest realm=Login to 2M0123, Basic nonce=n"},
             true},
            {"Negotiate abc+/d==, Basic realm=\"a\"",
             {"Negotiate abc+/d==", "Basic realm=a"},
             true},
            {"Foo Basic, Digest realm=\"a\"", {"Foo Basic", "Digest realm=a"}, true},
            {"Foo realm=Basic, NTLM", {"Foo realm=Basic", "NTLM"}, true},
            {"Negotiate, NTLM", {"Negotiate", "NTLM"}, true},
            {"Digest realm=a nonce=b", {"Digest realm=a nonce=b"}, true}, // commas left out
            {"", {}, true},
            {" , ", {}, true},
            {"Digest realm=\"open", {"Digest realm=open"}, false},
            {"\"Digest\"", {}, false},
            {"Basic realm=\"a\" ; Digest realm=\"b\"", {"Basic realm=a", "Digest realm=b"}, false},
    };
    for (const Case& c : cases) {
        const AuthChallengeList list = ParseChallenges(c.value);
        EXPECT_EQ(Describe(list), c.challenges) << c.value;
        EXPECT_EQ(list.wellFormed, c.wellFormed) << c.value;
    }
}

TEST(ParseChallenges, SchemeAndParameterNamesIgnoreCaseAndTheLaterValueCounts) {
    const AuthChallengeList list = ParseChallenges("DIGEST Realm=\"a\", NONCE=1, realm=\"b\"");
    ASSERT_EQ(list.challenges.size(), 1U);
    const AuthChallenge& challenge = list.challenges[0];
    EXPECT_TRUE(challenge.IsScheme("Digest"));
    EXPECT_FALSE(challenge.IsScheme("Basic"));
    EXPECT_EQ(challenge.Parameter("realm"), "b");
    EXPECT_EQ(challenge.Parameter("nonce"), "1");
    EXPECT_FALSE(challenge.Parameter("opaque").has_value());
}

} // namespace
} // namespace norvane
