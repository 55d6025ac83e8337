#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "channels/base_camera_channel.h"
#include "platform/clock.h"
#include "support/fake_driver.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::FakeDriver;

// A channel whose thread waits for its stop event, reading its start record as a streaming thread
// does, and counting its runs.
class IdleChannel : public CBaseCameraChannel {
public:
    using CBaseCameraChannel::CBaseCameraChannel;

    ~IdleChannel() override { Stop(); }

    std::int32_t Run() override {
        const int run = ++runs;
        if (run == throwOnRun) {
            throw std::bad_alloc();
        }
        if (running.exchange(true)) {
            overlapped = true;
        }
        while (!m_stopEvent.Wait(1)) {
            width = StartRecord().width;
            if (frames) {
                ReportOnline(); // as a delivered frame does
            }
        }
        running = false;
        ended = run;
        return 0;
    }

    std::atomic<int> runs{0};
    std::atomic<int> ended{0};
    std::atomic<bool> running{false};
    std::atomic<bool> overlapped{false};
    std::atomic<std::uint32_t> width{0};
    std::atomic<int> throwOnRun{0}; // this run (counted from 1) throws
    std::atomic<bool> frames{false};
};

DEVICE_INFO Camera(const char* address) {
    DEVICE_INFO info;
    info.address = address;
    info.requestTimeout = 10000;
    info.dataTimeout = 10000;
    return info;
}

TEST(CBaseCameraChannel, OnlineAndOfflineMessagesOfSingleCamera) {
    FakeDriver driver;
    driver.deviceInfo = Camera("10.1.2.3");
    IdleChannel channel(&driver, 0, nullptr);
    channel.SetCameraState(false); // offline before the first online report: silent
    channel.SetCameraState(true);
    channel.SetCameraState(true); // unchanged: silent
    channel.SetState(kStateStopped);
    channel.SetCameraState(false);
    const auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 2U);
    EXPECT_EQ(messages[0].level, 2U);
    EXPECT_EQ(messages[0].text,
              "norvane::CBaseCameraChannel::SetCameraState: Camera 10.1.2.3 is online");
    EXPECT_EQ(messages[1].level, 2U);
    EXPECT_EQ(messages[1].text, "norvane::CBaseCameraChannel::SetCameraState: Camera 10.1.2.3 is "
                                "offline. Channel was stopped");
}

TEST(CBaseCameraChannel, OfflineWordingFollowsStateOnVideoServer) {
    FakeDriver driver;
    driver.deviceInfo = Camera("10.1.2.3");
    driver.channelCount = 4;
    IdleChannel channel(&driver, 2, nullptr);
    channel.SetCameraState(true);
    channel.SetState(kStateSignalLost);
    channel.SetCameraState(false);
    channel.SetCameraState(true);
    channel.SetState(kStateStreaming);
    channel.SetCameraState(false);
    const auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 4U);
    EXPECT_EQ(messages[0].text, "norvane::CBaseCameraChannel::SetCameraState: Video-server "
                                "10.1.2.3 (channel 2) is online");
    EXPECT_EQ(messages[1].level, 1U);
    EXPECT_EQ(messages[1].text, "norvane::CBaseCameraChannel::SetCameraState: Signal was lost for "
                                "video-server 10.1.2.3 (channel 2)");
    EXPECT_EQ(messages[3].level, 1U);
    EXPECT_EQ(messages[3].text, "norvane::CBaseCameraChannel::SetCameraState: Video-server "
                                "10.1.2.3 (channel 2) is offline or failed");
}

TEST(CBaseCameraChannel, StopReportsOfflineOnlyWhenOnline) {
    FakeDriver driver;
    driver.deviceInfo = Camera("cam");
    IdleChannel channel(&driver, 0, nullptr);
    ChannelStartRecord record{40, 10, 640, 480};
    ASSERT_TRUE(channel.Start(&record));
    channel.Stop();
    EXPECT_TRUE(driver.Messages().empty());
    ASSERT_TRUE(channel.Start(&record));
    channel.SetCameraState(true);
    channel.Stop();
    const auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 2U);
    EXPECT_NE(messages[1].text.find("is offline. Channel was stopped"), std::string::npos);
    EXPECT_EQ(channel.GetState(), kStateStopped);
}

TEST(CBaseCameraChannel, StartTwiceEndsFirstThreadBeforeSecondStarts) {
    FakeDriver driver;
    driver.deviceInfo = Camera("cam");
    IdleChannel channel(&driver, 0, nullptr);
    ChannelStartRecord record{40, 10, 640, 480};
    ASSERT_TRUE(channel.Start(&record));
    ASSERT_TRUE(Eventually([&] { return channel.runs == 1; }, 5s));
    ASSERT_TRUE(channel.Start(&record));
    ASSERT_TRUE(Eventually([&] { return channel.runs == 2; }, 5s));
    EXPECT_EQ(channel.ended, 1);
    EXPECT_FALSE(channel.overlapped);
    const auto start = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(channel.ended, 2);
}

TEST(CBaseCameraChannel, RestartKeepsQualityAndTakesTheRest) {
    FakeDriver driver;
    driver.deviceInfo = Camera("cam");
    IdleChannel channel(&driver, 0, nullptr);
    ChannelStartRecord record{40, 50, 640, 480};
    ASSERT_TRUE(channel.Start(&record));
    channel.SetCameraState(true);
    ASSERT_TRUE(Eventually([&] { return channel.width == 640U; }, 5s));
    std::this_thread::sleep_for(20ms); // the thread goes on reading the record meanwhile
    ChannelStartRecord changed{100, 7, 352, 288};
    ASSERT_TRUE(channel.Restart(&changed)); // the record changes only once the thread is gone
    ASSERT_TRUE(Eventually([&] { return channel.width == 352U; }, 5s));
    EXPECT_EQ(channel.StartRecord().quality, 50U);
    EXPECT_EQ(channel.StartRecord().frameInterval, 100U);
    EXPECT_EQ(channel.StartRecord().width, 352U);
    EXPECT_EQ(channel.StartRecord().height, 288U);
    EXPECT_EQ(driver.Messages().size(), 1U) << "restart sends no offline report";
    ASSERT_TRUE(Eventually([&] { return channel.runs == 2; }, 5s));
}

// After "Channel was stopped" nothing more is said about the channel, even with frames arriving
// while the stop runs.
TEST(CBaseCameraChannel, NothingIsReportedAfterTheStopMessage) {
    FakeDriver driver;
    driver.deviceInfo = Camera("cam");
    IdleChannel channel(&driver, 0, nullptr);
    channel.frames = true;
    ChannelStartRecord record{40, 50, 640, 480};
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(channel.Start(&record));
        ASSERT_TRUE(Eventually(
                [&] {
                    return !driver.Messages().empty() &&
                           driver.Messages().back().text.find("online") != std::string::npos;
                },
                5s));
        channel.Stop();
        const auto messages = driver.Messages();
        EXPECT_NE(messages.back().text.find("Channel was stopped"), std::string::npos)
                << "round " << round << ": " << messages.back().text;
    }
}

// An exception out of the channel thread's body (std::bad_alloc in a 32-bit host) is told at
// level 1 and the thread starts over; stop and destruction still work.
TEST(CBaseCameraChannel, ExceptionInTheThreadIsToldAndTheThreadStartsOver) {
    FakeDriver driver;
    driver.deviceInfo = Camera("cam");
    IdleChannel channel(&driver, 0, nullptr);
    channel.throwOnRun = 1;
    ChannelStartRecord record{40, 50, 640, 480};
    ASSERT_TRUE(channel.Start(&record));
    ASSERT_TRUE(Eventually([&] { return channel.runs == 2 && channel.running; }, 5s));
    const auto messages = driver.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front().level, 1U);
    EXPECT_NE(messages.front().text.find(std::bad_alloc().what()), std::string::npos)
            << messages.front().text;
    const auto start = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(CBaseCameraChannel, DataClockCountsMillisecondsAndLossGrace) {
    FakeDriver driver;
    driver.deviceInfo = Camera("cam");
    driver.deviceInfo.dataTimeout = 100;
    IdleChannel channel(&driver, 0, nullptr);
    channel.MarkDataTime();
    EXPECT_TRUE(channel.WithinLossGrace());
    const std::uint32_t since = channel.MillisecondsSinceData();
    EXPECT_LT(since, 1000U);
    // The data clock is the monotonic one: 2.5 s on it are 2.5 s since the data, whatever the wall
    // clock (which NTP may step) says.
    const std::uint64_t later = platform::MonotonicMs() + 2500;
    EXPECT_GE(channel.MillisecondsSinceData(later), 2500U);
    EXPECT_LT(channel.MillisecondsSinceData(later), 3500U);
    EXPECT_EQ(channel.MillisecondsSinceData(later - 10000), 0U) << "never negative";
}

} // namespace
} // namespace norvane
