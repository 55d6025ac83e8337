#include "rtp/udp_packet_source.h"

namespace norvane {

CUDPPacketSource::CUDPPacketSource() {
    m_port.SetUser(this);
    m_port.SetBufferSize(kDatagramBufferSize);
}

CUDPPacketSource::~CUDPPacketSource() {
    m_port.Close();
    m_port.SetUser(nullptr);
}

bool CUDPPacketSource::Open(std::uint16_t localPort) {
    return m_port.Open(localPort) == UdpOpenResult::Opened;
}

void CUDPPacketSource::Close() {
    m_port.Close(); // waits for the receive thread
}

bool CUDPPacketSource::OnReceive(CUDPPort* port, const platform::SocketAddress& from,
                                 const std::uint8_t* data, std::int32_t length) {
    if (port != &m_port || data == nullptr || length <= 0) {
        return false;
    }
    IPacketSink* sink = m_sink.load();
    return sink != nullptr && sink->OnRtpPacket({data, static_cast<std::size_t>(length)}, from);
}

int CUDPPacketSource::HoldTimeoutMs() {
    IPacketSink* sink = m_sink.load();
    return sink != nullptr ? sink->HoldTimeoutMs() : -1;
}

void CUDPPacketSource::OnHoldTimeout() {
    if (IPacketSink* sink = m_sink.load()) {
        sink->OnHoldTimeout();
    }
}

} // namespace norvane
