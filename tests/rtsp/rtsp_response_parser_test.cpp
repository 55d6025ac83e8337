#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "rtsp/interleaved_splitter.h"
#include "rtsp/rtsp_reply_framer.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_session_state.h"
#include "rtsp/rtsp_types.h"

namespace norvane {
namespace {

RTSPReply Parse(std::string_view text, std::uint32_t method) {
    return CRTSPResponseParser().Parse(text, method);
}

// Feed parses each reply in turn into one session state, as the client does.
RTSPSessionState Feed(std::initializer_list<std::string_view> replies, std::uint32_t method,
                      RTSPSessionState state = {}) {
    for (const std::string_view reply : replies) {
        state.Apply(Parse(reply, method));
    }
    return state;
}

TEST(CRTSPResponseParser, ReadsStatusCSeqAndSession) {
    const RTSPReply reply =
            Parse("RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 12AB;timeout=60\r\n\r\n", kSetup);
    ASSERT_TRUE(reply.accepted);
    EXPECT_EQ(reply.version, "RTSP/1.0");
    EXPECT_EQ(reply.statusCode, 200);
    EXPECT_EQ(reply.reason, "OK");
    EXPECT_EQ(reply.cseq, 5U);
    EXPECT_EQ(reply.session, "12AB"); // kept exactly as written
    EXPECT_EQ(reply.sessionTimeout, 60U);
}

struct ReplyCase {
    const char* name;
    const char* reply;
    bool ok;
};

class ReplyAcceptance : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyAcceptance, AcceptsOrRejects) {
    EXPECT_EQ(Parse(GetParam().reply, kOptions).accepted, GetParam().ok) << GetParam().reply;
}

INSTANTIATE_TEST_SUITE_P(
        CRTSPResponseParser, ReplyAcceptance,
        testing::Values(
                ReplyCase{"Ok", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", true},
                ReplyCase{"Unauthorized", "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n\r\n", true},
                ReplyCase{"NotFound", "RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n", false},
                // A redirection is read for its Location; 300 names no single target.
                ReplyCase{"Redirect", "RTSP/1.0 302 Moved\r\nCSeq: 1\r\n\r\n", true},
                ReplyCase{"MultipleChoices", "RTSP/1.0 300 Choose\r\nCSeq: 1\r\n\r\n", false},
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
            {"Session: 12AB;foo=1", false, "", 99}, // a refused Session header leaves no session
    };
    for (const Case& c : cases) {
        RTSPSessionState state;
        state.sessionTimeout = 99;
        const std::string text = std::string("RTSP/1.0 200 OK\r\n") + c.header + "\r\n\r\n";
        const RTSPReply reply = Parse(text, kSetup);
        EXPECT_EQ(reply.accepted, c.ok) << c.header;
        state.Apply(reply);
        EXPECT_EQ(state.session, c.session) << c.header;
        EXPECT_EQ(state.sessionTimeout, c.timeout) << c.header;
    }
}

// What a SETUP answer says of the media's sender narrows the packets accepted; nothing in it is
// ever a reason to refuse the answer.
TEST(CRTSPResponseParser, TransportNamesTheSender) {
    struct Case {
        const char* header;
        std::optional<std::uint16_t> port;
        std::optional<std::uint32_t> ssrc;
        const char* source;
    };

    const Case cases[] = {
            {"Transport: RTP/AVP;unicast;client_port=3556-3557;server_port=6970-6971;"
             "ssrc=1A2B3C4D;mode=\"PLAY\"",
             6970, 0x1A2B3C4DU, ""},
            {"transport: RTP/AVP/UDP;unicast;source=192.0.2.7;server_port=5000-5001;ssrc=ff", 5000,
             0xFFU, "192.0.2.7"},
            // Only the chosen (first) transport counts; unreadable values are left out.
            {"Transport: RTP/AVP;server_port=0;ssrc=123456789,RTP/AVP;server_port=7000",
             {},
             {},
             ""},
            {"Transport: RTP/AVP;ssrc=0x12;server_port=70000;source", {}, {}, ""},
    };
    for (const Case& c : cases) {
        const RTSPReply reply =
                Parse(std::string("RTSP/1.0 200 OK\r\n") + c.header + "\r\n\r\n", kSetup);
        EXPECT_TRUE(reply.accepted) << c.header;
        ASSERT_TRUE(reply.transport.has_value()) << c.header;
        EXPECT_EQ(reply.transport->serverRtpPort, c.port) << c.header;
        EXPECT_EQ(reply.transport->ssrc, c.ssrc) << c.header;
        EXPECT_EQ(reply.transport->source, c.source) << c.header;
    }
    EXPECT_FALSE(Parse("RTSP/1.0 200 OK\r\nTransport: ;ssrc=1\r\n\r\n", kSetup).transport);
}

// PLAY's RTP-Info names the video stream's first sequence number; the stream is found by its
// control URL, or is the only one named.
TEST(CRTSPResponseParser, RtpInfoNamesTheFirstSequenceNumber) {
    const std::tuple<const char*, const char*, std::optional<std::uint16_t>> cases[] = {
            {"url=rtsp://cam/live/track1;seq=45678;rtptime=1234", "track1", 45678},
            {"url=rtsp://cam/live/trackID=0;seq=1,url=rtsp://cam/live/trackID=1;seq=2", "trackID=1",
             2},
            {"url=rtsp://cam/a;seq=9", "rtsp://cam/video", 9},
            {"url=rtsp://cam/a;seq=9,url=rtsp://cam/b;seq=10", "rtsp://cam/video", {}},
            {"url=rtsp://cam/v;rtptime=5", "v", {}},
            {"url=rtsp://cam/v;seq=65536", "v", {}},
            {"seq=5;rtptime=1", "v", {}},
    };
    for (const auto& [header, control, first] : cases) {
        RTSPSessionState state;
        state.videoControl = control;
        state.Apply(
                Parse(std::string("RTSP/1.0 200 OK\r\nRTP-Info: ") + header + "\r\n\r\n", kPlay));
        EXPECT_EQ(state.firstVideoSequence, first) << header;
    }
}

// The channels of an interleaved transport are those the camera's SETUP reply names, 0 and 1
// unless it names others readably.
TEST(CRTSPResponseParser, InterleavedChannelsOfTheTransport) {
    const std::pair<const char*, std::array<std::uint8_t, 2>> cases[] = {
            {"RTP/AVP/TCP;unicast;interleaved=0-1", {0, 1}},
            {"RTP/AVP/TCP;unicast;INTERLEAVED=4-5;ssrc=1234", {4, 5}},
            {"RTP/AVP/TCP;interleaved=6", {6, 7}},
            {"RTP/AVP/TCP;interleaved=2-9,RTP/AVP;unicast", {2, 9}},
            {"RTP/AVP/TCP;interleaved=300-301", {0, 1}},
            {"RTP/AVP/TCP;interleaved=x", {0, 1}},
            {"RTP/AVP;unicast;client_port=5000-5001", {0, 1}},
    };
    for (const auto& [transport, channels] : cases) {
        RTSPSessionState state;
        state.Apply(Parse(std::string("RTSP/1.0 200 OK\r\nTransport: ") + transport + "\r\n\r\n",
                          kSetup));
        EXPECT_EQ(state.interleavedChannels, channels) << transport;
    }
}

TEST(CRTSPResponseParser, LoneLineFeedsKeepEveryCharacter) {
    const RTSPReply reply = Parse("RTSP/1.0 200 OK\nCSeq: 9\nContent-Type: application/sdp\n"
                                  "Content-Length: 45\n\n"
                                  "v=0\nm=video 0 RTP/AVP 96\na=control:trackID=7\n",
                                  kDescribe);
    ASSERT_TRUE(reply.accepted);
    EXPECT_EQ(reply.cseq, 9U);
    EXPECT_EQ(reply.contentType, "application/sdp");
    EXPECT_EQ(reply.description.videoControl, "trackID=7");
}

TEST(CRTSPResponseParser, ContentLengthIsTheReplysOwn) {
    const RTSPReply first = Parse("RTSP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nv=0\n", kOptions);
    ASSERT_TRUE(first.accepted);
    EXPECT_EQ(first.contentLength, 4U);
    const RTSPReply second = Parse("RTSP/1.0 200 OK\r\nCSeq: 2", kOptions);
    ASSERT_TRUE(second.accepted);
    EXPECT_EQ(second.contentLength, 0U);
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
    const RTSPReply reply = Parse("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                                  "WWW-Authenticate: Digest realm=\"IP Camera(C1214)\", "
                                  "nonce=\"a, b\\\"c\", opaque=\"5ccc\", stale=FALSE, "
                                  "qop=\"auth, auth-int\", algorithm=MD5\r\n\r\n",
                                  kDescribe);
    ASSERT_TRUE(reply.accepted);
    ASSERT_TRUE(reply.challenge.has_value());
    EXPECT_EQ(reply.challenge->scheme, static_cast<std::uint32_t>(kAuthDigest));
    EXPECT_EQ(reply.challenge->realm, "IP Camera(C1214)");
    EXPECT_EQ(reply.challenge->nonce, "a, b\"c");
    EXPECT_EQ(reply.challenge->opaque, "5ccc");
    EXPECT_EQ(reply.challenge->qop, "auth, auth-int");
    EXPECT_EQ(reply.challenge->algorithm, "MD5");
    EXPECT_FALSE(reply.challenge->stale);
    const RTSPReply stale = Parse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest "
                                  "realm=r, nonce=n2, stale=true\r\n\r\n",
                                  kDescribe);
    ASSERT_TRUE(stale.challenge.has_value());
    EXPECT_TRUE(stale.challenge->stale);
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
            {"Sha256OverMd5InLaterLine",
             {"WWW-Authenticate: Digest realm=\"m\", nonce=\"2\", algorithm=MD5",
              "WWW-Authenticate: Digest realm=\"s\", nonce=\"1\", algorithm=SHA-256"},
             kAuthDigest,
             "s"},
            {"Sha256SessOverMd5InOneLine",
             {"WWW-Authenticate: Digest realm=\"m\", nonce=\"2\", qop=\"auth\", Digest "
              "realm=\"s\", nonce=\"1\", qop=\"auth\", algorithm=sha-256-SESS, Basic realm=b"},
             kAuthDigest,
             "s"},
            {"Md5SessOverBasic",
             {"WWW-Authenticate: Basic realm=\"b\"",
              "WWW-Authenticate: Digest realm=\"m\", nonce=\"2\", qop=auth, algorithm=MD5-sess"},
             kAuthDigest,
             "m"},
            {"Md5AfterSha256KeepsSha256",
             {"WWW-Authenticate: Digest realm=\"s\", nonce=\"1\", algorithm=SHA-256",
              "WWW-Authenticate: Digest realm=\"m\", nonce=\"2\""},
             kAuthDigest,
             "s"},
            {"UserhashSha256PassedOverForMd5",
             {"WWW-Authenticate: Digest realm=\"s\", nonce=\"1\", algorithm=SHA-256, "
              "userhash=true",
              "WWW-Authenticate: Digest realm=\"m\", nonce=\"2\""},
             kAuthDigest,
             "m"},
            {"OnlyUserhashIsNotAnswered",
             {"WWW-Authenticate: Digest realm=\"s\", nonce=\"1\", userhash=TRUE"},
             kAuthNone,
             ""},
            {"OnlyAuthIntIsNotAnswered",
             {"WWW-Authenticate: Digest realm=\"s\", nonce=\"1\", qop=\"auth-int\""},
             kAuthNone,
             ""},
            {"BasicIsNotUsedWhenAnUnanswerableDigestCameFirst",
             {"WWW-Authenticate: Digest realm=\"s\", nonce=\"1\", qop=\"auth-int\"",
              "WWW-Authenticate: Basic realm=\"b\""},
             kAuthNone,
             ""},
            {"BasicIsNotUsedWhenAnUnanswerableDigestCameLater",
             {"WWW-Authenticate: Basic realm=\"b\", Digest realm=\"s\", nonce=\"1\", "
              "userhash=true"},
             kAuthNone,
             ""},
            {"UnknownAlgorithmIsNotAnswered",
             {"WWW-Authenticate: Digest realm=\"s\", nonce=\"1\", algorithm=SHA-512-256"},
             kAuthNone,
             ""},
    };
    for (const Case& c : cases) {
        std::string text = "RTSP/1.0 401 Unauthorized\r\n";
        for (const char* header : c.headers) {
            text += std::string(header) + "\r\n";
        }
        text += "\r\n";
        const RTSPReply reply = Parse(text, kOptions);
        EXPECT_TRUE(reply.accepted) << c.name;
        const RTSPChallenge challenge = reply.challenge.value_or(RTSPChallenge{});
        EXPECT_EQ(challenge.scheme, c.scheme) << c.name;
        EXPECT_EQ(challenge.realm, c.realm) << c.name;
    }
}

TEST(CRTSPResponseParser, LaterReplyWithBasicChallengeSwitchesScheme) {
    RTSPSessionState state =
            Feed({"RTSP/1.0 401 U\r\nWWW-Authenticate: Digest realm=\"d\", nonce=\"n\"\r\n\r\n",
                  "RTSP/1.0 200 OK\r\nCSeq: 3\r\n\r\n"},
                 kOptions);
    EXPECT_EQ(state.challenge.scheme, static_cast<std::uint32_t>(kAuthDigest)); // survives
    EXPECT_EQ(state.challenge.nonce, "n");
    EXPECT_EQ(state.cseq, 3U);
    state = Feed({"RTSP/1.0 401 U\r\nWWW-Authenticate: Basic realm=\"b\"\r\n\r\n"}, kOptions,
                 state);
    EXPECT_EQ(state.challenge.scheme, static_cast<std::uint32_t>(kAuthBasic));
    EXPECT_EQ(state.challenge.realm, "b");
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
        const RTSPReply parsed = Parse(framer.Reply(), kDescribe);
        ASSERT_TRUE(parsed.accepted) << split;
        EXPECT_EQ(parsed.description.videoControl, "trackID=1");
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

// Items is what the splitter takes out of `stream` when it arrives in pieces of `piece` bytes
// (0: in two pieces cut at `cut`): "<channel>:<payload>" per frame, the text of each reply, and
// "failed" when the splitter gave up.
std::vector<std::string> Items(const std::string& stream, std::size_t piece, std::size_t cut = 0) {
    CInterleavedSplitter splitter(100);
    std::vector<std::string> items;
    const auto* data = reinterpret_cast<const std::uint8_t*>(stream.data());
    std::vector<std::pair<std::size_t, std::size_t>> pieces;
    if (piece == 0) {
        pieces = {{0, cut}, {cut, stream.size() - cut}};
    } else {
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            pieces.emplace_back(at, std::min(piece, stream.size() - at));
        }
    }
    for (const auto& [at, length] : pieces) {
        splitter.Append({data + at, length});
        for (SplitStatus status = splitter.Next(); status != SplitStatus::NeedMore;
             status = splitter.Next()) {
            if (status == SplitStatus::Failed) {
                items.emplace_back("failed");
                return items;
            }
            if (status == SplitStatus::Frame) {
                const auto payload = splitter.Payload();
                items.push_back(std::to_string(splitter.Channel()) + ":" +
                                std::string(payload.begin(), payload.end()));
            } else {
                items.emplace_back(splitter.ReplyText());
            }
        }
    }
    EXPECT_LE(splitter.Buffered(), 200U); // never more than one cut item
    return items;
}

std::string InterleavedFrame(std::uint8_t channel, const std::string& payload) {
    return std::string{'$', static_cast<char>(channel), static_cast<char>(payload.size() >> 8),
                       static_cast<char>(payload.size() & 0xFF)} +
           payload;
}

// Frames and replies mixed on one connection come out whole and in order wherever TCP cuts them.
TEST(CInterleavedSplitter, EveryCutGivesTheSameItems) {
    const std::string reply = "RTSP/1.0 200 OK\r\nCSeq: 4\r\nContent-Length: 3\r\n\r\n$RT";
    const std::string stream = InterleavedFrame(0, "rtp-1") + reply + InterleavedFrame(1, "RTSP/") +
                               InterleavedFrame(0, std::string(100, 'x')) +
                               "RTSP/1.0 200 OK\nCSeq: 5\n\n";
    const std::vector<std::string> expected = {"0:rtp-1", reply, "1:RTSP/",
                                               "0:" + std::string(100, 'x'),
                                               "RTSP/1.0 200 OK\nCSeq: 5\n\n"};
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        ASSERT_EQ(Items(stream, 0, cut), expected) << cut;
    }
    EXPECT_EQ(Items(stream, 1), expected);
    EXPECT_EQ(Items(stream, 7), expected);
}

// What no camera sends is skipped without losing the items around it; only a reply whose end
// cannot be found ends the splitting.
TEST(CInterleavedSplitter, BadInputIsSkippedOrFails) {
    const std::string ok = InterleavedFrame(0, "good");
    const std::string tooLong = std::string{'$', 0, 0, 101} + std::string(101, '$');

    struct Case {
        const char* name;
        std::string stream;
        std::vector<std::string> items;
    };

    const Case cases[] = {
            {"LengthZero", std::string("$\0\0\0", 4) + ok, {"0:good"}},
            {"LongerThanAnyPacket", tooLong + ok, {"0:good"}},
            {"GarbageBetweenFrames", ok + "\r\n junk R" + ok, {"0:good", "0:good"}},
            {"GarbageLikeAReplyStart", "RTSX" + ok, {"0:good"}},
            {"RequestFromTheServerSkipped",
             "SET_PARAMETER rtsp://cam/ RTSP/1.0\r\nCSeq: 9\r\nContent-Length: 6\r\n\r\nRTSP/1" +
                     ok,
             {"0:good"}},
            // Skipping goes on past where TCP cut the garbage, as if it had not been cut.
            {"GarbageCutBeforeARequestLine",
             ok + "\x01GET / RTSP/1.0\r\n\r\n" + ok,
             {"0:good", "RTSP/1.0\r\n\r\n", "0:good"}},
            {"GarbageLikeARequest", "GET x\x01 y\n" + ok, {"0:good"}},
            {"UnknownChannelPassedOn", InterleavedFrame(7, "x") + ok, {"7:x", "0:good"}},
            {"CutByTheClose", ok + InterleavedFrame(0, "never").substr(0, 6), {"0:good"}},
            {"ReplyMalformed", "RTSP/1.0 200 OK\r\nContent-Length: x\r\n\r\n" + ok, {"failed"}},
            {"ReplyEndless", "RTSP/1.0 200 OK\r\n" + std::string(70000, 'a'), {"failed"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Items(c.stream, 0, c.stream.size()), c.items) << c.name;
        EXPECT_EQ(Items(c.stream, 3), c.items) << c.name;
    }
}

} // namespace
} // namespace norvane
