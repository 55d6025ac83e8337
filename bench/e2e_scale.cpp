// e2e-scale: one host process that loads the plug-in like a recording server (dlopen and the
// exports), opens one driver with one H.264 channel per camera endpoint and counts the frames of
// every channel. A benchmark driver script runs the simulated cameras in another process, so that
// this process's CPU time is the driver's (plus a frame counter). Controlled by lines on stdin:
//
//   frames   "frames total T min N max X streaming S signal-lost L errors E"
//   channels one line per channel: "channel I frames F state S signal-lost L first-ms T
//            longest-gap-ms G gap-end-ms E" (times in ms since the start of the program)
//   mark     "mark cpu_us C rss_kb R frames T"  (process CPU time, user and system, of all threads)
//   quit     (or end of input) close every channel and driver and exit
//
// Every command is answered by its line and a final "ok". Before opening the channels it prints
// "loaded rss_kb R"; after, "opened N". The process ends by itself after --run-for seconds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>

#include "norvane/exports.h"
#include "norvane/norvane.h"
#include "watchdog.h"

namespace {

using namespace norvane;

constexpr char kUsage[] =
        "Usage: e2e-scale --camera HOST:HTTP_PORT:RTSP_PORT[xCOUNT] ... [--size WxH] [--fps N]\n"
        "                 [--plugin PATH] [--run-for S]\n"
        "Opens COUNT (default 1) drivers with one H.264 channel each per --camera. Commands on\n"
        "stdin: frames, channels, mark, quit.\n";

constexpr unsigned long kMaxChannels = 1024;
constexpr unsigned long kMaxRunForSeconds = 3600;
constexpr int kMaxPrintedErrors = 20;
constexpr int kMaxPrintedMessages = 2000;

using Clock = std::chrono::steady_clock;

const Clock::time_point g_start = Clock::now();

std::int64_t MillisecondsSinceStart() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_start).count();
}

// Prints the driver's messages with the time since the start (ms) and counts its errors.
class DebugSink : public IDebugSink {
public:
    void OnDebugInfo(CDebugInfoIf* info) override {
        const bool error = info->GetLevel() == 1 || info->GetLevel() == 3;
        if (error && m_errors.fetch_add(1) >= kMaxPrintedErrors) {
            return;
        }
        if (m_printed.fetch_add(1) < kMaxPrintedMessages) {
            std::fprintf(stderr, "%lld [driver %u] %s\n",
                         static_cast<long long>(MillisecondsSinceStart()), info->GetLevel(),
                         info->GetText());
        }
    }

    [[nodiscard]] int Errors() const { return m_errors.load(); }

private:
    std::atomic<int> m_errors{0};
    std::atomic<int> m_printed{0};
};

class Sample : public IHostSample {
public:
    uint8_t* GetBuffer() override { return buffer.data(); }

    void SetLength(uint32_t value) override { length = value; }

    void Commit() override {}

    void SetFourCC(uint32_t value) override { fourcc = value; }

    void SetHeight(uint32_t) override {}

    void SetWidth(uint32_t) override {}

    void SetImageSize(uint32_t) override {}

    std::vector<uint8_t> buffer;
    uint32_t length = 0;
    uint32_t fourcc = 0;
};

// A pool of samples shared by every channel, as a server's sample allocator would be: a steady
// stream allocates nothing.
class PoolAllocator : public IHostSampleAllocator {
public:
    IHostSample* AllocateSample(uint32_t fourcc, uint32_t capacity, const char*) override {
        std::unique_ptr<Sample> sample;
        {
            std::lock_guard guard(m_mutex);
            if (!m_free.empty()) {
                sample = std::move(m_free.back());
                m_free.pop_back();
            }
        }
        if (!sample) {
            sample = std::make_unique<Sample>();
        }
        if (sample->buffer.size() < capacity) {
            sample->buffer.resize(capacity);
        }
        sample->length = 0;
        sample->fourcc = fourcc;
        return sample.release();
    }

    void ReleaseSample(IHostSample* sample) override {
        std::lock_guard guard(m_mutex);
        m_free.emplace_back(static_cast<Sample*>(sample));
    }

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Sample>> m_free;
};

// Counts the frames of one channel and the longest pause between two of them. Called only on
// the channel's receive thread (OnFrame) and its channel thread (OnSignalLost).
class FrameSink : public IFrameSink {
public:
    bool OnFrame(IHostSample* sample) override {
        const std::int64_t now = MillisecondsSinceStart();
        const std::int64_t last = lastFrameMs.load(std::memory_order_relaxed);
        if (last >= 0 && now - last > longestGapMs.load(std::memory_order_relaxed)) {
            longestGapMs.store(now - last, std::memory_order_relaxed);
            longestGapEndMs.store(now, std::memory_order_relaxed);
        }
        if (last < 0) {
            firstFrameMs.store(now, std::memory_order_relaxed);
        }
        lastFrameMs.store(now, std::memory_order_relaxed);
        frames.fetch_add(1, std::memory_order_relaxed);
        bytes.fetch_add(static_cast<Sample*>(sample)->length, std::memory_order_relaxed);
        return true;
    }

    void OnSignalLost() override { signalLost.fetch_add(1); }

    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> signalLost{0};
    std::atomic<std::int64_t> firstFrameMs{-1};
    std::atomic<std::int64_t> lastFrameMs{-1};
    std::atomic<std::int64_t> longestGapMs{0};
    std::atomic<std::int64_t> longestGapEndMs{0};
};

class DeviceSettings : public IDeviceSettings {
public:
    const char* GetModelName() override { return "Vantrel"; }

    int32_t GetChannelCount() override { return 1; }

    int32_t GetInputCount() override { return 1; }

    int32_t GetOutputCount() override { return 1; }
};

class ConnectionSettings : public IConnectionSettings {
public:
    const char* GetAddress() override { return address.c_str(); }

    uint16_t GetPort() override { return port; }

    int32_t GetStreamType() override { return 3; } // H.264

    const char* GetUserName() override { return "admin"; }

    const char* GetPassword() override { return "admin"; }

    std::string address;
    uint16_t port = 80;
};

class OpenParams : public IOpenParams {
public:
    IDeviceSettings* GetDeviceSettings() override { return &device; }

    IConnectionSettings* GetConnectionSettings() override { return &connection; }

    // 1: video standard (PAL), 2: RTSP port.
    const char* GetParameter(uint32_t index) override {
        return index == 1 ? "0" : index == 2 ? rtspPort.c_str() : nullptr;
    }

    DeviceSettings device;
    ConnectionSettings connection;
    std::string rtspPort;
};

class ChannelParams : public IChannelParams, public IVideoFormat, public IRate, public IFrameSize {
public:
    IVideoFormat* GetVideoFormat() override { return this; }

    IRate* GetRate() override { return this; }

    IFrameSize* GetFrameSize() override { return this; }

    uint16_t GetFrameInterval() override { return frameInterval; }

    uint16_t GetQuality() override { return 50; }

    uint16_t GetWidth() override { return width; }

    uint16_t GetHeight() override { return height; }

    uint16_t width = 1920;
    uint16_t height = 1080;
    uint16_t frameInterval = 40;
};

struct Endpoint {
    std::string host;
    std::string httpPort;
    std::string rtspPort;
};

struct Arguments {
    std::vector<Endpoint> endpoints; // one entry per channel
    std::string plugin = NORVANE_BENCH_PLUGIN_PATH;
    ChannelParams channel;
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

// ParseCamera reads HOST:HTTP_PORT:RTSP_PORT[xCOUNT] into `count` copies of one endpoint.
bool ParseCamera(const std::string& text, std::vector<Endpoint>& endpoints) {
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) {
        return false;
    }
    std::string rest = text.substr(second + 1);
    unsigned long count = 1;
    if (const std::size_t x = rest.find('x'); x != std::string::npos) {
        if (!ParseUnsigned(rest.substr(x + 1), kMaxChannels, count) || count == 0) {
            return false;
        }
        rest.resize(x);
    }
    unsigned long port = 0;
    Endpoint endpoint{text.substr(0, first), text.substr(first + 1, second - first - 1), rest};
    if (endpoint.host.empty() || !ParseUnsigned(endpoint.httpPort, 65535, port) ||
        !ParseUnsigned(endpoint.rtspPort, 65535, port)) {
        return false;
    }
    endpoints.insert(endpoints.end(), count, endpoint);
    return endpoints.size() <= kMaxChannels;
}

std::string ParseArguments(const std::vector<std::string>& args, Arguments& arguments) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (i + 1 >= args.size()) {
            return "option " + option + " needs a value or is unknown";
        }
        const std::string& text = args[++i];
        unsigned long number = 0;
        if (option == "--camera") {
            if (!ParseCamera(text, arguments.endpoints)) {
                return "bad camera (HOST:HTTP_PORT:RTSP_PORT[xCOUNT], at most " +
                       std::to_string(kMaxChannels) + " channels): " + text;
            }
        } else if (option == "--size") {
            const std::size_t x = text.find('x');
            unsigned long width = 0;
            unsigned long height = 0;
            if (x == std::string::npos || !ParseUnsigned(text.substr(0, x), 4096, width) ||
                !ParseUnsigned(text.substr(x + 1), 4096, height)) {
                return "bad size: " + text;
            }
            arguments.channel.width = static_cast<uint16_t>(width);
            arguments.channel.height = static_cast<uint16_t>(height);
        } else if (option == "--fps") {
            if (!ParseUnsigned(text, 60, number) || number == 0) {
                return "bad frame rate: " + text;
            }
            arguments.channel.frameInterval = static_cast<uint16_t>((1000 + number / 2) / number);
        } else if (option == "--plugin") {
            arguments.plugin = text;
        } else if (option == "--run-for") {
            if (!ParseUnsigned(text, kMaxRunForSeconds, number) || number == 0) {
                return "bad duration: " + text;
            }
            arguments.runForSeconds = number;
        } else {
            return "unknown option " + option;
        }
    }
    if (arguments.endpoints.empty()) {
        return "at least one --camera is required";
    }
    return {};
}

// ResidentKilobytes is VmRSS of this process, 0 when it cannot be read.
unsigned long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtoul(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}

struct Channel {
    ipcapture::IIPCaptureDriverEx3* driver = nullptr;
    OpenParams params;
    FrameSink sink;
    bool opened = false;
};

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Arguments arguments;
    if (const std::string error = ParseArguments(args, arguments); !error.empty()) {
        std::fprintf(stderr, "e2e-scale: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    // Ends the process when the time limit passes before the command loop ends.
    norvane::bench::Watchdog watchdog(std::chrono::seconds(arguments.runForSeconds), [] {
        std::fprintf(stderr, "e2e-scale: time limit reached\n");
    });

    void* plugin = ::dlopen(arguments.plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto create =
            plugin ? reinterpret_cast<CreateIPCaptureFn>(::dlsym(plugin, "CreateIPCapture"))
                   : nullptr;
    const auto destroy =
            plugin ? reinterpret_cast<DeleteIPCaptureFn>(::dlsym(plugin, "DeleteIPCapture"))
                   : nullptr;
    if (create == nullptr || destroy == nullptr) {
        std::fprintf(stderr, "e2e-scale: cannot load %s\n", arguments.plugin.c_str());
        return 3;
    }

    DebugSink debugSink;
    PoolAllocator allocator;
    std::vector<std::unique_ptr<Channel>> channels;
    std::printf("loaded rss_kb %lu\n", ResidentKilobytes());
    std::fflush(stdout);
    int exitCode = 0;
    for (const Endpoint& endpoint : arguments.endpoints) {
        auto channel = std::make_unique<Channel>();
        channel->params.connection.address = endpoint.host;
        channel->params.connection.port = static_cast<uint16_t>(std::stoul(endpoint.httpPort));
        channel->params.rtspPort = endpoint.rtspPort;
        channel->driver = create();
        if (channel->driver == nullptr ||
            !channel->driver->Open(&debugSink, &allocator, &channel->params) ||
            channel->driver->GetVideoCapture() == nullptr) {
            std::fprintf(stderr, "e2e-scale: driver %zu could not be opened\n", channels.size());
            exitCode = 4;
        } else {
            channel->opened = channel->driver->GetVideoCapture()->OpenChannel(0, &channel->sink,
                                                                              &arguments.channel);
            if (!channel->opened) {
                std::fprintf(stderr, "e2e-scale: channel %zu could not be opened\n",
                             channels.size());
                exitCode = 4;
            }
        }
        channels.push_back(std::move(channel));
    }
    std::printf("opened %zu\n", channels.size());
    std::fflush(stdout);

    std::string line;
    while (std::getline(std::cin, line) && line != "quit") {
        std::uint64_t total = 0;
        std::uint64_t least = ~std::uint64_t{0};
        std::uint64_t most = 0;
        std::uint64_t lost = 0;
        unsigned streaming = 0;
        for (const auto& channel : channels) {
            const std::uint64_t frames = channel->sink.frames.load();
            total += frames;
            least = std::min(least, frames);
            most = std::max(most, frames);
            lost += channel->sink.signalLost.load();
            if (channel->opened) {
                int32_t state = 2;
                int32_t reserved = 0;
                channel->driver->GetVideoCapture()->GetChannelStatus(0, &state, &reserved, nullptr,
                                                                     0);
                streaming += state == 0 ? 1U : 0U;
            }
        }
        if (line == "frames") {
            std::printf("frames total %llu min %llu max %llu streaming %u signal-lost %llu "
                        "errors %d\n",
                        static_cast<unsigned long long>(total),
                        static_cast<unsigned long long>(least),
                        static_cast<unsigned long long>(most), streaming,
                        static_cast<unsigned long long>(lost), debugSink.Errors());
        } else if (line == "channels") {
            for (std::size_t i = 0; i < channels.size(); ++i) {
                int32_t state = -1;
                int32_t reserved = 0;
                if (channels[i]->opened) {
                    channels[i]->driver->GetVideoCapture()->GetChannelStatus(0, &state, &reserved,
                                                                             nullptr, 0);
                }
                const FrameSink& sink = channels[i]->sink;
                std::printf("channel %zu frames %llu state %d signal-lost %llu first-ms %lld "
                            "longest-gap-ms %lld gap-end-ms %lld\n",
                            i, static_cast<unsigned long long>(sink.frames.load()), state,
                            static_cast<unsigned long long>(sink.signalLost.load()),
                            static_cast<long long>(sink.firstFrameMs.load()),
                            static_cast<long long>(sink.longestGapMs.load()),
                            static_cast<long long>(sink.longestGapEndMs.load()));
            }
        } else if (line == "mark") {
            // std::clock is the CPU time of the whole process, every thread, user and system.
            const auto cpuUs = static_cast<unsigned long long>(static_cast<double>(std::clock()) *
                                                               1e6 / CLOCKS_PER_SEC);
            std::printf("mark cpu_us %llu rss_kb %lu frames %llu\n", cpuUs, ResidentKilobytes(),
                        static_cast<unsigned long long>(total));
        } else if (!line.empty()) {
            std::printf("unknown command %s\n", line.c_str());
        }
        std::printf("ok\n");
        std::fflush(stdout);
    }

    for (auto& channel : channels) {
        if (channel->driver != nullptr) {
            if (channel->opened) {
                channel->driver->GetVideoCapture()->CloseChannel(0);
            }
            destroy(channel->driver);
        }
    }
    std::printf("closed\n");
    std::fflush(stdout);
    ::dlclose(plugin);
    return exitCode;
}
