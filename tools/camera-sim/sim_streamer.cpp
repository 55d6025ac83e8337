#include "sim_streamer.h"

#include <algorithm>
#include <random>

#include "platform/clock.h"
#include "platform/wait.h"
#include "sim_internal.h"
#include "sim_packetizer.h"

namespace norvane::sim {

namespace {

constexpr std::uint32_t kRtpClockRate = 90000;          // RFC 6184 and RFC 2435 both use 90 kHz
constexpr std::uint64_t kNtpUnixOffset = 2208988800ULL; // seconds from 1900 to 1970
constexpr std::uint64_t kMaxLagMs = 1000; // after a longer stall the pacing restarts from now
// Access unit delimiter NAL unit (H.264 section 7.3.2.4): primary_pic_type 7, then the stop bit.
const std::vector<std::uint8_t> kAccessUnitDelimiter = {0x09, 0xF0};

double Uniform(std::mt19937_64& random) {
    return static_cast<double>(random() >> 11) * (1.0 / 9007199254740992.0);
}

std::uint64_t NtpNow() {
    const std::uint64_t utc = platform::UtcNow100ns();
    const std::uint64_t unix100ns =
            utc > platform::kEpoch1601To1970 ? utc - platform::kEpoch1601To1970 : 0;
    const std::uint64_t seconds = unix100ns / 10000000ULL + kNtpUnixOffset;
    const std::uint64_t fraction = ((unix100ns % 10000000ULL) << 32) / 10000000ULL;
    return (seconds << 32) | fraction;
}

// CPacketSender sends the RTP packets of one session with the drop, duplicate and reorder faults,
// drawing its decisions from a seeded generator so that a run can be repeated exactly.
class CPacketSender {
public:
    CPacketSender(CRtspSession& session, std::uint64_t seed)
        : m_session(session)
        , m_socket(session.rtp)
        , m_to(session.clientRtp)
        , m_random(seed) {}

    // Send returns the number of datagrams that left for this packet (0, 1 or 2).
    std::uint32_t Send(std::vector<std::uint8_t> packet, const SimFaults& faults) {
        if (m_session.connection == nullptr && faults.blockUdpMedia) {
            return 0; // a firewall between camera and client drops every datagram
        }
        platform::CSocket& socket = SocketFor(faults);
        const double u = Uniform(m_random);
        std::uint32_t sent = 0;
        if (u < faults.dropShare) {
            return 0;
        }
        if (u < faults.dropShare + faults.duplicateShare) {
            sent += Put(socket, packet);
            sent += Put(socket, packet);
        } else if (u < faults.dropShare + faults.duplicateShare + faults.reorderShare &&
                   m_held.empty()) {
            m_held = std::move(packet); // goes out after the next packet
            return 0;
        } else {
            sent += Put(socket, packet);
        }
        if (!m_held.empty()) {
            sent += Put(socket, m_held);
            m_held.clear();
        }
        return sent;
    }

private:
    platform::CSocket& SocketFor(const SimFaults& faults) {
        if (!faults.alternateSource) {
            return m_socket;
        }
        if (!m_alternate.IsValid()) {
            // 127.0.0.2 is another loopback address on Linux; where it cannot be bound the
            // packets keep their usual source.
            m_alternate = platform::CSocket::CreateUdp();
            if (!m_alternate.IsValid() || !m_alternate.Bind(Loopback2(), 0)) {
                m_alternate.Close();
                return m_socket;
            }
        }
        return m_alternate;
    }

    static std::uint32_t Loopback2() {
        const std::uint8_t bytes[4] = {127, 0, 0, 2};
        std::uint32_t address = 0;
        std::copy(bytes, bytes + 4, reinterpret_cast<std::uint8_t*>(&address));
        return address;
    }

    std::uint32_t Put(platform::CSocket& socket, const std::vector<std::uint8_t>& packet) {
        if (m_session.connection != nullptr) {
            return m_session.connection->SendFrame(m_session.rtpChannel, packet) ? 1U : 0U;
        }
        return socket.SendTo(packet, m_to).Ok() ? 1U : 0U;
    }

    CRtspSession& m_session;
    platform::CSocket& m_socket;
    platform::CSocket m_alternate;
    platform::SocketAddress m_to;
    std::mt19937_64 m_random;
    std::vector<std::uint8_t> m_held;
};

// CSessionStreamer carries one session's sending state from frame to frame: the RTP sequence
// number and timestamp, the sender report counts and the pacing of frames and reports.
class CSessionStreamer {
public:
    CSessionStreamer(CRtspSession& session, CSimState& state, std::uint32_t bindAddress)
        : m_session(session)
        , m_state(state)
        , m_config(state.Config())
        , m_counters(state.Counters(session.mainStream))
        , m_h264(session.mainStream ? state.MainClip() : nullptr)
        , m_jpeg(session.mainStream ? nullptr : state.SecondClip())
        , m_cname("vantrel@" + AddressText(bindAddress))
        , m_sender(session, session.faultSeed)
        , m_sequence(session.firstSequence)
        , m_timestamp(session.firstTimestamp)
        , m_lastFrameTimestamp(session.firstTimestamp) {}

    void Run() {
        const std::uint64_t start = platform::MonotonicMs();
        m_lastFrameMs = start;
        m_nextFrameMs = static_cast<double>(start);
        m_nextReportMs = start + m_config.rtcpIntervalMs;
        while (true) {
            const std::uint64_t now = platform::MonotonicMs();
            if (static_cast<double>(now) >= m_nextFrameMs) {
                SendFrame(now);
            }
            if (now >= m_nextReportMs) {
                SendReport(now);
            }
            const double due = std::min(m_nextFrameMs, static_cast<double>(m_nextReportMs));
            const std::uint64_t after = platform::MonotonicMs();
            const int waitMs = due > static_cast<double>(after)
                                       ? static_cast<int>(due - static_cast<double>(after))
                                       : 0;
            const auto wait = platform::WaitSocket(m_session.rtcp, platform::WaitFor::Read,
                                                   m_session.stopEvent.get(), waitMs);
            if (wait == platform::WaitResult::Stopped) {
                break;
            }
            if (wait == platform::WaitResult::Ready) {
                ReceiveRtcp();
            }
        }
        // RFC 3550 section 6.6: a source that leaves says BYE.
        SendRtcp(BuildBye(m_session.ssrc));
    }

private:
    [[nodiscard]] std::size_t FrameCount() const {
        return m_h264 ? m_h264->accessUnits.size() : m_jpeg->pictures.size();
    }

    [[nodiscard]] std::vector<RtpPayload> FramePayloads(std::size_t index) const {
        const std::size_t maxPayload = m_config.mtu - kRtpHeaderSize;
        if (!m_h264) {
            return PacketizeJpeg(m_jpeg->pictures[index], maxPayload, m_config.jpegInBandTables);
        }
        const H264AccessUnit& unit = m_h264->accessUnits[index];
        if (m_h264->codec == VideoCodec::H265) {
            return PacketizeH265(unit, maxPayload);
        }
        if (!m_config.h264AccessUnitDelimiters || (unit.nalUnits[0][0] & 0x1F) == 9) {
            return PacketizeH264(unit, maxPayload);
        }
        H264AccessUnit delimited;
        delimited.nalUnits.push_back(kAccessUnitDelimiter);
        delimited.nalUnits.insert(delimited.nalUnits.end(), unit.nalUnits.begin(),
                                  unit.nalUnits.end());
        return PacketizeH264(delimited, maxPayload);
    }

    // SendFrame sends the next frame and schedules the one after it.
    void SendFrame(std::uint64_t now) {
        const SimFaults faults = m_state.Faults();
        const double fps = m_state.StreamFps(m_session.mainStream);
        const std::uint8_t payloadType = m_h264 ? kPayloadTypeH264 : kPayloadTypeJpeg;
        for (const RtpPayload& payload : FramePayloads(m_frameIndex % FrameCount())) {
            auto packet = BuildRtpPacket(payloadType, payload.marker, m_sequence++, m_timestamp,
                                         m_session.ssrc, payload.data);
            ++m_packetCount;
            m_octetCount += static_cast<std::uint32_t>(payload.data.size());
            if (!faults.stopMedia) {
                m_counters.packetsSent += m_sender.Send(std::move(packet), faults);
            }
        }
        if (!faults.stopMedia) {
            ++m_counters.framesSent;
            if (m_frameIndex != 0) {
                CountSendGap(now - m_lastFrameMs);
            }
        }
        m_lastFrameTimestamp = m_timestamp;
        m_lastFrameMs = now;
        const double ticks = kRtpClockRate / fps + m_timestampRemainder;
        const auto whole = static_cast<std::uint32_t>(ticks);
        m_timestampRemainder = ticks - whole;
        m_timestamp += whole;
        ++m_frameIndex;
        m_nextFrameMs += 1000.0 / fps;
        if (m_nextFrameMs + kMaxLagMs < static_cast<double>(now)) {
            m_nextFrameMs = static_cast<double>(now);
        }
    }

    void CountSendGap(std::uint64_t gapMs) {
        std::uint64_t longest = m_counters.longestSendGapMs.load();
        while (gapMs > longest &&
               !m_counters.longestSendGapMs.compare_exchange_weak(longest, gapMs)) {
        }
        if (gapMs > kLongSendGapMs) {
            ++m_counters.longSendGaps;
        }
    }

    // SendReport sends an RTCP sender report (RFC 3550 section 6.4.1) unless media is stopped.
    void SendReport(std::uint64_t now) {
        if (!m_state.Faults().stopMedia) {
            const auto rtpNow = static_cast<std::uint32_t>(
                    m_lastFrameTimestamp + (now - m_lastFrameMs) * (kRtpClockRate / 1000));
            const auto report = BuildSenderReport(m_session.ssrc, NtpNow(), rtpNow, m_packetCount,
                                                  m_octetCount, m_cname);
            if (SendRtcp(report)) {
                ++m_counters.senderReports;
            }
        }
        m_nextReportMs = now + m_config.rtcpIntervalMs;
    }

    bool SendRtcp(const std::vector<std::uint8_t>& packet) {
        if (m_session.connection != nullptr) {
            return m_session.connection->SendFrame(m_session.rtcpChannel, packet);
        }
        return !m_state.Faults().blockUdpMedia &&
               m_session.rtcp.SendTo(packet, m_session.clientRtcp).Ok();
    }

    void ReceiveRtcp() {
        std::uint8_t buffer[2048];
        platform::SocketAddress from;
        const auto result = m_session.rtcp.ReceiveFrom(buffer, &from);
        if (result.Ok()) {
            m_state.RecordRtcp(ReceivedRtcp{
                    m_session.id, from, std::vector<std::uint8_t>(buffer, buffer + result.bytes)});
        }
    }

    CRtspSession& m_session;
    CSimState& m_state;
    const CameraSimConfig& m_config;
    StreamCounters& m_counters;
    const std::shared_ptr<const H264Clip> m_h264; // set for the main stream
    const std::shared_ptr<const JpegClip> m_jpeg; // set for the second stream
    const std::string m_cname;
    CPacketSender m_sender;

    std::uint16_t m_sequence;
    std::uint32_t m_timestamp;
    double m_timestampRemainder = 0.0;
    std::uint32_t m_packetCount = 0;
    std::uint32_t m_octetCount = 0;
    std::uint32_t m_lastFrameTimestamp;
    std::uint64_t m_lastFrameMs = 0;
    double m_nextFrameMs = 0.0;
    std::uint64_t m_nextReportMs = 0;
    std::size_t m_frameIndex = 0;
};

} // namespace

void RunStreamer(CRtspSession& session, CSimState& state, std::uint32_t bindAddress) {
    CSessionStreamer(session, state, bindAddress).Run();
}

} // namespace norvane::sim
