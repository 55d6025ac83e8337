#include "channels/common_channel_rtsp.h"

#include "core/parameters.h"
#include "http/http_utils.h"

namespace norvane {
namespace {

// Pause after the encoder configuration, so that the camera has applied it before the session.
constexpr int kConfigurationPauseMs = 1000;

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
    const CResultDef result = HUtils::RequestSetRD(*m_http, CodecRequest(settings, ntsc), m_driver);
    if (result.m_code != kResultOk) {
        if (!m_http->IsAborted()) {
            ReportAttemptFailure("camera configuration failed: " + result.m_message);
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
