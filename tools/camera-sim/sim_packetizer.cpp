#include "sim_packetizer.h"

#include <algorithm>

namespace norvane::sim {

namespace {

constexpr std::uint8_t kStapA = 24; // RFC 6184 section 5.7.1
constexpr std::uint8_t kFuA = 28;   // RFC 6184 section 5.8

void PutBE16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void PutBE24(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    PutBE16(out, value);
}

void PutBE32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutBE16(out, value >> 16);
    PutBE16(out, value);
}

bool IsAggregatable(const std::vector<std::uint8_t>& nal) {
    const std::uint8_t type = nal[0] & 0x1F;
    return type == 6 || type == 7 || type == 8; // SEI, SPS, PPS
}

// AppendFragmentUnits sends `nal` without its `headerSize` header bytes in pieces, each after
// `prefix` (the packet's payload header) and an FU header with the start and end bits and `type`
// (RFC 6184 section 5.8, RFC 7798 section 4.4.3).
void AppendFragmentUnits(const std::vector<std::uint8_t>& nal, std::size_t headerSize,
                         const std::vector<std::uint8_t>& prefix, std::uint8_t type,
                         std::size_t maxPayload, std::vector<RtpPayload>& out) {
    const std::size_t chunk = maxPayload - prefix.size() - 1;
    for (std::size_t at = headerSize; at < nal.size(); at += chunk) {
        const std::size_t length = std::min(chunk, nal.size() - at);
        RtpPayload payload;
        payload.data.reserve(prefix.size() + 1 + length);
        payload.data = prefix;
        std::uint8_t header = type;
        if (at == headerSize) {
            header = static_cast<std::uint8_t>(header | 0x80); // S
        }
        if (at + length == nal.size()) {
            header = static_cast<std::uint8_t>(header | 0x40); // E
        }
        payload.data.push_back(header);
        payload.data.insert(payload.data.end(), nal.begin() + static_cast<std::ptrdiff_t>(at),
                            nal.begin() + static_cast<std::ptrdiff_t>(at + length));
        out.push_back(std::move(payload));
    }
}

void AppendFragments(const std::vector<std::uint8_t>& nal, std::size_t maxPayload,
                     std::vector<RtpPayload>& out) {
    const std::uint8_t indicator = static_cast<std::uint8_t>((nal[0] & 0xE0) | kFuA);
    AppendFragmentUnits(nal, 1, {indicator}, nal[0] & 0x1F, maxPayload, out);
}

constexpr std::uint8_t kH265Aggregation = 48;   // RFC 7798 section 4.4.2
constexpr std::uint8_t kH265Fragmentation = 49; // RFC 7798 section 4.4.3

std::uint8_t H265Type(const std::vector<std::uint8_t>& nal) {
    return static_cast<std::uint8_t>((nal[0] >> 1) & 0x3F);
}

bool IsH265Aggregatable(const std::vector<std::uint8_t>& nal) {
    const std::uint8_t type = H265Type(nal);
    return (type >= 32 && type <= 35) || type == 39; // VPS, SPS, PPS, delimiter, prefix SEI
}

// The two-byte payload header of an aggregation or fragmentation packet: F, the packet type, the
// layer id of `nal` and the given temporal id plus one (RFC 7798 section 4.4).
void PutH265PayloadHeader(std::vector<std::uint8_t>& out, std::uint8_t forbidden, std::uint8_t type,
                          const std::vector<std::uint8_t>& nal, std::uint8_t tidPlus1) {
    out.push_back(static_cast<std::uint8_t>(forbidden | (type << 1) | (nal[0] & 0x01)));
    out.push_back(static_cast<std::uint8_t>((nal[1] & 0xF8) | tidPlus1));
}

void AppendH265Fragments(const std::vector<std::uint8_t>& nal, std::size_t maxPayload,
                         std::vector<RtpPayload>& out) {
    std::vector<std::uint8_t> prefix;
    PutH265PayloadHeader(prefix, nal[0] & 0x80, kH265Fragmentation, nal, nal[1] & 0x07);
    AppendFragmentUnits(nal, 2, prefix, H265Type(nal), maxPayload, out);
}

} // namespace

namespace {

using NalUnits = std::vector<std::vector<std::uint8_t>>;

// What the H.264 and H.265 payload formats differ in; the packetizing itself is the same.
struct NalPayloadFormat {
    std::size_t headerSize; // payload header of an aggregation packet
    bool (*aggregatable)(const std::vector<std::uint8_t>& nal);
    // Writes the aggregation packet's payload header for the units [first, end).
    void (*putAggregationHeader)(std::vector<std::uint8_t>& out, const NalUnits& nals,
                                 std::size_t first, std::size_t end);
    void (*appendFragments)(const std::vector<std::uint8_t>& nal, std::size_t maxPayload,
                            std::vector<RtpPayload>& out);
};

// PacketizeUnits puts runs of at least two small units that fit together into one aggregation
// packet, each other unit into a packet of its own, fragmented when it is too large; the last
// packet carries the marker.
std::vector<RtpPayload> PacketizeUnits(const NalUnits& nals, std::size_t maxPayload,
                                       const NalPayloadFormat& format) {
    std::vector<RtpPayload> out;
    std::size_t i = 0;
    while (i < nals.size()) {
        std::size_t end = i;
        std::size_t size = format.headerSize;
        while (end < nals.size() && format.aggregatable(nals[end]) &&
               size + 2 + nals[end].size() <= maxPayload) {
            size += 2 + nals[end].size();
            ++end;
        }
        if (end - i >= 2) {
            RtpPayload payload;
            format.putAggregationHeader(payload.data, nals, i, end);
            for (std::size_t k = i; k < end; ++k) {
                PutBE16(payload.data, static_cast<std::uint32_t>(nals[k].size()));
                payload.data.insert(payload.data.end(), nals[k].begin(), nals[k].end());
            }
            out.push_back(std::move(payload));
            i = end;
            continue;
        }
        if (nals[i].size() <= maxPayload) {
            out.push_back(RtpPayload{nals[i], false});
        } else {
            format.appendFragments(nals[i], maxPayload, out);
        }
        ++i;
    }
    if (!out.empty()) {
        out.back().marker = true;
    }
    return out;
}

// STAP-A: F is set when any unit has it; NRI is the highest of the units.
void PutStapAHeader(std::vector<std::uint8_t>& out, const NalUnits& nals, std::size_t first,
                    std::size_t end) {
    std::uint8_t forbidden = 0;
    std::uint8_t nri = 0;
    for (std::size_t k = first; k < end; ++k) {
        forbidden = static_cast<std::uint8_t>(forbidden | (nals[k][0] & 0x80));
        nri = std::max(nri, static_cast<std::uint8_t>(nals[k][0] & 0x60));
    }
    out.push_back(static_cast<std::uint8_t>(forbidden | nri | kStapA));
}

// Aggregation packet: F is set when any unit has it; the temporal id is the lowest of the units.
void PutH265AggregationHeader(std::vector<std::uint8_t>& out, const NalUnits& nals,
                              std::size_t first, std::size_t end) {
    std::uint8_t forbidden = 0;
    std::uint8_t tidPlus1 = 7;
    for (std::size_t k = first; k < end; ++k) {
        forbidden = static_cast<std::uint8_t>(forbidden | (nals[k][0] & 0x80));
        tidPlus1 = std::min(tidPlus1, static_cast<std::uint8_t>(nals[k][1] & 0x07));
    }
    PutH265PayloadHeader(out, forbidden, kH265Aggregation, nals[first], tidPlus1);
}

} // namespace

std::vector<RtpPayload> PacketizeH265(const H264AccessUnit& unit, std::size_t maxPayload) {
    static constexpr NalPayloadFormat kFormat{2, IsH265Aggregatable, PutH265AggregationHeader,
                                              AppendH265Fragments};
    return PacketizeUnits(unit.nalUnits, maxPayload, kFormat);
}

std::vector<RtpPayload> PacketizeH264(const H264AccessUnit& unit, std::size_t maxPayload) {
    static constexpr NalPayloadFormat kFormat{1, IsAggregatable, PutStapAHeader, AppendFragments};
    return PacketizeUnits(unit.nalUnits, maxPayload, kFormat);
}

std::vector<RtpPayload> PacketizeJpeg(const JpegPicture& picture, std::size_t maxPayload,
                                      bool inBandTables) {
    std::vector<RtpPayload> out;
    const bool standard = picture.standardQ != 0 && !inBandTables;
    const std::uint8_t q = standard ? picture.standardQ : 255;
    const bool restart = picture.type >= 64;
    std::size_t offset = 0;
    do {
        RtpPayload payload;
        // Main JPEG header, RFC 2435 section 3.1.
        payload.data.push_back(0); // type-specific
        PutBE24(payload.data, static_cast<std::uint32_t>(offset));
        payload.data.push_back(picture.type);
        payload.data.push_back(q);
        payload.data.push_back(static_cast<std::uint8_t>(picture.width / 8));
        payload.data.push_back(static_cast<std::uint8_t>(picture.height / 8));
        if (restart) {
            // Restart marker header, section 3.1.7: F = L = 1 and count 0x3FFF, so the picture
            // is decoded as a whole.
            PutBE16(payload.data, picture.restartInterval);
            PutBE16(payload.data, 0xFFFF);
        }
        if (q >= 128 && offset == 0) {
            // Quantization table header, section 3.1.8: MBZ, precision 0 (8-bit), length 128.
            payload.data.push_back(0);
            payload.data.push_back(0);
            PutBE16(payload.data, 128);
            payload.data.insert(payload.data.end(), picture.lumaTable.begin(),
                                picture.lumaTable.end());
            payload.data.insert(payload.data.end(), picture.chromaTable.begin(),
                                picture.chromaTable.end());
        }
        const std::size_t room =
                maxPayload > payload.data.size() ? maxPayload - payload.data.size() : 1;
        const std::size_t length = std::min(room, picture.scan.size() - offset);
        payload.data.insert(payload.data.end(),
                            picture.scan.begin() + static_cast<std::ptrdiff_t>(offset),
                            picture.scan.begin() + static_cast<std::ptrdiff_t>(offset + length));
        offset += length;
        payload.marker = offset >= picture.scan.size();
        out.push_back(std::move(payload));
    } while (offset < picture.scan.size());
    return out;
}

std::vector<std::uint8_t> BuildRtpPacket(std::uint8_t payloadType, bool marker,
                                         std::uint16_t sequence, std::uint32_t timestamp,
                                         std::uint32_t ssrc,
                                         std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> packet;
    packet.reserve(kRtpHeaderSize + payload.size());
    packet.push_back(0x80); // V=2, P=0, X=0, CC=0
    packet.push_back(static_cast<std::uint8_t>((marker ? 0x80 : 0x00) | (payloadType & 0x7F)));
    PutBE16(packet, sequence);
    PutBE32(packet, timestamp);
    PutBE32(packet, ssrc);
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

std::vector<std::uint8_t> BuildSenderReport(std::uint32_t ssrc, std::uint64_t ntpTimestamp,
                                            std::uint32_t rtpTimestamp, std::uint32_t packetCount,
                                            std::uint32_t octetCount, const std::string& cname) {
    std::vector<std::uint8_t> out;
    out.push_back(0x80); // V=2, RC=0
    out.push_back(200);  // SR
    PutBE16(out, 6);     // 28 bytes
    PutBE32(out, ssrc);
    PutBE32(out, static_cast<std::uint32_t>(ntpTimestamp >> 32));
    PutBE32(out, static_cast<std::uint32_t>(ntpTimestamp));
    PutBE32(out, rtpTimestamp);
    PutBE32(out, packetCount);
    PutBE32(out, octetCount);
    // SDES with one chunk: SSRC, CNAME item, end item, padding to a 32-bit boundary.
    const std::size_t nameLength = std::min<std::size_t>(cname.size(), 255);
    std::size_t chunk = 4 + 2 + nameLength + 1;
    chunk = (chunk + 3) / 4 * 4;
    out.push_back(0x81); // V=2, SC=1
    out.push_back(202);  // SDES
    PutBE16(out, static_cast<std::uint32_t>(chunk / 4));
    PutBE32(out, ssrc);
    out.push_back(1); // CNAME
    out.push_back(static_cast<std::uint8_t>(nameLength));
    out.insert(out.end(), cname.begin(), cname.begin() + static_cast<std::ptrdiff_t>(nameLength));
    out.resize(28 + 4 + chunk, 0);
    return out;
}

std::vector<std::uint8_t> BuildBye(std::uint32_t ssrc) {
    std::vector<std::uint8_t> out = {0x81, 203, 0, 1};
    PutBE32(out, ssrc);
    return out;
}

} // namespace norvane::sim
