// Encoder configuration of a Vantrel camera: the frame rate, bit rate and stream sizes a channel
// asks for, and the set_setup.video.codec request that writes them. Pure functions.
#pragma once

#include <cstdint>
#include <string>

#include "channels/camera_channel.h"

namespace norvane {

// The values of one configuration request: stream 0 (the channel's own stream) and stream 1.
struct StreamCodecSettings {
    std::string codec0 = "h264";
    std::string codec1 = "none";
    std::uint32_t width0 = 0;
    std::uint32_t height0 = 0;
    std::uint32_t width1 = 0;
    std::uint32_t height1 = 0;
    float frameRate = 5.0F;
    std::uint32_t bitRate = 1000;
};

// StreamFrameRate turns a frame interval into the rate the camera offers for its field rate:
// 50 Hz cameras run 12.5, 8.3, 6.3, 4.2, 3.1 and 2.1 fps where a whole rate is asked, 60 Hz ones
// 7.5, 4.3 and 2.5.
float StreamFrameRate(std::uint32_t frameIntervalMs, bool ntsc);

// StreamBitRate turns the host's quality into kbit/s: 512 below quality 2, else 512 + 74.88 per
// quality step.
std::uint32_t StreamBitRate(std::uint32_t quality);

// H264StreamSettings: the main stream at the asked size; the second stream 320x240 above 720
// pixels of width, else at the same size.
StreamCodecSettings H264StreamSettings(const ChannelStartRecord& start, bool ntsc);

// H265StreamSettings: as H264StreamSettings, with the main stream encoded as H.265.
StreamCodecSettings H265StreamSettings(const ChannelStartRecord& start, bool ntsc);

// MjpegStreamSettings: both streams at the asked size, limited to 704x576 (the record is reduced
// in place, so the picture size the parser expects follows).
StreamCodecSettings MjpegStreamSettings(ChannelStartRecord& start, bool ntsc);

// CodecRequest is the CGI request text that writes `settings`.
std::string CodecRequest(const StreamCodecSettings& settings, bool ntsc);

} // namespace norvane
