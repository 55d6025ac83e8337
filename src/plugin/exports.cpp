// The library's exported entry points. Every export is a boundary: no exception leaves it.
#include "norvane/exports.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/boundary.h"
#include "driver/vantrel_driver.h"
#include "driver/video_capture.h"
#include "http/capability_query.h"

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

IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCapture(void) {
    return CreateDriver();
}

IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCaptureEx(void) {
    return CreateDriver();
}

IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCaptureEx2(void) {
    return CreateDriver();
}

IIPCaptureDriverEx3* NORVANE_CDECL CreateIPCaptureEx3(void) {
    return CreateDriver();
}

void NORVANE_CDECL DeleteIPCapture(IIPCaptureDriver* driver) {
    DeleteDriver(driver);
}

void NORVANE_CDECL DeleteIPCaptureEx(IIPCaptureDriver* driver) {
    DeleteDriver(driver);
}

void NORVANE_CDECL DeleteIPCaptureEx2(IIPCaptureDriver* driver) {
    DeleteDriver(driver);
}

void NORVANE_CDECL DeleteIPCaptureEx3(IIPCaptureDriver* driver) {
    DeleteDriver(driver);
}

// Capability query: thin wrappers over the library's one query.
int32_t NORVANE_CDECL InitCapabilityQuery(norvane::ICapabilityCallback* client, uint8_t ntsc) {
    return norvane::GuardHostCall(
            int32_t{0}, [&] { return norvane::LibraryCapabilityQuery().Init(client, ntsc); });
}

int32_t NORVANE_CDECL StartCapabilityQuery(const char* address, int32_t port, const char* userName,
                                           const char* password,
                                           norvane::ICapabilityResults* results) {
    return norvane::GuardHostCall(int32_t{0}, [&] {
        return norvane::LibraryCapabilityQuery().Start(address, port, userName, password, results);
    });
}

int32_t NORVANE_CDECL TerminateCapabilityQuery(void) {
    return norvane::GuardHostCall(int32_t{1},
                                  [] { return norvane::LibraryCapabilityQuery().Terminate(); });
}

int32_t NORVANE_CDECL UninitCapabilityQuery(void) {
    return norvane::GuardHostCall(int32_t{1},
                                  [] { return norvane::LibraryCapabilityQuery().Uninit(); });
}

int32_t NORVANE_CDECL GetChannelReception(IIPCaptureDriver* driver, uint32_t index,
                                          NorvaneChannelReception* reception) {
    constexpr std::size_t kLeastSize = 2 * sizeof(uint32_t);
    return norvane::GuardHostCall(int32_t{0}, [&] {
        if (driver == nullptr || reception == nullptr || reception->size < kLeastSize) {
            return int32_t{0};
        }
        // The driver is one of ours (a factory's result), and so is its video capture object.
        auto* capture = static_cast<norvane::CIPVideoCapture*>(
                static_cast<norvane::CIPCaptureDriver*>(driver)->GetVideoCapture());
        norvane::RtpReceptionCounters counts;
        if (capture == nullptr || !capture->GetChannelReception(index, counts)) {
            return int32_t{0};
        }
        NorvaneChannelReception full{};
        full.jitter = counts.jitter;
        full.packetsReceived = counts.received;
        full.packetsExpected = counts.expected;
        full.packetsLost = counts.Lost();
        full.reordered = counts.reordered;
        full.duplicates = counts.duplicates;
        full.late = counts.late;
        full.framesDelivered = counts.framesDelivered;
        full.framesDamaged = counts.framesDamaged;
        full.payloadBytes = counts.bytes;
        const std::size_t filled = std::min<std::size_t>(reception->size, sizeof full);
        full.size = static_cast<uint32_t>(filled);
        std::memcpy(reception, &full, filled);
        return int32_t{1};
    });
}

} // extern "C"
