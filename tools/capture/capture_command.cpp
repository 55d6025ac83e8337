// capture: open the driver like a recording server, open channel 0 and write every frame.
#include <chrono>
#include <cstdio>
#include <thread>

#include "commands.h"
#include "diagnose.h"
#include "host_objects.h"

namespace vantrel::capture {
namespace {

using Clock = std::chrono::steady_clock;

// Fixed formats of the status and summary lines.
std::string OneDecimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string NoDecimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

// The driver's numbered parameters: video standard, RTSP port, firmware text.
std::vector<std::string> DriverParameters(const Options& options, const CameraEndpoint& camera) {
    std::vector<std::string> parameters{options.ntsc ? "1" : "0"};
    if (camera.rtspPort) {
        parameters.push_back(std::to_string(*camera.rtspPort));
    }
    return parameters;
}

} // namespace

std::atomic<bool>& StopRequested() {
    static std::atomic<bool> stop{false};
    return stop;
}

int RunCapture(const Options& options, Plugin& plugin, const CameraEndpoint& camera) {
    const bool jpeg = options.stream == StreamKind::Mjpeg;
    std::string error;
    std::unique_ptr<FrameWriter> writer = MakeWriter(options.out, jpeg, error);
    if (!writer) {
        ConsoleDebugSink::Print("vantrel-capture: error: " + error);
        return kExitUsage;
    }

    ConsoleDebugSink debugSink(options.quiet ? 1 : options.verbosity);
    PoolAllocator allocator;
    OpenParams params;
    params.connection.address = camera.host;
    params.connection.port = camera.httpPort;
    params.connection.user = camera.user;
    params.connection.password = camera.password;
    params.connection.streamType = jpeg ? 1 : 3;
    params.parameters = DriverParameters(options, camera);

    norvane::ipcapture::IIPCaptureDriverEx3* driver = plugin.create();
    if (driver == nullptr) {
        ConsoleDebugSink::Print("vantrel-capture: error: the plug-in could not create a driver");
        return kExitPlugin;
    }
    if (!driver->Open(&debugSink, &allocator, &params) || driver->GetVideoCapture() == nullptr) {
        plugin.destroy(driver);
        ConsoleDebugSink::Print("vantrel-capture: error: the driver could not be opened");
        return kExitPlugin;
    }

    CaptureStats stats;
    FrameSink frameSink(*writer, stats, options.frames);
    ChannelParams channelParams;
    channelParams.width = options.width;
    channelParams.height = options.height;
    channelParams.frameInterval = static_cast<uint16_t>((1000 + options.fps / 2) / options.fps);
    channelParams.quality = options.quality;
    norvane::ipcapture::IIPVideoCaptureEx* video = driver->GetVideoCapture();

    ConsoleDebugSink::Print("vantrel-capture: " + std::string(jpeg ? "MJPEG" : "H.264") + " " +
                            std::to_string(options.width) + "x" + std::to_string(options.height) +
                            " at " + std::to_string(options.fps) + " fps from " + camera.host +
                            ":" + std::to_string(camera.httpPort) + " to " + writer->Describe());
    const bool opened = video->OpenChannel(0, &frameSink, &channelParams);
    int exitCode = kExitOk;
    std::string reason;
    if (!opened) {
        reason = "the driver could not start the channel";
        exitCode = kExitPlugin;
    }

    const auto start = Clock::now();
    auto lastStatus = start;
    std::uint64_t lastFrames = 0;
    std::uint64_t lastBytes = 0;
    double fps = 0;
    double kbps = 0;
    // The loop only watches and reports: a terminal's status line is redrawn twice a second, a
    // log gets a line every 5 s, so a slower tick there saves wake-ups without delaying anything
    // but Ctrl-C (by at most the tick).
    const auto tick = std::chrono::milliseconds(ConsoleDebugSink::IsTerminal() ? 250 : 500);
    while (exitCode == kExitOk) {
        std::this_thread::sleep_for(tick);
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const std::uint64_t frames = stats.frames.load();
        if (StopRequested()) {
            if (frames == 0) {
                reason = "interrupted before the first frame";
                exitCode = kExitInterrupted;
            }
            break;
        }
        if (stats.writeFailed) {
            reason = "cannot write to " + writer->Describe();
            exitCode = kExitCamera;
            break;
        }
        if (options.frames > 0 && frames >= options.frames) {
            break;
        }
        if (options.durationSeconds > 0 && elapsed >= options.durationSeconds) {
            break;
        }
        if (frames == 0 && debugSink.CredentialsRefused()) {
            reason = "the camera refused the credentials (" + debugSink.LastError() + ")";
            exitCode = kExitCredentials;
            break;
        }
        if (frames == 0 && debugSink.Unreachable()) {
            // The driver could not send a request: either nobody answers, or the camera refused
            // the credentials before answering (a refused Basic login is not retried).
            switch (DiagnoseCamera(camera.host, camera.httpPort, 3000)) {
            case CameraDiagnosis::NeedsCredentials:
                reason = "the camera refused the credentials: check --user and --password";
                exitCode = kExitCredentials;
                break;
            case CameraDiagnosis::Unreachable:
                reason = "the camera cannot be reached (" + debugSink.LastError() + ")";
                exitCode = kExitCamera;
                break;
            default:
                reason = "the camera does not take the driver's requests (" +
                         debugSink.LastError() + ")";
                exitCode = kExitCamera;
                break;
            }
            break;
        }
        if (frames == 0 && elapsed >= options.connectTimeoutSeconds) {
            const std::string last = debugSink.LastError();
            reason = "no frame arrived within " + NoDecimal(options.connectTimeoutSeconds) + " s" +
                     (last.empty() ? "" : " (" + last + ")");
            exitCode = kExitCamera;
            break;
        }
        const double sinceStatus = std::chrono::duration<double>(now - lastStatus).count();
        if (sinceStatus >= (ConsoleDebugSink::IsTerminal() ? 0.5 : 5.0)) {
            const std::uint64_t bytes = stats.bytes.load();
            fps = static_cast<double>(frames - lastFrames) / sinceStatus;
            kbps = static_cast<double>(bytes - lastBytes) * 8 / 1000 / sinceStatus;
            lastFrames = frames;
            lastBytes = bytes;
            lastStatus = now;
            if (!options.quiet) {
                int32_t state = 2;
                int32_t reserved = 0;
                video->GetChannelStatus(0, &state, &reserved, nullptr, 0);
                // On a terminal the line is rewritten in place; in a log it is one line each time.
                std::fprintf(
                        stderr,
                        ConsoleDebugSink::IsTerminal()
                                ? "\r\033[K%s  frames %llu (key %llu)  %s fps  %s kbit/s  %ux%u  "
                                  "%s s"
                                : "%s  frames %llu (key %llu)  %s fps  %s kbit/s  %ux%u  %s s\n",
                        state == 0 ? "streaming" : "connecting",
                        static_cast<unsigned long long>(frames),
                        static_cast<unsigned long long>(stats.keyFrames.load()),
                        OneDecimal(fps).c_str(), NoDecimal(kbps).c_str(), stats.width.load(),
                        stats.height.load(), OneDecimal(elapsed).c_str());
            }
        }
    }

    video->CloseChannel(0);
    plugin.destroy(driver);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const std::uint64_t frames = stats.frames.load();
    ConsoleDebugSink::Print("vantrel-capture: " + std::to_string(frames) + " frames (" +
                            std::to_string(stats.keyFrames.load()) + " key), " +
                            OneDecimal(static_cast<double>(stats.bytes.load()) / 1e6) + " MB in " +
                            OneDecimal(elapsed) + " s, " +
                            OneDecimal(elapsed > 0 ? static_cast<double>(frames) / elapsed : 0) +
                            " fps, " + std::to_string(stats.signalLost.load()) +
                            " signal-loss reports; output: " + writer->Describe());
    if (exitCode != kExitOk) {
        ConsoleDebugSink::Print("vantrel-capture: error: " + reason);
    }
    return exitCode;
}

} // namespace vantrel::capture
