#include "rtsp/rtsp_types.h"

namespace norvane {

std::string_view MethodName(std::uint32_t method) {
    switch (method) {
    case kDescribe:
        return "DESCRIBE";
    case kSetup:
        return "SETUP";
    case kPlay:
        return "PLAY";
    case kTeardown:
        return "TEARDOWN";
    case kOptions:
        return "OPTIONS";
    case kPause:
        return "PAUSE";
    default:
        return {};
    }
}

std::uint64_t KeepAliveIntervalMs(std::uint32_t announcedSeconds, std::uint32_t fallbackSeconds) {
    const std::uint64_t seconds = announcedSeconds > 0 ? announcedSeconds : fallbackSeconds;
    return seconds * 1000U / 2U;
}

} // namespace norvane
