#include "channels/stream_config.h"

#include "http/cgi_api.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

constexpr std::uint32_t kMjpegMaxWidth = 704;
constexpr std::uint32_t kMjpegMaxHeight = 576;
constexpr std::uint32_t kWideStreamWidth = 720; // wider main streams get a small second stream

void SetRates(StreamCodecSettings& settings, const ChannelStartRecord& start, bool ntsc) {
    settings.frameRate = StreamFrameRate(start.frameInterval, ntsc);
    settings.bitRate = StreamBitRate(start.quality);
}

} // namespace

float StreamFrameRate(std::uint32_t frameIntervalMs, bool ntsc) {
    const std::uint32_t fps = RateFromInterval(frameIntervalMs);
    if (ntsc) {
        switch (fps) {
        case 7:
            return 7.5F;
        case 4:
            return 4.3F;
        case 2:
            return 2.5F;
        default:
            return static_cast<float>(fps);
        }
    }
    switch (fps) {
    case 12:
        return 12.5F;
    case 8:
        return 8.3F;
    case 6:
        return 6.3F;
    case 4:
        return 4.2F;
    case 3:
        return 3.1F;
    case 2:
        return 2.1F;
    default:
        return static_cast<float>(fps);
    }
}

std::uint32_t StreamBitRate(std::uint32_t quality) {
    if (quality < 2) {
        return 512;
    }
    return quality * 7488 / 100 + 512;
}

StreamCodecSettings H264StreamSettings(const ChannelStartRecord& start, bool ntsc) {
    StreamCodecSettings settings;
    settings.codec0 = "h264";
    settings.codec1 = "none";
    settings.width0 = start.width;
    settings.height0 = start.height;
    if (start.width > kWideStreamWidth) {
        settings.width1 = 320;
        settings.height1 = 240;
    } else {
        settings.width1 = settings.width0;
        settings.height1 = settings.height0;
    }
    SetRates(settings, start, ntsc);
    return settings;
}

StreamCodecSettings H265StreamSettings(const ChannelStartRecord& start, bool ntsc) {
    StreamCodecSettings settings = H264StreamSettings(start, ntsc);
    settings.codec0 = "h265";
    return settings;
}

StreamCodecSettings MjpegStreamSettings(ChannelStartRecord& start, bool ntsc) {
    if (start.width > kMjpegMaxWidth || start.height > kMjpegMaxHeight) {
        start.width = kMjpegMaxWidth;
        start.height = kMjpegMaxHeight;
    }
    StreamCodecSettings settings;
    settings.codec0 = "h264";
    settings.codec1 = "mjpeg";
    settings.width0 = settings.width1 = start.width;
    settings.height0 = settings.height1 = start.height;
    SetRates(settings, start, ntsc);
    return settings;
}

std::string CodecRequest(const StreamCodecSettings& s, bool ntsc) {
    const std::string rate = FormatNumber(s.frameRate);
    std::string request = cgi::Path(cgi::kSetVideoCodec);
    request += "&codec0=" + s.codec0;
    request += FormatString("&resolution0=%ux%u", s.width0, s.height0);
    request += "&bitctrl0=cbr";
    request += FormatString("&bitavr0=%u", s.bitRate);
    request += "&fps0=" + rate;
    request += "&codec1=" + s.codec1;
    request += FormatString("&resolution1=%ux%u", s.width1, s.height1);
    request += "&bitctrl1=cbr";
    request += FormatString("&bitavr1=%u", s.bitRate);
    request += "&fps1=" + rate;
    request += FormatString("&ff_mode=%u", ntsc ? 60U : 50U);
    request += "&mirror_mode=none&bandon=no&bandwidth=5000";
    return request;
}

} // namespace norvane
