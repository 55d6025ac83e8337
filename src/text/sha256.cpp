#include "text/sha256.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace norvane {
namespace {

// Round constants: the first 32 bits of the fractional parts of the cube roots of the first 64
// primes (FIPS 180-4, section 4.2.2).
constexpr std::array<std::uint32_t, 64> kRound = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};

constexpr std::size_t kBlockSize = 64;
constexpr std::size_t kLengthOffset = 56; // the 64-bit message length ends each padded block

std::uint32_t RotateRight(std::uint32_t x, unsigned n) {
    return (x >> n) | (x << (32 - n));
}

class CSha256 {
public:
    void Update(std::string_view data) {
        for (const char c : data) {
            Push(static_cast<std::uint8_t>(c));
        }
        m_totalBytes += data.size();
    }

    std::array<std::uint8_t, 32> Finish() {
        // Section 5.1.1: one 1 bit, zeros up to 56 bytes modulo 64, the bit length big-endian.
        const std::uint64_t bitCount = m_totalBytes * 8U;
        Push(0x80);
        while (m_blockFill != kLengthOffset) {
            Push(0x00);
        }
        for (int shift = 56; shift >= 0; shift -= 8) {
            Push(static_cast<std::uint8_t>(bitCount >> shift));
        }
        std::array<std::uint8_t, 32> digest{};
        for (std::size_t i = 0; i < m_state.size(); ++i) {
            for (std::size_t b = 0; b < 4; ++b) {
                digest[i * 4 + b] = static_cast<std::uint8_t>(m_state[i] >> (24 - 8 * b));
            }
        }
        return digest;
    }

private:
    void Push(std::uint8_t byte) {
        m_block[m_blockFill++] = byte;
        if (m_blockFill == kBlockSize) {
            Transform();
            m_blockFill = 0;
        }
    }

    // Transform hashes one 512-bit block into the state (section 6.2.2).
    void Transform() {
        std::array<std::uint32_t, 64> w{};
        for (std::size_t t = 0; t < 16; ++t) {
            w[t] = static_cast<std::uint32_t>(m_block[t * 4]) << 24 |
                   static_cast<std::uint32_t>(m_block[t * 4 + 1]) << 16 |
                   static_cast<std::uint32_t>(m_block[t * 4 + 2]) << 8 |
                   static_cast<std::uint32_t>(m_block[t * 4 + 3]);
        }
        for (std::size_t t = 16; t < 64; ++t) {
            const std::uint32_t s0 =
                    RotateRight(w[t - 15], 7) ^ RotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const std::uint32_t s1 =
                    RotateRight(w[t - 2], 17) ^ RotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        std::array<std::uint32_t, 8> v = m_state;
        for (std::size_t t = 0; t < 64; ++t) {
            const std::uint32_t sum1 =
                    RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
            const std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
            const std::uint32_t t1 = v[7] + sum1 + choose + kRound[t] + w[t];
            const std::uint32_t sum0 =
                    RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
            const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
            const std::uint32_t t2 = sum0 + majority;
            v[7] = v[6];
            v[6] = v[5];
            v[5] = v[4];
            v[4] = v[3] + t1;
            v[3] = v[2];
            v[2] = v[1];
            v[1] = v[0];
            v[0] = t1 + t2;
        }
        for (std::size_t i = 0; i < m_state.size(); ++i) {
            m_state[i] += v[i];
        }
    }

    // Initial hash value (section 5.3.3).
    std::array<std::uint32_t, 8> m_state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, kBlockSize> m_block{};
    std::size_t m_blockFill = 0;
    std::uint64_t m_totalBytes = 0;
};

} // namespace

std::string Sha256Hex(std::string_view text) {
    CSha256 sha;
    sha.Update(text);
    constexpr std::string_view kHexDigits = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (const std::uint8_t byte : sha.Finish()) {
        hex.push_back(kHexDigits[byte >> 4]);
        hex.push_back(kHexDigits[byte & 0x0f]);
    }
    return hex;
}

} // namespace norvane
