#include "rtp/jpeg_header.h"

#include <algorithm>
#include <cstring>

namespace norvane {
namespace {

// ITU-T T.81 annex K, tables K.1 and K.2, in row order.
constexpr std::array<std::uint8_t, 64> kLumaTable = {
        16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<std::uint8_t, 64> kChromaTable = {
        17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
        99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
        99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Zig-zag sequence: entry k of a zig-zag table is entry kZigZag[k] of the row-order table.
constexpr std::array<std::uint8_t, 64> kZigZag = {
        0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
        30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Huffman tables of T.81 annex K (K.3 to K.6): code counts per length, then the values.
constexpr std::array<std::uint8_t, 16> kLumaDcCounts = {0, 1, 5, 1, 1, 1, 1, 1,
                                                        1, 0, 0, 0, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 12> kDcValues = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::array<std::uint8_t, 16> kChromaDcCounts = {0, 3, 1, 1, 1, 1, 1, 1,
                                                          1, 1, 1, 0, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 16> kLumaAcCounts = {0, 2, 1, 3, 3, 2, 4, 3,
                                                        5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr std::array<std::uint8_t, 162> kLumaAcValues = {
        0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
        0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
        0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
        0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
        0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
        0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
        0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
        0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
        0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
        0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
        0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr std::array<std::uint8_t, 16> kChromaAcCounts = {0, 2, 1, 2, 4, 4, 3, 4,
                                                          7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr std::array<std::uint8_t, 162> kChromaAcValues = {
        0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
        0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
        0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
        0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
        0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
        0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
        0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
        0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
        0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
        0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
        0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// Markers (T.81 table B.1).
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kDqt = 0xDB;
constexpr std::uint8_t kSof0 = 0xC0;
constexpr std::uint8_t kDht = 0xC4;
constexpr std::uint8_t kDri = 0xDD;
constexpr std::uint8_t kSos = 0xDA;

constexpr std::size_t kTable8 = 64;
constexpr std::size_t kTable16 = 128;
constexpr std::size_t kSofSize = 19;
constexpr std::size_t kDriSize = 6;
constexpr std::size_t kSosSize = 14;
constexpr std::size_t kHuffmanSize = 4 * 5 + 4 * 16 + 2 * 12 + 2 * 162;

// CWriter appends to a fixed buffer whose size the caller has checked.
class CWriter {
public:
    explicit CWriter(std::uint8_t* out) : m_out(out) {}

    void Byte(std::uint8_t value) { m_out[m_length++] = value; }

    void BE16(std::size_t value) {
        Byte(static_cast<std::uint8_t>(value >> 8));
        Byte(static_cast<std::uint8_t>(value & 0xFF));
    }

    void Bytes(std::span<const std::uint8_t> bytes) {
        std::memcpy(m_out + m_length, bytes.data(), bytes.size());
        m_length += bytes.size();
    }

    void Marker(std::uint8_t marker) {
        Byte(0xFF);
        Byte(marker);
    }

    [[nodiscard]] std::size_t Length() const { return m_length; }

private:
    std::uint8_t* m_out;
    std::size_t m_length = 0;
};

void WriteQuantTable(CWriter& out, std::uint8_t id, std::span<const std::uint8_t> table) {
    const bool sixteenBit = table.size() == kTable16;
    out.Marker(kDqt);
    out.BE16(3 + table.size());
    out.Byte(static_cast<std::uint8_t>((sixteenBit ? 0x10 : 0x00) | id)); // Pq, Tq
    out.Bytes(table);
}

void WriteHuffmanTable(CWriter& out, std::uint8_t classAndId, std::span<const std::uint8_t> counts,
                       std::span<const std::uint8_t> values) {
    out.Marker(kDht);
    out.BE16(3 + counts.size() + values.size());
    out.Byte(classAndId);
    out.Bytes(counts);
    out.Bytes(values);
}

bool ValidTable(std::span<const std::uint8_t> table) {
    return table.size() == kTable8 || table.size() == kTable16;
}

} // namespace

void MakeQuantTables(int q, QuantTable& luma, QuantTable& chroma) {
    const int clamped = std::clamp(q, 1, 99);
    const int scale = q < 50 ? 5000 / clamped : 200 - 2 * clamped;
    for (std::size_t k = 0; k < 64; ++k) {
        const std::size_t row = kZigZag[k];
        luma[k] =
                static_cast<std::uint8_t>(std::clamp((kLumaTable[row] * scale + 50) / 100, 1, 255));
        chroma[k] = static_cast<std::uint8_t>(
                std::clamp((kChromaTable[row] * scale + 50) / 100, 1, 255));
    }
}

std::size_t JpegHeaderSize(const JpegHeaderFields& fields) {
    return 2 + (4 + 1 + fields.luma.size()) + (4 + 1 + fields.chroma.size()) + kSofSize +
           kHuffmanSize + (fields.restartInterval != 0 ? kDriSize : 0) + kSosSize;
}

std::size_t WriteJpegHeader(const JpegHeaderFields& fields, std::span<std::uint8_t> out) {
    if (!ValidTable(fields.luma) || !ValidTable(fields.chroma) ||
        out.size() < JpegHeaderSize(fields)) {
        return 0;
    }
    CWriter w(out.data());
    w.Marker(kSoi);
    WriteQuantTable(w, 0, fields.luma);
    WriteQuantTable(w, 1, fields.chroma);
    // Baseline frame header: 8-bit samples, three components; luminance sampled 2x1 for type 0
    // (4:2:2) and 2x2 for the others (4:2:0), chrominance 1x1 on table 1 (RFC 2435 3.1.3).
    w.Marker(kSof0);
    w.BE16(kSofSize - 2);
    w.Byte(8);
    w.BE16(fields.height);
    w.BE16(fields.width);
    w.Byte(3);
    w.Byte(0);
    w.Byte(fields.type == 0 ? 0x21 : 0x22);
    w.Byte(0);
    w.Byte(1);
    w.Byte(0x11);
    w.Byte(1);
    w.Byte(2);
    w.Byte(0x11);
    w.Byte(1);
    WriteHuffmanTable(w, 0x00, kLumaDcCounts, kDcValues);
    WriteHuffmanTable(w, 0x10, kLumaAcCounts, kLumaAcValues);
    WriteHuffmanTable(w, 0x01, kChromaDcCounts, kDcValues);
    WriteHuffmanTable(w, 0x11, kChromaAcCounts, kChromaAcValues);
    if (fields.restartInterval != 0) {
        w.Marker(kDri);
        w.BE16(4);
        w.BE16(fields.restartInterval);
    }
    // Scan header: three components, tables 0/0, 1/1, 1/1, full spectral range.
    w.Marker(kSos);
    w.BE16(kSosSize - 2);
    w.Byte(3);
    w.Byte(0);
    w.Byte(0x00);
    w.Byte(1);
    w.Byte(0x11);
    w.Byte(2);
    w.Byte(0x11);
    w.Byte(0);
    w.Byte(63);
    w.Byte(0);
    return w.Length();
}

} // namespace norvane
