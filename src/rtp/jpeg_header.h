// Pure helpers of the RTP/JPEG payload format (RFC 2435): the quantization tables computed from
// Q, and the writer of the JPEG headers that the payload format leaves out (tables, frame header,
// Huffman tables, restart interval, scan header).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace norvane {

// Size of the header written for 8-bit tables and no restart interval.
constexpr std::size_t kJpegBaseHeaderSize = 605;

using QuantTable = std::array<std::uint8_t, 64>;

// MakeQuantTables computes the luminance and chrominance tables, in zig-zag order, that an
// RTP/JPEG Q factor below 128 stands for (RFC 2435 appendix A).
void MakeQuantTables(int q, QuantTable& luma, QuantTable& chroma);

// What the header writer needs of one picture. Tables are in zig-zag order: 64 bytes for an 8-bit
// table, 128 bytes (big-endian values) for a 16-bit one.
struct JpegHeaderFields {
    std::uint8_t type = 0;             // RTP/JPEG type with the restart flag (64) removed
    std::uint16_t width = 0;           // pixels
    std::uint16_t height = 0;          // pixels
    std::uint16_t restartInterval = 0; // MCUs; 0 writes no restart interval segment
    std::span<const std::uint8_t> luma;
    std::span<const std::uint8_t> chroma;
};

// JpegHeaderSize returns the number of bytes WriteJpegHeader writes for `fields`.
[[nodiscard]] std::size_t JpegHeaderSize(const JpegHeaderFields& fields);

// WriteJpegHeader writes the headers from the start-of-image marker to the scan header into
// `out`; returns the length written, or 0 when `out` is too small or a table has a size other
// than 64 or 128 bytes.
[[nodiscard]] std::size_t WriteJpegHeader(const JpegHeaderFields& fields,
                                          std::span<std::uint8_t> out);

} // namespace norvane
