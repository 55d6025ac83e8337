// The end of a capture: from what a run has seen so far, whether it goes on, and if not, the exit
// code and the reason the user is told. Pure functions of their inputs, so that every way a
// capture ends is checked without a camera or a clock.
#pragma once

#include <cstdint>
#include <string>

#include "diagnose.h"
#include "options.h"

namespace vantrel::capture {

// What a running capture has seen, read once per tick.
struct CaptureProgress {
    double elapsedSeconds = 0;       // since the channel was opened
    double streamingSeconds = 0;     // since the first frame; 0 before it
    double sinceFrameSeconds = 0;    // since the last frame; 0 before the first
    std::uint64_t frames = 0;        // frames received
    bool stopRequested = false;      // SIGINT or SIGTERM
    bool writeFailed = false;        // the output refused a frame
    bool credentialsRefused = false; // the driver was answered 401
    bool sendFailed = false;         // the driver could not send a request to the camera
};

enum class CaptureOutcome {
    Running,            // nothing ends the capture yet
    Finished,           // the frame limit or the duration was reached, or stopped after frames
    ChannelNotStarted,  // the driver could not start the channel
    Interrupted,        // stopped before the first frame
    WriteFailed,        // the output cannot be written
    CredentialsRefused, // refused credentials before the first frame
    SendFailed,         // no request reached the camera before the first frame: diagnose why
    NoFrameInTime,      // no frame within the connect time-out
    Stalled,            // frames came, then none for the stall time-out
};

// JudgeCapture decides whether the capture goes on. A stop comes first, then a write failure,
// then the frame and streaming-time limits; with --keep-trying nothing else ends a run. The
// reasons a camera sends nothing count only before the first frame, refused credentials before
// a failed send and both before the connect time-out; the stall time-out only after it.
[[nodiscard]] CaptureOutcome JudgeCapture(const CaptureProgress& progress, const Options& options);

// How a capture ended, for the user: the exit status and, for a failure, the reason.
struct CaptureEnd {
    int exitCode = 0;
    std::string reason; // empty when the capture succeeded
};

// What the wording of an end needs besides the outcome.
struct CaptureEndContext {
    CameraDiagnosis diagnosis = CameraDiagnosis::Answers; // read only for SendFailed
    std::string lastError;                                // the driver's last error message
    std::string output;                                   // names the output
    double connectTimeoutSeconds = 30;
    double stallTimeoutSeconds = 0;
    std::uint64_t frames = 0;
};

// CaptureEndOf words `outcome`.
[[nodiscard]] CaptureEnd CaptureEndOf(CaptureOutcome outcome, const CaptureEndContext& context);

// FixedText writes `value` with `decimals` digits after the point, as the tool's lines show
// rates, sizes and times.
[[nodiscard]] std::string FixedText(double value, int decimals);

} // namespace vantrel::capture
