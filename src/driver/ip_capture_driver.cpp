#include "driver/ip_capture_driver.h"

#include <cstdarg>
#include <new>
#include <vector>

#include "core/boundary.h"
#include "core/debug_info.h"
#include "driver/video_capture.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

// Host texts may be null; they are stored as empty strings.
std::string HostText(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace

CIPCaptureDriver::CIPCaptureDriver() = default;

CIPCaptureDriver::~CIPCaptureDriver() {
    Close();
    m_parameters.clear();
}

bool CIPCaptureDriver::Open(IDebugSink* sink, IHostSampleAllocator* allocator,
                            IOpenParams* params) {
    return GuardHostCall(false, [&] {
        if (params == nullptr) {
            return false;
        }
        IDeviceSettings* device = params->GetDeviceSettings();
        IConnectionSettings* connection = params->GetConnectionSettings();
        if (device == nullptr || connection == nullptr) {
            return false;
        }
        m_streamType = connection->GetStreamType();
        m_debugSink = sink;
        m_sampleAllocator = allocator;
        m_inputCount = device->GetInputCount();
        m_outputCount = device->GetOutputCount();
        m_channelCount = device->GetChannelCount();
        m_deviceInfo.address = HostText(connection->GetAddress());
        m_deviceInfo.port = connection->GetPort();
        m_deviceInfo.userName = HostText(connection->GetUserName());
        m_deviceInfo.password = HostText(connection->GetPassword());
        for (std::uint32_t index = 1; index <= kMaxParameters; ++index) {
            const char* value = params->GetParameter(index);
            if (value == nullptr) {
                break;
            }
            m_parameters[index] = value;
        }
        if (!CreateIO() || !CreateExtras()) {
            return false;
        }
        const auto channels = static_cast<std::uint32_t>(m_channelCount > 0 ? m_channelCount : 0);
        m_videoCapture.reset(new (std::nothrow) CIPVideoCapture(this, channels));
        return true;
    });
}

void CIPCaptureDriver::Close() {
    GuardHostCall([&] {
        m_videoCapture.reset(); // stops and deletes every channel
        m_digitalIO.reset();
        m_auxObject.reset();
    });
}

ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCapture() {
    return m_videoCapture.get();
}

void CIPCaptureDriver::DebugMessage(unsigned char level, const char* format, ...) {
    if (format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    if (m_debugSink == nullptr) {
        return;
    }
    CDebugInfo info(level, std::move(text));
    try {
        m_debugSink->OnDebugInfo(&info);
    } catch (...) {
        // A sink that throws loses its message; the driver's thread carries on.
    }
}

std::string CIPCaptureDriver::GetStringParameter(std::uint32_t index) {
    const auto found = m_parameters.find(index);
    if (found == m_parameters.end() || found->second == "(none)") {
        return {};
    }
    return found->second;
}

std::int32_t CIPCaptureDriver::GetIntParameter(std::uint32_t index) {
    const auto found = m_parameters.find(index);
    std::int32_t value = 0;
    if (found == m_parameters.end() || !ParseInt(found->second, value)) {
        return kNoIntParameter;
    }
    return value;
}

} // namespace norvane
