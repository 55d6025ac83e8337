// The library's exported entry points. Every export is a boundary: no exception leaves it.
#include "norvane/exports.h"

#include <new>

#include "driver/boundary.h"
#include "driver/vantrel_driver.h"

using norvane::ipcapture::IIPCaptureDriver;
using norvane::ipcapture::IIPCaptureDriverEx3;

namespace {

IIPCaptureDriverEx3* CreateDriver() {
    return norvane::GuardHostCall(static_cast<IIPCaptureDriverEx3*>(nullptr), [] {
        return static_cast<IIPCaptureDriverEx3*>(new (std::nothrow) norvane::CVantrelDriver());
    });
}

void DeleteDriver(IIPCaptureDriver* driver) {
    norvane::GuardHostCall([&] { norvane::DestroyThroughSlot0(driver); });
}

} // namespace

extern "C" {

IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCapture(void) { return CreateDriver(); }
IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCaptureEx(void) { return CreateDriver(); }
IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCaptureEx2(void) { return CreateDriver(); }
IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCaptureEx3(void) { return CreateDriver(); }

void NORVANE_CDECL DeleteIPCapture(IIPCaptureDriver* driver) { DeleteDriver(driver); }
void NORVANE_CDECL DeleteIPCaptureEx(IIPCaptureDriver* driver) { DeleteDriver(driver); }
void NORVANE_CDECL DeleteIPCaptureEx2(IIPCaptureDriver* driver) { DeleteDriver(driver); }
void NORVANE_CDECL DeleteIPCaptureEx3(IIPCaptureDriver* driver) { DeleteDriver(driver); }

} // extern "C"
