// CH264RTPMediaParser: rebuilds H.264 access units from the RTP payload format of RFC 6184
// (single NAL unit packets, STAP-A, FU-A) as a byte stream with three-byte start codes, puts the
// parameter sets before every IDR picture that arrives fragmented, reads the picture size from the
// SPS and delivers each access unit as "H264" (carries an SPS) or "I264".
//
// Threads: OnPacket on the channel's packet receive thread; SetParameterSets on the channel thread
// before the stream starts. Owned by the H.264 stream channel.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "rtp/rtp_media_parser.h"

namespace norvane {

class CH264RTPMediaParser : public CRTPMediaParser {
public:
    CH264RTPMediaParser(IDriver* driver, std::string name);

    // SetParameterSets installs the SPS and PPS of the session description (one NAL unit each,
    // header byte included, no start code). When the SPS does not read, the made-up pair for the
    // configured size replaces both. Does nothing when either is empty.
    void SetParameterSets(std::span<const std::uint8_t> sps, std::span<const std::uint8_t> pps);

    // MakeParameterSets replaces both sets by a made-up SPS for the client's configured size and a
    // fixed Baseline PPS; false when there is no client or no usable size.
    bool MakeParameterSets();

    [[nodiscard]] const std::vector<std::uint8_t>& Sps() const { return m_sps; }

    [[nodiscard]] const std::vector<std::uint8_t>& Pps() const { return m_pps; }

protected:
    [[nodiscard]] PayloadResult ParsePayload(std::span<const std::uint8_t> payload) override;
    void OnFrameComplete() override;

private:
    [[nodiscard]] PayloadResult AppendSingleNalUnit(std::span<const std::uint8_t> payload);
    [[nodiscard]] PayloadResult AppendAggregate(std::span<const std::uint8_t> payload);
    [[nodiscard]] PayloadResult AppendFragment(std::span<const std::uint8_t> payload);
    void AppendNalUnit(std::span<const std::uint8_t> nalUnit);

    std::vector<std::uint8_t> m_sps;
    std::vector<std::uint8_t> m_pps;
};

} // namespace norvane
