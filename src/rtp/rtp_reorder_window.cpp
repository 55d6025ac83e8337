#include "rtp/rtp_reorder_window.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace norvane {
namespace {

constexpr std::uint32_t kSequenceModulus = 65536;
constexpr std::uint16_t kHalfSequence = 32768;
constexpr std::uint64_t kUsPerMs = 1000;
constexpr std::uint64_t kUsPerSecond = 1000000;
// A transit change this large is a timestamp jump, not jitter; it is bounded so that the
// estimate cannot overflow.
constexpr std::int64_t kMaxTransitStep = 0x00FFFFFF;

} // namespace

std::int64_t IntervalLoss(const RtpReceptionCounters& before, const RtpReceptionCounters& now) {
    const std::int64_t expected = static_cast<std::int64_t>(now.expected - before.expected);
    const std::int64_t received = static_cast<std::int64_t>(now.received - before.received);
    return expected - received;
}

std::uint8_t FractionLost(const RtpReceptionCounters& before, const RtpReceptionCounters& now) {
    const std::int64_t expected = static_cast<std::int64_t>(now.expected - before.expected);
    const std::int64_t lost = IntervalLoss(before, now);
    if (expected <= 0 || lost <= 0) {
        return 0;
    }
    return static_cast<std::uint8_t>(std::min<std::int64_t>((lost << 8) / expected, 255));
}

RtpReceptionCounters CRtpReceptionStats::Snapshot() const {
    constexpr auto relaxed = std::memory_order_relaxed;
    RtpReceptionCounters c;
    c.received = m_received.load(relaxed);
    c.bytes = m_bytes.load(relaxed);
    c.duplicates = m_duplicates.load(relaxed);
    c.reordered = m_reordered.load(relaxed);
    c.late = m_late.load(relaxed);
    c.resyncs = m_resyncs.load(relaxed);
    c.framesDelivered = m_framesDelivered.load(relaxed);
    c.framesDamaged = m_framesDamaged.load(relaxed);
    c.extendedHighest = m_highestExtended.load(relaxed);
    c.expected = m_expectedBefore.load(relaxed);
    if (m_running.load(relaxed)) {
        c.expected += std::uint64_t{c.extendedHighest - m_baseExtended.load(relaxed)} + 1;
    }
    c.jitter = m_jitter.load(relaxed);
    return c;
}

void CRtpReceptionStats::OnArrival(const RtpPacketInfo& packet, std::uint64_t arrivalUs) {
    Add(m_received);
    Add(m_bytes, static_cast<std::uint64_t>(std::max(packet.payloadLength, 0)));
    // The packets of one frame share its timestamp and leave the sender as a burst: only the
    // first of each frame says when the frame came, as other video receivers count it too.
    if (m_haveTransit && packet.timestamp == m_lastTimestamp) {
        return;
    }
    m_lastTimestamp = packet.timestamp;
    // RFC 3550 A.8: the arrival time in timestamp units, the transit time's change from the last
    // frame, and J += (|D| - J) / 16 kept times 16 in integers.
    const auto arrival = static_cast<std::uint32_t>(arrivalUs * kClockRate / kUsPerSecond);
    const auto transit = static_cast<std::int32_t>(arrival - packet.timestamp);
    if (m_haveTransit) {
        const std::int64_t change = std::int64_t{transit} - m_lastTransit;
        const auto d = static_cast<std::uint32_t>(
                std::min(change < 0 ? -change : change, kMaxTransitStep));
        m_jitterQ4 = m_jitterQ4 + d - ((m_jitterQ4 + 8) >> 4);
        m_jitter.store(m_jitterQ4 >> 4, std::memory_order_relaxed);
    }
    m_lastTransit = transit;
    m_haveTransit = true;
}

void CRtpReceptionStats::OnSequence(std::uint32_t extended) {
    const std::uint32_t highest = m_highestExtended.load(std::memory_order_relaxed);
    if (static_cast<std::int32_t>(extended - highest) > 0) {
        m_highestExtended.store(extended, std::memory_order_relaxed);
    }
}

void CRtpReceptionStats::StartRun(std::uint32_t extended, bool newSender) {
    constexpr auto relaxed = std::memory_order_relaxed;
    if (m_running.load(relaxed)) {
        Add(m_expectedBefore,
            std::uint64_t{m_highestExtended.load(relaxed) - m_baseExtended.load(relaxed)} + 1);
    }
    if (newSender) {
        Add(m_resyncs);
    }
    m_baseExtended.store(extended, relaxed);
    m_highestExtended.store(extended, relaxed);
    m_running.store(true, relaxed);
    m_haveTransit = false; // another sender's timestamps are not comparable
}

CRtpReorderWindow::CRtpReorderWindow(IOrderedPacketSink& sink, CRtpReceptionStats& stats)
    : m_sink(sink)
    , m_stats(stats) {}

std::uint32_t CRtpReorderWindow::HeldCount() const {
    return static_cast<std::uint32_t>(std::popcount(m_heldMask));
}

bool CRtpReorderWindow::NeedsTime(const RtpPacketInfo& packet) const {
    return m_heldMask != 0 || !m_started || packet.ssrc != m_ssrc ||
           packet.sequenceNumber != static_cast<std::uint16_t>(m_next) ||
           !m_stats.SameFrame(packet);
}

void CRtpReorderWindow::Push(const RtpPacketInfo& packet, std::uint64_t nowUs) {
    const auto ahead =
            static_cast<std::uint16_t>(packet.sequenceNumber - static_cast<std::uint16_t>(m_next));
    const std::uint32_t behind = kSequenceModulus - ahead;
    const bool newRun = !m_started || packet.ssrc != m_ssrc ||
                        (ahead >= kHalfSequence ? behind > kMaxMisorder : ahead >= kMaxDropout);
    if (newRun) {
        StartOver(packet);
    }
    m_stats.OnArrival(packet, nowUs);
    if (!newRun && ahead >= kHalfSequence) {
        // Behind the next expected number: a repeat of a delivered packet, or one whose place was
        // given up. Either way the parser has moved on.
        const bool delivered = behind <= 64 && ((m_doneMask >> (behind - 1)) & 1) != 0;
        if (delivered) {
            m_stats.CountDuplicate();
        } else {
            m_stats.CountLate();
            if (behind <= 64 && m_gaveUpFromUs != 0 && nowUs > m_gaveUpFromUs) {
                Stretch(nowUs - m_gaveUpFromUs, nowUs); // it came, only too late
            }
        }
        if (m_heldMask != 0) {
            Expire(nowUs);
        }
        return;
    }
    // A new run starts at this packet, or a little before it where the server named its first.
    const std::uint32_t extended =
            m_next + (newRun ? static_cast<std::uint16_t>(packet.sequenceNumber -
                                                          static_cast<std::uint16_t>(m_next))
                             : ahead);
    m_stats.OnSequence(extended);
    if (extended - m_next >= kSlots) {
        AdvanceTo(extended - (kSlots - 1)); // the window is full: the oldest gaps are given up
    }
    const std::uint32_t offset = extended - m_next;
    if (offset == 0) {
        if (m_heldMask != 0) {
            m_stats.CountReordered();
            if (nowUs > m_oldestUs) {
                Stretch(nowUs - m_oldestUs, nowUs);
            }
        }
        Deliver(packet);
        m_doneMask = (m_doneMask << 1) | 1;
        ++m_next;
        m_heldMask >>= 1;
        ReleaseReady();
    } else if (((m_heldMask >> offset) & 1) != 0) {
        m_stats.CountDuplicate();
    } else {
        if ((m_heldMask >> offset) != 0) {
            m_stats.CountReordered();
        }
        Hold(packet, offset, nowUs);
    }
    if (m_heldMask != 0) {
        Expire(nowUs); // only while holding: an in-order packet may come without its time
    }
}

int CRtpReorderWindow::HoldTimeoutMs(std::uint64_t nowUs) const {
    if (m_heldMask == 0) {
        return -1;
    }
    const std::uint64_t waited = nowUs > m_oldestUs ? nowUs - m_oldestUs : 0;
    if (waited >= m_holdLimitUs) {
        return 0;
    }
    return static_cast<int>((m_holdLimitUs - waited + kUsPerMs - 1) / kUsPerMs);
}

void CRtpReorderWindow::Expire(std::uint64_t nowUs) {
    if (m_holdLimitUs > kMinHoldUs && nowUs > m_stretchedUs + kRelaxAfterUs) {
        m_holdLimitUs = std::max(kMinHoldUs, m_holdLimitUs * 3 / 4);
        m_stretchedUs = nowUs;
    }
    while (m_heldMask != 0 && nowUs >= m_oldestUs && nowUs - m_oldestUs >= m_holdLimitUs) {
        m_gaveUpFromUs = m_oldestUs;
        GiveUp();
    }
}

void CRtpReorderWindow::Stretch(std::uint64_t waitedUs, std::uint64_t nowUs) {
    const std::uint64_t wanted = std::min(kMaxHoldUs, 2 * waitedUs);
    if (wanted > m_holdLimitUs) {
        m_holdLimitUs = wanted;
        m_stretchedUs = nowUs;
    }
}

void CRtpReorderWindow::Restart() {
    m_started = false;
    m_expectedFirst.store(-1);
    m_heldMask = 0;
    m_doneMask = 0;
}

void CRtpReorderWindow::StartOver(const RtpPacketInfo& packet) {
    const bool newSender = m_started;
    Flush();
    m_next = packet.sequenceNumber;
    // The session's first packet may be overtaken: start at the number the server named when
    // the packet that came is only a little way past it.
    const std::int32_t expected = m_expectedFirst.exchange(-1);
    if (!newSender && expected >= 0 &&
        static_cast<std::uint16_t>(packet.sequenceNumber - expected) < kSlots) {
        m_next = static_cast<std::uint32_t>(expected);
    }
    m_heldMask = 0;
    m_doneMask = 0;
    m_ssrc = packet.ssrc;
    m_started = true;
    m_stats.StartRun(m_next, newSender);
}

void CRtpReorderWindow::Hold(const RtpPacketInfo& packet, std::uint32_t offset,
                             std::uint64_t nowUs) {
    if (m_slots.empty()) {
        m_slots.resize(kSlots);
        for (Slot& slot : m_slots) {
            slot.payload.reserve(kSlotReserve);
        }
    }
    Slot& slot = m_slots[(m_next + offset) % kSlots];
    const std::span<const std::uint8_t> payload = packet.Payload();
    slot.payload.assign(payload.begin(), payload.end()); // grows only past the largest yet
    slot.info = packet;
    // Only the payload travels with a held packet; the parsers read nothing else by pointer.
    slot.info.csrcCount = 0;
    slot.info.csrcList = nullptr;
    slot.info.extensionData = nullptr;
    slot.info.payload = slot.payload.empty() ? nullptr : slot.payload.data();
    slot.info.payloadLength = static_cast<std::int32_t>(slot.payload.size());
    slot.arrivalUs = nowUs;
    if (m_heldMask == 0) {
        m_oldestUs = nowUs;
    }
    m_heldMask |= std::uint64_t{1} << offset;
}

void CRtpReorderWindow::GiveUp() {
    m_doneMask <<= 1;
    ++m_next;
    m_heldMask >>= 1;
    ReleaseReady();
}

void CRtpReorderWindow::ReleaseReady() {
    if ((m_heldMask & 1) == 0) {
        return;
    }
    while ((m_heldMask & 1) != 0) {
        // Advance before delivering: the sink may throw, and the window must stay consistent.
        const RtpPacketInfo& info = m_slots[m_next % kSlots].info;
        m_doneMask = (m_doneMask << 1) | 1;
        ++m_next;
        m_heldMask >>= 1;
        Deliver(info);
    }
    FindOldest();
}

void CRtpReorderWindow::Flush() {
    while (m_heldMask != 0) {
        GiveUp();
    }
}

void CRtpReorderWindow::AdvanceTo(std::uint32_t target) {
    while (m_heldMask != 0 && static_cast<std::int32_t>(target - m_next) > 0) {
        GiveUp();
    }
    if (static_cast<std::int32_t>(target - m_next) > 0) {
        const std::uint32_t skipped = target - m_next;
        m_doneMask = skipped >= 64 ? 0 : m_doneMask << skipped;
        m_next = target;
    }
}

void CRtpReorderWindow::Deliver(const RtpPacketInfo& packet) {
    m_sink.OnOrderedPacket(packet);
}

void CRtpReorderWindow::FindOldest() {
    std::uint64_t oldest = std::numeric_limits<std::uint64_t>::max();
    for (std::uint64_t held = m_heldMask; held != 0; held &= held - 1) {
        const auto offset = static_cast<std::uint32_t>(std::countr_zero(held));
        oldest = std::min(oldest, m_slots[(m_next + offset) % kSlots].arrivalUs);
    }
    m_oldestUs = oldest;
}

} // namespace norvane
