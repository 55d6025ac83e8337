#include "rtp/rtp_receiver.h"

namespace norvane {

CRTPReceiver::CRTPReceiver() {
    m_port.SetUser(this);
    m_port.SetBufferSize(kDatagramBufferSize);
}

CRTPReceiver::~CRTPReceiver() {
    // Close while every member is alive, so that OnClosed still reaches the user.
    m_port.Close();
    m_port.SetUser(nullptr);
}

bool CRTPReceiver::OnReceive(CUDPPort* port, const platform::SocketAddress& from,
                             const std::uint8_t* data, std::int32_t length) {
    if (port != &m_port || data == nullptr || length <= 0) {
        return false;
    }
    RtpPacketInfo packet;
    if (!ParseRtpHeader({data, static_cast<std::size_t>(length)}, packet)) {
        return false;
    }
    if (IRTPReceiverUser* user = m_user.load()) {
        user->OnRtpPacket(this, from, &packet);
    }
    return !packet.marker;
}

void CRTPReceiver::OnTimeout() {
    if (IRTPReceiverUser* user = m_user.load()) {
        user->OnTimeout();
    }
}

void CRTPReceiver::OnClosed(CUDPPort* /*port*/) {
    if (IRTPReceiverUser* user = m_user.load()) {
        user->OnClosed(this);
    }
}

} // namespace norvane
