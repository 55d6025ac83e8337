#include "rtp/rtcp_reporter.h"

#include <algorithm>
#include <random>

#include "platform/clock.h"
#include "platform/system.h"
#include "platform/wait.h"

namespace norvane {
namespace {

constexpr std::uint8_t kVersionOneBlock = 0x81; // version 2, no padding, count 1
constexpr std::uint8_t kPacketRR = 201;         // RFC 3550, section 6.4.2
constexpr std::uint8_t kPacketSDES = 202;
constexpr std::uint8_t kPacketBYE = 203;
constexpr std::uint8_t kSdesCname = 1;
constexpr std::size_t kRrSize = 32;
constexpr std::size_t kSdesSize = 36;
constexpr std::size_t kSdesTextOffset = 10; // within the SDES: header, SSRC, item type and length
constexpr std::size_t kShortDatagram = 10;  // this many bytes or fewer carry no report to answer
constexpr std::size_t kReceiveSize = 4096;
constexpr std::uint32_t kBufferSize = 65536;
constexpr std::uint32_t kSocketTimeoutMs = 500;
constexpr int kStopWaitMs = 10000;
constexpr std::uint8_t kPacketSR = 200;
constexpr std::size_t kSrNtpMiddle = 10;      // within an SR: the middle 32 bits of the NTP time
constexpr std::int32_t kMaxLost24 = 0x7FFFFF; // cumulative loss is a signed 24-bit field
constexpr std::int32_t kMinLost24 = -0x800000;

void PutBE32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

// CopyAvailable copies `count` bytes from `offset` of `from` where they exist; the rest stays zero.
void CopyAvailable(std::span<const std::uint8_t> from, std::size_t offset, std::size_t count,
                   std::uint8_t* to) {
    for (std::size_t i = 0; i < count && offset + i < from.size(); ++i) {
        to[i] = from[offset + i];
    }
}

} // namespace

RtcpReportBlock MakeReportBlock(const RtpReceptionCounters& lastReport,
                                const RtpReceptionCounters& now) {
    RtcpReportBlock block;
    block.fractionLost = FractionLost(lastReport, now);
    block.cumulativeLost =
            static_cast<std::int32_t>(std::clamp<std::int64_t>(now.Lost(), kMinLost24, kMaxLost24));
    block.extendedHighest = now.extendedHighest;
    block.jitter = now.jitter;
    return block;
}

std::array<std::uint8_t, kRtcpAnswerSize> BuildRtcpAnswer(std::span<const std::uint8_t> received,
                                                          std::uint32_t ssrc,
                                                          const RtcpReportBlock& block,
                                                          std::string_view cname) {
    std::array<std::uint8_t, kRtcpAnswerSize> packet{};
    // Receiver report with one report block (RFC 3550, section 6.4.2).
    std::uint8_t* rr = packet.data();
    rr[0] = kVersionOneBlock;
    rr[1] = kPacketRR;
    rr[3] = kRrSize / 4 - 1;
    PutBE32(rr + 4, ssrc);
    CopyAvailable(received, 4, 4, rr + 8); // SSRC of the sender
    PutBE32(rr + 12, static_cast<std::uint32_t>(block.cumulativeLost) & 0x00FFFFFF);
    rr[12] = block.fractionLost;
    PutBE32(rr + 16, block.extendedHighest);
    PutBE32(rr + 20, block.jitter);
    PutBE32(rr + 24, block.lastSr);
    PutBE32(rr + 28, block.delaySinceLastSr);
    // Source description with one CNAME item (RFC 3550, section 6.5); the zero bytes after the
    // text end the item list and pad the chunk, so the text keeps at least one of them.
    std::uint8_t* sdes = packet.data() + kRrSize;
    sdes[0] = kVersionOneBlock;
    sdes[1] = kPacketSDES;
    sdes[3] = kSdesSize / 4 - 1;
    PutBE32(sdes + 4, ssrc);
    sdes[8] = kSdesCname;
    const std::size_t length = std::min(cname.size(), kRtcpCnameCapacity);
    sdes[9] = static_cast<std::uint8_t>(length);
    std::copy_n(cname.data(), length, sdes + kSdesTextOffset);
    return packet;
}

std::array<std::uint8_t, kRtcpByeSize> BuildRtcpBye(std::uint32_t ssrc) {
    std::array<std::uint8_t, kRtcpByeSize> packet{kVersionOneBlock, kPacketBYE, 0x00, 0x01};
    PutBE32(packet.data() + 4, ssrc);
    return packet;
}

CRTCPReporter::CRTCPReporter(std::uint32_t cameraAddress, const CRtpReceptionStats* reception)
    : m_cameraAddress(cameraAddress)
    , m_stopEvent(platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset))
    , m_endedEvent(platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset))
    , m_reception(reception) {
    if (m_reception != nullptr) {
        m_lastReport = m_reception->Snapshot(); // the first report covers this session only
    }
}

CRTCPReporter::~CRTCPReporter() {
    if (m_thread.joinable()) {
        RequestStop();
        m_thread.join();
    }
}

bool IsRtcpGoodbye(std::span<const std::uint8_t> datagram) {
    constexpr std::size_t kHeaderSize = 4;
    constexpr std::uint8_t kVersionMask = 0xC0;
    constexpr std::uint8_t kVersion2 = 0x80;
    bool goodbye = false;
    std::size_t at = 0;
    while (at < datagram.size()) {
        if (datagram.size() - at < kHeaderSize || (datagram[at] & kVersionMask) != kVersion2) {
            return false;
        }
        const std::size_t length =
                (static_cast<std::size_t>(datagram[at + 2]) << 8 | datagram[at + 3]) * 4 +
                kHeaderSize;
        if (length > datagram.size() - at) {
            return false;
        }
        goodbye = goodbye || datagram[at + 1] == kPacketBYE;
        at += length;
    }
    return goodbye;
}

bool CRTCPReporter::Open(std::uint16_t port) {
    if (m_stopEvent == nullptr || m_endedEvent == nullptr) {
        return false;
    }
    platform::CSocket socket = platform::CSocket::CreateUdp();
    // A port that cannot be bound is reported, so the channel moves on to the next pair.
    if (!socket.IsValid() || !socket.Bind(0, port) || !socket.SetReceiveBufferSize(kBufferSize) ||
        !socket.SetSendBufferSize(kBufferSize) || !socket.SetReceiveTimeout(kSocketTimeoutMs) ||
        !socket.SetSendTimeout(kSocketTimeoutMs) || !socket.SetNonBlocking(true)) {
        return false;
    }
    m_socket = std::move(socket);
    m_stopEvent->Reset();
    ChooseIdentity();
    return true;
}

void CRTCPReporter::UseConnection() {
    ChooseIdentity();
}

void CRTCPReporter::ChooseIdentity() {
    m_stop.store(false);
    m_cameraHeard.store(false);
    std::random_device seed;
    std::mt19937 generator(seed());
    m_ssrc = 0;
    for (int i = 0; i < 4; ++i) {
        m_ssrc = (m_ssrc << 8) | (generator() & 0xFF);
    }
    std::string name = platform::LocalHostName();
    if (name.empty()) {
        name = "default";
    }
    m_cname.fill('\0');
    m_cnameLength = std::min(name.size(), m_cname.size() - 1);
    std::copy_n(name.data(), m_cnameLength, m_cname.data());
}

std::optional<std::array<std::uint8_t, kRtcpAnswerSize>>
CRTCPReporter::Answer(std::span<const std::uint8_t> packet, const platform::SocketAddress& from) {
    if (m_stop.load() || from.address == 0 || from.address != m_cameraAddress.load()) {
        return std::nullopt; // not the camera: neither answered nor obeyed
    }
    m_cameraHeard.store(true);
    if (IsRtcpGoodbye(packet)) {
        m_stop.store(true);
        return std::nullopt;
    }
    if (packet.size() <= kShortDatagram) {
        return std::nullopt; // too short for a report, and not a goodbye: dropped
    }
    const std::uint64_t nowMs = platform::MonotonicMs();
    if (packet[1] == kPacketSR && packet.size() >= kSrNtpMiddle + 4) {
        m_lastSr = static_cast<std::uint32_t>(packet[kSrNtpMiddle]) << 24 |
                   static_cast<std::uint32_t>(packet[kSrNtpMiddle + 1]) << 16 |
                   static_cast<std::uint32_t>(packet[kSrNtpMiddle + 2]) << 8 |
                   packet[kSrNtpMiddle + 3];
        m_lastSrMs = nowMs;
    }
    const RtpReceptionCounters now =
            m_reception != nullptr ? m_reception->Snapshot() : RtpReceptionCounters{};
    RtcpReportBlock block = MakeReportBlock(m_lastReport, now);
    m_lastReport = now;
    if (m_lastSr != 0) {
        block.lastSr = m_lastSr;
        block.delaySinceLastSr = static_cast<std::uint32_t>((nowMs - m_lastSrMs) * 65536 / 1000);
    }
    return BuildRtcpAnswer(packet, m_ssrc, block, Cname());
}

bool CRTCPReporter::Start() {
    if (m_thread.joinable() || !m_socket.IsValid()) {
        return false;
    }
    m_endedEvent->Reset();
    m_threadRunning.store(true);
    try {
        m_thread = std::thread([this]() {
            try {
                Run();
            } catch (...) {
                // Out of memory making an answer: the reporter ends as after a socket failure.
                m_socket.Close();
                m_threadRunning.store(false);
                m_endedEvent->Set();
            }
        });
    } catch (...) {
        m_threadRunning.store(false);
        return false;
    }
    return true;
}

void CRTCPReporter::Run() {
    m_threadRunning.store(true);
    std::array<std::uint8_t, kReceiveSize> buffer{};
    platform::SocketAddress camera{};
    while (!m_stop.load()) {
        // No time limit: a stop request sets the stop event, which ends the wait, so a quiet
        // camera costs no wake-ups.
        const platform::WaitResult wait =
                platform::WaitSocket(m_socket, platform::WaitFor::Read, m_stopEvent.get(), -1);
        if (wait == platform::WaitResult::Stopped || wait == platform::WaitResult::Timeout) {
            continue;
        }
        if (wait == platform::WaitResult::Error) {
            m_stop.store(true);
            continue;
        }
        platform::SocketAddress from{};
        const platform::IoResult result = m_socket.ReceiveFrom(buffer, &from);
        if (!result.Ok()) {
            m_lastError.store(result.error);
            switch (result.error) {
            case platform::SocketError::WouldBlock:
            case platform::SocketError::TimedOut:
            case platform::SocketError::Interrupted:
            case platform::SocketError::MessageTooLong:  // oversized: dropped, whoever sent it
            case platform::SocketError::ConnectionReset: // ICMP errors must not stop the session
            case platform::SocketError::ConnectionRefused:
                continue;
            default:
                m_stop.store(true);
                continue;
            }
        }
        if (from.address != 0 && from.address == m_cameraAddress.load()) {
            camera = from;
        }
        const auto answer = Answer(std::span(buffer).first(result.bytes), from);
        if (answer) {
            static_cast<void>(m_socket.SendTo(*answer, camera)); // send errors are ignored
        }
    }
    if (m_socket.IsValid()) {
        if (m_cameraHeard.load()) {
            static_cast<void>(m_socket.SendTo(BuildRtcpBye(m_ssrc), camera));
        }
        m_socket.Close();
    }
    m_threadRunning.store(false);
    m_endedEvent->Set();
}

void CRTCPReporter::RequestStop() {
    m_stop.store(true);
    if (m_stopEvent != nullptr) {
        m_stopEvent->Set();
    }
}

bool CRTCPReporter::Stop() {
    if (!m_thread.joinable()) {
        return true;
    }
    if (!m_endedEvent->Wait(kStopWaitMs) && m_threadRunning.load()) {
        return false; // still running; the destructor joins it after another stop request
    }
    m_thread.join();
    return true;
}

} // namespace norvane
