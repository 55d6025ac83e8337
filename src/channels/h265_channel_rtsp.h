// CH265ChannelRTSP: the camera's main stream, "vtl_media/main", as H.265. The camera is asked for
// codec0=h265; the VPS, SPS and PPS of the session description reach the depacketizer before the
// next packet it parses. A camera that would send decoding order numbers is refused with a message.
//
// Threads: as CBaseRTPChannel; the parser runs on the receive thread only, the parameter sets
// travel to it through a mailbox.
#pragma once

#include "channels/common_channel_rtsp.h"
#include "channels/parameter_set_mailbox.h"
#include "rtp/h265_rtp_media_parser.h"

namespace norvane {

class CH265ChannelRTSP final : public CCommonChannelRTSP {
public:
    CH265ChannelRTSP(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink);
    ~CH265ChannelRTSP() override;

    bool ConfigureCamera() override;

    void FeedParser(const RtpPacketInfo* packet) override;

    void FillSessionSettings(RTSPSessionSettings& settings) override;
    bool OnDescribed() override;

private:
    CH265RTPMediaParser m_parser;
    CParameterSetMailbox m_parameterSets;
};

} // namespace norvane
