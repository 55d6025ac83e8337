#include "channels/mjpeg_channel_rtsp.h"

namespace norvane {

CMJPEGChannelRTSP::CMJPEGChannelRTSP(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink)
    : CCommonChannelRTSP(driver, channelIndex, sink)
    , m_parser(driver, "Vantrel") {
    m_parser.SetClient(this);
}

CMJPEGChannelRTSP::~CMJPEGChannelRTSP() {
    Stop();
}

bool CMJPEGChannelRTSP::ConfigureCamera() {
    return SendConfiguration(MjpegStreamSettings(m_start, m_driver->IsNtsc() != 0));
}

void CMJPEGChannelRTSP::FillSessionSettings(RTSPSessionSettings& settings) {
    FillStream(settings, "vtl_media/second");
}

} // namespace norvane
