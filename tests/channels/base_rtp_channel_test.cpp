// The RTP channel as the sink of its packet source: packets pushed through an in-memory source (no
// socket, no receive thread) must come out as the same frames the parser makes of them alone.
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "channels/base_rtp_channel.h"
#include "platform/socket.h"
#include "rtp/h264_rtp_media_parser.h"
#include "rtp/rtp_test_support.h"
#include "rtp/sender_lock.h"
#include "rtp/test_packetizer.h"
#include "support/fake_driver.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using platform::LoopbackAddress;
using platform::SocketAddress;
using test::Bytes8;
using test::RtpDatagram;

// A packet source in memory: Push hands one datagram to the sink on the caller's thread, as a
// transport's receive thread would.
class CMemoryPacketSource final : public IPacketSource {
public:
    void SetSink(IPacketSink* sink) override { m_sink = sink; }

    bool Open(std::uint16_t localPort) override {
        openedPort = localPort;
        m_open = true;
        return true;
    }

    void Close() override { m_open = false; }

    // Push returns the sink's burst hint; false when closed or without a sink.
    bool Push(const Bytes8& datagram, const SocketAddress& from) {
        return m_open && m_sink != nullptr && m_sink->OnRtpPacket(datagram, from);
    }

    std::uint16_t openedPort = 0;

private:
    IPacketSink* m_sink = nullptr;
    bool m_open = false;
};

// An H.264 channel without a camera protocol whose transport is the in-memory source.
class MemoryFedChannel final : public CBaseRTPChannel {
public:
    MemoryFedChannel(IDriver* driver, IFrameSink* sink)
        : CBaseRTPChannel(driver, 0, sink)
        , m_parser(driver, "Vantrel") {
        m_parser.SetClient(this);
    }

    ~MemoryFedChannel() override { Stop(); }

    bool ConfigureCamera() override { return true; }

    void SendKeepAlive() override {}

    void FeedParser(const RtpPacketInfo* packet) override { m_parser.OnPacket(packet); }

    std::unique_ptr<IPacketSource> CreatePacketSource() override {
        auto created = std::make_unique<CMemoryPacketSource>();
        source = created.get();
        return created;
    }

    // The port search watches every UDP port for two seconds; the memory source has no ports.
    bool OpenPorts() override { return m_source->Open(kFirstRtpPort); }

    using CBaseRTPChannel::Connect;

    CMemoryPacketSource* source = nullptr;

private:
    CH264RTPMediaParser m_parser;
};

TEST(CBaseRTPChannel, FramesFromAnInMemorySourceMatchTheParsersOwnAndStrangersAreDropped) {
    std::ifstream in(std::string(NORVANE_TEST_DATA_DIR) + "/h264_320x240.h264", std::ios::binary);
    const Bytes8 stream{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto units = test::SplitAccessUnits(test::SplitNalUnits(stream));
    ASSERT_EQ(units.size(), 30U);
    std::vector<test::RtpPayload> payloads;
    for (const auto& unit : units) {
        for (auto& p : test::PacketizeAccessUnit(unit, test::ParameterSetMode::InBand, 1400)) {
            payloads.push_back(std::move(p));
        }
    }

    // What the parser alone makes of the stream.
    test::FakeDriver direct;
    test::FakeParserClient client;
    CH264RTPMediaParser parser(&direct, "Vantrel");
    parser.SetClient(&client);
    std::uint16_t sequence = 65500; // wraps within the clip
    for (const auto& p : payloads) {
        test::TestPacket packet(sequence++, p.marker, p.payload);
        parser.OnPacket(&packet.info);
    }
    const auto expected = client.sink.Frames();
    ASSERT_EQ(expected.size(), 30U);

    test::FakeDriver driver;
    driver.deviceInfo.address = "127.0.0.1";
    test::FakeFrameSink sink;
    MemoryFedChannel channel(&driver, &sink);
    ASSERT_TRUE(channel.Connect());
    ASSERT_NE(channel.source, nullptr);
    EXPECT_EQ(channel.source->openedPort, kFirstRtpPort);

    const SocketAddress camera{LoopbackAddress(), 5000};
    const SocketAddress stranger{LoopbackAddress() ^ 0x01000000U, 5000}; // another host
    sequence = 65500;
    for (const auto& p : payloads) {
        const Bytes8 datagram = RtpDatagram(sequence++, p.marker, p.payload);
        // A stranger's copy would break the sequence and lose frames if it reached the parser.
        channel.source->Push(datagram, stranger);
        // The burst hint: more of the frame is due until the marker.
        EXPECT_EQ(channel.source->Push(datagram, camera), !p.marker);
        // Neither an RTP version 1 datagram nor a bare header reaches the parser.
        EXPECT_FALSE(
                channel.source->Push(RtpDatagram(sequence, false, {0x41, 1, 2}, 0x40), camera));
        EXPECT_FALSE(channel.source->Push(RtpDatagram(sequence, false, {}), camera));
    }
    const auto frames = sink.Frames();
    ASSERT_EQ(frames.size(), expected.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].fourcc, expected[i].fourcc);
        EXPECT_EQ(frames[i].width, expected[i].width);
        EXPECT_EQ(frames[i].bytes, expected[i].bytes);
    }
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);
}

// Which sender's packets belong to the session: strays before the media is expected stay out, then
// the announced sender (or the first allowed one) is locked on.
TEST(CSenderLock, AdmitsOnlyTheSessionsSender) {
    const std::uint32_t camera = LoopbackAddress();
    const std::uint32_t other = camera ^ 0x01000000U;
    // The packet's SSRC as its four bytes stand (big-endian) in a 32-bit word.
    const auto wire = [](std::uint32_t ssrc) {
        const std::uint8_t bytes[4] = {
                static_cast<std::uint8_t>(ssrc >> 24), static_cast<std::uint8_t>(ssrc >> 16),
                static_cast<std::uint8_t>(ssrc >> 8), static_cast<std::uint8_t>(ssrc)};
        std::uint32_t word = 0;
        std::memcpy(&word, bytes, sizeof word);
        return word;
    };

    struct Step {
        SocketAddress from;
        std::uint32_t ssrc;
        bool admitted;
    };

    struct Case {
        const char* name;
        std::optional<std::uint16_t> port;
        std::optional<std::uint32_t> ssrc;
        std::vector<Step> steps; // after one stray of {camera, 6000} with SSRC 7
    };

    const std::vector<Case> cases = {
            {"announced port",
             6970,
             {},
             {{{camera, 6000}, 9, false}, // not the announced port
              {{other, 6970}, 9, false},  // not the camera
              {{camera, 6970}, 9, true},
              {{camera, 6970}, 10, true}, // the locked sender restarted its encoder
              {{camera, 6971}, 9, false},
              {{camera, 6970}, 9, true}}},
            {"announced SSRC",
             {},
             0xAABBCCDD,
             {{{camera, 6000}, 9, false},
              {{camera, 6002}, 0xAABBCCDD, true},
              {{camera, 6000}, 0xAABBCCDD, false}}},
            {"first sender",
             {},
             {},
             {{{camera, 6000}, 7, false}, // the stray's packets stay out after the start
              {{camera, 6000}, 8, true},  // a new session from the same server port
              {{camera, 6000}, 7, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSenderLock lock;
        EXPECT_FALSE(lock.Admit({camera, 6000}, wire(7)));
        EXPECT_TRUE(lock.StraysSeen());
        ExpectedSender expected;
        expected.addresses[0] = camera;
        expected.port = c.port;
        expected.ssrc = c.ssrc;
        lock.Expect(expected);
        std::uint64_t dropped = 1;
        for (const Step& step : c.steps) {
            EXPECT_EQ(lock.Admit(step.from, wire(step.ssrc)), step.admitted)
                    << step.from.port << " " << step.ssrc;
            dropped += step.admitted ? 0 : 1;
        }
        EXPECT_EQ(lock.ForeignPackets(), dropped);
        lock.Reset();
        EXPECT_FALSE(lock.StraysSeen());
    }
}

// A camera named by host name behind a dead resolver: the stop ends the lookup at once instead of
// waiting it out.
TEST(CBaseRTPChannel, StopEndsALookupThatHangs) {
    test::HangingNameLookup resolver(LoopbackAddress());
    test::FakeDriver driver;
    driver.deviceInfo.address = "camera.test";
    test::FakeFrameSink sink;
    MemoryFedChannel channel(&driver, &sink);
    ChannelStartRecord record{40, 50, 320, 240};
    ASSERT_TRUE(channel.Start(&record));
    ASSERT_TRUE(test::Eventually([&] { return resolver.Entered() > 0; }, std::chrono::seconds(5)));
    const auto start = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

} // namespace
} // namespace norvane
