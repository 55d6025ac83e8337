// Command line of vantrel-capture: what to do and with which camera.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::capture {

enum class Command { Capture, Probe, IO, Help, Version };
enum class StreamKind { H264, H265, Mjpeg };

// How much the tool tells on stderr: -q errors only, default the tool's lines and the driver's
// errors, -v also the driver's information and the tool's details.
constexpr int kVerbosityQuiet = 0;
constexpr int kVerbosityNormal = 1;
constexpr int kVerbosityVerbose = 2;

// Stall time-out of a capture with a frame or time limit when none is given.
constexpr double kDefaultStallTimeoutSeconds = 10;

struct Options {
    Command command = Command::Capture;
    std::string plugin;     // path of the plug-in; empty: the one built beside the tool
    std::string cameraHost; // empty: start the built-in simulated camera
    std::uint16_t httpPort = 80;
    std::string user;
    std::string password;
    std::string passwordFile; // read by the program; the password is its first line
    bool passwordGiven = false;
    StreamKind stream = StreamKind::H264;
    std::uint16_t width = 640;
    std::uint16_t height = 480;
    std::uint16_t fps = 25;
    std::uint16_t quality = 50;
    std::optional<std::uint16_t> rtspPort;
    bool ntsc = false;
    std::string transport;      // "auto", "udp" or "tcp"; empty: the driver's default (auto)
    double durationSeconds = 0; // of streaming, from the first frame; 0: no limit
    std::uint64_t frames = 0;   // 0: no frame limit
    std::string out;        // .h264 or .h265 file, .mjpeg file, a folder for .jpg pictures, or "-"
    bool overwrite = false; // -y: an existing output file is replaced
    double connectTimeoutSeconds = 30;
    std::optional<double> stallTimeoutSeconds; // unset: the default for the run's limits
    bool keepTrying = false;                   // never give up, like a recording server
    bool json = false;     // capture: final summary as JSON; probe: capabilities as JSON
    bool progress = false; // capture: one JSON line per second on stdout
    std::vector<std::pair<std::uint32_t, std::uint32_t>> outputSwitches; // io: index, state
    int verbosity = kVerbosityNormal;
};

// StallTimeout is the time without a frame after which a capture that already streamed gives
// up; 0 when it never does.
[[nodiscard]] double StallTimeout(const Options& options);

// ParseResult carries the options, or the message for a command-line error.
struct ParseResult {
    Options options;
    std::string error;
};

ParseResult ParseOptions(const std::vector<std::string>& arguments);

// UsageText is the --help text.
std::string UsageText();

// VersionText is the --version line.
std::string VersionText();

} // namespace vantrel::capture
