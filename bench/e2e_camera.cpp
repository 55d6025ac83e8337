// e2e-camera: several simulated cameras in one process, each on its own loopback ports and each
// counting what it sends, so that a benchmark driver can give every receiver a camera of its own
// and compare the frames sent to it with the frames it received. Controlled by lines on stdin:
//
//   stats        one line per camera: "stats I frames F packets P sessions S longest-gap-ms G
//                long-gaps L" (the longest time between two frames of a session, and how many
//                such gaps exceeded 250 ms)
//   requests     one line per camera: "requests I METHOD COUNT ..." (HTTP and RTSP methods)
//   log I        one line per request camera I received: "log METHOD SESSION TRANSPORT"
//   stop-media   every camera keeps its sessions but sends no more RTP (the counters freeze)
//   start-media  sending resumes
//   quit         (or end of input) stop every camera and exit
//
// Every command is answered by its lines and a final "ok". The process ends by itself after
// --run-for seconds whatever happens on stdin.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera_sim.h"
#include "watchdog.h"

namespace {

constexpr char kUsage[] =
        "Usage: e2e-camera --h264 FILE|--h265 FILE [--size WxH] [--fps N] [--mtu N]\n"
        "                  [--instances N] [--run-for S]\n"
        "Starts N simulated cameras on 127.0.0.1 serving FILE as vtl_media/main (an H.265 file\n"
        "from the start, without a codec0=h265 configuration) and prints\n"
        "\"camera I http PORT rtsp PORT\" for each, then \"ready\". Commands on stdin: stats,\n"
        "requests, log I, stop-media, start-media, quit.\n";

constexpr unsigned kMaxInstances = 32; // 500 channels at 30 sessions a camera need 17
constexpr unsigned long kMaxRunForSeconds = 3600;
constexpr char kMainPath[] = "vtl_media/main";

struct Arguments {
    norvane::sim::CameraSimConfig config;
    unsigned instances = 1;
    unsigned long runForSeconds = 600;
};

bool ParseUnsigned(const std::string& text, unsigned long maximum, unsigned long& value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value <= maximum;
}

// ParseArguments fills `arguments`; an empty result means success, otherwise the message.
std::string ParseArguments(const std::vector<std::string>& args, Arguments& arguments) {
    auto& config = arguments.config;
    config.width = 1920;
    config.height = 1080;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (i + 1 >= args.size()) {
            return "option " + option + " needs a value or is unknown";
        }
        const std::string& text = args[++i];
        unsigned long number = 0;
        if (option == "--h264") {
            config.h264File = text;
        } else if (option == "--h265") {
            config.h265File = text;
            config.codec0 = "h265";
        } else if (option == "--size") {
            const std::size_t x = text.find('x');
            unsigned long width = 0;
            unsigned long height = 0;
            if (x == std::string::npos || !ParseUnsigned(text.substr(0, x), 4096, width) ||
                !ParseUnsigned(text.substr(x + 1), 4096, height)) {
                return "bad size: " + text;
            }
            config.width = static_cast<std::uint32_t>(width);
            config.height = static_cast<std::uint32_t>(height);
        } else if (option == "--fps") {
            if (!ParseUnsigned(text, 60, number) || number == 0) {
                return "bad frame rate: " + text;
            }
            config.fps = static_cast<double>(number);
        } else if (option == "--mtu") {
            if (!ParseUnsigned(text, 65000, number) || number < 64) {
                return "bad MTU: " + text;
            }
            config.mtu = static_cast<std::uint32_t>(number);
        } else if (option == "--instances") {
            if (!ParseUnsigned(text, kMaxInstances, number) || number == 0) {
                return "bad instance count (1.." + std::to_string(kMaxInstances) + "): " + text;
            }
            arguments.instances = static_cast<unsigned>(number);
        } else if (option == "--run-for") {
            if (!ParseUnsigned(text, kMaxRunForSeconds, number) || number == 0) {
                return "bad duration: " + text;
            }
            arguments.runForSeconds = number;
        } else {
            return "unknown option " + option;
        }
    }
    if (config.h264File.empty() && config.h265File.empty()) {
        return "--h264 FILE or --h265 FILE is required";
    }
    return {};
}

// HeaderValue returns the value of header `name` in a request head, "-" when it has none.
std::string HeaderValue(const std::string& head, const std::string& name) {
    const std::string key = "\r\n" + name + ":";
    const std::size_t at = head.find(key);
    if (at == std::string::npos) {
        return "-";
    }
    const std::size_t start = head.find_first_not_of(' ', at + key.size());
    return head.substr(start, head.find("\r\n", start) - start);
}

void SetMedia(std::vector<std::unique_ptr<norvane::sim::CCameraSim>>& sims, bool stopped) {
    for (auto& sim : sims) {
        norvane::sim::SimFaults faults = sim->GetFaults();
        faults.stopMedia = stopped;
        sim->SetFaults(faults);
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Arguments arguments;
    if (const std::string error = ParseArguments(args, arguments); !error.empty()) {
        std::fprintf(stderr, "e2e-camera: %s\n%s", error.c_str(), kUsage);
        return 2;
    }

    std::vector<std::unique_ptr<norvane::sim::CCameraSim>> sims;
    for (unsigned i = 0; i < arguments.instances; ++i) {
        auto config = arguments.config;
        config.seed = i + 1;
        sims.push_back(std::make_unique<norvane::sim::CCameraSim>(config));
        std::string error;
        if (!sims.back()->Start(&error)) {
            std::fprintf(stderr, "e2e-camera: camera %u: %s\n", i, error.c_str());
            return 1;
        }
        std::printf("camera %u http %u rtsp %u\n", i, sims.back()->HttpPort(),
                    sims.back()->RtspPort());
    }
    std::printf("ready\n");
    std::fflush(stdout);

    {
        // Stops every camera when the time limit passes before the command loop ends.
        norvane::bench::Watchdog watchdog(std::chrono::seconds(arguments.runForSeconds), [&sims] {
            std::fprintf(stderr, "e2e-camera: time limit reached, stopping\n");
            for (auto& sim : sims) {
                sim->Stop();
            }
        });
        std::string line;
        while (std::getline(std::cin, line) && line != "quit") {
            if (line == "stats") {
                for (std::size_t i = 0; i < sims.size(); ++i) {
                    const norvane::sim::StreamStats stats = sims[i]->Stats(kMainPath);
                    std::printf("stats %zu frames %llu packets %llu sessions %zu longest-gap-ms "
                                "%llu long-gaps %llu\n",
                                i, static_cast<unsigned long long>(stats.framesSent),
                                static_cast<unsigned long long>(stats.packetsSent),
                                sims[i]->ActiveSessionCount(),
                                static_cast<unsigned long long>(stats.longestSendGapMs),
                                static_cast<unsigned long long>(stats.longSendGaps));
                }
            } else if (line == "requests") {
                for (std::size_t i = 0; i < sims.size(); ++i) {
                    std::map<std::string, std::size_t> counts;
                    for (const auto& request : sims[i]->Requests()) {
                        ++counts[request.method];
                    }
                    std::printf("requests %zu", i);
                    for (const auto& [method, count] : counts) {
                        std::printf(" %s %zu", method.c_str(), count);
                    }
                    std::printf("\n");
                }
            } else if (line.rfind("log ", 0) == 0) {
                const std::size_t index = std::strtoul(line.c_str() + 4, nullptr, 10);
                if (index < sims.size()) {
                    for (const auto& request : sims[index]->Requests()) {
                        std::printf("log %s %s %s\n", request.method.c_str(),
                                    HeaderValue(request.text, "Session").c_str(),
                                    HeaderValue(request.text, "Transport").c_str());
                    }
                }
            } else if (line == "stop-media" || line == "start-media") {
                SetMedia(sims, line == "stop-media");
            } else if (!line.empty()) {
                std::printf("unknown command %s\n", line.c_str());
            }
            std::printf("ok\n");
            std::fflush(stdout);
        }
        for (auto& sim : sims) {
            sim->Stop();
        }
    }
    return 0;
}
