#include "builtin_camera.h"

namespace vantrel::capture {

std::unique_ptr<BuiltInCamera> BuiltInCamera::Start(const Options& /*options*/,
                                                    std::string& error) {
    error = "this build has no simulated camera; give --camera HOST";
    return nullptr;
}

} // namespace vantrel::capture
