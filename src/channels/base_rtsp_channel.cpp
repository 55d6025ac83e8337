#include "channels/base_rtsp_channel.h"

#include <new>

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

bool CBaseRTSPChannel::CreateSession() {
    m_client = CreateClient();
    if (!m_client) {
        return false;
    }
    m_rtcp.reset(new (std::nothrow) CRTCPReporter(m_cameraAddress.load(), &m_reception));
    return m_rtcp != nullptr;
}

bool CBaseRTSPChannel::OpenPorts() {
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
    if (!OnDescribed() || !AvoidStrays() || !Step(kSetup) || m_stopEvent.IsSet()) {
        return false;
    }
    // The media may follow the PLAY request before its answer is read.
    ExpectMedia(ExpectedMedia());
    return Step(kPlay);
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
    m_rtcp.reset(new (std::nothrow) CRTCPReporter(m_cameraAddress.load()));
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
    expected.port = transport.serverRtpPort;
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
    return false;
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
