// Command line of vantrel-capture: what to do and with which camera.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::capture {

enum class Command { Capture, Probe, IO, Help };
enum class StreamKind { H264, Mjpeg };

struct Options {
    Command command = Command::Capture;
    std::string plugin;     // path of the plug-in; empty: the one built beside the tool
    std::string cameraHost; // empty: start the built-in simulated camera
    std::uint16_t httpPort = 80;
    std::string user;
    std::string password;
    StreamKind stream = StreamKind::H264;
    std::uint16_t width = 640;
    std::uint16_t height = 480;
    std::uint16_t fps = 25;
    std::uint16_t quality = 50;
    std::optional<std::uint16_t> rtspPort;
    bool ntsc = false;
    std::string transport;      // "auto", "udp" or "tcp"; empty: the driver's default (auto)
    double durationSeconds = 0; // 0: until the frame limit or Ctrl-C
    std::uint64_t frames = 0;   // 0: no frame limit
    std::string out;            // .h264 file, .mjpeg file, or a folder for .jpg pictures
    double connectTimeoutSeconds = 30;
    bool json = false; // probe: JSON instead of a table
    std::vector<std::pair<std::uint32_t, std::uint32_t>> outputSwitches; // io: index, state
    bool quiet = false;                                                  // no live status line
    int verbosity = 2; // highest debug level printed
};

// ParseResult carries the options, or the message for a command-line error.
struct ParseResult {
    Options options;
    std::string error;
};

ParseResult ParseOptions(const std::vector<std::string>& arguments);

// UsageText is the --help text.
std::string UsageText();

} // namespace vantrel::capture
