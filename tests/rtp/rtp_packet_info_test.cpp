#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/byte_reader.h"
#include "rtp/rtp_packet_info.h"

namespace norvane {
namespace {

// A datagram with the given first byte, then M|PT 0xE0 (marker, PT 96), sequence 0x1234,
// timestamp 0x01020304, SSRC AA BB CC DD, then `tail`.
std::vector<std::uint8_t> Datagram(std::uint8_t first, std::vector<std::uint8_t> tail) {
    const std::uint8_t header[12] = {first, 0xE0, 0x12, 0x34, 0x01, 0x02,
                                     0x03,  0x04, 0xAA, 0xBB, 0xCC, 0xDD};
    tail.insert(tail.begin(), std::begin(header), std::end(header));
    return tail;
}

TEST(ParseRtpHeader, SplitsTheFixedHeader) {
    const std::vector<std::uint8_t> d = Datagram(0x80, {0x42});
    RtpPacketInfo p;
    ASSERT_TRUE(ParseRtpHeader(d, p));
    EXPECT_TRUE(p.marker);
    EXPECT_FALSE(p.padding);
    EXPECT_EQ(p.payloadType, 96);
    EXPECT_EQ(p.sequenceNumber, 0x1234);
    EXPECT_EQ(p.timestamp, 0x01020304U);
    const std::uint8_t ssrcBytes[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    EXPECT_EQ(std::memcmp(&p.ssrc, ssrcBytes, 4), 0);
    EXPECT_EQ(p.csrcCount, 0);
    EXPECT_EQ(p.csrcList, nullptr);
    EXPECT_EQ(p.extensionData, nullptr);
    EXPECT_EQ(p.payloadLength, 1);
    EXPECT_EQ(p.payload, d.data() + 12);
}

struct LayoutCase {
    const char* name;
    std::uint8_t first;
    std::vector<std::uint8_t> tail;
    bool ok;
    std::int32_t payloadOffset; // from the datagram start
};

TEST(ParseRtpHeader, HeaderLayouts) {
    const std::vector<std::uint8_t> csrc8(8, 0x11);
    const std::vector<LayoutCase> cases = {
            {"header only is dropped", 0x80, {}, false, 0},
            {"one payload byte", 0x80, {1}, true, 12},
            {"version 1", 0x40, {1}, false, 0},
            {"version 3", 0xC0, {1}, false, 0},
            {"version 0", 0x00, {1}, false, 0},
            {"two CSRCs move the payload", 0x82, {1, 1, 1, 1, 2, 2, 2, 2, 9}, true, 20},
            {"CSRC list cut short", 0x82, {1, 1, 1, 1, 2, 2}, false, 0},
            {"CSRC list fills the datagram", 0x81, {1, 1, 1, 1}, true, 16},
            {"extension of one word", 0x90, {0xBE, 0xDE, 0, 1, 7, 7, 7, 7, 9}, true, 20},
            {"extension after CSRCs",
             0x91,
             {1, 1, 1, 1, 0xBE, 0xDE, 0, 1, 7, 7, 7, 7, 9},
             true,
             24},
            {"extension header cut short", 0x90, {0xBE, 0xDE, 0}, false, 0},
            {"extension data cut short", 0x90, {0xBE, 0xDE, 0, 2, 7, 7, 7, 7}, false, 0},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> d = Datagram(c.first, c.tail);
        RtpPacketInfo p;
        ASSERT_EQ(ParseRtpHeader(d, p), c.ok);
        if (c.ok) {
            EXPECT_EQ(p.payload, d.data() + c.payloadOffset);
            EXPECT_EQ(p.payloadLength, static_cast<std::int32_t>(d.size()) - c.payloadOffset);
        }
    }
}

TEST(ParseRtpHeader, PaddingIsCutOffAndABadCountDropsThePacket) {
    struct PaddingCase {
        const char* name;
        std::vector<std::uint8_t> tail;
        bool ok;
        std::int32_t payloadLength;
    };

    const std::vector<PaddingCase> cases = {
            {"one padding octet", {7, 8, 1}, true, 2},
            {"three padding octets", {7, 0, 0, 3}, true, 1},
            {"padding alone leaves an empty payload", {0, 0, 3}, true, 0},
            {"count beyond the payload", {7, 4}, false, 0},
            {"count of zero", {7, 0}, false, 0},
    };
    for (const PaddingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> d = Datagram(0xA0, c.tail);
        RtpPacketInfo p;
        ASSERT_EQ(ParseRtpHeader(d, p), c.ok);
        if (c.ok) {
            EXPECT_TRUE(p.padding);
            EXPECT_EQ(p.payload, d.data() + 12);
            EXPECT_EQ(p.payloadLength, c.payloadLength);
        }
    }
}

TEST(ParseRtpHeader, ExtensionFieldsAndCsrcList) {
    const std::vector<std::uint8_t> d =
            Datagram(0x91, {9, 8, 7, 6, 0xBE, 0xDE, 0, 1, 5, 5, 5, 5, 0x42});
    RtpPacketInfo p;
    ASSERT_TRUE(ParseRtpHeader(d, p));
    EXPECT_EQ(p.csrcCount, 1);
    EXPECT_EQ(p.csrcList, d.data() + 12);
    EXPECT_EQ(p.extensionProfile, 0xBEDE);
    EXPECT_EQ(p.extensionLength, 1);
    EXPECT_EQ(p.extensionData, d.data() + 20);
    ASSERT_EQ(p.payloadLength, 1);
    EXPECT_EQ(p.payload[0], 0x42);
}

TEST(ParseRtpHeader, LongExtensionIsSkippedWhole) {
    // 300 words: the record keeps the low 8 bits, but the payload starts after all of them.
    std::vector<std::uint8_t> tail = {0x10, 0x00, 0x01, 0x2C};
    tail.resize(tail.size() + 1200, 0x77);
    tail.push_back(0x42);
    const std::vector<std::uint8_t> d = Datagram(0x90, tail);
    RtpPacketInfo p;
    ASSERT_TRUE(ParseRtpHeader(d, p));
    EXPECT_EQ(p.extensionLength, 300 & 0xFF);
    ASSERT_EQ(p.payloadLength, 1);
    EXPECT_EQ(p.payload[0], 0x42);
}

TEST(CByteReader, EveryReadFailsCleanlyOnUnderrun) {
    const std::vector<std::uint8_t> data = {1, 2, 3};
    CByteReader reader(data);
    std::uint32_t v32 = 0;
    EXPECT_FALSE(reader.ReadBE32(v32));
    EXPECT_EQ(reader.Position(), 0U);
    EXPECT_FALSE(reader.Skip(4));
    std::uint16_t v16 = 0;
    ASSERT_TRUE(reader.ReadBE16(v16));
    EXPECT_EQ(v16, 0x0102);
    EXPECT_FALSE(reader.ReadBE16(v16));
    std::span<const std::uint8_t> bytes;
    EXPECT_FALSE(reader.ReadBytes(2, bytes));
    std::uint8_t v8 = 0;
    ASSERT_TRUE(reader.ReadU8(v8));
    EXPECT_EQ(v8, 3);
    EXPECT_FALSE(reader.ReadU8(v8));
    EXPECT_EQ(reader.Remaining(), 0U);
}

} // namespace
} // namespace norvane
