#include "options.h"

#include <charconv>
#include <limits>

namespace vantrel::capture {
namespace {

// Which subcommands take an option.
constexpr unsigned kCapture = 1;
constexpr unsigned kProbe = 2;
constexpr unsigned kIO = 4;
constexpr unsigned kAll = kCapture | kProbe | kIO;

template <class T>
bool ParseNumber(const std::string& text, T& value, T minimum, T maximum) {
    T parsed{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, parsed);
    if (ec != std::errc() || ptr != end || parsed < minimum || parsed > maximum) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseSeconds(const std::string& text, double& value) {
    try {
        std::size_t used = 0;
        const double parsed = std::stod(text, &used);
        if (used != text.size() || !(parsed > 0) || parsed > 1e7) {
            return false;
        }
        value = parsed;
        return true;
    } catch (...) {
        return false;
    }
}

bool ParseSize(const std::string& text, std::uint16_t& width, std::uint16_t& height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        return false;
    }
    std::uint16_t w = 0;
    std::uint16_t h = 0;
    if (!ParseNumber<std::uint16_t>(text.substr(0, x), w, 16, 8192) ||
        !ParseNumber<std::uint16_t>(text.substr(x + 1), h, 16, 8192) || w % 8 != 0 || h % 8 != 0) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

// An option's setter: empty when the value was taken, else why it was refused (appended to
// "invalid value 'V' for --NAME").
using Setter = std::string (*)(Options&, const std::string&);

std::string Check(bool ok) {
    return ok ? "" : "-";
}

std::string SetCamera(Options& o, const std::string& text) {
    std::string host = text;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
            return "-";
        }
        // The address is read, but the driver reaches its cameras over IPv4 only.
        return ": " + text.substr(1, close - 1) +
               " is an IPv6 address, and the driver reaches cameras over IPv4 only";
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
        return ": an IPv6 address goes in brackets ([ADDRESS]:PORT), and the driver reaches "
               "cameras over IPv4 only";
    }
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        if (!ParseNumber<std::uint16_t>(text.substr(colon + 1), o.httpPort, 1, 65535)) {
            return "-";
        }
    }
    o.cameraHost = host;
    return Check(!host.empty());
}

std::string SetSwitch(Options& o, const std::string& text) {
    // OUTPUT=on|off|1|2, for example 0=on
    const std::size_t eq = text.find('=');
    std::uint32_t index = 0;
    if (eq == std::string::npos || !ParseNumber<std::uint32_t>(text.substr(0, eq), index, 0, 255)) {
        return ": expected OUTPUT=on or OUTPUT=off, for example 0=on";
    }
    const std::string value = text.substr(eq + 1);
    std::uint32_t state = 0;
    if (value == "on" || value == "1") {
        state = 1;
    } else if (value == "off" || value == "2") {
        state = 2;
    } else {
        return ": the state is on (1) or off (2)";
    }
    o.outputSwitches.emplace_back(index, state);
    return "";
}

// Setters shared by many rows.
template <std::string Options::*kField>
std::string SetText(Options& o, const std::string& v) {
    o.*kField = v;
    return Check(!v.empty());
}

template <bool Options::*kField>
std::string SetFlag(Options& o, const std::string&) {
    o.*kField = true;
    return "";
}

template <std::uint16_t Options::*kField, std::uint16_t kMinimum, std::uint16_t kMaximum>
std::string SetNumber(Options& o, const std::string& v) {
    return Check(ParseNumber<std::uint16_t>(v, o.*kField, kMinimum, kMaximum));
}

template <double Options::*kField>
std::string SetSeconds(Options& o, const std::string& v) {
    return Check(ParseSeconds(v, o.*kField));
}

template <int kLevel>
std::string SetVerbosity(Options& o, const std::string&) {
    o.verbosity = kLevel;
    return "";
}

template <Command kCommand>
std::string SetCommand(Options& o, const std::string&) {
    o.command = kCommand;
    return "";
}

std::string SetUser(Options& o, const std::string& v) {
    o.user = v; // may be empty: no user
    return "";
}

std::string SetPassword(Options& o, const std::string& v) {
    o.password = v;
    o.passwordGiven = true;
    return "";
}

std::string SetRtspPort(Options& o, const std::string& v) {
    std::uint16_t port = 0;
    const bool ok = ParseNumber<std::uint16_t>(v, port, 1, 65535);
    o.rtspPort = port;
    return Check(ok);
}

std::string SetStream(Options& o, const std::string& v) {
    o.stream = v == "mjpeg" ? StreamKind::Mjpeg : v == "h265" ? StreamKind::H265 : StreamKind::H264;
    return Check(v == "h264" || v == "h265" || v == "mjpeg");
}

std::string SetTransport(Options& o, const std::string& v) {
    o.transport = v;
    return Check(v == "auto" || v == "udp" || v == "tcp");
}

std::string SetSize(Options& o, const std::string& v) {
    return Check(ParseSize(v, o.width, o.height));
}

std::string SetFrames(Options& o, const std::string& v) {
    return Check(
            ParseNumber<std::uint64_t>(v, o.frames, 1, std::numeric_limits<std::uint64_t>::max()));
}

std::string SetStallTimeout(Options& o, const std::string& v) {
    double seconds = 0;
    const bool ok = v == "0" || ParseSeconds(v, seconds);
    o.stallTimeoutSeconds = seconds;
    return Check(ok);
}

struct OptionRow {
    const char* name;      // long name with its dashes
    const char* shortName; // or null
    bool takesValue;
    unsigned commands; // kCapture | kProbe | kIO
    Setter set;
};

// One row per option: adding an option is adding a row.
const OptionRow kOptions[] = {
        {"--camera", nullptr, true, kAll, SetCamera},
        {"--user", nullptr, true, kAll, SetUser},
        {"--password", nullptr, true, kAll, SetPassword},
        {"--password-file", nullptr, true, kAll, SetText<&Options::passwordFile>},
        {"--rtsp-port", nullptr, true, kCapture | kProbe, SetRtspPort},
        {"--ntsc", nullptr, false, kAll, SetFlag<&Options::ntsc>},
        {"--connect-timeout", nullptr, true, kAll, SetSeconds<&Options::connectTimeoutSeconds>},
        {"--stream", nullptr, true, kCapture, SetStream},
        {"--transport", nullptr, true, kCapture, SetTransport},
        {"--size", nullptr, true, kCapture, SetSize},
        {"--fps", nullptr, true, kCapture, SetNumber<&Options::fps, 1, 60>},
        {"--quality", nullptr, true, kCapture, SetNumber<&Options::quality, 0, 100>},
        {"--duration", nullptr, true, kCapture | kIO, SetSeconds<&Options::durationSeconds>},
        {"--frames", nullptr, true, kCapture, SetFrames},
        {"--out", nullptr, true, kCapture, SetText<&Options::out>},
        {"--overwrite", "-y", false, kCapture, SetFlag<&Options::overwrite>},
        {"--stall-timeout", nullptr, true, kCapture, SetStallTimeout},
        {"--keep-trying", nullptr, false, kCapture, SetFlag<&Options::keepTrying>},
        {"--json", nullptr, false, kCapture | kProbe, SetFlag<&Options::json>},
        {"--progress", nullptr, false, kCapture, SetFlag<&Options::progress>},
        {"--set", nullptr, true, kIO, SetSwitch},
        {"--plugin", nullptr, true, kAll, SetText<&Options::plugin>},
        {"--quiet", "-q", false, kAll, SetVerbosity<kVerbosityQuiet>},
        {"--verbose", "-v", false, kAll, SetVerbosity<kVerbosityVerbose>},
        {"--help", "-h", false, kAll, SetCommand<Command::Help>},
        {"--version", nullptr, false, kAll, SetCommand<Command::Version>},
};

const char* CommandName(unsigned command) {
    return command == kProbe ? "probe" : command == kIO ? "io" : "capture";
}

} // namespace

double StallTimeout(const Options& options) {
    if (options.keepTrying) {
        return 0;
    }
    if (options.stallTimeoutSeconds) {
        return *options.stallTimeoutSeconds;
    }
    return options.frames > 0 || options.durationSeconds > 0 ? kDefaultStallTimeoutSeconds : 0;
}

ParseResult ParseOptions(const std::vector<std::string>& arguments) {
    ParseResult result;
    Options& o = result.options;
    std::size_t i = 0;
    unsigned command = kCapture;
    if (!arguments.empty() && arguments[0] == "probe") {
        o.command = Command::Probe;
        command = kProbe;
        i = 1;
    } else if (!arguments.empty() && arguments[0] == "io") {
        o.command = Command::IO;
        command = kIO;
        i = 1;
    } else if (!arguments.empty() && arguments[0] == "capture") {
        i = 1;
    }
    const Command chosen = o.command;
    auto fail = [&](const std::string& message) {
        result.error = message;
        return result;
    };
    for (; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        const std::size_t eq = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        const OptionRow* row = nullptr;
        for (const OptionRow& candidate : kOptions) {
            if (name == candidate.name ||
                (candidate.shortName != nullptr && name == candidate.shortName)) {
                row = &candidate;
            }
        }
        if (row == nullptr) {
            return fail(name.rfind('-', 0) == 0 ? "unknown option " + name
                                                : "unexpected argument '" + arg + "'");
        }
        if ((row->commands & command) == 0) {
            return fail("option " + std::string(row->name) + " is not an option of " +
                        CommandName(command));
        }
        std::string value;
        if (!row->takesValue) {
            if (eq != std::string::npos) {
                return fail("option " + std::string(row->name) + " takes no value");
            }
        } else if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return fail("option " + std::string(row->name) + " needs a value");
        }
        const std::string refusal = row->set(o, value);
        if (!refusal.empty()) {
            return fail("invalid value '" + value + "' for " + row->name +
                        (refusal == "-" ? "" : refusal));
        }
        if (o.command == Command::Help || o.command == Command::Version) {
            return result;
        }
    }
    o.command = chosen;
    if (o.progress && o.out == "-") {
        return fail("--progress writes to standard output, which --out - takes for the video");
    }
    if (o.json && o.out == "-") {
        return fail("--json writes to standard output, which --out - takes for the video");
    }
    if (o.passwordGiven && !o.passwordFile.empty()) {
        return fail("give either --password or --password-file, not both");
    }
    return result;
}

std::string VersionText() {
    return "vantrel-capture " VANTREL_CAPTURE_VERSION "\n";
}

std::string UsageText() {
    return R"(vantrel-capture: capture video from a Vantrel camera through the capture driver plug-in.

Usage:
  vantrel-capture [capture] [options]   capture frames (from the built-in simulated camera
                                        when no --camera is given)
  vantrel-capture probe [options]       ask the camera for its capabilities
  vantrel-capture io [options]          switch the relay output and watch the alarm input

Options take their value as --name VALUE or --name=VALUE. An option of another subcommand is
refused.

Camera (every subcommand):
  --camera HOST[:HTTP_PORT]   the camera, an IPv4 address or a name (default: start the built-in
                              simulated camera; HTTP port 80)
  --user NAME                 user name
  --password PW               password (seen by other users in the process list: prefer
                              --password-file or the VANTREL_PASSWORD environment variable)
  --password-file FILE        read the password from the first line of FILE
  --ntsc                      60 Hz camera (default 50 Hz)
  --connect-timeout SECONDS   capture: give up when no frame arrived by then; probe: when the
                              camera did not answer; io: when a switch was not confirmed
                              (default 30)

Capture:
  --rtsp-port PORT            RTSP port (default 554; also shown by probe)
  --stream h264|h265|mjpeg    main stream as H.264 or H.265, or second stream as MJPEG
                              (default h264)
  --transport auto|udp|tcp    RTP over UDP, inside the RTSP connection, or UDP falling back to
                              the connection when it does not arrive (default auto)
  --size WxH                  picture size asked of the camera (default 640x480); a camera that
                              delivers another size is reported
  --fps N                     frames per second (default 25)
  --quality Q                 0 to 100, turned into a bit rate (default 50)
  --duration SECONDS          stop after this much streaming (counted from the first frame)
  --frames N                  stop after N frames
  --stall-timeout SECONDS     give up when no frame came for this long after the first (default
                              10 with --duration or --frames, else never; 0: never)
  --keep-trying               never give up: not on time-outs (--connect-timeout and
                              --stall-timeout are not used), refused credentials or an
                              unreachable camera, as a recording server runs the driver
  --out PATH                  FILE.h264 or FILE.h265 (Annex-B), FILE.mjpeg, a folder for
                              NNNNNN.jpg pictures, or - for standard output; an existing file
                              is refused
  -y, --overwrite             replace an existing output file
  --json                      print the final summary as one JSON object on standard output
  --progress                  print one JSON object per second on standard output

Probe:
  --json                      print the capabilities as JSON instead of a table (errors too)

I/O:
  --set OUTPUT=on|off         switch relay output OUTPUT (0 is the first) on or off; 'on' is the
                              camera's useron state (1), 'off' its useroff state (2); repeatable.
                              A switch is reported once the camera confirmed it.
  --duration SECONDS          how long to watch the alarm input (default: until Ctrl-C)

Other:
  --plugin PATH               the driver plug-in to load (default: the one built with this tool)
  -q, --quiet                 errors, warnings and the summary only on standard error: no
                              status line, no information lines
  -v, --verbose               also the driver's information messages and the tool's details
  -h, --help                  this text
  --version                   the tool's version

Lines on standard error start with the time of day. On a terminal a status line is redrawn in
place; otherwise a status line is logged every 5 s.

Exit status:
  0    success
  2    bad arguments (also: an existing output file without -y, a relay the camera lacks)
  3    plug-in not loadable, or the driver refused to start
  4    camera unreachable, no frame (whatever ended the run), the stream stalled before the
       run's limit, or an I/O switch the camera did not confirm
  5    credentials refused (HTTP or RTSP)
  6    the output was not fully written (write or close failed)
  130  interrupted (Ctrl-C, SIGTERM) before the first frame
)";
}

} // namespace vantrel::capture
