// The H.264 sequence parameter set (SPS) reader and the writer of a made-up SPS (ITU-T H.264
// section 7.3.2.1.1). Pure functions over bytes; they run on the receive thread for every
// delivered access unit and on the channel thread for the parameter sets of a session
// description, so the reader is bounded in CPU as well as memory whatever the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace norvane {

struct SpsSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    friend bool operator==(const SpsSize&, const SpsSize&) = default;
};

// Only the start of an access unit is searched for its SPS.
constexpr std::size_t kSpsSearchLimit = 64;

// FindSpsSize searches the first 64 bytes of `accessUnit` (byte-stream form) for a start code
// 00 00 01 followed by an SPS NAL unit header and reads the picture size from that SPS. Nothing
// when there is no such SPS or it does not read cleanly.
[[nodiscard]] std::optional<SpsSize> FindSpsSize(std::span<const std::uint8_t> accessUnit);

// ReadSpsSize reads the picture size (cropping applied) from an SPS payload: the bytes after the
// NAL unit header, emulation-prevention bytes skipped as a decoder skips them. It stops at
// the first read past the end, refuses Exp-Golomb codes of more than 31 leading zeros, more than
// 255 reference frames in a picture-order cycle, and sizes that are zero or beyond 65535.
[[nodiscard]] std::optional<SpsSize> ReadSpsSize(std::span<const std::uint8_t> payload);

// CroppedSpsSize takes `cropX` and `cropY` pixels off a coded size read from an SPS; nothing when
// the read `failed` or the size left is zero or beyond 65535. Shared by the H.264 and H.265
// readers, which compute the crop in their own units.
[[nodiscard]] std::optional<SpsSize> CroppedSpsSize(bool failed, std::uint64_t width,
                                                    std::uint64_t height, std::uint64_t cropX,
                                                    std::uint64_t cropY);

// How the pictures of a sequence number themselves (H.264 7.4.2.1.1, 7.4.3): what a receiver
// needs to tell from a slice header whether pictures before it were lost.
struct SpsFrameNumbering {
    std::uint32_t log2MaxFrameNum = 4; // frame_num has this many bits
    bool separateColourPlanes = false; // a colour_plane_id precedes frame_num
    bool frameMbsOnly = true;          // frames only, no fields
    bool gapsAllowed = false;          // frame_num may skip values
};

// ReadSpsFrameNumbering reads the numbering fields of an SPS payload (as ReadSpsSize reads it);
// nothing when it does not read cleanly.
[[nodiscard]] std::optional<SpsFrameNumbering>
ReadSpsFrameNumbering(std::span<const std::uint8_t> payload);

// ReadFrameNum reads frame_num, and whether the slice is the picture's first (first_mb_in_slice
// 0), from a slice payload (the bytes after its NAL unit header) of a sequence numbered as
// `numbering` says; nothing when the header does not read.
struct SliceStart {
    std::uint32_t frameNum = 0;
    bool firstSlice = false;
};

[[nodiscard]] std::optional<SliceStart> ReadSliceStart(std::span<const std::uint8_t> payload,
                                                       const SpsFrameNumbering& numbering);

// MakeSps writes a Baseline SPS NAL unit (header byte 0x67 included) for a picture of
// `width` x `height`: macroblock counts rounded up, the excess cropped right and bottom. Empty
// for a size of zero or beyond 16384 in either direction.
[[nodiscard]] std::vector<std::uint8_t> MakeSps(std::uint32_t width, std::uint32_t height);

} // namespace norvane
