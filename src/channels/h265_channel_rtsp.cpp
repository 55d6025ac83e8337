#include "channels/h265_channel_rtsp.h"

#include "channels/stream_config.h"
#include "text/text_utils.h"

namespace norvane {

CH265ChannelRTSP::CH265ChannelRTSP(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink)
    : CCommonChannelRTSP(driver, channelIndex, sink)
    , m_parser(driver, "Vantrel") {
    m_parser.SetClient(this);
}

CH265ChannelRTSP::~CH265ChannelRTSP() {
    Stop();
}

bool CH265ChannelRTSP::ConfigureCamera() {
    return SendConfiguration(H265StreamSettings(m_start, m_driver->IsNtsc() != 0));
}

void CH265ChannelRTSP::FillSessionSettings(RTSPSessionSettings& settings) {
    FillStream(settings, "vtl_media/main");
}

bool CH265ChannelRTSP::OnDescribed() {
    if (!m_client) {
        return false;
    }
    const H265Description& h265 = m_client->H265();
    if (h265.decodingOrderNumbers) {
        // Units would have to be put back in decoding order first; the depacketizer takes them
        // in transmission order only, so the stream is refused rather than rebuilt wrongly.
        ReportAttemptFailure(FormatString(
                "DESCRIBE %s: the camera sends H.265 with decoding order numbers "
                "(sprop-max-don-diff or sprop-depack-buf-nalus above 0), which is not supported",
                SessionUrl().c_str()));
        return false;
    }
    if (h265.HasParameterSets()) {
        m_parameterSets.Post(h265.vps, h265.sps, h265.pps);
    }
    return true;
}

void CH265ChannelRTSP::FeedParser(const RtpPacketInfo* packet) {
    std::vector<std::uint8_t> vps;
    std::vector<std::uint8_t> sps;
    std::vector<std::uint8_t> pps;
    if (m_parameterSets.Take(vps, sps, pps)) {
        // Sets that do not read are left out: the camera's in-band sets are waited for instead.
        (void)m_parser.SetParameterSets(vps, sps, pps);
    }
    m_parser.OnPacket(packet);
}

} // namespace norvane
