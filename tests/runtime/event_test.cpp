#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "runtime/event.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(CManualEvent, StaysSetUntilReset) {
    CManualEvent event;
    ASSERT_NE(event.Handle(), nullptr);
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(10));
    EXPECT_TRUE(event.IsSet());
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
    EXPECT_FALSE(event.IsSet());
}

TEST(CManualEvent, TimesOutAfterRoughlyTheAskedTime) {
    CManualEvent event;
    const auto start = Clock::now();
    EXPECT_FALSE(event.Wait(50));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 45ms);
    EXPECT_LT(elapsed, 2s);
}

TEST(CManualEvent, WakesWaiterPromptlyFromAnotherThread) {
    CManualEvent event;
    const auto start = Clock::now();
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        event.Set();
    });
    EXPECT_TRUE(event.Wait(10000));
    setter.join();
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST(CAutoEvent, SuccessfulWaitClearsTheEvent) {
    CAutoEvent event;
    event.Set();
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(WaitAny, ReportsWhichEventEndedTheWait) {
    CManualEvent first;
    CManualEvent second;
    EXPECT_EQ(WaitAny(first, second, 0), -1);
    second.Set();
    EXPECT_EQ(WaitAny(first, second, 0), 1);
    first.Set();
    EXPECT_EQ(WaitAny(first, second, 0), 0) << "the first event wins when both are set";
}

TEST(WaitAny, WakesOnSecondEventSetLater) {
    CManualEvent stop;
    CManualEvent data;
    const auto start = Clock::now();
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        data.Set();
    });
    EXPECT_EQ(WaitAny(stop, data, 10000), 1);
    setter.join();
    EXPECT_LT(Clock::now() - start, 2s);
}

} // namespace
} // namespace norvane
