// The simulated camera's RTSP server, RTP streams and RTCP over loopback, driven by plain sockets
// with the request texts the driver sends.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "camera_sim.h"
#include "sim_media.h"
#include "sim_test_client.h"
#include "sim_text.h"

namespace norvane::sim {
namespace {

using test::CTextClient;
using test::CUdpReceiver;
using test::Reply;
using test::Rtsp;

struct Playing {
    std::string session;
    std::uint16_t serverRtp = 0;
    std::uint32_t ssrc = 0;
    std::uint16_t firstSequence = 0;
    std::uint32_t firstTimestamp = 0;
    std::string timeout;
};

std::uint32_t ParamNumber(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key + "=");
    return at == std::string::npos
                   ? 0
                   : static_cast<std::uint32_t>(std::stoul(text.substr(at + key.size() + 1)));
}

class SimRtspTest : public ::testing::Test {
protected:
    void StartSim(CameraSimConfig config = {}) {
        m_sim = std::make_unique<CCameraSim>(std::move(config));
        std::string error;
        ASSERT_TRUE(m_sim->Start(&error)) << error;
        ASSERT_TRUE(m_client.Connect(m_sim->RtspPort()));
        ASSERT_TRUE(m_udp.Open());
    }

    std::string Base(const std::string& path) const { return m_sim->RtspUrl(path); }

    // Play runs DESCRIBE, SETUP and PLAY as the driver words them.
    void Play(const std::string& path, Playing& playing) {
        const std::string base = Base(path);
        const auto describe =
                m_client.Exchange("DESCRIBE " + base +
                                  " RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n"
                                  "User-Agent: Norvane\r\n\r\n");
        ASSERT_TRUE(describe);
        ASSERT_EQ(describe->status, 200);
        const auto setup = m_client.Exchange("SETUP " + base +
                                             "/trackID=1 RTSP/1.0\r\nCSeq: 2\r\n"
                                             "Transport: RTP/AVP/UDP;unicast;client_port=" +
                                             std::to_string(m_udp.RtpPort()) + "-" +
                                             std::to_string(m_udp.RtcpPort()) +
                                             "\r\nUser-Agent: Norvane\r\n\r\n");
        ASSERT_TRUE(setup);
        ASSERT_EQ(setup->status, 200);
        const auto session = setup->Header("Session");
        const auto transport = setup->Header("Transport");
        ASSERT_TRUE(session && transport);
        playing.session = session->substr(0, session->find(';'));
        playing.timeout = session->substr(session->find(';') + 1);
        playing.serverRtp = static_cast<std::uint16_t>(ParamNumber(*transport, "server_port"));
        const std::size_t ssrcAt = transport->find("ssrc=");
        ASSERT_NE(ssrcAt, std::string::npos);
        playing.ssrc =
                static_cast<std::uint32_t>(std::stoul(transport->substr(ssrcAt + 5), nullptr, 16));
        const auto play = m_client.Exchange("PLAY " + base +
                                            " RTSP/1.0\r\nCSeq: 3\r\nSession: " + playing.session +
                                            "\r\nRange: npt=0.000-\r\nUser-Agent: Norvane\r\n\r\n");
        ASSERT_TRUE(play);
        ASSERT_EQ(play->status, 200);
        const auto info = play->Header("RTP-Info");
        ASSERT_TRUE(info);
        playing.firstSequence = static_cast<std::uint16_t>(ParamNumber(*info, "seq"));
        playing.firstTimestamp = ParamNumber(*info, "rtptime");
    }

    // ReceiveFrames collects the RTP packets of `frames` marker-terminated frames.
    std::vector<test::RtpView> ReceiveFrames(std::size_t frames, int timeoutMs = 5000,
                                             platform::SocketAddress* from = nullptr) {
        std::vector<test::RtpView> packets;
        std::size_t seen = 0;
        while (seen < frames) {
            const auto datagram = m_udp.ReceiveRtp(timeoutMs, from);
            if (!datagram) {
                break;
            }
            const auto view = test::ParseRtp(*datagram);
            if (!view) {
                ADD_FAILURE() << "not an RTP packet";
                break;
            }
            packets.push_back(*view);
            seen += view->marker ? 1U : 0U;
        }
        return packets;
    }

    std::unique_ptr<CCameraSim> m_sim;
    CTextClient m_client;
    CUdpReceiver m_udp;
};

TEST_F(SimRtspTest, DescribeOffersH264WithControlAndParameterSets) {
    StartSim();
    const auto reply = m_client.Exchange(
            Rtsp("DESCRIBE", Base("vtl_media/main"), 7, "Accept: application/sdp\r\n"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->head.rfind("RTSP/1.0 200 OK\r\nCSeq: 7\r\n", 0), 0U);
    EXPECT_EQ(reply->Header("Content-Type"), "application/sdp");
    EXPECT_EQ(reply->Header("Content-Base"), Base("vtl_media/main") + "/");
    const std::string& sdp = reply->body;
    EXPECT_NE(sdp.find("\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"),
              std::string::npos);
    EXPECT_NE(sdp.find("\r\na=control:trackID=1\r\n"), std::string::npos);
    const std::size_t at = sdp.find("sprop-parameter-sets=");
    ASSERT_NE(at, std::string::npos);
    const std::string sets = sdp.substr(at + 21, sdp.find("\r\n", at) - at - 21);
    const auto clip = EmbeddedH264_640x480();
    const auto sps = Base64Decode(sets.substr(0, sets.find(',')));
    const auto pps = Base64Decode(sets.substr(sets.find(',') + 1));
    ASSERT_TRUE(sps && pps);
    EXPECT_EQ(*sps, clip->sps);
    EXPECT_EQ(*pps, clip->pps);

    const auto second = m_client.Exchange(Rtsp("DESCRIBE", Base("vtl_media/second"), 8));
    ASSERT_TRUE(second);
    EXPECT_NE(second->body.find("m=video 0 RTP/AVP 26\r\n"), std::string::npos);
    EXPECT_NE(second->body.find("a=control:trackID=1\r\n"), std::string::npos);
}

TEST_F(SimRtspTest, MainStreamDeliversTheClipByteExactAtItsFrameRate) {
    CameraSimConfig config;
    config.mtu = 600;
    StartSim(config);
    Playing playing;
    ASSERT_NO_FATAL_FAILURE(Play("vtl_media/main", playing));
    EXPECT_EQ(playing.timeout, "timeout=60");
    EXPECT_EQ(playing.serverRtp % 2, 0);

    constexpr std::size_t kFrames = 30;
    platform::SocketAddress from;
    const auto started = std::chrono::steady_clock::now();
    const auto packets = ReceiveFrames(kFrames, 5000, &from);
    // Paced at 25 frames per second: 29 intervals of 40 ms at least (less a little slack).
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1100));
    EXPECT_EQ(from.port, playing.serverRtp);
    EXPECT_EQ(from.address, platform::LoopbackAddress());
    std::vector<std::vector<std::uint8_t>> frame;
    std::size_t frameIndex = 0;
    std::uint16_t expectedSequence = playing.firstSequence;
    const auto clip = EmbeddedH264_640x480();
    for (const auto& packet : packets) {
        EXPECT_EQ(packet.payloadType, 96);
        EXPECT_EQ(packet.ssrc, playing.ssrc);
        EXPECT_EQ(packet.sequence, expectedSequence++);
        EXPECT_LE(packet.payload.size() + 12, 600U);
        EXPECT_EQ(packet.timestamp, playing.firstTimestamp + frameIndex * 3600U); // 90 kHz / 25
        frame.push_back(packet.payload);
        if (packet.marker) {
            ASSERT_LT(frameIndex, clip->accessUnits.size());
            EXPECT_EQ(test::RebuildNals(frame), clip->accessUnits[frameIndex].nalUnits)
                    << "frame " << frameIndex;
            frame.clear();
            ++frameIndex;
        }
    }
    EXPECT_EQ(frameIndex, kFrames);

    const auto log = m_sim->Requests();
    ASSERT_EQ(log.size(), 3U);
    EXPECT_EQ(log[1].text, "SETUP " + Base("vtl_media/main") +
                                   "/trackID=1 RTSP/1.0\r\nCSeq: 2\r\n"
                                   "Transport: RTP/AVP/UDP;unicast;client_port=" +
                                   std::to_string(m_udp.RtpPort()) + "-" +
                                   std::to_string(m_udp.RtcpPort()) +
                                   "\r\nUser-Agent: Norvane\r\n\r\n");

    const auto teardown = m_client.Exchange(
            Rtsp("TEARDOWN", Base("vtl_media/main"), 4, "Session: " + playing.session + "\r\n"));
    ASSERT_TRUE(teardown);
    EXPECT_EQ(teardown->status, 200);
    EXPECT_EQ(m_sim->ActiveSessionCount(), 0U);
    // After the stream has drained nothing more arrives, and the RTCP port hears a BYE.
    while (m_udp.ReceiveRtp(200)) {
    }
    EXPECT_FALSE(m_udp.ReceiveRtp(300));
    bool bye = false;
    while (const auto rtcp = m_udp.ReceiveRtcp(500)) {
        bye = bye || (rtcp->size() == 8 && (*rtcp)[1] == 203);
    }
    EXPECT_TRUE(bye);
}

TEST_F(SimRtspTest, AccessUnitDelimitersTravelAsTheirOwnPacketBeforeEachFrame) {
    CameraSimConfig config;
    config.fps = 50;
    config.h264AccessUnitDelimiters = true;
    StartSim(config);
    Playing playing;
    ASSERT_NO_FATAL_FAILURE(Play("vtl_media/main", playing));
    const auto packets = ReceiveFrames(5);
    const auto clip = EmbeddedH264_640x480();
    std::vector<std::vector<std::uint8_t>> frame;
    std::size_t frameIndex = 0;
    bool frameStart = true;
    for (const auto& packet : packets) {
        if (frameStart) {
            EXPECT_EQ(packet.payload, (std::vector<std::uint8_t>{0x09, 0xF0}));
            EXPECT_FALSE(packet.marker);
        }
        frameStart = packet.marker;
        frame.push_back(packet.payload);
        if (packet.marker) {
            auto expected = clip->accessUnits[frameIndex].nalUnits;
            expected.insert(expected.begin(), std::vector<std::uint8_t>{0x09, 0xF0});
            EXPECT_EQ(test::RebuildNals(frame), expected);
            frame.clear();
            ++frameIndex;
        }
    }
    EXPECT_EQ(frameIndex, 5U);
}

TEST_F(SimRtspTest, SecondStreamSendsTheJpegPicturesWithStandardQ) {
    CameraSimConfig config;
    config.fps = 50;
    StartSim(config);
    Playing playing;
    ASSERT_NO_FATAL_FAILURE(Play("vtl_media/second", playing));
    const auto clip = EmbeddedMjpeg_704x576();
    const auto packets = ReceiveFrames(clip->pictures.size());
    std::vector<std::uint8_t> scan;
    std::size_t picture = 0;
    for (const auto& packet : packets) {
        ASSERT_GE(packet.payload.size(), 8U);
        EXPECT_EQ(packet.payloadType, 26);
        EXPECT_EQ(packet.payload[4], 1);
        EXPECT_EQ(packet.payload[5], 40);
        EXPECT_EQ(packet.payload[6], 88);
        EXPECT_EQ(packet.payload[7], 72);
        EXPECT_EQ(packet.timestamp, playing.firstTimestamp + picture * 1800U); // 90 kHz / 50
        const std::size_t offset = (static_cast<std::size_t>(packet.payload[1]) << 16) |
                                   (static_cast<std::size_t>(packet.payload[2]) << 8) |
                                   packet.payload[3];
        EXPECT_EQ(offset, scan.size());
        scan.insert(scan.end(), packet.payload.begin() + 8, packet.payload.end());
        if (packet.marker) {
            EXPECT_EQ(scan, clip->pictures[picture].scan) << "picture " << picture;
            scan.clear();
            ++picture;
        }
    }
    EXPECT_EQ(picture, clip->pictures.size());
}

TEST_F(SimRtspTest, FrameRateWrittenOverCgiPacesTheStream) {
    StartSim();
    CTextClient http;
    ASSERT_TRUE(http.Connect(m_sim->HttpPort()));
    const auto set = http.Exchange("GET /cgi-bin/action.fcgi?vtl_api=set_setup.video.codec"
                                   "&fps1=12.5 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(set);
    ASSERT_NE(set->body.find("return_code=0x00000000"), std::string::npos);
    Playing playing;
    ASSERT_NO_FATAL_FAILURE(Play("vtl_media/second", playing));
    const auto started = std::chrono::steady_clock::now();
    const auto packets = ReceiveFrames(5);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    std::set<std::uint32_t> timestamps;
    for (const auto& packet : packets) {
        timestamps.insert(packet.timestamp - playing.firstTimestamp);
    }
    EXPECT_EQ(timestamps, (std::set<std::uint32_t>{0, 7200, 14400, 21600, 28800}));
}

TEST_F(SimRtspTest, SenderReportsComeFromTheRtcpPortAndAnswersAreRecorded) {
    CameraSimConfig config;
    config.rtcpIntervalMs = 100;
    StartSim(config);
    Playing playing;
    ASSERT_NO_FATAL_FAILURE(Play("vtl_media/main", playing));
    platform::SocketAddress from;
    const auto report = m_udp.ReceiveRtcp(3000, &from);
    ASSERT_TRUE(report);
    EXPECT_EQ(from.port, playing.serverRtp + 1);
    ASSERT_GE(report->size(), 28U);
    EXPECT_EQ((*report)[0], 0x80);
    EXPECT_EQ((*report)[1], 200);
    const std::uint32_t ssrc = (static_cast<std::uint32_t>((*report)[4]) << 24) |
                               (static_cast<std::uint32_t>((*report)[5]) << 16) |
                               (static_cast<std::uint32_t>((*report)[6]) << 8) | (*report)[7];
    EXPECT_EQ(ssrc, playing.ssrc);
    EXPECT_EQ((*report)[28 + 1], 202); // SDES follows

    const std::vector<std::uint8_t> answer = {0x81,
                                              201,
                                              0,
                                              7,
                                              1,
                                              2,
                                              3,
                                              4,
                                              (*report)[4],
                                              (*report)[5],
                                              (*report)[6],
                                              (*report)[7],
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              0,
                                              1};
    ASSERT_TRUE(m_udp.SendRtcp(answer, from));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<ReceivedRtcp> received;
    while (received.empty() && std::chrono::steady_clock::now() < deadline) {
        received = m_sim->ReceivedRtcpPackets();
        if (received.empty()) {
            (void)m_udp.ReceiveRtcp(20);
        }
    }
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].bytes, answer);
    EXPECT_EQ(received[0].sessionId, playing.session);
    EXPECT_EQ(received[0].from.port, m_udp.RtcpPort());
}

TEST_F(SimRtspTest, DigestAcceptsTheBaseUrlForEveryMethodAsTheDriverSendsIt) {
    CameraSimConfig config;
    config.rtspAuth = AuthMode::Digest;
    config.user = "viewer";
    config.password = "s3cret";
    StartSim(config);
    const std::string base = Base("vtl_media/main");
    const auto refused = m_client.Exchange(Rtsp("DESCRIBE", base, 1));
    ASSERT_TRUE(refused);
    ASSERT_EQ(refused->status, 401);
    const auto challenge = refused->Header("WWW-Authenticate");
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->find("qop"), std::string::npos);
    const std::string realm = test::ChallengeParam(*challenge, "realm");
    const std::string nonce = test::ChallengeParam(*challenge, "nonce");
    const auto authorization = [&](const std::string& method, const std::string& password) {
        return "Authorization: Digest username=\"viewer\", realm=\"" + realm + "\", nonce=\"" +
               nonce + "\", uri=\"" + base + "\", response=\"" +
               test::DigestResponse("viewer", realm, password, method, base, nonce) + "\"\r\n";
    };
    auto reply = m_client.Exchange(Rtsp("DESCRIBE", base, 2, authorization("DESCRIBE", "s3cret")));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    reply = m_client.Exchange(Rtsp("DESCRIBE", base, 3, authorization("DESCRIBE", "wrong")));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 401);
    // SETUP names the track URL in its request line but hashes the base URL.
    reply = m_client.Exchange(Rtsp(
            "SETUP", base + "/trackID=1", 4,
            "Transport: RTP/AVP/UDP;unicast;client_port=" + std::to_string(m_udp.RtpPort()) + "-" +
                    std::to_string(m_udp.RtcpPort()) + "\r\n" + authorization("SETUP", "s3cret")));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    reply = m_client.Exchange(Rtsp("OPTIONS", base, 5, authorization("DESCRIBE", "s3cret")));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 401) << "a response for another method must not pass";
}

// Normalised writes the reply with the base URL as $B and the numbers the seed or the system
// choose (session, server ports, SSRC, first sequence number and timestamp) as #.
std::string Normalised(const Reply& reply, const std::string& base) {
    std::string text = reply.head + reply.body;
    for (std::size_t at = text.find(base); at != std::string::npos; at = text.find(base, at)) {
        text.replace(at, base.size(), "$B");
    }
    for (const std::string key : {"Session: ", "server_port=", "ssrc=", "seq=", "rtptime="}) {
        for (std::size_t at = text.find(key); at != std::string::npos;
             at = text.find(key, at + 1)) {
            const std::size_t from = at + key.size();
            const std::size_t to = text.find_first_not_of("0123456789ABCDEF-", from);
            text.replace(from, to - from, "#");
        }
    }
    return text;
}

TEST_F(SimRtspTest, EveryRequestGetsItsExactReplyInTurn) {
    StartSim();

    struct Case {
        std::string request; // $B: the main stream's URL; $S: the session of the first SETUP
        std::string reply;   // as Normalised writes it
    };

    const std::string head = "Server: Vantrel RTSP Server\r\n";
    const std::string publicMethods =
            "Public: OPTIONS, DESCRIBE, SETUP, TEARDOWN, PLAY, GET_PARAMETER\r\n";
    const std::string udp = "Transport: RTP/AVP;unicast;client_port=5000-5001\r\n";
    const std::string session = "Session: $S\r\n";
    const std::string jpegSdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Vantrel Media Stream\r\n"
                                "c=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:*\r\n"
                                "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\n"
                                "a=framerate:25\r\na=control:trackID=1\r\n";
    const auto status = [&](const char* line, int cseq, const std::string& more = "") {
        return std::string("RTSP/1.0 ") + line + "\r\nCSeq: " + std::to_string(cseq) + "\r\n" +
               head + more + "\r\n";
    };
    const Case cases[] = {
            {Rtsp("OPTIONS", "$B", 1), status("200 OK", 1, publicMethods)},
            {Rtsp("OPTIONS", "*", 2), status("200 OK", 2, publicMethods)},
            {Rtsp("DESCRIBE", "$B", 3),
             status("200 OK", 3,
                    "Content-Base: $B/\r\nContent-Type: application/sdp\r\n"
                    "Content-Length: 295\r\n") +
                     "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Vantrel Media Stream\r\n"
                     "c=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:*\r\nm=video 0 RTP/AVP 96\r\n"
                     "a=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=1;profile-level-"
                     "id=42C01E;sprop-parameter-sets=Z0LAHtoCgPbARAAAAwAEAAADAMg8WLqA,aM48gA==\r\n"
                     "a=framerate:25\r\na=control:trackID=1\r\n"},
            {Rtsp("DESCRIBE", Base("vtl_media/second"), 4),
             status("200 OK", 4,
                    "Content-Base: " + Base("vtl_media/second") +
                            "/\r\nContent-Type: application/sdp\r\nContent-Length: 176\r\n") +
                     jpegSdp},
            {Rtsp("DESCRIBE", "$B/trackID=1", 5), status("404 Not Found", 5)},
            {Rtsp("DESCRIBE", Base("vtl_media/third"), 6), status("404 Not Found", 6)},
            {Rtsp("SETUP", "$B/trackID=1", 7, udp),
             status("200 OK", 7,
                    "Transport: RTP/AVP;unicast;client_port=5000-5001;server_port=#;ssrc=#\r\n"
                    "Session: #;timeout=60\r\n")},
            {Rtsp("SETUP", "$B/trackID=1", 8, session + udp),
             status("455 Method Not Valid in This State", 8)},
            {Rtsp("SETUP", "$B/trackID=1", 9, "Transport: RTP/AVP/TCP;unicast;interleaved=2\r\n"),
             status("200 OK", 9,
                    "Transport: RTP/AVP/TCP;unicast;interleaved=2-3;ssrc=#\r\n"
                    "Session: #;timeout=60\r\n")},
            {Rtsp("SETUP", "$B/trackID=1", 10, "Transport: RTP/AVP/TCP;unicast\r\n"),
             status("461 Unsupported Transport", 10)},
            {Rtsp("SETUP", Base("vtl_media/x"), 11, udp), status("404 Not Found", 11)},
            {Rtsp("PLAY", "$B", 12, session),
             status("200 OK", 12,
                    "Range: npt=0.000-\r\nRTP-Info: url=$B/trackID=1;seq=#;rtptime=#\r\n"
                    "Session: #;timeout=60\r\n")},
            {Rtsp("GET_PARAMETER", "$B", 13, session),
             status("200 OK", 13, "Session: #;timeout=60\r\n")},
            {Rtsp("OPTIONS", "$B", 14, session),
             status("200 OK", 14, publicMethods + "Session: #;timeout=60\r\n")},
            // An unknown session is no error for OPTIONS and DESCRIBE, which need none.
            {Rtsp("OPTIONS", "$B", 15, "Session: 999\r\n"), status("200 OK", 15, publicMethods)},
            {Rtsp("GET_PARAMETER", "$B", 16, "Session: 999\r\n"),
             status("454 Session Not Found", 16)},
            {Rtsp("PLAY", "$B", 17), status("454 Session Not Found", 17)},
            {Rtsp("PAUSE", "$B", 18, session), status("501 Not Implemented", 18)},
            {Rtsp("RECORD", "$B", 19), status("501 Not Implemented", 19)},
            {Rtsp("SET_PARAMETER", "$B", 20), status("501 Not Implemented", 20)},
            {Rtsp("TEARDOWN", "$B", 21, session), status("200 OK", 21)},
            {Rtsp("TEARDOWN", "$B", 22, session), status("454 Session Not Found", 22)},
            {"OPTIONS $B RTSP/2.0\r\nCSeq: 23\r\n\r\n",
             status("505 RTSP Version Not Supported", 23)},
            {"OPTIONS $B RTSP/1.0\r\nCSeq: x\r\n\r\n",
             "RTSP/1.0 400 Bad Request\r\nCSeq: x\r\n" + head + "\r\n"},
            {"OPTIONS $B RTSP/1.0\r\n\r\n", "RTSP/1.0 400 Bad Request\r\n" + head + "\r\n"},
            {"garbage\r\n\r\n", "RTSP/1.0 400 Bad Request\r\n\r\n"},
    };
    const std::string base = Base("vtl_media/main");
    std::string sessionId;
    for (const Case& c : cases) {
        std::string request = c.request;
        for (const auto& [mark, value] : {std::pair<std::string, std::string>{"$B", base},
                                          std::pair<std::string, std::string>{"$S", sessionId}}) {
            const std::size_t at = request.find(mark);
            if (at != std::string::npos) {
                request.replace(at, mark.size(), value);
            }
        }
        const auto reply = m_client.Exchange(request);
        ASSERT_TRUE(reply) << request;
        EXPECT_EQ(Normalised(*reply, base), c.reply) << request;
        if (sessionId.empty() && reply->Header("Session")) {
            sessionId = reply->Header("Session")->substr(0, reply->Header("Session")->find(';'));
        }
    }
    EXPECT_TRUE(m_client.WaitClosed(2000)) << "a malformed request ends the connection";
}

TEST_F(SimRtspTest, SessionsAreLimitedAndConnectionsBeyondTheLimitClosed) {
    StartSim();
    const std::string transport = "Transport: RTP/AVP;unicast;client_port=5000-5001\r\n";
    int refused = 0;
    for (int i = 1; i <= 34; ++i) {
        const auto reply = m_client.Exchange(
                Rtsp("SETUP", Base("vtl_media/main") + "/trackID=1", i, transport));
        ASSERT_TRUE(reply);
        refused += reply->status == 453 ? 1 : 0;
    }
    EXPECT_EQ(m_sim->ActiveSessionCount(), 32U);
    EXPECT_EQ(refused, 2);

    // With the RTSP connection, 63 more are served; the rest are closed at once.
    std::vector<CTextClient> clients(70);
    for (auto& client : clients) {
        ASSERT_TRUE(client.Connect(m_sim->HttpPort()));
    }
    for (std::size_t i = 63; i < clients.size(); ++i) {
        EXPECT_TRUE(clients[i].WaitClosed(2000)) << i;
    }
    EXPECT_FALSE(clients[0].WaitClosed(50));
    EXPECT_FALSE(clients[62].WaitClosed(50));
    const auto reply = clients[62].Exchange(
            "GET /cgi-bin/action.fcgi?vtl_api=get_setup.event.status HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
}

TEST_F(SimRtspTest, SessionEndsAfterItsTimeOutUnlessKeptAlive) {
    CameraSimConfig config;
    config.faults.sessionTimeoutSec = 1;
    config.fps = 50;
    StartSim(config);
    Playing playing;
    ASSERT_NO_FATAL_FAILURE(Play("vtl_media/main", playing));
    EXPECT_EQ(playing.timeout, "timeout=1");
    // Kept alive by OPTIONS every 300 ms for two seconds.
    const auto keptFrom = std::chrono::steady_clock::now();
    for (int i = 1; i <= 7; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto reply = m_client.Exchange(Rtsp("OPTIONS", Base("vtl_media/main"), 10 + i,
                                                  "Session: " + playing.session + "\r\n"));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200);
        EXPECT_EQ(reply->Header("Session"), playing.session + ";timeout=1");
    }
    EXPECT_GE(std::chrono::steady_clock::now() - keptFrom, std::chrono::milliseconds(2000));
    EXPECT_EQ(m_sim->ActiveSessionCount(), 1U);
    // Left alone, it ends and the stream stops.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_sim->ActiveSessionCount() != 0 && std::chrono::steady_clock::now() < deadline) {
        (void)m_udp.ReceiveRtp(50);
    }
    EXPECT_EQ(m_sim->ActiveSessionCount(), 0U);
    while (m_udp.ReceiveRtp(100)) {
    }
    EXPECT_FALSE(m_udp.ReceiveRtp(300));
    const auto reply = m_client.Exchange(
            Rtsp("PLAY", Base("vtl_media/main"), 30, "Session: " + playing.session + "\r\n"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 454);
}

// Offsets of the received sequence numbers from the first one, for `frames` frames.
std::vector<int> ReceivedOffsets(const std::vector<test::RtpView>& packets, std::uint16_t first) {
    std::vector<int> offsets;
    for (const auto& packet : packets) {
        offsets.push_back(static_cast<std::uint16_t>(packet.sequence - first));
    }
    return offsets;
}

TEST_F(SimRtspTest, PacketFaultsAreRepeatableForOneSeed) {
    struct Case {
        const char* name;
        double drop, duplicate, reorder;
    };

    for (const Case c :
         {Case{"drop", 0.3, 0, 0}, Case{"duplicate", 0, 0.3, 0}, Case{"reorder", 0, 0, 0.3}}) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<int>> runs;
        for (int run = 0; run < 2; ++run) {
            CameraSimConfig config;
            config.fps = 100;
            config.mtu = 300;
            config.seed = 42;
            config.faults.dropShare = c.drop;
            config.faults.duplicateShare = c.duplicate;
            config.faults.reorderShare = c.reorder;
            m_client = CTextClient();
            m_udp = CUdpReceiver();
            StartSim(config);
            Playing playing;
            ASSERT_NO_FATAL_FAILURE(Play("vtl_media/main", playing));
            // Collect until a gap: the first 20 frames' worth of packets at least.
            std::vector<test::RtpView> packets;
            while (packets.size() < 400) {
                const auto datagram = m_udp.ReceiveRtp(2000);
                ASSERT_TRUE(datagram);
                packets.push_back(*test::ParseRtp(*datagram));
            }
            m_sim->Stop();
            runs.push_back(ReceivedOffsets(packets, playing.firstSequence));
        }
        EXPECT_EQ(runs[0], runs[1]);
        const std::vector<int>& offsets = runs[0];
        const std::set<int> distinct(offsets.begin(), offsets.end());
        std::size_t inversions = 0;
        for (std::size_t i = 1; i < offsets.size(); ++i) {
            inversions += offsets[i] < offsets[i - 1];
        }
        const int span = *distinct.rbegin() + 1;
        if (c.drop > 0) {
            const double lost = 1.0 - static_cast<double>(distinct.size()) / span;
            EXPECT_GT(lost, 0.15);
            EXPECT_LT(lost, 0.45);
            EXPECT_EQ(inversions, 0U);
        } else if (c.duplicate > 0) {
            const double repeated = static_cast<double>(offsets.size() - distinct.size()) /
                                    static_cast<double>(distinct.size());
            EXPECT_GT(repeated, 0.15);
            EXPECT_LT(repeated, 0.45);
            EXPECT_EQ(static_cast<int>(distinct.size()), span); // nothing lost
        } else {
            EXPECT_GT(inversions, 40U);
            EXPECT_EQ(offsets.size(), distinct.size());
            EXPECT_GE(static_cast<int>(distinct.size()), span - 1); // at most one still held
        }
    }
}

TEST_F(SimRtspTest, StoppedMediaResumesWhenTheFaultIsCleared) {
    CameraSimConfig config;
    config.fps = 50;
    StartSim(config);
    Playing playing;
    ASSERT_NO_FATAL_FAILURE(Play("vtl_media/main", playing));
    ASSERT_TRUE(m_udp.ReceiveRtp(2000));
    SimFaults faults;
    faults.stopMedia = true;
    m_sim->SetFaults(faults);
    while (m_udp.ReceiveRtp(100)) {
    }
    EXPECT_FALSE(m_udp.ReceiveRtp(400));
    EXPECT_EQ(m_sim->ActiveSessionCount(), 1U);
    m_sim->SetFaults(SimFaults{});
    EXPECT_TRUE(m_udp.ReceiveRtp(2000));
}

TEST_F(SimRtspTest, ConnectionFaultsCloseRefuseDelayOrSplit) {
    StartSim();
    SimFaults faults;
    faults.splitReplyBytes = 30;
    faults.splitDelayMs = 20;
    m_sim->SetFaults(faults);
    auto reply = m_client.Exchange(Rtsp("DESCRIBE", Base("vtl_media/main"), 1));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_GE(m_client.ReadsForLastReply(), 2);

    faults = {};
    faults.replyDelayMs = 200;
    m_sim->SetFaults(faults);
    const auto asked = std::chrono::steady_clock::now();
    reply = m_client.Exchange(Rtsp("OPTIONS", Base("vtl_media/main"), 2));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(200));

    faults = {};
    faults.rtspAlways401 = true;
    m_sim->SetFaults(faults);
    reply = m_client.Exchange(Rtsp("OPTIONS", Base("vtl_media/main"), 3));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 401);
    EXPECT_TRUE(reply->Header("WWW-Authenticate"));

    faults = {};
    faults.closeRtspConnection = true;
    m_sim->SetFaults(faults);
    ASSERT_TRUE(m_client.SendText(Rtsp("OPTIONS", Base("vtl_media/main"), 4)));
    EXPECT_TRUE(m_client.WaitClosed(5000));
    EXPECT_EQ(m_sim->Requests().size(), 4U);
}

TEST_F(SimRtspTest, AlternateSourceSendsFromAnotherLoopbackAddress) {
    CameraSimConfig config;
    config.faults.alternateSource = true;
    StartSim(config);
    Playing playing;
    ASSERT_NO_FATAL_FAILURE(Play("vtl_media/main", playing));
    platform::SocketAddress from;
    ASSERT_TRUE(m_udp.ReceiveRtp(3000, &from));
    const std::uint8_t expected[4] = {127, 0, 0, 2};
    std::uint32_t address = 0;
    std::memcpy(&address, expected, 4);
    EXPECT_EQ(from.address, address);
    EXPECT_NE(from.port, playing.serverRtp);
}

TEST_F(SimRtspTest, MainStreamFollowsTheConfiguredSize) {
    StartSim();
    CTextClient http;
    ASSERT_TRUE(http.Connect(m_sim->HttpPort()));
    const auto set = http.Exchange(
            "GET /cgi-bin/action.fcgi?vtl_api=set_setup.video.codec&resolution0=1280x720 "
            "HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(set);
    ASSERT_NE(set->body.find("return_code=0x00000000"), std::string::npos);
    const auto reply = m_client.Exchange(Rtsp("DESCRIBE", Base("vtl_media/main"), 1));
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->body.find(Base64Encode(EmbeddedH264_1280x720()->sps)), std::string::npos);
}

TEST_F(SimRtspTest, GivenH264FileReplacesTheEmbeddedClips) {
    const std::string path = test::UniqueTempPath("sim_given.h264");
    const auto bytes = EmbeddedFileBytes("h264_1280x720");
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        std::fclose(file);
    }
    CameraSimConfig config;
    config.h264File = path; // while resolution0 stays 640x480
    StartSim(config);
    const auto reply = m_client.Exchange(Rtsp("DESCRIBE", Base("vtl_media/main"), 1));
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->body.find(Base64Encode(EmbeddedH264_1280x720()->sps)), std::string::npos);

    CameraSimConfig broken;
    broken.h264File = test::UniqueTempPath("sim_missing.h264");
    CCameraSim other(broken);
    std::string error;
    EXPECT_FALSE(other.Start(&error));
    EXPECT_NE(error.find("sim_missing.h264"), std::string::npos);
}

TEST_F(SimRtspTest, StopEndsSessionsAndConnectionsPromptly) {
    CameraSimConfig config;
    config.fps = 50;
    StartSim(config);
    Playing playing;
    ASSERT_NO_FATAL_FAILURE(Play("vtl_media/main", playing));
    CTextClient idleHttp;
    ASSERT_TRUE(idleHttp.Connect(m_sim->HttpPort()));
    CTextClient slow;
    ASSERT_TRUE(slow.Connect(m_sim->RtspPort()));
    ASSERT_TRUE(slow.SendText("OPTIONS * RTSP/1.0\r\n")); // an unfinished request
    ASSERT_TRUE(m_udp.ReceiveRtp(2000));
    const auto start = std::chrono::steady_clock::now();
    m_sim->Stop();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
    RecordProperty("StopMicroseconds",
                   static_cast<int>(
                           std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
    EXPECT_EQ(m_sim->ActiveSessionCount(), 0U);
    EXPECT_TRUE(idleHttp.WaitClosed(2000));
    EXPECT_TRUE(slow.WaitClosed(2000));
}

} // namespace
} // namespace norvane::sim
