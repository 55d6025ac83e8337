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
#include "rtp/rtp_reorder_window.h"
#include "rtp/sender_lock.h"

namespace norvane {

// Local RTP ports a channel may use: [kFirstRtpPort, kEndRtpPort).
constexpr std::uint16_t kFirstRtpPort = 3556;
constexpr std::uint16_t kEndRtpPort = 4556;
// Pause of the channel loop between passes.
constexpr int kLoopPauseMs = 1000;
// Reception is summed up to the host at level 2 at most this often, and only when packets were
// lost or frames damaged since the last summary.
constexpr std::uint64_t kReceptionReportMs = 60000;

class CBaseRTPChannel : public CBaseCameraChannel,
                        public IPacketSink,
                        public IMediaParserClient,
                        private IOrderedPacketSink {
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

    // IPacketSink. Datagrams that are not RTP version 2 packets with a payload, and packets of
    // any other sender than the session's (see CSenderLock), are dropped. A packet without the
    // marker bit says that more of its frame follows.
    bool OnRtpPacket(std::span<const std::uint8_t> data,
                     const platform::SocketAddress& from) override;
    // The reorder window's hold bound: the source wakes the receive thread to release packets
    // held back too long even when nothing more arrives.
    int HoldTimeoutMs() override;
    void OnHoldTimeout() override;

    // The camera's RTCP over UDP reaches the RTCP reporter on its own port; this channel keeps no
    // RTCP state, so RTCP that a source delivers here is dropped.
    void OnRtcpPacket(std::span<const std::uint8_t> /*data*/,
                      const platform::SocketAddress& /*from*/) override {}

    // IMediaParserClient.
    bool OnFrame(IHostSample* sample) override;
    std::pair<std::uint32_t, std::uint32_t> GetConfiguredSize() override;

    void OnFrameDamaged() override { m_reception.CountFrameDamaged(); }

    // GetReception returns the channel's reception counts since it was created (any thread).
    bool GetReception(RtpReceptionCounters& counts) override {
        counts = m_reception.Snapshot();
        return true;
    }

    // ReportReception tells the host at level 2 how reception went since the last summary, when
    // kReceptionReportMs have passed since it and packets were lost or frames damaged in between.
    void ReportReception(std::uint64_t nowMs);

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

    // The reorder window hands each packet, in sequence order, to the parser.
    void OnOrderedPacket(const RtpPacketInfo& packet) override { FeedParser(&packet); }
    // What a port search does with a port it opened.
    enum class PortVerdict { Keep, Next, Fail };
    // SearchPorts tries the local ports from `first` in steps of `step`: a port that opens is
    // offered to `accept`. False when no port is kept or a stop is requested. Whether another
    // session still sends to the port shows while the attempt goes on (StraysSeen).
    bool SearchPorts(std::uint32_t first, std::uint32_t step,
                     const std::function<PortVerdict(std::uint16_t)>& accept);

    // StraysSeen: packets reached the port before the session's media was expected.
    [[nodiscard]] bool StraysSeen() const { return m_senders.StraysSeen(); }

    // ForgetStrays starts the sender watch over, for a port just opened instead (the source is
    // closed: no packet can arrive meanwhile).
    void ForgetStrays() { m_senders.Reset(); }

    // ExpectMedia tells the sender watch that the session's media may arrive from now on, and
    // from whom.
    void ExpectMedia(const ExpectedSender& expected);

    // ExpectFirstPacket names the sequence number of the session's first packet, so that it is
    // put in place even when its successors overtake it.
    void ExpectFirstPacket(std::uint16_t sequence) { m_window.ExpectFirst(sequence); }

    std::uint16_t m_rtpPort = 0;
    std::unique_ptr<IPacketSource> m_source;
    std::optional<std::uint64_t> m_lastKeepAliveMs; // monotonic; none sent yet while empty
    CSenderLock m_senders;
    bool m_mediaExpected = false; // channel thread
    CManualEvent m_dataEvent;
    CManualEvent m_packetEvent;                // the session's first packet, while awaited
    std::atomic<bool> m_awaitingPacket{false}; // AwaitFirstPacket is watching m_packetEvent
    std::string m_lastFailure;                 // the cause last reported; channel thread only
    bool m_reconnectAtOnce = false; // the failed attempt changed how to connect; channel thread
    std::atomic<std::uint32_t> m_cameraAddress{0};
    CRtpReceptionStats m_reception;
    CRtpReorderWindow m_window{*this, m_reception}; // receive thread, or no source open
    RtpReceptionCounters m_lastSummary;             // channel thread only
    std::uint64_t m_lastSummaryMs = 0;              // monotonic; 0 before the first stream
};

} // namespace norvane
