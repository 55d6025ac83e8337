// CBaseRTPChannel: the thread body of every camera channel. Each pass without frames is one
// connection attempt: configure the camera, create the packet source, pick a local port, start the
// session. The channel is the sink of its packet source: RTP packets from the camera's address go
// to the payload parser on the source's receive thread; completed frames go to the host's frame
// sink. The loop watches for loss of signal and tells the host. The session protocol, the codec
// and the transport (CreatePacketSource; a UDP port by default) come from derived classes.
//
// Threads: Run, Connect, OpenPorts and the session operations on the channel thread; OnRtpPacket,
// FeedParser, the parser and OnFrame on the receive thread of the packet source. They meet only
// through the events, the data time and the state. The source is released only from the channel
// thread, and releasing waits for the receive thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "channels/base_camera_channel.h"
#include "rtp/packet_source.h"
#include "rtp/rtp_media_parser.h"
#include "rtp/rtp_packet_info.h"

namespace norvane {

// Local RTP ports a channel may use: [kFirstRtpPort, kEndRtpPort).
constexpr std::uint16_t kFirstRtpPort = 3556;
constexpr std::uint16_t kEndRtpPort = 4556;
// How long a candidate port is watched for packets that another session still sends to it.
constexpr int kPortProbeMs = 2000;
// Pause of the channel loop between passes.
constexpr int kLoopPauseMs = 1000;

class CBaseRTPChannel : public CBaseCameraChannel, public IPacketSink, public IMediaParserClient {
public:
    CBaseRTPChannel(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink);
    ~CBaseRTPChannel() override;

    std::int32_t Run() override;

    // CheckKeepAlive sends SendKeepAlive when KeepAliveIntervalMs has passed since the last one
    // (at once the first time), by the monotonic clock, so that a step of the wall clock changes
    // nothing.
    void CheckKeepAlive();

    // Hooks of the session protocol and the codec, called on the channel thread.
    // KeepAliveIntervalMs is the period of SendKeepAlive; 0 sends it on every check.
    [[nodiscard]] virtual std::uint64_t KeepAliveIntervalMs() const { return 0; }

    virtual bool CreateSession() { return true; }

    virtual void CloseSession() {}

    virtual bool StartStreaming() { return true; }

    virtual bool OpenPorts();

    // UdpProofWaitMs: how long after a started session the first RTP packet may take before
    // OnUdpSilent ends the attempt; 0 when the attempt does not wait for that proof.
    [[nodiscard]] virtual int UdpProofWaitMs() const { return 0; }

    virtual void OnUdpSilent() {}

    // TransportLost tells whether the packet source can bring no more packets (its connection
    // closed), so that the channel connects again without waiting for the data time-out.
    [[nodiscard]] virtual bool TransportLost() const { return false; }

    virtual bool ConfigureCamera() = 0;
    virtual void SendKeepAlive() = 0;
    // FeedParser gives one RTP packet from the camera to the channel's parser (receive thread).
    virtual void FeedParser(const RtpPacketInfo* packet) = 0;
    // CreatePacketSource makes the source of one connection attempt's packets: by default a UDP
    // port, which OpenPorts opens on a free local port. A null source ends the attempt.
    virtual std::unique_ptr<IPacketSource> CreatePacketSource();

    // IPacketSink. Datagrams that are not RTP version 2 packets with a payload, and packets from
    // any other address than the camera's, are dropped. A packet without the marker bit says that
    // more of its frame follows.
    bool OnRtpPacket(std::span<const std::uint8_t> data,
                     const platform::SocketAddress& from) override;

    // The camera's RTCP over UDP reaches the RTCP reporter on its own port; this channel keeps no
    // RTCP state, so RTCP that a source delivers here is dropped.
    void OnRtcpPacket(std::span<const std::uint8_t> /*data*/,
                      const platform::SocketAddress& /*from*/) override {}

    // IMediaParserClient.
    bool OnFrame(IHostSample* sample) override;
    std::pair<std::uint32_t, std::uint32_t> GetConfiguredSize() override;

    [[nodiscard]] std::uint16_t RtpPort() const { return m_rtpPort; }

    [[nodiscard]] std::uint32_t CameraAddress() const { return m_cameraAddress.load(); }

protected:
    // Connect runs one connection attempt; on failure everything it created is released.
    bool Connect();
    // AwaitFirstPacket waits UdpProofWaitMs for the session's first RTP packet, if it is to;
    // false after a stop or when none came (then OnUdpSilent has been called).
    bool AwaitFirstPacket();
    // ReportAttemptFailure tells the host at level 1 why an attempt failed, once per change of
    // cause: a camera that keeps failing the same way is not reported again on every retry, and
    // a stream that ran makes the next failure reported again. Not during a stop.
    void ReportAttemptFailure(const std::string& cause);

    // SessionUrl names the stream in messages, without credentials; empty when there is none.
    [[nodiscard]] virtual std::string SessionUrl() const { return {}; }

    void ReleaseSource();
    // What a port search does with a quiet port it found.
    enum class PortVerdict { Keep, Next, Fail };
    // SearchPorts tries the local ports from kFirstRtpPort in steps of `step`: a port that opens
    // and stays quiet is offered to `accept`. False when no port is kept or a stop is requested.
    bool SearchPorts(std::uint32_t step, const std::function<PortVerdict(std::uint16_t)>& accept);
    // ProbePort watches a freshly opened port for packets already arriving from the camera: true
    // when the port is quiet. False when packets arrive or a stop is requested.
    bool ProbePort();

    std::uint16_t m_rtpPort = 0;
    std::unique_ptr<IPacketSource> m_source;
    std::optional<std::uint64_t> m_lastKeepAliveMs; // monotonic; none sent yet while empty
    CManualEvent m_packetEvent;
    std::atomic<bool> m_probingPort{false}; // the port probe is watching m_packetEvent
    CManualEvent m_dataEvent;
    std::string m_lastFailure;      // the cause last reported; channel thread only
    bool m_reconnectAtOnce = false; // the failed attempt changed how to connect; channel thread
    std::atomic<std::uint32_t> m_cameraAddress{0};
};

} // namespace norvane
