// The numbers the host and the driver agree on: stream types of the connection settings, the
// numbered parameters read by the camera layer, and the camera's default ports and time-out.
#pragma once

#include <cstdint>

#include "norvane/host.h" // the stream types of the host's connection settings

namespace norvane {

// Time-out used with Vantrel cameras for requests and data.
constexpr std::int32_t kVantrelTimeoutMs = 10000;

// Numbered parameters read by the camera layer.
constexpr std::uint32_t kParamVideoStandard = 1; // non-zero: 60 Hz
constexpr std::uint32_t kParamRtspPort = 2;
constexpr std::uint32_t kParamFirmware = 3;

// The camera's RTSP port when the host names none.
constexpr std::uint16_t kDefaultRtspPort = 554;

} // namespace norvane
