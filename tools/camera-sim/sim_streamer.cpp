// The sender thread of one playing RTSP session: packetizes the clip frame by frame at the
// stream's frame rate, applies the packet faults, sends RTCP sender reports from the RTCP port
// and records what the client sends to that port.
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
    CPacketSender(platform::CSocket& socket, platform::SocketAddress to, std::uint64_t seed)
        : m_socket(socket)
        , m_to(to)
        , m_random(seed) {}

    // Send returns the number of datagrams that left for this packet (0, 1 or 2).
    std::uint32_t Send(std::vector<std::uint8_t> packet, const SimFaults& faults) {
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
        return socket.SendTo(packet, m_to).Ok() ? 1U : 0U;
    }

    platform::CSocket& m_socket;
    platform::CSocket m_alternate;
    platform::SocketAddress m_to;
    std::mt19937_64 m_random;
    std::vector<std::uint8_t> m_held;
};

} // namespace

void CCameraSim::Impl::RunStreamer(const std::shared_ptr<CRtspSession>& shared) {
    CRtspSession& session = *shared;
    StreamCounters& counters = session.mainStream ? mainCounters : secondCounters;
    const auto h264 = session.mainStream ? MainClip() : nullptr;
    const auto jpeg = session.mainStream ? nullptr : jpegClip;
    const std::size_t frameCount = h264 ? h264->accessUnits.size() : jpeg->pictures.size();
    const std::size_t maxPayload = config.mtu - kRtpHeaderSize;
    const std::uint8_t payloadType = h264 ? kPayloadTypeH264 : kPayloadTypeJpeg;
    const std::string cname = "vantrel@" + AddressText(bindAddress);
    CPacketSender sender(session.rtp, session.clientRtp, session.faultSeed);

    std::uint16_t sequence = session.firstSequence;
    std::uint32_t timestamp = session.firstTimestamp;
    double timestampRemainder = 0.0;
    std::uint32_t packetCount = 0;
    std::uint32_t octetCount = 0;
    std::uint32_t lastFrameTimestamp = timestamp;
    const std::uint64_t start = platform::MonotonicMs();
    std::uint64_t lastFrameMs = start;
    double nextFrameMs = static_cast<double>(start);
    std::uint64_t nextReportMs = start + config.rtcpIntervalMs;
    std::size_t frameIndex = 0;

    while (true) {
        const std::uint64_t now = platform::MonotonicMs();
        if (static_cast<double>(now) >= nextFrameMs) {
            const SimFaults faults = Faults();
            const double fps = StreamFps(session.mainStream);
            const std::size_t index = frameIndex % frameCount;
            std::vector<RtpPayload> payloads;
            if (h264) {
                const H264AccessUnit& unit = h264->accessUnits[index];
                if (config.h264AccessUnitDelimiters && (unit.nalUnits[0][0] & 0x1F) != 9) {
                    H264AccessUnit delimited;
                    delimited.nalUnits.push_back(kAccessUnitDelimiter);
                    delimited.nalUnits.insert(delimited.nalUnits.end(), unit.nalUnits.begin(),
                                              unit.nalUnits.end());
                    payloads = PacketizeH264(delimited, maxPayload);
                } else {
                    payloads = PacketizeH264(unit, maxPayload);
                }
            } else {
                payloads =
                        PacketizeJpeg(jpeg->pictures[index], maxPayload, config.jpegInBandTables);
            }
            for (const RtpPayload& payload : payloads) {
                auto packet = BuildRtpPacket(payloadType, payload.marker, sequence++, timestamp,
                                             session.ssrc, payload.data);
                ++packetCount;
                octetCount += static_cast<std::uint32_t>(payload.data.size());
                if (!faults.stopMedia) {
                    counters.packetsSent += sender.Send(std::move(packet), faults);
                }
            }
            if (!faults.stopMedia) {
                ++counters.framesSent;
            }
            lastFrameTimestamp = timestamp;
            lastFrameMs = now;
            const double ticks = kRtpClockRate / fps + timestampRemainder;
            const auto whole = static_cast<std::uint32_t>(ticks);
            timestampRemainder = ticks - whole;
            timestamp += whole;
            ++frameIndex;
            nextFrameMs += 1000.0 / fps;
            if (nextFrameMs + kMaxLagMs < static_cast<double>(now)) {
                nextFrameMs = static_cast<double>(now);
            }
        }
        if (now >= nextReportMs) {
            if (!Faults().stopMedia) {
                const auto rtpNow = static_cast<std::uint32_t>(
                        lastFrameTimestamp + (now - lastFrameMs) * (kRtpClockRate / 1000));
                const auto report = BuildSenderReport(session.ssrc, NtpNow(), rtpNow, packetCount,
                                                      octetCount, cname);
                if (session.rtcp.SendTo(report, session.clientRtcp).Ok()) {
                    ++counters.senderReports;
                }
            }
            nextReportMs = now + config.rtcpIntervalMs;
        }
        const double due = std::min(nextFrameMs, static_cast<double>(nextReportMs));
        const std::uint64_t after = platform::MonotonicMs();
        const int waitMs = due > static_cast<double>(after)
                                   ? static_cast<int>(due - static_cast<double>(after))
                                   : 0;
        const auto wait = platform::WaitSocket(session.rtcp, platform::WaitFor::Read,
                                               session.stopEvent.get(), waitMs);
        if (wait == platform::WaitResult::Stopped) {
            break;
        }
        if (wait == platform::WaitResult::Ready) {
            std::uint8_t buffer[2048];
            platform::SocketAddress from;
            const auto result = session.rtcp.ReceiveFrom(buffer, &from);
            if (result.Ok()) {
                std::lock_guard guard(lock);
                if (rtcpPackets.size() < 10000) {
                    rtcpPackets.push_back(
                            ReceivedRtcp{session.id, from,
                                         std::vector<std::uint8_t>(buffer, buffer + result.bytes)});
                }
            }
        }
    }
    // RFC 3550 section 6.6: a source that leaves says BYE.
    (void)session.rtcp.SendTo(BuildBye(session.ssrc), session.clientRtcp);
}

} // namespace norvane::sim
