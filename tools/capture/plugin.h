// Plugin: the driver library loaded at run time, as a recording server loads it, with its twelve
// host entry points resolved, and the reception query where the plug-in has it.
#pragma once

#include <memory>
#include <string>

#include "norvane/exports.h"

namespace vantrel::capture {

// DriverDeleter gives a driver object back to the plug-in that made it, through its deletion
// export: the object was built by the plug-in's code and must be torn down by it.
struct DriverDeleter {
    DeleteIPCaptureFn destroy = nullptr;

    void operator()(norvane::ipcapture::IIPCaptureDriverEx3* driver) const { destroy(driver); }
};

// DriverHandle owns one driver object of the plug-in; it must not outlive the loaded Plugin.
using DriverHandle = std::unique_ptr<norvane::ipcapture::IIPCaptureDriverEx3, DriverDeleter>;

class Plugin {
public:
    // Load opens the library at `path` and resolves every entry point; false with `error` set
    // when the library or one of its entry points is missing.
    bool Load(const std::string& path, std::string& error);
    ~Plugin();

    // CreateDriver makes a driver object that is deleted through the plug-in when the handle
    // goes; null when the plug-in makes none.
    [[nodiscard]] DriverHandle CreateDriver() const {
        return DriverHandle(create(), DriverDeleter{destroy});
    }

    CreateIPCaptureFn create = nullptr;
    DeleteIPCaptureFn destroy = nullptr;
    InitCapabilityQueryFn initQuery = nullptr;
    StartCapabilityQueryFn startQuery = nullptr;
    TerminateCapabilityQueryFn terminateQuery = nullptr;
    UninitCapabilityQueryFn uninitQuery = nullptr;
    GetChannelReceptionFn reception = nullptr; // null with a plug-in that does not offer it

private:
    void* m_handle = nullptr;
};

// DefaultPluginPath is the plug-in installed with this tool when there is one, else the plug-in
// built together with it.
std::string DefaultPluginPath();

} // namespace vantrel::capture
