#include "rtp/sps_reader.h"

#include <algorithm>

#include "rtp/bit_reader.h"

namespace norvane {
namespace {

constexpr std::uint8_t kNalTypeSps = 7;             // H.264 table 7-1
constexpr std::uint64_t kMaxRefFramesInCycle = 255; // H.264 7.4.2.1.1
constexpr std::uint64_t kMaxPictureSide = 65535;
constexpr std::uint32_t kMaxLog2FrameNum = 16; // H.264 7.4.2.1.1: log2_max_frame_num_minus4 <= 12
constexpr std::uint32_t kMaxMadeUpSide = 16384;

// SkipScalingList steps over one scaling list by the delta rule of H.264 7.3.2.1.1.1.
void SkipScalingList(CBitReader& bits, unsigned size) {
    std::int64_t last = 8;
    std::int64_t next = 8;
    for (unsigned j = 0; j < size && !bits.Failed(); ++j) {
        if (next != 0) {
            const std::int64_t delta = bits.Se();
            next = ((last + delta) % 256 + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
}

// CBitWriter collects bits most significant first and emits the NAL unit payload with emulation
// prevention (H.264 7.4.1): a 03 byte after two zero bytes when the next byte is 00 to 03.
class CBitWriter {
public:
    void Bit(std::uint32_t bit) {
        m_current = static_cast<std::uint8_t>((std::uint32_t{m_current} << 1) | (bit & 1U));
        if (++m_count == 8) {
            Emit(m_current);
            m_current = 0;
            m_count = 0;
        }
    }

    void Bits(std::uint32_t value, unsigned count) {
        for (unsigned i = count; i > 0; --i) {
            Bit(value >> (i - 1));
        }
    }

    void Ue(std::uint32_t value) {
        const std::uint64_t code = std::uint64_t{value} + 1;
        unsigned length = 0;
        while ((code >> length) > 1) {
            ++length;
        }
        Bits(0, length);
        for (unsigned i = length + 1; i > 0; --i) {
            Bit(static_cast<std::uint32_t>(code >> (i - 1)));
        }
    }

    // TrailingBits writes rbsp_trailing_bits: a 1, then zeros to the byte boundary.
    void TrailingBits() {
        Bit(1);
        while (m_count != 0) {
            Bit(0);
        }
    }

    std::vector<std::uint8_t>& Bytes() { return m_bytes; }

private:
    void Emit(std::uint8_t byte) {
        if (m_zeros >= 2 && byte <= 3) {
            m_bytes.push_back(0x03);
            m_zeros = 0;
        }
        m_bytes.push_back(byte);
        m_zeros = byte == 0 ? m_zeros + 1 : 0;
    }

    std::vector<std::uint8_t> m_bytes;
    std::uint8_t m_current = 0;
    unsigned m_count = 0;
    unsigned m_zeros = 0;
};

// ReadSps reads the picture size and the frame numbering of an SPS payload.
bool ReadSps(std::span<const std::uint8_t> payload, SpsSize& size, SpsFrameNumbering& numbering) {
    CBitReader bits(payload);
    const std::uint32_t profileIdc = bits.Bits(8);
    bits.Bits(4);                      // constraint_set0..3_flag
    bits.Bits(4);                      // constraint_set4..5_flag, reserved_zero_2bits
    bits.Bits(8);                      // level_idc
    bits.Ue();                         // seq_parameter_set_id
    std::uint32_t chromaFormatIdc = 1; // 4:2:0 unless the SPS says otherwise
    bool separateColourPlanes = false;
    if (profileIdc >= 100) {
        chromaFormatIdc = bits.Ue();
        if (chromaFormatIdc == 3) {
            separateColourPlanes = bits.Bit() != 0;
            numbering.separateColourPlanes = separateColourPlanes;
        }
        bits.Ue();             // bit_depth_luma_minus8
        bits.Ue();             // bit_depth_chroma_minus8
        bits.Bit();            // qpprime_y_zero_transform_bypass_flag
        if (bits.Bit() != 0) { // seq_scaling_matrix_present_flag
            const unsigned lists = chromaFormatIdc != 3 ? 8 : 12;
            for (unsigned i = 0; i < lists && !bits.Failed(); ++i) {
                if (bits.Bit() != 0) {
                    SkipScalingList(bits, i < 6 ? 16 : 64);
                }
            }
        }
    }
    numbering.log2MaxFrameNum = bits.Ue() + 4; // log2_max_frame_num_minus4
    const std::uint32_t pocType = bits.Ue();
    if (pocType == 0) {
        bits.Ue(); // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        bits.Bit(); // delta_pic_order_always_zero_flag
        bits.Ue();  // offset_for_non_ref_pic
        bits.Ue();  // offset_for_top_to_bottom_field
        const std::uint32_t cycle = bits.Ue();
        if (cycle > kMaxRefFramesInCycle) {
            return false;
        }
        for (std::uint32_t i = 0; i < cycle && !bits.Failed(); ++i) {
            bits.Ue(); // offset_for_ref_frame[i]
        }
    }
    bits.Ue(); // max_num_ref_frames
    numbering.gapsAllowed = bits.Bit() != 0;
    const std::uint64_t widthMbs = std::uint64_t{bits.Ue()} + 1;
    const std::uint64_t heightMapUnits = std::uint64_t{bits.Ue()} + 1;
    const std::uint32_t frameMbsOnly = bits.Bit();
    numbering.frameMbsOnly = frameMbsOnly != 0;
    if (frameMbsOnly == 0) {
        bits.Bit(); // mb_adaptive_frame_field_flag
    }
    bits.Bit(); // direct_8x8_inference_flag
    const std::uint64_t width = widthMbs * 16;
    const std::uint64_t height = (2 - frameMbsOnly) * heightMapUnits * 16;
    std::uint64_t cropX = 0;
    std::uint64_t cropY = 0;
    if (bits.Bit() != 0) { // frame_cropping_flag
        const std::uint64_t left = bits.Ue();
        const std::uint64_t right = bits.Ue();
        const std::uint64_t top = bits.Ue();
        const std::uint64_t bottom = bits.Ue();
        // Crop units of H.264 7.4.2.1.1 (equations 7-19 to 7-22).
        const bool hasChroma = chromaFormatIdc != 0 && !separateColourPlanes;
        const std::uint64_t unitX = hasChroma && chromaFormatIdc != 3 ? 2 : 1;
        const std::uint64_t unitY =
                std::uint64_t{hasChroma && chromaFormatIdc == 1 ? 2U : 1U} * (2 - frameMbsOnly);
        cropX = unitX * (left + right);
        cropY = unitY * (top + bottom);
    }
    const auto cropped = CroppedSpsSize(bits.Failed(), width, height, cropX, cropY);
    if (!cropped || numbering.log2MaxFrameNum > kMaxLog2FrameNum) {
        return false;
    }
    size = *cropped;
    return true;
}

} // namespace

std::optional<SpsSize> FindSpsSize(std::span<const std::uint8_t> accessUnit) {
    const std::size_t limit = std::min(kSpsSearchLimit, accessUnit.size());
    for (std::size_t i = 0; i < limit; ++i) {
        if (i + 3 < accessUnit.size() && accessUnit[i] == 0 && accessUnit[i + 1] == 0 &&
            accessUnit[i + 2] == 1 && (accessUnit[i + 3] & 0x1F) == kNalTypeSps) {
            return ReadSpsSize(accessUnit.subspan(i + 4));
        }
    }
    return std::nullopt;
}

std::optional<SpsSize> ReadSpsSize(std::span<const std::uint8_t> payload) {
    SpsSize size;
    SpsFrameNumbering numbering;
    return ReadSps(payload, size, numbering) ? std::optional<SpsSize>(size) : std::nullopt;
}

std::optional<SpsFrameNumbering> ReadSpsFrameNumbering(std::span<const std::uint8_t> payload) {
    SpsSize size;
    SpsFrameNumbering numbering;
    return ReadSps(payload, size, numbering) ? std::optional<SpsFrameNumbering>(numbering)
                                             : std::nullopt;
}

std::optional<SliceStart> ReadSliceStart(std::span<const std::uint8_t> payload,
                                         const SpsFrameNumbering& numbering) {
    // H.264 7.3.3: first_mb_in_slice, slice_type, pic_parameter_set_id, [colour_plane_id],
    // frame_num.
    CBitReader bits(payload);
    SliceStart start;
    start.firstSlice = bits.Ue() == 0;
    bits.Ue();
    bits.Ue();
    if (numbering.separateColourPlanes) {
        bits.Bits(2);
    }
    start.frameNum = bits.Bits(numbering.log2MaxFrameNum);
    if (bits.Failed()) {
        return std::nullopt;
    }
    return start;
}

std::optional<SpsSize> CroppedSpsSize(bool failed, std::uint64_t width, std::uint64_t height,
                                      std::uint64_t cropX, std::uint64_t cropY) {
    width = cropX < width ? width - cropX : 0;
    height = cropY < height ? height - cropY : 0;
    if (failed || width == 0 || height == 0 || width > kMaxPictureSide ||
        height > kMaxPictureSide) {
        return std::nullopt;
    }
    return SpsSize{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

std::vector<std::uint8_t> MakeSps(std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0 || width > kMaxMadeUpSide || height > kMaxMadeUpSide) {
        return {};
    }
    const std::uint32_t widthMbs = (width + 15) / 16;
    const std::uint32_t heightMbs = (height + 15) / 16;
    const bool crop = widthMbs * 16 != width || heightMbs * 16 != height;
    CBitWriter bits;
    bits.Bits(66, 8); // profile_idc: Baseline
    bits.Bits(1, 1);  // constraint_set0_flag
    bits.Bits(0, 3);  // constraint_set1..3_flag
    bits.Bits(0, 4);  // reserved_zero_4bits
    bits.Bits(40, 8); // level_idc 4.0
    bits.Ue(0);       // seq_parameter_set_id
    bits.Ue(0);       // log2_max_frame_num_minus4
    bits.Ue(2);       // pic_order_cnt_type
    bits.Ue(1);       // max_num_ref_frames
    bits.Bit(0);      // gaps_in_frame_num_value_allowed_flag
    bits.Ue(widthMbs - 1);
    bits.Ue(heightMbs - 1);
    bits.Bit(1); // frame_mbs_only_flag
    bits.Bit(0); // direct_8x8_inference_flag
    bits.Bit(crop ? 1 : 0);
    if (crop) {
        // Crop units are two pixels in 4:2:0; an odd excess leaves one extra column or row.
        bits.Ue(0);
        bits.Ue((widthMbs * 16 - width) / 2);
        bits.Ue(0);
        bits.Ue((heightMbs * 16 - height) / 2);
    }
    bits.Bit(0); // vui_parameters_present_flag
    bits.TrailingBits();
    std::vector<std::uint8_t> sps;
    sps.reserve(bits.Bytes().size() + 1);
    sps.push_back(0x67); // nal_ref_idc 3, nal_unit_type 7
    sps.insert(sps.end(), bits.Bytes().begin(), bits.Bytes().end());
    return sps;
}

} // namespace norvane
