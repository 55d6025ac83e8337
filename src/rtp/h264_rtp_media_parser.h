// CH264RTPMediaParser: rebuilds H.264 access units from the RTP payload format of RFC 6184
// (single NAL unit packets, STAP-A, FU-A) as a byte stream with three-byte start codes, puts the
// parameter sets before every IDR picture that arrives fragmented, reads the picture size from the
// SPS and delivers each access unit as "H264" (carries an SPS) or "I264". After a packet loss it
// goes on without waiting for the next IDR picture when the slice headers show that no reference
// picture was lost (H.264 7.4.3: frame_num counts reference pictures), so that losing a packet of
// a picture nothing refers to costs that picture alone.
//
// Threads: OnPacket on the channel's packet receive thread; SetParameterSets on the channel thread
// before the stream starts. Owned by the H.264 stream channel.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rtp/rtp_media_parser.h"
#include "rtp/sps_reader.h"

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
    [[nodiscard]] LossAction OnLoss(std::uint32_t missing, bool frameWasOpen) override;
    void ClearFrame() override;

private:
    [[nodiscard]] PayloadResult AppendSingleNalUnit(std::span<const std::uint8_t> payload);
    [[nodiscard]] PayloadResult AppendAggregate(std::span<const std::uint8_t> payload);
    [[nodiscard]] PayloadResult AppendFragment(std::span<const std::uint8_t> payload);
    void AppendNalUnit(std::span<const std::uint8_t> nalUnit);
    // NoteUnit learns from a NAL unit of the stream: the numbering of an SPS, and of the first
    // slice of a picture its kind and frame_num. `body` is the unit after its header byte (for a
    // fragment, as much of it as the fragment holds).
    void NoteUnit(std::uint8_t header, std::span<const std::uint8_t> body);
    // FollowsReferences: the completed picture is the first after a loss, and its frame_num shows
    // that every reference picture before it arrived whole.
    [[nodiscard]] bool FollowsReferences() const;

    // What the first slice of the picture being assembled said.
    struct PictureStart {
        bool seen = false;     // a slice of it arrived
        bool readable = false; // and its header read
        bool reference = false;
        bool idr = false;
        SliceStart slice;
    };

    std::vector<std::uint8_t> m_sps;
    std::vector<std::uint8_t> m_pps;
    std::optional<SpsFrameNumbering> m_numbering; // of the stream's own SPS; none when unknown
    PictureStart m_picture;
    std::optional<std::uint32_t> m_prevRefFrameNum; // of the last intact reference picture
    bool m_checkReferences = false;                 // a loss happened since the last frame
    std::uint32_t m_missingSinceCheck = 0;
};

} // namespace norvane
