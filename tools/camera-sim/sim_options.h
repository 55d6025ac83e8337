// Command line of vantrel-camera-sim: the simulator's configuration and what the program does
// around it, read from the arguments without touching anything else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera_sim.h"

namespace norvane::sim {

struct SimOptions {
    CameraSimConfig config;
    std::uint32_t runForSec = 0;      // 0: until SIGINT or SIGTERM
    std::uint32_t alarmPeriodSec = 0; // 0: the alarm input stays off
    bool verbose = false;             // print the first line of every request
    bool help = false;                // print the usage text and do nothing else
};

// SimOptionsResult carries the options, or the message for a command-line error.
struct SimOptionsResult {
    SimOptions options;
    std::string error; // empty when the arguments are valid
};

// ParseSimOptions reads the arguments (without the program name). --help ends the reading: what
// follows it is not looked at.
[[nodiscard]] SimOptionsResult ParseSimOptions(const std::vector<std::string>& arguments);

// SimUsageText is the --help text.
[[nodiscard]] const char* SimUsageText();

} // namespace norvane::sim
