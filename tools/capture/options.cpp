#include "options.h"

#include <charconv>
#include <limits>

namespace vantrel::capture {
namespace {

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

bool ParseCamera(const std::string& text, Options& options) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        options.cameraHost = text;
        return !text.empty();
    }
    options.cameraHost = text.substr(0, colon);
    return !options.cameraHost.empty() &&
           ParseNumber<std::uint16_t>(text.substr(colon + 1), options.httpPort, 1, 65535);
}

bool ParseSwitch(const std::string& text, Options& options) {
    // OUTPUT=on|off|STATE, for example 0=on
    const std::size_t eq = text.find('=');
    std::uint32_t index = 0;
    if (eq == std::string::npos || !ParseNumber<std::uint32_t>(text.substr(0, eq), index, 0, 255)) {
        return false;
    }
    const std::string value = text.substr(eq + 1);
    std::uint32_t state = 0;
    if (value == "on") {
        state = 1;
    } else if (value == "off") {
        state = 2;
    } else if (!ParseNumber<std::uint32_t>(value, state, 1, 1000)) {
        return false;
    }
    options.outputSwitches.emplace_back(index, state);
    return true;
}

} // namespace

ParseResult ParseOptions(const std::vector<std::string>& arguments) {
    ParseResult result;
    Options& o = result.options;
    std::size_t i = 0;
    if (!arguments.empty() && arguments[0] == "probe") {
        o.command = Command::Probe;
        i = 1;
    } else if (!arguments.empty() && arguments[0] == "io") {
        o.command = Command::IO;
        i = 1;
    } else if (!arguments.empty() && arguments[0] == "capture") {
        i = 1;
    }
    auto fail = [&](const std::string& message) {
        result.error = message;
        return result;
    };
    for (; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "-h" || arg == "--help") {
            o.command = Command::Help;
            return result;
        }
        if (arg == "--ntsc") {
            o.ntsc = true;
            continue;
        }
        if (arg == "--json") {
            o.json = true;
            continue;
        }
        if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
            continue;
        }
        if (arg == "--verbose" || arg == "-v") {
            o.verbosity = 3;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            return fail("unexpected argument '" + arg + "'");
        }
        if (i + 1 >= arguments.size()) {
            return fail("option " + arg + " needs a value");
        }
        const std::string& value = arguments[++i];
        bool ok = true;
        if (arg == "--camera") {
            ok = ParseCamera(value, o);
        } else if (arg == "--plugin") {
            o.plugin = value;
        } else if (arg == "--user") {
            o.user = value;
        } else if (arg == "--password") {
            o.password = value;
        } else if (arg == "--stream") {
            ok = value == "h264" || value == "mjpeg";
            o.stream = value == "mjpeg" ? StreamKind::Mjpeg : StreamKind::H264;
        } else if (arg == "--size") {
            ok = ParseSize(value, o.width, o.height);
        } else if (arg == "--fps") {
            ok = ParseNumber<std::uint16_t>(value, o.fps, 1, 60);
        } else if (arg == "--quality") {
            ok = ParseNumber<std::uint16_t>(value, o.quality, 0, 100);
        } else if (arg == "--rtsp-port") {
            std::uint16_t port = 0;
            ok = ParseNumber<std::uint16_t>(value, port, 1, 65535);
            o.rtspPort = port;
        } else if (arg == "--transport") {
            ok = value == "auto" || value == "udp" || value == "tcp";
            o.transport = value;
        } else if (arg == "--duration") {
            ok = ParseSeconds(value, o.durationSeconds);
        } else if (arg == "--frames") {
            ok = ParseNumber<std::uint64_t>(value, o.frames, 1,
                                            std::numeric_limits<std::uint64_t>::max());
        } else if (arg == "--out") {
            o.out = value;
            ok = !value.empty();
        } else if (arg == "--connect-timeout") {
            ok = ParseSeconds(value, o.connectTimeoutSeconds);
        } else if (arg == "--set") {
            ok = ParseSwitch(value, o);
        } else {
            return fail("unknown option " + arg);
        }
        if (!ok) {
            return fail("invalid value '" + value + "' for " + arg);
        }
    }
    return result;
}

std::string UsageText() {
    return R"(vantrel-capture: capture video from a Vantrel camera through the capture driver plug-in.

Usage:
  vantrel-capture [capture] [options]   capture frames (from the built-in simulated camera
                                        when no --camera is given)
  vantrel-capture probe [options]       ask the camera for its capabilities
  vantrel-capture io [options]          watch the alarm input and switch the relay output

Camera:
  --camera HOST[:HTTP_PORT]   the camera (default: start the built-in simulated camera)
  --user NAME, --password PW  credentials
  --rtsp-port PORT            RTSP port (default 554)
  --ntsc                      60 Hz camera (default 50 Hz)
  --transport auto|udp|tcp    RTP over UDP, inside the RTSP connection, or UDP falling back to
                              the connection when it does not arrive (default auto)
  --connect-timeout SECONDS   give up when no frame arrived by then (default 30)

Capture:
  --stream h264|mjpeg         main stream as H.264 or second stream as MJPEG (default h264)
  --size WxH                  picture size (default 640x480)
  --fps N                     frames per second (default 25)
  --quality Q                 0 to 100, turned into a bit rate (default 50)
  --duration SECONDS          stop after this time
  --frames N                  stop after N frames
  --out PATH                  FILE.h264 (Annex-B), FILE.mjpeg, or a folder for NNNNNN.jpg pictures
  -q, --quiet                 no live status line; -v, --verbose: show every driver message

Probe:
  --json                      print the capabilities as JSON instead of a table

I/O:
  --set OUTPUT=on|off         switch a relay output (repeatable), then watch the inputs
  --duration SECONDS          how long to watch (default: until Ctrl-C)

Other:
  --plugin PATH               the driver plug-in to load (default: the one built with this tool)
  -h, --help                  this text

Exit status: 0 success, 2 bad arguments, 3 plug-in not loadable, 4 camera unreachable or no
frames, 5 credentials refused, 130 interrupted before the first frame.
)";
}

} // namespace vantrel::capture
