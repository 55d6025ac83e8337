#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client_test_helpers.h"
#include "platform/event_handle.h"
#include "platform/wait.h"
#include "rtsp/base_rtsp_client.h"
#include "rtsp_responder.h"

#ifdef NORVANE_WITH_CAMERA_SIM
#include "camera_sim.h"
#endif

namespace norvane {
namespace {

using test::CameraSettings;
using test::CRtspResponder;
using test::DigestChallenge;
using test::ElapsedMs;
using test::ExpectedDigestResponse;
using test::HeaderOf;
using test::Ok;
using test::Pieces;
using test::Reply;
using test::ResponderStep;
using test::SdpReply;

// The whole conversation with a camera that demands Digest: the numbers, the nonces, the session id
// and the single repetitions after 401.
TEST(CBaseRTSPClientLoopback, DigestConversation) {
    CRtspResponder camera({Reply(DigestChallenge(1, "first nonce")), Reply(SdpReply(2)),
                           Reply(Ok(3, "Session: AbC12xY;timeout=20\r\n")), Reply(Ok(4)),
                           Reply(DigestChallenge(5, "second")), Reply(Ok(6)), Reply(Ok(7))});
    CBaseRTSPClient client;
    ASSERT_TRUE(client.Connect(CameraSettings(camera.Port())));
    ASSERT_TRUE(client.Request(kDescribe));
    EXPECT_EQ(client.Settings().authScheme, static_cast<std::uint32_t>(kAuthDigest));
    EXPECT_EQ(client.Sps().size(), 9U);
    EXPECT_EQ(client.Pps().size(), 4U);
    ASSERT_TRUE(client.Request(kSetup));
    EXPECT_EQ(client.SessionTimeout(), 20U);
    ASSERT_TRUE(client.Request(kPlay));
    ASSERT_TRUE(client.Request(kOptions));
    ASSERT_TRUE(client.Request(kTeardown));
    client.Disconnect();

    const std::vector<std::string> requests = camera.Requests();
    ASSERT_EQ(requests.size(), 7U);
    const std::string base =
            "rtsp://127.0.0.1:" + std::to_string(camera.Port()) + "/vtl_media/main";
    const char* const methods[] = {"DESCRIBE", "DESCRIBE", "SETUP",   "PLAY",
                                   "OPTIONS",  "OPTIONS",  "TEARDOWN"};
    const char* const nonces[] = {
            "", "first nonce", "first nonce", "first nonce", "first nonce", "second", "second"};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(requests[i]);
        EXPECT_EQ(requests[i].rfind(methods[i], 0), 0U);
        EXPECT_EQ(HeaderOf(requests[i], "CSeq"), std::to_string(i + 1));
        const std::string authorization = HeaderOf(requests[i], "Authorization");
        if (i == 0) {
            EXPECT_EQ(authorization, "");
            continue;
        }
        EXPECT_EQ(authorization.rfind("Digest ", 0), 0U); // never Basic, though Basic was offered
        EXPECT_NE(authorization.find("nonce=\"" + std::string(nonces[i]) + "\""),
                  std::string::npos);
        EXPECT_NE(authorization.find("opaque=\"xyz\""), std::string::npos);
        EXPECT_NE(authorization.find(ExpectedDigestResponse(methods[i], base, nonces[i])),
                  std::string::npos);
    }
    EXPECT_EQ(requests[2].rfind("SETUP " + base + "/trackID=1 RTSP/1.0\r\n", 0), 0U);
    for (std::size_t i = 3; i < requests.size(); ++i) {
        EXPECT_EQ(HeaderOf(requests[i], "Session"), "AbC12xY");
    }
}

#ifdef NORVANE_WITH_CAMERA_SIM
// The simulated camera checks Digest on its own: with qop=auth it accepts our nc and cnonce, and
// the same nonce used again with the next count.
TEST(CBaseRTSPClientLoopback, QopDigestAcceptedBySimulatedCamera) {
    sim::CameraSimConfig config;
    config.rtspAuth = sim::AuthMode::Digest;
    config.rtspDigestQop = true;
    config.user = "admin";
    config.password = "secret";
    sim::CCameraSim camera(config);
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;
    CBaseRTSPClient client;
    ASSERT_TRUE(client.Connect(CameraSettings(camera.RtspPort())));
    ASSERT_TRUE(client.Request(kDescribe));
    ASSERT_TRUE(client.Request(kOptions));
    ASSERT_TRUE(client.Request(kOptions));
    const std::vector<sim::LoggedRequest> requests = camera.Requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_EQ(requests[0].text.find("Authorization:"), std::string::npos);
    const char* const counts[] = {"nc=00000001", "nc=00000002", "nc=00000003"};
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_NE(requests[i].text.find("qop=auth, " + std::string(counts[i - 1])),
                  std::string::npos)
                << requests[i].text;
    }
}

// CountingSink counts the frames a reader hands over per channel (the reader's thread writes,
// the test reads after joining or through the atomics).
struct CountingSink final : IInterleavedSink {
    void OnInterleavedFrame(std::uint8_t channel, std::span<const std::uint8_t> payload) override {
        if (channel == CBaseRTSPClient::kRtpChannel && payload.size() >= 12 &&
            (payload[0] & 0xC0) == 0x80) {
            ++rtp;
        } else if (channel == CBaseRTSPClient::kRtcpChannel) {
            ++rtcp;
        } else {
            ++other;
        }
    }

    int HoldTimeoutMs() override { return -1; }

    void OnHoldTimeout() override {}

    std::atomic<int> rtp{0};
    std::atomic<int> rtcp{0};
    std::atomic<int> other{0};
};

// A session inside the RTSP connection: while a reader thread takes the media, requests get their
// replies through it, and RTCP sent over the connection reaches the camera; once the reader has
// stopped, TEARDOWN reads its own reply past the frames still arriving.
TEST(CBaseRTSPClientLoopback, InterleavedSessionWithSimulatedCamera) {
    sim::CameraSimConfig config;
    config.rtcpIntervalMs = 100;
    sim::CCameraSim camera(config);
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;
    CBaseRTSPClient client;
    RTSPSessionSettings settings = CameraSettings(camera.RtspPort());
    settings.interleaved = true;
    ASSERT_TRUE(client.Connect(settings));
    ASSERT_TRUE(client.Request(kDescribe));
    ASSERT_TRUE(client.Request(kSetup));
    ASSERT_TRUE(client.Request(kPlay));

    CountingSink sink;
    auto stop = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset);
    client.SetReaderActive(true);
    std::thread reader([&] {
        while (client.ReadInterleaved(sink, stop.get()) == InterleavedRead::Ok) {
        }
    });
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(client.Request(kOptions)) << i;
        EXPECT_EQ(client.StatusCode(), 200);
    }
    const std::uint8_t receiverReport[8] = {0x80, 201, 0, 1, 1, 2, 3, 4};
    EXPECT_TRUE(client.SendInterleaved(CBaseRTSPClient::kRtcpChannel, receiverReport, 1000));
    stop->Set();
    reader.join();
    client.SetReaderActive(false);
    EXPECT_GT(sink.rtp.load(), 10);
    EXPECT_GT(sink.rtcp.load(), 0) << "sender reports inside the connection";
    EXPECT_EQ(sink.other.load(), 0);
    EXPECT_TRUE(client.Request(kTeardown));
    client.Disconnect();
    const auto rtcp = camera.ReceivedRtcpPackets();
    ASSERT_EQ(rtcp.size(), 1U);
    EXPECT_EQ(rtcp[0].bytes, std::vector<std::uint8_t>(receiverReport, receiverReport + 8));
}
#endif

TEST(CBaseRTSPClientLoopback, BasicChallengeWhileBasicInUseIsNotRepeated) {
    const std::string basic = "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                              "WWW-Authenticate: Basic realm=\"cam\"\r\n\r\n";
    const std::string basic2 = "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\n"
                               "WWW-Authenticate: Basic realm=\"cam\"\r\n\r\n";
    CRtspResponder camera({Reply(basic), Reply(basic2), Reply(Ok(3))});
    CBaseRTSPClient client;
    ASSERT_TRUE(client.Connect(CameraSettings(camera.Port())));
    EXPECT_FALSE(client.Request(kOptions)); // 401, Basic adopted, repeated once: 401 again
    EXPECT_EQ(client.StatusCode(), 401);
    EXPECT_EQ(camera.Requests().size(), 2U);
    EXPECT_TRUE(client.Request(kOptions)); // the repetition is the only one
    EXPECT_EQ(camera.Requests().size(), 3U);
    EXPECT_EQ(HeaderOf(camera.Requests()[1], "Authorization"), "Basic YWRtaW46c2VjcmV0");
}

struct DeliveryCase {
    const char* name;
    std::size_t pieceSize;
    int pauseMs;
    bool padToReadSize; // exactly 4096 bytes, the client's read size
};

class ReplyDelivery : public testing::TestWithParam<DeliveryCase> {};

// A reply arrives whole however the camera writes it, and a reply whose length is a multiple of
// the read size does not wait for the time-out.
TEST_P(ReplyDelivery, ReadsTheWholeReply) {
    std::string reply = SdpReply(1);
    if (GetParam().padToReadSize) {
        // Pad with an ignored header to exactly 4096 bytes.
        const std::string pad = "X-Pad: ";
        const std::size_t fill = 4096 - reply.size() - pad.size() - 2;
        reply.insert(reply.find("\r\n") + 2, pad + std::string(fill, 'p') + "\r\n");
        ASSERT_EQ(reply.size(), 4096U);
    }
    CRtspResponder camera({Pieces(reply, GetParam().pieceSize, GetParam().pauseMs)});
    CBaseRTSPClient client;
    RTSPSessionSettings settings = CameraSettings(camera.Port());
    settings.ioTimeout = 20000;
    ASSERT_TRUE(client.Connect(settings));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Transact(kDescribe));
    EXPECT_LT(ElapsedMs(start), 10000U);
    EXPECT_EQ(client.State().videoControl, "trackID=1");
    EXPECT_EQ(client.Pps().size(), 4U);
}

INSTANTIATE_TEST_SUITE_P(CBaseRTSPClientLoopback, ReplyDelivery,
                         testing::Values(DeliveryCase{"Whole", 4096, 0, true},
                                         DeliveryCase{"ByteByByte", 1, 1, false},
                                         DeliveryCase{"ExactReadSize", 256, 1, true},
                                         DeliveryCase{"WholeSmall", 4096, 0, false},
                                         DeliveryCase{"SlowPieces", 1500, 300, true}),
                         [](const testing::TestParamInfo<DeliveryCase>& param) {
                             return std::string(param.param.name);
                         });

TEST(CBaseRTSPClientLoopback, FailuresEndTheExchange) {
    struct Case {
        const char* name;
        ResponderStep step;
    };

    ResponderStep silent;
    silent.action = ResponderStep::Action::Silent;
    ResponderStep reset;
    reset.action = ResponderStep::Action::Reset;
    const Case cases[] = {
            {"NoReply", silent},
            {"ConnectionReset", reset},
            {"ClosedMidReply", Reply("RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n12")},
            {"BodyTooLarge", Reply("RTSP/1.0 200 OK\r\nContent-Length: 1048577\r\n\r\n")},
            {"NotFound", Reply("RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto camera = std::make_unique<CRtspResponder>(std::vector<ResponderStep>{c.step});
        CBaseRTSPClient client;
        RTSPSessionSettings settings = CameraSettings(camera->Port());
        settings.ioTimeout = 400;
        ASSERT_TRUE(client.Connect(settings));
        if (std::string(c.name) == "ClosedMidReply") {
            // Let the responder finish its script, then close its side.
            std::thread closer([&camera] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                camera.reset();
            });
            EXPECT_FALSE(client.Transact(kOptions));
            closer.join();
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(client.Transact(kOptions));
        EXPECT_LT(ElapsedMs(start), 5000U);
    }
}

TEST(CBaseRTSPClientLoopback, StopEventEndsAHangingExchangeAtOnce) {
    ResponderStep silent;
    silent.action = ResponderStep::Action::Silent;
    CRtspResponder camera({silent});
    auto stop = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset);
    CBaseRTSPClient client(stop.get());
    RTSPSessionSettings settings = CameraSettings(camera.Port());
    settings.ioTimeout = 60000;
    ASSERT_TRUE(client.Connect(settings));
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop->Set();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Transact(kDescribe));
    EXPECT_LT(ElapsedMs(start), 5000U);
    stopper.join();
    EXPECT_EQ(camera.Requests().size(), 1U);
}

TEST(CBaseRTSPClientLoopback, StaleReplyIsNotTakenForTheNextOne) {
    // The first reply comes after the client gave up; the second request must not take it.
    ResponderStep late = Reply(Ok(1, "Session: stale;timeout=5\r\n"));
    late.pauseMs = 600;
    CRtspResponder camera({late, Reply(Ok(2, "Session: fresh;timeout=9\r\n"))});
    CBaseRTSPClient client;
    RTSPSessionSettings settings = CameraSettings(camera.Port());
    settings.ioTimeout = 300;
    ASSERT_TRUE(client.Connect(settings));
    EXPECT_FALSE(client.Transact(kOptions));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    client.Settings().ioTimeout = 5000;
    ASSERT_TRUE(client.Transact(kOptions));
    EXPECT_EQ(client.State().session, "fresh");
}

TEST(CBaseRTSPClientLoopback, ConnectFailures) {
    // Nobody listens on a port that was just released.
    std::uint16_t freePort = 0;
    {
        platform::CSocket probe = platform::CSocket::CreateTcp();
        ASSERT_TRUE(probe.Bind(platform::LoopbackAddress(), 0));
        freePort = probe.LocalPort();
    }
    CBaseRTSPClient refused;
    EXPECT_FALSE(refused.Connect(CameraSettings(freePort)));
    EXPECT_FALSE(refused.IsConnected());

    CRtspResponder camera({});
    CBaseRTSPClient tooShort;
    RTSPSessionSettings settings = CameraSettings(camera.Port());
    settings.connectTimeout = 50; // below one 100 ms step
    EXPECT_FALSE(tooShort.Connect(settings));

    CBaseRTSPClient unresolved;
    settings = CameraSettings(camera.Port());
    settings.address = "";
    EXPECT_FALSE(unresolved.Connect(settings));
}

// A listener with a full accept queue leaves further connects pending: the wait for them ends at
// connectTimeout, or at once when the stop event is set.
TEST(CBaseRTSPClientLoopback, PendingConnectEndsAtTimeoutOrStop) {
    platform::CSocket listener = platform::CSocket::CreateTcp();
    ASSERT_TRUE(listener.Bind(platform::LoopbackAddress(), 0));
    ASSERT_TRUE(listener.Listen(0));
    platform::CSocket filler = platform::CSocket::CreateTcp();
    ASSERT_TRUE(filler.SetNonBlocking(true));
    ASSERT_NE(filler.Connect({platform::LoopbackAddress(), listener.LocalPort()}),
              platform::ConnectResult::Failed);
    ASSERT_EQ(platform::WaitSocket(filler, platform::WaitFor::Write, nullptr, 5000),
              platform::WaitResult::Ready);

    RTSPSessionSettings settings = CameraSettings(listener.LocalPort());
    settings.connectTimeout = 300;
    CBaseRTSPClient timedOut;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(timedOut.Connect(settings));
    EXPECT_GE(ElapsedMs(start), 250U);
    EXPECT_LT(ElapsedMs(start), 5000U);

    auto stop = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset);
    CBaseRTSPClient stopped(stop.get());
    settings.connectTimeout = 60000;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop->Set();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(stopped.Connect(settings));
    EXPECT_LT(ElapsedMs(start), 5000U);
    stopper.join();
}

} // namespace
} // namespace norvane
