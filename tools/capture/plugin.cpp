#include "plugin.h"

#include <filesystem>
#include <system_error>

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
    reception = reinterpret_cast<GetChannelReceptionFn>(::dlsym(m_handle, "GetChannelReception"));
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
    // An installed tool loads the plug-in installed with it; a tool in the build tree, the one
    // built with it.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed =
                self.parent_path() / VANTREL_CAPTURE_INSTALLED_PLUGIN;
        if (std::filesystem::is_regular_file(installed, error)) {
            return installed.lexically_normal().string();
        }
    }
    return VANTREL_CAPTURE_PLUGIN_PATH;
}

} // namespace vantrel::capture
