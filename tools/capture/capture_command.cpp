// capture: open the driver like a recording server, open channel 0 and write every frame.
#include <chrono>
#include <cstdio>
#include <thread>

#include "capture_verdict.h"
#include "commands.h"
#include "diagnose.h"
#include "host_objects.h"

namespace vantrel::capture {
namespace {

using Clock = std::chrono::steady_clock;

// How long the camera's HTTP port may take to answer the diagnosis.
constexpr int kDiagnoseTimeoutMs = 3000;

// The driver's numbered parameters: video standard, RTSP port, firmware text, transport. An
// empty text keeps a parameter's default where a later one is given.
std::vector<std::string> DriverParameters(const Options& options, const CameraEndpoint& camera) {
    std::vector<std::string> parameters{options.ntsc ? "1" : "0"};
    if (camera.rtspPort || !options.transport.empty()) {
        parameters.push_back(camera.rtspPort ? std::to_string(*camera.rtspPort) : "");
    }
    if (!options.transport.empty()) {
        parameters.push_back(""); // firmware text
        parameters.push_back(options.transport);
        static_assert(norvane::kOpenParamTransport == 4);
    }
    return parameters;
}

// StatusLine shows the frame count, rate and bit rate: on a terminal one line redrawn in place
// twice a second, in a log one line every 5 s.
class StatusLine {
public:
    explicit StatusLine(Clock::time_point start) : m_last(start) {}

    void Update(Clock::time_point now, double elapsed, const CaptureStats& stats,
                norvane::ipcapture::IIPVideoCaptureEx& video, bool quiet) {
        const double since = std::chrono::duration<double>(now - m_last).count();
        if (since < (ConsoleDebugSink::IsTerminal() ? 0.5 : 5.0)) {
            return;
        }
        const std::uint64_t frames = stats.frames.load();
        const std::uint64_t bytes = stats.bytes.load();
        const double fps = static_cast<double>(frames - m_frames) / since;
        const double kbps = static_cast<double>(bytes - m_bytes) * 8 / 1000 / since;
        m_frames = frames;
        m_bytes = bytes;
        m_last = now;
        if (quiet) {
            return;
        }
        int32_t state = 2;
        int32_t reserved = 0;
        video.GetChannelStatus(0, &state, &reserved, nullptr, 0);
        std::fprintf(stderr,
                     ConsoleDebugSink::IsTerminal()
                             ? "\r\033[K%s  frames %llu (key %llu)  %s fps  %s kbit/s  %ux%u  %s s"
                             : "%s  frames %llu (key %llu)  %s fps  %s kbit/s  %ux%u  %s s\n",
                     state == 0 ? "streaming" : "connecting",
                     static_cast<unsigned long long>(frames),
                     static_cast<unsigned long long>(stats.keyFrames.load()),
                     FixedText(fps, 1).c_str(), FixedText(kbps, 0).c_str(), stats.width.load(),
                     stats.height.load(), FixedText(elapsed, 1).c_str());
    }

private:
    Clock::time_point m_last;
    std::uint64_t m_frames = 0;
    std::uint64_t m_bytes = 0;
};

// WatchCapture waits for the end of an open channel's capture and reports on the way.
CaptureEnd WatchCapture(const Options& options, const CameraEndpoint& camera,
                        const CaptureStats& stats, const ConsoleDebugSink& debugSink,
                        norvane::ipcapture::IIPVideoCaptureEx& video, const std::string& output,
                        Clock::time_point start) {
    StatusLine status(start);
    // The loop only watches and reports: a terminal's status line is redrawn twice a second, a
    // log gets a line every 5 s, so a slower tick there saves wake-ups without delaying anything
    // but Ctrl-C (by at most the tick).
    const auto tick = std::chrono::milliseconds(ConsoleDebugSink::IsTerminal() ? 250 : 500);
    while (true) {
        std::this_thread::sleep_for(tick);
        const auto now = Clock::now();
        CaptureProgress progress;
        progress.elapsedSeconds = std::chrono::duration<double>(now - start).count();
        progress.frames = stats.frames.load();
        progress.stopRequested = StopRequested();
        progress.writeFailed = stats.writeFailed;
        progress.credentialsRefused = debugSink.CredentialsRefused();
        progress.sendFailed = debugSink.Unreachable();
        const CaptureOutcome outcome = JudgeCapture(progress, options);
        if (outcome != CaptureOutcome::Running) {
            const CameraDiagnosis diagnosis =
                    outcome == CaptureOutcome::SendFailed
                            ? DiagnoseCamera(camera.host, camera.httpPort, kDiagnoseTimeoutMs)
                            : CameraDiagnosis::Answers;
            return CaptureEndOf(outcome, diagnosis, debugSink.LastError(), output,
                                options.connectTimeoutSeconds);
        }
        status.Update(now, progress.elapsedSeconds, stats, video, options.quiet);
    }
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
    CaptureStats stats;
    FrameSink frameSink(*writer, stats, options.frames);

    // Declared after every host object it is handed, so that it goes before them on every path.
    DriverHandle driver = plugin.CreateDriver();
    if (!driver) {
        ConsoleDebugSink::Print("vantrel-capture: error: the plug-in could not create a driver");
        return kExitPlugin;
    }
    if (!driver->Open(&debugSink, &allocator, &params) || driver->GetVideoCapture() == nullptr) {
        ConsoleDebugSink::Print("vantrel-capture: error: the driver could not be opened");
        return kExitPlugin;
    }

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
    const auto start = Clock::now();
    const CaptureEnd end =
            opened ? WatchCapture(options, camera, stats, debugSink, *video, writer->Describe(),
                                  start)
                   : CaptureEndOf(CaptureOutcome::ChannelNotStarted, CameraDiagnosis::Answers, "",
                                  writer->Describe(), options.connectTimeoutSeconds);
    video->CloseChannel(0);
    driver.reset(); // no frame arrives after this: the summary's counts are final

    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const std::uint64_t frames = stats.frames.load();
    ConsoleDebugSink::Print("vantrel-capture: " + std::to_string(frames) + " frames (" +
                            std::to_string(stats.keyFrames.load()) + " key), " +
                            FixedText(static_cast<double>(stats.bytes.load()) / 1e6, 1) +
                            " MB in " + FixedText(elapsed, 1) + " s, " +
                            FixedText(elapsed > 0 ? static_cast<double>(frames) / elapsed : 0, 1) +
                            " fps, " + std::to_string(stats.signalLost.load()) +
                            " signal-loss reports; output: " + writer->Describe());
    if (end.exitCode != kExitOk) {
        ConsoleDebugSink::Print("vantrel-capture: error: " + end.reason);
    }
    return end.exitCode;
}

} // namespace vantrel::capture
