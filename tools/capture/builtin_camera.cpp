#include "builtin_camera.h"

#include "camera_sim.h"

namespace vantrel::capture {
namespace {

class SimulatedCamera : public BuiltInCamera {
public:
    explicit SimulatedCamera(norvane::sim::CameraSimConfig config) : m_sim(std::move(config)) {}

    bool Start(std::string& error) { return m_sim.Start(&error); }

    [[nodiscard]] CameraEndpoint Endpoint() const override {
        CameraEndpoint endpoint;
        endpoint.host = "127.0.0.1";
        endpoint.httpPort = m_sim.HttpPort();
        endpoint.rtspPort = m_sim.RtspPort();
        endpoint.simulated = true;
        return endpoint;
    }

private:
    norvane::sim::CCameraSim m_sim;
};

} // namespace

std::unique_ptr<BuiltInCamera> BuiltInCamera::Start(const Options& options, std::string& error) {
    norvane::sim::CameraSimConfig config;
    config.width = options.width;
    config.height = options.height;
    config.fps = options.fps;
    config.ffMode = options.ntsc ? 60 : 50;
    auto camera = std::make_unique<SimulatedCamera>(config);
    if (!camera->Start(error)) {
        error = "the built-in simulated camera could not start: " + error;
        return nullptr;
    }
    return camera;
}

} // namespace vantrel::capture
