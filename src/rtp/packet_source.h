// IPacketSource and IPacketSink: the seam between a transport that receives a session's packets
// and the channel that consumes them. A source hands over each RTP or RTCP packet as the bytes it
// received, without copying; a UDP port pair is one source, and a transport that carries the
// packets inside another connection (RTSP interleaved frames, RFC 2326 10.12) is another.
//
// Threads: a source calls its sink on the one thread that receives its packets; SetSink, Open and
// Close are called on the owner's thread. After Close returns no call reaches the sink.
#pragma once

#include <cstdint>
#include <span>

#include "platform/socket.h"

namespace norvane {

class IPacketSink {
public:
    // OnRtpPacket takes one RTP packet (header included) from `from`; the bytes are valid only
    // during the call. It returns true when the packet did not end its frame, so that more
    // packets of the same burst are due right after it.
    virtual bool OnRtpPacket(std::span<const std::uint8_t> packet,
                             const platform::SocketAddress& from) = 0;
    // OnRtcpPacket takes one RTCP packet (RFC 3550 6) from `from`, valid only during the call.
    virtual void OnRtcpPacket(std::span<const std::uint8_t> packet,
                              const platform::SocketAddress& from) = 0;

    // HoldTimeoutMs tells the source how long it may wait for the next packet before it must call
    // OnHoldTimeout, in milliseconds from now; -1 while the sink holds nothing back. The source
    // asks before each wait, on its receive thread.
    virtual int HoldTimeoutMs() { return -1; }

    // OnHoldTimeout: the time HoldTimeoutMs asked for has passed without a packet; the sink
    // releases what it has held back too long.
    virtual void OnHoldTimeout() {}

protected:
    ~IPacketSink() = default;
};

class IPacketSource {
public:
    virtual ~IPacketSource() = default;

    // SetSink names where packets go from now on; null drops them.
    virtual void SetSink(IPacketSink* sink) = 0;
    // Open starts delivery of the packets sent to local port `localPort`; false when the source
    // cannot receive there.
    [[nodiscard]] virtual bool Open(std::uint16_t localPort) = 0;
    // Close stops delivery and waits until the sink is no longer called; harmless when closed.
    virtual void Close() = 0;
};

} // namespace norvane
