// io: learn the camera's outputs, open the driver's digital I/O, switch the relay outputs asked
// for (each told only once the camera took it) and watch the alarm input.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "capability_query.h"
#include "commands.h"
#include "host_objects.h"

namespace vantrel::capture {
namespace {

const char* StateName(std::uint32_t state) {
    return state == 1 ? "on" : state == 2 ? "off" : "unknown";
}

// Confirmations follows the driver's word that the camera took an output state, and the I/O
// failures, so that a switch is reported only after the camera answered.
class Confirmations {
public:
    void OnMessage(const std::string& text) {
        unsigned index = 0;
        unsigned state = 0;
        if (std::sscanf(text.c_str(), "CIOBase: the camera took output %u state %u", &index,
                        &state) != 2) {
            return;
        }
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_states[index] = state;
        }
        m_changed.notify_all();
    }

    void OnFailure() {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_states.clear(); // the driver forgets every state after a failure
            ++m_failures;
        }
        m_changed.notify_all();
    }

    // WaitFor waits until output `index` is confirmed in `state` or a failure came after
    // `failuresBefore`; true when confirmed.
    bool WaitFor(std::uint32_t index, std::uint32_t state, int failuresBefore,
                 std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> guard(m_mutex);
        while (!Confirmed(index, state) && m_failures == failuresBefore && !StopRequested()) {
            if (m_changed.wait_until(guard,
                                     std::min(deadline, std::chrono::steady_clock::now() +
                                                                std::chrono::milliseconds(100))) ==
                        std::cv_status::timeout &&
                std::chrono::steady_clock::now() >= deadline) {
                break;
            }
        }
        return Confirmed(index, state);
    }

    bool Confirmed(std::uint32_t index, std::uint32_t state) const {
        const auto found = m_states.find(index);
        return found != m_states.end() && found->second == state;
    }

    int Failures() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_failures;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::uint32_t, std::uint32_t> m_states;
    int m_failures = 0;
};

class ConfirmingCallback : public IOCallback {
public:
    explicit ConfirmingCallback(Confirmations& confirmations) : m_confirmations(confirmations) {}

    void OnIOFailure() override {
        IOCallback::OnIOFailure();
        m_confirmations.OnFailure();
    }

private:
    Confirmations& m_confirmations;
};

} // namespace

int RunIO(const Options& options, Plugin& plugin, const CameraEndpoint& camera) {
    // The relay numbers are checked against what the camera has, not what a host assumes.
    CapabilityResults capabilities;
    const CaptureEnd queried = QueryCapabilities(plugin, camera, options.ntsc,
                                                 options.connectTimeoutSeconds, capabilities);
    if (queried.exitCode != kExitOk) {
        ReportFailure(options, queried.exitCode, queried.reason);
        return queried.exitCode;
    }
    const auto count = [&](std::uint32_t id) {
        return capabilities.values.count(id) != 0U ? capabilities.values.at(id) : 0U;
    };
    const std::uint32_t inputs = count(kCapabilityAlarmInput);
    const std::uint32_t outputs = count(kCapabilityAlarmOutput);
    for (const auto& [index, state] : options.outputSwitches) {
        if (index >= outputs) {
            ReportFailure(options, kExitUsage,
                          "--set " + std::to_string(index) + "=" + StateName(state) +
                                  ": the camera has " +
                                  (outputs == 0 ? std::string("no relay output")
                                                : std::to_string(outputs) +
                                                          " relay output(s), numbered from 0"));
            return kExitUsage;
        }
    }

    Confirmations confirmations;
    ConsoleDebugSink debugSink;
    debugSink.SetObserver(
            [&](unsigned /*level*/, const std::string& text) { confirmations.OnMessage(text); });
    PoolAllocator allocator;
    OpenParams params;
    params.device.inputs = static_cast<int32_t>(inputs);
    params.device.outputs = static_cast<int32_t>(outputs);
    params.connection.address = camera.host;
    params.connection.port = camera.httpPort;
    params.connection.user = camera.user;
    params.connection.password = camera.password;
    params.parameters = {options.ntsc ? "1" : "0"};

    ConfirmingCallback callback(confirmations);
    // Declared after every host object it is handed, so that it goes before them on every path.
    DriverHandle driver = plugin.CreateDriver();
    if (!driver || !driver->Open(&debugSink, &allocator, &params)) {
        ReportFailure(options, kExitPlugin, "the driver could not be opened");
        return kExitPlugin;
    }
    norvane::ICaptureIOApi* io = driver->GetDigitalIO();
    if (io == nullptr) {
        ReportFailure(options, kExitPlugin, "the driver has no digital I/O");
        return kExitPlugin;
    }
    io->SetCallback(&callback);
    if (!io->StartIO()) {
        io->StopIO();
        ReportFailure(options, kExitPlugin, "the digital I/O could not be started");
        return kExitPlugin;
    }
    ConsoleDebugSink::Info("vantrel-capture: " + std::to_string(inputs) + " alarm input(s), " +
                           std::to_string(outputs) + " relay output(s) at " + camera.host +
                           "; Ctrl-C stops");
    int failed = 0;
    for (const auto& [index, state] : options.outputSwitches) {
        const int failuresBefore = confirmations.Failures();
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(
                                      static_cast<long long>(options.connectTimeoutSeconds * 1000));
        if (!io->SetOutput(index, state) ||
            !confirmations.WaitFor(index, state, failuresBefore, deadline)) {
            ++failed;
            ConsoleDebugSink::Print("[io] output " + std::to_string(index) + " was not switched " +
                                    StateName(state) + ": the camera did not confirm it");
            continue;
        }
        ConsoleDebugSink::Info("[io] output " + std::to_string(index) + " switched " +
                               StateName(state) + " (confirmed by the camera)");
    }
    const auto start = std::chrono::steady_clock::now();
    while (!StopRequested() && failed == 0) {
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
    if (failed > 0 || callback.failures > 0) {
        const std::string reason =
                (failed > 0 ? std::to_string(failed) + " switch(es) not confirmed by the camera"
                            : std::to_string(callback.failures.load()) + " I/O request(s) failed") +
                (refused ? ": the camera refused the credentials" : "") +
                (debugSink.LastError().empty() ? "" : " (" + debugSink.LastError() + ")");
        const int code = refused ? kExitCredentials : kExitCamera;
        ReportFailure(options, code, reason);
        return code;
    }
    return kExitOk;
}

} // namespace vantrel::capture
