// vantrel-camera-sim: runs a simulated Vantrel camera (HTTP CGI, RTSP, RTP/RTCP) until SIGINT or
// SIGTERM, so that hosts and people without a camera can try the driver.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera_sim.h"
#include "platform/clock.h"
#include "platform/system.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void OnStopSignal(int) {
    g_stopRequested = 1;
}

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
        "  --session-timeout S    RTSP session time-out in seconds (default 60)\n"
        "  --run-for S            stop by itself after S seconds (default: run until stopped)\n"
        "  --alarm-period S       switch the alarm input on and off every S seconds\n"
        "  --verbose              print the first line of every request received\n"
        "\n"
        "Media:\n"
        "  --h264 FILE            Annex-B H.264 file for vtl_media/main (default: embedded clips)\n"
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
        "  --help                 show this text\n";

bool ParseAuth(const std::string& text, norvane::sim::AuthMode& mode) {
    if (text == "none") {
        mode = norvane::sim::AuthMode::None;
    } else if (text == "basic") {
        mode = norvane::sim::AuthMode::Basic;
    } else if (text == "digest") {
        mode = norvane::sim::AuthMode::Digest;
    } else {
        return false;
    }
    return true;
}

bool ParseNumber(const std::string& text, unsigned long maximum, unsigned long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 10) {
        return false;
    }
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value <= maximum;
}

bool ParseShare(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && value >= 0.0 && value <= 1.0;
}

bool ParseOnOff(const std::string& text, bool& value) {
    if (text == "on") {
        value = true;
        return true;
    }
    if (text == "off") {
        value = false;
        return true;
    }
    return false;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "vantrel-camera-sim: %s\nTry 'vantrel-camera-sim --help'.\n",
                 message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using norvane::sim::AuthMode;
    norvane::sim::CameraSimConfig config;
    unsigned long runFor = 0;
    unsigned long alarmPeriod = 0;
    bool verbose = false;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        unsigned long number = 0;
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const bool flag = option == "--jpeg-tables" || option == "--aud" || option == "--verbose" ||
                          option == "--ntsc" || option == "--stop-media" ||
                          option == "--always-401" || option == "--http-401" ||
                          option == "--rtsp-401" || option == "--close-rtsp" ||
                          option == "--alternate-source";
        if (!flag && !value(text)) {
            return Fail("option " + option + " needs a value or is unknown");
        }
        if (option == "--address") {
            config.bindAddress = text;
        } else if (option == "--http-port" || option == "--rtsp-port") {
            if (!ParseNumber(text, 65535, number)) {
                return Fail("bad port: " + text);
            }
            (option == "--http-port" ? config.httpPort : config.rtspPort) =
                    static_cast<std::uint16_t>(number);
        } else if (option == "--user") {
            config.user = text;
        } else if (option == "--password") {
            config.password = text;
        } else if (option == "--auth" || option == "--http-auth" || option == "--rtsp-auth") {
            AuthMode mode = AuthMode::None;
            if (!ParseAuth(text, mode)) {
                return Fail("bad authentication mode (none, basic or digest): " + text);
            }
            if (option != "--rtsp-auth") {
                config.httpAuth = mode;
            }
            if (option != "--http-auth") {
                config.rtspAuth = mode;
            }
        } else if (option == "--http-qop" || option == "--rtsp-qop") {
            if (!ParseOnOff(text,
                            option == "--http-qop" ? config.httpDigestQop : config.rtspDigestQop)) {
                return Fail(option + " takes on or off");
            }
        } else if (option == "--realm") {
            config.realm = text;
        } else if (option == "--session-timeout" || option == "--short-timeout") {
            if (!ParseNumber(text, 86400, number) || number == 0) {
                return Fail("bad time-out in seconds: " + text);
            }
            (option == "--session-timeout" ? config.sessionTimeoutSec
                                           : config.faults.sessionTimeoutSec) =
                    static_cast<std::uint32_t>(number);
        } else if (option == "--run-for") {
            if (!ParseNumber(text, 86400 * 365, runFor) || runFor == 0) {
                return Fail("bad duration in seconds: " + text);
            }
        } else if (option == "--alarm-period") {
            if (!ParseNumber(text, 86400, alarmPeriod) || alarmPeriod == 0) {
                return Fail("bad alarm period in seconds: " + text);
            }
        } else if (option == "--verbose") {
            verbose = true;
        } else if (option == "--h264") {
            config.h264File = text;
        } else if (option == "--mjpeg") {
            config.mjpegFile = text;
        } else if (option == "--size") {
            const std::size_t x = text.find('x');
            unsigned long width = 0;
            unsigned long height = 0;
            if (x == std::string::npos || !ParseNumber(text.substr(0, x), 4096, width) ||
                !ParseNumber(text.substr(x + 1), 4096, height) || width < 16 || height < 16) {
                return Fail("bad size (WxH): " + text);
            }
            config.width = static_cast<std::uint32_t>(width);
            config.height = static_cast<std::uint32_t>(height);
        } else if (option == "--fps") {
            char* end = nullptr;
            config.fps = std::strtod(text.c_str(), &end);
            if (end == nullptr || *end != '\0' || !(config.fps > 0.0 && config.fps <= 60.0)) {
                return Fail("bad frame rate (above 0, at most 60): " + text);
            }
        } else if (option == "--mtu") {
            if (!ParseNumber(text, 65000, number) || number < 64) {
                return Fail("bad MTU (64..65000): " + text);
            }
            config.mtu = static_cast<std::uint32_t>(number);
        } else if (option == "--seed") {
            if (!ParseNumber(text, 0xFFFFFFFFUL, number)) {
                return Fail("bad seed: " + text);
            }
            config.seed = number;
        } else if (option == "--jpeg-tables") {
            config.jpegInBandTables = true;
        } else if (option == "--aud") {
            config.h264AccessUnitDelimiters = true;
        } else if (option == "--ntsc") {
            config.ffMode = 60;
        } else if (option == "--stop-media") {
            config.faults.stopMedia = true;
        } else if (option == "--drop" || option == "--reorder" || option == "--duplicate") {
            double share = 0;
            if (!ParseShare(text, share)) {
                return Fail("bad share (0..1): " + text);
            }
            (option == "--drop"      ? config.faults.dropShare
             : option == "--reorder" ? config.faults.reorderShare
                                     : config.faults.duplicateShare) = share;
        } else if (option == "--always-401") {
            config.faults.httpAlways401 = config.faults.rtspAlways401 = true;
        } else if (option == "--http-401") {
            config.faults.httpAlways401 = true;
        } else if (option == "--rtsp-401") {
            config.faults.rtspAlways401 = true;
        } else if (option == "--refuse-cgi") {
            const std::size_t eq = text.find('=');
            config.faults.refusedCgi[text.substr(0, eq)] =
                    eq == std::string::npos ? "0x80000002" : text.substr(eq + 1);
        } else if (option == "--close-rtsp") {
            config.faults.closeRtspConnection = true;
        } else if (option == "--split-replies") {
            const std::size_t colon = text.find(':');
            unsigned long delay = 100;
            if (!ParseNumber(text.substr(0, colon), 65536, number) || number == 0 ||
                (colon != std::string::npos &&
                 !ParseNumber(text.substr(colon + 1), 60000, delay))) {
                return Fail("bad split (BYTES[:MS]): " + text);
            }
            config.faults.splitReplyBytes = static_cast<std::uint32_t>(number);
            config.faults.splitDelayMs = static_cast<std::uint32_t>(delay);
        } else if (option == "--reply-delay") {
            if (!ParseNumber(text, 60000, number)) {
                return Fail("bad delay in ms: " + text);
            }
            config.faults.replyDelayMs = static_cast<std::uint32_t>(number);
        } else if (option == "--alternate-source") {
            config.faults.alternateSource = true;
        } else {
            return Fail("unknown option " + option);
        }
    }

    norvane::sim::CCameraSim sim(config);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "vantrel-camera-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("HTTP  %s\n",
                sim.HttpUrl("/cgi-bin/action.fcgi?vtl_api=get_setup.system.info").c_str());
    std::printf("RTSP  %s  (H.264)\n", sim.RtspUrl("vtl_media/main").c_str());
    std::printf("RTSP  %s  (RTP/JPEG)\n", sim.RtspUrl("vtl_media/second").c_str());
    std::fflush(stdout);

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    const std::uint64_t start = norvane::platform::MonotonicMs();
    bool relay = sim.RelayOutput();
    std::size_t printed = 0;
    while (g_stopRequested == 0 &&
           (runFor == 0 || norvane::platform::MonotonicMs() - start < runFor * 1000ULL)) {
        norvane::platform::SleepMs(100);
        const std::uint64_t elapsed = norvane::platform::MonotonicMs() - start;
        if (alarmPeriod != 0) {
            const bool alarm = (elapsed / (alarmPeriod * 1000ULL)) % 2 == 1;
            if (alarm != sim.AlarmInput()) {
                sim.SetAlarmInput(alarm);
                std::printf("alarm input %s\n", alarm ? "on" : "off");
            }
        }
        if (sim.RelayOutput() != relay) {
            relay = !relay;
            std::printf("relay output %s\n", relay ? "on" : "off");
        }
        if (verbose) {
            const auto requests = sim.Requests();
            printed = printed > requests.size() ? 0 : printed; // the log was trimmed
            for (; printed < requests.size(); ++printed) {
                const std::string& text = requests[printed].text;
                std::printf("%s %s\n",
                            requests[printed].protocol ==
                                            norvane::sim::LoggedRequest::Protocol::Http
                                    ? "HTTP"
                                    : "RTSP",
                            text.substr(0, text.find_first_of("\r\n")).c_str());
            }
        }
        std::fflush(stdout);
    }
    sim.Stop();
    std::printf("stopped\n");
    return 0;
}
