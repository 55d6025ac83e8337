// Media clips of the simulated camera: an H.264 or H.265 byte stream split into access units, and a
// series of baseline JPEG pictures split into the parts that RTP/JPEG carries (RFC 2435). Clips are
// immutable once loaded and shared by every session that streams them.
//
// Threads: loading runs on one thread; a loaded clip is read from any number of threads.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace norvane::sim {

// One H.264 or H.265 access unit: its NAL units without start codes.
struct H264AccessUnit {
    std::vector<std::vector<std::uint8_t>> nalUnits;
};

enum class VideoCodec { H264, H265 };

struct H264Clip {
    std::vector<H264AccessUnit> accessUnits;
    std::vector<std::uint8_t> sps; // the first SPS NAL unit (header included)
    std::vector<std::uint8_t> pps; // the first PPS NAL unit
    std::vector<std::uint8_t> vps; // H.265: the first VPS NAL unit
    VideoCodec codec = VideoCodec::H264;
};

// ParseAnnexB splits an Annex-B byte stream (ITU-T H.264 Annex B) into access units (section
// 7.4.1.2.3). Null with `error` set when the stream holds no NAL unit, SPS or PPS.
std::shared_ptr<const H264Clip> ParseAnnexB(std::span<const std::uint8_t> stream,
                                            std::string* error);

// ParseAnnexBH265 splits an H.265 byte stream (ITU-T H.265 Annex B) into access units (section
// 7.4.2.4.4). Null with `error` set when the stream holds no NAL unit, VPS, SPS or PPS.
std::shared_ptr<const H264Clip> ParseAnnexBH265(std::span<const std::uint8_t> stream,
                                                std::string* error);

// One JPEG picture as RTP/JPEG sends it.
struct JpegPicture {
    std::uint8_t type = 1; // RFC 2435 type: 0 = 4:2:2, 1 = 4:2:0 (64 is added for restart markers)
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::array<std::uint8_t, 64> lumaTable{};   // zig-zag order, as in the DQT segment
    std::array<std::uint8_t, 64> chromaTable{}; // zig-zag order
    std::uint16_t restartInterval = 0;          // from DRI; 0 = none
    std::uint8_t standardQ = 0;     // Q (1..99) whose RFC 2435 tables equal these; 0 = none does
    std::vector<std::uint8_t> scan; // entropy-coded data after SOS, without the EOI marker
    std::vector<std::uint8_t> file; // the whole picture as it was read (SOI to EOI)
};

struct JpegClip {
    std::vector<JpegPicture> pictures;
};

// ParseMjpeg splits concatenated baseline JPEG pictures. Null with `error` set on a picture that
// RTP/JPEG cannot carry (progressive, 12-bit, not 3 components, sampling other than 4:2:0/4:2:2,
// larger than 2040 pixels).
std::shared_ptr<const JpegClip> ParseMjpeg(std::span<const std::uint8_t> data, std::string* error);

// RfcQuantTables fills the luminance and chrominance tables of RFC 2435 Appendix A for Q 1..99
// (zig-zag order).
void RfcQuantTables(int q, std::array<std::uint8_t, 64>& luma,
                    std::array<std::uint8_t, 64>& chroma);

// ReadFileBytes reads a whole file; false with `error` set when it cannot be read.
bool ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out, std::string* error);

// The clips compiled into the program.
std::shared_ptr<const H264Clip> EmbeddedH264_640x480();
std::shared_ptr<const H264Clip> EmbeddedH264_1280x720();
std::shared_ptr<const H264Clip> EmbeddedH265_640x480();
std::shared_ptr<const JpegClip> EmbeddedMjpeg_704x576();
std::span<const std::uint8_t> EmbeddedFileBytes(const std::string& name);

} // namespace norvane::sim
