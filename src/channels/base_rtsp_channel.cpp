#include "channels/base_rtsp_channel.h"

#include <new>

#include "platform/clock.h"

namespace norvane {
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
    m_rtcp.reset(new (std::nothrow) CRTCPReporter(m_cameraAddress.load()));
    return m_rtcp != nullptr;
}

bool CBaseRTSPChannel::OpenPorts() {
    // Even RTP ports, with the RTCP reporter on the port above (RFC 3550, section 11).
    return SearchPorts(2, [this](std::uint16_t port) {
        if (m_rtcp->Open(static_cast<std::uint16_t>(port + 1)) && m_rtcp->Start()) {
            m_rtcpPort = static_cast<std::uint16_t>(port + 1);
            return PortVerdict::Keep;
        }
        // A reporter whose socket opened but whose thread did not start is replaced.
        m_rtcp.reset(new (std::nothrow) CRTCPReporter(m_cameraAddress.load()));
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
    if (!m_client->Connect(settings) || m_stopEvent.IsSet()) {
        return false;
    }
    if (!m_client->Request(kDescribe) || m_stopEvent.IsSet()) {
        return false;
    }
    OnDescribed();
    if (!m_client->Request(kSetup) || m_stopEvent.IsSet()) {
        return false;
    }
    return m_client->Request(kPlay);
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
