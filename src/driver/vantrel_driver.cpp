#include "driver/vantrel_driver.h"

#include <new>

#include "channels/h264_channel_rtsp.h"
#include "channels/h265_channel_rtsp.h"
#include "channels/mjpeg_channel_rtsp.h"
#include "core/boundary.h"
#include "io/digital_io.h"

namespace norvane {
namespace {

const char* HostText(const char* text) {
    return text != nullptr ? text : "";
}

} // namespace

bool CVantrelDriver::Open(IDebugSink* sink, IHostSampleAllocator* allocator, IOpenParams* params) {
    if (!CIPCaptureDriver::Open(sink, allocator, params)) {
        return false;
    }
    return GuardHostCall(false, [&] {
        m_deviceInfo.requestTimeout = kVantrelTimeoutMs;
        m_deviceInfo.dataTimeout = kVantrelTimeoutMs;
        const std::int32_t standard = GetIntParameter(kParamVideoStandard);
        if (standard != kNoIntParameter) {
            m_ntsc = standard != 0 ? 1 : 0;
        }
        TransportMode transport = TransportMode::Auto;
        if (!ParseTransportMode(GetStringParameter(kParamTransport), transport)) {
            DebugMessage(1, "OPEN DRIVER::unknown transport \"%s\" (auto, udp or tcp); using auto",
                         GetStringParameter(kParamTransport).c_str());
        }
        std::string firmware = GetStringParameter(kParamFirmware);
        if (firmware.empty()) {
            firmware = "(none)";
        }
        IDeviceSettings* device = params->GetDeviceSettings();
        IConnectionSettings* connection = params->GetConnectionSettings();
        DebugMessage(2, "OPEN DRIVER::Driver name: %s, Device model: %s, FW: %s, Address: %s:%d",
                     "Vantrel", HostText(device->GetModelName()), firmware.c_str(),
                     HostText(connection->GetAddress()), static_cast<int>(connection->GetPort()));
        return true;
    });
}

bool CVantrelDriver::CreateIO() {
    if (!m_digitalIO) {
        // Built inside the base Open, before the time-outs are raised: its senders keep 5000 ms.
        m_digitalIO.reset(new (std::nothrow) CDigitalIO(this));
    }
    return true;
}

ICameraChannel* CVantrelDriver::CreateChannel(std::uint32_t index, IFrameSink* sink) {
    switch (m_streamType) {
    case kStreamTypeMjpeg:
        return new (std::nothrow) CMJPEGChannelRTSP(this, index, sink);
    case kStreamTypeH264:
        return new (std::nothrow) CH264ChannelRTSP(this, index, sink);
    case kStreamTypeH265:
        return new (std::nothrow) CH265ChannelRTSP(this, index, sink);
    default:
        return nullptr;
    }
}

} // namespace norvane
