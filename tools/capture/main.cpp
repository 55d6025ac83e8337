// vantrel-capture: a command-line host of the Vantrel capture driver. It loads the plug-in like a
// recording server, implements the host's objects, and captures, probes or drives the I/O of a
// camera (or of the built-in simulated camera).
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "builtin_camera.h"
#include "commands.h"
#include "host_objects.h"
#include "json_text.h"

namespace {

void OnSignal(int /*signal*/) {
    vantrel::capture::StopRequested().store(true);
}

// ReadPassword takes the password from --password-file, or else from VANTREL_PASSWORD when
// --password was not given, so that it need not appear in the process list.
bool ReadPassword(vantrel::capture::Options& options, std::string& error) {
    if (!options.passwordFile.empty()) {
        std::ifstream file(options.passwordFile);
        if (!file) {
            error = "cannot read the password file '" + options.passwordFile + "'";
            return false;
        }
        std::getline(file, options.password);
        if (!options.password.empty() && options.password.back() == '\r') {
            options.password.pop_back();
        }
        return true;
    }
    const char* fromEnvironment = std::getenv("VANTREL_PASSWORD");
    if (!options.passwordGiven && fromEnvironment != nullptr) {
        options.password = fromEnvironment;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace vantrel::capture;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const ParseResult parsed = ParseOptions(arguments);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "vantrel-capture: error: %s\nTry 'vantrel-capture --help'.\n",
                     parsed.error.c_str());
        // A script that asked for JSON gets its error as JSON too.
        if (std::find(arguments.begin(), arguments.end(), "--json") != arguments.end()) {
            std::printf("%s\n", JsonObject()
                                        .Add("exit_code", kExitUsage)
                                        .Add("error", parsed.error)
                                        .Text()
                                        .c_str());
        }
        return kExitUsage;
    }
    Options options = parsed.options;
    if (options.command == Command::Help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    }
    if (options.command == Command::Version) {
        std::fputs(VersionText().c_str(), stdout);
        return kExitOk;
    }
    ConsoleDebugSink::SetVerbosity(options.verbosity);
    std::string error;
    if (!ReadPassword(options, error)) {
        std::fprintf(stderr, "vantrel-capture: error: %s\n", error.c_str());
        return kExitUsage;
    }

    struct sigaction action {};

    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader of --out - that goes away makes the next write fail, which ends the capture.
    std::signal(SIGPIPE, SIG_IGN);

    Plugin plugin;
    const std::string pluginPath = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
    if (!plugin.Load(pluginPath, error)) {
        ReportFailure(options, kExitPlugin, error);
        return kExitPlugin;
    }
    ConsoleDebugSink::Detail("vantrel-capture: plug-in " + pluginPath);

    CameraEndpoint camera;
    std::unique_ptr<BuiltInCamera> simulated;
    if (options.cameraHost.empty()) {
        simulated = BuiltInCamera::Start(options, error);
        if (!simulated) {
            ReportFailure(options, kExitCamera, error);
            return kExitCamera;
        }
        camera = simulated->Endpoint();
        ConsoleDebugSink::Info("vantrel-capture: no --camera given: using the built-in simulated "
                               "camera at " +
                               camera.host + ":" + std::to_string(camera.httpPort));
    } else {
        camera.host = options.cameraHost;
        camera.httpPort = options.httpPort;
        camera.rtspPort = options.rtspPort;
        camera.user = options.user;
        camera.password = options.password;
    }

    switch (options.command) {
    case Command::Probe:
        return RunProbe(options, plugin, camera);
    case Command::IO:
        return RunIO(options, plugin, camera);
    default:
        return RunCapture(options, plugin, camera);
    }
}
