#include "capture_verdict.h"

#include <cstdio>

#include "commands.h"

namespace vantrel::capture {

CaptureOutcome JudgeCapture(const CaptureProgress& progress, const Options& options) {
    const bool noFrame = progress.frames == 0;
    if (progress.stopRequested) {
        return noFrame ? CaptureOutcome::Interrupted : CaptureOutcome::Finished;
    }
    if (progress.writeFailed) {
        return CaptureOutcome::WriteFailed;
    }
    if (!noFrame &&
        ((options.frames > 0 && progress.frames >= options.frames) ||
         (options.durationSeconds > 0 && progress.streamingSeconds >= options.durationSeconds))) {
        return CaptureOutcome::Finished;
    }
    if (options.keepTrying) {
        return CaptureOutcome::Running;
    }
    if (noFrame && progress.credentialsRefused) {
        return CaptureOutcome::CredentialsRefused;
    }
    if (noFrame && progress.sendFailed) {
        return CaptureOutcome::SendFailed;
    }
    if (noFrame && progress.elapsedSeconds >= options.connectTimeoutSeconds) {
        return CaptureOutcome::NoFrameInTime;
    }
    const double stall = StallTimeout(options);
    if (!noFrame && stall > 0 && progress.sinceFrameSeconds >= stall) {
        return CaptureOutcome::Stalled;
    }
    return CaptureOutcome::Running;
}

CaptureEnd CaptureEndOf(CaptureOutcome outcome, const CaptureEndContext& context) {
    const std::string cause = context.lastError.empty() ? "" : " (" + context.lastError + ")";
    switch (outcome) {
    case CaptureOutcome::Running:
    case CaptureOutcome::Finished:
        return {kExitOk, ""};
    case CaptureOutcome::ChannelNotStarted:
        return {kExitPlugin, "the driver could not start the channel"};
    case CaptureOutcome::Interrupted:
        return {kExitInterrupted, "interrupted before the first frame"};
    case CaptureOutcome::WriteFailed:
        return {kExitOutput, "cannot write to " + context.output};
    case CaptureOutcome::CredentialsRefused:
        return {kExitCredentials, "the camera refused the credentials" + cause};
    case CaptureOutcome::SendFailed:
        // Either nobody answers, or the camera refused the credentials before answering (a
        // refused Basic login is not retried).
        switch (context.diagnosis) {
        case CameraDiagnosis::NeedsCredentials:
            return {kExitCredentials,
                    "the camera refused the credentials: check --user and --password"};
        case CameraDiagnosis::Unreachable:
            return {kExitCamera, "the camera cannot be reached" + cause};
        default:
            return {kExitCamera, "the camera does not take the driver's requests" + cause};
        }
    case CaptureOutcome::NoFrameInTime:
        return {kExitCamera, "no frame arrived within " +
                                     FixedText(context.connectTimeoutSeconds, 0) + " s" + cause};
    case CaptureOutcome::Stalled:
        return {kExitCamera, "the stream stalled: no frame for " +
                                     FixedText(context.stallTimeoutSeconds, 0) + " s after " +
                                     std::to_string(context.frames) + " frames" + cause};
    }
    return {kExitCamera, "unknown end of the capture"};
}

std::string FixedText(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace vantrel::capture
