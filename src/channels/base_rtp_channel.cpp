#include "channels/base_rtp_channel.h"

#include "platform/clock.h"
#include "platform/guarded_call.h"
#include "platform/system.h"
#include "rtp/udp_packet_source.h"
#include "text/text_utils.h"

namespace norvane {
CBaseRTPChannel::CBaseRTPChannel(IDriver* driver, std::uint32_t channelIndex, IFrameSink* sink)
    : CBaseCameraChannel(driver, channelIndex, sink) {}

CBaseRTPChannel::~CBaseRTPChannel() {
    Stop();
}

std::int32_t CBaseRTPChannel::Run() {
    MarkDataTime(); // the first time-outs count from the thread's start
    for (;;) {
        if (GetState() == kStateStreaming && TransportLost()) {
            ReportAttemptFailure(FormatString("the connection that carried the media ended (%s)",
                                              SessionUrl().c_str()));
            SetState(kStateStopped); // the next pass connects again
        } else if (GetState() == kStateStreaming) {
            CheckKeepAlive();
        } else {
            m_dataEvent.Reset();
            m_reconnectAtOnce = false;
            const bool connected = Connect() && AwaitFirstPacket();
            if (!connected && m_reconnectAtOnce && !m_stopEvent.IsSet()) {
                continue; // the attempt chose another transport: no pause before it
            }
            if (connected) {
                const DEVICE_INFO info = m_driver->GetDeviceInfo();
                const int woke = WaitAny(m_stopEvent, m_dataEvent, info.dataTimeout);
                if (woke == 1) {
                    SetState(kStateStreaming);
                    m_lastFailure.clear();
                } else if (woke != 0) {
                    ReportAttemptFailure(FormatString(
                            "no RTP packets from the camera within %d ms after PLAY (%s)",
                            info.dataTimeout, SessionUrl().c_str()));
                }
            }
        }
        const bool stop = m_stopEvent.Wait(kLoopPauseMs);
        ReportReception(platform::MonotonicMs());
        const DEVICE_INFO info = m_driver->GetDeviceInfo();
        if (MillisecondsSinceData() <= static_cast<std::uint32_t>(info.dataTimeout)) {
            if (stop) {
                break;
            }
            continue;
        }
        if (stop) {
            break;
        }
        if (GetState() == kStateStreaming) {
            ReportAttemptFailure(
                    FormatString("stream stalled: no frame from the camera for %d ms (%s)",
                                 info.dataTimeout, SessionUrl().c_str()));
        }
        SetState(kStateSignalLost);
        if (WithinLossGrace()) {
            continue;
        }
        if (m_sink != nullptr) {
            try {
                m_sink->OnSignalLost();
            } catch (...) {
                // The host's failure to take the notice changes nothing here.
            }
        }
        SetCameraState(false);
    }
    SetState(kStateStopped);
    ReleaseSource();
    CloseSession();
    SetCameraState(false);
    return 0;
}

bool CBaseRTPChannel::AwaitFirstPacket() {
    const int waitMs = UdpProofWaitMs();
    if (waitMs <= 0) {
        m_awaitingPacket.store(false, std::memory_order_relaxed);
        return true;
    }
    const int woke = WaitAny(m_stopEvent, m_packetEvent, waitMs);
    m_awaitingPacket.store(false, std::memory_order_relaxed);
    if (woke == -1) {
        OnUdpSilent();
    }
    return woke == 1;
}

void CBaseRTPChannel::ReportAttemptFailure(const std::string& cause) {
    if (m_stopEvent.IsSet() || cause == m_lastFailure) {
        return;
    }
    m_lastFailure = cause;
    m_driver->DebugMessage(1, "norvane::CBaseRTPChannel::Connect: %s", cause.c_str());
}

bool CBaseRTPChannel::Connect() {
    SetState(kStateStopped);
    ReleaseSource();
    CloseSession();
    m_window.Restart(); // no receive thread runs now; a new session numbers its packets anew
    // The address is looked up once per attempt, so that a camera whose name moves is found
    // again; a stop ends a lookup that hangs, and the session connects to the same address.
    const DEVICE_INFO device = m_driver->GetDeviceInfo();
    m_cameraAddress.store(platform::ResolveIPv4Stoppable(device.address, m_stopEvent.Handle(),
                                                         device.requestTimeout));
    m_senders.Reset();
    m_mediaExpected = false;
    // The port opens before the camera is configured: what reaches it during the configuration
    // shows whether another session still sends there, at no cost in time.
    m_source = CreatePacketSource();
    if (m_source) {
        m_source->SetSink(this);
        if (CreateSession() && OpenPorts() && ConfigureCamera() && StartStreaming()) {
            if (!m_mediaExpected) {
                ExpectedSender camera;
                camera.addresses[0] = m_cameraAddress.load();
                ExpectMedia(camera);
            }
            return true;
        }
    }
    SetState(kStateStopped);
    ReleaseSource();
    CloseSession();
    return false;
}

std::unique_ptr<IPacketSource> CBaseRTPChannel::CreatePacketSource() {
    return std::make_unique<CUDPPacketSource>();
}

void CBaseRTPChannel::ReleaseSource() {
    if (!m_source) {
        return;
    }
    m_source->SetSink(nullptr); // no more packets reach the channel
    m_source->Close();          // waits for the receive thread
    m_source.reset();
}

void CBaseRTPChannel::ExpectMedia(const ExpectedSender& expected) {
    // Armed before the media is asked for, so that AwaitFirstPacket misses no early packet.
    m_packetEvent.Reset();
    m_awaitingPacket.store(true, std::memory_order_relaxed);
    m_senders.Expect(expected);
    m_mediaExpected = true;
}

bool CBaseRTPChannel::SearchPorts(std::uint32_t first, std::uint32_t step,
                                  const std::function<PortVerdict(std::uint16_t)>& accept) {
    for (std::uint32_t port = first; port < kEndRtpPort; port += step) {
        if (m_stopEvent.IsSet()) {
            return false;
        }
        if (!m_source->Open(static_cast<std::uint16_t>(port))) {
            continue;
        }
        switch (accept(static_cast<std::uint16_t>(port))) {
        case PortVerdict::Keep:
            m_rtpPort = static_cast<std::uint16_t>(port);
            return true;
        case PortVerdict::Next:
            m_source->Close();
            break;
        case PortVerdict::Fail:
            m_source->Close();
            return false;
        }
    }
    return false;
}

bool CBaseRTPChannel::OpenPorts() {
    return SearchPorts(kFirstRtpPort, 1, [](std::uint16_t) { return PortVerdict::Keep; });
}

void CBaseRTPChannel::CheckKeepAlive() {
    // The last time survives attempts: a new stream right after a keep-alive waits its turn.
    const std::uint64_t now = platform::MonotonicMs();
    if (!m_lastKeepAliveMs || now - *m_lastKeepAliveMs > KeepAliveIntervalMs()) {
        SendKeepAlive();
        m_lastKeepAliveMs = now;
    }
}

bool CBaseRTPChannel::OnRtpPacket(std::span<const std::uint8_t> data,
                                  const platform::SocketAddress& from) {
    RtpPacketInfo packet;
    if (!ParseRtpHeader(data, packet)) {
        return false;
    }
    if (m_senders.Admit(from, packet.ssrc)) {
        // Only AwaitFirstPacket waits for this event; while streaming, setting it for every
        // packet would cost a system call per datagram.
        if (m_awaitingPacket.load(std::memory_order_relaxed)) {
            m_packetEvent.Set();
        }
        m_window.Push(packet, m_window.NeedsTime(packet) ? platform::MonotonicUs() : 0);
    }
    return !packet.marker;
}

int CBaseRTPChannel::HoldTimeoutMs() {
    // Asked before every wait: the clock is read only while packets are held.
    return m_window.HeldCount() == 0 ? -1 : m_window.HoldTimeoutMs(platform::MonotonicUs());
}

void CBaseRTPChannel::OnHoldTimeout() {
    m_window.Expire(platform::MonotonicUs());
}

void CBaseRTPChannel::ReportReception(std::uint64_t nowMs) {
    if (m_lastSummaryMs == 0) {
        m_lastSummaryMs = nowMs;
        return;
    }
    if (nowMs - m_lastSummaryMs < kReceptionReportMs) {
        return;
    }
    const RtpReceptionCounters now = m_reception.Snapshot();
    const RtpReceptionCounters& last = m_lastSummary;
    const std::int64_t lost = IntervalLoss(last, now);
    const std::uint64_t damaged = now.framesDamaged - last.framesDamaged;
    const bool quiet = lost <= 0 && damaged == 0 && now.late == last.late;
    if (!quiet) {
        m_driver->DebugMessage(
                2,
                "norvane::CBaseRTPChannel::ReportReception: channel %u, last %llu s: %llu of %llu "
                "packets received, %lld lost (%u/256), %llu reordered and recovered, %llu "
                "duplicates, "
                "%llu late, jitter %u; frames %llu delivered, %llu damaged",
                static_cast<unsigned>(m_channelIndex),
                static_cast<unsigned long long>((nowMs - m_lastSummaryMs) / 1000),
                static_cast<unsigned long long>(now.received - last.received),
                static_cast<unsigned long long>(now.expected - last.expected),
                static_cast<long long>(lost), static_cast<unsigned>(FractionLost(last, now)),
                static_cast<unsigned long long>(now.reordered - last.reordered),
                static_cast<unsigned long long>(now.duplicates - last.duplicates),
                static_cast<unsigned long long>(now.late - last.late), now.jitter,
                static_cast<unsigned long long>(now.framesDelivered - last.framesDelivered),
                static_cast<unsigned long long>(damaged));
    }
    m_lastSummary = now; // a quiet minute is not summed up, and the next one starts here
    m_lastSummaryMs = nowMs;
}

bool CBaseRTPChannel::OnFrame(IHostSample* sample) {
    // Only the connecting thread waits for the first frame; once streaming, the data time
    // alone tells that frames still arrive, and setting the event would cost a system call.
    if (GetState() != kStateStreaming) {
        m_dataEvent.Set();
    }
    bool accepted = false;
    if (m_sink != nullptr) {
        // A host sink that throws refuses the frame, whichever compiler built the host.
        struct SinkCall {
            IFrameSink* sink;
            IHostSample* sample;
        } call{m_sink, sample};

        accepted = platform::CallGuarded(
                           [](void* context) -> int {
                               auto* frame = static_cast<SinkCall*>(context);
                               try {
                                   return frame->sink->OnFrame(frame->sample) ? 1 : 0;
                               } catch (...) {
                                   return 0;
                               }
                           },
                           &call, 0) != 0;
    }
    if (!accepted) {
        return false;
    }
    m_reception.CountFrameDelivered();
    MarkDataTime();
    ReportOnline();
    return true;
}

std::pair<std::uint32_t, std::uint32_t> CBaseRTPChannel::GetConfiguredSize() {
    return {m_start.width, m_start.height};
}

} // namespace norvane
