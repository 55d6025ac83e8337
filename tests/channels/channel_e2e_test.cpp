// End-to-end tests of the stream channels against the simulated camera on loopback: the driver
// opened like a host opens it, channels through the video capture object.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camera_sim.h"
#include "channels/h264_channel_rtsp.h"
#include "driver/vantrel_driver.h"
#include "driver/video_capture.h"
#include "platform/wait.h"
#include "rtp/rtcp_reporter.h"
#include "sim_media.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Eventually;
using test::FakeDebugSink;
using test::FakeFrameSink;
using test::FakeOpenParams;
using test::FakeSampleAllocator;

// The camera driver with time-outs short enough for tests.
class QuickDriver : public CVantrelDriver {
public:
    QuickDriver(std::int32_t requestTimeoutMs, std::int32_t dataTimeoutMs)
        : m_request(requestTimeoutMs)
        , m_data(dataTimeoutMs) {}

    bool Open(IDebugSink* sink, IHostSampleAllocator* allocator, IOpenParams* params) override {
        if (!CVantrelDriver::Open(sink, allocator, params)) {
            return false;
        }
        m_deviceInfo.requestTimeout = m_request;
        m_deviceInfo.dataTimeout = m_data;
        return true;
    }

private:
    std::int32_t m_request;
    std::int32_t m_data;
};

// The NAL units of an Annex-B access unit as delivered: split at 3-byte start codes.
std::vector<std::vector<std::uint8_t>> SplitNalUnits(const std::vector<std::uint8_t>& frame) {
    std::vector<std::vector<std::uint8_t>> units;
    std::size_t start = std::string::npos;
    for (std::size_t i = 0; i + 3 <= frame.size(); ++i) {
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1) {
            if (start != std::string::npos) {
                units.emplace_back(frame.begin() + static_cast<std::ptrdiff_t>(start),
                                   frame.begin() + static_cast<std::ptrdiff_t>(i));
            }
            start = i + 3;
            i += 2;
        }
    }
    if (start != std::string::npos) {
        units.emplace_back(frame.begin() + static_cast<std::ptrdiff_t>(start), frame.end());
    }
    return units;
}

// The units that carry picture data or parameter sets (delimiters and SEI may be dropped).
std::vector<std::vector<std::uint8_t>> PayloadUnits(std::vector<std::vector<std::uint8_t>> units) {
    units.erase(std::remove_if(units.begin(), units.end(),
                               [](const auto& unit) {
                                   const int type = unit.empty() ? 0 : (unit[0] & 0x1F);
                                   return type == 9 || type == 6;
                               }),
                units.end());
    return units;
}

// IsCameraAccessUnit tells whether a delivered frame is one of the clip's access units, whole (a
// fragmented IDR picture carries the parameter sets in front).
bool IsCameraAccessUnit(const std::vector<std::uint8_t>& frame, const sim::H264Clip& clip) {
    const auto units = PayloadUnits(SplitNalUnits(frame));
    return std::any_of(
            clip.accessUnits.begin(), clip.accessUnits.end(), [&](const sim::H264AccessUnit& au) {
                const auto expected = PayloadUnits(au.nalUnits);
                if (units.size() == expected.size() + 2 && !units.empty() &&
                    (units[0][0] & 0x1F) == 7) {
                    return std::equal(expected.begin(), expected.end(), units.begin() + 2);
                }
                return units == expected;
            });
}

class ChannelEndToEnd : public ::testing::Test {
protected:
    // RequestCount is how many requests of `method` the camera received.
    std::size_t RequestCount(const std::string& method) const {
        const auto requests = m_sim->Requests();
        return static_cast<std::size_t>(std::count_if(
                requests.begin(), requests.end(),
                [&](const sim::LoggedRequest& request) { return request.method == method; }));
    }

    void StartCamera(sim::CameraSimConfig config = {}) {
        m_sim = std::make_unique<sim::CCameraSim>(std::move(config));
        std::string error;
        ASSERT_TRUE(m_sim->Start(&error)) << error;
    }

    void OpenDriver(std::int32_t streamType, std::int32_t requestTimeoutMs = 3000,
                    std::int32_t dataTimeoutMs = 3000) {
        OpenDriverAt(m_sim->HttpPort(), m_sim->RtspPort(), streamType, requestTimeoutMs,
                     dataTimeoutMs);
    }

    // OpenDriverAt opens the driver for a camera at these loopback ports.
    void OpenDriverAt(std::uint16_t httpPort, std::uint16_t rtspPort,
                      std::int32_t streamType = kStreamTypeH264,
                      std::int32_t requestTimeoutMs = 10000, std::int32_t dataTimeoutMs = 10000) {
        m_driver = std::make_unique<QuickDriver>(requestTimeoutMs, dataTimeoutMs);
        m_params.connection.address = "127.0.0.1";
        m_params.connection.port = httpPort;
        m_params.connection.streamType = streamType;
        m_params.connection.userName = "admin";
        m_params.connection.password = "admin";
        m_params.parameters = {"0", std::to_string(rtspPort)};
        if (!m_transport.empty()) {
            m_params.parameters.insert(m_params.parameters.end(), {"", m_transport});
        }
        ASSERT_TRUE(m_driver->Open(&m_debug, &m_allocator, &m_params));
    }

    ipcapture::IIPVideoCaptureEx* Video() { return m_driver->GetVideoCapture(); }

    void TearDown() override {
        m_driver.reset();
        if (m_sim) {
            m_sim->Stop();
        }
        EXPECT_EQ(m_allocator.Outstanding(), 0U) << "every sample is released";
    }

    std::unique_ptr<sim::CCameraSim> m_sim;
    FakeDebugSink m_debug;
    FakeSampleAllocator m_allocator;
    FakeOpenParams m_params;
    FakeFrameSink m_sink;
    std::unique_ptr<QuickDriver> m_driver;
    std::string m_transport; // host parameter 4 when not empty
};

TEST_F(ChannelEndToEnd, H264FramesArriveWholeStartingAtSyncPoint) {
    StartCamera();
    OpenDriver(kStreamTypeH264);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(30, 20s));
    Video()->CloseChannel(0);

    const auto frames = m_sink.Frames();
    EXPECT_EQ(frames[0].fourcc, kFourCCH264) << "the first frame is a sync point";
    const auto clip = sim::EmbeddedH264_640x480();
    std::size_t matched = 0;
    for (const auto& frame : frames) {
        EXPECT_EQ(frame.width, 640U);
        EXPECT_EQ(frame.height, 480U);
        EXPECT_EQ(frame.imageSize, 4U);
        ASSERT_GE(frame.bytes.size(), 5U);
        const std::vector<std::uint8_t> tail(frame.bytes.end() - 5, frame.bytes.end());
        EXPECT_EQ(tail, (std::vector<std::uint8_t>{0, 0, 1, 9, 0x30}));
        // Every delivered access unit is one of the camera's, whole.
        const auto units = PayloadUnits(SplitNalUnits(frame.bytes));
        matched += IsCameraAccessUnit(frame.bytes, *clip) ? 1U : 0U;
        EXPECT_EQ(frame.fourcc == kFourCCH264, (units[0][0] & 0x1F) == 7);
    }
    EXPECT_EQ(matched, frames.size());
    EXPECT_GE(m_debug.CountContaining("Camera 127.0.0.1 is online"), 1U);
}

TEST_F(ChannelEndToEnd, EncoderConfigurationAndRtspConversation) {
    StartCamera();
    OpenDriver(kStreamTypeH264);
    test::FakeChannelParams params(1280, 720, 83, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(1, 20s));
    Video()->CloseChannel(0);
    std::vector<std::string> order;
    for (const auto& request : m_sim->Requests()) {
        order.push_back(request.method + " " + request.uri);
    }
    ASSERT_GE(order.size(), 4U);
    EXPECT_EQ(order[0],
              "GET /cgi-bin/action.fcgi?vtl_api=set_setup.video.codec&codec0=h264&resolution0="
              "1280x720&bitctrl0=cbr&bitavr0=4256&fps0=12.5&codec1=none&resolution1=320x240"
              "&bitctrl1=cbr&bitavr1=4256&fps1=12.5&ff_mode=50&mirror_mode=none&bandon=no"
              "&bandwidth=5000");
    const std::string base =
            "rtsp://127.0.0.1:" + std::to_string(m_sim->RtspPort()) + "/vtl_media/main";
    EXPECT_EQ(order[1], "DESCRIBE " + base);
    EXPECT_EQ(order[2].rfind("SETUP " + base + "/", 0), 0U) << order[2];
    EXPECT_EQ(order[3], "PLAY " + base);
    EXPECT_EQ(order.back(), "TEARDOWN " + base);
}

TEST_F(ChannelEndToEnd, MjpegPicturesArriveAsCompleteJpegFiles) {
    StartCamera();
    OpenDriver(kStreamTypeMjpeg);
    test::FakeChannelParams params(1280, 1024, 100, 10);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(10, 20s));
    Video()->CloseChannel(0);
    for (const auto& frame : m_sink.Frames()) {
        EXPECT_EQ(frame.fourcc, kFourCCJpeg);
        EXPECT_EQ(frame.width, 704U);
        EXPECT_EQ(frame.height, 576U);
        ASSERT_GE(frame.bytes.size(), 610U);
        EXPECT_EQ(frame.bytes[0], 0xFF);
        EXPECT_EQ(frame.bytes[1], 0xD8);
        EXPECT_EQ(frame.bytes[frame.bytes.size() - 2], 0xFF);
        EXPECT_EQ(frame.bytes[frame.bytes.size() - 1], 0xD9);
    }
    const auto requests = m_sim->Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests[0].uri.find("&codec1=mjpeg&resolution1=704x576"), std::string::npos);
    EXPECT_NE(requests[1].uri.find("/vtl_media/second"), std::string::npos);
}

// Every Digest form of current firmware, on HTTP (through libcurl) and RTSP alike.
TEST_F(ChannelEndToEnd, DigestCameraIsAnsweredWithDigest) {
    struct Case {
        const char* algorithm;
        bool rtspQop;
    };

    for (const Case& c : {Case{"MD5", false}, Case{"SHA-256", true}, Case{"MD5-sess", true},
                          Case{"SHA-256-sess", true}}) {
        SCOPED_TRACE(c.algorithm);
        sim::CameraSimConfig config;
        config.httpAuth = sim::AuthMode::Digest;
        config.rtspAuth = sim::AuthMode::Digest;
        config.rtspDigestQop = c.rtspQop;
        config.digestAlgorithm = c.algorithm;
        StartCamera(config);
        OpenDriver(kStreamTypeH264);
        test::FakeChannelParams params(640, 480, 40, 50);
        test::FakeFrameSink sink;
        ASSERT_TRUE(Video()->OpenChannel(0, &sink, &params));
        ASSERT_TRUE(sink.WaitForFrames(5, 20s));
        Video()->CloseChannel(0);
        int describes = 0;
        for (const auto& request : m_sim->Requests()) {
            if (request.protocol == sim::LoggedRequest::Protocol::Rtsp &&
                request.method == "DESCRIBE") {
                ++describes;
                if (describes == 1) {
                    EXPECT_EQ(request.text.find("Authorization:"), std::string::npos);
                } else {
                    EXPECT_NE(request.text.find("Authorization: Digest username=\"admin\""),
                              std::string::npos);
                    EXPECT_EQ(request.text.find("qop=auth") != std::string::npos, c.rtspQop);
                }
            }
            if (request.protocol == sim::LoggedRequest::Protocol::Rtsp &&
                request.method == "PLAY") {
                EXPECT_NE(request.text.find("Authorization: Digest"), std::string::npos);
            }
        }
        EXPECT_EQ(describes, 2) << "one refusal, one repetition";
        m_driver.reset();
        m_sim->Stop();
    }
}

TEST_F(ChannelEndToEnd, SignalLossIsReportedAndStreamRecovers) {
    StartCamera();
    OpenDriver(kStreamTypeH264, 2000, 1500);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(5, 20s));
    sim::SimFaults faults;
    faults.stopMedia = true;
    m_sim->SetFaults(faults);
    ASSERT_TRUE(m_sink.WaitForSignalLost(1, 20s));
    int32_t state = -1;
    int32_t reserved = 0;
    ASSERT_TRUE(Video()->GetChannelStatus(0, &state, &reserved, nullptr, 0));
    EXPECT_EQ(state, 2);
    ASSERT_TRUE(m_debug.WaitFor("Signal was lost for camera 127.0.0.1", 5s));
    EXPECT_EQ(
            m_debug.CountContaining("stream stalled: no frame from the camera for 1500 ms (rtsp://"
                                    "127.0.0.1:" +
                                    std::to_string(m_sim->RtspPort()) + "/vtl_media/main)"),
            1U);
    const std::size_t before = m_sink.FrameCount();
    m_sim->SetFaults({});
    ASSERT_TRUE(Eventually([&] { return m_sink.FrameCount() > before + 5; }, 30s));
    EXPECT_TRUE(Eventually(
            [&] {
                return Video()->GetChannelStatus(0, &state, &reserved, nullptr, 0) && state == 0;
            },
            10s));
    Video()->CloseChannel(0);
    EXPECT_EQ(m_debug.CountContaining("Signal was lost"), 1U);
    EXPECT_GE(m_debug.CountContaining("is online"), 2U);
}

// Why an attempt failed is told at level 1, with the request and the URL, once per change of
// cause however often the channel retries.
TEST_F(ChannelEndToEnd, FailedAttemptsTellTheirCauseOncePerChange) {
    sim::CameraSimConfig config;
    config.faults.rtspAlways401 = true;
    StartCamera(config);
    OpenDriver(kStreamTypeH264, 2000, 2000);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    const std::string refused = "DESCRIBE rtsp://127.0.0.1:" + std::to_string(m_sim->RtspPort()) +
                                "/vtl_media/main refused with status 401 (credentials refused)";
    ASSERT_TRUE(m_debug.WaitFor(refused, 20s));
    // Two more attempts with the same cause: the camera sees them, the host hears nothing new.
    const std::size_t describes = RequestCount("DESCRIBE");
    ASSERT_TRUE(Eventually([&] { return RequestCount("DESCRIBE") >= describes + 4; }, 30s));
    EXPECT_EQ(m_debug.CountContaining(refused), 1U);
    EXPECT_EQ(m_sink.FrameCount(), 0U) << "a refused DESCRIBE is not followed by SETUP and PLAY";
    EXPECT_EQ(RequestCount("SETUP"), 0U);
    // A new cause is told again, once: the camera now refuses its configuration requests (the
    // first refusal of a scheme the sender has not learned yet reads as not sent).
    sim::SimFaults faults;
    faults.httpAlways401 = true;
    m_sim->SetFaults(faults);
    const std::string configuration = "camera configuration failed: ";
    ASSERT_TRUE(m_debug.WaitFor(configuration, 20s));
    const std::size_t gets = RequestCount("GET");
    ASSERT_TRUE(Eventually([&] { return RequestCount("GET") >= gets + 4; }, 30s));
    EXPECT_EQ(m_debug.CountContaining(configuration + "HTTP status 401 (credentials refused) for " +
                                      m_sim->HttpUrl("/cgi-bin/action.fcgi?vtl_api=") +
                                      "set_setup.video.codec"),
              1U);
    Video()->CloseChannel(0);
}

TEST_F(ChannelEndToEnd, KeepAliveFollowsAnnouncedSessionTimeout) {
    sim::CameraSimConfig config;
    config.sessionTimeoutSec = 4;
    StartCamera(config);
    OpenDriver(kStreamTypeH264);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(1, 20s));
    m_sim->ClearRequests();
    std::this_thread::sleep_for(5500ms);
    Video()->CloseChannel(0);
    int options = 0;
    for (const auto& request : m_sim->Requests()) {
        options += request.method == "OPTIONS" ? 1 : 0;
    }
    // Every 2 s (half of 4 s) over 5.5 s: two or three, not one per second.
    EXPECT_GE(options, 2);
    EXPECT_LE(options, 4);
}

TEST_F(ChannelEndToEnd, LossyNetworkNeverDeliversDamagedFrames) {
    sim::CameraSimConfig config;
    config.faults.dropShare = 0.03;
    config.faults.reorderShare = 0.02;
    config.faults.duplicateShare = 0.02;
    StartCamera(config);
    OpenDriver(kStreamTypeH264);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(20, 30s));
    Video()->CloseChannel(0);
    const auto clip = sim::EmbeddedH264_640x480();
    for (const auto& frame : m_sink.Frames()) {
        EXPECT_TRUE(IsCameraAccessUnit(frame.bytes, *clip))
                << "a delivered frame differs from every frame the camera sent";
    }
}

// A camera whose every packet is overtaken by the next one loses nothing, not even the
// session's first packet: PLAY's RTP-Info names it, so the reorder window waits for it instead
// of starting behind it (which would cost the first picture, or its group of pictures where
// the description carries no parameter sets).
TEST_F(ChannelEndToEnd, OvertakenFirstPacketIsPutInPlace) {
    sim::CameraSimConfig config;
    config.faults.reorderShare = 1.0;
    StartCamera(config);
    OpenDriver(kStreamTypeH264);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(10, 20s));
    RtpReceptionCounters counts;
    auto* capture = dynamic_cast<CIPVideoCapture*>(Video());
    ASSERT_NE(capture, nullptr);
    ASSERT_TRUE(capture->GetChannelReception(0, counts));
    Video()->CloseChannel(0);
    EXPECT_GT(counts.reordered, 0U);
    EXPECT_EQ(counts.late, 0U);
    EXPECT_EQ(counts.Lost(), 0);
    const auto frames = m_sink.Frames();
    EXPECT_EQ(frames[0].fourcc, kFourCCH264);
    const auto clip = sim::EmbeddedH264_640x480();
    for (const auto& frame : frames) {
        EXPECT_TRUE(IsCameraAccessUnit(frame.bytes, *clip));
    }
}

// SetupTransports lists the Transport line of every SETUP the camera received.
std::vector<std::string> SetupTransports(const sim::CCameraSim& camera) {
    std::vector<std::string> transports;
    for (const auto& request : camera.Requests()) {
        const std::size_t at = request.text.find("Transport: ");
        if (request.method == "SETUP" && at != std::string::npos) {
            transports.push_back(
                    request.text.substr(at + 11, request.text.find('\r', at) - at - 11));
        }
    }
    return transports;
}

// With RTP inside the RTSP connection the camera's frames arrive as whole as over UDP, its RTCP
// is answered over the connection, and no UDP port is asked for.
TEST_F(ChannelEndToEnd, InterleavedTransportDeliversTheSameFrames) {
    sim::CameraSimConfig config;
    config.rtcpIntervalMs = 200;
    StartCamera(config);
    m_transport = "tcp";
    OpenDriver(kStreamTypeH264);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(30, 20s));
    ASSERT_TRUE(Eventually([&] { return !m_sim->ReceivedRtcpPackets().empty(); }, 5s));
    Video()->CloseChannel(0);
    const auto clip = sim::EmbeddedH264_640x480();
    for (const auto& frame : m_sink.Frames()) {
        ASSERT_TRUE(IsCameraAccessUnit(frame.bytes, *clip));
    }
    EXPECT_EQ(m_sink.Frames()[0].fourcc, kFourCCH264);
    EXPECT_EQ(SetupTransports(*m_sim),
              std::vector<std::string>{"RTP/AVP/TCP;unicast;interleaved=0-1"});
    const auto rtcp = m_sim->ReceivedRtcpPackets();
    ASSERT_FALSE(rtcp.empty());
    EXPECT_EQ(rtcp[0].bytes.size(), kRtcpAnswerSize);
    EXPECT_EQ(rtcp[0].bytes[1], 201) << "a receiver report";
    EXPECT_EQ(rtcp.back().bytes.size(), kRtcpByeSize) << "BYE when leaving";
    EXPECT_EQ(RequestCount("TEARDOWN"), 1U);

    // JPEG pictures over the connection are the pictures the same camera sends over UDP.
    std::vector<std::vector<std::uint8_t>> pictures[2];
    for (const bool interleaved : {false, true}) {
        m_driver.reset();
        m_transport = interleaved ? "tcp" : "udp";
        OpenDriver(kStreamTypeMjpeg);
        test::FakeFrameSink sink;
        test::FakeChannelParams jpeg(1280, 1024, 100, 10);
        ASSERT_TRUE(Video()->OpenChannel(0, &sink, &jpeg));
        ASSERT_TRUE(sink.WaitForFrames(12, 20s));
        Video()->CloseChannel(0);
        for (const auto& frame : sink.Frames()) {
            pictures[interleaved ? 1 : 0].push_back(frame.bytes);
        }
    }
    std::sort(pictures[0].begin(), pictures[0].end());
    for (const auto& picture : pictures[1]) {
        EXPECT_TRUE(std::binary_search(pictures[0].begin(), pictures[0].end(), picture));
    }
}

// In auto mode a camera whose UDP never arrives, or that refuses UDP, is received inside the
// RTSP connection within a few seconds of the first PLAY; the switch is told once, at level 2,
// and sticks: later attempts do not try UDP again.
TEST_F(ChannelEndToEnd, AutoTransportFallsBackFromBlockedOrRefusedUdp) {
    struct Case {
        const char* name;
        sim::SimFaults faults;
        const char* reason;
    };

    Case cases[] = {{"blocked", {}, "no UDP packets from the camera after PLAY"},
                    {"refused", {}, "(461 Unsupported Transport)"}};
    cases[0].faults.blockUdpMedia = true;
    cases[1].faults.refuseUdp = true;
    for (const Case& c : cases) {
        sim::CameraSimConfig config;
        config.faults = c.faults;
        StartCamera(config);
        OpenDriver(kStreamTypeH264, 3000, 3000);
        test::FakeChannelParams params(640, 480, 40, 50);
        test::FakeFrameSink sink;
        ASSERT_TRUE(Video()->OpenChannel(0, &sink, &params));
        ASSERT_TRUE(m_sim->WaitForRequest(
                [](const sim::LoggedRequest& r) {
                    return r.method == "PLAY" || r.method == "SETUP";
                },
                20s));
        const auto firstRequest = Clock::now();
        ASSERT_TRUE(sink.WaitForFrames(1, 20s)) << c.name;
        const auto delay = Clock::now() - firstRequest;
        std::printf("first frame %lld ms after the first SETUP (%s UDP)\n",
                    static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::milliseconds>(delay).count()),
                    c.name);
        EXPECT_LT(delay, 8s) << c.name;
        // Signal loss (3 s here) would make the channel connect again: it stays interleaved.
        m_sim->SetFaults(c.faults);
        const std::size_t before = sink.FrameCount();
        ASSERT_TRUE(Eventually([&] { return sink.FrameCount() > before + 25; }, 10s));
        Video()->CloseChannel(0);
        const auto transports = SetupTransports(*m_sim);
        ASSERT_GE(transports.size(), 2U) << c.name;
        EXPECT_EQ(transports[0].rfind("RTP/AVP/UDP", 0), 0U) << c.name;
        for (std::size_t i = 1; i < transports.size(); ++i) {
            EXPECT_EQ(transports[i], "RTP/AVP/TCP;unicast;interleaved=0-1") << c.name;
        }
        const auto messages = m_debug.Messages();
        EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                                [&](const test::DebugRecord& m) {
                                    return m.level == 2 &&
                                           m.text.find(c.reason) != std::string::npos &&
                                           m.text.find("using RTP over the RTSP connection") !=
                                                   std::string::npos;
                                }),
                  1)
                << c.name;
        EXPECT_EQ(m_debug.CountContaining("refused with status 461"), 0U) << c.name;
        m_driver.reset();
        m_sim->Stop();
        m_debug.Clear();
    }
}

// The H.265 units that carry picture data or parameter sets: an IRAP picture whose aggregated
// delimiter and SEI were lost is delivered with the session's sets in front (as H.264 is).
std::vector<std::vector<std::uint8_t>>
H265PayloadUnits(std::vector<std::vector<std::uint8_t>> units) {
    units.erase(std::remove_if(units.begin(), units.end(),
                               [](const auto& unit) {
                                   const int type = (unit[0] >> 1) & 0x3F;
                                   return type == 35 || type == 39;
                               }),
                units.end());
    return units;
}

// H.265 from a camera that takes codec0=h265, on a clean and on a lossy network: the first frame
// is a sync point, and every delivered frame is one of the camera's access units, whole (on the
// clean network exactly as sent).
TEST_F(ChannelEndToEnd, H265FramesArriveWholeStartingAtSyncPoint) {
    for (const double loss : {0.0, 0.03}) {
        SCOPED_TRACE(loss);
        sim::CameraSimConfig config;
        config.faults.dropShare = loss;
        config.faults.reorderShare = loss;
        config.faults.duplicateShare = loss;
        StartCamera(config);
        OpenDriver(kStreamTypeH265);
        test::FakeChannelParams params(640, 480, 40, 50);
        FakeFrameSink sink;
        ASSERT_TRUE(Video()->OpenChannel(0, &sink, &params));
        ASSERT_TRUE(sink.WaitForFrames(30, 30s));
        Video()->CloseChannel(0);

        const auto requests = m_sim->Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_NE(requests[0].uri.find("&codec0=h265&"), std::string::npos) << requests[0].uri;
        const auto frames = sink.Frames();
        EXPECT_EQ(frames[0].fourcc, kFourCCH265) << "the first frame is a sync point";
        const auto clip = sim::EmbeddedH265_640x480();
        std::size_t sync = 0;
        for (const auto& frame : frames) {
            EXPECT_EQ(frame.width, 640U);
            EXPECT_EQ(frame.height, 480U);
            const auto units = SplitNalUnits(frame.bytes);
            const bool known =
                    std::any_of(clip->accessUnits.begin(), clip->accessUnits.end(),
                                [&](const sim::H264AccessUnit& au) {
                                    return loss == 0.0 ? units == au.nalUnits
                                                       : H265PayloadUnits(units) ==
                                                                 H265PayloadUnits(au.nalUnits);
                                });
            EXPECT_TRUE(known) << "a delivered frame differs from every frame the camera sent";
            const bool withSets = std::any_of(units.begin(), units.end(), [](const auto& unit) {
                return ((unit[0] >> 1) & 0x3F) == 32;
            });
            EXPECT_EQ(frame.fourcc == kFourCCH265, withSets);
            sync += frame.fourcc == kFourCCH265 ? 1 : 0;
        }
        EXPECT_GE(sync, 1U);
        m_driver.reset();
        m_sim->Stop();
    }
}

TEST_F(ChannelEndToEnd, H265WithDecodingOrderNumbersIsRefusedWithAMessage) {
    sim::CameraSimConfig config;
    config.h265MaxDonDiff = 2;
    StartCamera(config);
    OpenDriver(kStreamTypeH265, 2000, 2000);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_debug.WaitFor("decoding order numbers", 20s));
    Video()->CloseChannel(0);
    EXPECT_EQ(RequestCount("SETUP"), 0U);
    EXPECT_EQ(m_sink.FrameCount(), 0U);
}

// CloseChannelTimed closes channel 0 and prints how long it took; each state must end well inside
// the outer 20 s bound (the figures are printed for the record).
void CloseChannelTimed(ipcapture::IIPVideoCaptureEx* video, const char* state) {
    const auto start = Clock::now();
    EXPECT_TRUE(video->CloseChannel(0));
    const auto elapsed = Clock::now() - start;
    std::printf("CloseChannel while %s: %lld us\n", state,
                static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
    EXPECT_LT(elapsed, 2s) << state;
}

// A TCP listener that never answers. With its backlog filled first, further connects are never
// completed (their SYNs are dropped), like a camera address that drops packets; otherwise the
// connection completes and every request waits for an answer that never comes.
class SilentListener {
public:
    explicit SilentListener(bool dropConnects) {
        EXPECT_TRUE(m_socket.Bind(platform::LoopbackAddress(), 0));
        EXPECT_TRUE(m_socket.Listen(0));
        if (dropConnects) {
            for (auto& filler : m_fillers) {
                filler = platform::CSocket::CreateTcp();
                filler.SetNonBlocking(true);
                filler.Connect({platform::LoopbackAddress(), Port()});
            }
            std::this_thread::sleep_for(100ms);
        }
    }

    [[nodiscard]] std::uint16_t Port() const { return m_socket.LocalPort(); }

    // AcceptAndRead takes one connection and waits for its first bytes (the request).
    bool AcceptAndRead(std::chrono::milliseconds timeout) {
        if (platform::WaitSocket(m_socket, platform::WaitFor::Read, nullptr,
                                 static_cast<int>(timeout.count())) !=
            platform::WaitResult::Ready) {
            return false;
        }
        m_accepted = m_socket.Accept(nullptr);
        return platform::WaitSocket(m_accepted, platform::WaitFor::Read, nullptr,
                                    static_cast<int>(timeout.count())) ==
               platform::WaitResult::Ready;
    }

private:
    platform::CSocket m_socket = platform::CSocket::CreateTcp();
    platform::CSocket m_fillers[4];
    platform::CSocket m_accepted;
};

TEST_F(ChannelEndToEnd, CloseChannelReturnsPromptlyInEveryState) {
    StartCamera();
    OpenDriver(kStreamTypeH264, 10000, 10000);
    test::FakeChannelParams params(640, 480, 40, 50);

    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(3, 20s));
    CloseChannelTimed(Video(), "streaming");

    // The pause after the configuration request, then the two-second port probe.
    m_sim->ClearRequests();
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sim->WaitForRequest([](const sim::LoggedRequest& r) { return r.method == "GET"; },
                                      10s));
    std::this_thread::sleep_for(500ms);
    CloseChannelTimed(Video(), "pausing after the configuration");
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    std::this_thread::sleep_for(1800ms);
    CloseChannelTimed(Video(), "probing ports");

    // The configuration request of a camera that does not answer.
    sim::SimFaults silent;
    silent.replyDelayMs = 60000;
    m_sim->SetFaults(silent);
    m_sim->ClearRequests();
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sim->WaitForRequest([](const sim::LoggedRequest& r) { return r.method == "GET"; },
                                      20s));
    CloseChannelTimed(Video(), "waiting for the CGI answer");
    m_sim->SetFaults({});
}

// A camera that sends nothing after PLAY and refuses interleaving is not left on the transport it
// refuses: once it sends again, its frames arrive over UDP. Each switch is told once.
TEST_F(ChannelEndToEnd, AutoTransportReturnsToUdpWhenInterleavingIsRefused) {
    sim::CameraSimConfig config;
    config.faults.stopMedia = true;
    config.faults.refuseInterleaved = true;
    StartCamera(config);
    OpenDriver(kStreamTypeH264, 10000, 10000);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_debug.WaitFor("the camera refused RTP over the RTSP connection (461 "
                                "Unsupported Transport); using RTP over UDP",
                                20s));
    // Another round of both switches, told no more.
    ASSERT_TRUE(Eventually([&] { return SetupTransports(*m_sim).size() >= 5; }, 30s));
    m_sim->SetFaults({});
    ASSERT_TRUE(m_sink.WaitForFrames(10, 20s));
    Video()->CloseChannel(0);
    EXPECT_EQ(SetupTransports(*m_sim).back().rfind("RTP/AVP/UDP", 0), 0U);
    EXPECT_EQ(m_debug.CountContaining("using RTP over UDP"), 1U);
    EXPECT_EQ(m_debug.CountContaining("using RTP over the RTSP connection"), 1U);
}

// A camera that closes the connection carrying the media is connected again at once, not after
// the data time-out, and the host sees no loss of signal.
TEST_F(ChannelEndToEnd, ClosedInterleavedConnectionIsReestablishedAtOnce) {
    sim::CameraSimConfig config;
    config.sessionTimeoutSec = 2; // a keep-alive every second
    StartCamera(config);
    m_transport = "tcp";
    OpenDriver(kStreamTypeH264, 10000, 10000);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(5, 20s));
    sim::SimFaults faults;
    faults.closeRtspConnection = true; // the next keep-alive closes the connection
    m_sim->SetFaults(faults);
    m_sim->ClearRequests();
    ASSERT_TRUE(m_sim->WaitForRequest(
            [](const sim::LoggedRequest& r) { return r.method == "OPTIONS"; }, 5s));
    ASSERT_TRUE(Eventually([&] { return m_sim->ActiveSessionCount() == 0; }, 5s));
    m_sim->SetFaults({});
    const auto ended = Clock::now();
    const std::size_t before = m_sink.FrameCount();
    ASSERT_TRUE(Eventually([&] { return m_sink.FrameCount() > before + 5; }, 9s));
    std::printf("frames again %lld ms after the camera closed the connection\n",
                static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - ended)
                                .count()));
    Video()->CloseChannel(0);
    EXPECT_EQ(m_sink.SignalLostCount(), 0);
    EXPECT_EQ(RequestCount("PLAY"), 1U) << "one new session";
    EXPECT_EQ(m_debug.CountContaining("the connection that carried the media ended"), 1U);
}

TEST_F(ChannelEndToEnd, CloseInterleavedChannelPromptlyInEveryState) {
    sim::CameraSimConfig config;
    config.sessionTimeoutSec = 2; // a keep-alive every second
    StartCamera(config);
    m_transport = "tcp";
    OpenDriver(kStreamTypeH264, 10000, 10000);
    test::FakeChannelParams params(640, 480, 40, 50);
    const auto waitFor = [&](const char* method) {
        m_sim->ClearRequests();
        return m_sim->WaitForRequest(
                [&](const sim::LoggedRequest& r) { return r.method == method; }, 10s);
    };

    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(3, 20s));
    CloseChannelTimed(Video(), "reading frames from the connection");

    sim::SimFaults faults;
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(m_sink.FrameCount() + 3, 20s));
    faults.stopMedia = true;
    m_sim->SetFaults(faults);
    std::this_thread::sleep_for(500ms);
    CloseChannelTimed(Video(), "the connection is quiet");

    faults = {};
    m_sim->SetFaults(faults);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(m_sink.FrameCount() + 3, 20s));
    faults.replyDelayMs = 60000;
    m_sim->SetFaults(faults);
    ASSERT_TRUE(waitFor("OPTIONS"));
    CloseChannelTimed(Video(), "a keep-alive waits for its reply among frames");

    faults = {};
    m_sim->SetFaults(faults);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(m_sink.WaitForFrames(m_sink.FrameCount() + 3, 20s));
    faults.closeRtspConnection = true;
    m_sim->SetFaults(faults);
    ASSERT_TRUE(waitFor("OPTIONS"));
    std::this_thread::sleep_for(200ms);
    CloseChannelTimed(Video(), "the camera closed the connection");

    // Auto mode, waiting for the first UDP packet that a firewall drops.
    faults = {};
    faults.blockUdpMedia = true;
    m_sim->SetFaults(faults);
    m_driver.reset();
    m_transport = "auto";
    OpenDriver(kStreamTypeH264, 10000, 10000);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(waitFor("PLAY"));
    std::this_thread::sleep_for(1000ms);
    CloseChannelTimed(Video(), "waiting for the first UDP packet");
}

TEST_F(ChannelEndToEnd, CloseChannelDuringAnUnansweredRtspRequest) {
    StartCamera();
    SilentListener rtsp(false);
    OpenDriverAt(m_sim->HttpPort(), rtsp.Port());
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(rtsp.AcceptAndRead(20s)) << "the DESCRIBE request was sent";
    CloseChannelTimed(Video(), "waiting for the answer to DESCRIBE");
}

TEST_F(ChannelEndToEnd, CloseChannelWhileConnectingToAnAddressThatDropsPackets) {
    SilentListener camera(true);
    OpenDriverAt(camera.Port(), camera.Port());
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    std::this_thread::sleep_for(500ms);
    CloseChannelTimed(Video(), "connecting to an address that drops packets");
}

TEST_F(ChannelEndToEnd, CloseChannelDuringAHangingConfigurationRequest) {
    SilentListener camera(false);
    OpenDriverAt(camera.Port(), camera.Port());
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    ASSERT_TRUE(camera.AcceptAndRead(5s)) << "the configuration request was sent";
    CloseChannelTimed(Video(), "the configuration request hangs");
}

// A camera whose HTTP port refuses connections and one that takes the request but never answers
// are told apart, each with its address.
TEST_F(ChannelEndToEnd, UnreachableAndSilentCamerasAreToldApart) {
    {
        SilentListener camera(false);
        OpenDriverAt(camera.Port(), camera.Port(), kStreamTypeH264, 1500, 1500);
        test::FakeChannelParams params(640, 480, 40, 50);
        ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
        EXPECT_TRUE(
                m_debug.WaitFor("camera configuration failed: no answer from http://127.0.0.1:" +
                                        std::to_string(camera.Port()) + " within 1500 ms",
                                20s));
        Video()->CloseChannel(0);
    }
    std::uint16_t closedPort = 0;
    {
        SilentListener gone(false);
        closedPort = gone.Port(); // nobody listens there once it is gone
    }
    OpenDriverAt(closedPort, closedPort, kStreamTypeH264, 1500, 1500);
    test::FakeChannelParams params(640, 480, 40, 50);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    EXPECT_TRUE(m_debug.WaitFor("camera configuration failed: cannot connect to http://127.0.0.1:" +
                                        std::to_string(closedPort) +
                                        " (connection refused or host unreachable)",
                                20s));
    Video()->CloseChannel(0);

    // The camera takes its configuration, but nothing listens on the RTSP port.
    StartCamera();
    OpenDriverAt(m_sim->HttpPort(), closedPort, kStreamTypeH264, 1500, 1500);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    EXPECT_TRUE(m_debug.WaitFor("cannot connect to rtsp://127.0.0.1:" + std::to_string(closedPort) +
                                        "/vtl_media/main: connection refused or host unreachable",
                                20s));
    Video()->CloseChannel(0);

    // An RTSP port that takes no connection: no answer, with the time waited.
    SilentListener full(true);
    OpenDriverAt(m_sim->HttpPort(), full.Port(), kStreamTypeH264, 1500, 1500);
    ASSERT_TRUE(Video()->OpenChannel(0, &m_sink, &params));
    EXPECT_TRUE(
            m_debug.WaitFor("cannot connect to rtsp://127.0.0.1:" + std::to_string(full.Port()) +
                                    "/vtl_media/main: no answer within 1500 ms",
                            20s));
    Video()->CloseChannel(0);
}

} // namespace
} // namespace norvane
