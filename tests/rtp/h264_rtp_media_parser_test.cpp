#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/h264_rtp_media_parser.h"
#include "rtp/h265_rtp_media_parser.h"
#include "rtp/rtp_test_support.h"
#include "rtp/sps_reader.h"

namespace norvane {
namespace {

using test::Bytes;
using test::Concat;
using test::FakeDriver;
using test::FakeParserClient;
using test::TestPacket;
using Buffer = std::vector<std::uint8_t>;

const Buffer kSps704 = {0x67, 0x42, 0x80, 0x28, 0xDA, 0x02, 0xC0, 0x49, 0x10};
const Buffer kPps = {0x68, 0xCE, 0x3C, 0x80};
const Buffer kStart = {0, 0, 1};
const Buffer kEnd = {0, 0, 1, 0x09, 0x30};

Buffer FuA(std::uint8_t nalHeader, bool start, bool end, const Buffer& data) {
    Buffer p = {
            static_cast<std::uint8_t>((nalHeader & 0xE0) | 28),
            static_cast<std::uint8_t>((start ? 0x80 : 0) | (end ? 0x40 : 0) | (nalHeader & 0x1F))};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

Buffer StapA(const std::vector<Buffer>& units) {
    Buffer p = {0x18};
    for (const Buffer& u : units) {
        p.push_back(static_cast<std::uint8_t>(u.size() >> 8));
        p.push_back(static_cast<std::uint8_t>(u.size() & 0xFF));
        p.insert(p.end(), u.begin(), u.end());
    }
    return p;
}

Buffer Slice(std::uint8_t header, std::size_t length, std::uint8_t fill) {
    Buffer s(length, fill);
    s[0] = header;
    return s;
}

class H264Parser : public ::testing::Test {
protected:
    H264Parser() {
        driver.deviceInfo.address = "10.0.0.5";
        driver.deviceInfo.port = 8080;
        parser.SetClient(&client);
    }

    void Send(const Buffer& payload, bool marker) { SendSeq(m_seq++, payload, marker); }

    void SendSeq(std::uint16_t seq, const Buffer& payload, bool marker) {
        m_seq = static_cast<std::uint16_t>(seq + 1);
        TestPacket packet(seq, marker, payload);
        parser.OnPacket(&packet.info);
    }

    // A complete sync frame: SPS and PPS in a STAP-A, then an IDR slice with the marker.
    void SendSyncFrame() {
        Send(StapA({kSps704, kPps}), false);
        Send(Slice(0x65, 40, 0x11), true);
    }

    Buffer SyncFrameBytes() const {
        return Concat({kStart, kSps704, kStart, kPps, kStart, Slice(0x65, 40, 0x11), kEnd});
    }

    std::size_t Frames() const { return client.sink.FrameCount(); }

    FakeDriver driver;
    FakeParserClient client;
    CH264RTPMediaParser parser{&driver, "Vantrel"};
    std::uint16_t m_seq = 100;
};

TEST_F(H264Parser, FragmentedIdrGetsTheParameterSetsAndIsDeliveredExactly) {
    parser.SetParameterSets(kSps704, kPps);
    const Buffer a(1000, 0xA1);
    const Buffer b(1000, 0xB2);
    const Buffer c(300, 0xC3);
    Send(FuA(0x65, true, false, a), false);
    Send(FuA(0x65, false, false, b), false);
    Send(FuA(0x65, false, true, c), true);

    ASSERT_EQ(Frames(), 1U);
    const test::FrameRecord frame = client.sink.Frames()[0];
    const Buffer unit = Concat({kStart, kSps704, kStart, kPps, kStart, {0x65}, a, b, c});
    EXPECT_EQ(frame.bytes, Concat({unit, kEnd}));
    EXPECT_EQ(frame.fourcc, kFourCCH264);
    EXPECT_EQ(frame.width, 704U);
    EXPECT_EQ(frame.height, 576U);
    EXPECT_EQ(frame.imageSize, 4U);
    const std::string length = std::to_string(unit.size() + 5);
    EXPECT_EQ(frame.calls, (std::vector<std::string>{
                                   "GetBuffer()", "SetWidth(704)", "SetHeight(576)",
                                   "SetImageSize(4)", "SetLength(" + length + ")",
                                   "SetFourCC(" + std::to_string(kFourCCH264) + ")", "Commit()"}));
    const auto allocations = driver.allocator.Allocations();
    ASSERT_EQ(allocations.size(), 1U);
    EXPECT_EQ(allocations[0].fourcc, kFourCCH264);
    EXPECT_EQ(allocations[0].capacity, unit.size() + 5);
    EXPECT_EQ(allocations[0].driverName, "Vantrel");
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);
    EXPECT_EQ(driver.allocator.Released(), 1U);
}

TEST_F(H264Parser, FramesBeforeTheFirstSyncPointAreDroppedWithoutASample) {
    Send(Slice(0x41, 30, 0x22), true);
    EXPECT_EQ(Frames(), 0U);
    EXPECT_TRUE(driver.allocator.Allocations().empty());
    EXPECT_EQ(parser.FrameLength(), 0U);

    SendSyncFrame();
    Send(Slice(0x41, 30, 0x22), true);
    ASSERT_EQ(Frames(), 2U);
    const auto frames = client.sink.Frames();
    EXPECT_EQ(frames[0].bytes, SyncFrameBytes());
    EXPECT_EQ(frames[1].fourcc, kFourCCI264);
    EXPECT_EQ(frames[1].bytes, Concat({kStart, Slice(0x41, 30, 0x22), kEnd}));
    EXPECT_EQ(frames[1].width, 704U); // the size of the last SPS
}

TEST_F(H264Parser, AggregatedParameterSetsWithMarkerDoNotEndTheFrameAndSeiIsLeftOut) {
    const Buffer sei = {0x06, 0x05, 0x01, 0x80};
    const Buffer delimiter = {0x09, 0x10};
    Send(StapA({delimiter, kSps704, kPps, sei}), true);
    EXPECT_EQ(Frames(), 0U);
    Send(Slice(0x65, 40, 0x11), true);
    ASSERT_EQ(Frames(), 1U);
    EXPECT_EQ(client.sink.Frames()[0].bytes, SyncFrameBytes());
}

TEST_F(H264Parser, OnlyAnAggregationEndingInANonIdrUnitEndsTheFrame) {
    // An aggregated IDR slice is taken as ahead of its picture: the marker waits for more.
    Send(StapA({kSps704, kPps, Slice(0x65, 40, 0x11)}), true);
    EXPECT_EQ(Frames(), 0U);
    Send(StapA({Slice(0x41, 10, 1), Slice(0x41, 12, 2)}), true);
    ASSERT_EQ(Frames(), 1U);
    EXPECT_EQ(client.sink.Frames()[0].bytes,
              Concat({kStart, kSps704, kStart, kPps, kStart, Slice(0x65, 40, 0x11), kStart,
                      Slice(0x41, 10, 1), kStart, Slice(0x41, 12, 2), kEnd}));
}

TEST_F(H264Parser, ShortSingleNalUnits) {
    struct Case {
        const char* name;
        Buffer packet;
        bool keepsFrame;
    };

    const std::vector<Case> cases = {
            {"access unit delimiter", {0x09, 0xF0}, true},
            {"end of sequence", {0x0A}, true},
            {"end of stream", {0x0B}, true},
            {"two-byte slice", {0x41, 0x9A}, false},
            {"one-byte SEI", {0x06}, false},
            {"delimiter with forbidden bit", {0x89, 0xF0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SendSyncFrame();
        const std::size_t before = Frames();
        Send(Slice(0x41, 20, 0x33), false);
        Send(c.packet, false);
        Send(Slice(0x41, 20, 0x44), true);
        if (c.keepsFrame) {
            ASSERT_EQ(Frames(), before + 1);
            EXPECT_EQ(client.sink.Frames().back().bytes,
                      Concat({kStart, Slice(0x41, 20, 0x33), kStart, Slice(0x41, 20, 0x44), kEnd}));
            EXPECT_FALSE(parser.WaitingForSync());
        } else {
            EXPECT_EQ(Frames(), before);
            EXPECT_TRUE(parser.WaitingForSync());
        }
    }
}

TEST_F(H264Parser, MalformedOrUnsupportedPacketsDropTheFrame) {
    const std::vector<std::pair<const char*, Buffer>> cases = {
            {"STAP-A with a zero-size unit", Bytes({0x18, 0, 3, 0x41, 1, 2, 0, 0})},
            {"STAP-A unit overruns the payload", Bytes({0x18, 0, 3, 0x41, 1, 2, 0, 9, 0x41, 1})},
            {"STAP-A with one stray byte", Bytes({0x18, 0, 3, 0x41, 1, 2, 7})},
            {"STAP-A too short", Bytes({0x18, 0, 1})},
            {"FU-A too short", Bytes({0x7C, 0x85})},
            {"empty payload", Buffer{}},
            {"type 0", Bytes({0x00, 1, 2, 3})},
            {"STAP-B", Bytes({0x19, 0, 0, 0, 1, 0x41})},
            {"MTAP16", Bytes({0x1A, 1, 2, 3})},
            {"MTAP24", Bytes({0x1B, 1, 2, 3})},
            {"FU-B", Bytes({0x1D, 0x85, 0, 1, 2})},
            {"type 30", Bytes({0x1E, 1, 2, 3})},
            {"type 31", Bytes({0x1F, 1, 2, 3})},
    };
    for (const auto& [name, packet] : cases) {
        SCOPED_TRACE(name);
        SendSyncFrame();
        const std::size_t before = Frames();
        const int damaged = client.damaged;
        Send(Slice(0x41, 20, 0x33), false);
        Send(packet, false);
        EXPECT_EQ(parser.FrameLength(), 0U);
        EXPECT_TRUE(parser.WaitingForSync());
        Send(Slice(0x41, 20, 0x44), true);
        EXPECT_EQ(Frames(), before);            // a P slice after the reset waits for a sync point
        EXPECT_EQ(client.damaged, damaged + 1); // and is counted as damaged, once
    }
}

TEST_F(H264Parser, SequenceNumbers) {
    struct Case {
        const char* name;
        std::vector<std::uint16_t> sequence; // of the three packets of one sync frame
        bool delivered;
    };

    const std::vector<Case> cases = {
            {"wrap", {65535, 0, 1}, true},        {"in order", {10, 11, 12}, true},
            {"lost packet", {10, 11, 13}, false}, {"duplicate", {10, 11, 11}, false},
            {"reordered", {10, 12, 11}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDriver d;
        FakeParserClient client2;
        CH264RTPMediaParser p(&d, "Vantrel");
        p.SetClient(&client2);
        p.SetParameterSets(kSps704, kPps);
        const Buffer parts[3] = {FuA(0x65, true, false, Buffer(50, 1)),
                                 FuA(0x65, false, false, Buffer(50, 2)),
                                 FuA(0x65, false, true, Buffer(50, 3))};
        {
            TestPacket first(65534, false, Bytes({0x09, 0xF0})); // a delimiter before the frame
            p.OnPacket(&first.info);
        }
        for (std::size_t i = 0; i < 3; ++i) {
            TestPacket packet(c.sequence[i], i == 2, parts[i]);
            p.OnPacket(&packet.info);
        }
        EXPECT_EQ(client2.sink.FrameCount(), c.delivered ? 1U : 0U);
    }
}

TEST_F(H264Parser, LossOfAPictureNothingRefersToCostsThatPictureAlone) {
    // Slices with real headers: first_mb_in_slice 0, slice_type 0, pps 0, frame_num of 4 bits.
    const auto picture = [](std::uint8_t nalHeader, std::uint8_t frameNum) {
        Buffer s = Slice(nalHeader, 30, 0x5A);
        s[1] = static_cast<std::uint8_t>(0xE1 | frameNum << 1);
        return s;
    };

    struct Case {
        const char* name;
        std::vector<std::pair<Buffer, bool>> lost; // (payload, marker) of the lost picture
        std::size_t packetsLost;                   // of those, from the front
        std::uint8_t nextFrameNum;                 // of the reference picture after it
        bool delivered;
    };

    const Buffer tail(20, 0x33);
    const std::vector<Case> cases = {
            {"non-reference picture lost", {{picture(0x01, 2), true}}, 1, 2, true},
            {"reference picture lost", {{picture(0x41, 2), true}}, 1, 3, false},
            {"middle of a non-reference picture lost",
             {{FuA(0x01, true, false, picture(0x01, 2)), false},
              {FuA(0x01, false, false, tail), false},
              {FuA(0x01, false, true, tail), true}},
             0,
             2,
             true},
            {"middle of a reference picture lost",
             {{FuA(0x41, true, false, picture(0x41, 2)), false},
              {FuA(0x41, false, false, tail), false},
              {FuA(0x41, false, true, tail), true}},
             0,
             3,
             false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Send(StapA({kSps704, kPps}), false);
        Send(picture(0x65, 0), true); // IDR picture, frame_num 0
        Send(picture(0x41, 1), true); // reference picture, frame_num 1
        for (std::size_t i = 0; i < c.lost.size(); ++i) {
            // A whole picture is lost, or the middle packet of a fragmented one.
            const bool lost = c.packetsLost != 0 ? i < c.packetsLost : i == 1;
            if (lost) {
                ++m_seq;
            } else {
                Send(c.lost[i].first, c.lost[i].second);
            }
        }
        const std::size_t before = Frames();
        const int damaged = client.damaged;
        Send(picture(0x41, c.nextFrameNum), true);
        EXPECT_EQ(Frames(), before + (c.delivered ? 1 : 0));
        EXPECT_EQ(parser.WaitingForSync(), !c.delivered);
        // The cut picture is counted damaged when its end arrives; a picture after a lost
        // reference picture when it is dropped.
        EXPECT_EQ(client.damaged, damaged + (c.delivered ? 0 : 1));
    }
}

TEST_F(H264Parser, OversizedFrameGivesExactlyOneMessageAndIsDropped) {
    SendSyncFrame();
    const Buffer piece = FuA(0x41, false, false, Buffer(60000, 0x55));
    Send(FuA(0x41, true, false, Buffer(10, 0x55)), false);
    std::size_t sent = 0;
    while (sent <= kMaxFrameSize) {
        Send(piece, false);
        sent += piece.size() - 2;
    }
    EXPECT_EQ(parser.FrameLength(), 0U);
    Send(FuA(0x41, false, true, Buffer(10, 0x55)), true);
    EXPECT_EQ(Frames(), 1U);
    const auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].level, 1U);
    EXPECT_EQ(messages[0].text, "norvane::CRTPMediaParser::CheckBufferSize: Frame buffer "
                                "overflow detected, device 10.0.0.5:8080");
    // The parser waits for the next sync point and then delivers again.
    SendSyncFrame();
    EXPECT_EQ(Frames(), 2U);
}

TEST_F(H264Parser, RefusedOrThrowingClientMakesTheNextFrameASyncPoint) {
    for (const auto mode : {test::FakeFrameSink::Mode::Refuse, test::FakeFrameSink::Mode::Throw}) {
        client.sink.SetMode(mode);
        SendSyncFrame();
        EXPECT_TRUE(parser.WaitingForSync());
        client.sink.SetMode(test::FakeFrameSink::Mode::Accept);
        const std::size_t allocations = driver.allocator.Allocations().size();
        Send(Slice(0x41, 30, 0x22), true);
        EXPECT_EQ(driver.allocator.Allocations().size(), allocations);
        const std::size_t before = Frames();
        SendSyncFrame();
        ASSERT_EQ(Frames(), before + 1);
        EXPECT_EQ(client.sink.Frames().back().fourcc, kFourCCH264);
    }
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);
}

TEST_F(H264Parser, MissingHostSamplesDropFramesQuietly) {
    driver.withAllocator = false;
    SendSyncFrame();
    EXPECT_EQ(Frames(), 0U);
    driver.withAllocator = true;
    driver.allocator.FailNext(1);
    SendSyncFrame();
    EXPECT_EQ(Frames(), 0U);
    EXPECT_EQ(driver.allocator.Released(), 0U);
    SendSyncFrame();
    EXPECT_EQ(Frames(), 1U);
    EXPECT_TRUE(driver.Messages().empty());
}

TEST_F(H264Parser, WithoutSdpSetsTheMadeUpPairForTheConfiguredSizeIsUsed) {
    client.size = {1920, 1080};
    Send(FuA(0x65, true, false, Buffer(100, 7)), false);
    Send(FuA(0x65, false, true, Buffer(100, 8)), true);
    ASSERT_EQ(Frames(), 1U);
    const test::FrameRecord frame = client.sink.Frames()[0];
    EXPECT_EQ(frame.fourcc, kFourCCH264);
    EXPECT_EQ(frame.width, 1920U);
    EXPECT_EQ(frame.height, 1080U);
    const Buffer head = Concat({kStart, MakeSps(1920, 1080), kStart, kPps, kStart, {0x65}});
    ASSERT_GT(frame.bytes.size(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), frame.bytes.begin()));
}

TEST_F(H264Parser, WithoutSetsOrUsableSizeAFragmentedIdrCannotStart) {
    for (const bool withClient : {false, true}) {
        SCOPED_TRACE(withClient);
        FakeDriver d;
        FakeParserClient c;
        c.size = {0, 0};
        CH264RTPMediaParser p(&d, "Vantrel");
        if (withClient) {
            p.SetClient(&c);
        }
        TestPacket start(1, false, FuA(0x65, true, false, Buffer(100, 7)));
        p.OnPacket(&start.info);
        EXPECT_EQ(p.FrameLength(), 0U);
        EXPECT_TRUE(p.WaitingForSync());
        EXPECT_TRUE(d.allocator.Allocations().empty());
    }
}

TEST_F(H264Parser, UnreadableSdpSpsIsReplacedByTheMadeUpPair) {
    parser.SetParameterSets(Bytes({0x67, 0x42}), Bytes({0x68, 0x01}));
    EXPECT_EQ(parser.Sps(), kSps704);
    EXPECT_EQ(parser.Pps(), kPps);
    parser.SetParameterSets(MakeSps(1280, 720), Bytes({0x68, 0x01}));
    EXPECT_EQ(parser.Sps(), MakeSps(1280, 720));
    EXPECT_EQ(parser.Pps(), Bytes({0x68, 0x01}));
    EXPECT_EQ(parser.Width(), 1280U);
    parser.SetParameterSets({}, kPps); // ignored
    EXPECT_EQ(parser.Sps(), MakeSps(1280, 720));
}

TEST_F(H264Parser, SpsFarIntoTheAccessUnitIsNotASyncPoint) {
    SendSyncFrame();
    Send(StapA({Slice(0x41, 66, 0x01), kSps704, kPps}), false);
    Send(Slice(0x65, 20, 2), true);
    ASSERT_EQ(Frames(), 2U);
    EXPECT_EQ(client.sink.Frames()[1].fourcc, kFourCCI264);
}

// H.265 (RFC 7798): parameter sets of a 320x240 libx265 stream; NAL units with two-byte headers.
const Buffer kH265Vps = {0x40, 0x01, 0x0C, 0x01, 0xFF, 0xFF, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00,
                         0x90, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x3C, 0x92, 0x80, 0x90};
const Buffer kH265Sps = {0x42, 0x01, 0x01, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00, 0x90, 0x00,
                         0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x3C, 0xA0, 0x0A, 0x08, 0x0F,
                         0x16, 0x59, 0x2A, 0x49, 0x32, 0xBC, 0x05, 0xA0, 0x20, 0x00, 0x00,
                         0x03, 0x00, 0x20, 0x00, 0x00, 0x03, 0x01, 0x41};
const Buffer kH265Sps1916 = {0x42, 0x01, 0x01, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00, 0x90, 0x00,
                             0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x78, 0xA0, 0x03, 0xC0, 0x80,
                             0x10, 0xE7, 0x77, 0x96, 0x56, 0x69, 0x24, 0xCA, 0xF0};
const Buffer kH265Pps = {0x44, 0x01, 0xC1, 0x72, 0xB4, 0x62, 0x40};
const Buffer kH265Aud = {0x46, 0x01, 0x50};

// Nal: a unit of `type` whose first payload byte starts a picture (first slice) or not.
Buffer Nal(std::uint8_t type, std::size_t length, bool firstSlice = true) {
    Buffer n(length, static_cast<std::uint8_t>(0x20 + type));
    n[0] = static_cast<std::uint8_t>(type << 1);
    n[1] = 0x01;
    n[2] = firstSlice ? 0x80 : 0x00;
    return n;
}

Buffer H265Fu(const Buffer& nal, std::size_t from, std::size_t to, bool start, bool end) {
    Buffer p = {static_cast<std::uint8_t>((nal[0] & 0x81) | (49 << 1)), nal[1],
                static_cast<std::uint8_t>((start ? 0x80 : 0) | (end ? 0x40 : 0) | (nal[0] >> 1))};
    p.insert(p.end(), nal.begin() + static_cast<std::ptrdiff_t>(from),
             nal.begin() + static_cast<std::ptrdiff_t>(to));
    return p;
}

Buffer H265Ap(const std::vector<Buffer>& units) {
    Buffer p = {48 << 1, 0x01};
    for (const Buffer& u : units) {
        p.push_back(static_cast<std::uint8_t>(u.size() >> 8));
        p.push_back(static_cast<std::uint8_t>(u.size() & 0xFF));
        p.insert(p.end(), u.begin(), u.end());
    }
    return p;
}

class H265Parser : public ::testing::Test {
protected:
    H265Parser() { parser.SetClient(&client); }

    void Send(const Buffer& payload, bool marker) {
        TestPacket packet(m_seq++, marker, payload);
        parser.OnPacket(&packet.info);
    }

    // An IDR picture in three fragments after the delimiter and (in band) the parameter sets.
    void SendIrap(bool withSets, std::uint8_t type = 19) {
        Send(withSets ? H265Ap({kH265Aud, kH265Vps, kH265Sps, kH265Pps}) : kH265Aud, false);
        const Buffer idr = Nal(type, 3000);
        Send(H265Fu(idr, 2, 1000, true, false), false);
        Send(H265Fu(idr, 1000, 2000, false, false), false);
        Send(H265Fu(idr, 2000, 3000, false, true), true);
    }

    Buffer IrapBytes(std::uint8_t type = 19) const {
        return Concat({kStart, kH265Aud, kStart, kH265Vps, kStart, kH265Sps, kStart, kH265Pps,
                       kStart, Nal(type, 3000)});
    }

    void SendP() {
        Send(kH265Aud, false);
        Send(Nal(1, 200), true);
    }

    std::size_t Frames() const { return client.sink.FrameCount(); }

    FakeDriver driver;
    FakeParserClient client;
    CH265RTPMediaParser parser{&driver, "Vantrel"};
    std::uint16_t m_seq = 65530;
};

TEST_F(H265Parser, IrapPicturesGetTheStoredSetsAfterTheDelimiterAndAreSyncPoints) {
    SendIrap(false); // no sets yet: nothing can decode, nothing is delivered
    SendP();
    EXPECT_EQ(Frames(), 0U);
    EXPECT_TRUE(driver.allocator.Allocations().empty());

    ASSERT_TRUE(parser.SetParameterSets(kH265Vps, kH265Sps, kH265Pps));
    const std::uint8_t types[] = {19, 20, 21, 16}; // IDR, CRA and BLA pictures
    for (const std::uint8_t type : types) {
        SendIrap(false, type);
        SendP();
    }
    const auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), 8U);
    EXPECT_EQ(frames[0].bytes, IrapBytes());
    EXPECT_EQ(frames[0].fourcc, kFourCCH265);
    EXPECT_EQ(frames[0].width, 320U);
    EXPECT_EQ(frames[0].height, 240U);
    EXPECT_EQ(frames[0].calls.back(), "Commit()");
    EXPECT_EQ(frames[1].bytes, Concat({kStart, kH265Aud, kStart, Nal(1, 200)}));
    EXPECT_EQ(frames[1].fourcc, kFourCCI265);
    EXPECT_EQ(frames[6].bytes, IrapBytes(16));
    EXPECT_EQ(driver.allocator.Allocations()[0].capacity, IrapBytes().size());
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);
}

TEST_F(H265Parser, InBandSetsMakeASyncPointAndReplaceTheStoredOnes) {
    ASSERT_TRUE(parser.SetParameterSets(kH265Vps, kH265Sps1916, kH265Pps));
    SendIrap(true); // a marker on the aggregated sets would not end the frame either
    SendIrap(false);
    const auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0].bytes, IrapBytes());
    EXPECT_EQ(frames[1].bytes, IrapBytes()); // the in-band sets, not those of the SDP
    EXPECT_EQ(frames[1].width, 320U);
    EXPECT_EQ(parser.Sps(), kH265Sps);
}

TEST_F(H265Parser, DamagedFramesAreNeverDelivered) {
    const Buffer p = Nal(1, 1500);
    const std::vector<std::pair<const char*, std::vector<std::pair<Buffer, bool>>>> cases = {
            {"fragment without its start", {{H265Fu(p, 700, 1500, false, true), true}}},
            {"start without an end, then a new start",
             {{H265Fu(p, 2, 700, true, false), false},
              {H265Fu(p, 2, 700, true, false), false},
              {H265Fu(p, 700, 1500, false, true), true}}},
            {"marker inside a fragmented unit",
             {{H265Fu(p, 2, 700, true, false), false}, {H265Fu(p, 700, 1500, false, false), true}}},
            {"single unit inside a fragmented unit",
             {{H265Fu(p, 2, 700, true, false), false},
              {Nal(1, 20, false), false},
              {H265Fu(p, 700, 1500, false, true), true}}},
            {"fragment of another unit type",
             {{H265Fu(p, 2, 700, true, false), false},
              {H265Fu(Nal(2, 1500), 700, 1500, false, true), true}}},
            {"start and end in one fragment", {{H265Fu(p, 2, 1500, true, true), true}}},
            {"fragment of an aggregation", {{H265Fu(Nal(48, 50), 2, 50, true, true), true}}},
            {"aggregated unit overruns", {{Bytes({0x60, 1, 0, 9, 0x02, 1, 0x80}), true}}},
            {"aggregated unit of one byte",
             {{Bytes({0x60, 1, 0, 1, 0x02, 0, 3, 2, 1, 0x80}), true}}},
            {"empty aggregation", {{Bytes({0x60, 1}), true}}},
            {"forbidden bit", {{Bytes({0x82, 1, 0x80, 5}), true}}},
            {"temporal id 0", {{Bytes({0x02, 0, 0x80, 5}), true}}},
            {"two-byte slice", {{Bytes({0x02, 1}), true}}},
            {"PACI packet", {{Bytes({0x64, 1, 0, 0, 0x02, 1, 0x80}), true}}},
    };
    ASSERT_TRUE(parser.SetParameterSets(kH265Vps, kH265Sps, kH265Pps));
    for (const auto& [name, packets] : cases) {
        SCOPED_TRACE(name);
        SendIrap(false);
        const std::size_t before = Frames();
        Send(kH265Aud, false);
        for (const auto& [payload, marker] : packets) {
            Send(payload, marker);
        }
        SendP(); // out of step: waits for the next IRAP picture
        EXPECT_EQ(Frames(), before);
        EXPECT_TRUE(parser.WaitingForSync());
    }
    SendIrap(false);
    EXPECT_EQ(client.sink.Frames().back().bytes, IrapBytes());
}

TEST_F(H265Parser, LossResetsAndOnlyACompleteIrapPictureResumes) {
    ASSERT_TRUE(parser.SetParameterSets(kH265Vps, kH265Sps, kH265Pps));
    SendIrap(false);
    SendP();
    m_seq += 2; // the start of the next IRAP picture is lost
    Send(H265Fu(Nal(19, 3000), 1000, 2000, false, false), false);
    Send(H265Fu(Nal(19, 3000), 2000, 3000, false, true), true);
    Send(Nal(19, 100, false), true); // a later slice of an IRAP picture does not start one
    SendP();
    EXPECT_EQ(Frames(), 2U);
    SendIrap(true);
    SendP();
    EXPECT_EQ(Frames(), 4U);
}

TEST_F(H265Parser, EndOfSequenceAndAggregatedSlicesKeepTheFrame) {
    ASSERT_TRUE(parser.SetParameterSets(kH265Vps, kH265Sps, kH265Pps));
    SendIrap(false);
    Send(H265Ap({kH265Aud, Nal(1, 30), Nal(1, 40, false)}), false);
    Send(Bytes({36 << 1, 1}), true); // end of sequence: a unit without payload
    ASSERT_EQ(Frames(), 2U);
    EXPECT_EQ(client.sink.Frames()[1].bytes,
              Concat({kStart, kH265Aud, kStart, Nal(1, 30), kStart, Nal(1, 40, false), kStart,
                      Bytes({36 << 1, 1})}));
}

TEST_F(H265Parser, SessionSetsThatDoNotReadAreRefused) {
    EXPECT_FALSE(parser.SetParameterSets(kH265Vps, Bytes({0x42, 0x01, 0x01}), kH265Pps));
    EXPECT_FALSE(parser.SetParameterSets({}, kH265Sps, kH265Pps));
    EXPECT_FALSE(parser.SetParameterSets(kH265Pps, kH265Sps, kH265Vps)); // swapped
    EXPECT_TRUE(parser.Sps().empty());
}

} // namespace
} // namespace norvane
