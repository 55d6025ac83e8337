// Interfaces that the driver implements and the host calls: the driver object, its video capture
// object and its digital I/O object. Later versions of an interface only append slots, so one
// object pointer serves every version of its chain.
//
// Threads: every operation is called on the host's threads. Objects handed out by the driver
// (video capture, digital I/O) belong to the driver and die with it.
#pragma once

#include "norvane/abi.h"
#include "norvane/host.h"

namespace norvane {

// The camera's alarm inputs and relay outputs.
class ICaptureIOApi {
    NORVANE_SLOT0(ICaptureIOApi)
    virtual bool SetCallback(IIOCallback* callback) = 0;        // slot 1: null is refused
    virtual bool StartIO() = 0;                                 // slot 2
    virtual bool StopIO() = 0;                                  // slot 3: before the driver dies
    virtual uint32_t GetInputCount() = 0;                       // slot 4
    virtual uint32_t GetOutputCount() = 0;                      // slot 5
    virtual bool SetOutput(uint32_t index, uint32_t state) = 0; // slot 6: queued, carried out later
};

namespace ipcapture {

// The channel table of one device: one slot per video input.
class IIPVideoCapture {
    NORVANE_SLOT0(IIPVideoCapture)
    virtual uint32_t GetChannelCount() = 0; // slot 1
    // Slot 2: (re)opens channel `index`; the sink receives its frames.
    virtual bool OpenChannel(uint32_t index, IFrameSink* sink, IChannelParams* params) = 0;
    virtual bool CloseChannel(uint32_t index) = 0; // slot 3: stops and deletes the channel
    // Slot 4: new picture size and frame interval for an open channel (quality is kept).
    virtual bool ChangeChannelFormat(uint32_t index, IFrameSize* size, uint32_t frameInterval) = 0;
    virtual void* GetReservedChannelObject() = 0; // slot 5: always null
    // Slot 6: state 0 (streaming) or 2 (not streaming); `reserved` is set to 0 and `text` to "".
    virtual bool GetChannelStatus(uint32_t index, int32_t* state, int32_t* reserved, char* text,
                                  uint32_t textSize) = 0;
    virtual bool UnsupportedA(uint32_t a, uint32_t b, uint32_t c) = 0; // slot 7: always false
    virtual bool UnsupportedB(uint32_t a, uint32_t b, uint32_t c) = 0; // slot 8: always false
};

class IIPVideoCaptureEx : public IIPVideoCapture {
    NORVANE_DERIVED_SLOT0(IIPVideoCaptureEx)
    virtual bool UnsupportedExA(uint32_t a) = 0; // slot 9: always false
    virtual bool UnsupportedExB(uint32_t a) = 0; // slot 10: always false
};

// The driver object the host holds for one camera (returned by the factory exports).
class IIPCaptureDriver {
    NORVANE_SLOT0(IIPCaptureDriver)
    // Slot 1: stores the host's objects and settings; contacts no camera. The open parameters are
    // read only during the call.
    virtual bool Open(IDebugSink* sink, IHostSampleAllocator* allocator, IOpenParams* params) = 0;
    virtual void Close() = 0;                         // slot 2
    virtual IIPVideoCaptureEx* GetVideoCapture() = 0; // slot 3: null before Open
    virtual ICaptureIOApi* GetDigitalIO() = 0;        // slot 4
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
    NORVANE_DERIVED_SLOT0(IIPCaptureDriverEx)
    virtual void* GetReservedObject() = 0; // slot 5: always null
    virtual void* GetAuxObject() = 0;      // slot 6
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
    NORVANE_DERIVED_SLOT0(IIPCaptureDriverEx2)
    virtual void* GetReservedObjectEx() = 0;            // slot 7: always null
    virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0; // slot 8
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
    NORVANE_DERIVED_SLOT0(IIPCaptureDriverEx3)
    virtual void* GetAuxObjectEx() = 0; // slot 9
};

} // namespace ipcapture
} // namespace norvane
