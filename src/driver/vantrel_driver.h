// CVantrelDriver: the Vantrel camera layer of the driver. It fixes the time-outs used with these
// cameras, reads the video standard and firmware text from the host's parameters, logs the opened
// device, creates the digital I/O object and picks the stream channel class for the stream type.
//
// Threads: as CIPCaptureDriver.
#pragma once

#include "driver/ip_capture_driver.h"

namespace norvane {

// Stream types of the host's connection settings.
constexpr std::int32_t kStreamTypeMjpeg = 1;
constexpr std::int32_t kStreamTypeH264 = 3;

// Time-out used with Vantrel cameras for requests and data.
constexpr std::int32_t kVantrelTimeoutMs = 10000;

// Numbered parameters read by the camera layer.
constexpr std::uint32_t kParamVideoStandard = 1; // non-zero: 60 Hz
constexpr std::uint32_t kParamRtspPort = 2;
constexpr std::uint32_t kParamFirmware = 3;

class CVantrelDriver : public CIPCaptureDriver {
public:
    CVantrelDriver() = default;

    // The channels and the digital I/O call back into this object from their threads: they are
    // stopped while the whole object still exists.
    ~CVantrelDriver() override { Close(); }

    CVantrelDriver(const CVantrelDriver&) = delete;
    CVantrelDriver& operator=(const CVantrelDriver&) = delete;

    bool Open(IDebugSink* sink, IHostSampleAllocator* allocator, IOpenParams* params) override;
    bool CreateIO() override;

    bool CreateExtras() override { return true; }

    ICameraChannel* CreateChannel(std::uint32_t index, IFrameSink* sink) override;
};

} // namespace norvane
