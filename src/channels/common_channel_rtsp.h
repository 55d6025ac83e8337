// CCommonChannelRTSP: the Vantrel part shared by both stream channels: it writes the camera's
// encoder configuration over HTTP at the start of every connection attempt, and takes the RTSP
// port from the host's parameter 2.
//
// Threads: the channel thread; OnStopRequested (host thread) aborts a request under way.
#pragma once

#include <memory>

#include "channels/base_rtsp_channel.h"
#include "channels/stream_config.h"
#include "http/http_sender.h"

namespace norvane {

class CCommonChannelRTSP : public CBaseRTSPChannel {
public:
    CCommonChannelRTSP(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink);
    ~CCommonChannelRTSP() override;

    void OnStopRequested() override;
    void OnStarting() override;

protected:
    // SendConfiguration writes `settings` to the camera (failures reach the host's log through
    // the driver, throttled) and pauses one second, or less when the channel is stopped.
    bool SendConfiguration(const StreamCodecSettings& settings);
    // FillStream sets the RTSP port (parameter 2, or 554) and the stream path.
    void FillStream(RTSPSessionSettings& settings, const char* path);

    std::unique_ptr<Web::CHttpSender> m_http;
};

} // namespace norvane
