#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/socket.h"
#include "platform/wait.h"
#include "rtp/rtcp_reporter.h"
#include "rtp/rtp_reorder_window.h"

namespace norvane {
namespace {

std::uint32_t Address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    // Network byte order: the first octet is the lowest-addressed byte.
    const std::array<std::uint8_t, 4> bytes{a, b, c, d};
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

// A 28-byte sender report (RFC 3550, section 6.4.1) with SSRC 11 22 33 44 and a recognisable NTP
// timestamp 0xA0A1A2A3 A4A5A6A7.
std::vector<std::uint8_t> SenderReport() {
    return {0x80, 200,  0x00, 0x06, 0x11, 0x22, 0x33, 0x44, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5,
            0xA6, 0xA7, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x01, 0x00};
}

std::uint32_t BE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

TEST(BuildRtcpAnswer, ReceiverReportAndSourceDescriptionLayout) {
    RtcpReportBlock block;
    block.fractionLost = 0x40;
    block.cumulativeLost = -2; // repeats outnumber losses
    block.extendedHighest = 0x0001FFFE;
    block.jitter = 0x123;
    block.lastSr = 0xA2A3A4A5;
    block.delaySinceLastSr = 0x8000; // half a second
    const auto answer = BuildRtcpAnswer(SenderReport(), 0xCAFEBABE, block, "host");
    const std::vector<std::uint8_t> rr(answer.begin(), answer.begin() + 32);
    EXPECT_EQ(rr, (std::vector<std::uint8_t>{0x81, 201,  0,    7,    0xCA, 0xFE, 0xBA, 0xBE,
                                             0x11, 0x22, 0x33, 0x44, 0x40, 0xFF, 0xFF, 0xFE,
                                             0,    1,    0xFF, 0xFE, 0,    0,    1,    0x23,
                                             0xA2, 0xA3, 0xA4, 0xA5, 0,    0,    0x80, 0}));
    const std::vector<std::uint8_t> sdes(answer.begin() + 32, answer.begin() + 46);
    EXPECT_EQ(sdes, (std::vector<std::uint8_t>{0x81, 202, 0, 8, 0xCA, 0xFE, 0xBA, 0xBE, 1, 4, 'h',
                                               'o', 's', 't'}));
    for (std::size_t i = 46; i < answer.size(); ++i) {
        EXPECT_EQ(answer[i], 0) << i;
    }
}

TEST(MakeReportBlock, LossSinceTheLastReportAndClampedCumulativeLoss) {
    RtpReceptionCounters last;
    last.expected = 1000;
    last.received = 990;
    RtpReceptionCounters now = last;
    now.expected = 1200;
    now.received = 1140; // 50 of the last 200 lost
    now.extendedHighest = 0x10005;
    now.jitter = 77;
    RtcpReportBlock block = MakeReportBlock(last, now);
    EXPECT_EQ(block.fractionLost, 64);
    EXPECT_EQ(block.cumulativeLost, 60);
    EXPECT_EQ(block.extendedHighest, 0x10005U);
    EXPECT_EQ(block.jitter, 77U);
    now.expected = 20000000; // more than 24 bits can say
    EXPECT_EQ(MakeReportBlock(last, now).cumulativeLost, 0x7FFFFF);
}

TEST(BuildRtcpAnswer, ShortDatagramsAndLongNamesStayInBounds) {
    // 5 to 7 bytes carry only part of the sender's SSRC; the rest is sent as zero.
    const auto report = SenderReport();
    for (std::size_t size = 5; size <= 8; ++size) {
        // Only the first `size` bytes exist: a copy in a buffer of exactly that size lets ASan
        // catch any read beyond them.
        const std::vector<std::uint8_t> datagram(report.begin(),
                                                 report.begin() + static_cast<long>(size));
        const auto answer = BuildRtcpAnswer(datagram, 1, {}, "h");
        std::vector<std::uint8_t> sender = {0x11, 0x22, 0x33, 0x44};
        std::fill(sender.begin() + static_cast<long>(size - 4), sender.end(), 0);
        EXPECT_EQ(std::vector<std::uint8_t>(answer.begin() + 8, answer.begin() + 12), sender)
                << size;
    }
    const std::string longName(200, 'n');
    const auto answer = BuildRtcpAnswer(report, 1, {}, longName);
    EXPECT_EQ(answer[32 + 9], kRtcpCnameCapacity);           // declared length fits the packet
    EXPECT_EQ(10 + kRtcpCnameCapacity + 1, std::size_t{36}); // text, then one end-of-list byte
    EXPECT_EQ(answer[67], 0);
}

TEST(BuildRtcpBye, Layout) {
    const auto bye = BuildRtcpBye(0x01020304);
    EXPECT_EQ(std::vector<std::uint8_t>(bye.begin(), bye.end()),
              (std::vector<std::uint8_t>{0x81, 203, 0x00, 0x01, 1, 2, 3, 4}));
}

TEST(CRTCPReporter, StopWithoutThreadIsImmediate) {
    CRTCPReporter reporter;
    EXPECT_TRUE(reporter.Stop());
}

// A peer on a loopback address: the camera (127.0.0.1) or a stranger (127.0.0.2).
class CPeer {
public:
    explicit CPeer(std::uint32_t address) : m_socket(platform::CSocket::CreateUdp()) {
        EXPECT_TRUE(m_socket.Bind(address, 0));
    }

    void SendTo(const std::vector<std::uint8_t>& datagram, std::uint16_t port) {
        EXPECT_TRUE(m_socket.SendTo(datagram, {Address(127, 0, 0, 1), port}).Ok());
    }

    // Receive waits up to `timeoutMs` for one datagram; empty when none came.
    std::vector<std::uint8_t> Receive(int timeoutMs) {
        if (platform::WaitSocket(m_socket, platform::WaitFor::Read, nullptr, timeoutMs) !=
            platform::WaitResult::Ready) {
            return {};
        }
        std::array<std::uint8_t, 2048> buffer{};
        const platform::IoResult result = m_socket.ReceiveFrom(buffer, nullptr);
        return {buffer.begin(), buffer.begin() + static_cast<long>(result.bytes)};
    }

private:
    platform::CSocket m_socket;
};

class CRTCPReporterLoopback : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_reporter.Open(0));
        m_port = m_reporter.LocalPort();
        ASSERT_NE(m_port, 0);
        ASSERT_TRUE(m_reporter.Start());
    }

    void TearDown() override {
        m_reporter.RequestStop();
        EXPECT_TRUE(m_reporter.Stop());
    }

    CRtpReceptionStats m_reception;
    CRTCPReporter m_reporter{Address(127, 0, 0, 1), &m_reception};
    std::uint16_t m_port = 0;
    CPeer m_camera{Address(127, 0, 0, 1)};
    CPeer m_stranger{Address(127, 0, 0, 2)};
};

TEST_F(CRTCPReporterLoopback, AnswersTheCamerasSenderReportWithWhatWasReceived) {
    // Packets 10, 11 and 13 of 10 to 13 received: one of four lost.
    m_reception.StartRun(10, false);
    RtpPacketInfo packet;
    for (const std::uint32_t n : {10U, 11U, 13U}) {
        m_reception.OnArrival(packet, 0);
        m_reception.OnSequence(n);
    }
    m_camera.SendTo(SenderReport(), m_port);
    const auto answer = m_camera.Receive(5000);
    ASSERT_EQ(answer.size(), kRtcpAnswerSize);
    EXPECT_EQ(BE32(&answer[4]), m_reporter.Ssrc());
    EXPECT_EQ(BE32(&answer[8]), 0x11223344U);
    EXPECT_EQ(BE32(&answer[12]), 0x40000001U); // a quarter lost since the last report, 1 in all
    EXPECT_EQ(BE32(&answer[16]), 13U);
    EXPECT_EQ(BE32(&answer[24]), 0xA2A3A4A5U);
    EXPECT_LT(BE32(&answer[28]), 65536U); // answered within a second of the report
    EXPECT_EQ(answer[33], 202);
    EXPECT_EQ(answer[41], std::min(m_reporter.Cname().size(), kRtcpCnameCapacity));
}

// SendsFrom127002 tells whether datagrams sent from a socket bound to 127.0.0.2 carry that source
// (Wine binds an address that is not an interface's to every address instead).
bool SendsFrom127002() {
    platform::CSocket probe = platform::CSocket::CreateUdp();
    platform::CSocket stranger = platform::CSocket::CreateUdp();
    if (!probe.Bind(Address(127, 0, 0, 1), 0) || !stranger.Bind(Address(127, 0, 0, 2), 0) ||
        !stranger.SendTo(std::vector<std::uint8_t>{1}, {Address(127, 0, 0, 1), probe.LocalPort()})
                 .Ok() ||
        platform::WaitSocket(probe, platform::WaitFor::Read, nullptr, 2000) !=
                platform::WaitResult::Ready) {
        return false;
    }
    std::array<std::uint8_t, 4> buffer{};
    platform::SocketAddress from{};
    return probe.ReceiveFrom(buffer, &from).Ok() && from.address == Address(127, 0, 0, 2);
}

TEST_F(CRTCPReporterLoopback, IgnoresStrangers) {
    if (!SendsFrom127002()) {
        GTEST_SKIP() << "this system does not send from 127.0.0.2";
    }
    m_stranger.SendTo(SenderReport(), m_port);
    m_stranger.SendTo({0x81, 203, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44}, m_port);
    m_stranger.SendTo({}, m_port);
    EXPECT_TRUE(m_stranger.Receive(300).empty()); // not a reflector
    m_camera.SendTo(SenderReport(), m_port);
    EXPECT_EQ(m_camera.Receive(5000).size(), kRtcpAnswerSize); // and not stopped by them
    EXPECT_TRUE(m_reporter.IsRunning());
}

TEST_F(CRTCPReporterLoopback, CamerasByeEndsTheReporterWithItsOwnBye) {
    m_camera.SendTo(SenderReport(), m_port);
    ASSERT_EQ(m_camera.Receive(5000).size(), kRtcpAnswerSize);
    m_camera.SendTo({0x81, 203, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44}, m_port);
    const auto bye = m_camera.Receive(5000);
    const auto expected = BuildRtcpBye(m_reporter.Ssrc());
    EXPECT_EQ(bye, std::vector<std::uint8_t>(expected.begin(), expected.end()));
    EXPECT_TRUE(m_reporter.Stop());
    EXPECT_FALSE(m_reporter.IsRunning());
}

// Datagrams too short for a report, or malformed, are dropped: the reporter goes on answering. A
// BYE inside a compound packet ends it like a BYE alone.
TEST_F(CRTCPReporterLoopback, ShortOrMalformedDatagramsAreDroppedAndAnsweringGoesOn) {
    for (std::size_t size = 1; size <= 10; ++size) {
        m_camera.SendTo(std::vector<std::uint8_t>(size, 0x81), m_port);
    }
    m_camera.SendTo({0x81, 203, 0x00, 0x05, 0x11, 0x22, 0x33, 0x44}, m_port); // BYE, bad length
    m_camera.SendTo({0x41, 203, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44}, m_port); // BYE, version 1
    m_camera.SendTo(SenderReport(), m_port);
    EXPECT_EQ(m_camera.Receive(5000).size(), kRtcpAnswerSize);
    EXPECT_TRUE(m_reporter.IsRunning());

    std::vector<std::uint8_t> compound = SenderReport();
    compound.insert(compound.end(), {0x81, 203, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44});
    m_camera.SendTo(compound, m_port);
    const auto bye = m_camera.Receive(5000);
    const auto expected = BuildRtcpBye(m_reporter.Ssrc());
    EXPECT_EQ(bye, std::vector<std::uint8_t>(expected.begin(), expected.end()));
    EXPECT_TRUE(m_reporter.Stop());
    EXPECT_FALSE(m_reporter.IsRunning());
}

TEST_F(CRTCPReporterLoopback, StopsPromptlyWithoutTraffic) {
    const auto start = std::chrono::steady_clock::now();
    m_reporter.RequestStop();
    EXPECT_TRUE(m_reporter.Stop());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Far below the half-second a receive time-out loop would need.
    EXPECT_LT(elapsed, std::chrono::milliseconds(400));
    EXPECT_TRUE(m_camera.Receive(100).empty()); // the camera was never heard: no BYE to send
}

TEST(CRTCPReporter, WithoutCameraAddressAnswersNobody) {
    CRTCPReporter reporter;
    ASSERT_TRUE(reporter.Open(0));
    const std::uint16_t port = reporter.LocalPort();
    ASSERT_TRUE(reporter.Start());
    CPeer camera(Address(127, 0, 0, 1));
    camera.SendTo(SenderReport(), port);
    EXPECT_TRUE(camera.Receive(300).empty());
    reporter.RequestStop();
    EXPECT_TRUE(reporter.Stop());
}

TEST(CRTCPReporter, OpenFailsOnAPortInUse) {
    platform::CSocket taken = platform::CSocket::CreateUdp();
    ASSERT_TRUE(taken.Bind(0, 0));
    CRTCPReporter reporter;
    EXPECT_FALSE(reporter.Open(taken.LocalPort()));
}

} // namespace
} // namespace norvane
