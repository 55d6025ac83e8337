#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client_test_helpers.h"
#include "memory_stream.h"
#include "platform/event_handle.h"
#include "rtsp/base_rtsp_client.h"
#include "text/sha256.h"

namespace norvane {
namespace {

using test::CameraSettings;
using test::CMemoryStream;
using test::ExpectedDigestResponse;
using test::Ok;
using test::SdpReply;

// Cut returns `text` in pieces of `size` bytes (the last one shorter).
std::vector<std::string> Cut(const std::string& text, std::size_t size) {
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < text.size(); i += size) {
        pieces.push_back(text.substr(i, size));
    }
    return pieces;
}

TEST(CBaseRTSPClient, FirstDescribeIsTheBareTemplate) {
    CBaseRTSPClient client;
    client.Settings() = CameraSettings();
    client.Settings().address = "10.0.0.5";
    EXPECT_EQ(client.BuildRequest(kDescribe),
              "DESCRIBE rtsp://10.0.0.5:554/vtl_media/main RTSP/1.0\r\nCSeq: 1\r\n"
              "Accept: application/sdp\r\nUser-Agent: Norvane\r\n\r\n");
}

TEST(CBaseRTSPClient, RequestTemplates) {
    CBaseRTSPClient client;
    client.Settings() = CameraSettings();
    client.State().cseq = 7;
    client.State().session = "AbC12xY";
    client.State().videoControl = "trackID=1";
    const std::string base = "rtsp://127.0.0.1:554/vtl_media/main";
    EXPECT_EQ(client.BuildRequest(kSetup),
              "SETUP " + base +
                      "/trackID=1 RTSP/1.0\r\nCSeq: 8\r\n"
                      "Transport: RTP/AVP/UDP;unicast;client_port=3556-3557\r\nUser-Agent: "
                      "Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(kPlay),
              "PLAY " + base +
                      " RTSP/1.0\r\nCSeq: 9\r\nSession: AbC12xY\r\n"
                      "Range: npt=0.000-\r\nUser-Agent: Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(kOptions),
              "OPTIONS " + base +
                      " RTSP/1.0\r\nCSeq: 10\r\nSession: AbC12xY\r\nUser-Agent: Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(kTeardown),
              "TEARDOWN " + base +
                      " RTSP/1.0\r\nCSeq: 11\r\nSession: AbC12xY\r\nUser-Agent: Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(kPause),
              "PAUSE " + base +
                      " RTSP/1.0\r\nCSeq: 12\r\nSession: AbC12xY\r\n"
                      "Range: npt=0.000-\r\nUser-Agent: Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(7), "");
    EXPECT_EQ(client.State().cseq, 13U); // an unknown method still used a number
}

TEST(CBaseRTSPClient, TrackUrlRules) {
    struct Case {
        const char* path;
        const char* control;
        std::uint32_t track;
        const char* url;
    };

    const Case cases[] = {
            {"", "trackID=1", 0, "rtsp://cam:554/trackID=1"},
            {"vtl_media/main", "trackID=1", 0, "rtsp://cam:554/vtl_media/main/trackID=1"},
            {"vtl_media/main", "*", 0, "rtsp://cam:554/vtl_media/main"},
            {"vtl_media/main", "rtsp://10.1.1.1:8554/other/track2", 0,
             "rtsp://10.1.1.1:8554/other/track2"},
            {"vtl_media/main", "RTSP://cam/x", 0, "RTSP://cam/x"},
            {"", "audio", 1, "rtsp://cam:554/audio"},
            {"p", "meta", 2, "rtsp://cam:554/p/meta"},
            {"p", "trackID=1", 3, "rtsp://cam:554/p/"},
    };
    for (const Case& c : cases) {
        CBaseRTSPClient client;
        client.Settings().address = "cam";
        client.Settings().path = c.path;
        client.Settings().track = c.track;
        client.State().videoControl = c.control;
        client.State().audioControl = c.control;
        client.State().metadataControl = c.control;
        EXPECT_EQ(client.TrackUrl(), c.url) << c.path << " " << c.control;
    }
}

TEST(CBaseRTSPClient, AuthorizationLines) {
    CBaseRTSPClient client;
    client.Settings() = CameraSettings();
    client.Settings().authScheme = kAuthBasic;
    EXPECT_NE(client.BuildRequest(kDescribe).find("\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n"),
              std::string::npos);
    // Basic credentials beyond 72 bytes: no request, and no CSeq used.
    client.Settings().password = std::string(67, 'p');
    const std::uint32_t before = client.State().cseq;
    EXPECT_EQ(client.BuildRequest(kDescribe), "");
    EXPECT_EQ(client.State().cseq, before);

    // Digest hashes the base URL, also for SETUP whose request line names the track URL.
    client.Settings() = CameraSettings();
    client.Settings().authScheme = kAuthDigest;
    client.State().challenge.scheme = kAuthDigest;
    client.State().challenge.realm = "Surveillance Server";
    client.State().challenge.nonce = "n1";
    client.State().videoControl = "trackID=1";
    const std::string base = "rtsp://127.0.0.1:554/vtl_media/main";
    const std::string setup = client.BuildRequest(kSetup);
    EXPECT_NE(setup.find("uri=\"" + base + "\""), std::string::npos) << setup;
    EXPECT_NE(setup.find(ExpectedDigestResponse("SETUP", base, "n1")), std::string::npos);
}

TEST(CBaseRTSPClient, TransactWithoutConnectionFails) {
    CBaseRTSPClient client;
    EXPECT_FALSE(client.Transact(kDescribe));
    EXPECT_FALSE(client.Request(kOptions));
}

// A reply is read whole however the stream cuts it: at every single split point, and in pieces.
TEST(CBaseRTSPClient, ReplyInPiecesOverTheStream) {
    const std::string reply = SdpReply(1);
    std::vector<std::vector<std::string>> deliveries = {Cut(reply, 1), Cut(reply, 7)};
    for (std::size_t split = 1; split < reply.size(); ++split) {
        deliveries.push_back({reply.substr(0, split), reply.substr(split)});
    }
    for (const std::vector<std::string>& pieces : deliveries) {
        SCOPED_TRACE(pieces.front().size());
        CMemoryStream stream;
        stream.Answer(pieces);
        CBaseRTSPClient client(nullptr, &stream);
        ASSERT_TRUE(client.Connect(CameraSettings()));
        ASSERT_TRUE(client.Transact(kDescribe));
        EXPECT_EQ(client.State().videoControl, "trackID=1");
        EXPECT_EQ(client.Sps().size(), 9U);
        EXPECT_EQ(client.Pps().size(), 4U);
    }
}

// Each exchange takes its own reply: one that arrives right after its request, one glued behind
// another reply in the same segment, or one that arrived unasked, is never the next request's.
TEST(CBaseRTSPClient, TwoRepliesBackToBack) {
    CMemoryStream stream;
    stream.Answer({Ok(1, "Session: first;timeout=10\r\n")});
    stream.Answer(
            {Ok(2, "Session: second;timeout=20\r\n") + Ok(3, "Session: glued;timeout=5\r\n")});
    stream.Answer({Ok(3, "Session: third;timeout=30\r\n")});
    CBaseRTSPClient client(nullptr, &stream);
    ASSERT_TRUE(client.Connect(CameraSettings()));
    ASSERT_TRUE(client.Transact(kOptions));
    EXPECT_EQ(client.State().session, "first");
    ASSERT_TRUE(client.Transact(kOptions));
    EXPECT_EQ(client.State().session, "second");
    EXPECT_EQ(client.SessionTimeout(), 20U);
    stream.Arrive(Ok(4, "Session: late;timeout=7\r\n"));
    ASSERT_TRUE(client.Transact(kOptions));
    EXPECT_EQ(client.State().session, "third");
    EXPECT_EQ(client.SessionTimeout(), 30U);
    EXPECT_EQ(client.State().cseq, 3U);
    ASSERT_EQ(stream.Requests().size(), 3U);
    EXPECT_NE(stream.Requests()[2].find("\r\nSession: second\r\n"), std::string::npos);
}

// RecordingSink keeps what a reader hands over, as "<channel>:<payload>".
struct RecordingSink final : IInterleavedSink {
    void OnInterleavedFrame(std::uint8_t channel, std::span<const std::uint8_t> payload) override {
        frames.push_back(std::to_string(channel) + ":" +
                         std::string(payload.begin(), payload.end()));
    }

    int HoldTimeoutMs() override { return hold; }

    void OnHoldTimeout() override { ++holdTimeouts; }

    std::vector<std::string> frames;
    int hold = -1;
    int holdTimeouts = 0;
};

std::string Frame(std::uint8_t channel, const std::string& payload) {
    return std::string{'$', static_cast<char>(channel), 0, static_cast<char>(payload.size())} +
           payload;
}

// With interleaved transport SETUP asks for channels 0 and 1; a reply is found among frames and
// behind the reply to an earlier request, frames before it are dropped and those behind it wait
// for the reader, which hands them over first. A closed connection ends the reader and every
// later request at once.
TEST(CBaseRTSPClient, InterleavedRepliesAmongFrames) {
    CMemoryStream stream;
    stream.Answer({Ok(1, "Session: s1\r\n")});
    stream.Answer({Frame(0, "early") + Ok(1) + Frame(0, "x").substr(0, 3),
                   Frame(0, "x").substr(3) + Ok(2, "Range: npt=0.000-\r\n").substr(0, 9),
                   Ok(2, "Range: npt=0.000-\r\n").substr(9) + Frame(0, "rtp-a") +
                           Frame(1, "rtcp").substr(0, 2),
                   Frame(1, "rtcp").substr(2) + Frame(5, "other")});
    CBaseRTSPClient client(nullptr, &stream);
    RTSPSessionSettings settings = CameraSettings();
    settings.interleaved = true;
    ASSERT_TRUE(client.Connect(settings));
    ASSERT_TRUE(client.Request(kSetup));
    EXPECT_NE(stream.Requests()[0].find("\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"),
              std::string::npos);
    ASSERT_TRUE(client.Request(kPlay)) << "the stale reply to CSeq 1 is skipped";
    EXPECT_EQ(client.StatusCode(), 200);

    RecordingSink sink;
    client.SetReaderActive(true);
    for (int read = 0; read < 4; ++read) {
        ASSERT_EQ(client.ReadInterleaved(sink, nullptr), InterleavedRead::Ok);
    }
    EXPECT_EQ(sink.frames, (std::vector<std::string>{"0:rtp-a", "1:rtcp", "5:other"}));
    EXPECT_EQ(sink.holdTimeouts, 0) << "nothing held back, nothing to release";
    sink.hold = 0;
    ASSERT_EQ(client.ReadInterleaved(sink, nullptr), InterleavedRead::Ok);
    EXPECT_EQ(sink.holdTimeouts, 1) << "a held packet's time ran out without data";

    stream.CloseWhenDrained();
    EXPECT_EQ(client.ReadInterleaved(sink, nullptr), InterleavedRead::Lost);
    client.SetReaderActive(false);
    EXPECT_FALSE(client.Request(kOptions));
    EXPECT_EQ(stream.Requests().size(), 2U) << "nothing is sent on a lost connection";
}

// A request succeeds only when its final reply is a success: a refusal ends the exchange (the
// session must not go on to SETUP and PLAY after a refused DESCRIBE). A Digest 401 is answered
// once with the challenge; a second 401 is the refusal unless it only says the nonce went stale,
// which is answered once more. A challenge the client cannot answer is a refusal at once.
TEST(CBaseRTSPClient, OnlyASuccessfulReplyCompletesARequest) {
    const std::string digest401 = "RTSP/1.0 401 Unauthorized\r\nCSeq: %\r\nWWW-Authenticate: "
                                  "Digest realm=\"cam\", nonce=\"n1\"\r\n\r\n";
    const std::string stale401 = "RTSP/1.0 401 Unauthorized\r\nCSeq: %\r\nWWW-Authenticate: "
                                 "Digest realm=\"cam\", nonce=\"n2\", stale=true\r\n\r\n";
    const std::string userhash401 = "RTSP/1.0 401 Unauthorized\r\nCSeq: %\r\nWWW-Authenticate: "
                                    "Digest realm=\"cam\", nonce=\"n3\", userhash=true\r\n\r\n";
    const auto numbered = [](std::string text, unsigned cseq) {
        return text.replace(text.find('%'), 1, std::to_string(cseq));
    };

    const struct {
        const char* name;
        std::vector<std::string> replies;
        bool succeeds;
        std::int32_t status;
    } cases[] = {
            {"200", {Ok(1)}, true, 200},
            {"404", {"RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n"}, false, 404},
            {"454", {"RTSP/1.0 454 Session Not Found\r\nCSeq: 1\r\n\r\n"}, false, 454},
            {"503", {"RTSP/1.0 503 Service Unavailable\r\nCSeq: 1\r\n\r\n"}, false, 503},
            {"401 then 200", {numbered(digest401, 1), Ok(2)}, true, 200},
            {"401 twice", {numbered(digest401, 1), numbered(digest401, 2)}, false, 401},
            {"401, stale 401, 200",
             {numbered(digest401, 1), numbered(stale401, 2), Ok(3)},
             true,
             200},
            {"401, stale 401, 401",
             {numbered(digest401, 1), numbered(stale401, 2), numbered(digest401, 3)},
             false,
             401},
            {"stale 401 three times",
             {numbered(stale401, 1), numbered(stale401, 2), numbered(stale401, 3)},
             false,
             401},
            {"only a hashed user name", {numbered(userhash401, 1)}, false, 401},
    };

    for (const auto& c : cases) {
        CMemoryStream stream;
        for (const std::string& reply : c.replies) {
            stream.Answer({reply});
        }
        CBaseRTSPClient client(nullptr, &stream);
        ASSERT_TRUE(client.Connect(CameraSettings())) << c.name;
        EXPECT_EQ(client.Request(kDescribe), c.succeeds) << c.name;
        EXPECT_EQ(client.StatusCode(), c.status) << c.name;
        EXPECT_EQ(stream.Requests().size(), c.replies.size()) << c.name;
    }
}

// A camera that sends DESCRIBE elsewhere: the session moves to the new server, and the tracks are
// named relative to the description's Content-Base; endless or unusable redirections fail.
TEST(CBaseRTSPClient, RedirectionMovesTheSessionAndContentBaseNamesTheTracks) {
    const auto moved = [](unsigned cseq, const std::string& location) {
        return "RTSP/1.0 302 Moved\r\nCSeq: " + std::to_string(cseq) + "\r\nLocation: " + location +
               "\r\n\r\n";
    };
    std::string described = SdpReply(2);
    described.insert(described.find("Content-Type:"),
                     "Content-Base: rtsp://192.0.2.9:8554/moved/\r\n");
    {
        CMemoryStream stream;
        stream.Answer({moved(1, "rtsp://user:pw@192.0.2.9:8554/moved")});
        stream.Answer({described});
        stream.Answer({Ok(3, "Session: 1\r\n")});
        CBaseRTSPClient client(nullptr, &stream);
        ASSERT_TRUE(client.Connect(CameraSettings()));
        EXPECT_TRUE(client.Request(kDescribe));
        EXPECT_EQ(stream.Connects(), (std::vector<std::string>{"127.0.0.1:554", "192.0.2.9:8554"}));
        EXPECT_EQ(client.BaseUrl(), "rtsp://192.0.2.9:8554/moved");
        EXPECT_TRUE(client.Request(kSetup));
        ASSERT_EQ(stream.Requests().size(), 3U);
        EXPECT_EQ(stream.Requests()[1].rfind("DESCRIBE rtsp://192.0.2.9:8554/moved RTSP/1.0", 0),
                  0U);
        EXPECT_EQ(stream.Requests()[2].rfind("SETUP rtsp://192.0.2.9:8554/moved/trackID=1 ", 0),
                  0U);
    }

    const struct {
        const char* name;
        std::vector<std::string> replies;
    } failures[] = {
            {"endless",
             {moved(1, "rtsp://192.0.2.1/1"), moved(2, "rtsp://192.0.2.2/2"),
              moved(3, "rtsp://192.0.2.3/3"), moved(4, "rtsp://192.0.2.4/4")}},
            {"not rtsp", {moved(1, "http://192.0.2.9/x")}},
            {"bad port", {moved(1, "rtsp://192.0.2.9:99999/x")}},
    };

    for (const auto& c : failures) {
        CMemoryStream stream;
        for (const std::string& reply : c.replies) {
            stream.Answer({reply});
        }
        CBaseRTSPClient client(nullptr, &stream);
        ASSERT_TRUE(client.Connect(CameraSettings()));
        EXPECT_FALSE(client.Request(kDescribe)) << c.name;
        EXPECT_EQ(client.StatusCode(), 302) << c.name;
    }
}

// AuthorizationOf returns the Authorization header line of a request, or an empty text.
std::string AuthorizationOf(const std::string& request) {
    const std::size_t start = request.find("\r\nAuthorization: ");
    if (start == std::string::npos) {
        return {};
    }
    return request.substr(start + 2, request.find("\r\n", start + 2) - start - 2);
}

// A camera that asks for SHA-256 with qop=auth gets nc, cnonce and the algorithm back; each use of
// the same nonce counts on, and a stale nonce's successor starts again at 1 with a new cnonce.
TEST(CBaseRTSPClient, Sha256DigestWithQopCountsUsesOfTheNonce) {
    const auto challenge = [](unsigned cseq, const std::string& nonce, const char* extra) {
        return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + std::to_string(cseq) +
               "\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n"
               "WWW-Authenticate: Digest realm=\"cam\", nonce=\"" +
               nonce + "\", qop=\"auth,auth-int\", algorithm=SHA-256, opaque=\"op\"" + extra +
               "\r\n\r\n";
    };
    CMemoryStream stream;
    stream.Answer({challenge(1, "n1", "")});
    stream.Answer({Ok(2)});
    stream.Answer({Ok(3)});
    stream.Answer({challenge(4, "n2", ", stale=TRUE")});
    stream.Answer({Ok(5)});
    CBaseRTSPClient client(nullptr, &stream);
    const std::vector<std::string> cnonces = {"0123456789abcdef", "fedcba9876543210"};
    std::size_t made = 0;
    client.SetClientNonceSource([&] { return cnonces.at(made++); });
    ASSERT_TRUE(client.Connect(CameraSettings()));

    ASSERT_TRUE(client.Request(kDescribe));
    ASSERT_TRUE(client.Request(kOptions));
    ASSERT_TRUE(client.Request(kPlay)); // stale: answered again, not a refusal
    ASSERT_EQ(stream.Requests().size(), 5U);
    EXPECT_EQ(AuthorizationOf(stream.Requests()[0]), "");

    const std::string uri = "rtsp://127.0.0.1:554/vtl_media/main";
    const auto expected = [&](const std::string& method, const std::string& nonce,
                              const std::string& nc, const std::string& cnonce) {
        const std::string ha1 = Sha256Hex("admin:cam:secret");
        const std::string ha2 = Sha256Hex(method + ":" + uri);
        const std::string response =
                Sha256Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2);
        return "Authorization: Digest username=\"admin\", realm=\"cam\", nonce=\"" + nonce +
               "\", uri=\"" + uri + "\", response=\"" + response +
               "\", algorithm=SHA-256, qop=auth, nc=" + nc + ", cnonce=\"" + cnonce +
               "\", opaque=\"op\"";
    };
    EXPECT_EQ(AuthorizationOf(stream.Requests()[1]),
              expected("DESCRIBE", "n1", "00000001", "0123456789abcdef"));
    EXPECT_EQ(AuthorizationOf(stream.Requests()[2]),
              expected("OPTIONS", "n1", "00000002", "0123456789abcdef"));
    EXPECT_EQ(AuthorizationOf(stream.Requests()[3]),
              expected("PLAY", "n1", "00000003", "0123456789abcdef"));
    EXPECT_EQ(AuthorizationOf(stream.Requests()[4]),
              expected("PLAY", "n2", "00000001", "fedcba9876543210"));
}

// Without a fixed source, each new nonce gets 32 random hexadecimal digits as its client nonce.
TEST(CBaseRTSPClient, DefaultClientNonceIsRandomHex) {
    std::vector<std::string> cnonces;
    for (const char* nonce : {"n1", "n2"}) {
        CBaseRTSPClient client;
        client.Settings() = CameraSettings();
        client.Settings().authScheme = kAuthDigest;
        client.State().challenge.scheme = kAuthDigest;
        client.State().challenge.realm = "cam";
        client.State().challenge.nonce = nonce;
        client.State().challenge.qop = "auth";
        const std::string line = AuthorizationOf(client.BuildRequest(kOptions));
        const std::size_t start = line.find("cnonce=\"");
        ASSERT_NE(start, std::string::npos) << line;
        const std::string cnonce = line.substr(start + 8, line.find('"', start + 8) - start - 8);
        EXPECT_EQ(cnonce.size(), 32U) << cnonce;
        EXPECT_EQ(cnonce.find_first_not_of("0123456789abcdef"), std::string::npos) << cnonce;
        cnonces.push_back(cnonce);
    }
    EXPECT_NE(cnonces[0], cnonces[1]);
}

// The body is exactly Content-Length bytes, wherever the header block ends in the stream; a body
// that never completes fails the exchange.
TEST(CBaseRTSPClient, ReplyWithABody) {
    const std::string reply = SdpReply(1);
    const std::size_t headerEnd = reply.find("\r\n\r\n") + 4;

    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        bool closeWhenDrained;
        bool ok;
    };

    const Case cases[] = {
            {"HeadersThenBody", {reply.substr(0, headerEnd), reply.substr(headerEnd)}, false, true},
            {"BodyWithTheNextMessage", {reply + "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n"}, false, true},
            {"BodyCutShortThenClosed", {reply.substr(0, reply.size() - 1)}, true, false},
            {"BodyCutShortThenSilent", {reply.substr(0, reply.size() - 1)}, false, false},
            {"HeadersOnlyThenClosed", {reply.substr(0, headerEnd)}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMemoryStream stream;
        stream.Answer(c.pieces);
        if (c.closeWhenDrained) {
            stream.CloseWhenDrained();
        }
        CBaseRTSPClient client(nullptr, &stream);
        ASSERT_TRUE(client.Connect(CameraSettings()));
        EXPECT_EQ(client.Transact(kDescribe), c.ok);
        EXPECT_EQ(client.State().videoControl, c.ok ? "trackID=1" : "");
    }
}

// A stream failure or a stop ends the exchange, whichever call it hits.
TEST(CBaseRTSPClient, StreamFailuresAndStopEndTheExchange) {
    for (std::size_t call = 1; call <= 3; ++call) {
        SCOPED_TRACE(call);
        CMemoryStream stream;
        stream.Answer({"RTSP/1.0 200 OK\r\n", "CSeq: 1\r\n\r\n"});
        stream.FailCall(call); // the send, or the first or second receive
        CBaseRTSPClient client(nullptr, &stream);
        ASSERT_TRUE(client.Connect(CameraSettings()));
        EXPECT_FALSE(client.Transact(kOptions));
    }
    auto stop = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset, true);
    ASSERT_NE(stop, nullptr);
    CMemoryStream stream;
    stream.Answer({Ok(1)});
    CBaseRTSPClient client(stop.get(), &stream);
    ASSERT_TRUE(client.Connect(CameraSettings()));
    EXPECT_FALSE(client.Transact(kOptions));
    client.SetStopEvent(nullptr);
    stream.Answer({Ok(2)});
    ASSERT_TRUE(client.Transact(kOptions)); // the reply that came after the stop is not taken
    EXPECT_EQ(client.State().cseq, 2U);
    client.Disconnect();
    EXPECT_FALSE(stream.IsOpen());
}

} // namespace
} // namespace norvane
