// CRTPReceiver: turns the datagrams of its embedded UDP port into parsed RTP packets and hands
// them to its user (the RTP channel), which filters them on the camera's address and feeds the
// payload parser. It keeps no state between packets.
//
// Threads: the three callbacks run on the port's receive thread, so the user's parser and the
// delivery to the host run there too. The owner sets the user before opening the port and clears
// it before closing and deleting the receiver.
#pragma once

#include <atomic>
#include <cstdint>

#include "rtp/rtp_packet_info.h"
#include "rtp/udp_port.h"

namespace norvane {

class CRTPReceiver;

class IRTPReceiverUser {
public:
    virtual ~IRTPReceiverUser() = default;
    // OnRtpPacket gets one parsed packet; the record and the bytes it points into are valid only
    // during the call.
    virtual void OnRtpPacket(CRTPReceiver* receiver, const platform::SocketAddress& from,
                             const RtpPacketInfo* packet) = 0;
    // OnTimeout: no datagram for one wait time of the port.
    virtual void OnTimeout() = 0;
    // OnClosed: the port was closed or failed.
    virtual void OnClosed(CRTPReceiver* receiver) = 0;
};

class CRTPReceiver : public IUDPPortUser {
public:
    // Datagram buffer of the port: RTP packets of cameras stay below the Ethernet MTU.
    static constexpr std::uint32_t kDatagramBufferSize = 4096;

    CRTPReceiver();
    ~CRTPReceiver() override;
    CRTPReceiver(const CRTPReceiver&) = delete;
    CRTPReceiver& operator=(const CRTPReceiver&) = delete;

    [[nodiscard]] CUDPPort& Port() { return m_port; }

    void SetUser(IRTPReceiverUser* user) { m_user.store(user); }

    // IUDPPortUser. Datagrams from any port but the receiver's own are ignored; those that are
    // not RTP version 2 packets with a payload are dropped silently. A packet without the marker
    // bit says that more of its frame follows.
    bool OnReceive(CUDPPort* port, const platform::SocketAddress& from, const std::uint8_t* data,
                   std::int32_t length) override;
    void OnTimeout() override;
    void OnClosed(CUDPPort* port) override;

private:
    CUDPPort m_port;
    std::atomic<IRTPReceiverUser*> m_user{nullptr};
};

} // namespace norvane
