// The numbers the host and the driver agree on: stream types of the connection settings, the
// numbered parameters read by the camera layer, and the camera's default ports and time-out.
#pragma once

#include <cstdint>
#include <string_view>

#include "norvane/host.h"
#include "norvane/host.h" // the stream types of the host's connection settings

namespace norvane {

// Time-out used with Vantrel cameras for requests and data.
constexpr std::int32_t kVantrelTimeoutMs = 10000;

// Numbered parameters read by the camera layer.
constexpr std::uint32_t kParamVideoStandard = 1; // non-zero: 60 Hz
constexpr std::uint32_t kParamRtspPort = 2;
constexpr std::uint32_t kParamFirmware = 3;
constexpr std::uint32_t kParamTransport = kOpenParamTransport;

// How a channel receives RTP (parameter kParamTransport).
enum class TransportMode { Auto, Udp, Tcp };

// ParseTransportMode reads the parameter's text ("auto", "udp", "tcp", any case); an empty text
// means Auto, anything else nothing.
constexpr bool ParseTransportMode(std::string_view text, TransportMode& mode) {
    const auto is = [text](std::string_view name) {
        if (text.size() != name.size()) {
            return false;
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c =
                    text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
            if (c != name[i]) {
                return false;
            }
        }
        return true;
    };
    if (text.empty() || is("auto")) {
        mode = TransportMode::Auto;
    } else if (is("udp")) {
        mode = TransportMode::Udp;
    } else if (is("tcp")) {
        mode = TransportMode::Tcp;
    } else {
        return false;
    }
    return true;
}

// The camera's RTSP port when the host names none.
constexpr std::uint16_t kDefaultRtspPort = 554;

} // namespace norvane
