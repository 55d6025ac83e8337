// Loads the installed plug-in, creates a driver through its factory and deletes it.
#include <cstdio>

#include <dlfcn.h>

#include "norvane/norvane.h"

int main() {
    void* plugin = ::dlopen(PLUGIN, RTLD_NOW | RTLD_LOCAL);
    if (plugin == nullptr) {
        std::printf("consumer: cannot load %s\n", PLUGIN);
        return 1;
    }
    auto create = reinterpret_cast<CreateIPCaptureFn>(::dlsym(plugin, "CreateIPCapture"));
    auto destroy = reinterpret_cast<DeleteIPCaptureFn>(::dlsym(plugin, "DeleteIPCapture"));
    norvane::ipcapture::IIPCaptureDriverEx3* driver = create != nullptr ? create() : nullptr;
    if (driver == nullptr || destroy == nullptr) {
        std::printf("consumer: no driver from %s\n", PLUGIN);
        return 1;
    }
    destroy(driver);
    ::dlclose(plugin);
    std::printf("consumer: PASSED\n");
    return 0;
}
