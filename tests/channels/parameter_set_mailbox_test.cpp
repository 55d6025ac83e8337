#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "channels/parameter_set_mailbox.h"

namespace norvane {
namespace {

using Buffer = std::vector<std::uint8_t>;

TEST(ParameterSetMailbox, EachPostedPairIsTakenOnceAndTheNewestWins) {
    CParameterSetMailbox mailbox;
    Buffer sps = {0x01};
    Buffer pps = {0x02};
    EXPECT_FALSE(mailbox.Take(sps, pps));
    EXPECT_EQ(sps, Buffer{0x01}) << "nothing posted: left alone";

    mailbox.Post(Buffer{0x67, 0x42}, Buffer{0x68, 0xCE});
    mailbox.Post(Buffer{0x67, 0x4D, 0x00}, Buffer{0x68, 0xEE});
    ASSERT_TRUE(mailbox.Take(sps, pps));
    EXPECT_EQ(sps, (Buffer{0x67, 0x4D, 0x00}));
    EXPECT_EQ(pps, (Buffer{0x68, 0xEE}));
    EXPECT_FALSE(mailbox.Take(sps, pps));
    EXPECT_EQ(sps, (Buffer{0x67, 0x4D, 0x00}));

    mailbox.Post(Buffer{0x67, 0x42}, Buffer{0x68, 0xCE});
    ASSERT_TRUE(mailbox.Take(sps, pps));
    EXPECT_EQ(sps, (Buffer{0x67, 0x42}));
}

// The channel thread posts while the receive thread takes before every packet: every pair taken
// is one that was posted whole, and the last one posted is not lost.
TEST(ParameterSetMailbox, PairsCrossThreadsWhole) {
    constexpr int kPosts = 2000;
    CParameterSetMailbox mailbox;
    std::atomic<bool> posting{true};
    std::thread poster([&] {
        for (int i = 0; i < kPosts; ++i) {
            const auto tag = static_cast<std::uint8_t>(i % 251);
            // Sizes change with the tag, so that a torn pair also differs in length.
            mailbox.Post(Buffer(static_cast<std::size_t>(1 + tag % 7), tag),
                         Buffer(static_cast<std::size_t>(1 + tag % 5), tag));
        }
        posting = false;
    });
    int taken = 0;
    int torn = 0;
    Buffer sps;
    Buffer pps;
    for (bool more = true; more;) {
        more = posting.load();
        if (mailbox.Take(sps, pps)) {
            ++taken;
            const std::uint8_t tag = sps.at(0);
            if (sps != Buffer(static_cast<std::size_t>(1 + tag % 7), tag) ||
                pps != Buffer(static_cast<std::size_t>(1 + tag % 5), tag)) {
                ++torn;
            }
        }
    }
    poster.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GE(taken, 1);
    EXPECT_EQ(sps.at(0), (kPosts - 1) % 251) << "the last pair posted is the last one taken";
}

} // namespace
} // namespace norvane
