// CMJPEGChannelRTSP: the camera's second stream, "vtl_media/second", as MJPEG (RTP/JPEG).
//
// Threads: as CBaseRTPChannel; the parser runs on the receive thread.
#pragma once

#include "channels/common_channel_rtsp.h"
#include "rtp/jpeg_rtp_media_parser.h"

namespace norvane {

class CMJPEGChannelRTSP final : public CCommonChannelRTSP {
public:
    CMJPEGChannelRTSP(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink);
    ~CMJPEGChannelRTSP() override;

    // ConfigureCamera limits the picture to 704x576, the largest the second stream offers.
    bool ConfigureCamera() override;

    void FeedParser(const RtpPacketInfo* packet) override { m_parser.OnPacket(packet); }

    void FillSessionSettings(RTSPSessionSettings& settings) override;

private:
    CJpegRTPMediaParser m_parser;
};

} // namespace norvane
