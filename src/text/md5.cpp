#include "text/md5.h"

#include <array>
#include <cstdint>
#include <span>

#include "text/text_utils.h"

namespace norvane {
namespace {

// MD5 as described in RFC 1321, section 3.
class CMd5 {
public:
    void Update(std::span<const std::uint8_t> data) {
        for (const std::uint8_t byte : data) {
            m_block[m_blockFill++] = byte;
            if (m_blockFill == m_block.size()) {
                Transform();
                m_blockFill = 0;
            }
        }
        m_totalBytes += data.size();
    }

    std::array<std::uint8_t, 16> Finish() {
        const std::uint64_t bitCount = m_totalBytes * 8U;
        // Step 1: one 1 bit, zeros up to 56 bytes modulo 64; step 2: the length, low byte first.
        static constexpr std::array<std::uint8_t, 1> kOne{0x80};
        Update(kOne);
        static constexpr std::array<std::uint8_t, 1> kZero{0x00};
        while (m_blockFill != 56) {
            Update(kZero);
        }
        std::array<std::uint8_t, 8> length{};
        for (std::size_t i = 0; i < length.size(); ++i) {
            length[i] = static_cast<std::uint8_t>(bitCount >> (8 * i));
        }
        Update(length);
        std::array<std::uint8_t, 16> digest{};
        for (std::size_t i = 0; i < 4; ++i) {
            for (std::size_t b = 0; b < 4; ++b) {
                digest[i * 4 + b] = static_cast<std::uint8_t>(m_state[i] >> (8 * b));
            }
        }
        return digest;
    }

private:
    static std::uint32_t RotateLeft(std::uint32_t x, unsigned n) {
        return (x << n) | (x >> (32 - n));
    }

    void Transform() {
        // Per-round shift amounts and the sine table T[i] = floor(2^32 * |sin(i + 1)|).
        static constexpr std::array<unsigned, 64> kShift = {
                7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
        static constexpr std::array<std::uint32_t, 64> kSine = {
                0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
                0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
                0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
                0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
                0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
                0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
                0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
                0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
                0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
                0xeb86d391};
        std::array<std::uint32_t, 16> x{};
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = static_cast<std::uint32_t>(m_block[i * 4]) |
                   static_cast<std::uint32_t>(m_block[i * 4 + 1]) << 8 |
                   static_cast<std::uint32_t>(m_block[i * 4 + 2]) << 16 |
                   static_cast<std::uint32_t>(m_block[i * 4 + 3]) << 24;
        }
        std::uint32_t a = m_state[0];
        std::uint32_t b = m_state[1];
        std::uint32_t c = m_state[2];
        std::uint32_t d = m_state[3];
        for (std::size_t i = 0; i < 64; ++i) {
            std::uint32_t f = 0;
            std::size_t g = 0;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (b & d) | (c & ~d);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const std::uint32_t next = b + RotateLeft(a + f + kSine[i] + x[g], kShift[i]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        m_state[0] += a;
        m_state[1] += b;
        m_state[2] += c;
        m_state[3] += d;
    }

    std::array<std::uint32_t, 4> m_state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::array<std::uint8_t, 64> m_block{};
    std::size_t m_blockFill = 0;
    std::uint64_t m_totalBytes = 0;
};

} // namespace

std::string Md5Hex(std::string_view text) {
    CMd5 md5;
    md5.Update({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    std::string hex;
    hex.reserve(32);
    for (const std::uint8_t byte : md5.Finish()) {
        hex += FormatString("%02x", byte);
    }
    return hex;
}

} // namespace norvane
