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

} // namespace norvane
