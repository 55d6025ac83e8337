#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_types.h"
#include "text/md5.h"

namespace norvane {
namespace {

TEST(Md5Hex, MatchesRfc1321TestSuite) {
    struct Case {
        std::string text;
        const char* digest;
    };

    // RFC 1321, appendix A.5.
    const Case cases[] = {
            {"", "d41d8cd98f00b204e9800998ecf8427e"},
            {"a", "0cc175b9c0f1b6a831c399e269772661"},
            {"abc", "900150983cd24fb0d6963f7d28e17f72"},
            {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
            {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
            {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
             "d174ab98d277d9f5a5611c2c9f419d9f"},
            {[] {
                 std::string text;
                 for (int i = 0; i < 8; ++i) {
                     text += "1234567890";
                 }
                 return text;
             }(),
             "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Md5Hex(c.text), c.digest) << c.text;
    }
}

TEST(Md5Hex, PaddingBoundaries) {
    // Lengths around the 56-byte padding limit and the 64-byte block (digests from hashlib).
    EXPECT_EQ(Md5Hex(std::string(55, 'x')), "04364420e25c512fd958a70738aa8f72");
    EXPECT_EQ(Md5Hex(std::string(56, 'x')), "668a72d5ba17f08e62dabcafad6db14b");
    EXPECT_EQ(Md5Hex(std::string(64, 'x')), "c1bb4f81d892b2d57947682aeb252456");
}

TEST(BasicCredentials, EncodesUserColonPasswordOnOneLine) {
    struct Case {
        std::string user;
        std::string password;
        std::optional<std::string> encoded;
    };

    const std::string user36(36, 'u');
    const std::string password35(35, 'p');
    const Case cases[] = {
            {"Aladdin", "open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="}, // RFC 2617, section 2
            {"", "", "Og=="},
            // The longest accepted pair (72 bytes); expected text from Python's base64 module.
            {user36, password35,
             "dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1"
             "OnBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBw"},
            {user36, password35 + "p", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto credentials = BasicCredentials(c.user, c.password);
        EXPECT_EQ(credentials, c.encoded) << c.user;
        if (credentials) {
            EXPECT_EQ(credentials->find_first_of("\r\n"), std::string::npos);
        }
    }
    EXPECT_EQ(BasicCredentials(user36, password35)->size(), 96U);
}

RTSPChallenge DigestChallenge(std::string realm, std::string nonce, std::string opaque = {}) {
    RTSPChallenge challenge;
    challenge.scheme = kAuthDigest;
    challenge.realm = std::move(realm);
    challenge.nonce = std::move(nonce);
    challenge.opaque = std::move(opaque);
    return challenge;
}

// The example exchange of RFC 7616, section 3.9.1, with the algorithm and qop of each row.
RTSPChallenge Rfc7616Challenge(std::string algorithm, std::string qop = "auth") {
    RTSPChallenge challenge =
            DigestChallenge("http-auth@example.org", "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v",
                            "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS");
    challenge.algorithm = std::move(algorithm);
    challenge.qop = std::move(qop);
    return challenge;
}

const DigestNonceUse kRfc7616Use{1, "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ"};

TEST(DigestAuthorization, Rfc7616ExampleWithQopAuth) {
    struct Case {
        const char* algorithm;
        std::uint32_t count;
        const char* response;
    };

    // MD5 and SHA-256 at nc 1: RFC 7616, section 3.9.1. The other rows computed independently
    // with Python's hashlib.
    const Case cases[] = {
            {"MD5", 1, "8ca523f5e9506fed4657c9700eebdbec"},
            {"SHA-256", 1, "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
            {"sha-256", 2, "8c8db27f49ff1c202f9fb49fa9d2e9eabf078dcc93db40dfd6527010091d1c8e"},
            {"MD5-sess", 1, "e783283f46242139c486a698fec7211d"},
            {"SHA-256-sess", 1, "2fd51b3a77ad75bad6afad6003e818d767133c46d9e2749e7f5232ae1ea3efd7"},
            {"SHA-256-sess", 2, "6bb0010aa4bdf46422a798c509ea32e256f27bd37de5cc3bdf8ed51e1d77d650"},
    };
    for (const Case& c : cases) {
        DigestNonceUse use = kRfc7616Use;
        use.count = c.count;
        const std::string line =
                DigestAuthorization(Rfc7616Challenge(c.algorithm), "Mufasa", "Circle of Life",
                                    "/dir/index.html", "GET", use);
        EXPECT_EQ(line, std::string("Authorization: Digest username=\"Mufasa\", "
                                    "realm=\"http-auth@example.org\", "
                                    "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
                                    "uri=\"/dir/index.html\", response=\"") +
                                c.response + "\", algorithm=" + c.algorithm +
                                ", qop=auth, nc=0000000" + std::to_string(c.count) +
                                ", cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\", "
                                "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"\r\n")
                << c.algorithm << " nc " << c.count;
    }
}

TEST(DigestAuthorization, QopListAndCountFormat) {
    // "auth" anywhere in the offered list is answered with qop=auth; nc is 8 hexadecimal digits.
    const std::string expected = Md5Hex(Md5Hex("Mufasa:http-auth@example.org:Circle of Life") +
                                        ":7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v:0000012a:"
                                        "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ:auth:" +
                                        Md5Hex("GET:/dir/index.html"));
    for (const char* qop : {"auth", "auth-int,auth", "auth-int, AUTH", " auth ,auth-int"}) {
        DigestNonceUse use = kRfc7616Use;
        use.count = 0x12a;
        const std::string line =
                DigestAuthorization(Rfc7616Challenge("", qop), "Mufasa", "Circle of Life",
                                    "/dir/index.html", "GET", use);
        EXPECT_NE(line.find("response=\"" + expected + "\", qop=auth, nc=0000012a, cnonce="),
                  std::string::npos)
                << qop << ": " << line;
        EXPECT_EQ(line.find("algorithm="), std::string::npos) << qop; // none named, none sent
    }
}

TEST(DigestAuthorization, ResponseIsMd5OfHa1NonceAndHa2) {
    // Expected responses computed independently with Python's hashlib.
    const RTSPChallenge challenge = DigestChallenge("IP Camera(C1214)", "nonce, 1");
    const std::string uri = "rtsp://10.0.0.5:554/vtl_media/main";
    EXPECT_EQ(DigestAuthorization(challenge, "admin", "secret", uri, "DESCRIBE"),
              "Authorization: Digest username=\"admin\", realm=\"IP Camera(C1214)\", "
              "nonce=\"nonce, 1\", uri=\"rtsp://10.0.0.5:554/vtl_media/main\", "
              "response=\"a71ca66b289f806e14816d1d03f08b3f\"\r\n");
    EXPECT_NE(DigestAuthorization(challenge, "admin", "secret", uri, "SETUP")
                      .find("response=\"bb43884e7352d759147b5bd167cddb12\""),
              std::string::npos);
}

TEST(DigestAuthorization, EchoesOpaqueAndQuotesSpecialCharacters) {
    const RTSPChallenge challenge = DigestChallenge("a\"b", "n\\1", "op aque");
    const std::string line = DigestAuthorization(challenge, "u", "p", "rtsp://h:554/", "PLAY");
    EXPECT_NE(line.find("realm=\"a\\\"b\""), std::string::npos) << line;
    EXPECT_NE(line.find("nonce=\"n\\\\1\""), std::string::npos) << line;
    EXPECT_NE(line.find(", opaque=\"op aque\"\r\n"), std::string::npos) << line;
    // The hash uses the unquoted values.
    const std::string ha1 = Md5Hex("u:a\"b:p");
    const std::string ha2 = Md5Hex("PLAY:rtsp://h:554/");
    EXPECT_NE(line.find(Md5Hex(ha1 + ":n\\1:" + ha2)), std::string::npos);
}

TEST(DigestAuthorization, CameraTextIsNeverAFormat) {
    const RTSPChallenge challenge = DigestChallenge("%n%s%x", "%s%s");
    const std::string line = DigestAuthorization(challenge, "u", "p", "rtsp://h/", "OPTIONS");
    EXPECT_NE(line.find("realm=\"%n%s%x\", nonce=\"%s%s\""), std::string::npos) << line;
}

TEST(DigestAuthorization, EmptyWithoutCompleteInputs) {
    const RTSPChallenge good = DigestChallenge("r", "n");
    RTSPChallenge basic = good;
    basic.scheme = kAuthBasic;
    EXPECT_EQ(DigestAuthorization(basic, "u", "p", "rtsp://h/", "PLAY"), "");
    EXPECT_EQ(DigestAuthorization(DigestChallenge("", "n"), "u", "p", "rtsp://h/", "PLAY"), "");
    EXPECT_EQ(DigestAuthorization(DigestChallenge("r", ""), "u", "p", "rtsp://h/", "PLAY"), "");
    EXPECT_EQ(DigestAuthorization(good, "", "p", "rtsp://h/", "PLAY"), "");
    EXPECT_EQ(DigestAuthorization(good, "u", "", "rtsp://h/", "PLAY"), "");
    EXPECT_EQ(DigestAuthorization(good, "u", "p", "", "PLAY"), "");
    EXPECT_EQ(DigestAuthorization(good, "u", "p", "rtsp://h/", ""), "");
    EXPECT_EQ(DigestAuthorization(good, "u", "p", "rtsp://h/", 7U), ""); // no such request kind
    EXPECT_NE(DigestAuthorization(good, "u", "p", "rtsp://h/", "PLAY"), "");
}

// Challenges this client cannot answer get no Authorization line, so the request is refused
// rather than answered wrongly.
TEST(DigestAuthorization, EmptyForChallengesItCannotAnswer) {
    const struct {
        const char* name;
        RTSPChallenge challenge;
        DigestNonceUse use;
    } cases[] = {
            {"only auth-int", Rfc7616Challenge("MD5", "auth-int"), kRfc7616Use},
            {"unknown qop", Rfc7616Challenge("MD5", "authx"), kRfc7616Use},
            {"unknown algorithm", Rfc7616Challenge("SHA-512-256"), kRfc7616Use},
            {"session algorithm without qop", Rfc7616Challenge("MD5-sess", ""), kRfc7616Use},
            {"userhash",
             [] {
                 RTSPChallenge challenge = Rfc7616Challenge("SHA-256");
                 challenge.userhash = true;
                 return challenge;
             }(),
             kRfc7616Use},
            {"qop without a count", Rfc7616Challenge("MD5"), {0, "abc"}},
            {"qop without a client nonce", Rfc7616Challenge("MD5"), {1, ""}},
    };

    for (const auto& c : cases) {
        EXPECT_EQ(DigestAuthorization(c.challenge, "u", "p", "rtsp://h/", "PLAY", c.use), "")
                << c.name;
    }
}

TEST(MethodName, NamesEveryMethodAndNothingElse) {
    EXPECT_EQ(MethodName(kDescribe), "DESCRIBE");
    EXPECT_EQ(MethodName(kSetup), "SETUP");
    EXPECT_EQ(MethodName(kPlay), "PLAY");
    EXPECT_EQ(MethodName(kTeardown), "TEARDOWN");
    EXPECT_EQ(MethodName(kOptions), "OPTIONS");
    EXPECT_EQ(MethodName(kPause), "PAUSE");
    EXPECT_EQ(MethodName(0), "");
    EXPECT_EQ(MethodName(7), "");
}

TEST(KeepAliveIntervalMs, HalfTheSessionTimeoutWithoutOverflow) {
    EXPECT_EQ(KeepAliveIntervalMs(60, 60), 30000U);
    EXPECT_EQ(KeepAliveIntervalMs(0, 60), 30000U);
    EXPECT_EQ(KeepAliveIntervalMs(20, 60), 10000U);
    EXPECT_EQ(KeepAliveIntervalMs(1, 60), 500U);
    EXPECT_EQ(KeepAliveIntervalMs(4294967295U, 60), 2147483647500ULL);
}

} // namespace
} // namespace norvane
