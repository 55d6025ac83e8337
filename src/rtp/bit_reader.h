// CBitReader: reads the bits of a NAL unit payload (H.264 and H.265 parameter sets) most
// significant first, with the Exp-Golomb codes both standards use. Bounded whatever the input: a
// read past the end fails and every later read fails at once, and a code of more than 31 leading
// zeros fails, so a parse stops at its first overrun.
//
// Threads: a plain value over borrowed bytes; one reader per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace norvane {

constexpr unsigned kMaxExpGolombZeros = 31; // a ue(v) value must fit 32 bits

// CBitReader skips emulation-prevention bytes (a 03 after two zero bytes, H.264 7.4.1, H.265
// 7.4.2) as a decoder does. A bit past the end reads as 1 and marks the read as failed.
class CBitReader {
public:
    explicit CBitReader(std::span<const std::uint8_t> data) : m_data(data) {}

    [[nodiscard]] bool Failed() const { return m_failed; }

    std::uint32_t Bit() {
        if (m_failed) {
            return 1;
        }
        if (m_bit == 0 && m_zeros >= 2 && m_byte < m_data.size() && m_data[m_byte] == 0x03) {
            ++m_byte;
            m_zeros = 0;
        }
        if (m_byte >= m_data.size()) {
            m_failed = true;
            return 1;
        }
        const std::uint8_t byte = m_data[m_byte];
        const std::uint32_t value = (byte >> (7 - m_bit)) & 1U;
        if (++m_bit == 8) {
            m_bit = 0;
            ++m_byte;
            m_zeros = byte == 0 ? m_zeros + 1 : 0;
        }
        return value;
    }

    std::uint32_t Bits(unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count && !m_failed; ++i) {
            value = (value << 1) | Bit();
        }
        return value;
    }

    // Ue reads an Exp-Golomb code ue(v) (H.264 9.1).
    std::uint32_t Ue() {
        unsigned zeros = 0;
        while (!m_failed && Bit() == 0) {
            if (++zeros > kMaxExpGolombZeros) {
                m_failed = true;
            }
        }
        if (m_failed) {
            return 0;
        }
        const std::uint64_t value = ((std::uint64_t{1} << zeros) - 1) + Bits(zeros);
        return static_cast<std::uint32_t>(value);
    }

    // Se reads a signed Exp-Golomb code se(v) (H.264 9.1.1).
    std::int64_t Se() {
        const std::uint32_t code = Ue();
        return (code & 1U) != 0 ? (static_cast<std::int64_t>(code) + 1) / 2
                                : -static_cast<std::int64_t>(code / 2);
    }

private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_byte = 0;
    unsigned m_bit = 0;   // next bit within m_data[m_byte], 0 = most significant
    unsigned m_zeros = 0; // zero bytes just read, for emulation prevention
    bool m_failed = false;
};

} // namespace norvane
