#include "capability_query.h"

#include "diagnose.h"

namespace vantrel::capture {

CaptureEnd QueryCapabilities(Plugin& plugin, const CameraEndpoint& camera, bool ntsc,
                             double timeoutSeconds, CapabilityResults& results) {
    QueryCallback callback;
    if (plugin.initQuery(&callback, ntsc ? 1 : 0) != 1) {
        return {kExitPlugin, "a capability query is already running"};
    }
    if (plugin.startQuery(camera.host.c_str(), camera.httpPort, camera.user.c_str(),
                          camera.password.c_str(), &results) != 1) {
        plugin.uninitQuery();
        return {kExitPlugin, "the capability query could not start"};
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(timeoutSeconds * 1000));
    bool finished = false;
    while (!finished && !StopRequested() && std::chrono::steady_clock::now() < deadline) {
        finished = callback.Wait(std::chrono::milliseconds(100));
    }
    plugin.uninitQuery(); // after this no callback comes
    if (!finished && StopRequested()) {
        return {kExitInterrupted, "interrupted"};
    }
    const std::string where = camera.host + ":" + std::to_string(camera.httpPort);
    if (finished && callback.succeeded) {
        return {kExitOk, ""};
    }
    // The query tells no cause: the camera's HTTP port, asked once without credentials, tells
    // a refusal of the credentials from a camera that cannot be reached.
    switch (DiagnoseCamera(camera.host, camera.httpPort, kDiagnoseTimeoutMs)) {
    case CameraDiagnosis::NeedsCredentials:
        return {kExitCredentials,
                "the camera at " + where + " refused the credentials: check --user and --password"};
    case CameraDiagnosis::Unreachable:
        return {kExitCamera, "the camera at " + where + " cannot be reached"};
    default:
        return {kExitCamera, finished ? "the camera at " + where + " answered, but not as a " +
                                                "Vantrel camera (" + callback.message + ")"
                                      : "the camera at " + where + " did not answer within " +
                                                FixedText(timeoutSeconds, 0) + " s"};
    }
}

} // namespace vantrel::capture
