#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtsp/rtsp_reply_framer.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_types.h"

namespace norvane {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (const int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

TEST(CRTSPResponseParser, ReadsStatusCSeqAndSession) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(
            parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 12AB;timeout=60\r\n\r\n", kSetup));
    EXPECT_EQ(parser.m_version, "RTSP/1.0");
    EXPECT_EQ(parser.m_statusCode, 200);
    EXPECT_EQ(parser.m_reason, "OK");
    EXPECT_EQ(parser.m_cseq, 5U);
    EXPECT_EQ(parser.m_session, "12AB"); // kept exactly as written
    EXPECT_EQ(parser.m_sessionTimeout, 60U);
}

struct ReplyCase {
    const char* name;
    const char* reply;
    bool ok;
};

class ReplyAcceptance : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyAcceptance, AcceptsOrRejects) {
    CRTSPResponseParser parser;
    EXPECT_EQ(parser.Parse(GetParam().reply, kOptions), GetParam().ok) << GetParam().reply;
}

INSTANTIATE_TEST_SUITE_P(
        CRTSPResponseParser, ReplyAcceptance,
        testing::Values(
                ReplyCase{"Ok", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", true},
                ReplyCase{"Unauthorized", "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n\r\n", true},
                ReplyCase{"NotFound", "RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n", false},
                ReplyCase{"Redirect", "RTSP/1.0 302 Moved\r\nCSeq: 1\r\n\r\n", false},
                ReplyCase{"NoReason", "RTSP/1.0 200\r\nCSeq: 1\r\n\r\n", false},
                ReplyCase{"Empty", "", false},
                ReplyCase{"SignedStatus", "RTSP/1.0 +200 OK\r\n\r\n", false},
                ReplyCase{"HugeStatus", "RTSP/1.0 4294967496 OK\r\n\r\n", false},
                ReplyCase{"NoEmptyLine", "RTSP/1.0 200 OK\r\nCSeq: 3", true},
                ReplyCase{"CSeqInOtherName", "RTSP/1.0 200 OK\r\nX-CSeq-Info: a\r\n\r\n", true},
                ReplyCase{"CSeqNoBlank", "RTSP/1.0 200 OK\r\ncseq:7\r\n\r\n", true},
                ReplyCase{"CSeqNotANumber", "RTSP/1.0 200 OK\r\nCSeq: x\r\n\r\n", false},
                ReplyCase{"CSeqNegative", "RTSP/1.0 200 OK\r\nCSeq: -1\r\n\r\n", false},
                ReplyCase{"CSeqMax", "RTSP/1.0 200 OK\r\nCSeq: 4294967295\r\n\r\n", true},
                ReplyCase{"CSeqBeyond32Bits", "RTSP/1.0 200 OK\r\nCSeq: 4294967296\r\n\r\n", false},
                ReplyCase{"LengthBeyond32Bits",
                          "RTSP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\n", false},
                ReplyCase{"TimeoutBeyond32Bits",
                          "RTSP/1.0 200 OK\r\nSession: a;timeout=4294967296\r\n\r\n", false},
                ReplyCase{"SessionWithoutTimeout", "RTSP/1.0 200 OK\r\nSession: 12AB;foo=1\r\n\r\n",
                          false},
                ReplyCase{"SessionEmpty", "RTSP/1.0 200 OK\r\nSession:\r\n\r\n", false},
                ReplyCase{"FormatTextInRealm",
                          "RTSP/1.0 401 X\r\nWWW-Authenticate: Digest realm=\"%s%n%s\", "
                          "nonce=\"%x%x\"\r\n\r\n",
                          true},
                ReplyCase{"DigestWithoutNonce",
                          "RTSP/1.0 401 X\r\nWWW-Authenticate: Digest realm=\"r\"\r\n\r\n", false},
                ReplyCase{"UnterminatedQuote",
                          "RTSP/1.0 401 X\r\nWWW-Authenticate: Basic realm=\"r\r\n\r\n", false},
                ReplyCase{"BodyPromisedButMissing", "RTSP/1.0 200 OK\r\nContent-Length: 5", false}),
        [](const testing::TestParamInfo<ReplyCase>& param) {
            return std::string(param.param.name);
        });

TEST(CRTSPResponseParser, SessionTimeoutRules) {
    struct Case {
        const char* header;
        bool ok;
        const char* session;
        std::uint32_t timeout;
    };

    const Case cases[] = {
            {"Session: 12AB;timeout=0", true, "12AB", 30},
            {"Session: 12AB; timeout = 45", true, "12AB", 45},
            {"Session: MixedCase42", true, "MixedCase42", 99}, // keeps the earlier time-out
            {"session:  AbC ; Timeout=20", true, "AbC", 20},
            {"Session: 12AB;timeout=abc", true, "12AB", 30},
    };
    for (const Case& c : cases) {
        CRTSPResponseParser parser;
        parser.m_sessionTimeout = 99;
        const std::string reply = std::string("RTSP/1.0 200 OK\r\n") + c.header + "\r\n\r\n";
        EXPECT_EQ(parser.Parse(reply, kSetup), c.ok) << c.header;
        EXPECT_EQ(parser.m_session, c.session) << c.header;
        EXPECT_EQ(parser.m_sessionTimeout, c.timeout) << c.header;
    }
}

TEST(CRTSPResponseParser, LoneLineFeedsKeepEveryCharacter) {
    CRTSPResponseParser parser;
    const std::string reply = "RTSP/1.0 200 OK\nCSeq: 9\nContent-Type: application/sdp\n"
                              "Content-Length: 45\n\n"
                              "v=0\nm=video 0 RTP/AVP 96\na=control:trackID=7\n";
    ASSERT_TRUE(parser.Parse(reply, kDescribe));
    EXPECT_EQ(parser.m_cseq, 9U);
    EXPECT_EQ(parser.m_contentType, "application/sdp");
    EXPECT_EQ(parser.m_videoControl, "trackID=7");
}

TEST(CRTSPResponseParser, ContentLengthIsTheReplysOwn) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nv=0\n", kOptions));
    EXPECT_EQ(parser.m_contentLength, 4U);
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 2", kOptions));
    EXPECT_EQ(parser.m_contentLength, 0U);
}

TEST(CRTSPResponseParser, ClassifiesHeadersByNameAtLineStart) {
    struct Case {
        const char* line;
        RTSPHeader header;
    };

    const Case cases[] = {
            {"CSeq: 1", kHeaderCSeq},
            {"cseq:1", kHeaderCSeq},
            {"X-CSeq-Info: a", kHeaderUnknown},
            {"WWW-Authenticate: Digest realm=\"Surveillance Server\"", kHeaderWWWAuthenticate},
            {"www-authenticate: basic realm=\"Session Range\"", kHeaderWWWAuthenticate},
            {"Server: Content-Length 5", kHeaderServer},
            {"Content-Length : 5", kHeaderContentLength},
            {"RTP-Info: url=rtsp://x/Session", kHeaderRtpInfo},
            {"no colon", kHeaderUnknown},
            {"", kHeaderEmpty},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyHeader(c.line), c.header) << c.line;
    }
}

TEST(CRTSPResponseParser, ChallengeKeepsQuotedBlanksAndCommas) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                             "WWW-Authenticate: Digest realm=\"IP Camera(C1214)\", "
                             "nonce=\"a, b\\\"c\", opaque=\"5ccc\", stale=FALSE\r\n\r\n",
                             kDescribe));
    EXPECT_EQ(parser.m_authScheme, static_cast<std::uint32_t>(kAuthDigest));
    EXPECT_EQ(parser.m_realm, "IP Camera(C1214)");
    EXPECT_EQ(parser.m_nonce, "a, b\"c");
    EXPECT_EQ(parser.m_opaque, "5ccc");
}

TEST(CRTSPResponseParser, ChallengeSchemeSelection) {
    struct Case {
        const char* name;
        std::vector<const char*> headers;
        std::uint32_t scheme;
        const char* realm;
    };

    const Case cases[] = {
            {"BasicOnly",
             {"WWW-Authenticate: Basic realm=\"Surveillance Server\""},
             kAuthBasic,
             "Surveillance Server"},
            {"LowerCaseSchemeAndSpacing",
             {"www-authenticate:    digest   realm=r ,nonce=n"},
             kAuthDigest,
             "r"},
            {"DigestThenBasic",
             {"WWW-Authenticate: Digest realm=\"d\", nonce=\"n\"",
              "WWW-Authenticate: Basic realm=\"b\""},
             kAuthDigest,
             "d"},
            {"BasicThenDigest",
             {"WWW-Authenticate: Basic realm=\"b\"",
              "WWW-Authenticate: Digest realm=\"d\", nonce=\"n\""},
             kAuthDigest,
             "d"},
            {"BothInOneLine",
             {"WWW-Authenticate: Basic realm=\"b\", Digest realm=\"d\", nonce=\"n\""},
             kAuthDigest,
             "d"},
            {"UnknownScheme", {"WWW-Authenticate: Negotiate abc/def=="}, kAuthNone, ""},
            {"UnknownAfterBasic",
             {"WWW-Authenticate: Basic realm=\"b\"", "WWW-Authenticate: Negotiate"},
             kAuthBasic,
             "b"},
            {"Sha256DigestFallsBackToMd5",
             {"WWW-Authenticate: Digest realm=\"s\", nonce=\"1\", algorithm=SHA-256",
              "WWW-Authenticate: Digest realm=\"m\", nonce=\"2\", algorithm=MD5"},
             kAuthDigest,
             "m"},
    };
    for (const Case& c : cases) {
        CRTSPResponseParser parser;
        std::string reply = "RTSP/1.0 401 Unauthorized\r\n";
        for (const char* header : c.headers) {
            reply += std::string(header) + "\r\n";
        }
        reply += "\r\n";
        EXPECT_TRUE(parser.Parse(reply, kOptions)) << c.name;
        EXPECT_EQ(parser.m_authScheme, c.scheme) << c.name;
        EXPECT_EQ(parser.m_realm, c.realm) << c.name;
    }
}

TEST(CRTSPResponseParser, LaterReplyWithBasicChallengeSwitchesScheme) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(
            "RTSP/1.0 401 U\r\nWWW-Authenticate: Digest realm=\"d\", nonce=\"n\"\r\n\r\n",
            kOptions));
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 3\r\n\r\n", kOptions));
    EXPECT_EQ(parser.m_authScheme, static_cast<std::uint32_t>(kAuthDigest)); // survives
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 U\r\nWWW-Authenticate: Basic realm=\"b\"\r\n\r\n",
                             kOptions));
    EXPECT_EQ(parser.m_authScheme, static_cast<std::uint32_t>(kAuthBasic));
}

TEST(CRTSPResponseParser, SdpControlsAndParameterSets) {
    struct Case {
        const char* name;
        const char* sdp;
        bool ok;
        const char* video;
        const char* audio;
        const char* metadata;
        std::vector<std::uint8_t> sps;
        std::vector<std::uint8_t> pps;
    };

    const auto sps = Bytes({0x67, 0x42, 0x00, 0x1e, 0x95, 0xa8, 0x2d, 0x04, 0x99});
    const auto pps = Bytes({0x68, 0xce, 0x31, 0x52});
    const Case cases[] = {
            {"VideoControl",
             "v=0\r\na=control:*\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n",
             true,
             "trackID=1",
             "",
             "",
             {},
             {}},
            {"BlankAfterColon",
             "m=video 0 RTP/AVP 96\r\na=control: trackID=1\r\n",
             true,
             "trackID=1",
             "",
             "",
             {},
             {}},
            {"Star", "m=video 0 RTP/AVP 96\r\na=control:*\r\n", true, "*", "", "", {}, {}},
            {"AllMedia",
             "m=video 0 RTP/AVP 96\na=control:v\nm=audio 0 RTP/AVP 0\na=control:a\n"
             "m=metadata 0 RTP/AVP 107\na=control:m\nm=application 0 RTP/AVP 98\na=control:x\n",
             true,
             "v",
             "a",
             "m",
             {},
             {}},
            {"AbsoluteControl",
             "m=video 0 RTP/AVP 96\r\na=control:rtsp://10.0.0.5/main/track1\r\n",
             true,
             "rtsp://10.0.0.5/main/track1",
             "",
             "",
             {},
             {}},
            {"WrongCaseControl",
             "m=video 0 RTP/AVP 96\r\na=Control:trackID=1\r\n",
             false,
             "",
             "",
             "",
             {},
             {}},
            {"ControlWithoutValue",
             "m=video 0 RTP/AVP 96\r\na=control:\r\n",
             false,
             "",
             "",
             "",
             {},
             {}},
            {"ParameterSets",
             "m=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1;"
             "sprop-parameter-sets=Z0IAHpWoLQSZ,aM4xUg==\r\n",
             true, "", "", "", sps, pps},
            {"ParametersAfterSetsStayOut",
             "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0IAHpWoLQSZ,aM4xUg==;"
             "profile-level-id=42001e\r\n",
             true, "", "", "", sps, pps},
            {"BlankEndsSets",
             "a=fmtp:96 sprop-parameter-sets=Z0IAHpWoLQSZ,aM4xUg== profile-level-id=42001e\n", true,
             "", "", "", sps, pps},
            {"OneEntry",
             "a=fmtp:96 sprop-parameter-sets=Z0IAHpWoLQSZ\r\n",
             true,
             "",
             "",
             "",
             {},
             {}},
            {"EmptyFirst",
             "a=fmtp:96 sprop-parameter-sets=,aM4xUg==\r\n",
             true,
             "",
             "",
             "",
             {},
             {}},
            {"Empty", "", true, "", "", "", {}, {}},
    };
    for (const Case& c : cases) {
        CRTSPResponseParser parser;
        EXPECT_EQ(parser.ParseSdp(c.sdp), c.ok) << c.name;
        EXPECT_EQ(parser.m_videoControl, c.video) << c.name;
        EXPECT_EQ(parser.m_audioControl, c.audio) << c.name;
        EXPECT_EQ(parser.m_metadataControl, c.metadata) << c.name;
        EXPECT_EQ(parser.m_sps, c.sps) << c.name;
        EXPECT_EQ(parser.m_pps, c.pps) << c.name;
    }
}

TEST(CRTSPResponseParser, SecondFmtpAppendsAndOversizedSetIsDropped) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.ParseSdp("a=fmtp:96 sprop-parameter-sets=AAEC,AwQF\r\n"
                                "a=fmtp:96 sprop-parameter-sets=Bgc=,CA==\r\n"));
    EXPECT_EQ(parser.m_sps, Bytes({0, 1, 2, 6, 7}));
    EXPECT_EQ(parser.m_pps, Bytes({3, 4, 5, 8}));

    CRTSPResponseParser big;
    const std::string tooLong(344, 'A'); // 258 bytes
    ASSERT_TRUE(big.ParseSdp("a=fmtp:96 sprop-parameter-sets=" + tooLong + ",AwQF\r\n"));
    EXPECT_TRUE(big.m_sps.empty());
    EXPECT_EQ(big.m_pps, Bytes({3, 4, 5}));
}

TEST(Base64Decode, DecodesRfc4648VectorsAndSkipsOtherCharacters) {
    struct Case {
        const char* text;
        const char* plain;
    };

    // RFC 4648, section 10.
    const Case cases[] = {{"", ""},
                          {"Zg==", "f"},
                          {"Zm8=", "fo"},
                          {"Zm9v", "foo"},
                          {"Zm9vYg==", "foob"},
                          {"Zm9vYmE=", "fooba"},
                          {"Zm9vYmFy", "foobar"},
                          {"Zm9v\r\nYmFy", "foobar"},
                          {"Zm9vY", "foo"}};
    for (const Case& c : cases) {
        std::array<std::uint8_t, 16> buffer{};
        std::size_t count = 0;
        ASSERT_TRUE(Base64Decode(c.text, buffer, count)) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), count), c.plain);
    }
}

TEST(Base64Decode, RefusesBeyondCapacityButCountsAll) {
    std::array<std::uint8_t, 4> buffer{};
    std::size_t count = 0;
    EXPECT_FALSE(Base64Decode("Zm9vYmFy", buffer, count));
    EXPECT_EQ(count, 6U);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), 3), "foo");
    EXPECT_EQ(buffer[3], 0); // nothing of the refused group was written
}

TEST(ParseChallenges, MalformedValuesAreRefused) {
    EXPECT_FALSE(ParseChallenges("Digest realm=\"open").has_value());
    EXPECT_FALSE(ParseChallenges("\"Digest\"").has_value());
    const auto none = ParseChallenges("");
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
}

// A reply with a body, fed to the framer in every two-way split, always yields the same reply.
TEST(CRTSPReplyFramer, EveryTwoWaySplitGivesTheWholeReply) {
    const std::string body = "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n";
    const std::string reply = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\n"
                              "Content-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
    const std::string stream = reply + "RTSP/1.0 200 OK\r\n"; // bytes of a later message follow
    const auto* data = reinterpret_cast<const std::uint8_t*>(stream.data());
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        CRTSPReplyFramer framer;
        FrameStatus status = framer.Feed({data, split});
        if (split < reply.size()) {
            ASSERT_EQ(status, FrameStatus::NeedMore) << split;
        }
        status = framer.Feed({data + split, stream.size() - split});
        ASSERT_EQ(status, FrameStatus::Complete) << split;
        ASSERT_EQ(framer.Reply(), reply) << split;
        CRTSPResponseParser parser;
        ASSERT_TRUE(parser.Parse(framer.Reply(), kDescribe)) << split;
        EXPECT_EQ(parser.m_videoControl, "trackID=1");
    }
}

TEST(CRTSPReplyFramer, FramingRules) {
    struct Case {
        const char* name;
        std::string input;
        FrameStatus status;
        std::size_t replyLength;
    };

    const std::string bigHeader = "RTSP/1.0 200 OK\r\nX: " + std::string(70000, 'a') + "\r\n\r\n";
    const Case cases[] = {
            {"LoneLineFeeds", "RTSP/1.0 200 OK\nCSeq: 1\n\nextra", FrameStatus::Complete, 25},
            {"MixedEnds", "RTSP/1.0 200 OK\r\nCSeq: 1\n\r\n", FrameStatus::Complete, 27},
            {"NoEmptyLineYet", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", FrameStatus::NeedMore, 0},
            {"BodyIncomplete", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n12345",
             FrameStatus::NeedMore, 0},
            {"BodyBeyondBound", "RTSP/1.0 200 OK\r\nContent-Length: 1048577\r\n\r\n",
             FrameStatus::TooLarge, 0},
            {"BodyAtBound", "RTSP/1.0 200 OK\r\nContent-Length: 1048576\r\n\r\n",
             FrameStatus::NeedMore, 0},
            {"HeaderBeyondBound", bigHeader, FrameStatus::TooLarge, 0},
            {"HeaderEndlessWithoutEmptyLine", std::string(70000, 'a'), FrameStatus::TooLarge, 0},
            {"LengthNotANumber", "RTSP/1.0 200 OK\r\nContent-Length: x\r\n\r\n",
             FrameStatus::Malformed, 0},
            {"LengthBeyond32Bits",
             "RTSP/1.0 200 OK\r\nContent-Length: 18446744073709551617\r\n\r\n",
             FrameStatus::Malformed, 0},
            {"ContradictingLengths",
             "RTSP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
             FrameStatus::Malformed, 0},
            {"LengthNameInOtherValue", "RTSP/1.0 200 OK\r\nServer: Content-Length: 9\r\n\r\n",
             FrameStatus::Complete, 46},
    };
    for (const Case& c : cases) {
        CRTSPReplyFramer framer;
        const FrameStatus status = framer.Feed(
                {reinterpret_cast<const std::uint8_t*>(c.input.data()), c.input.size()});
        EXPECT_EQ(status, c.status) << c.name;
        EXPECT_EQ(framer.Reply().size(), c.replyLength) << c.name;
    }
}

} // namespace
} // namespace norvane
