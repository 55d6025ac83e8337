#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/system.h"
#include "runtime/spin_wait_lock.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

TEST(CSpinWaitLock, RecursiveLockIsFreeAfterMatchingUnlocks) {
    CSpinWaitLock lock;
    lock.Lock();
    lock.Lock();
    lock.Lock();
    lock.Unlock();
    lock.Unlock();
    lock.Unlock();
    std::atomic<bool> taken{false};
    std::thread other([&] {
        lock.Lock();
        taken = true;
        lock.Unlock();
    });
    other.join();
    EXPECT_TRUE(taken);
}

TEST(CSpinWaitLock, SecondThreadBlocksUntilLastUnlock) {
    CSpinWaitLock lock;
    lock.Lock();
    lock.Lock();
    std::atomic<bool> taken{false};
    std::thread other([&] {
        lock.Lock();
        taken = true;
        lock.Unlock();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(taken);
    lock.Unlock();
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(taken) << "one Unlock of two must keep the lock";
    lock.Unlock();
    other.join();
    EXPECT_TRUE(taken);
}

TEST(CSpinWaitLock, SpinCountFollowsProcessorCount) {
    CSpinWaitLock lock;
    EXPECT_EQ(lock.SpinCount(), platform::ProcessorCount() == 1 ? 0 : 4000);
}

TEST(CSpinWaitLock, ContendedCountersStayExact) {
    CSpinWaitLock lock;
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    long counter = 0; // guarded by lock only
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                CSpinWaitLockGuard outer(lock);
                CSpinWaitLockGuard inner(lock); // re-entry while others wait
                ++counter;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
}

} // namespace
} // namespace norvane
