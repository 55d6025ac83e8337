#include "capture_summary.h"

#include "capture_verdict.h"
#include "json_text.h"

namespace vantrel::capture {
namespace {

// The members that the closing summary and the progress lines share.
JsonObject& AddDelivered(JsonObject& json, const CaptureSummary& s) {
    return json.Add("frames", s.frames)
            .Add("key_frames", s.keyFrames)
            .Add("bytes", s.bytes)
            .Add("width", s.width)
            .Add("height", s.height)
            .Add("setup_seconds", s.setupSeconds, 3)
            .Add("streaming_seconds", s.streamingSeconds, 3)
            .Add("fps", s.Fps(), 2)
            .Add("kbit_per_second", s.KbitPerSecond(), 1)
            .Add("signal_loss_reports", s.signalLossReports);
}

// AddReception adds the driver's reception counts, or nulls where the plug-in cannot tell.
JsonObject& AddReception(JsonObject& json, const CaptureSummary& s) {
    if (!s.receptionKnown) {
        return json.AddNull("packets_expected").AddNull("packets_lost").AddNull("frames_damaged");
    }
    return json.Add("packets_expected", s.packetsExpected)
            .Add("packets_lost", s.packetsLost)
            .Add("frames_damaged", s.framesDamaged);
}

} // namespace

double CaptureSummary::Fps() const {
    // The streaming time starts with the first frame: the frames after it make the rate.
    return streamingSeconds > 0 && frames > 1 ? static_cast<double>(frames - 1) / streamingSeconds
                                              : 0;
}

double CaptureSummary::KbitPerSecond() const {
    return streamingSeconds > 0 ? static_cast<double>(bytes) * 8 / 1000 / streamingSeconds : 0;
}

std::string SummaryText(const CaptureSummary& s) {
    std::string text = std::to_string(s.frames) + " frames (" + std::to_string(s.keyFrames) +
                       " key), " + FixedText(static_cast<double>(s.bytes) / 1e6, 2) + " MB";
    if (s.width != 0) {
        text += ", " + std::to_string(s.width) + "x" + std::to_string(s.height);
    }
    text += "; streaming " + FixedText(s.streamingSeconds, 1) + " s at " + FixedText(s.Fps(), 1) +
            " fps, " + FixedText(s.KbitPerSecond(), 0) + " kbit/s, after " +
            FixedText(s.setupSeconds, 1) + " s of setup; " + std::to_string(s.signalLossReports) +
            " signal-loss reports; output: " + s.output;
    return text;
}

std::string SummaryJson(const CaptureSummary& s, const CaptureRequest& request, int exitCode,
                        const std::string& error) {
    JsonObject json;
    json.Add("exit_code", exitCode);
    if (error.empty()) {
        json.AddNull("error");
    } else {
        json.Add("error", error);
    }
    json.Add("camera", request.camera)
            .Add("stream", request.stream)
            .Add("requested_width", request.width)
            .Add("requested_height", request.height)
            .Add("requested_fps", request.fps);
    AddDelivered(json, s);
    AddReception(json, s);
    return json.Add("output", s.output).Text();
}

std::string ProgressJson(const CaptureSummary& s, double elapsedSeconds) {
    JsonObject json;
    json.Add("state", s.state).Add("elapsed_seconds", elapsedSeconds, 3);
    AddDelivered(json, s);
    return AddReception(json, s).Text();
}

} // namespace vantrel::capture
