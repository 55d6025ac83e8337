#include "sim_options.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace norvane::sim {

namespace {

constexpr char kUsage[] =
        "Usage: vantrel-camera-sim [options]\n"
        "Simulates a Vantrel camera: HTTP CGI control, RTSP streams vtl_media/main (H.264) and\n"
        "vtl_media/second (RTP/JPEG), RTP/RTCP over UDP. Runs until SIGINT or SIGTERM.\n"
        "\n"
        "Server:\n"
        "  --address ADDR         local address to serve on (default 127.0.0.1)\n"
        "  --http-port N          HTTP port (default 0: any free port)\n"
        "  --rtsp-port N          RTSP port (default 0: any free port)\n"
        "  --user NAME            user name (default admin)\n"
        "  --password TEXT        password (default admin)\n"
        "  --auth MODE            none, basic or digest for HTTP and RTSP (default none)\n"
        "  --http-auth MODE       the same for HTTP only\n"
        "  --rtsp-auth MODE       the same for RTSP only\n"
        "  --http-qop on|off      HTTP Digest challenges offer qop=auth (default on)\n"
        "  --rtsp-qop on|off      RTSP Digest challenges offer qop=auth (default off)\n"
        "  --realm TEXT           authentication realm (default \"Vantrel Camera\")\n"
        "  --digest-algorithm A   MD5, MD5-sess, SHA-256 or SHA-256-sess for both servers' Digest\n"
        "                         challenges (default MD5)\n"
        "  --session-timeout S    RTSP session time-out in seconds (default 60)\n"
        "  --run-for S            stop by itself after S seconds (default: run until stopped)\n"
        "  --alarm-period S       switch the alarm input on and off every S seconds\n"
        "  --verbose              print the first line of every request received\n"
        "\n"
        "Media:\n"
        "  --h264 FILE            Annex-B H.264 file for vtl_media/main (default: embedded clips)\n"
        "  --h265 FILE            Annex-B H.265 file for vtl_media/main once a client sets\n"
        "                         codec0=h265 (default: embedded 640x480 clip)\n"
        "  --no-h265              act as a camera without H.265: codec0=h265 is refused\n"
        "  --mjpeg FILE           concatenated baseline JPEG pictures for vtl_media/second\n"
        "  --size WxH             initial main stream size: 640x480 or 1280x720 clip (default "
        "640x480)\n"
        "  --fps N                initial frame rate of both streams (default 25)\n"
        "  --mtu N                largest RTP packet in bytes, header included (default 1400)\n"
        "  --jpeg-tables          send JPEG quantization tables in-band (Q = 255) always\n"
        "  --aud                  send an access unit delimiter before every H.264 frame\n"
        "  --ntsc                 report ff_mode=60 (default 50)\n"
        "  --seed N               seed of sequence numbers, SSRCs and packet faults (default 1)\n"
        "\n"
        "Faults:\n"
        "  --stop-media           send no RTP or RTCP (sessions stay up)\n"
        "  --drop SHARE           drop this share (0..1) of RTP packets\n"
        "  --reorder SHARE        send this share of RTP packets after the next one\n"
        "  --duplicate SHARE      send this share of RTP packets twice\n"
        "  --always-401           refuse every HTTP and RTSP request with 401\n"
        "  --http-401, --rtsp-401 the same for one protocol\n"
        "  --refuse-cgi F[=CODE]  refuse CGI function F: CODE 0x... as return_code (default\n"
        "                         0x80000002) or an HTTP status such as 500\n"
        "  --close-rtsp           close RTSP connections instead of answering\n"
        "  --split-replies N[:MS] write replies in pieces of N bytes, MS ms apart (default 100)\n"
        "  --reply-delay MS       wait MS ms before every reply\n"
        "  --short-timeout S      announce and enforce an RTSP session time-out of S seconds\n"
        "  --alternate-source     send RTP from 127.0.0.2\n"
        "  --block-udp            drop all media over UDP (a camera behind a firewall);\n"
        "                         media inside the RTSP connection still flows\n"
        "  --udp-only             refuse SETUP of RTP inside the RTSP connection (461)\n"
        "  --tcp-only             refuse SETUP of RTP over UDP (461)\n"
        "  --help                 show this text\n";

constexpr char kDefaultCgiRefusal[] = "0x80000002";
constexpr std::uint64_t kMaxSeconds = 86400; // one day
constexpr std::uint64_t kMaxRunSeconds = 86400 * 365;
constexpr std::uint64_t kMaxDelayMs = 60000;
constexpr std::uint64_t kMaxSplitBytes = 65536;
constexpr std::uint64_t kDefaultSplitDelayMs = 100;
constexpr double kMaxFps = 60.0;
constexpr std::uint64_t kMaxPictureSide = 4096;
constexpr std::uint64_t kMinPictureSide = 16;

// Each setter below takes an option's value text and returns the message that refuses it, or
// an empty text when the value was taken.

// ParseNumber reads a decimal number of at most ten digits, without sign or blanks.
std::optional<std::uint64_t> ParseNumber(const std::string& text, std::uint64_t maximum) {
    std::uint64_t value = 0;
    if (text.empty() || text.size() > 10 ||
        std::from_chars(text.data(), text.data() + text.size(), value).ptr !=
                text.data() + text.size()) {
        return std::nullopt;
    }
    return value <= maximum ? std::optional(value) : std::nullopt;
}

template <typename T>
std::string SetNumber(const std::string& text, std::uint64_t minimum, std::uint64_t maximum,
                      T& target, const char* refusal) {
    const auto number = ParseNumber(text, maximum);
    if (!number || *number < minimum) {
        return refusal + text;
    }
    target = static_cast<T>(*number);
    return {};
}

std::string SetAuth(const std::string& text, std::initializer_list<AuthMode*> targets) {
    AuthMode mode = AuthMode::None;
    if (text == "basic") {
        mode = AuthMode::Basic;
    } else if (text == "digest") {
        mode = AuthMode::Digest;
    } else if (text != "none") {
        return "bad authentication mode (none, basic or digest): " + text;
    }
    for (AuthMode* target : targets) {
        *target = mode;
    }
    return {};
}

std::string SetOnOff(const std::string& text, bool& target, const char* option) {
    if (text != "on" && text != "off") {
        return std::string(option) + " takes on or off";
    }
    target = text == "on";
    return {};
}

// ParseDecimal reads a whole decimal number such as "0.25" or "12.5".
std::optional<double> ParseDecimal(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return text.empty() || *end != '\0' ? std::nullopt : std::optional(value);
}

std::string SetShare(const std::string& text, double& target) {
    const auto share = ParseDecimal(text);
    if (!share || !(*share >= 0.0 && *share <= 1.0)) {
        return "bad share (0..1): " + text;
    }
    target = *share;
    return {};
}

std::string SetSize(const std::string& text, CameraSimConfig& config) {
    const std::size_t x = text.find('x');
    const auto width = ParseNumber(text.substr(0, x), kMaxPictureSide);
    const auto height = x == std::string::npos ? std::nullopt
                                               : ParseNumber(text.substr(x + 1), kMaxPictureSide);
    if (!width || !height || *width < kMinPictureSide || *height < kMinPictureSide) {
        return "bad size (WxH): " + text;
    }
    config.width = static_cast<std::uint32_t>(*width);
    config.height = static_cast<std::uint32_t>(*height);
    return {};
}

std::string SetFps(const std::string& text, double& target) {
    const auto fps = ParseDecimal(text);
    if (!fps || !(*fps > 0.0 && *fps <= kMaxFps)) {
        return "bad frame rate (above 0, at most 60): " + text;
    }
    target = *fps;
    return {};
}

std::string SetSplit(const std::string& text, SimFaults& faults) {
    const std::size_t colon = text.find(':');
    const auto bytes = ParseNumber(text.substr(0, colon), kMaxSplitBytes);
    const auto delay = colon == std::string::npos
                               ? std::optional<std::uint64_t>(kDefaultSplitDelayMs)
                               : ParseNumber(text.substr(colon + 1), kMaxDelayMs);
    if (!bytes || *bytes == 0 || !delay) {
        return "bad split (BYTES[:MS]): " + text;
    }
    faults.splitReplyBytes = static_cast<std::uint32_t>(*bytes);
    faults.splitDelayMs = static_cast<std::uint32_t>(*delay);
    return {};
}

std::string Take(std::string& target, const std::string& text) {
    target = text;
    return {};
}

std::string Raise(bool& flag) {
    flag = true;
    return {};
}

std::string RefuseCgi(const std::string& text, SimFaults& faults) {
    const std::size_t eq = text.find('=');
    faults.refusedCgi[text.substr(0, eq)] =
            eq == std::string::npos ? kDefaultCgiRefusal : text.substr(eq + 1);
    return {};
}

// One option: its name, whether a value follows it, and what it changes. A flag's setter gets
// an empty value.
struct OptionRule {
    std::string_view name;
    bool takesValue;
    std::string (*apply)(SimOptions& options, const std::string& value);
};

using Opts = SimOptions;
using Text = const std::string&;

const OptionRule kOptions[] = {
        {"--help", false, [](Opts& o, Text) { return Raise(o.help); }},
        {"-h", false, [](Opts& o, Text) { return Raise(o.help); }},
        // Server
        {"--address", true, [](Opts& o, Text v) { return Take(o.config.bindAddress, v); }},
        {"--http-port", true,
         [](Opts& o, Text v) { return SetNumber(v, 0, 65535, o.config.httpPort, "bad port: "); }},
        {"--rtsp-port", true,
         [](Opts& o, Text v) { return SetNumber(v, 0, 65535, o.config.rtspPort, "bad port: "); }},
        {"--user", true, [](Opts& o, Text v) { return Take(o.config.user, v); }},
        {"--password", true, [](Opts& o, Text v) { return Take(o.config.password, v); }},
        {"--auth", true,
         [](Opts& o, Text v) {
             return SetAuth(v, {&o.config.httpAuth, &o.config.rtspAuth});
         }},
        {"--http-auth", true, [](Opts& o, Text v) { return SetAuth(v, {&o.config.httpAuth}); }},
        {"--rtsp-auth", true, [](Opts& o, Text v) { return SetAuth(v, {&o.config.rtspAuth}); }},
        {"--http-qop", true,
         [](Opts& o, Text v) { return SetOnOff(v, o.config.httpDigestQop, "--http-qop"); }},
        {"--rtsp-qop", true,
         [](Opts& o, Text v) { return SetOnOff(v, o.config.rtspDigestQop, "--rtsp-qop"); }},
        {"--realm", true, [](Opts& o, Text v) { return Take(o.config.realm, v); }},
        {"--digest-algorithm", true,
         [](Opts& o, Text v) -> std::string {
             for (const char* known : {"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"}) {
                 if (v == known) {
                     o.config.digestAlgorithm = known;
                     return {};
                 }
             }
             return "bad Digest algorithm (MD5, MD5-sess, SHA-256 or SHA-256-sess): " +
                    std::string(v);
         }},
        {"--session-timeout", true,
         [](Opts& o, Text v) {
             return SetNumber(v, 1, kMaxSeconds, o.config.sessionTimeoutSec,
                              "bad time-out in seconds: ");
         }},
        {"--run-for", true,
         [](Opts& o, Text v) {
             return SetNumber(v, 1, kMaxRunSeconds, o.runForSec, "bad duration in seconds: ");
         }},
        {"--alarm-period", true,
         [](Opts& o, Text v) {
             return SetNumber(v, 1, kMaxSeconds, o.alarmPeriodSec, "bad alarm period in seconds: ");
         }},
        {"--verbose", false, [](Opts& o, Text) { return Raise(o.verbose); }},
        // Media
        {"--h264", true, [](Opts& o, Text v) { return Take(o.config.h264File, v); }},
        {"--h265", true, [](Opts& o, Text v) { return Take(o.config.h265File, v); }},
        {"--no-h265", false,
         [](Opts& o, Text) {
             o.config.h265 = false;
             return std::string();
         }},
        {"--mjpeg", true, [](Opts& o, Text v) { return Take(o.config.mjpegFile, v); }},
        {"--size", true, [](Opts& o, Text v) { return SetSize(v, o.config); }},
        {"--fps", true, [](Opts& o, Text v) { return SetFps(v, o.config.fps); }},
        {"--mtu", true,
         [](Opts& o, Text v) {
             return SetNumber(v, 64, 65000, o.config.mtu, "bad MTU (64..65000): ");
         }},
        {"--jpeg-tables", false, [](Opts& o, Text) { return Raise(o.config.jpegInBandTables); }},
        {"--aud", false, [](Opts& o, Text) { return Raise(o.config.h264AccessUnitDelimiters); }},
        {"--ntsc", false,
         [](Opts& o, Text) {
             o.config.ffMode = 60;
             return std::string();
         }},
        {"--seed", true,
         [](Opts& o, Text v) {
             return SetNumber(v, 0, 0xFFFFFFFFULL, o.config.seed, "bad seed: ");
         }},
        // Faults
        {"--stop-media", false, [](Opts& o, Text) { return Raise(o.config.faults.stopMedia); }},
        {"--drop", true, [](Opts& o, Text v) { return SetShare(v, o.config.faults.dropShare); }},
        {"--reorder", true,
         [](Opts& o, Text v) { return SetShare(v, o.config.faults.reorderShare); }},
        {"--duplicate", true,
         [](Opts& o, Text v) { return SetShare(v, o.config.faults.duplicateShare); }},
        {"--always-401", false,
         [](Opts& o, Text) {
             o.config.faults.httpAlways401 = o.config.faults.rtspAlways401 = true;
             return std::string();
         }},
        {"--http-401", false, [](Opts& o, Text) { return Raise(o.config.faults.httpAlways401); }},
        {"--rtsp-401", false, [](Opts& o, Text) { return Raise(o.config.faults.rtspAlways401); }},
        {"--refuse-cgi", true, [](Opts& o, Text v) { return RefuseCgi(v, o.config.faults); }},
        {"--close-rtsp", false,
         [](Opts& o, Text) { return Raise(o.config.faults.closeRtspConnection); }},
        {"--split-replies", true, [](Opts& o, Text v) { return SetSplit(v, o.config.faults); }},
        {"--reply-delay", true,
         [](Opts& o, Text v) {
             return SetNumber(v, 0, kMaxDelayMs, o.config.faults.replyDelayMs, "bad delay in ms: ");
         }},
        {"--short-timeout", true,
         [](Opts& o, Text v) {
             return SetNumber(v, 1, kMaxSeconds, o.config.faults.sessionTimeoutSec,
                              "bad time-out in seconds: ");
         }},
        {"--alternate-source", false,
         [](Opts& o, Text) { return Raise(o.config.faults.alternateSource); }},
        {"--block-udp", false, [](Opts& o, Text) { return Raise(o.config.faults.blockUdpMedia); }},
        {"--udp-only", false,
         [](Opts& o, Text) { return Raise(o.config.faults.refuseInterleaved); }},
        {"--tcp-only", false, [](Opts& o, Text) { return Raise(o.config.faults.refuseUdp); }},
};

} // namespace

SimOptionsResult ParseSimOptions(const std::vector<std::string>& arguments) {
    SimOptionsResult result;
    for (std::size_t i = 0; i < arguments.size() && !result.options.help; ++i) {
        const std::string& name = arguments[i];
        const auto* rule = std::find_if(std::begin(kOptions), std::end(kOptions),
                                        [&](const OptionRule& r) { return r.name == name; });
        if (rule == std::end(kOptions)) {
            result.error = "unknown option " + name;
            break;
        }
        if (rule->takesValue && i + 1 >= arguments.size()) {
            result.error = "option " + name + " needs a value";
            break;
        }
        result.error = rule->apply(result.options, rule->takesValue ? arguments[++i] : "");
        if (!result.error.empty()) {
            break;
        }
    }
    return result;
}

const char* SimUsageText() {
    return kUsage;
}

} // namespace norvane::sim
