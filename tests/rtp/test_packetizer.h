// A packetizer for tests: turns H.264 byte streams and JPEG files into RTP payloads (RFC 6184,
// RFC 2435) the way camera packetizers do. Written apart from the driver's code so that a shared
// misreading of the payload formats cannot hide itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace norvane::test {

using Bytes8 = std::vector<std::uint8_t>;

struct RtpPayload {
    Bytes8 payload;
    bool marker = false;
};

// NAL units of a byte stream without their start codes (and without trailing zero bytes).
std::vector<Bytes8> SplitNalUnits(std::span<const std::uint8_t> byteStream);

// Access units of a NAL unit sequence: each starts at an access unit delimiter.
std::vector<std::vector<Bytes8>> SplitAccessUnits(const std::vector<Bytes8>& nalUnits);

enum class ParameterSetMode {
    InBand,    // SPS, PPS and SEI aggregated in one STAP-A ahead of the slices
    OutOfBand, // SPS, PPS and SEI not sent (the receiver has them from the session description)
};

// PacketizeAccessUnit: the delimiter as a single NAL unit packet, parameter sets as `mode` says,
// slices as single NAL unit packets up to `mtu` bytes and as FU-A fragments above; the marker on
// the last packet.
std::vector<RtpPayload> PacketizeAccessUnit(const std::vector<Bytes8>& accessUnit,
                                            ParameterSetMode mode, std::size_t mtu);

// What RFC 2435 needs of one baseline JPEG picture.
struct JpegPicture {
    std::uint8_t type = 0; // 0: 4:2:2, 1: 4:2:0
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t restartInterval = 0;
    std::array<std::uint8_t, 64> luma{}; // zig-zag order, as in the file
    std::array<std::uint8_t, 64> chroma{};
    Bytes8 scan; // entropy-coded data, without the end-of-image marker
};

// The pictures of a file of concatenated JPEG pictures.
std::vector<Bytes8> SplitJpegPictures(std::span<const std::uint8_t> file);
std::optional<JpegPicture> ParseJpegPicture(std::span<const std::uint8_t> picture);

// PacketizeJpeg sends `picture` with factor `q`. With `sendTables` and q >= 128 the first fragment
// carries a table header with both tables; without it a q >= 128 picture has a table length of 0.
// Restart intervals use types 64 and 65 with a restart header in every packet.
std::vector<RtpPayload> PacketizeJpeg(const JpegPicture& picture, std::uint8_t q, bool sendTables,
                                      std::size_t mtu);

} // namespace norvane::test
