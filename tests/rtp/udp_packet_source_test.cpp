#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/h264_rtp_media_parser.h"
#include "rtp/rtp_test_support.h"
#include "rtp/test_packetizer.h"
#include "rtp/udp_packet_source.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using platform::CSocket;
using platform::LoopbackAddress;
using platform::SocketAddress;
using test::Eventually;
using test::RtpDatagram;
using Bytes8 = std::vector<std::uint8_t>;

struct SeenDatagram {
    SocketAddress from;
    Bytes8 bytes;
};

// Records every datagram; answers `moreDue` for each.
class RecordingSink final : public IPacketSink {
public:
    bool OnRtpPacket(std::span<const std::uint8_t> packet, const SocketAddress& from) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_datagrams.push_back({from, Bytes8(packet.begin(), packet.end())});
        return moreDue;
    }

    void OnRtcpPacket(std::span<const std::uint8_t>, const SocketAddress&) override {}

    std::vector<SeenDatagram> Datagrams() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_datagrams;
    }

    std::atomic<bool> moreDue{true};

private:
    mutable std::mutex m_mutex;
    std::vector<SeenDatagram> m_datagrams;
};

TEST(CUDPPacketSource, HandsItsOwnPortsDatagramsToTheSinkAsReceived) {
    RecordingSink sink;
    CUDPPacketSource source;
    EXPECT_EQ(source.Port().BufferSize(), CUDPPacketSource::kDatagramBufferSize);
    const Bytes8 good = RtpDatagram(9, true, {5, 6});
    const SocketAddress from{LoopbackAddress(), 4000};
    const auto length = static_cast<std::int32_t>(good.size());

    EXPECT_FALSE(source.OnReceive(&source.Port(), from, good.data(), length)); // no sink yet
    source.SetSink(&sink);
    CUDPPort other;
    EXPECT_FALSE(source.OnReceive(&other, from, good.data(), length));
    EXPECT_TRUE(source.OnReceive(&source.Port(), from, good.data(), length));
    sink.moreDue = false; // the sink's answer is the port's burst hint
    EXPECT_FALSE(source.OnReceive(&source.Port(), from, good.data(), length));
    const auto datagrams = sink.Datagrams();
    ASSERT_EQ(datagrams.size(), 2U);
    EXPECT_EQ(datagrams[0].bytes, good);
    EXPECT_EQ(datagrams[0].from, from);
}

TEST(CUDPPacketSource, ReceivesOverLoopbackUntilClosed) {
    RecordingSink sink;
    CUDPPacketSource source;
    source.SetSink(&sink);
    ASSERT_TRUE(source.Open(0));
    EXPECT_FALSE(source.Open(0)); // already open
    CSocket sender = CSocket::CreateUdp();
    ASSERT_TRUE(sender.Bind(LoopbackAddress(), 0));
    const SocketAddress to{LoopbackAddress(), source.Port().LocalPort()};
    ASSERT_TRUE(sender.SendTo(RtpDatagram(1, false, {1}), to).Ok());
    ASSERT_TRUE(sender.SendTo(RtpDatagram(2, true, {2, 2}, 0x40), to).Ok()); // judged by the sink
    ASSERT_TRUE(Eventually([&] { return sink.Datagrams().size() >= 2; }, 5s));
    source.Close();
    EXPECT_FALSE(source.Port().IsOpen());
    const auto datagrams = sink.Datagrams();
    ASSERT_EQ(datagrams.size(), 2U);
    EXPECT_EQ(datagrams[1].bytes, RtpDatagram(2, true, {2, 2}, 0x40));
    EXPECT_EQ(datagrams[1].from, (SocketAddress{LoopbackAddress(), sender.LocalPort()}));
}

// The receive path end to end: a real clip sent over loopback, depacketized on the receive
// thread, delivered to the host's allocator and sink.
class ParserFeedingSink final : public IPacketSink {
public:
    explicit ParserFeedingSink(CH264RTPMediaParser& parser) : m_parser(parser) {}

    bool OnRtpPacket(std::span<const std::uint8_t> data, const SocketAddress&) override {
        RtpPacketInfo packet;
        if (!ParseRtpHeader(data, packet)) {
            return false;
        }
        m_parser.OnPacket(&packet);
        return !packet.marker;
    }

    void OnRtcpPacket(std::span<const std::uint8_t>, const SocketAddress&) override {}

private:
    CH264RTPMediaParser& m_parser;
};

TEST(CUDPPacketSource, DeliversAClipThroughTheH264Parser) {
    std::ifstream in(std::string(NORVANE_TEST_DATA_DIR) + "/h264_320x240.h264", std::ios::binary);
    const Bytes8 stream{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto units = test::SplitAccessUnits(test::SplitNalUnits(stream));
    ASSERT_EQ(units.size(), 30U);

    test::FakeDriver driver;
    test::FakeParserClient client;
    CH264RTPMediaParser parser(&driver, "Vantrel");
    parser.SetClient(&client);
    ParserFeedingSink sink(parser);
    CUDPPacketSource source;
    source.SetSink(&sink);
    ASSERT_TRUE(source.Open(0));
    CSocket sender = CSocket::CreateUdp();
    const SocketAddress to{LoopbackAddress(), source.Port().LocalPort()};
    std::uint16_t sequence = 0;
    for (const auto& unit : units) {
        for (const auto& p :
             test::PacketizeAccessUnit(unit, test::ParameterSetMode::InBand, 1400)) {
            ASSERT_TRUE(sender.SendTo(RtpDatagram(sequence++, p.marker, p.payload), to).Ok());
        }
    }
    ASSERT_TRUE(client.sink.WaitForFrames(30, 5s));
    source.Close();
    source.SetSink(nullptr);
    const auto frames = client.sink.Frames();
    EXPECT_EQ(frames[0].fourcc, kFourCCH264);
    EXPECT_EQ(frames[10].fourcc, kFourCCH264);
    EXPECT_EQ(frames[11].fourcc, kFourCCI264);
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);
}

} // namespace
} // namespace norvane
