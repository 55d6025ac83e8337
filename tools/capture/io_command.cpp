// io: open the driver's digital I/O, switch the relay outputs asked for and watch the inputs.
#include <chrono>
#include <thread>

#include "commands.h"
#include "host_objects.h"

namespace vantrel::capture {

int RunIO(const Options& options, Plugin& plugin, const CameraEndpoint& camera) {
    ConsoleDebugSink debugSink(options.verbosity);
    PoolAllocator allocator;
    OpenParams params;
    params.connection.address = camera.host;
    params.connection.port = camera.httpPort;
    params.connection.user = camera.user;
    params.connection.password = camera.password;
    params.parameters = {options.ntsc ? "1" : "0"};

    IOCallback callback;
    // Declared after every host object it is handed, so that it goes before them on every path.
    DriverHandle driver = plugin.CreateDriver();
    if (!driver || !driver->Open(&debugSink, &allocator, &params)) {
        ConsoleDebugSink::Print("vantrel-capture: error: the driver could not be opened");
        return kExitPlugin;
    }
    norvane::ICaptureIOApi* io = driver->GetDigitalIO();
    if (io == nullptr) {
        ConsoleDebugSink::Print("vantrel-capture: error: the driver has no digital I/O");
        return kExitPlugin;
    }
    io->SetCallback(&callback);
    if (!io->StartIO()) {
        io->StopIO();
        ConsoleDebugSink::Print("vantrel-capture: error: the digital I/O could not be started");
        return kExitPlugin;
    }
    ConsoleDebugSink::Print("vantrel-capture: watching " + std::to_string(io->GetInputCount()) +
                            " input(s) of " + camera.host + "; Ctrl-C stops");
    for (const auto& [index, state] : options.outputSwitches) {
        if (io->SetOutput(index, state)) {
            ConsoleDebugSink::Print("[io] output " + std::to_string(index) + " switched " +
                                    (state == 1 ? "on" : "off"));
        } else {
            ConsoleDebugSink::Print("[io] output " + std::to_string(index) + " cannot be switched");
        }
    }
    const auto start = std::chrono::steady_clock::now();
    while (!StopRequested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (options.durationSeconds > 0 && elapsed >= options.durationSeconds) {
            break;
        }
    }
    io->StopIO();
    driver.reset(); // no callback comes after this
    const bool refused = debugSink.CredentialsRefused();
    if (callback.failures > 0) {
        ConsoleDebugSink::Print(
                "vantrel-capture: error: " + std::to_string(callback.failures.load()) +
                " I/O request(s) failed" + (refused ? " (credentials refused)" : ""));
        return refused ? kExitCredentials : kExitCamera;
    }
    return kExitOk;
}

} // namespace vantrel::capture
