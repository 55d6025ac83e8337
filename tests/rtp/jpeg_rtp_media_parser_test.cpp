#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/jpeg_header.h"
#include "rtp/jpeg_rtp_media_parser.h"
#include "rtp/rtp_test_support.h"

namespace norvane {
namespace {

using test::Concat;
using test::FakeDriver;
using test::FakeParserClient;
using test::TestPacket;
using Buffer = std::vector<std::uint8_t>;

// RTP/JPEG main header (RFC 2435 3.1).
Buffer MainHeader(std::uint32_t offset, std::uint8_t type, std::uint8_t q, std::uint8_t w8,
                  std::uint8_t h8) {
    return {0,
            static_cast<std::uint8_t>(offset >> 16),
            static_cast<std::uint8_t>(offset >> 8),
            static_cast<std::uint8_t>(offset),
            type,
            q,
            w8,
            h8};
}

Buffer TableHeader(std::uint8_t precision, std::uint16_t length) {
    return {0, precision, static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length & 0xFF)};
}

// Scan bytes that never end with an end-of-image marker.
Buffer Scan(std::size_t length, std::uint8_t seed) {
    Buffer s(length);
    for (std::size_t i = 0; i < length; ++i) {
        s[i] = static_cast<std::uint8_t>((seed + i * 7) % 0xF0);
    }
    return s;
}

// Offset of the first marker FF `marker` in `bytes`, or npos.
std::size_t FindMarker(const Buffer& bytes, std::uint8_t marker) {
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == marker) {
            return i;
        }
    }
    return std::string::npos;
}

class JpegParser : public ::testing::Test {
protected:
    JpegParser() {
        driver.deviceInfo.address = "cam.local";
        driver.deviceInfo.port = 80;
        parser.SetClient(&client);
    }

    void Send(const Buffer& payload, bool marker) {
        TestPacket packet(m_seq++, marker, payload);
        parser.OnPacket(&packet.info);
    }

    std::vector<test::FrameRecord> Frames() const { return client.sink.Frames(); }

    FakeDriver driver;
    FakeParserClient client;
    CJpegRTPMediaParser parser{&driver, "Vantrel"};
    std::uint16_t m_seq = 7;
};

TEST_F(JpegParser, OnePacketPictureIsDeliveredAsACompleteJpeg) {
    const Buffer scan = Scan(1000, 3);
    Send(Concat({MainHeader(0, 1, 50, 88, 72), scan}), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1U);
    const test::FrameRecord& f = frames[0];
    EXPECT_EQ(f.fourcc, kFourCCJpeg);
    EXPECT_EQ(f.width, 704U);
    EXPECT_EQ(f.height, 576U);
    EXPECT_EQ(f.imageSize, 4U);
    ASSERT_EQ(f.bytes.size(), kJpegBaseHeaderSize + scan.size() + 2);
    EXPECT_EQ(Buffer(f.bytes.begin(), f.bytes.begin() + 7),
              (Buffer{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00}));
    const std::size_t sof = FindMarker(f.bytes, 0xC0);
    ASSERT_EQ(sof, 140U);
    EXPECT_EQ(Buffer(f.bytes.begin() + 140, f.bytes.begin() + 159),
              (Buffer{0xFF, 0xC0, 0, 17, 8, 0x02, 0x40, 0x02, 0xC0, 3, 0, 0x22, 0, 1, 0x11, 1, 2,
                      0x11, 1}));
    EXPECT_EQ(Buffer(f.bytes.begin() + 591, f.bytes.begin() + 605),
              (Buffer{0xFF, 0xDA, 0, 12, 3, 0, 0, 1, 0x11, 2, 0x11, 0, 0x3F, 0}));
    EXPECT_TRUE(std::equal(scan.begin(), scan.end(), f.bytes.begin() + 605));
    EXPECT_EQ(Buffer(f.bytes.end() - 2, f.bytes.end()), (Buffer{0xFF, 0xD9}));
    EXPECT_EQ(f.calls, (std::vector<std::string>{"GetBuffer()", "SetLength(1607)", "SetWidth(704)",
                                                 "SetHeight(576)", "SetImageSize(4)", "Commit()"}));
    const auto allocations = driver.allocator.Allocations();
    ASSERT_EQ(allocations.size(), 1U);
    EXPECT_EQ(allocations[0].fourcc, kFourCCJpeg);
    EXPECT_EQ(allocations[0].capacity, 8 + scan.size() + 1024);
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);
}

TEST_F(JpegParser, SamplingFollowsTheType) {
    for (const auto& [type, sampling] :
         std::vector<std::pair<std::uint8_t, std::uint8_t>>{{0, 0x21}, {1, 0x22}, {7, 0x22}}) {
        SCOPED_TRACE(type);
        const std::size_t before = Frames().size();
        Send(Concat({MainHeader(0, type, 50, 40, 30), Scan(700, type)}), true);
        ASSERT_EQ(Frames().size(), before + 1);
        EXPECT_EQ(Frames().back().bytes[151], sampling);
    }
}

TEST_F(JpegParser, ScanAlreadyEndingInEndOfImageIsNotExtended) {
    const Buffer scan = Concat({Scan(800, 1), {0xFF, 0xD9}});
    Send(Concat({MainHeader(0, 1, 50, 40, 30), scan}), true);
    ASSERT_EQ(Frames().size(), 1U);
    EXPECT_EQ(Frames()[0].bytes.size(), kJpegBaseHeaderSize + scan.size());
}

TEST(MakeQuantTables, FollowTheQScale) {
    QuantTable luma{};
    QuantTable chroma{};
    MakeQuantTables(50, luma, chroma);
    EXPECT_EQ(Buffer(luma.begin(), luma.begin() + 8), (Buffer{16, 11, 12, 14, 12, 10, 16, 14}));
    EXPECT_EQ(Buffer(chroma.begin(), chroma.begin() + 8), (Buffer{17, 18, 18, 24, 21, 24, 47, 26}));
    QuantTable luma99{};
    QuantTable chroma99{};
    MakeQuantTables(99, luma99, chroma99);
    MakeQuantTables(100, luma, chroma);
    EXPECT_EQ(luma, luma99);
    EXPECT_EQ(chroma, chroma99);
    EXPECT_EQ(luma[0], 1); // (16 * 2 + 50) / 100 clamped to at least 1
    MakeQuantTables(0, luma, chroma);
    EXPECT_TRUE(std::all_of(luma.begin(), luma.end(), [](std::uint8_t v) { return v == 255; }));
    EXPECT_TRUE(std::all_of(chroma.begin(), chroma.end(), [](std::uint8_t v) { return v == 255; }));
    MakeQuantTables(25, luma, chroma); // scale 200
    EXPECT_EQ(luma[0], 32);
    EXPECT_EQ(luma[1], 22);
}

TEST_F(JpegParser, InBandTablesAreCopiedAndTheScanFollowsThem) {
    Buffer tables(128);
    for (std::size_t i = 0; i < tables.size(); ++i) {
        tables[i] = static_cast<std::uint8_t>(i + 1);
    }
    const Buffer scan = Scan(900, 5);
    Send(Concat({MainHeader(0, 1, 255, 40, 30), TableHeader(0, 128), tables, scan}), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1U);
    const Buffer& b = frames[0].bytes;
    EXPECT_TRUE(std::equal(tables.begin(), tables.begin() + 64, b.begin() + 7));
    EXPECT_TRUE(std::equal(tables.begin() + 64, tables.end(), b.begin() + 76));
    EXPECT_TRUE(std::equal(scan.begin(), scan.end(), b.begin() + 605));
    EXPECT_EQ(b.size(), 605 + scan.size() + 2);
}

TEST_F(JpegParser, TableHeaderIsHonoured) {
    const Buffer tables8(128, 9);
    const Buffer scan = Scan(900, 2);

    struct Case {
        const char* name;
        Buffer payload;
        bool delivered;
    };

    // 16-bit luminance table: 128 bytes, then a 64-byte chrominance table.
    Buffer tables16(192, 0);
    for (std::size_t i = 0; i < 128; i += 2) {
        tables16[i + 1] = 3;
    }
    const std::vector<Case> cases = {
            {"short first fragment",
             Concat({MainHeader(0, 1, 255, 40, 30), TableHeader(0, 128), Buffer(127, 9)}), false},
            {"table length too small for two tables",
             Concat({MainHeader(0, 1, 255, 40, 30), TableHeader(0, 64), Buffer(64, 9), scan}),
             false},
            {"Q 255 without tables",
             Concat({MainHeader(0, 1, 255, 40, 30), TableHeader(0, 0), scan}), false},
            {"Q 200 refers to tables never received",
             Concat({MainHeader(0, 1, 200, 40, 30), TableHeader(0, 0), scan}), false},
            {"Q 200 sends its tables",
             Concat({MainHeader(0, 1, 200, 40, 30), TableHeader(0, 128), tables8, scan}), true},
            {"Q 200 reuses them", Concat({MainHeader(0, 1, 200, 40, 30), TableHeader(0, 0), scan}),
             true},
            {"16-bit luminance table",
             Concat({MainHeader(0, 1, 128, 40, 30), TableHeader(1, 192), tables16, scan}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = Frames().size();
        Send(c.payload, true);
        ASSERT_EQ(Frames().size(), before + (c.delivered ? 1 : 0));
        if (!c.delivered) {
            EXPECT_EQ(parser.FrameLength(), 0U);
            EXPECT_TRUE(parser.WaitingForSync());
        }
    }
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 3U);
    // The reused tables are the ones received with Q 200.
    EXPECT_TRUE(std::equal(tables8.begin(), tables8.begin() + 64, frames[1].bytes.begin() + 7));
    EXPECT_TRUE(std::equal(scan.begin(), scan.end(), frames[1].bytes.begin() + 605));
    // A 16-bit table is written with precision 1 and its 128 bytes.
    const Buffer& b16 = frames[2].bytes;
    EXPECT_EQ(Buffer(b16.begin() + 2, b16.begin() + 7), (Buffer{0xFF, 0xDB, 0x00, 0x83, 0x10}));
    EXPECT_TRUE(std::equal(tables16.begin(), tables16.begin() + 128, b16.begin() + 7));
    EXPECT_EQ(b16.size(), 605 + 64 + scan.size() + 2);
}

TEST_F(JpegParser, RestartMarkerTypesGetTheirIntervalAndLoseTheirHeaders) {
    const Buffer restart = {0x00, 0x14, 0xFF, 0xFF}; // interval 20, F=L=1, count 0x3FFF
    const Buffer a = Scan(500, 1);
    const Buffer b = Scan(400, 2);
    Send(Concat({MainHeader(0, 65, 50, 40, 30), restart, a}), false);
    Send(Concat({MainHeader(500, 65, 50, 40, 30), restart, b}), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1U);
    const Buffer& p = frames[0].bytes;
    ASSERT_EQ(p.size(), 605 + 6 + a.size() + b.size() + 2);
    EXPECT_EQ(p[151], 0x22); // sampled as type 1
    const std::size_t dri = FindMarker(p, 0xDD);
    ASSERT_EQ(dri, 591U);
    EXPECT_EQ(Buffer(p.begin() + 591, p.begin() + 599),
              (Buffer{0xFF, 0xDD, 0, 4, 0, 0x14, 0xFF, 0xDA}));
    EXPECT_EQ(Buffer(p.begin() + 611, p.end() - 2), Concat({a, b}));
}

TEST_F(JpegParser, FragmentsJoinInArrivalOrderAndLossDropsThePicture) {
    const Buffer a = Scan(400, 1);
    const Buffer b = Scan(400, 2);
    const Buffer c = Scan(400, 3);
    auto picture = [&](bool loseMiddle) {
        Send(Concat({MainHeader(0, 1, 60, 40, 30), a}), false);
        if (loseMiddle) {
            ++m_seq;
        } else {
            Send(Concat({MainHeader(400, 1, 60, 40, 30), b}), false);
        }
        Send(Concat({MainHeader(800, 1, 60, 40, 30), c}), true);
    };
    picture(true);
    EXPECT_TRUE(Frames().empty());
    picture(false);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1U);
    EXPECT_EQ(Buffer(frames[0].bytes.begin() + 605, frames[0].bytes.end() - 2), Concat({a, b, c}));
}

TEST_F(JpegParser, ShortPayloadsAreIgnoredAndStrayFragmentsReset) {
    const Buffer a = Scan(700, 1);
    Send(Concat({MainHeader(0, 1, 60, 40, 30), a}), false);
    Send(Concat({MainHeader(700, 1, 60, 40, 30)}), true); // 8 bytes, even with the marker
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(parser.FrameLength(), a.size() + 8);
    Send(Concat({MainHeader(700, 1, 60, 40, 30), {1}}), true);
    ASSERT_EQ(Frames().size(), 1U);

    // A later fragment while waiting for a picture start resets (it is not collected).
    parser.Reset();
    Send(Concat({MainHeader(300, 1, 60, 40, 30), a}), true);
    EXPECT_EQ(parser.FrameLength(), 0U);
    EXPECT_EQ(Frames().size(), 1U);
}

TEST_F(JpegParser, PictureNotLongerThanTheHeaderIsDropped) {
    Send(Concat({MainHeader(0, 1, 60, 40, 30), Scan(597, 1)}), true); // 605 bytes assembled
    EXPECT_TRUE(Frames().empty());
    EXPECT_TRUE(parser.WaitingForSync());
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);
    Send(Concat({MainHeader(0, 1, 60, 40, 30), Scan(598, 1)}), true);
    EXPECT_EQ(Frames().size(), 1U);
}

TEST_F(JpegParser, StreamWithoutMarkerOverflowsOnceAndRecovers) {
    const Buffer piece = Concat({MainHeader(100, 1, 60, 40, 30), Scan(60000, 1)});
    Send(Concat({MainHeader(0, 1, 60, 40, 30), Scan(100, 1)}), false);
    std::size_t sent = 0;
    while (sent <= kMaxFrameSize) {
        Send(piece, false);
        sent += piece.size() - 8;
    }
    EXPECT_EQ(parser.FrameLength(), 0U);
    Send(piece, false); // dropped: waiting for a picture start
    Send(piece, false);
    const auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].text, "norvane::CRTPMediaParser::CheckBufferSize: Frame buffer "
                                "overflow detected, device cam.local:80");
    Send(Concat({MainHeader(0, 1, 60, 40, 30), Scan(700, 1)}), true);
    EXPECT_EQ(Frames().size(), 1U);
}

TEST_F(JpegParser, RefusedPictureResetsTheParser) {
    client.sink.SetMode(test::FakeFrameSink::Mode::Refuse);
    Send(Concat({MainHeader(0, 1, 60, 40, 30), Scan(700, 1)}), true);
    EXPECT_TRUE(parser.WaitingForSync());
    EXPECT_EQ(parser.Width(), 0U);
    EXPECT_EQ(driver.allocator.Released(), 1U);
}

} // namespace
} // namespace norvane
