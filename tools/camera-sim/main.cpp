// vantrel-camera-sim: runs a simulated Vantrel camera (HTTP CGI, RTSP, RTP/RTCP) until SIGINT or
// SIGTERM, so that hosts and people without a camera can try the driver.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "camera_sim.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "sim_options.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void OnStopSignal(int) {
    g_stopRequested = 1;
}

// Serve prints the simulator's addresses, then reports alarm, relay and (when verbose) request
// changes every 100 ms until a stop signal or the end of --run-for.
void Serve(norvane::sim::CCameraSim& sim, const norvane::sim::SimOptions& options) {
    using norvane::platform::MonotonicMs;
    std::printf("HTTP  %s\n",
                sim.HttpUrl("/cgi-bin/action.fcgi?vtl_api=get_setup.system.info").c_str());
    std::printf("RTSP  %s  (H.264)\n", sim.RtspUrl("vtl_media/main").c_str());
    std::printf("RTSP  %s  (RTP/JPEG)\n", sim.RtspUrl("vtl_media/second").c_str());
    std::fflush(stdout);

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    const std::uint64_t start = MonotonicMs();
    const std::uint64_t runForMs = options.runForSec * 1000ULL;
    const std::uint64_t alarmPeriodMs = options.alarmPeriodSec * 1000ULL;
    bool relay = sim.RelayOutput();
    std::size_t printed = 0;
    while (g_stopRequested == 0 && (runForMs == 0 || MonotonicMs() - start < runForMs)) {
        norvane::platform::SleepMs(100);
        const std::uint64_t elapsed = MonotonicMs() - start;
        if (alarmPeriodMs != 0) {
            const bool alarm = (elapsed / alarmPeriodMs) % 2 == 1;
            if (alarm != sim.AlarmInput()) {
                sim.SetAlarmInput(alarm);
                std::printf("alarm input %s\n", alarm ? "on" : "off");
            }
        }
        if (sim.RelayOutput() != relay) {
            relay = !relay;
            std::printf("relay output %s\n", relay ? "on" : "off");
        }
        if (options.verbose) {
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
}

} // namespace

int main(int argc, char** argv) {
    const auto parsed =
            norvane::sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "vantrel-camera-sim: %s\nTry 'vantrel-camera-sim --help'.\n",
                     parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(norvane::sim::SimUsageText(), stdout);
        return 0;
    }
    norvane::sim::CCameraSim sim(parsed.options.config);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "vantrel-camera-sim: %s\n", error.c_str());
        return 1;
    }
    Serve(sim, parsed.options);
    sim.Stop();
    std::printf("stopped\n");
    return 0;
}
