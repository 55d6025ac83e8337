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
    if ((options.frames > 0 && progress.frames >= options.frames) ||
        (options.durationSeconds > 0 && progress.elapsedSeconds >= options.durationSeconds)) {
        return CaptureOutcome::Finished;
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
    return CaptureOutcome::Running;
}

CaptureEnd CaptureEndOf(CaptureOutcome outcome, CameraDiagnosis diagnosis,
                        const std::string& lastError, const std::string& output,
                        double connectTimeoutSeconds) {
    switch (outcome) {
    case CaptureOutcome::Running:
    case CaptureOutcome::Finished:
        return {kExitOk, ""};
    case CaptureOutcome::ChannelNotStarted:
        return {kExitPlugin, "the driver could not start the channel"};
    case CaptureOutcome::Interrupted:
        return {kExitInterrupted, "interrupted before the first frame"};
    case CaptureOutcome::WriteFailed:
        return {kExitCamera, "cannot write to " + output};
    case CaptureOutcome::CredentialsRefused:
        return {kExitCredentials, "the camera refused the credentials (" + lastError + ")"};
    case CaptureOutcome::SendFailed:
        // Either nobody answers, or the camera refused the credentials before answering (a
        // refused Basic login is not retried).
        switch (diagnosis) {
        case CameraDiagnosis::NeedsCredentials:
            return {kExitCredentials,
                    "the camera refused the credentials: check --user and --password"};
        case CameraDiagnosis::Unreachable:
            return {kExitCamera, "the camera cannot be reached (" + lastError + ")"};
        default:
            return {kExitCamera,
                    "the camera does not take the driver's requests (" + lastError + ")"};
        }
    case CaptureOutcome::NoFrameInTime:
        return {kExitCamera, "no frame arrived within " + FixedText(connectTimeoutSeconds, 0) +
                                     " s" + (lastError.empty() ? "" : " (" + lastError + ")")};
    }
    return {kExitCamera, "unknown end of the capture"};
}

std::string FixedText(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace vantrel::capture
