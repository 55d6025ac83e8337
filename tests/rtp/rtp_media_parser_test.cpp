#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/rtp_media_parser.h"
#include "rtp/rtp_reorder_window.h"

namespace norvane {
namespace {

TEST(ImageSizeCode, ClassifiesPictureSizes) {
    const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> cases = {
            {704, 240, 3},                                  // wide field-height picture
            {352, 240, 2},                                  // small picture
            {704, 576, 4}, {1920, 1080, 4}, {1024, 240, 4}, // wide but not below 1024
            {400, 100, 3}, {400, 300, 2},   {401, 300, 4},  {0, 0, 2},
    };
    for (const auto& [width, height, code] : cases) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        EXPECT_EQ(ImageSizeCode(width, height), code);
    }
}

// A recording end of the reorder window: the sequence numbers it released, in order.
class ReleasedPackets final : public IOrderedPacketSink {
public:
    void OnOrderedPacket(const RtpPacketInfo& packet) override {
        sequence.push_back(packet.sequenceNumber);
        payloads.emplace_back(packet.Payload().begin(), packet.Payload().end());
    }

    std::vector<std::uint16_t> sequence;
    std::vector<std::vector<std::uint8_t>> payloads;
};

struct Arrival {
    std::uint16_t sequence;
    std::uint64_t atUs = 0;
    std::uint32_t ssrc = 1;
};

// Feed pushes `arrivals` through a window (each packet's payload is its sequence number) and,
// when `expireAtUs` is not 0, lets the hold bound pass at that time.
struct WindowRun {
    ReleasedPackets released;
    CRtpReceptionStats stats;
    CRtpReorderWindow window{released, stats};

    void Feed(const std::vector<Arrival>& arrivals, std::uint64_t expireAtUs = 0) {
        for (const Arrival& a : arrivals) {
            const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(a.sequence >> 8),
                                           static_cast<std::uint8_t>(a.sequence)};
            RtpPacketInfo info;
            info.sequenceNumber = a.sequence;
            info.ssrc = a.ssrc;
            info.timestamp = a.sequence;
            info.payload = bytes;
            info.payloadLength = 2;
            window.Push(info, a.atUs);
        }
        if (expireAtUs != 0) {
            window.Expire(expireAtUs);
        }
    }
};

std::vector<Arrival> Numbers(std::uint16_t first, std::uint16_t last) {
    std::vector<Arrival> all;
    for (std::uint32_t n = first; n <= last; ++n) {
        all.push_back({static_cast<std::uint16_t>(n)});
    }
    return all;
}

std::vector<std::uint16_t> Sequence(std::initializer_list<std::vector<Arrival>> parts) {
    std::vector<std::uint16_t> all;
    for (const auto& part : parts) {
        for (const Arrival& a : part) {
            all.push_back(a.sequence);
        }
    }
    return all;
}

constexpr std::uint64_t kLimit = CRtpReorderWindow::kMinHoldUs;

TEST(CRtpReorderWindow, ReleasesInOrderDropsRepeatsAndGivesUpGaps) {
    struct Case {
        const char* name;
        std::vector<Arrival> arrivals;
        std::uint64_t expireAtUs;
        std::vector<std::uint16_t> released;
        std::int64_t lost;
        std::uint64_t reordered, duplicates, late, resyncs;
        std::optional<std::uint16_t> namedFirst = {}; // as PLAY's RTP-Info names it
    };

    const std::vector<Case> cases = {
            {"in order", {{1}, {2}, {3}}, 0, {1, 2, 3}, 0, 0, 0, 0, 0},
            {"swapped pair", {{1}, {3}, {2}, {4}}, 0, {1, 2, 3, 4}, 0, 1, 0, 0, 0},
            {"three reversed", {{1}, {4}, {3}, {2}}, 0, {1, 2, 3, 4}, 0, 2, 0, 0, 0},
            {"repeat of a delivered packet", {{1}, {2}, {2}, {3}}, 0, {1, 2, 3}, -1, 0, 1, 0, 0},
            {"repeat of a held packet", {{1}, {3}, {3}, {2}}, 0, {1, 2, 3}, -1, 1, 1, 0, 0},
            {"wrap at 65535",
             {{65534}, {65535}, {1}, {0}, {2}},
             0,
             {65534, 65535, 0, 1, 2},
             0,
             1,
             0,
             0,
             0},
            {"gap given up after the hold bound",
             {{1, 0}, {3, 1000}, {4, kLimit + 1000}},
             0,
             {1, 3, 4},
             1,
             0,
             0,
             0,
             0},
            {"first packet overtaken, named by the server",
             {{2}, {1}, {3}},
             0,
             {1, 2, 3},
             0,
             1,
             0,
             0,
             0,
             1},
            {"named first packet never comes",
             {{2, 0}, {3, 1000}, {4, kLimit + 1000}},
             0,
             {2, 3, 4},
             1,
             0,
             0,
             0,
             0,
             1},
            {"named first far from what arrives", {{100}, {101}}, 0, {100, 101}, 0, 0, 0, 0, 0, 1},
            {"held packets wait while the bound has not passed",
             {{1, 0}, {3, 1000}, {4, kLimit}},
             0,
             {1},
             1,
             0,
             0,
             0,
             0},
            {"a packet after its place was given up is late",
             {{1, 0}, {3, 1000}, {4, kLimit + 1000}, {2, kLimit + 2000}},
             0,
             {1, 3, 4},
             0,
             0,
             0,
             1,
             0},
            {"burst lost, released by the time-out",
             {{1}, {2}, {10}, {11}},
             kLimit + 10000,
             {1, 2, 10, 11},
             7,
             0,
             0,
             0,
             0},
            {"new SSRC starts over at once",
             {{1}, {2}, {500, 0, 2}, {501, 0, 2}},
             0,
             {1, 2, 500, 501},
             0,
             0,
             0,
             0,
             1},
            {"new SSRC releases what was held",
             {{1}, {3}, {900, 0, 2}},
             0,
             {1, 3, 900},
             1,
             0,
             0,
             0,
             1},
            {"jump far ahead starts over",
             {{1}, {2}, {20000}, {20001}},
             0,
             {1, 2, 20000, 20001},
             0,
             0,
             0,
             0,
             1},
            {"jump far back starts over",
             {{5000}, {5001}, {10}, {11}},
             0,
             {5000, 5001, 10, 11},
             0,
             0,
             0,
             0,
             1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowRun run;
        if (c.namedFirst) {
            run.window.ExpectFirst(*c.namedFirst);
        }
        run.Feed(c.arrivals, c.expireAtUs);
        EXPECT_EQ(run.released.sequence, c.released);
        const RtpReceptionCounters counts = run.stats.Snapshot();
        EXPECT_EQ(counts.received, c.arrivals.size());
        EXPECT_EQ(counts.Lost(), c.lost);
        EXPECT_EQ(counts.reordered, c.reordered);
        EXPECT_EQ(counts.duplicates, c.duplicates);
        EXPECT_EQ(counts.late, c.late);
        EXPECT_EQ(counts.resyncs, c.resyncs);
        for (std::size_t i = 0; i < run.released.sequence.size(); ++i) {
            const std::uint16_t n = run.released.sequence[i];
            EXPECT_EQ(run.released.payloads[i],
                      (std::vector<std::uint8_t>{static_cast<std::uint8_t>(n >> 8),
                                                 static_cast<std::uint8_t>(n)}));
        }
    }
}

TEST(CRtpReorderWindow, AFullWindowGivesUpItsOldestGapWithoutWaiting) {
    // 1 arrives, 2 never does; 3 to 66 all arrive at once. The 64 slots cannot hold 3 to 66
    // behind the gap, so 2 is given up as soon as 66 arrives.
    WindowRun run;
    std::vector<Arrival> arrivals = {{1}};
    const std::vector<Arrival> rest = Numbers(3, 66);
    arrivals.insert(arrivals.end(), rest.begin(), rest.end());
    run.Feed(arrivals);
    EXPECT_EQ(run.released.sequence, Sequence({{{1}}, rest}));
    EXPECT_EQ(run.window.HeldCount(), 0U);
    EXPECT_EQ(run.stats.Snapshot().Lost(), 1);
    EXPECT_EQ(run.stats.Snapshot().extendedHighest, 66U);
}

TEST(CRtpReorderWindow, HoldTimeoutCountsDownFromTheOldestHeldPacket) {
    WindowRun run;
    EXPECT_EQ(run.window.HoldTimeoutMs(0), -1);
    run.Feed({{1, 0}, {3, 5000}, {4, 9000}});
    EXPECT_EQ(run.window.HoldTimeoutMs(5000), static_cast<int>(kLimit / 1000));
    // Rounded up: never wakes too early.
    EXPECT_EQ(run.window.HoldTimeoutMs(15500), static_cast<int>((kLimit - 10500 + 999) / 1000));
    EXPECT_EQ(run.window.HoldTimeoutMs(5000 + kLimit), 0);
    run.window.Expire(5000 + kLimit - 1);
    EXPECT_EQ(run.window.HeldCount(), 2U);
    run.window.Expire(5000 + kLimit);
    EXPECT_EQ(run.released.sequence, (std::vector<std::uint16_t>{1, 3, 4}));
    EXPECT_EQ(run.window.HoldTimeoutMs(5000 + kLimit), -1);
}

TEST(CRtpReorderWindow, HoldBoundGrowsForLatePacketsAndRelaxesAfterwards) {
    WindowRun run;
    // 2 comes 50 ms after the bound: too late, and the bound grows to twice its wait.
    run.Feed({{1, 0}, {3, 1000}, {4, kLimit + 1000}, {2, kLimit + 51000}});
    EXPECT_EQ(run.stats.Snapshot().late, 1U);
    EXPECT_EQ(run.window.HoldLimitUs(), 2 * (kLimit + 50000));
    // The same delay again is waited out.
    run.Feed({{6, 400000}, {5, 400000 + kLimit + 50000}, {7, 400000 + kLimit + 51000}});
    EXPECT_EQ(run.stats.Snapshot().late, 1U);
    EXPECT_EQ(run.released.sequence, (std::vector<std::uint16_t>{1, 3, 4, 5, 6, 7}));
    // Never beyond the largest bound, and back by a quarter after a quiet while.
    run.Feed({{9, 1000000}, {8, 1000000 + 2 * CRtpReorderWindow::kMaxHoldUs}});
    EXPECT_EQ(run.window.HoldLimitUs(), CRtpReorderWindow::kMaxHoldUs);
    run.window.Expire(1000000 + 3 * CRtpReorderWindow::kMaxHoldUs +
                      CRtpReorderWindow::kRelaxAfterUs);
    EXPECT_EQ(run.window.HoldLimitUs(), CRtpReorderWindow::kMaxHoldUs * 3 / 4);
}

TEST(CRtpReorderWindow, RestartForgetsTheSequenceButKeepsTheCounts) {
    WindowRun run;
    run.Feed({{100}, {101}, {103}});
    run.window.Restart();
    run.Feed({{7}, {8}});
    EXPECT_EQ(run.released.sequence, (std::vector<std::uint16_t>{100, 101, 7, 8}));
    const RtpReceptionCounters counts = run.stats.Snapshot();
    EXPECT_EQ(counts.received, 5U);
    EXPECT_EQ(counts.expected, 6U); // 100 to 103, then 7 and 8
    EXPECT_EQ(counts.resyncs, 0U);
}

TEST(CRtpReceptionStats, JitterFollowsTheTransitTimeInTimestampUnits) {
    // Packets 40 ms apart by timestamp (3 600 units at 90 kHz); the second arrives 10 ms late
    // (900 units): J = 900/16, then J += (900 - J)/16 when the third is on time again.
    CRtpReceptionStats stats;
    RtpPacketInfo info;
    const std::uint64_t arrivals[3] = {1000000, 1050000, 1080000};
    for (std::uint32_t i = 0; i < 3; ++i) {
        info.timestamp = 3600 * i;
        stats.OnArrival(info, arrivals[i]);
    }
    EXPECT_NEAR(stats.Snapshot().jitter, 109, 2);
}

TEST(FractionLost, IsTheIntervalLossIn256ths) {
    RtpReceptionCounters before;
    RtpReceptionCounters now;
    now.expected = 200;
    now.received = 150;
    EXPECT_EQ(IntervalLoss(before, now), 50);
    EXPECT_EQ(FractionLost(before, now), 64);
    now.received = 210; // repeats: more than expected is no loss
    EXPECT_EQ(FractionLost(before, now), 0);
    EXPECT_EQ(FractionLost(now, now), 0);
}

} // namespace
} // namespace norvane
