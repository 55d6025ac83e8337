// capture: open the driver like a recording server, open channel 0 and write every frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "capture_summary.h"
#include "capture_verdict.h"
#include "commands.h"
#include "diagnose.h"
#include "host_objects.h"
#include "json_text.h"
#include "reception_text.h"

namespace vantrel::capture {
namespace {

using Clock = std::chrono::steady_clock;

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

double SecondsBetween(std::int64_t fromNs, std::int64_t toNs) {
    return static_cast<double>(toNs - fromNs) / 1e9;
}

std::int64_t Nanoseconds(Clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

// Snapshot reads the running totals as they stand at `now`.
CaptureSummary Snapshot(const CaptureStats& stats, Clock::time_point opened, Clock::time_point now,
                        const std::string& output) {
    CaptureSummary s;
    s.frames = stats.frames.load();
    s.keyFrames = stats.keyFrames.load();
    s.bytes = stats.bytes.load();
    s.width = stats.width.load();
    s.height = stats.height.load();
    s.signalLossReports = stats.signalLost.load();
    s.output = output;
    const std::int64_t first = stats.firstFrameNs.load();
    if (first == 0) {
        s.setupSeconds = SecondsBetween(Nanoseconds(opened), Nanoseconds(now));
    } else {
        s.state = "streaming";
        s.setupSeconds = SecondsBetween(Nanoseconds(opened), first);
        s.streamingSeconds = SecondsBetween(first, Nanoseconds(now));
    }
    return s;
}

// AddReception copies the driver's reception counts into a summary, where the plug-in tells them.
void AddReception(CaptureSummary& s, const ReceptionReader& reception) {
    NorvaneChannelReception r{};
    s.receptionKnown = reception.Read(r);
    if (s.receptionKnown) {
        s.packetsExpected = r.packetsExpected;
        s.packetsLost = r.packetsLost;
        s.framesDamaged = r.framesDamaged;
    }
}

// StatusLine shows the frame count, rate and bit rate: on a terminal one line redrawn in place
// twice a second, in a log one line every 5 s.
class StatusLine {
public:
    explicit StatusLine(Clock::time_point start) : m_last(start) {}

    void Update(Clock::time_point now, double elapsed, const CaptureSummary& s,
                const std::string& reception) {
        const double since = std::chrono::duration<double>(now - m_last).count();
        if (since < (ConsoleDebugSink::IsTerminal() ? 0.5 : 5.0)) {
            return;
        }
        double fps = static_cast<double>(s.frames - m_frames) / since;
        double kbps = static_cast<double>(s.bytes - m_bytes) * 8 / 1000 / since;
        if (m_frames == 0 && s.frames > 1 && s.streamingSeconds >= 0.5) {
            // The first rates count from the first frame: set-up is no streaming.
            fps = static_cast<double>(s.frames - 1) / s.streamingSeconds;
            kbps = static_cast<double>(s.bytes) * 8 / 1000 / s.streamingSeconds;
        }
        m_frames = s.frames;
        m_bytes = s.bytes;
        m_last = now;
        ConsoleDebugSink::Status(s.state + "  frames " + std::to_string(s.frames) + " (key " +
                                 std::to_string(s.keyFrames) + ")  " + FixedText(fps, 1) +
                                 " fps  " + FixedText(kbps, 0) + " kbit/s  " +
                                 std::to_string(s.width) + "x" + std::to_string(s.height) +
                                 reception + "  " + FixedText(elapsed, 1) + " s");
    }

private:
    Clock::time_point m_last;
    std::uint64_t m_frames = 0;
    std::uint64_t m_bytes = 0;
};

// TellDeliveredSize says once, at the first frame, what the camera delivers, and warns when it
// is not the size asked for (a camera picks its nearest size without a word).
void TellDeliveredSize(const Options& options, const CaptureSummary& s) {
    const std::string delivered = std::to_string(s.width) + "x" + std::to_string(s.height);
    ConsoleDebugSink::Info("vantrel-capture: first frame after " + FixedText(s.setupSeconds, 1) +
                           " s of setup: " + delivered);
    if (s.width != 0 && (s.width != options.width || s.height != options.height)) {
        ConsoleDebugSink::Print("vantrel-capture: warning: the camera delivers " + delivered +
                                ", not the " + std::to_string(options.width) + "x" +
                                std::to_string(options.height) + " asked for");
    }
}

// WatchCapture waits for the end of an open channel's capture and reports on the way.
CaptureEnd WatchCapture(const Options& options, const CameraEndpoint& camera, CaptureStats& stats,
                        const ConsoleDebugSink& debugSink, const FrameWriter& writer,
                        Clock::time_point start, const ReceptionReader& reception) {
    StatusLine status(start);
    // The loop only watches and reports: a terminal's status line is redrawn twice a second, a
    // log gets a line every 5 s, so a slower tick there saves wake-ups without delaying anything
    // but Ctrl-C (by at most the tick).
    const auto tick = std::chrono::milliseconds(ConsoleDebugSink::IsTerminal() ? 250 : 500);
    auto nextProgress = start + std::chrono::seconds(1);
    bool told = false;
    auto wait = tick;
    while (true) {
        stats.WaitForLimit(wait);
        const auto now = Clock::now();
        CaptureSummary s = Snapshot(stats, start, now, writer.Describe());
        AddReception(s, reception);
        CaptureProgress progress;
        progress.elapsedSeconds = std::chrono::duration<double>(now - start).count();
        progress.streamingSeconds = s.streamingSeconds;
        if (s.frames > 0) {
            progress.sinceFrameSeconds = SecondsBetween(stats.lastFrameNs.load(), Nanoseconds(now));
        }
        progress.frames = s.frames;
        progress.stopRequested = StopRequested();
        progress.writeFailed = stats.writeFailed;
        progress.credentialsRefused = debugSink.CredentialsRefused();
        progress.sendFailed = debugSink.Unreachable();
        if (!told && s.frames > 0) {
            TellDeliveredSize(options, s);
            told = true;
        }
        const CaptureOutcome outcome = JudgeCapture(progress, options);
        if (outcome != CaptureOutcome::Running) {
            CaptureEndContext context;
            context.diagnosis =
                    outcome == CaptureOutcome::SendFailed
                            ? DiagnoseCamera(camera.host, camera.httpPort, kDiagnoseTimeoutMs)
                            : CameraDiagnosis::Answers;
            context.lastError = debugSink.LastError();
            context.output = writer.Describe();
            context.connectTimeoutSeconds = options.connectTimeoutSeconds;
            context.stallTimeoutSeconds = StallTimeout(options);
            context.frames = s.frames;
            return CaptureEndOf(outcome, context);
        }
        if (options.progress && now >= nextProgress) {
            nextProgress += std::chrono::seconds(1);
            std::printf("%s\n", ProgressJson(s, progress.elapsedSeconds).c_str());
            std::fflush(stdout);
        }
        status.Update(now, progress.elapsedSeconds, s, reception.Text(true));
        // The last wait of a timed run ends with its duration, not up to a tick later.
        wait = tick;
        if (options.durationSeconds > 0 && s.frames > 0) {
            const auto left =
                    std::chrono::duration<double>(options.durationSeconds - s.streamingSeconds);
            wait = std::max(
                    std::chrono::milliseconds(1),
                    std::min(tick, std::chrono::duration_cast<std::chrono::milliseconds>(left)));
        }
    }
}

} // namespace

std::atomic<bool>& StopRequested() {
    static std::atomic<bool> stop{false};
    return stop;
}

void ReportFailure(const Options& options, int exitCode, const std::string& message) {
    ConsoleDebugSink::Print("vantrel-capture: error: " + message);
    if (options.json) {
        std::printf("%s\n",
                    JsonObject().Add("exit_code", exitCode).Add("error", message).Text().c_str());
    }
}

int RunCapture(const Options& options, Plugin& plugin, const CameraEndpoint& camera) {
    const bool jpeg = options.stream == StreamKind::Mjpeg;
    const bool h265 = options.stream == StreamKind::H265;
    const char* const codec = jpeg ? "MJPEG" : h265 ? "H.265" : "H.264";
    std::string error;
    std::unique_ptr<FrameWriter> writer =
            MakeWriter(options.out, jpeg, options.overwrite, error, h265);
    if (!writer) {
        ReportFailure(options, kExitUsage, error);
        return kExitUsage;
    }

    ConsoleDebugSink debugSink;
    PoolAllocator allocator;
    OpenParams params;
    params.connection.address = camera.host;
    params.connection.port = camera.httpPort;
    params.connection.user = camera.user;
    params.connection.password = camera.password;
    params.connection.streamType = jpeg   ? norvane::kStreamTypeMjpeg
                                   : h265 ? norvane::kStreamTypeH265
                                          : norvane::kStreamTypeH264;
    params.parameters = DriverParameters(options, camera);
    CaptureStats stats;
    FrameSink frameSink(*writer, stats, options.frames);

    // Declared after every host object it is handed, so that it goes before them on every path.
    DriverHandle driver = plugin.CreateDriver();
    if (!driver) {
        writer->Discard();
        ReportFailure(options, kExitPlugin, "the plug-in could not create a driver");
        return kExitPlugin;
    }
    if (!driver->Open(&debugSink, &allocator, &params) || driver->GetVideoCapture() == nullptr) {
        writer->Discard();
        ReportFailure(options, kExitPlugin, "the driver could not be opened");
        return kExitPlugin;
    }

    ChannelParams channelParams;
    channelParams.width = options.width;
    channelParams.height = options.height;
    channelParams.frameInterval = static_cast<uint16_t>((1000 + options.fps / 2) / options.fps);
    channelParams.quality = options.quality;
    norvane::ipcapture::IIPVideoCaptureEx* video = driver->GetVideoCapture();

    const std::string cameraText = camera.host + ":" + std::to_string(camera.httpPort);
    ConsoleDebugSink::Info("vantrel-capture: asking " + cameraText + " for " + codec + " " +
                           std::to_string(options.width) + "x" + std::to_string(options.height) +
                           " at " + std::to_string(options.fps) +
                           " fps; output: " + writer->Describe());
    const bool opened = video->OpenChannel(0, &frameSink, &channelParams);
    const auto start = Clock::now();
    const ReceptionReader reception{plugin.reception, driver.get()};
    CaptureEnd end =
            opened ? WatchCapture(options, camera, stats, debugSink, *writer, start, reception)
                   : CaptureEndOf(CaptureOutcome::ChannelNotStarted, {});
    const std::string receptionSummary = reception.Text(false);
    CaptureSummary receptionAtEnd;
    AddReception(receptionAtEnd, reception);
    video->CloseChannel(0);
    driver.reset(); // no frame arrives after this: the summary's counts are final

    CaptureSummary summary = Snapshot(stats, start, Clock::now(), writer->Describe());
    summary.receptionKnown = receptionAtEnd.receptionKnown;
    summary.packetsExpected = receptionAtEnd.packetsExpected;
    summary.packetsLost = receptionAtEnd.packetsLost;
    summary.framesDamaged = receptionAtEnd.framesDamaged;
    if (summary.frames > 0) {
        // The streaming time ends with the last frame, not with the tear-down.
        summary.streamingSeconds =
                SecondsBetween(stats.firstFrameNs.load(), stats.lastFrameNs.load());
    }
    if (stats.writeFailed || (summary.frames > 0 && !writer->Finish())) {
        end = {kExitOutput, "the output is not complete: " + writer->Error()};
    }
    if (summary.frames == 0) {
        writer->Discard(); // a run that wrote nothing leaves no file behind
        if (end.exitCode == kExitOk) {
            end = {kExitCamera, "no frame arrived"};
        }
    }
    ConsoleDebugSink::Print("vantrel-capture: " + SummaryText(summary));
    if (!receptionSummary.empty()) {
        ConsoleDebugSink::Print("vantrel-capture: " + receptionSummary);
    }
    if (end.exitCode != kExitOk) {
        ConsoleDebugSink::Print("vantrel-capture: error: " + end.reason);
    }
    if (options.json) {
        CaptureRequest request{cameraText,
                               jpeg   ? "mjpeg"
                               : h265 ? "h265"
                                      : "h264",
                               options.width, options.height, options.fps};
        std::printf("%s\n", SummaryJson(summary, request, end.exitCode, end.reason).c_str());
    }
    return end.exitCode;
}

} // namespace vantrel::capture
