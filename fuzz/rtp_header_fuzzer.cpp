// Fuzz target: the RTP fixed-header parse over arbitrary datagrams.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "rtp/rtp_packet_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> datagram(data, data + size); // exact-size copy
    norvane::RtpPacketInfo packet;
    if (norvane::ParseRtpHeader(datagram, packet)) {
        // Every pointer the parse hands out lies within the datagram, and the payload ends
        // where the padding (its count in the last octet) begins.
        const std::uint8_t* end = datagram.data() + datagram.size();
        const std::uint8_t* payloadEnd = packet.padding ? end - datagram.back() : end;
        if (packet.payload < datagram.data() || packet.payloadLength < 0 ||
            packet.payload + packet.payloadLength != payloadEnd ||
            (packet.csrcList != nullptr && packet.csrcList + 4 * packet.csrcCount > end) ||
            (packet.extensionData != nullptr && packet.extensionData > end)) {
            __builtin_trap();
        }
    }
    return 0;
}
