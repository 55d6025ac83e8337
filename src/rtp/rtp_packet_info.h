// RtpPacketInfo: one RTP packet split into its fixed-header fields (RFC 3550 section 5.1) and its
// payload, and ParseRtpHeader, the pure parse that fills it from one datagram.
//
// The pointers point into the datagram and are valid only as long as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace norvane {

constexpr std::size_t kRtpFixedHeaderSize = 12; // RFC 3550 5.1
constexpr std::uint8_t kRtpVersion = 2;         // RFC 3550 5.1: V field

struct RtpPacketInfo {
    std::uint8_t csrcCount = 0;                  // CC: contributing sources (0 to 15)
    const std::uint8_t* csrcList = nullptr;      // first CSRC identifier; null when CC is 0
    std::uint32_t ssrc = 0;                      // the four bytes as they stand in the packet
    bool marker = false;                         // M: last packet of a frame
    bool padding = false;                        // P: the padding is already cut off
    std::uint8_t payloadType = 0;                // PT, 7 bits
    std::uint16_t sequenceNumber = 0;            // host byte order
    std::uint32_t timestamp = 0;                 // host byte order
    std::uint8_t extensionLength = 0;            // extension length in words, low 8 bits only
    std::uint16_t extensionProfile = 0;          // as it stands in the packet
    const std::uint8_t* extensionData = nullptr; // first word after the extension header
    std::int32_t payloadLength = 0;              // bytes after the header, padding excluded
    const std::uint8_t* payload = nullptr;       // first payload byte

    // Payload returns the payload as a range (empty when there is none).
    [[nodiscard]] std::span<const std::uint8_t> Payload() const {
        if (payload == nullptr || payloadLength <= 0) {
            return {};
        }
        return {payload, static_cast<std::size_t>(payloadLength)};
    }
};

// ParseRtpHeader fills `packet` (which the caller has zeroed) from `datagram`. It fails for a
// datagram of 12 bytes or fewer, a version other than 2, a datagram too short for its CSRC list
// or header extension, and a padding count of zero or beyond the payload. The payload excludes
// the padding and may be empty (a packet of padding alone still carries its sequence number).
// Payload type, SSRC and sequence are not judged here.
[[nodiscard]] bool ParseRtpHeader(std::span<const std::uint8_t> datagram, RtpPacketInfo& packet);

} // namespace norvane
