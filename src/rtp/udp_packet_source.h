// CUDPPacketSource: the packet source of an RTP session received over UDP. Its port receives the
// RTP datagrams on its own thread and hands each one, as received, to the sink. RTCP of the session
// arrives on the port above, which the RTCP reporter owns and answers itself.
//
// Threads: the sink is called on the port's receive thread; Open, Close and SetSink run on the
// owner's thread. Owned by the RTP channel, which closes it before it deletes it.
#pragma once

#include <atomic>
#include <cstdint>

#include "rtp/packet_source.h"
#include "rtp/udp_port.h"

namespace norvane {

class CUDPPacketSource final : public IPacketSource, public IUDPPortUser {
public:
    // Datagram buffer of the port: RTP packets of cameras stay below the Ethernet MTU of 1500
    // bytes. A larger datagram is lost and the port widens its buffer for the next ones.
    static constexpr std::uint32_t kDatagramBufferSize = 2048;

    CUDPPacketSource();
    ~CUDPPacketSource() override;
    CUDPPacketSource(const CUDPPacketSource&) = delete;
    CUDPPacketSource& operator=(const CUDPPacketSource&) = delete;

    [[nodiscard]] CUDPPort& Port() { return m_port; }

    // IPacketSource.
    void SetSink(IPacketSink* sink) override { m_sink.store(sink); }

    [[nodiscard]] bool Open(std::uint16_t localPort) override;
    void Close() override;

    // IUDPPortUser. Datagrams from any port but the source's own are ignored.
    bool OnReceive(CUDPPort* port, const platform::SocketAddress& from, const std::uint8_t* data,
                   std::int32_t length) override;

    void OnTimeout() override {}

    // The sink's hold time bounds the port's wait.
    int HoldTimeoutMs() override;
    void OnHoldTimeout() override;

    void OnClosed(CUDPPort* /*port*/) override {}

private:
    CUDPPort m_port;
    std::atomic<IPacketSink*> m_sink{nullptr};
};

} // namespace norvane
