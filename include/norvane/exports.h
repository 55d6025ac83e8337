// The library's thirteen exported entry points and the pointer types a host uses after dlopen or
// LoadLibrary. Exports use the platform's default C calling convention and undecorated names.
#pragma once

#include "norvane/abi.h"
#include "norvane/capability.h"
#include "norvane/ipcapture.h"
#include "norvane/reception.h"

#ifdef __cplusplus
extern "C" {
#endif

// Factories: four names, one function. The result is the driver's primary interface, valid as
// every version of IIPCaptureDriver; null when the object cannot be allocated.
NORVANE_EXPORT norvane::ipcapture::IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCapture(void);
NORVANE_EXPORT norvane::ipcapture::IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCaptureEx(void);
NORVANE_EXPORT norvane::ipcapture::IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCaptureEx2(void);
NORVANE_EXPORT norvane::ipcapture::IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCaptureEx3(void);

// Deletions: four names, one function; any factory's result, once; null is ignored. Stop the
// digital I/O (StopIO) before deleting the driver.
NORVANE_EXPORT void NORVANE_CDECL DeleteIPCapture(norvane::ipcapture::IIPCaptureDriver* driver);
NORVANE_EXPORT void NORVANE_CDECL DeleteIPCaptureEx(norvane::ipcapture::IIPCaptureDriver* driver);
NORVANE_EXPORT void NORVANE_CDECL DeleteIPCaptureEx2(norvane::ipcapture::IIPCaptureDriver* driver);
NORVANE_EXPORT void NORVANE_CDECL DeleteIPCaptureEx3(norvane::ipcapture::IIPCaptureDriver* driver);

// Capability query, one at a time for the whole library: Init, Start once, optionally Terminate,
// then Uninit. The callback and results objects must stay valid until Uninit returns.
// InitCapabilityQuery: 1 = registered, 0 = a client is already registered. `ntsc` non-zero
// selects the 60 Hz family.
NORVANE_EXPORT int32_t NORVANE_CDECL InitCapabilityQuery(norvane::ICapabilityCallback* client,
                                                         uint8_t ntsc);
// StartCapabilityQuery: 1 = worker started, 0 = it could not be started. The low 16 bits of
// `port` are the camera's HTTP port.
NORVANE_EXPORT int32_t NORVANE_CDECL StartCapabilityQuery(const char* address, int32_t port,
                                                          const char* userName,
                                                          const char* password,
                                                          norvane::ICapabilityResults* results);
NORVANE_EXPORT int32_t NORVANE_CDECL TerminateCapabilityQuery(void); // always 1
NORVANE_EXPORT int32_t NORVANE_CDECL UninitCapabilityQuery(void);    // always 1

// GetChannelReception fills `reception` (size set by the host, at least 8) with the reception of
// channel `index` of `driver` (a factory's result, opened). 1 = filled; 0 = no such open channel,
// a null argument or a size below 8. A host that does not know it need not resolve it.
NORVANE_EXPORT int32_t NORVANE_CDECL
GetChannelReception(norvane::ipcapture::IIPCaptureDriver* driver, uint32_t index,
                    NorvaneChannelReception* reception);

#ifdef __cplusplus
} // extern "C"
#endif

// Pointer types for hosts that resolve the exports at run time.
typedef norvane::ipcapture::IIPCaptureDriverEx3*(NORVANE_CDECL* CreateIPCaptureFn)(void);
typedef void(NORVANE_CDECL* DeleteIPCaptureFn)(norvane::ipcapture::IIPCaptureDriver*);
typedef int32_t(NORVANE_CDECL* InitCapabilityQueryFn)(norvane::ICapabilityCallback*, uint8_t);
typedef int32_t(NORVANE_CDECL* StartCapabilityQueryFn)(const char*, int32_t, const char*,
                                                       const char*, norvane::ICapabilityResults*);
typedef int32_t(NORVANE_CDECL* TerminateCapabilityQueryFn)(void);
typedef int32_t(NORVANE_CDECL* UninitCapabilityQueryFn)(void);
typedef int32_t(NORVANE_CDECL* GetChannelReceptionFn)(norvane::ipcapture::IIPCaptureDriver*,
                                                      uint32_t, NorvaneChannelReception*);
