#include "channels/base_rtsp_channel.h"

#include <new>

#include "channels/interleaved_packet_source.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

// RtspRefusalMeaning explains the statuses an operator can act on; empty for the others.
const char* RtspRefusalMeaning(std::int32_t status) {
    switch (status) {
    case 401:
        return " (credentials refused)";
    case 403:
        return " (forbidden)";
    case 404:
        return " (stream not found)";
    case 454:
        return " (session not found)";
    case 455:
        return " (method not valid in this state)";
    case 461:
        return " (unsupported transport)";
    default:
        return status / 100 == 5 ? " (camera error)" : "";
    }
}

// How long an RTCP answer or BYE inside the connection may wait for room to be sent.
constexpr int kInterleavedRtcpSendMs = 100;
// Receive buffer of a connection that carries the media: a key frame's burst at 64 Mbit/s fits
// while the reader is scheduled out, so the camera is not held back (as for the UDP socket).
constexpr std::uint32_t kInterleavedReceiveBufferBytes = 2 * 1024 * 1024;

} // namespace

CBaseRTSPChannel::CBaseRTSPChannel(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink)
    : CBaseRTPChannel(driver, channelIndex, sink) {}

CBaseRTSPChannel::~CBaseRTSPChannel() {
    Stop();
    CloseSession();
}

std::unique_ptr<CBaseRTSPClient> CBaseRTSPChannel::CreateClient() {
    return std::unique_ptr<CBaseRTSPClient>(new (std::nothrow)
                                                    CBaseRTSPClient(m_stopEvent.Handle()));
}

void CBaseRTSPChannel::OnStarting() {
    m_interleavedChosen = false; // a started channel tries UDP again
    m_toldTransport[0] = m_toldTransport[1] = false;
}

TransportMode CBaseRTSPChannel::Mode() const {
    TransportMode mode = TransportMode::Auto;
    return ParseTransportMode(m_driver->GetStringParameter(kParamTransport), mode)
                   ? mode
                   : TransportMode::Auto;
}

std::unique_ptr<IPacketSource> CBaseRTSPChannel::CreatePacketSource() {
    const TransportMode mode = Mode();
    m_interleaved =
            mode == TransportMode::Tcp || (mode == TransportMode::Auto && m_interleavedChosen);
    if (!m_interleaved) {
        return CBaseRTPChannel::CreatePacketSource();
    }
    return std::unique_ptr<IPacketSource>(new (std::nothrow) CInterleavedPacketSource());
}

int CBaseRTSPChannel::UdpProofWaitMs() const {
    return !m_interleaved && Mode() == TransportMode::Auto ? kAutoTransportUdpWaitMs : 0;
}

bool CBaseRTSPChannel::TransportLost() const {
    const auto* source = dynamic_cast<const CInterleavedPacketSource*>(m_source.get());
    return m_interleaved && source != nullptr && source->Lost();
}

void CBaseRTSPChannel::OnUdpSilent() {
    ChooseInterleaved(true, "no UDP packets from the camera after PLAY");
}

void CBaseRTSPChannel::ChooseInterleaved(bool interleaved, const char* reason) {
    if (m_interleavedChosen == interleaved || m_stopEvent.IsSet()) {
        return;
    }
    m_interleavedChosen = interleaved;
    m_reconnectAtOnce = true;
    // A camera that sends nothing at all and refuses interleaving would make the choice swing
    // back and forth; each direction is told once per start of the channel.
    bool& told = m_toldTransport[interleaved ? 1 : 0];
    if (!told) {
        told = true;
        m_driver->DebugMessage(2, "norvane::CBaseRTSPChannel::StartStreaming: %s; using %s (%s)",
                               reason,
                               interleaved ? "RTP over the RTSP connection" : "RTP over UDP",
                               SessionUrl().c_str());
    }
}

void CBaseRTSPChannel::OnRtcpPacket(std::span<const std::uint8_t> data,
                                    const platform::SocketAddress& from) {
    CBaseRTPChannel::OnRtcpPacket(data, from);
    if (!m_interleaved || !m_rtcp || !m_client) {
        return;
    }
    const auto answer = m_rtcp->Answer(data, from);
    if (answer) {
        [[maybe_unused]] const bool sent =
                m_client->SendInterleaved(m_rtcpChannel, *answer, kInterleavedRtcpSendMs);
    }
}

bool CBaseRTSPChannel::CreateSession() {
    m_client = CreateClient();
    if (!m_client) {
        return false;
    }
    m_rtcp.reset(new (std::nothrow) CRTCPReporter(m_cameraAddress.load(), &m_reception));
    if (m_rtcp && m_interleaved) {
        m_rtcp->UseConnection();
    }
    return m_rtcp != nullptr;
}

bool CBaseRTSPChannel::OpenPorts() {
    if (m_interleaved) {
        m_rtpPort = 0; // the media comes inside the RTSP connection: no port to search
        m_rtcpPort = 0;
        return true;
    }
    return OpenPortsFrom(kFirstRtpPort);
}

bool CBaseRTSPChannel::OpenPortsFrom(std::uint32_t first) {
    // Even RTP ports, with the RTCP reporter on the port above (RFC 3550, section 11).
    return SearchPorts(first, 2, [this](std::uint16_t port) {
        if (m_rtcp->Open(static_cast<std::uint16_t>(port + 1)) && m_rtcp->Start()) {
            m_rtcpPort = static_cast<std::uint16_t>(port + 1);
            return PortVerdict::Keep;
        }
        // A reporter whose socket opened but whose thread did not start is replaced.
        m_rtcp.reset(new (std::nothrow) CRTCPReporter(m_cameraAddress.load(), &m_reception));
        return m_rtcp ? PortVerdict::Next : PortVerdict::Fail;
    });
}

bool CBaseRTSPChannel::StartStreaming() {
    if (m_stopEvent.IsSet()) {
        return false;
    }
    RTSPSessionSettings settings;
    const DEVICE_INFO info = m_driver->GetDeviceInfo();
    settings.address = info.address;
    settings.resolvedAddress = CameraAddress();
    settings.userName = info.userName;
    settings.password = info.password;
    settings.connectTimeout =
            static_cast<std::uint32_t>(info.requestTimeout > 0 ? info.requestTimeout : 0);
    settings.rtpPort = m_rtpPort;
    settings.rtcpPort = m_rtcpPort;
    settings.interleaved = m_interleaved;
    if (m_interleaved) {
        settings.receiveBufferSize = kInterleavedReceiveBufferBytes;
    }
    FillSessionSettings(settings);
    const std::uint64_t connecting = platform::MonotonicMs();
    if (!m_client->Connect(settings)) {
        // The client tells no cause; a failure that used up the time-out is one of no answer.
        const std::uint64_t elapsed = platform::MonotonicMs() - connecting;
        if (settings.connectTimeout > 0 && elapsed + elapsed / 10 >= settings.connectTimeout) {
            ReportAttemptFailure(FormatString("cannot connect to %s: no answer within %u ms",
                                              SessionUrl().c_str(),
                                              static_cast<unsigned>(settings.connectTimeout)));
        } else {
            ReportAttemptFailure(
                    FormatString("cannot connect to %s: connection refused or host unreachable",
                                 SessionUrl().c_str()));
        }
        return false;
    }
    if (m_stopEvent.IsSet() || !Step(kDescribe) || m_stopEvent.IsSet()) {
        return false;
    }
    if (!OnDescribed() || (!m_interleaved && !AvoidStrays())) {
        return false;
    }
    if (!m_client->Request(kSetup)) {
        if (m_client->StatusCode() == 461 && Mode() == TransportMode::Auto) {
            // Auto mode takes the other transport; back to UDP only when the camera refuses
            // interleaving after UDP brought nothing.
            ChooseInterleaved(!m_interleaved,
                              m_interleaved ? "the camera refused RTP over the RTSP connection "
                                              "(461 Unsupported Transport)"
                                            : "the camera refused RTP over UDP (461 Unsupported "
                                              "Transport)");
        } else {
            ReportRefusal(kSetup);
        }
        return false;
    }
    if (m_stopEvent.IsSet()) {
        return false;
    }
    // The media may follow the PLAY request before its answer is read.
    ExpectMedia(ExpectedMedia());
    if (!Step(kPlay)) {
        return false;
    }
    if (const std::optional<std::uint16_t> first = m_client->State().firstVideoSequence) {
        ExpectFirstPacket(*first);
    }
    if (!m_interleaved) {
        return true;
    }
    // The reader takes the connection over once PLAY is answered; frames that came in behind the
    // reply are still buffered and reach the sink first.
    auto* source = dynamic_cast<CInterleavedPacketSource*>(m_source.get());
    if (source == nullptr) {
        return false;
    }
    // The camera may have chosen other channels than those asked for.
    m_rtcpChannel = m_client->State().interleavedChannels[1];
    source->Bind(m_client.get(), {CameraAddress(), m_client->Settings().port},
                 m_client->State().interleavedChannels);
    return source->Open(0);
}

bool CBaseRTSPChannel::AvoidStrays() {
    if (!StraysSeen()) {
        return true;
    }
    const std::uint32_t next = m_rtpPort + 2U;
    m_source->Close();
    if (m_rtcp) {
        m_rtcp->RequestStop();
        [[maybe_unused]] const bool ended = m_rtcp->Stop();
    }
    m_rtcp.reset(new (std::nothrow) CRTCPReporter(m_cameraAddress.load(), &m_reception));
    ForgetStrays();
    if (!m_rtcp || !OpenPortsFrom(next)) {
        ReportAttemptFailure("no free local RTP port without another session's packets");
        return false;
    }
    m_client->Settings().rtpPort = m_rtpPort;
    m_client->Settings().rtcpPort = m_rtcpPort;
    return true;
}

ExpectedSender CBaseRTSPChannel::ExpectedMedia() const {
    const RTSPTransport& transport = m_client->State().transport;
    ExpectedSender expected;
    expected.addresses[0] = CameraAddress();
    // The RTSP server's own address, which a redirection may have moved away from the camera's.
    expected.addresses[2] = m_client->Settings().resolvedAddress;
    if (!m_interleaved) {
        expected.port = transport.serverRtpPort; // inside the connection there is no sender port
    }
    expected.ssrc = transport.ssrc;
    if (!transport.source.empty()) {
        // A source apart from the RTSP server is named by its address in practice; a host name
        // would cost a lookup here and is left out.
        expected.addresses[1] = platform::ParseIPv4(transport.source);
    }
    return expected;
}

std::string CBaseRTSPChannel::SessionUrl() const {
    return m_client ? m_client->BaseUrl() : std::string();
}

bool CBaseRTSPChannel::Step(std::uint32_t method) {
    if (m_client->Request(method)) {
        return true;
    }
    ReportRefusal(method);
    return false;
}

void CBaseRTSPChannel::ReportRefusal(std::uint32_t method) {
    // Every earlier step succeeded, so a status that is not a success is this request's reply;
    // anything else means that no usable reply came.
    const std::int32_t status = m_client->StatusCode();
    const std::string name(MethodName(method));
    if (status != 0 && status / 100 != 2) {
        ReportAttemptFailure(FormatString("%s %s refused with status %d%s", name.c_str(),
                                          SessionUrl().c_str(), static_cast<int>(status),
                                          RtspRefusalMeaning(status)));
    } else {
        ReportAttemptFailure(FormatString("%s %s: no usable reply (timed out, closed or malformed)",
                                          name.c_str(), SessionUrl().c_str()));
    }
}

std::uint64_t CBaseRTSPChannel::KeepAliveIntervalMs() const {
    if (!m_client) {
        return norvane::KeepAliveIntervalMs(0, RTSPSessionSettings{}.sessionTimeout);
    }
    return norvane::KeepAliveIntervalMs(m_client->SessionTimeout(),
                                        m_client->Settings().sessionTimeout);
}

void CBaseRTSPChannel::SendKeepAlive() {
    if (m_client) {
        [[maybe_unused]] const bool answered = m_client->Request(kOptions);
    }
}

void CBaseRTSPChannel::CloseSession() {
    if (m_client) {
        if (m_stopEvent.IsSet()) {
            // Stopping: the TEARDOWN still goes out, but its reply is awaited only briefly.
            m_client->SetStopEvent(nullptr);
            m_client->Settings().ioTimeout = kStopTeardownReplyMs;
        }
        if (m_interleaved && m_rtcp && m_rtcp->CameraHeard()) {
            // RFC 3550, 6.6: a receiver that leaves says BYE, here inside the connection.
            [[maybe_unused]] const bool sent = m_client->SendInterleaved(
                    m_rtcpChannel, BuildRtcpBye(m_rtcp->Ssrc()), kInterleavedRtcpSendMs);
        }
        [[maybe_unused]] const bool answered = m_client->Request(kTeardown);
        m_client->Disconnect();
        m_client.reset();
    }
    if (m_rtcp) {
        m_rtcp->RequestStop();
        [[maybe_unused]] const bool ended = m_rtcp->Stop();
        m_rtcp.reset();
    }
}

} // namespace norvane
