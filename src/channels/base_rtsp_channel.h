// CBaseRTSPChannel: the RTSP conversation of a channel. Every connection attempt gets a new RTSP
// client and RTCP reporter, an even local RTP port with RTCP on the next one, then DESCRIBE, SETUP
// and PLAY; OPTIONS keeps the session alive while frames flow, TEARDOWN ends it. The port is
// opened before the camera is configured; when another session's packets reach it meanwhile, the
// next ports are taken before SETUP names them to the camera, and once SETUP is answered only the
// sender it announced is listened to. The stream path, the RTSP port and the use of the session
// description come from the stream channels.
//
// The transport follows the host's parameter kParamTransport. With interleaved transport no port
// is opened: the media arrives inside the RTSP connection, read by a CInterleavedPacketSource,
// and the RTCP reporter answers over the same connection. In auto mode an attempt over UDP that
// the camera refuses (461) or that brings no RTP packet within kAutoTransportUdpWaitMs makes
// every later attempt interleaved until the channel is started again; a camera that then refuses
// interleaving (461) is tried over UDP again.
//
// Threads: the channel thread; the RTCP reporter runs its own thread between OpenPorts and
// CloseSession over UDP; with interleaved transport OnRtcpPacket runs on the reader's thread.
// Every wait of the client ends at once on the channel's stop event.
#pragma once

#include <memory>

#include "channels/base_rtp_channel.h"
#include "core/parameters.h"
#include "rtp/rtcp_reporter.h"
#include "rtsp/base_rtsp_client.h"

namespace norvane {

// How long a TEARDOWN sent while the channel is being stopped waits for its reply.
constexpr std::uint32_t kStopTeardownReplyMs = 100;

class CBaseRTSPChannel : public CBaseRTPChannel {
public:
    CBaseRTSPChannel(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink);
    ~CBaseRTSPChannel() override;

    bool CreateSession() override;
    void CloseSession() override;
    bool StartStreaming() override;
    bool OpenPorts() override;
    void SendKeepAlive() override;
    void OnStarting() override;
    std::unique_ptr<IPacketSource> CreatePacketSource() override;
    [[nodiscard]] int UdpProofWaitMs() const override;
    [[nodiscard]] bool TransportLost() const override;
    void OnUdpSilent() override;

    // The camera's RTCP inside the RTSP connection is answered over that connection.
    void OnRtcpPacket(std::span<const std::uint8_t> data,
                      const platform::SocketAddress& from) override;

    // Interleaved tells whether the current attempt carries RTP inside the RTSP connection.
    [[nodiscard]] bool Interleaved() const { return m_interleaved; }

    // CreateClient makes the client of one attempt; null when it cannot be allocated.
    virtual std::unique_ptr<CBaseRTSPClient> CreateClient();

    // FillSessionSettings sets what the stream decides: RTSP port and stream path.
    virtual void FillSessionSettings(RTSPSessionSettings& /*settings*/) {}

    // OnDescribed takes what the stream needs from the session description; false (after telling
    // the host why) when the stream cannot be taken, which ends the attempt.
    virtual bool OnDescribed() { return true; }

    [[nodiscard]] std::uint16_t RtcpPort() const { return m_rtcpPort; }

    // KeepAliveIntervalMs is half the session time-out the camera announced (60 s when none).
    [[nodiscard]] std::uint64_t KeepAliveIntervalMs() const override;

    [[nodiscard]] std::string SessionUrl() const override;

protected:
    // Step sends one request of the session; a failure is reported with its cause.
    bool Step(std::uint32_t method);
    // OpenPortsFrom takes the first even local port from `first` on that opens, with the RTCP
    // reporter on the port above.
    bool OpenPortsFrom(std::uint32_t first);
    // AvoidStrays moves to the next ports when packets of another session reached the port
    // before the session was set up; true when the ports in use are clean (or were replaced).
    bool AvoidStrays();
    // ExpectedMedia is what the SETUP answer announced of the media's sender.
    [[nodiscard]] ExpectedSender ExpectedMedia() const;
    void ReportRefusal(std::uint32_t method);
    // ChooseInterleaved makes every later attempt of auto mode interleaved (or UDP again) and
    // tells the host why, once per direction.
    void ChooseInterleaved(bool interleaved, const char* reason);
    [[nodiscard]] TransportMode Mode() const;

    std::unique_ptr<CBaseRTSPClient> m_client;
    std::unique_ptr<CRTCPReporter> m_rtcp;
    std::uint16_t m_rtcpPort = 0;
    bool m_interleaved = false;       // this attempt; set before its reader starts
    std::uint8_t m_rtcpChannel = 1;   // the camera's RTCP channel; set before the reader starts
    bool m_interleavedChosen = false; // auto mode fell back; kept until the channel restarts
    bool m_toldTransport[2] = {};     // the switch to UDP [0] or interleaved [1] was told
};

} // namespace norvane
