// CRtpReorderWindow puts the RTP packets of one stream back in sequence order in front of the
// payload parser: packets that arrive early are held and released once the gap before them fills,
// exact repeats are dropped, and a gap is given up (the packet counted lost, so the parser sees the
// jump and waits for its next sync point) when the window is full or the oldest held packet has
// waited the hold bound (HoldLimitUs, which adapts to the reordering seen). A new sender (other
// SSRC, or a sequence jump far beyond the window) starts over at once. CRtpReceptionStats counts
// what arrived (RFC 3550 6.4.1, A.3, A.8).
//
// Threads: the window and the writing side of the statistics are used only on the thread that
// receives the stream's packets; Snapshot may be read on any thread (relaxed atomics, each
// counter on its own). Owned by the RTP channel; time is passed in (microseconds, monotonic).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "rtp/rtp_packet_info.h"

namespace norvane {

// What a channel has received so far; a copy taken at one moment.
struct RtpReceptionCounters {
    std::uint64_t received = 0;   // packets of the stream, repeats and late ones included
    std::uint64_t expected = 0;   // by the sequence numbers seen, over every sender
    std::uint64_t bytes = 0;      // payload bytes received
    std::uint64_t duplicates = 0; // exact repeats dropped
    std::uint64_t reordered = 0;  // arrived after a later packet and still put in place
    std::uint64_t late = 0;       // arrived after their place was given up; dropped
    std::uint64_t resyncs = 0;    // new senders or sequence jumps started over
    std::uint64_t framesDelivered = 0;
    std::uint64_t framesDamaged = 0;   // not delivered because a packet of them or before was lost
    std::uint32_t extendedHighest = 0; // highest sequence number with its wrap count (RFC 3550 A.1)
    std::uint32_t jitter = 0;          // interarrival jitter in timestamp units (RFC 3550 A.8)

    // Lost is the cumulative loss (RFC 3550 A.3): expected less received, which repeats can push
    // below zero.
    [[nodiscard]] std::int64_t Lost() const {
        return static_cast<std::int64_t>(expected) - static_cast<std::int64_t>(received);
    }
};

// IntervalLoss is the loss between two snapshots, and FractionLost its fraction in 1/256 (RFC
// 3550 A.3): zero when nothing was expected or more arrived than expected.
[[nodiscard]] std::int64_t IntervalLoss(const RtpReceptionCounters& before,
                                        const RtpReceptionCounters& now);
[[nodiscard]] std::uint8_t FractionLost(const RtpReceptionCounters& before,
                                        const RtpReceptionCounters& now);

class CRtpReceptionStats {
public:
    // Timestamp clock of the stream: 90 kHz for H.264 and JPEG video (RFC 6184 and 2435).
    static constexpr std::uint32_t kClockRate = 90000;

    [[nodiscard]] RtpReceptionCounters Snapshot() const;

    // Writer side, receive thread only.
    // OnArrival counts one packet from the sender and, for the first packet of a frame (a new
    // timestamp), feeds the jitter estimate with its timestamp and arrival time.
    void OnArrival(const RtpPacketInfo& packet, std::uint64_t arrivalUs);

    // SameFrame: `packet` has the timestamp of the last packet counted, so OnArrival does not
    // read its arrival time.
    [[nodiscard]] bool SameFrame(const RtpPacketInfo& packet) const {
        return m_haveTransit && packet.timestamp == m_lastTimestamp;
    }

    // OnSequence raises the highest extended sequence number seen in this sender's run.
    void OnSequence(std::uint32_t extended);
    // StartRun begins the count of a run of sequence numbers at extended number `extended` (a new
    // session, or with `newSender` a sender that started over): what the last run expected is
    // kept, and the next transit time is not compared with the last sender's.
    void StartRun(std::uint32_t extended, bool newSender);

    void CountDuplicate() { Add(m_duplicates); }

    void CountReordered() { Add(m_reordered); }

    void CountLate() { Add(m_late); }

    void CountFrameDelivered() { Add(m_framesDelivered); }

    void CountFrameDamaged() { Add(m_framesDamaged); }

private:
    static void Add(std::atomic<std::uint64_t>& counter, std::uint64_t amount = 1) {
        counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
    }

    std::atomic<std::uint64_t> m_received{0};
    std::atomic<std::uint64_t> m_bytes{0};
    std::atomic<std::uint64_t> m_duplicates{0};
    std::atomic<std::uint64_t> m_reordered{0};
    std::atomic<std::uint64_t> m_late{0};
    std::atomic<std::uint64_t> m_resyncs{0};
    std::atomic<std::uint64_t> m_framesDelivered{0};
    std::atomic<std::uint64_t> m_framesDamaged{0};
    std::atomic<std::uint64_t> m_expectedBefore{0}; // of the runs before this one
    std::atomic<std::uint32_t> m_baseExtended{0};
    std::atomic<std::uint32_t> m_highestExtended{0};
    std::atomic<bool> m_running{false};
    std::atomic<std::uint32_t> m_jitter{0};
    // Jitter state, receive thread only: the estimate times 16 (RFC 3550 A.8) and the last transit.
    std::uint32_t m_jitterQ4 = 0;
    std::int32_t m_lastTransit = 0;
    std::uint32_t m_lastTimestamp = 0;
    bool m_haveTransit = false;
};

// IOrderedPacketSink takes the packets a window releases, in sequence order, each once. A gap in
// the sequence numbers means the packets between were given up.
class IOrderedPacketSink {
public:
    virtual void OnOrderedPacket(const RtpPacketInfo& packet) = 0;

protected:
    ~IOrderedPacketSink() = default;
};

class CRtpReorderWindow {
public:
    // 64 packets: at 64 Mbit/s (about 5 700 packets of 1 400 bytes a second) the window fills in
    // about 11 ms, so a lost packet is given up well before the time bound and the stream never
    // stalls; at 4 Mbit/s it spans 180 ms, so the time bound decides. 64 slots of a network
    // packet are about 100 kB, taken once, the first time a packet must be held.
    static constexpr std::uint32_t kSlots = 64;
    // The hold bound starts at 200 ms. A packet that a network delays by a few milliseconds
    // often reaches the wire only behind the next frame or several, because the sender paces its
    // frames and the delayed packets queue up behind them (GStreamer's RTSP server with netsim
    // delaying 10 % of the packets by 1-15 ms puts some 40 to 120 ms late at 25 frames a
    // second; ffmpeg, which waits 100 ms, loses a group of pictures to them now and then). The
    // bound costs time only behind a packet that is really lost (in-order packets are never
    // held), and at 4 Mbit/s and more the 64 slots fill within 180 ms anyway. Where packets come
    // later still, the bound grows to twice the longest wait seen (a late packet included), up
    // to kMaxHoldUs, and relaxes by a quarter after every kRelaxAfterUs without such a wait.
    static constexpr std::uint64_t kMinHoldUs = 200000;
    static constexpr std::uint64_t kMaxHoldUs = 1000000;
    static constexpr std::uint64_t kRelaxAfterUs = 30000000;
    // A jump forward by this many numbers or more, or back by more than kMaxMisorder, is a sender
    // that started over, not loss or delay (RFC 3550 A.1 uses the same bounds).
    static constexpr std::uint32_t kMaxDropout = 3000;
    static constexpr std::uint32_t kMaxMisorder = 100;
    // Held packet bytes kept in a slot without growing it.
    static constexpr std::size_t kSlotReserve = 1500;

    CRtpReorderWindow(IOrderedPacketSink& sink, CRtpReceptionStats& stats);

    // NeedsTime: Push must be told the arrival time of `packet`. False for the common case, a
    // packet in order, of the frame before it, while nothing is held; Push then reads no time,
    // and the receive path reads the clock about once a frame instead of once a packet.
    [[nodiscard]] bool NeedsTime(const RtpPacketInfo& packet) const;
    // Push takes one packet that arrived at `nowUs` (ignored when NeedsTime was false). An
    // in-order packet goes straight to the sink (without a copy) together with the held packets
    // that follow it; an early one is copied and held; a repeat or a packet whose place was given
    // up is dropped. Held packets that have waited too long are released first.
    void Push(const RtpPacketInfo& packet, std::uint64_t nowUs);
    // HoldTimeoutMs: how long from `nowUs` until the oldest held packet must be released; -1 when
    // nothing is held.
    [[nodiscard]] int HoldTimeoutMs(std::uint64_t nowUs) const;
    // Expire releases what has waited the hold bound by `nowUs`, giving up the gaps before it.
    void Expire(std::uint64_t nowUs);
    // Restart forgets the sequence (a new session); held packets are dropped unreleased.
    void Restart();

    // ExpectFirst names the sequence number the session's first packet carries (as PLAY's
    // RTP-Info tells), so that a first packet overtaken by its successors is still put in
    // place: the window then starts there rather than at the first packet to arrive. Any
    // thread; it counts only until the first packet of the session has arrived.
    void ExpectFirst(std::uint16_t sequence) { m_expectedFirst.store(sequence); }

    [[nodiscard]] std::uint32_t HeldCount() const;

    [[nodiscard]] std::uint64_t HoldLimitUs() const { return m_holdLimitUs; }

private:
    struct Slot {
        RtpPacketInfo info;
        std::vector<std::uint8_t> payload;
        std::uint64_t arrivalUs = 0;
    };

    void StartOver(const RtpPacketInfo& packet);
    void Hold(const RtpPacketInfo& packet, std::uint32_t offset, std::uint64_t nowUs);
    // GiveUp moves past the next expected number, which never arrived, and releases what follows.
    void GiveUp();
    // ReleaseReady delivers the held packets that now follow in sequence.
    void ReleaseReady();
    // Flush delivers every held packet, giving up the gaps between them.
    void Flush();
    // AdvanceTo gives up numbers (releasing held packets on the way) until `target` is next.
    void AdvanceTo(std::uint32_t target);
    void Deliver(const RtpPacketInfo& packet);
    // Stretch lets the hold bound cover a packet that came `waitedUs` after the packets behind it.
    void Stretch(std::uint64_t waitedUs, std::uint64_t nowUs);
    void FindOldest();

    IOrderedPacketSink& m_sink;
    CRtpReceptionStats& m_stats;
    std::vector<Slot> m_slots;    // empty until the first packet is held
    std::uint64_t m_heldMask = 0; // bit k: number m_next + k is held (bit 0 never is)
    std::uint64_t m_doneMask = 0; // bit k: number m_next - 1 - k was delivered
    std::uint64_t m_oldestUs = 0; // arrival of the longest-held packet
    std::uint64_t m_holdLimitUs = kMinHoldUs;
    std::uint64_t m_stretchedUs = 0;  // when the bound last grew or relaxed
    std::uint64_t m_gaveUpFromUs = 0; // arrival of the oldest held packet at the last time-out
    std::uint32_t m_next = 0;         // extended number expected next
    std::uint32_t m_ssrc = 0;
    bool m_started = false;
    std::atomic<std::int32_t> m_expectedFirst{-1}; // -1: not named
};

} // namespace norvane
