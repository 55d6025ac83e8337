// CH264ChannelRTSP: the camera's main stream, "vtl_media/main", as H.264. The parameter sets of
// the session description reach the depacketizer before the next packet it parses.
//
// Threads: as CBaseRTPChannel; the parser runs on the receive thread only, the parameter sets
// travel to it through a mailbox.
#pragma once

#include "channels/common_channel_rtsp.h"
#include "channels/parameter_set_mailbox.h"
#include "rtp/h264_rtp_media_parser.h"

namespace norvane {

class CH264ChannelRTSP final : public CCommonChannelRTSP {
public:
    CH264ChannelRTSP(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink);
    ~CH264ChannelRTSP() override;

    bool ConfigureCamera() override;

    void FeedParser(const RtpPacketInfo* packet) override;

    void FillSessionSettings(RTSPSessionSettings& settings) override;
    bool OnDescribed() override;

private:
    CH264RTPMediaParser m_parser;
    CParameterSetMailbox m_parameterSets;
};

} // namespace norvane
