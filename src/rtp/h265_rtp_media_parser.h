// CH265RTPMediaParser: rebuilds H.265 access units from the RTP payload format of RFC 7798
// (single NAL unit packets, aggregation packets, fragmentation units; no decoding order numbers)
// as a byte stream with three-byte start codes. An IRAP picture that arrives without its VPS, SPS
// and PPS gets the sets last seen (in band, or from the session description) in front, so that
// every "H265" frame decodes on its own; the picture size comes from the SPS. Frames are "H265"
// (parameter sets before an IRAP picture) or "I265"; a frame with a broken fragmentation unit is
// never delivered.
//
// Threads: OnPacket on the channel's packet receive thread; SetParameterSets on the channel thread
// before the stream starts. Owned by the H.265 stream channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "rtp/rtp_media_parser.h"
#include "rtp/sps_reader.h"

namespace norvane {

class CH265RTPMediaParser : public CRTPMediaParser {
public:
    CH265RTPMediaParser(IDriver* driver, std::string name);

    // SetParameterSets installs the VPS, SPS and PPS of the session description (one NAL unit
    // each, two-byte header included, no start code). False, and nothing changed, when one is
    // missing or the SPS does not read.
    bool SetParameterSets(std::span<const std::uint8_t> vps, std::span<const std::uint8_t> sps,
                          std::span<const std::uint8_t> pps);

    [[nodiscard]] const std::vector<std::uint8_t>& Sps() const { return m_sps; }

protected:
    [[nodiscard]] PayloadResult ParsePayload(std::span<const std::uint8_t> payload) override;
    void OnFrameComplete() override;

private:
    // Where a parameter set of the frame lies in m_frame (after its start code).
    struct NalRange {
        std::size_t begin = 0;
        std::size_t end = 0;

        [[nodiscard]] bool Found() const { return end > begin; }
    };

    // What the frame in progress holds so far; cleared whenever m_frame is empty.
    struct FrameState {
        NalRange vps;
        NalRange sps;
        NalRange pps;
        NalRange* open = nullptr; // the parameter set being appended, until the next unit starts
        std::size_t setsAt = 0;   // where missing sets go: the first unit after the delimiter
        bool setsAtKnown = false;
        bool picture = false;    // a VCL unit has started
        bool syncPoint = false;  // an IRAP picture with all three sets before it
        bool inBandSets = false; // those sets came with the frame
        bool fragmentOpen = false;
    };

    [[nodiscard]] PayloadResult AppendSingleNalUnit(std::span<const std::uint8_t> payload);
    [[nodiscard]] PayloadResult AppendAggregate(std::span<const std::uint8_t> payload);
    [[nodiscard]] PayloadResult AppendFragment(std::span<const std::uint8_t> payload);
    // StartNalUnit appends a start code for a unit whose header is `header0 header1` and whose
    // payload begins with `first`; when the unit starts an IRAP picture that came without its
    // parameter sets, the stored ones are put in. False when the header is not a valid one.
    [[nodiscard]] bool StartNalUnit(std::uint8_t header0, std::uint8_t header1, std::uint8_t first);
    // InsertStoredSets puts the stored sets the frame lacks where its sets belong (after the
    // access unit delimiter, before SEI) and makes the frame a sync point; nothing when some set
    // was never stored.
    void InsertStoredSets();
    void KeepInBandSets();
    [[nodiscard]] PayloadResult Opened() const;

    std::vector<std::uint8_t> m_vps;
    std::vector<std::uint8_t> m_sps;
    std::vector<std::uint8_t> m_pps;
    SpsSize m_storedSize;
    FrameState m_state;
    std::uint8_t m_fragmentType = 0; // type of the unit being fragmented
};

} // namespace norvane
