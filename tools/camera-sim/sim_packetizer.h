// RTP packetizers of the simulated camera: H.264 (RFC 6184: single NAL unit packets, STAP-A for
// parameter sets, FU-A for units larger than the packet), H.265 (RFC 7798: single NAL unit packets,
// aggregation packets for the units ahead of a picture, fragmentation units; no decoding order
// numbers) and JPEG (RFC 2435), the RTP fixed header and the RTCP sender report (RFC 3550).
//
// Threads: pure functions, callable from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim_media.h"

namespace norvane::sim {

constexpr std::size_t kRtpHeaderSize = 12;    // RFC 3550 section 5.1, no CSRC, no extension
constexpr std::uint8_t kPayloadTypeH264 = 96; // dynamic, named by the SDP rtpmap
constexpr std::uint8_t kPayloadTypeJpeg = 26; // static, RFC 3551

struct RtpPayload {
    std::vector<std::uint8_t> data;
    bool marker = false;
};

// PacketizeH264 turns one access unit into RTP payloads of at most `maxPayload` bytes: runs of
// parameter sets and SEI that fit together go into one STAP-A, other units that fit are sent
// alone, larger ones as FU-A fragments. The last payload of the access unit carries the marker.
std::vector<RtpPayload> PacketizeH264(const H264AccessUnit& unit, std::size_t maxPayload);

// PacketizeH265 turns one H.265 access unit into RTP payloads of at most `maxPayload` bytes: runs
// of delimiter, parameter sets and prefix SEI that fit together go into one aggregation packet,
// other units that fit are sent alone, larger ones as fragmentation units. The last payload
// carries the marker.
std::vector<RtpPayload> PacketizeH265(const H264AccessUnit& unit, std::size_t maxPayload);

// PacketizeJpeg turns one picture into RTP/JPEG payloads of at most `maxPayload` bytes. Q is the
// picture's standard Q when it has one and `inBandTables` is false; otherwise Q = 255 and the first
// payload carries the quantization tables. Pictures with restart markers get the restart header.
std::vector<RtpPayload> PacketizeJpeg(const JpegPicture& picture, std::size_t maxPayload,
                                      bool inBandTables);

// BuildRtpPacket prefixes a payload with the RTP fixed header (version 2).
std::vector<std::uint8_t> BuildRtpPacket(std::uint8_t payloadType, bool marker,
                                         std::uint16_t sequence, std::uint32_t timestamp,
                                         std::uint32_t ssrc, std::span<const std::uint8_t> payload);

// BuildSenderReport returns a compound RTCP packet: a sender report without report blocks and a
// source description with the CNAME (RFC 3550 sections 6.4.1 and 6.5).
std::vector<std::uint8_t> BuildSenderReport(std::uint32_t ssrc, std::uint64_t ntpTimestamp,
                                            std::uint32_t rtpTimestamp, std::uint32_t packetCount,
                                            std::uint32_t octetCount, const std::string& cname);

// BuildBye returns an RTCP BYE for `ssrc` (RFC 3550 section 6.6).
std::vector<std::uint8_t> BuildBye(std::uint32_t ssrc);

} // namespace norvane::sim
