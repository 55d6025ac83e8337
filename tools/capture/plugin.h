// Plugin: the driver library loaded at run time, as a recording server loads it, with its twelve
// entry points resolved.
#pragma once

#include <string>

#include "norvane/exports.h"

namespace vantrel::capture {

class Plugin {
public:
    // Load opens the library at `path` and resolves every entry point; false with `error` set
    // when the library or one of its entry points is missing.
    bool Load(const std::string& path, std::string& error);
    ~Plugin();

    CreateIPCaptureFn create = nullptr;
    DeleteIPCaptureFn destroy = nullptr;
    InitCapabilityQueryFn initQuery = nullptr;
    StartCapabilityQueryFn startQuery = nullptr;
    TerminateCapabilityQueryFn terminateQuery = nullptr;
    UninitCapabilityQueryFn uninitQuery = nullptr;

private:
    void* m_handle = nullptr;
};

// DefaultPluginPath is the plug-in installed with this tool when there is one, else the plug-in
// built together with it.
std::string DefaultPluginPath();

} // namespace vantrel::capture
