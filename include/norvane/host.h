// Interfaces that the host (the recording server) implements and the driver calls.
//
// The driver calls these objects by table slot and never through slot 0. Slots that the driver
// does not use are kept as Reserved placeholders so that every used slot stays at its position;
// they have empty default bodies so that a host implements only what the driver calls.
//
// Threads: the debug sink is called from any driver thread; the allocator, samples and OnFrame
// from the UDP receive threads (several at once); OnSignalLost from channel threads; the I/O
// callback from the I/O workers; the capability callback from the query thread. No callback may
// call the driver's Close or a deletion export.
#pragma once

#include "norvane/abi.h"
#include "norvane/debug_info.h"

namespace norvane {

// Four-character codes: the first character is the lowest byte.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<unsigned char>(a)) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24);
}

constexpr uint32_t kFourCCH264 = MakeFourCC('H', '2', '6', '4'); // access unit with an SPS
constexpr uint32_t kFourCCI264 = MakeFourCC('I', '2', '6', '4'); // any other access unit
constexpr uint32_t kFourCCJpeg = MakeFourCC('J', 'P', 'E', 'G'); // complete JPEG picture
// H.265 access units in byte-stream form (start codes), nothing appended; "H265" is a sync point:
// VPS, SPS and PPS before an IRAP picture, so that decoding can start there.
constexpr uint32_t kFourCCH265 = MakeFourCC('H', '2', '6', '5');
constexpr uint32_t kFourCCI265 = MakeFourCC('I', '2', '6', '5'); // any other access unit

// Stream types a host answers in IConnectionSettings::GetStreamType. A host that never answers
// kStreamTypeH265 never receives H.265 frames.
constexpr int32_t kStreamTypeMjpeg = 1; // the camera's second stream as JPEG pictures
constexpr int32_t kStreamTypeH264 = 3;  // the main stream as H.264 ("H264", "I264")
constexpr int32_t kStreamTypeH265 = 5;  // the main stream as H.265 ("H265", "I265")

// Receives the driver's diagnostic messages (argument 1 of IIPCaptureDriver::Open).
class IDebugSink {
    NORVANE_SLOT0(IDebugSink)
    virtual void OnDebugInfo(CDebugInfoIf* info) = 0; // slot 1
};

// One frame buffer of the host. The driver fills it, sets its attributes and commits it.
class IHostSample {
    NORVANE_SLOT0(IHostSample)

    virtual void Reserved1() {}

    virtual uint8_t* GetBuffer() = 0; // slot 2: writable, at least the requested capacity

    virtual void Reserved3() {}

    virtual void SetLength(uint32_t length) = 0; // slot 4
    virtual void Commit() = 0;                   // slot 5: once, after the last setter

    virtual void Reserved6() {}

    virtual void Reserved7() {}

    virtual void Reserved8() {}

    virtual void Reserved9() {}

    virtual void SetFourCC(uint32_t fourcc) = 0; // slot 10

    virtual void Reserved11() {}

    virtual void SetHeight(uint32_t height) = 0; // slot 12

    virtual void Reserved13() {}

    virtual void SetWidth(uint32_t width) = 0; // slot 14

    virtual void Reserved15() {}

    virtual void SetImageSize(uint32_t code) = 0; // slot 16: image size code
};

// Hands out frame buffers (argument 2 of IIPCaptureDriver::Open).
class IHostSampleAllocator {
    NORVANE_SLOT0(IHostSampleAllocator)

    virtual void Reserved1() {}

    // Slot 2: a sample of at least `capacity` bytes for a frame of `fourcc`, or null to drop the
    // frame. `driverName` is "Vantrel".
    virtual IHostSample* AllocateSample(uint32_t fourcc, uint32_t capacity,
                                        const char* driverName) = 0;

    virtual void Reserved3() {}

    virtual void Reserved4() {}

    virtual void Reserved5() {}

    virtual void ReleaseSample(IHostSample* sample) = 0; // slot 6: once per sample
};

// Device settings of the camera, part of the open parameters.
class IDeviceSettings {
    NORVANE_SLOT0(IDeviceSettings)

    virtual void Reserved1() {}

    virtual const char* GetModelName() = 0; // slot 2
    virtual int32_t GetChannelCount() = 0;  // slot 3

    virtual void Reserved4() {}

    virtual int32_t GetInputCount() = 0;  // slot 5
    virtual int32_t GetOutputCount() = 0; // slot 6
};

// Connection settings of the camera, part of the open parameters.
class IConnectionSettings {
    NORVANE_SLOT0(IConnectionSettings)
    virtual const char* GetAddress() = 0; // slot 1: host name or dotted IPv4 address
    virtual uint16_t GetPort() = 0;       // slot 2: HTTP port

    virtual void Reserved3() {}

    virtual int32_t GetStreamType() = 0;   // slot 4: 1 MJPEG, 3 H.264, 5 H.265
    virtual const char* GetUserName() = 0; // slot 5
    virtual const char* GetPassword() = 0; // slot 6
};

// Numbered open parameters (IOpenParams::GetParameter) that name a setting; 1 to 3 are the video
// standard ("1": 60 Hz), the RTSP port and the firmware text. A host that sets a later one gives
// every earlier one too (an empty text keeps its default).
//
// kOpenParamTransport: how the video travels from the camera.
//   "auto" (or empty, the default): RTP over UDP first; when the camera refuses that transport
//           (RTSP 461) or no RTP packet arrives within kAutoTransportUdpWaitMs after PLAY, RTP
//           inside the RTSP connection (RTSP interleaved), for as long as the channel runs
//           (unless the camera refuses that too, with 461: then UDP again); each switch is
//           reported once at level 2 with its reason.
//   "udp":  RTP over UDP only.
//   "tcp":  RTP inside the RTSP connection only (for cameras behind a firewall or NAT).
constexpr uint32_t kOpenParamTransport = 4;
constexpr int32_t kAutoTransportUdpWaitMs = 3000;

// Open parameters (argument 3 of IIPCaptureDriver::Open), read only during Open.
class IOpenParams {
    NORVANE_SLOT0(IOpenParams)
    virtual IDeviceSettings* GetDeviceSettings() = 0;         // slot 1
    virtual IConnectionSettings* GetConnectionSettings() = 0; // slot 2

    virtual void Reserved3() {}

    // Slot 4: numbered text parameter, asked for 1, 2, 3, ... until null.
    virtual const char* GetParameter(uint32_t index) = 0;
};

// Receives the frames of one channel (argument 2 of IIPVideoCapture::OpenChannel).
class IFrameSink {
    NORVANE_SLOT0(IFrameSink)
    // Slot 1: true when the frame is accepted. The sample is released right after the call.
    virtual bool OnFrame(IHostSample* sample) = 0;

    virtual void Reserved2() {}

    // Slot 3: repeated while no frame was accepted for more than twice the data time-out.
    virtual void OnSignalLost() = 0;
};

// Picture size (part of the channel parameters; also argument of ChangeChannelFormat).
class IFrameSize {
    NORVANE_SLOT0(IFrameSize)
    virtual uint16_t GetWidth() = 0;  // slot 1
    virtual uint16_t GetHeight() = 0; // slot 2
};

// Video format of a channel.
class IVideoFormat {
    NORVANE_SLOT0(IVideoFormat)

    virtual void Reserved1() {}

    virtual void Reserved2() {}

    virtual IFrameSize* GetFrameSize() = 0; // slot 3
};

// Frame rate and quality of a channel.
class IRate {
    NORVANE_SLOT0(IRate)
    virtual uint16_t GetFrameInterval() = 0; // slot 1: milliseconds between frames

    virtual void Reserved2() {}

    virtual uint16_t GetQuality() = 0; // slot 3
};

// Channel parameters (argument 3 of IIPVideoCapture::OpenChannel).
class IChannelParams {
    NORVANE_SLOT0(IChannelParams)
    virtual IVideoFormat* GetVideoFormat() = 0; // slot 1
    virtual IRate* GetRate() = 0;               // slot 2
};

// Receives alarm input changes and I/O failures.
class IIOCallback {
    NORVANE_SLOT0(IIOCallback)
    virtual void OnInputChanged(uint32_t input, uint32_t state) = 0; // slot 1
    virtual void OnIOFailure() = 0;                                  // slot 2
};

} // namespace norvane
