#include <gtest/gtest.h>

#include "driver/ip_capture_driver.h"
#include "driver/vantrel_driver.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using test::FakeDebugSink;
using test::FakeOpenParams;
using test::FakeSampleAllocator;

// A minimal concrete driver whose hooks can be made to fail.
class TestDriver : public CIPCaptureDriver {
public:
    bool CreateIO() override {
        ++createIOCalls;
        return ioResult;
    }

    bool CreateExtras() override {
        ++createExtrasCalls;
        return extrasResult;
    }

    ICameraChannel* CreateChannel(std::uint32_t, IFrameSink*) override { return nullptr; }

    bool ioResult = true;
    bool extrasResult = true;
    int createIOCalls = 0;
    int createExtrasCalls = 0;
};

TEST(CIPCaptureDriver, OpenStoresSettingsAndParameters) {
    TestDriver driver;
    FakeDebugSink sink;
    FakeSampleAllocator allocator;
    FakeOpenParams params;
    params.device.channelCount = 4;
    params.device.inputCount = 2;
    params.device.outputCount = 1;
    params.connection.address = "10.1.2.3";
    params.connection.port = 8080;
    params.connection.streamType = 1;
    params.connection.userName = "admin";
    params.connection.password = "secret";
    params.parameters = {"1", "8554", "(none)"};
    ASSERT_TRUE(driver.Open(&sink, &allocator, &params));

    const DEVICE_INFO info = driver.GetDeviceInfo();
    EXPECT_EQ(info.address, "10.1.2.3");
    EXPECT_EQ(info.port, 8080);
    EXPECT_EQ(info.userName, "admin");
    EXPECT_EQ(info.password, "secret");
    EXPECT_EQ(info.requestTimeout, 5000);
    EXPECT_EQ(info.dataTimeout, 5000);
    EXPECT_EQ(driver.GetIOCounts(), std::make_pair(2, 1));
    EXPECT_EQ(driver.GetChannelCount(), 4);
    EXPECT_EQ(driver.GetStreamType(), 1);
    EXPECT_EQ(driver.GetSampleAllocator(), &allocator);
    EXPECT_EQ(driver.GetIntParameter(2), 8554);
    EXPECT_EQ(driver.GetStringParameter(3), "") << "\"(none)\" reads as empty";
    EXPECT_EQ(driver.GetIntParameter(3), kNoIntParameter);
    EXPECT_EQ(driver.GetIntParameter(9), kNoIntParameter);
    EXPECT_EQ(params.askedIndexes, (std::vector<uint32_t>{1, 2, 3, 4}));
    ASSERT_NE(driver.GetVideoCapture(), nullptr);
    EXPECT_EQ(driver.GetVideoCapture()->GetChannelCount(), 4U);
    EXPECT_EQ(driver.GetVideoCaptureEx(), driver.GetVideoCapture());
    EXPECT_EQ(driver.GetReservedObject(), nullptr);
    EXPECT_EQ(driver.GetReservedObjectEx(), nullptr);
    EXPECT_EQ(driver.GetAuxObject(), nullptr);
    EXPECT_EQ(driver.GetAuxObjectEx(), nullptr);
}

TEST(CIPCaptureDriver, ParameterEnumerationStopsAtFirstNull) {
    TestDriver driver;
    FakeOpenParams params;
    params.parameters = {std::nullopt, "2"};
    ASSERT_TRUE(driver.Open(nullptr, nullptr, &params));
    EXPECT_EQ(params.askedIndexes, std::vector<uint32_t>{1});
    EXPECT_EQ(driver.GetStringParameter(2), "");
}

TEST(CIPCaptureDriver, FailingHooksFailOpenWithoutVideoCapture) {
    TestDriver io;
    io.ioResult = false;
    FakeOpenParams params;
    EXPECT_FALSE(io.Open(nullptr, nullptr, &params));
    EXPECT_EQ(io.createExtrasCalls, 0);
    EXPECT_EQ(io.GetVideoCapture(), nullptr);
    EXPECT_EQ(io.GetDeviceInfo().address, "127.0.0.1") << "settings read so far stay";

    TestDriver extras;
    extras.extrasResult = false;
    EXPECT_FALSE(extras.Open(nullptr, nullptr, &params));
    EXPECT_EQ(extras.GetVideoCapture(), nullptr);
}

TEST(CIPCaptureDriver, NullOpenParametersAreRefused) {
    TestDriver driver;
    EXPECT_FALSE(driver.Open(nullptr, nullptr, nullptr));
    EXPECT_EQ(driver.createIOCalls, 0);
}

TEST(CIPCaptureDriver, DebugMessageFormatsAndReachesSinkWithLevel) {
    TestDriver driver;
    FakeDebugSink sink;
    FakeOpenParams params;
    ASSERT_TRUE(driver.Open(&sink, nullptr, &params));
    driver.DebugMessage(1, "%s: value %d of %s", "norvane::X::Y", 42, "z");
    const auto messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].level, 1U);
    EXPECT_EQ(messages[0].text, "norvane::X::Y: value 42 of z");
}

TEST(CIPCaptureDriver, WithoutSinkEverythingWorksSilently) {
    TestDriver driver;
    FakeOpenParams params;
    ASSERT_TRUE(driver.Open(nullptr, nullptr, &params));
    driver.DebugMessage(2, "%s", "nobody hears this");
    driver.Close();
    driver.Close();
    EXPECT_EQ(driver.GetVideoCapture(), nullptr);
}

class ThrowingSink final : public IDebugSink {
    NORVANE_IMPLEMENT_SLOT0(ThrowingSink)

public:
    void OnDebugInfo(CDebugInfoIf*) override { throw 1; }
};

TEST(CIPCaptureDriver, ThrowingSinkDoesNotEscape) {
    TestDriver driver;
    ThrowingSink sink;
    FakeOpenParams params;
    ASSERT_TRUE(driver.Open(&sink, nullptr, &params));
    EXPECT_NO_THROW(driver.DebugMessage(1, "%s", "x"));
}

TEST(CVantrelDriver, OpenRaisesTimeoutsAndLogsTheDevice) {
    CVantrelDriver driver;
    FakeDebugSink sink;
    FakeOpenParams params;
    params.device.modelName = "M";
    params.connection.address = "10.1.2.3";
    params.connection.port = 80;
    ASSERT_TRUE(driver.Open(&sink, nullptr, &params));
    EXPECT_EQ(driver.GetDeviceInfo().requestTimeout, 10000);
    EXPECT_EQ(driver.GetDeviceInfo().dataTimeout, 10000);
    const auto messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].level, 2U);
    EXPECT_EQ(
            messages[0].text,
            "OPEN DRIVER::Driver name: Vantrel, Device model: M, FW: (none), Address: 10.1.2.3:80");
}

TEST(CVantrelDriver, FirmwareParameterAppearsInOpenLine) {
    for (const auto& [firmware, shown] : std::vector<std::pair<std::string, std::string>>{
                 {"2.1.7", "2.1.7"}, {"(none)", "(none)"}, {"", "(none)"}}) {
        CVantrelDriver driver;
        FakeDebugSink sink;
        FakeOpenParams params;
        params.parameters = {"0", "554", firmware};
        ASSERT_TRUE(driver.Open(&sink, nullptr, &params));
        ASSERT_EQ(sink.Messages().size(), 1U);
        EXPECT_NE(sink.Messages()[0].text.find("FW: " + shown + ","), std::string::npos)
                << firmware;
    }
}

TEST(CVantrelDriver, ParameterOneSelectsVideoStandard) {
    struct Case {
        std::optional<std::string> value;
        std::int32_t ntsc;
    };

    const Case cases[] = {{"0", 0}, {"1", 1}, {"-1", 1}, {"abc", 0}, {std::nullopt, 0}};
    for (const Case& c : cases) {
        CVantrelDriver driver;
        FakeOpenParams params;
        if (c.value) {
            params.parameters = {c.value};
        }
        ASSERT_TRUE(driver.Open(nullptr, nullptr, &params));
        EXPECT_EQ(driver.IsNtsc(), c.ntsc) << c.value.value_or("(absent)");
    }
}

} // namespace
} // namespace norvane
