// CVantrelDriver: the Vantrel camera layer of the driver. It fixes the time-outs used with these
// cameras, reads the video standard and firmware text from the host's parameters, logs the opened
// device, creates the digital I/O object and picks the stream channel class for the stream type.
//
// Threads: as CIPCaptureDriver.
#pragma once

#include "core/parameters.h"
#include "driver/ip_capture_driver.h"

namespace norvane {

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
