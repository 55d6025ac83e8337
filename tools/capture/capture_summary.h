// What a capture delivered, for the user at the end (one line, or one JSON object with --json)
// and once per second while it runs (--progress). Setup (opening the channel up to the first
// frame) and streaming (from the first frame on) are timed apart, so that the rates are those
// of the stream and not diluted by the camera's set-up.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel::capture {

struct CaptureSummary {
    // The run.
    std::string state = "connecting"; // progress: connecting or streaming
    double setupSeconds = 0;          // from opening the channel to the first frame (or the end)
    double streamingSeconds = 0;      // from the first frame to the end
    // What was delivered to the output.
    std::uint64_t frames = 0;
    std::uint64_t keyFrames = 0;
    std::uint64_t bytes = 0;
    std::uint32_t width = 0; // of the last frame; 0 before the first
    std::uint32_t height = 0;
    std::uint64_t signalLossReports = 0;
    // The driver's reception, where the plug-in tells it (GetChannelReception).
    bool receptionKnown = false;
    std::uint64_t packetsExpected = 0;
    std::int64_t packetsLost = 0; // repeats can make it negative (RFC 3550)
    std::uint64_t framesDamaged = 0;
    std::string output;

    [[nodiscard]] double Fps() const;
    [[nodiscard]] double KbitPerSecond() const;
};

// SummaryText is the closing line: frames, size, rate, the two times and the output.
[[nodiscard]] std::string SummaryText(const CaptureSummary& summary);

// SummaryJson is the --json object: the summary, what was asked, and how the run ended
// (`error` empty on success).
struct CaptureRequest {
    std::string camera; // host:port
    std::string stream; // h264 or mjpeg
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t fps = 0;
};

[[nodiscard]] std::string SummaryJson(const CaptureSummary& summary, const CaptureRequest& request,
                                      int exitCode, const std::string& error);

// ProgressJson is one --progress line (without its line end); `elapsedSeconds` counts from the
// opening of the channel.
[[nodiscard]] std::string ProgressJson(const CaptureSummary& summary, double elapsedSeconds);

} // namespace vantrel::capture
