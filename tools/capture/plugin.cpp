#include "plugin.h"

#include <dlfcn.h>

namespace vantrel::capture {
namespace {

template <class Fn>
bool Resolve(void* handle, const char* name, Fn& target, std::string& error) {
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr) {
        error = std::string("the plug-in has no entry point ") + name;
        return false;
    }
    target = reinterpret_cast<Fn>(symbol);
    return true;
}

} // namespace

bool Plugin::Load(const std::string& path, std::string& error) {
    m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* reason = ::dlerror();
        error = "cannot load the driver plug-in '" + path +
                "': " + (reason != nullptr ? reason : "");
        return false;
    }
    // Every factory and deletion name must be present, as a host checks them.
    CreateIPCaptureFn unusedCreate = nullptr;
    DeleteIPCaptureFn unusedDelete = nullptr;
    return Resolve(m_handle, "CreateIPCapture", create, error) &&
           Resolve(m_handle, "CreateIPCaptureEx", unusedCreate, error) &&
           Resolve(m_handle, "CreateIPCaptureEx2", unusedCreate, error) &&
           Resolve(m_handle, "CreateIPCaptureEx3", unusedCreate, error) &&
           Resolve(m_handle, "DeleteIPCapture", destroy, error) &&
           Resolve(m_handle, "DeleteIPCaptureEx", unusedDelete, error) &&
           Resolve(m_handle, "DeleteIPCaptureEx2", unusedDelete, error) &&
           Resolve(m_handle, "DeleteIPCaptureEx3", unusedDelete, error) &&
           Resolve(m_handle, "InitCapabilityQuery", initQuery, error) &&
           Resolve(m_handle, "StartCapabilityQuery", startQuery, error) &&
           Resolve(m_handle, "TerminateCapabilityQuery", terminateQuery, error) &&
           Resolve(m_handle, "UninitCapabilityQuery", uninitQuery, error);
}

Plugin::~Plugin() {
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
    }
}

std::string DefaultPluginPath() {
#ifdef VANTREL_CAPTURE_PLUGIN_PATH
    return VANTREL_CAPTURE_PLUGIN_PATH;
#else
    return "vantrel_capture.so";
#endif
}

} // namespace vantrel::capture
