#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/h264_rtp_media_parser.h"
#include "rtp/rtp_receiver.h"
#include "rtp/rtp_test_support.h"
#include "rtp/test_packetizer.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using platform::CSocket;
using platform::LoopbackAddress;
using platform::SocketAddress;
using test::Eventually;
using Bytes8 = std::vector<std::uint8_t>;

struct SeenPacket {
    SocketAddress from;
    std::uint16_t sequence = 0;
    bool marker = false;
    Bytes8 payload;
};

class RecordingReceiverUser : public IRTPReceiverUser {
public:
    void OnRtpPacket(CRTPReceiver*, const SocketAddress& from,
                     const RtpPacketInfo* packet) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto payload = packet->Payload();
        m_packets.push_back({from, packet->sequenceNumber, packet->marker,
                             Bytes8(payload.begin(), payload.end())});
    }

    void OnTimeout() override { ++timeouts; }

    void OnClosed(CRTPReceiver*) override { ++closed; }

    std::vector<SeenPacket> Packets() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_packets;
    }

    std::atomic<int> timeouts{0};
    std::atomic<int> closed{0};

private:
    mutable std::mutex m_mutex;
    std::vector<SeenPacket> m_packets;
};

Bytes8 Rtp(std::uint16_t sequence, bool marker, const Bytes8& payload, std::uint8_t first = 0x80) {
    const std::uint8_t header[12] = {first,
                                     static_cast<std::uint8_t>((marker ? 0x80 : 0) | 96),
                                     static_cast<std::uint8_t>(sequence >> 8),
                                     static_cast<std::uint8_t>(sequence & 0xFF),
                                     0,
                                     0,
                                     0,
                                     1,
                                     1,
                                     2,
                                     3,
                                     4};
    Bytes8 d = payload;
    d.insert(d.begin(), std::begin(header), std::end(header));
    return d;
}

TEST(CRTPReceiver, ForwardsOnlyRtpFromItsOwnPort) {
    RecordingReceiverUser user;
    CRTPReceiver receiver;
    EXPECT_EQ(receiver.Port().BufferSize(), CRTPReceiver::kDatagramBufferSize);
    const Bytes8 good = Rtp(9, true, {5, 6});
    const SocketAddress from{LoopbackAddress(), 4000};

    receiver.OnReceive(&receiver.Port(), from, good.data(), static_cast<std::int32_t>(good.size()));
    receiver.SetUser(&user);
    CUDPPort other;
    receiver.OnReceive(&other, from, good.data(), static_cast<std::int32_t>(good.size()));
    const Bytes8 headerOnly = Rtp(10, false, {});
    receiver.OnReceive(&receiver.Port(), from, headerOnly.data(),
                       static_cast<std::int32_t>(headerOnly.size()));
    receiver.OnReceive(&receiver.Port(), from, good.data(), static_cast<std::int32_t>(good.size()));
    const auto packets = user.Packets();
    ASSERT_EQ(packets.size(), 1U);
    EXPECT_EQ(packets[0].sequence, 9);
    EXPECT_TRUE(packets[0].marker);
    EXPECT_EQ(packets[0].payload, (Bytes8{5, 6}));
    EXPECT_EQ(packets[0].from, from);

    receiver.OnTimeout();
    receiver.OnClosed(&receiver.Port());
    EXPECT_EQ(user.timeouts.load(), 1);
    EXPECT_EQ(user.closed.load(), 1);
}

TEST(CRTPReceiver, ReceivesPacketsOverLoopback) {
    RecordingReceiverUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_EQ(receiver.Port().Open(0), UdpOpenResult::Opened);
    CSocket sender = CSocket::CreateUdp();
    ASSERT_TRUE(sender.Bind(LoopbackAddress(), 0));
    const SocketAddress to{LoopbackAddress(), receiver.Port().LocalPort()};
    ASSERT_TRUE(sender.SendTo(Rtp(1, false, {1}), to).Ok());
    ASSERT_TRUE(sender.SendTo(Rtp(2, false, {2}, 0x40), to).Ok()); // version 1: dropped
    ASSERT_TRUE(sender.SendTo(Rtp(3, true, {3, 3}), to).Ok());
    ASSERT_TRUE(Eventually([&] { return user.Packets().size() >= 2; }, 5s));
    const auto packets = user.Packets();
    ASSERT_EQ(packets.size(), 2U);
    EXPECT_EQ(packets[0].sequence, 1);
    EXPECT_EQ(packets[1].sequence, 3);
    EXPECT_EQ(packets[1].from, (SocketAddress{LoopbackAddress(), sender.LocalPort()}));
    receiver.Port().Close();
    EXPECT_EQ(user.closed.load(), 1);
}

// The receive path end to end: a real clip sent over loopback, depacketized on the receive
// thread, delivered to the host's allocator and sink.
class ParserFeedingUser : public IRTPReceiverUser {
public:
    explicit ParserFeedingUser(CH264RTPMediaParser& parser) : m_parser(parser) {}

    void OnRtpPacket(CRTPReceiver*, const SocketAddress&, const RtpPacketInfo* packet) override {
        m_parser.OnPacket(packet);
    }

    void OnTimeout() override {}

    void OnClosed(CRTPReceiver*) override {}

private:
    CH264RTPMediaParser& m_parser;
};

TEST(CRTPReceiver, DeliversAClipThroughTheH264Parser) {
    std::ifstream in(std::string(NORVANE_TEST_DATA_DIR) + "/h264_320x240.h264", std::ios::binary);
    const Bytes8 stream{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto units = test::SplitAccessUnits(test::SplitNalUnits(stream));
    ASSERT_EQ(units.size(), 30U);

    test::FakeDriver driver;
    test::FakeParserClient client;
    CH264RTPMediaParser parser(&driver, "Vantrel");
    parser.SetClient(&client);
    ParserFeedingUser user(parser);
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_EQ(receiver.Port().Open(0), UdpOpenResult::Opened);
    CSocket sender = CSocket::CreateUdp();
    const SocketAddress to{LoopbackAddress(), receiver.Port().LocalPort()};
    std::uint16_t sequence = 0;
    for (const auto& unit : units) {
        for (const auto& p :
             test::PacketizeAccessUnit(unit, test::ParameterSetMode::InBand, 1400)) {
            ASSERT_TRUE(sender.SendTo(Rtp(sequence++, p.marker, p.payload), to).Ok());
        }
    }
    ASSERT_TRUE(client.sink.WaitForFrames(30, 5s));
    receiver.Port().Close();
    receiver.SetUser(nullptr);
    const auto frames = client.sink.Frames();
    EXPECT_EQ(frames[0].fourcc, kFourCCH264);
    EXPECT_EQ(frames[10].fourcc, kFourCCH264);
    EXPECT_EQ(frames[11].fourcc, kFourCCI264);
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);
}

} // namespace
} // namespace norvane
