#include "channels/common_channel_rtsp.h"

#include "core/parameters.h"
#include "http/http_utils.h"
#include "platform/clock.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

// Pause after the encoder configuration, so that the camera has applied it before the session.
constexpr int kConfigurationPauseMs = 1000;

// ConfigurationFailure words why the camera's configuration failed, so that an operator tells
// refused credentials from a camera that refuses connections and from one that does not answer.
// `status` is the last HTTP status received (0: none), `elapsedMs` how long the request took.
std::string ConfigurationFailure(const CResultDef& result, std::uint32_t status,
                                 std::uint64_t elapsedMs, const DEVICE_INFO& device,
                                 const std::string& path) {
    const std::string site = FormatString("http://%s:%u", device.address.c_str(),
                                          static_cast<unsigned>(device.port));
    // The function name is enough to tell the request; its parameters would only be noise.
    const std::string request = site + path.substr(0, path.find('&'));
    if (status == 401 || status == 403) {
        return FormatString("camera configuration failed: HTTP status %u (%s) for %s",
                            static_cast<unsigned>(status),
                            status == 401 ? "credentials refused" : "forbidden", request.c_str());
    }
    if (result.m_code != kResultNotSent) {
        return "camera configuration failed: " + result.m_message;
    }
    // The sender tells no cause; a failure that used up the time-out is one of no answer.
    const auto timeout =
            static_cast<std::uint64_t>(device.requestTimeout > 0 ? device.requestTimeout : 0);
    if (timeout > 0 && elapsedMs + elapsedMs / 10 >= timeout) {
        return FormatString("camera configuration failed: no answer from %s within %u ms",
                            site.c_str(), static_cast<unsigned>(timeout));
    }
    return FormatString("camera configuration failed: cannot connect to %s (connection refused "
                        "or host unreachable)",
                        site.c_str());
}

} // namespace

CCommonChannelRTSP::CCommonChannelRTSP(IDriver* driver, std::uint32_t channelIndex,
                                       IFrameSink* sink)
    : CBaseRTSPChannel(driver, channelIndex, sink)
    , m_http(std::make_unique<Web::CHttpSender>(driver->GetDeviceInfo())) {}

CCommonChannelRTSP::~CCommonChannelRTSP() {
    Stop();
}

void CCommonChannelRTSP::OnStopRequested() {
    m_http->Abort();
}

void CCommonChannelRTSP::OnStarting() {
    CBaseRTSPChannel::OnStarting();
    m_http->Rearm();
}

bool CCommonChannelRTSP::SendConfiguration(const StreamCodecSettings& settings) {
    const bool ntsc = m_driver->IsNtsc() != 0;
    const std::string request = CodecRequest(settings, ntsc);
    const std::uint64_t started = platform::MonotonicMs();
    const CResultDef result = HUtils::RequestSetRD(*m_http, request, m_driver);
    if (result.m_code != kResultOk) {
        if (!m_http->IsAborted()) {
            ReportAttemptFailure(ConfigurationFailure(result, m_http->StatusCode(),
                                                      platform::MonotonicMs() - started,
                                                      m_driver->GetDeviceInfo(), request));
        }
        return false;
    }
    return !m_stopEvent.Wait(kConfigurationPauseMs);
}

void CCommonChannelRTSP::FillStream(RTSPSessionSettings& settings, const char* path) {
    const std::int32_t port = m_driver->GetIntParameter(kParamRtspPort);
    settings.port = port == kNoIntParameter ? kDefaultRtspPort : static_cast<std::uint16_t>(port);
    settings.path = path;
}

} // namespace norvane
