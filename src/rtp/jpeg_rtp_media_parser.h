// CJpegRTPMediaParser: rebuilds complete JPEG pictures from the RTP payload format for JPEG
// (RFC 2435): collects the fragments of one picture and, at the marker bit, writes the headers the
// payload format leaves out in front of the scan data and delivers the picture as "JPEG".
// Quantization tables come from Q (below 128) or from the table header of the first fragment
// (128 and above; a table length of 0 reuses the last tables received for that Q); types 64 to
// 127 carry restart markers, whose header is stripped and whose interval is written to the
// picture.
//
// Threads: OnPacket on the channel's packet receive thread only. Owned by the MJPEG stream channel.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "rtp/rtp_media_parser.h"

namespace norvane {

class CJpegRTPMediaParser : public CRTPMediaParser {
public:
    CJpegRTPMediaParser(IDriver* driver, std::string name);

protected:
    // ParsePayload takes a picture's first fragment (headers checked, tables remembered) whole and
    // the scan data of the following ones; fragments before a first one reset the parser.
    [[nodiscard]] PayloadResult ParsePayload(std::span<const std::uint8_t> payload) override;
    void OnFrameComplete() override;

private:
    // Tables of one Q value from 128 to 254, kept for pictures that refer to them by length 0.
    struct CachedTables {
        std::array<std::uint8_t, 128> luma{};
        std::array<std::uint8_t, 128> chroma{};
        std::size_t lumaSize = 0;
        std::size_t chromaSize = 0;
    };

    // AcceptFirstFragment checks the headers of a picture's first fragment and remembers its
    // tables; false when the fragment is too short for them or refers to tables never received.
    [[nodiscard]] bool AcceptFirstFragment(std::span<const std::uint8_t> payload);
    // BuildPicture writes the whole JPEG picture into `out`; its length, or 0 on failure.
    [[nodiscard]] std::size_t BuildPicture(std::span<std::uint8_t> out);

    std::map<std::uint8_t, CachedTables> m_tables;
};

} // namespace norvane
