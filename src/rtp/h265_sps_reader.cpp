#include "rtp/h265_sps_reader.h"

#include "rtp/bit_reader.h"

namespace norvane {
namespace {

constexpr std::uint8_t kNalTypeSps = 33;   // H.265 table 7-1
constexpr std::size_t kNalHeaderSize = 2;  // H.265 7.3.1.2
constexpr std::uint32_t kMaxSubLayers = 7; // sps_max_sub_layers_minus1 is 0 to 6
constexpr std::uint32_t kMaxChromaFormat = 3;
constexpr unsigned kProfileBits = 88; // profile space to the end of the constraint flags
constexpr unsigned kLevelBits = 8;

// SkipProfileTierLevel steps over profile_tier_level(1, maxSubLayersMinus1) (H.265 7.3.3).
void SkipProfileTierLevel(CBitReader& bits, std::uint32_t maxSubLayersMinus1) {
    bits.Bits(kProfileBits / 4); // general profile space, tier, profile idc, compatibility flags
    bits.Bits(kProfileBits / 4);
    bits.Bits(kProfileBits / 4);
    bits.Bits(kProfileBits / 4);
    bits.Bits(kLevelBits); // general_level_idc
    bool profilePresent[kMaxSubLayers] = {};
    bool levelPresent[kMaxSubLayers] = {};
    for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = bits.Bit() != 0;
        levelPresent[i] = bits.Bit() != 0;
    }
    if (maxSubLayersMinus1 > 0) {
        bits.Bits(2 * (8 - maxSubLayersMinus1)); // reserved_zero_2bits up to eight sub-layers
    }
    for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i]) {
            for (unsigned part = 0; part < 4; ++part) {
                bits.Bits(kProfileBits / 4);
            }
        }
        if (levelPresent[i]) {
            bits.Bits(kLevelBits);
        }
    }
}

} // namespace

std::optional<SpsSize> ReadH265SpsSize(std::span<const std::uint8_t> nalUnit) {
    if (nalUnit.size() <= kNalHeaderSize || ((nalUnit[0] >> 1) & 0x3F) != kNalTypeSps) {
        return std::nullopt;
    }
    CBitReader bits(nalUnit.subspan(kNalHeaderSize));
    bits.Bits(4); // sps_video_parameter_set_id
    const std::uint32_t maxSubLayersMinus1 = bits.Bits(3);
    bits.Bit(); // sps_temporal_id_nesting_flag
    if (maxSubLayersMinus1 >= kMaxSubLayers) {
        return std::nullopt;
    }
    SkipProfileTierLevel(bits, maxSubLayersMinus1);
    bits.Ue(); // sps_seq_parameter_set_id
    const std::uint32_t chromaFormatIdc = bits.Ue();
    if (chromaFormatIdc > kMaxChromaFormat) {
        return std::nullopt;
    }
    bool separateColourPlanes = false;
    if (chromaFormatIdc == 3) {
        separateColourPlanes = bits.Bit() != 0;
    }
    const std::uint64_t width = bits.Ue();  // pic_width_in_luma_samples
    const std::uint64_t height = bits.Ue(); // pic_height_in_luma_samples
    std::uint64_t cropX = 0;
    std::uint64_t cropY = 0;
    if (bits.Bit() != 0) { // conformance_window_flag
        const std::uint64_t left = bits.Ue();
        const std::uint64_t right = bits.Ue();
        const std::uint64_t top = bits.Ue();
        const std::uint64_t bottom = bits.Ue();
        // Window offsets count chroma samples (SubWidthC, SubHeightC of H.265 table 6-1).
        const std::uint32_t chroma = separateColourPlanes ? 0 : chromaFormatIdc;
        const std::uint64_t unitX = chroma == 1 || chroma == 2 ? 2 : 1;
        const std::uint64_t unitY = chroma == 1 ? 2 : 1;
        cropX = unitX * (left + right);
        cropY = unitY * (top + bottom);
    }
    return CroppedSpsSize(bits.Failed(), width, height, cropX, cropY);
}

} // namespace norvane
