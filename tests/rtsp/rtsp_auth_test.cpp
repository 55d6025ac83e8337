#include <string>

#include <gtest/gtest.h>

#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_types.h"

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
    return {kAuthDigest, std::move(realm), std::move(nonce), std::move(opaque)};
}

TEST(DigestAuthorization, ResponseIsMd5OfHa1NonceAndHa2) {
    // Expected responses computed independently with Python's hashlib.
    const RTSPChallenge challenge = DigestChallenge("IP Camera(C1214)", "nonce, 1");
    const std::string uri = "rtsp://10.0.0.5:554/vtl_media/main";
    EXPECT_EQ(DigestAuthorization(challenge, "admin", "secret", uri, kDescribe),
              "Authorization: Digest username=\"admin\", realm=\"IP Camera(C1214)\", "
              "nonce=\"nonce, 1\", uri=\"rtsp://10.0.0.5:554/vtl_media/main\", "
              "response=\"a71ca66b289f806e14816d1d03f08b3f\"\r\n");
    EXPECT_NE(DigestAuthorization(challenge, "admin", "secret", uri, kSetup)
                      .find("response=\"bb43884e7352d759147b5bd167cddb12\""),
              std::string::npos);
}

TEST(DigestAuthorization, EchoesOpaqueAndQuotesSpecialCharacters) {
    const RTSPChallenge challenge = DigestChallenge("a\"b", "n\\1", "op aque");
    const std::string line = DigestAuthorization(challenge, "u", "p", "rtsp://h:554/", kPlay);
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
    const std::string line = DigestAuthorization(challenge, "u", "p", "rtsp://h/", kOptions);
    EXPECT_NE(line.find("realm=\"%n%s%x\", nonce=\"%s%s\""), std::string::npos) << line;
}

TEST(DigestAuthorization, EmptyWithoutCompleteInputs) {
    const RTSPChallenge good = DigestChallenge("r", "n");
    RTSPChallenge basic = good;
    basic.scheme = kAuthBasic;
    EXPECT_EQ(DigestAuthorization(basic, "u", "p", "rtsp://h/", kPlay), "");
    EXPECT_EQ(DigestAuthorization(DigestChallenge("", "n"), "u", "p", "rtsp://h/", kPlay), "");
    EXPECT_EQ(DigestAuthorization(DigestChallenge("r", ""), "u", "p", "rtsp://h/", kPlay), "");
    EXPECT_EQ(DigestAuthorization(good, "", "p", "rtsp://h/", kPlay), "");
    EXPECT_EQ(DigestAuthorization(good, "u", "", "rtsp://h/", kPlay), "");
    EXPECT_EQ(DigestAuthorization(good, "u", "p", "", kPlay), "");
    EXPECT_NE(DigestAuthorization(good, "u", "p", "rtsp://h/", kPlay), "");
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
