// CInterleavedPacketSource: the packet source of an RTP session carried inside the RTSP connection
// (RFC 2326, 10.12). Its thread is the one reader of the connection once PLAY has been answered:
// RTP frames of channel 0 go to the sink's OnRtpPacket and RTCP frames of channel 1 to its
// OnRtcpPacket, as the camera's datagrams would over UDP; replies go to the request waiting for
// them. No local port is opened.
//
// Threads: the sink is called on the reader thread; Bind, Open, Close and SetSink run on the
// channel thread. Owned by the RTSP channel, which closes it before the client it reads goes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/socket.h"
#include "rtp/packet_source.h"
#include "rtsp/base_rtsp_client.h"
#include "runtime/event.h"

namespace norvane {

class CInterleavedPacketSource final : public IPacketSource, public IInterleavedSink {
public:
    CInterleavedPacketSource() = default;
    ~CInterleavedPacketSource() override;
    CInterleavedPacketSource(const CInterleavedPacketSource&) = delete;
    CInterleavedPacketSource& operator=(const CInterleavedPacketSource&) = delete;

    // Bind names the connected client whose connection is read, the camera's address that
    // packets are attributed to and the channels of RTP [0] and RTCP [1]. Call before Open.
    void Bind(CBaseRTSPClient* client, platform::SocketAddress camera,
              std::array<std::uint8_t, 2> channels);

    // Lost tells whether the reader ended because the connection closed, failed or lost its
    // framing: only a new connection brings packets again.
    [[nodiscard]] bool Lost() const { return m_lost.load(); }

    // IPacketSource. Open starts the reader (the port is not used); false without a client or
    // when the thread cannot start.
    void SetSink(IPacketSink* sink) override { m_sink.store(sink); }

    [[nodiscard]] bool Open(std::uint16_t localPort) override;
    void Close() override;

    // IInterleavedSink, on the reader thread. Frames of other channels are dropped.
    void OnInterleavedFrame(std::uint8_t channel, std::span<const std::uint8_t> payload) override;
    int HoldTimeoutMs() override;
    void OnHoldTimeout() override;

private:
    void Run();

    CBaseRTSPClient* m_client = nullptr;
    platform::SocketAddress m_camera{};
    std::array<std::uint8_t, 2> m_channels{CBaseRTSPClient::kRtpChannel,
                                           CBaseRTSPClient::kRtcpChannel};
    std::atomic<IPacketSink*> m_sink{nullptr};
    std::atomic<bool> m_lost{false};
    CManualEvent m_stopEvent;
    std::thread m_thread;
};

} // namespace norvane
