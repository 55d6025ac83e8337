#include "channels/h264_channel_rtsp.h"

namespace norvane {

CH264ChannelRTSP::CH264ChannelRTSP(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink)
    : CCommonChannelRTSP(driver, channelIndex, sink)
    , m_parser(driver, "Vantrel") {
    m_parser.SetClient(this);
}

CH264ChannelRTSP::~CH264ChannelRTSP() {
    Stop();
}

bool CH264ChannelRTSP::ConfigureCamera() {
    return SendConfiguration(H264StreamSettings(m_start, m_driver->IsNtsc() != 0));
}

void CH264ChannelRTSP::FillSessionSettings(RTSPSessionSettings& settings) {
    FillStream(settings, "vtl_media/main");
}

bool CH264ChannelRTSP::OnDescribed() {
    if (m_client && !m_client->Sps().empty() && !m_client->Pps().empty()) {
        m_parameterSets.Post(m_client->Sps(), m_client->Pps());
    }
    return true;
}

void CH264ChannelRTSP::FeedParser(const RtpPacketInfo* packet) {
    std::vector<std::uint8_t> sps;
    std::vector<std::uint8_t> pps;
    if (m_parameterSets.Take(sps, pps)) {
        m_parser.SetParameterSets(sps, pps);
    }
    m_parser.OnPacket(packet);
}

} // namespace norvane
