#include <atomic>
#include <chrono>

#include <gtest/gtest.h>

#include "channels/base_camera_channel.h"
#include "platform/clock.h"
#include "support/fake_driver.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::FakeDriver;

// A channel whose thread only waits for its stop event, counting its runs.
class IdleChannel : public CBaseCameraChannel {
public:
    using CBaseCameraChannel::CBaseCameraChannel;

    ~IdleChannel() override { Stop(); }

    std::int32_t Run() override {
        const int run = ++runs;
        if (running.exchange(true)) {
            overlapped = true;
        }
        m_stopEvent.Wait(-1);
        running = false;
        ended = run;
        return 0;
    }

    std::atomic<int> runs{0};
    std::atomic<int> ended{0};
    std::atomic<bool> running{false};
    std::atomic<bool> overlapped{false};
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
    ChannelStartRecord changed{100, 7, 352, 288};
    ASSERT_TRUE(channel.Restart(&changed));
    EXPECT_EQ(channel.StartRecord().quality, 50U);
    EXPECT_EQ(channel.StartRecord().frameInterval, 100U);
    EXPECT_EQ(channel.StartRecord().width, 352U);
    EXPECT_EQ(channel.StartRecord().height, 288U);
    EXPECT_EQ(driver.Messages().size(), 1U) << "restart sends no offline report";
    ASSERT_TRUE(Eventually([&] { return channel.runs == 2; }, 5s));
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
    // 2.5 s later in 100 ns units.
    const std::uint64_t later = platform::UtcNow100ns() + 25000000ULL;
    EXPECT_GE(channel.MillisecondsSinceData(later), 2500U);
    EXPECT_LT(channel.MillisecondsSinceData(later), 3500U);
}

} // namespace
} // namespace norvane
