#include "channels/interleaved_packet_source.h"

namespace norvane {

CInterleavedPacketSource::~CInterleavedPacketSource() {
    Close();
}

void CInterleavedPacketSource::Bind(CBaseRTSPClient* client, platform::SocketAddress camera,
                                    std::array<std::uint8_t, 2> channels) {
    m_client = client;
    m_camera = camera;
    m_channels = channels;
}

bool CInterleavedPacketSource::Open(std::uint16_t /*localPort*/) {
    if (m_client == nullptr || m_thread.joinable() || m_stopEvent.Handle() == nullptr) {
        return false;
    }
    m_stopEvent.Reset();
    m_lost.store(false);
    m_client->SetReaderActive(true);
    try {
        m_thread = std::thread([this]() { Run(); });
    } catch (...) {
        m_client->SetReaderActive(false);
        return false;
    }
    return true;
}

void CInterleavedPacketSource::Close() {
    if (!m_thread.joinable()) {
        return;
    }
    m_stopEvent.Set(); // ends the reader's wait at once
    m_thread.join();
    m_client->SetReaderActive(false);
}

void CInterleavedPacketSource::Run() {
    try {
        for (;;) {
            switch (m_client->ReadInterleaved(*this, m_stopEvent.Handle())) {
            case InterleavedRead::Ok:
                continue;
            case InterleavedRead::Lost:
                m_lost.store(true);
                return;
            case InterleavedRead::Stopped:
                return;
            }
        }
    } catch (...) {
        // Out of memory on the way to a frame: the reader ends as if the connection were lost.
        m_lost.store(true);
    }
}

void CInterleavedPacketSource::OnInterleavedFrame(std::uint8_t channel,
                                                  std::span<const std::uint8_t> payload) {
    IPacketSink* sink = m_sink.load();
    if (sink == nullptr) {
        return;
    }
    if (channel == m_channels[0]) {
        static_cast<void>(sink->OnRtpPacket(payload, m_camera));
    } else if (channel == m_channels[1]) {
        sink->OnRtcpPacket(payload, m_camera);
    }
}

int CInterleavedPacketSource::HoldTimeoutMs() {
    IPacketSink* sink = m_sink.load();
    return sink != nullptr ? sink->HoldTimeoutMs() : -1;
}

void CInterleavedPacketSource::OnHoldTimeout() {
    IPacketSink* sink = m_sink.load();
    if (sink != nullptr) {
        sink->OnHoldTimeout();
    }
}

} // namespace norvane
