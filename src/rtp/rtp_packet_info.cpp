#include "rtp/rtp_packet_info.h"

#include <cstring>
#include <limits>

#include "rtp/byte_reader.h"

namespace norvane {

bool ParseRtpHeader(std::span<const std::uint8_t> datagram, RtpPacketInfo& packet) {
    // A packet needs at least one byte after the fixed header; larger than a signed 32-bit
    // length cannot come from a datagram.
    if (datagram.size() <= kRtpFixedHeaderSize ||
        datagram.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return false;
    }
    CByteReader reader(datagram);
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
    if (!reader.ReadU8(first) || !reader.ReadU8(second) || !reader.ReadBE16(sequence) ||
        !reader.ReadBE32(timestamp) || !reader.Skip(4)) {
        return false;
    }
    if ((first >> 6) != kRtpVersion) {
        return false;
    }
    const std::uint8_t csrcCount = first & 0x0F;
    if (csrcCount != 0) {
        packet.csrcCount = csrcCount;
        packet.csrcList = datagram.data() + reader.Position();
        if (!reader.Skip(std::size_t{4} * csrcCount)) {
            return false;
        }
    }
    if ((first & 0x10) != 0) { // X: one header extension follows the CSRC list (RFC 3550 5.3.1)
        std::uint16_t profile = 0;
        std::uint16_t words = 0;
        if (!reader.ReadBE16(profile) || !reader.ReadBE16(words)) {
            return false;
        }
        packet.extensionProfile = profile;
        packet.extensionLength = static_cast<std::uint8_t>(words & 0xFF);
        packet.extensionData = datagram.data() + reader.Position();
        // The payload starts after the whole extension, all 16 bits of its length counted.
        if (!reader.Skip(std::size_t{4} * words)) {
            return false;
        }
    }
    // The SSRC is kept as the four bytes stand in the packet (it is only compared, never read).
    std::memcpy(&packet.ssrc, datagram.data() + 8, sizeof packet.ssrc);
    packet.marker = (second & 0x80) != 0;
    packet.padding = (first & 0x20) != 0;
    packet.payloadType = second & 0x7F;
    packet.sequenceNumber = sequence;
    packet.timestamp = timestamp;
    std::size_t payloadLength = reader.Remaining();
    if (packet.padding) {
        // P: the last octet counts the padding octets, itself included (RFC 3550 5.1). A count
        // of zero or one reaching into the header cannot come from a sound sender.
        const std::size_t count = datagram.back();
        if (count == 0 || count > payloadLength) {
            return false;
        }
        payloadLength -= count;
    }
    packet.payloadLength = static_cast<std::int32_t>(payloadLength);
    packet.payload = datagram.data() + reader.Position();
    return true;
}

} // namespace norvane
