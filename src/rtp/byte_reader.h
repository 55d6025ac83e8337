// CByteReader: reads big-endian wire fields from a byte range. Every read checks the bytes left
// first and fails cleanly (returns false, moves nothing) on underrun, so no length taken from the
// network can move a cursor past the data it describes.
//
// Threads: a plain value; one reader per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace norvane {

class CByteReader {
public:
    explicit CByteReader(std::span<const std::uint8_t> data) : m_data(data) {}

    [[nodiscard]] bool ReadU8(std::uint8_t& value) {
        if (Remaining() < 1) {
            return false;
        }
        value = m_data[m_position++];
        return true;
    }

    [[nodiscard]] bool ReadBE16(std::uint16_t& value) {
        if (Remaining() < 2) {
            return false;
        }
        value = static_cast<std::uint16_t>((m_data[m_position] << 8) | m_data[m_position + 1]);
        m_position += 2;
        return true;
    }

    // ReadBE24 reads a three-byte field (the RTP/JPEG fragment offset) into the low 24 bits.
    [[nodiscard]] bool ReadBE24(std::uint32_t& value) {
        if (Remaining() < 3) {
            return false;
        }
        value = (static_cast<std::uint32_t>(m_data[m_position]) << 16) |
                (static_cast<std::uint32_t>(m_data[m_position + 1]) << 8) | m_data[m_position + 2];
        m_position += 3;
        return true;
    }

    [[nodiscard]] bool ReadBE32(std::uint32_t& value) {
        if (Remaining() < 4) {
            return false;
        }
        value = (static_cast<std::uint32_t>(m_data[m_position]) << 24) |
                (static_cast<std::uint32_t>(m_data[m_position + 1]) << 16) |
                (static_cast<std::uint32_t>(m_data[m_position + 2]) << 8) | m_data[m_position + 3];
        m_position += 4;
        return true;
    }

    // ReadBytes hands out the next `count` bytes as a view into the data.
    [[nodiscard]] bool ReadBytes(std::size_t count, std::span<const std::uint8_t>& bytes) {
        if (Remaining() < count) {
            return false;
        }
        bytes = m_data.subspan(m_position, count);
        m_position += count;
        return true;
    }

    [[nodiscard]] bool Skip(std::size_t count) {
        if (Remaining() < count) {
            return false;
        }
        m_position += count;
        return true;
    }

    [[nodiscard]] std::size_t Remaining() const { return m_data.size() - m_position; }

    [[nodiscard]] std::size_t Position() const { return m_position; }

    [[nodiscard]] std::span<const std::uint8_t> Rest() const { return m_data.subspan(m_position); }

private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_position = 0;
};

} // namespace norvane
