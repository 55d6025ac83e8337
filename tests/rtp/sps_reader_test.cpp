#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/h265_sps_reader.h"
#include "rtp/sps_reader.h"

namespace norvane {
namespace {

// BitString builds test SPS payloads bit by bit, independently of the code under test.
class BitString {
public:
    BitString& U(std::uint64_t value, unsigned count) {
        for (unsigned i = count; i > 0; --i) {
            m_bits.push_back(((value >> (i - 1)) & 1U) != 0 ? '1' : '0');
        }
        return *this;
    }

    BitString& Ue(std::uint64_t value) {
        const std::uint64_t code = value + 1;
        unsigned length = 0;
        while ((code >> length) > 1) {
            ++length;
        }
        U(0, length);
        return U(code, length + 1);
    }

    BitString& Se(std::int64_t value) {
        return Ue(value > 0 ? static_cast<std::uint64_t>(2 * value - 1)
                            : static_cast<std::uint64_t>(-2 * value));
    }

    std::vector<std::uint8_t> Bytes() const {
        std::string bits = m_bits + "1"; // rbsp stop bit
        while (bits.size() % 8 != 0) {
            bits.push_back('0');
        }
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < bits.size(); i += 8) {
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2)));
        }
        return bytes;
    }

private:
    std::string m_bits;
};

// The common tail of an SPS after the profile-specific part: frame num, POC type 2, one reference
// frame, then the size in macroblocks, progressive, optional bottom crop.
BitString& SizeTail(BitString& b, unsigned widthMbs, unsigned heightMbs, unsigned cropBottom = 0) {
    b.Ue(0).Ue(2).Ue(1).U(0, 1).Ue(widthMbs - 1).Ue(heightMbs - 1).U(1, 1).U(1, 1);
    if (cropBottom != 0) {
        b.U(1, 1).Ue(0).Ue(0).Ue(0).Ue(cropBottom);
    } else {
        b.U(0, 1);
    }
    return b.U(0, 1); // no VUI
}

TEST(MakeSps, WritesTheBaselineSetBitExactly) {
    // Expected bytes assembled by hand from the SPS syntax.
    EXPECT_EQ(MakeSps(704, 576),
              (std::vector<std::uint8_t>{0x67, 0x42, 0x80, 0x28, 0xDA, 0x02, 0xC0, 0x49, 0x10}));
    EXPECT_EQ(MakeSps(1920, 1080), (std::vector<std::uint8_t>{0x67, 0x42, 0x80, 0x28, 0xDA, 0x01,
                                                              0xE0, 0x08, 0x97, 0x95}));
    EXPECT_EQ(MakeSps(352, 240),
              (std::vector<std::uint8_t>{0x67, 0x42, 0x80, 0x28, 0xDA, 0x05, 0x87, 0xC4}));
}

TEST(MakeSps, SizesReadBackThroughTheReader) {
    struct Case {
        std::uint32_t w, h, readW, readH;
    };

    const std::vector<Case> cases = {
            {704, 576, 704, 576},
            {1920, 1080, 1920, 1080},
            {352, 240, 352, 240},
            {1280, 720, 1280, 720},
            {176, 144, 176, 144},
            {1924, 1082, 1924, 1082},
            // Sizes that are not even keep one extra column or row (crop units are 2 pixels).
            {1925, 1081, 1926, 1082},
            {16, 16, 16, 16},
            {16384, 8, 16384, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const std::vector<std::uint8_t> sps = MakeSps(c.w, c.h);
        ASSERT_FALSE(sps.empty());
        EXPECT_LE(sps.size(), 64U);
        const auto size = ReadSpsSize(std::span(sps).subspan(1));
        ASSERT_TRUE(size.has_value());
        EXPECT_EQ(*size, (SpsSize{c.readW, c.readH}));
    }
}

TEST(MakeSps, RefusesSizesItCannotDescribe) {
    EXPECT_TRUE(MakeSps(0, 576).empty());
    EXPECT_TRUE(MakeSps(704, 0).empty());
    EXPECT_TRUE(MakeSps(16385, 576).empty());
    EXPECT_TRUE(MakeSps(704, 0xFFFFFFFFU).empty());
}

TEST(FindSpsSize, CropFromCodedHeight1088Gives1080) {
    BitString b;
    b.U(77, 8).U(0, 8).U(40, 8).Ue(0); // Main profile
    SizeTail(b, 120, 68, 4);
    std::vector<std::uint8_t> unit = {0, 0, 1, 0x67};
    const auto payload = b.Bytes();
    unit.insert(unit.end(), payload.begin(), payload.end());
    EXPECT_EQ(FindSpsSize(unit), (SpsSize{1920, 1080}));
}

TEST(FindSpsSize, SearchesOnlyTheStartOfTheAccessUnit) {
    const std::vector<std::uint8_t> sps = MakeSps(704, 576);
    for (const std::size_t offset : {0U, 1U, 60U, 61U, 70U}) {
        SCOPED_TRACE(offset);
        std::vector<std::uint8_t> unit(offset, 0xAA);
        unit.insert(unit.end(), {0, 0, 1});
        unit.insert(unit.end(), sps.begin(), sps.end());
        // Found when the start code begins within the first 64 bytes.
        EXPECT_EQ(FindSpsSize(unit).has_value(), offset < 64);
    }
    // Four-byte start codes match one byte later; a PPS is not an SPS.
    std::vector<std::uint8_t> four = {0, 0, 0, 1};
    four.insert(four.end(), sps.begin(), sps.end());
    EXPECT_EQ(FindSpsSize(four), (SpsSize{704, 576}));
    EXPECT_FALSE(FindSpsSize(std::vector<std::uint8_t>{0, 0, 1, 0x68, 0xCE, 0x3C, 0x80}));
    EXPECT_FALSE(FindSpsSize(std::vector<std::uint8_t>{0, 0, 1}));
}

TEST(ReadSpsSize, EveryTruncationFails) {
    const std::vector<std::uint8_t> sps = MakeSps(1920, 1080);
    const std::span<const std::uint8_t> payload = std::span(sps).subspan(1);
    for (std::size_t length = 0; length < payload.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(ReadSpsSize(payload.first(length)).has_value());
    }
}

TEST(ReadSpsSize, EmulationPreventionBytesAreSkipped) {
    // Flags and level 0, then seq_parameter_set_id with 16 leading zeros: the payload has
    // 00 00 00, which the NAL unit carries as 00 00 03 00.
    BitString b;
    b.U(66, 8).U(0, 8).U(0, 8).Ue(65535);
    SizeTail(b, 44, 36);
    std::vector<std::uint8_t> raw = b.Bytes();
    ASSERT_EQ(raw[1], 0);
    ASSERT_EQ(raw[2], 0);
    ASSERT_LE(raw[3], 3);
    std::vector<std::uint8_t> escaped(raw.begin(), raw.begin() + 3);
    escaped.push_back(0x03);
    escaped.insert(escaped.end(), raw.begin() + 3, raw.end());
    EXPECT_EQ(ReadSpsSize(escaped), (SpsSize{704, 576}));
}

TEST(ReadSpsSize, HighProfileScalingListsAreSkipped) {
    BitString b;
    b.U(100, 8).U(0, 8).U(40, 8).Ue(0);
    b.Ue(1).Ue(0).Ue(0).U(0, 1);   // 4:2:0, 8-bit, no bypass
    b.U(1, 1);                     // scaling matrix present
    b.U(1, 1).Se(3).Se(-3).Se(-8); // list 0: two deltas, then next scale 0 ends the list
    b.U(0, 5);                     // lists 1 to 5 absent
    b.U(1, 1);                     // list 6 (8x8): 64 deltas of 0 keep the scale at 8
    for (int i = 0; i < 64; ++i) {
        b.Se(0);
    }
    b.U(0, 1); // list 7 absent
    SizeTail(b, 80, 45);
    EXPECT_EQ(ReadSpsSize(b.Bytes()), (SpsSize{1280, 720}));
}

TEST(ReadSpsSize, FourFourFourHasTwelveScalingListFlags) {
    BitString b;
    b.U(244, 8).U(0, 8).U(40, 8).Ue(0);
    b.Ue(3).U(0, 1).Ue(0).Ue(0).U(0, 1); // 4:4:4, one colour plane set
    b.U(1, 1).U(0, 12);                  // scaling matrix with 12 absent lists
    SizeTail(b, 40, 30);
    EXPECT_EQ(ReadSpsSize(b.Bytes()), (SpsSize{640, 480}));
}

TEST(ReadSpsSize, PictureOrderCycleIsCappedAt255) {
    for (const unsigned cycle : {255U, 256U}) {
        SCOPED_TRACE(cycle);
        BitString b;
        b.U(66, 8).U(0, 8).U(30, 8).Ue(0).Ue(0);
        b.Ue(1).U(0, 1).Se(0).Se(0).Ue(cycle); // POC type 1
        for (unsigned i = 0; i < cycle; ++i) {
            b.Se(1);
        }
        b.Ue(1).U(0, 1).Ue(43).Ue(35).U(1, 1).U(1, 1).U(0, 1).U(0, 1);
        EXPECT_EQ(ReadSpsSize(b.Bytes()).has_value(), cycle == 255);
    }
}

TEST(ReadSpsSize, RefusesHostileValues) {
    // 32 leading zeros in seq_parameter_set_id.
    BitString zeros;
    zeros.U(66, 8).U(0, 8).U(30, 8).U(0, 32).U(1, 1).U(0, 32);
    SizeTail(zeros, 44, 36);
    EXPECT_FALSE(ReadSpsSize(zeros.Bytes()).has_value());

    // Width of 2^32 - 1 macroblocks: computed without overflow and refused.
    BitString huge;
    huge.U(66, 8).U(0, 8).U(30, 8).Ue(0).Ue(0).Ue(2).Ue(1).U(0, 1);
    huge.Ue(0xFFFFFFFEULL).Ue(35).U(1, 1).U(1, 1).U(0, 1).U(0, 1);
    EXPECT_FALSE(ReadSpsSize(huge.Bytes()).has_value());

    // Cropping that removes the whole picture.
    BitString crop;
    crop.U(66, 8).U(0, 8).U(30, 8).Ue(0).Ue(0).Ue(2).Ue(1).U(0, 1);
    crop.Ue(0).Ue(0).U(1, 1).U(1, 1).U(1, 1).Ue(4).Ue(4).Ue(0).Ue(0).U(0, 1);
    EXPECT_FALSE(ReadSpsSize(crop.Bytes()).has_value());

    // All-zero input is one endless Exp-Golomb prefix.
    EXPECT_FALSE(ReadSpsSize(std::vector<std::uint8_t>(40, 0x00)).has_value());
}

// H.265 SPS written by FFmpeg's libx265 for 320x240 (no window) and 1916x1076 (coded 1920x1080,
// conformance window right 2 and bottom 2 in chroma units).
const std::vector<std::uint8_t> kH265Sps320 = {
        0x42, 0x01, 0x01, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00, 0x90, 0x00, 0x00, 0x03, 0x00,
        0x00, 0x03, 0x00, 0x3C, 0xA0, 0x0A, 0x08, 0x0F, 0x16, 0x59, 0x2A, 0x49, 0x32, 0xBC,
        0x05, 0xA0, 0x20, 0x00, 0x00, 0x03, 0x00, 0x20, 0x00, 0x00, 0x03, 0x01, 0x41};
const std::vector<std::uint8_t> kH265Sps1916 = {
        0x42, 0x01, 0x01, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00, 0x90, 0x00, 0x00, 0x03, 0x00, 0x00,
        0x03, 0x00, 0x78, 0xA0, 0x03, 0xC0, 0x80, 0x10, 0xE7, 0x77, 0x96, 0x56, 0x69, 0x24, 0xCA,
        0xF0, 0x16, 0x80, 0x80, 0x00, 0x00, 0x03, 0x00, 0x80, 0x00, 0x00, 0x03, 0x00, 0x84};

// An H.265 SPS up to its conformance window: `subLayers` sub-layers, the first with its own
// profile and level, profile bits all ones so that no emulation prevention is needed.
std::vector<std::uint8_t> H265Sps(unsigned subLayers, std::uint32_t chroma, std::uint32_t width,
                                  std::uint32_t height) {
    BitString b;
    b.U(0, 4).U(subLayers - 1, 3).U(1, 1);
    b.U(0xFFFFFFFFFFULL, 40).U(0xFFFFFFFFFFFULL, 48).U(93, 8); // general profile, level
    for (unsigned i = 0; i + 1 < subLayers; ++i) {
        b.U(i == 0 ? 3 : 0, 2); // profile and level present for sub-layer 0 only
    }
    if (subLayers > 1) {
        b.U(0, 2 * (9 - subLayers));
        b.U(0xFFFFFFFFFFULL, 40).U(0xFFFFFFFFFFULL, 48).U(90, 8);
    }
    b.Ue(0).Ue(chroma);
    if (chroma == 3) {
        b.U(0, 1);
    }
    b.Ue(width).Ue(height).U(0, 1);
    std::vector<std::uint8_t> nal = {0x42, 0x01};
    const auto payload = b.Bytes();
    nal.insert(nal.end(), payload.begin(), payload.end());
    return nal;
}

TEST(ReadH265SpsSize, EncoderSetsAndBuiltSetsRead) {
    EXPECT_EQ(ReadH265SpsSize(kH265Sps320), (SpsSize{320, 240}));
    EXPECT_EQ(ReadH265SpsSize(kH265Sps1916), (SpsSize{1916, 1076}));
    EXPECT_EQ(ReadH265SpsSize(H265Sps(1, 1, 1280, 720)), (SpsSize{1280, 720}));
    // Sub-layer profile and level and the reserved bits of a 3-layer set are stepped over.
    EXPECT_EQ(ReadH265SpsSize(H265Sps(3, 1, 1920, 1080)), (SpsSize{1920, 1080}));
    EXPECT_EQ(ReadH265SpsSize(H265Sps(7, 3, 640, 480)), (SpsSize{640, 480}));
}

TEST(ReadH265SpsSize, RefusesTruncatedForeignAndHostileSets) {
    for (std::size_t length = 0; length < 25; ++length) { // the window ends in byte 25
        SCOPED_TRACE(length);
        EXPECT_FALSE(ReadH265SpsSize(std::span(kH265Sps1916).first(length)).has_value());
    }
    std::vector<std::uint8_t> pps = kH265Sps320;
    pps[0] = 0x44; // a PPS header
    EXPECT_FALSE(ReadH265SpsSize(pps).has_value());
    EXPECT_FALSE(ReadH265SpsSize(H265Sps(8, 1, 640, 480)).has_value()); // 8 sub-layers
    EXPECT_FALSE(ReadH265SpsSize(H265Sps(1, 4, 640, 480)).has_value()); // chroma format 4
    EXPECT_FALSE(ReadH265SpsSize(H265Sps(1, 1, 0, 480)).has_value());
    EXPECT_FALSE(ReadH265SpsSize(H265Sps(1, 1, 70000, 480)).has_value());
    std::vector<std::uint8_t> zeros(60, 0x00);
    zeros[0] = 0x42;
    zeros[1] = 0x01;
    EXPECT_FALSE(ReadH265SpsSize(zeros).has_value());
}

} // namespace
} // namespace norvane
