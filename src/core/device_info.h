// DEVICE_INFO: the connection record of one camera, copied whole wherever a part of the driver
// needs a setting (callers take a fresh copy each time).
#pragma once

#include <cstdint>
#include <string>

namespace norvane {

// Time-outs of a new driver record, raised by the camera layer when it opens.
constexpr std::int32_t kDefaultTimeoutMs = 5000;
constexpr std::uint16_t kDefaultHttpPort = 80;

struct DEVICE_INFO {
    virtual ~DEVICE_INFO() = default;

    std::int32_t requestTimeout = kDefaultTimeoutMs; // ms: connects, HTTP, twice bounds a stop
    std::int32_t dataTimeout = kDefaultTimeoutMs;    // ms: longest gap without frames
    std::string address;                             // host name or dotted IPv4 address
    std::uint16_t port = kDefaultHttpPort;           // the camera's HTTP port
    std::string userName;
    std::string password;
};

} // namespace norvane
