#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/vantrel_camera_properties.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using test::FakeCapabilityResults;

const std::string kSystem = "/cgi-bin/action.fcgi?vtl_api=get_setup.system.info";
const std::string kVideo = "/cgi-bin/action.fcgi?vtl_api=get_setup.video.codec";
const std::string kAlarm = "/cgi-bin/action.fcgi?vtl_api=get_setup.event.alarm_port";

// Vantrel properties whose camera requests are answered from a table; a path without an entry
// fails like an unreachable camera. `onFetch` runs before each answer (to cancel mid-query).
class ScriptedProperties : public CVantrelCameraProperties {
public:
    ScriptedProperties(std::map<std::string, std::string> answers, std::uint32_t standard,
                       const DEVICE_INFO& device = DEVICE_INFO())
        : CVantrelCameraProperties(device, standard)
        , m_answers(std::move(answers)) {}

    std::vector<std::string> fetched;
    std::function<void(const std::string&)> onFetch;

protected:
    bool Fetch(const std::string& path, std::vector<std::uint8_t>& answer) override {
        fetched.push_back(path);
        if (onFetch) {
            onFetch(path);
        }
        const auto found = m_answers.find(path);
        if (found == m_answers.end()) {
            return false;
        }
        answer.assign(found->second.begin(), found->second.end());
        answer.push_back(0);
        return true;
    }

private:
    std::map<std::string, std::string> m_answers;
};

std::vector<std::string> SizesOf(const CCameraProperties& properties) {
    std::vector<std::string> sizes;
    for (const ResolutionEntry& entry : properties.m_resolutions) {
        std::string text = std::to_string(entry.width) + "x" + std::to_string(entry.height);
        for (const std::uint32_t interval : entry.intervals) {
            text += "@" + std::to_string(interval);
        }
        sizes.push_back(text);
    }
    return sizes;
}

TEST(CVantrelCameraProperties, SystemInformationGivesBrandModelAndFirmware) {
    struct Case {
        std::string answer;
        bool ok;
        std::string brand;
        std::string model;
        std::string firmware;
    };

    const Case cases[] = {
            {"hwver=X1\r\n", true, "Vantrel", "Vantrel X1", ""},
            {"brand=Acme\r\nhwver=NV-2M\r\nswver=2.1.0\r\n", true, "Acme", "Acme NV-2M", "2.1.0"},
            {"brand=Acme\r\nswver=2.1.0\r\n", false, "", "", ""},
            {"brand=\r\nhwver=Z\r\n", true, "Vantrel", "Vantrel Z", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        ScriptedProperties properties({{kSystem, c.answer}, {kVideo, ""}, {kAlarm, ""}}, 0);
        std::int32_t code = 77;
        EXPECT_EQ(properties.Query(code), c.ok);
        EXPECT_EQ(code, c.ok ? 77 : 3);
        EXPECT_EQ(properties.m_brand, c.brand);
        EXPECT_EQ(properties.m_model, c.model);
        EXPECT_EQ(properties.Firmware(), c.firmware);
        EXPECT_EQ(properties.m_queried, 1U); // also after a failure
        if (!c.ok) {
            EXPECT_EQ(properties.fetched, std::vector<std::string>{kSystem});
            EXPECT_TRUE(properties.m_resolutions.empty());
        }
    }
}

TEST(CVantrelCameraProperties, FailedRequestsFailTheQueryExceptTheAlarmPort) {
    {
        ScriptedProperties properties({}, 0);
        std::int32_t code = 0;
        EXPECT_FALSE(properties.Query(code));
        EXPECT_EQ(code, 3);
    }
    {
        ScriptedProperties properties({{kSystem, "hwver=A\r\n"}}, 0);
        std::int32_t code = 0;
        EXPECT_FALSE(properties.Query(code));
        EXPECT_EQ(code, 3);
        EXPECT_EQ(properties.fetched, (std::vector<std::string>{kSystem, kVideo}));
    }
    {
        ScriptedProperties properties({{kSystem, "hwver=A\r\n"}, {kVideo, "ff_mode=50\r\n"}}, 0);
        std::int32_t code = 0;
        EXPECT_TRUE(properties.Query(code));
        EXPECT_EQ(code, 0);
        EXPECT_EQ(properties.m_alarmInput, 0U);
        EXPECT_EQ(properties.m_alarmOutput, 0U);
        EXPECT_EQ(properties.fetched, (std::vector<std::string>{kSystem, kVideo, kAlarm}));
    }
}

TEST(CVantrelCameraProperties, FfModeSelectsTheVideoStandard) {
    struct Case {
        std::string answer;
        std::uint32_t initial;
        std::uint32_t standard;
        std::uint32_t maxRate;
    };

    const Case cases[] = {
            {"ff_mode=60\r\n", 0, 1, 30}, {"ff_mode=NTSC60Hz\r\n", 0, 1, 30},
            {"ff_mode=50\r\n", 1, 0, 25}, {"ff_mode=PAL\r\n", 1, 0, 25},
            {"codec=h264\r\n", 1, 1, 30}, {"codec=h264\r\n", 0, 0, 25},
            {"ff_mode=\r\n", 1, 1, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer + " initial " + std::to_string(c.initial));
        ScriptedProperties properties({{kSystem, "hwver=A\r\n"}, {kVideo, c.answer}}, c.initial);
        std::int32_t code = 0;
        ASSERT_TRUE(properties.Query(code));
        EXPECT_EQ(properties.VideoStandard(), c.standard);
        ASSERT_FALSE(properties.FrameRates().empty());
        EXPECT_EQ(*properties.FrameRates().rbegin(), c.maxRate);
        EXPECT_EQ(properties.FrameRates().size(), c.standard == 1 ? 9U : 8U);
    }
}

TEST(CVantrelCameraProperties, H265IsReportedOnlyWhenTheCameraSaysSo) {
    const std::pair<std::string, bool> cases[] = {
            {"codec0=h264\r\ncodec0_options=h264,h265\r\n", true},
            {"codec0=h265\r\n", true},
            {"codec0=h264\r\ncodec0_options=h264\r\n", false},
            {"codec0=h264\r\ncodec1=h265\r\n", false},
    };
    for (const auto& [answer, h265] : cases) {
        SCOPED_TRACE(answer);
        ScriptedProperties properties({{kSystem, "hwver=A\r\n"}, {kVideo, answer}}, 0);
        std::int32_t code = 0;
        ASSERT_TRUE(properties.Query(code));
        FakeCapabilityResults results;
        ASSERT_TRUE(properties.Save(&results));
        const auto calls = results.Calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetValue(13,1)"), h265 ? 1 : 0);
    }
}

TEST(CVantrelCameraProperties, ModelNameDecidesTheSizes) {
    const std::vector<std::string> base{"320x240", "352x240", "352x288",
                                        "640x480", "704x480", "704x576"};
    const std::vector<std::string> megapixel{"1024x768", "1280x720", "1280x1024"};

    struct Case {
        std::string hw;
        std::size_t count;
    };

    const Case cases[] = {{"ABC-2M", 10}, {"ABC-1M", 9}, {"ABC", 6}, {"2M1M", 10}, {"2m", 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hw);
        ScriptedProperties properties(
                {{kSystem, "hwver=" + c.hw + "\r\n"}, {kVideo, "ff_mode=50\r\n"}}, 0);
        std::int32_t code = 0;
        ASSERT_TRUE(properties.Query(code));
        std::vector<std::string> expected;
        for (const auto& size : base) {
            expected.push_back(size + "@40");
        }
        if (c.count >= 9) {
            for (const auto& size : megapixel) {
                expected.push_back(size + "@40");
            }
        }
        if (c.count == 10) {
            expected.push_back("1920x1080@40");
        }
        EXPECT_EQ(SizesOf(properties), expected);
        EXPECT_EQ(properties.m_codecs, (std::vector<std::uint32_t>{1, 16}));
    }
}

TEST(CVantrelCameraProperties, AlarmPortValuesCountWhateverTheySay) {
    struct Case {
        std::string answer;
        std::uint32_t input;
        std::uint32_t output;
    };

    const Case cases[] = {
            {"in_enable=no\r\n", 1, 0},
            {"out_mode=0\r\n", 0, 1},
            {"in_enable=yes\r\nout_mode=relay\r\n", 1, 1},
            {"in_enable=\r\nother=1\r\n", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        ScriptedProperties properties(
                {{kSystem, "hwver=A\r\n"}, {kVideo, "ff_mode=50\r\n"}, {kAlarm, c.answer}}, 0);
        std::int32_t code = 0;
        ASSERT_TRUE(properties.Query(code));
        EXPECT_EQ(properties.m_alarmInput, c.input);
        EXPECT_EQ(properties.m_alarmOutput, c.output);
    }
}

DEVICE_INFO Device() {
    DEVICE_INFO device;
    device.address = "192.0.2.10";
    device.port = 8080;
    device.userName = "admin";
    device.password = "pw";
    return device;
}

std::vector<std::string> ConnectionAndProperties(const std::string& standard,
                                                 const std::string& firmware) {
    return {"Field(1).SetText(192.0.2.10)",
            "Field(2).SetText(8080)",
            "Field(3).SetText(admin)",
            "Field(4).SetText(pw)",
            "Property(1).SetName(Video standard)",
            "Property(1).SetKind(0)",
            "Property(1).SetFlag(0)",
            "Property(1).SetText(" + standard + ")",
            "Property(2).SetName(RTSP port)",
            "Property(2).SetKind(0)",
            "Property(2).SetFlag(0)",
            "Property(2).SetText(554)",
            "Property(3).SetName(Firmware)",
            "Property(3).SetKind(0)",
            "Property(3).SetFlag(1)",
            "Property(3).SetText(" + firmware + ")"};
}

TEST(CVantrelCameraProperties, SaveOf60HzTwoMegapixelCameraInExactOrder) {
    ScriptedProperties properties({{kSystem, "brand=Vantrel\r\nhwver=NV-2M\r\nswver=2.1.0\r\n"},
                                   {kVideo, "ff_mode=60\r\n"},
                                   {kAlarm, "in_enable=yes\r\nout_mode=1\r\n"}},
                                  0, Device());
    std::int32_t code = 0;
    ASSERT_TRUE(properties.Query(code));
    FakeCapabilityResults results;
    ASSERT_TRUE(properties.Save(&results));

    std::vector<std::string> expected;
    for (const int interval : {500, 333, 250, 200, 167, 143, 100, 67, 33}) {
        expected.push_back("Intervals(1).Add(" + std::to_string(interval) + ")");
    }
    expected.insert(expected.end(),
                    {"Intervals(1).SetDefault(33)", "SetValue(11,0)", "SetValue(12,0)",
                     "SetModelName(Vantrel NV-2M)", "SetValue(0,1)", "SetValue(2,1)",
                     "SetValue(3,1)", "SetValue(11,0)", "SetValue(12,0)", "SetValue(7,1)",
                     "SetValue(8,1)"});
    for (const char* size : {"320x240", "352x240", "352x288", "640x480", "704x480", "704x576",
                             "1024x768", "1280x720", "1280x1024", "1920x1080"}) {
        const std::string text(size);
        const std::size_t x = text.find('x');
        expected.push_back("Resolutions.Add(" + text + "," + text.substr(0, x) + "," +
                           text.substr(x + 1) + ",33)");
    }
    const auto tail = ConnectionAndProperties("1", "2.1.0");
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(results.Calls(), expected);
}

TEST(CVantrelCameraProperties, CancelBeforeVideoSettingsKeepsWhatWasRead) {
    ScriptedProperties properties(
            {{kSystem, "hwver=X1\r\n"}, {kVideo, "ff_mode=50\r\n"}, {kAlarm, "in_enable=1\r\n"}}, 1,
            Device());
    properties.onFetch = [&](const std::string& path) {
        if (path == kSystem) {
            properties.Cancel();
        }
    };
    std::int32_t code = 0;
    ASSERT_TRUE(properties.Query(code));
    EXPECT_EQ(properties.fetched, std::vector<std::string>{kSystem});
    FakeCapabilityResults results;
    ASSERT_TRUE(properties.Save(&results));
    std::vector<std::string> expected{"Intervals(1).SetDefault(1)",
                                      "SetValue(11,0)",
                                      "SetValue(12,0)",
                                      "SetModelName(Vantrel X1)",
                                      "SetValue(0,1)",
                                      "SetValue(11,0)",
                                      "SetValue(12,0)"};
    const auto tail = ConnectionAndProperties("1", "(none)");
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(results.Calls(), expected);
}

TEST(CVantrelCameraProperties, SaveWithoutResultsObjectCallsNothing) {
    ScriptedProperties properties({{kSystem, "hwver=X1\r\n"}, {kVideo, ""}}, 0);
    std::int32_t code = 0;
    ASSERT_TRUE(properties.Query(code));
    EXPECT_FALSE(properties.Save(nullptr));
}

// The base save on its own: flags, codec mapping up to the first code 0, empty intervals.
class PlainProperties : public CCameraPropertiesEx {
public:
    PlainProperties() : CCameraPropertiesEx(Device(), 0) {}

    bool Query(std::int32_t&) override { return true; }
};

TEST(CCameraPropertiesEx, SaveMapsFlagsAndCodecs) {
    PlainProperties properties;
    properties.m_model = "M";
    properties.m_flags = {1, 1, 1, 1, 1};
    properties.m_codecs = {2, 4, 16, 99, 0, 1};
    properties.m_resolutions.push_back({640, 480, {}});
    FakeCapabilityResults results;
    ASSERT_TRUE(properties.Save(&results));
    const std::vector<std::string> expected{"SetModelName(M)",
                                            "SetValue(0,0)",
                                            "SetValue(4,1)",
                                            "SetValue(1,1)",
                                            "SetValue(5,1)",
                                            "SetValue(11,1)",
                                            "SetValue(12,1)",
                                            "SetValue(7,1)",
                                            "SetValue(6,1)",
                                            "SetValue(8,1)",
                                            "Resolutions.Add(640x480,640,480,0)",
                                            "Field(1).SetText(192.0.2.10)",
                                            "Field(2).SetText(8080)",
                                            "Field(3).SetText(admin)",
                                            "Field(4).SetText(pw)"};
    EXPECT_EQ(results.Calls(), expected);
    EXPECT_FALSE(properties.Save(nullptr));
}

} // namespace
} // namespace norvane
