// CIPCaptureDriver: the object the host holds for one camera. It stores the connection settings
// and the host's numbered parameters, owns the video capture and digital I/O objects, and serves
// its own parts through IDriver (settings, parameters, messages). The camera layer derives from it
// and supplies the creation hooks and the channel factory.
//
// Threads: Open, Close and destruction on the host's thread; the IDriver getters and DebugMessage
// from channel, receive and I/O threads, reading only fields that Open wrote before any thread
// started.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/driver_interfaces.h"
#include "core/slot0_ptr.h"
#include "norvane/ipcapture.h"

namespace norvane {

class CIPVideoCapture;

// An owned object of the driver that nothing in this driver creates; kept so that Close can
// release one if a camera layer sets it.
class IAuxObject {
public:
    virtual ~IAuxObject() = default;
};

class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx3,
                         public IDriver,
                         public ICustomCreator {
    NORVANE_IMPLEMENT_SLOT0(CIPCaptureDriver)

public:
    // Upper bound of numbered parameters read from the host, so that a host that never answers
    // null cannot keep Open looping.
    static constexpr std::uint32_t kMaxParameters = 1024;

    CIPCaptureDriver();
    ~CIPCaptureDriver() override;
    CIPCaptureDriver(const CIPCaptureDriver&) = delete;
    CIPCaptureDriver& operator=(const CIPCaptureDriver&) = delete;

    // IIPCaptureDriver and its extensions.
    bool Open(IDebugSink* sink, IHostSampleAllocator* allocator, IOpenParams* params) override;
    void Close() override;
    ipcapture::IIPVideoCaptureEx* GetVideoCapture() override;

    ICaptureIOApi* GetDigitalIO() override { return m_digitalIO.get(); }

    void* GetReservedObject() override { return nullptr; }

    void* GetAuxObject() override { return m_auxObject.get(); }

    void* GetReservedObjectEx() override { return nullptr; }

    ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override { return GetVideoCapture(); }

    void* GetAuxObjectEx() override { return m_auxObject.get(); }

    // Hooks of the camera layer, called by Open in this order; Open fails when one fails.
    virtual bool CreateIO() = 0;
    virtual bool CreateExtras() = 0;

    // IDriver.
    void DebugMessage(unsigned char level, const char* format, ...) override
            __attribute__((format(printf, 3, 4)));

    DEVICE_INFO GetDeviceInfo() override { return m_deviceInfo; }

    std::pair<std::int32_t, std::int32_t> GetIOCounts() override {
        return {m_inputCount, m_outputCount};
    }

    IHostSampleAllocator* GetSampleAllocator() override { return m_sampleAllocator; }

    std::int32_t IsNtsc() override { return m_ntsc; }

    std::int32_t GetStreamType() override { return m_streamType; }

    std::int32_t GetChannelCount() override { return m_channelCount; }

    std::string GetStringParameter(std::uint32_t index) override;
    std::int32_t GetIntParameter(std::uint32_t index) override;

protected:
    IDebugSink* m_debugSink = nullptr;
    IHostSampleAllocator* m_sampleAllocator = nullptr;
    DEVICE_INFO m_deviceInfo;
    std::int32_t m_inputCount = 0;
    std::int32_t m_outputCount = 0;
    std::int32_t m_channelCount = 0;
    std::int32_t m_streamType = 0; // 1 MJPEG, 3 H.264
    std::int32_t m_ntsc = 0;       // 1 = 60 Hz
    std::map<std::uint32_t, std::string> m_parameters;
    Slot0Ptr<ICaptureIOApi> m_digitalIO;
    std::unique_ptr<CIPVideoCapture> m_videoCapture;
    std::unique_ptr<IAuxObject> m_auxObject;
};

} // namespace norvane
