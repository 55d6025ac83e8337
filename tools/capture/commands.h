// The three things vantrel-capture does, each run against a loaded plug-in and a camera.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "options.h"
#include "plugin.h"

namespace vantrel::capture {

// Exit codes of the tool.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitPlugin = 3;
constexpr int kExitCamera = 4;
constexpr int kExitCredentials = 5;
constexpr int kExitOutput = 6; // the output was not fully written
constexpr int kExitInterrupted = 130;

// Where the camera is: the one on the command line or the built-in simulated camera.
struct CameraEndpoint {
    std::string host;
    std::uint16_t httpPort = 80;
    std::optional<std::uint16_t> rtspPort;
    std::string user;
    std::string password;
    bool simulated = false;
};

// Set by SIGINT and SIGTERM; every command polls it.
std::atomic<bool>& StopRequested();

// ReportFailure tells an error that ends a command: a line on stderr and, with --json, an
// object {"exit_code": N, "error": "..."} on stdout.
void ReportFailure(const Options& options, int exitCode, const std::string& message);

int RunCapture(const Options& options, Plugin& plugin, const CameraEndpoint& camera);
int RunProbe(const Options& options, Plugin& plugin, const CameraEndpoint& camera);
int RunIO(const Options& options, Plugin& plugin, const CameraEndpoint& camera);

} // namespace vantrel::capture
