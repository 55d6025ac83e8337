// The built-in simulated camera that vantrel-capture starts on loopback when no --camera is
// given, so that a capture works with no camera at hand.
#pragma once

#include <memory>
#include <string>

#include "commands.h"

namespace vantrel::capture {

class BuiltInCamera {
public:
    virtual ~BuiltInCamera() = default;
    [[nodiscard]] virtual CameraEndpoint Endpoint() const = 0;

    // Start runs the simulated camera for the stream the options ask for; null with `error` set
    // when it cannot start.
    static std::unique_ptr<BuiltInCamera> Start(const Options& options, std::string& error);
};

} // namespace vantrel::capture
