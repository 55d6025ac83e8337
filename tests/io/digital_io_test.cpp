#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "camera_sim.h"
#include "io/digital_io.h"
#include "platform/socket.h"
#include "support/fake_driver.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::FakeDriver;
using test::FakeIOCallback;

TEST(CDigitalIO, SwitchRequestTexts) {
    EXPECT_EQ(CDigitalIO::SwitchRequest(1),
              "/cgi-bin/action.fcgi?vtl_api=set_setup.event.alarm_port&in_enable=yes&in_type=no"
              "&in_text=ALARM%201&out_oper=useron&out_mode=transparent&out_dwell=5");
    EXPECT_EQ(CDigitalIO::SwitchRequest(2),
              "/cgi-bin/action.fcgi?vtl_api=set_setup.event.alarm_port&in_enable=yes&in_type=no"
              "&in_text=ALARM%201&out_oper=useroff&out_mode=transparent&out_dwell=5");
    EXPECT_NE(CDigitalIO::SwitchRequest(0).find("out_oper=useroff"), std::string::npos);
}

TEST(CDigitalIO, InputStateFromStatusAnswer) {
    struct Case {
        std::string answer;
        std::optional<std::uint32_t> state;
    };

    const Case cases[] = {
            {"rise_alarm=1\r\n", 2},
            {"rise_alarm=0\r\n", 1},
            {"return_code=0x00000000\r\nrise_alarm=7\r\n", 2},
            {"rise_alarm=abc\r\n", 1},
            {"rise_alarm= 1\r\n", 2},
            {"rise_alarm=-1\r\n", 2},
            {"rise_alarm=\r\n", std::nullopt},
            {"other=1\r\n", std::nullopt},
            {std::string("rise_alarm=1\r\n\0", 15), 2},
            {std::string("x=1\0rise_alarm=1\r\n", 18), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CDigitalIO::InputStateFromStatus(c.answer), c.state) << c.answer;
    }
}

class DigitalIOEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_sim.Start(&error)) << error;
        m_driver.deviceInfo.address = "127.0.0.1";
        m_driver.deviceInfo.port = m_sim.HttpPort();
        m_driver.deviceInfo.userName = "admin";
        m_driver.deviceInfo.password = "admin";
        m_driver.SetIOCounts(2, 2);
    }

    void TearDown() override { m_sim.Stop(); }

    std::vector<std::string> SwitchRequests() {
        std::vector<std::string> uris;
        for (const auto& request : m_sim.Requests()) {
            if (request.uri.find("set_setup.event.alarm_port") != std::string::npos) {
                uris.push_back(request.uri);
            }
        }
        return uris;
    }

    sim::CCameraSim m_sim{sim::CameraSimConfig{}};
    FakeDriver m_driver;
    FakeIOCallback m_callback;
};

TEST_F(DigitalIOEndToEnd, AlarmInputChangesAreReportedOncePerChange) {
    CDigitalIO io(&m_driver);
    io.SetInterval(50);
    ASSERT_TRUE(io.SetCallback(&m_callback));
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(m_callback.WaitForEvents(1, 5s));
    m_sim.SetAlarmInput(true);
    ASSERT_TRUE(m_callback.WaitForEvents(2, 5s));
    m_sim.SetAlarmInput(false);
    ASSERT_TRUE(m_callback.WaitForEvents(3, 5s));
    // Several more polls with no change report nothing.
    const std::size_t polls = m_sim.Requests().size();
    ASSERT_TRUE(Eventually([&] { return m_sim.Requests().size() >= polls + 4; }, 5s));
    EXPECT_TRUE(io.StopIO());
    EXPECT_EQ(m_callback.Events(),
              (std::vector<std::string>{"input(0,1)", "input(0,2)", "input(0,1)"}))
            << "input 1 is never reported: the camera has one alarm input";
}

TEST_F(DigitalIOEndToEnd, SetOutputSwitchesTheRelayWithTheExactRequest) {
    CDigitalIO io(&m_driver);
    ASSERT_TRUE(io.SetCallback(&m_callback));
    ASSERT_TRUE(io.StartIO());
    // Both configured outputs drive the camera's one relay: "useron" twice at start.
    ASSERT_EQ(SwitchRequests().size(), 2U);
    EXPECT_TRUE(m_sim.RelayOutput());
    ASSERT_TRUE(io.SetOutput(1, 2));
    ASSERT_TRUE(Eventually([&] { return SwitchRequests().size() == 3; }, 5s));
    EXPECT_FALSE(m_sim.RelayOutput());
    EXPECT_EQ(SwitchRequests().back(), CDigitalIO::SwitchRequest(2));
    ASSERT_TRUE(io.SetOutput(0, 1)); // output 0 is still recorded as on: nothing is sent
    ASSERT_TRUE(io.SetOutput(1, 1));
    ASSERT_TRUE(Eventually([&] { return SwitchRequests().size() == 4; }, 5s));
    EXPECT_TRUE(io.StopIO());
    EXPECT_EQ(SwitchRequests().size(), 4U);
    EXPECT_TRUE(m_sim.RelayOutput());
    EXPECT_TRUE(m_callback.Events().empty() || m_callback.Events()[0].rfind("input", 0) == 0);
}

TEST_F(DigitalIOEndToEnd, RefusedSwitchReportsFailure) {
    sim::SimFaults faults;
    faults.refusedCgi["set_setup.event.alarm_port"] = "0x80000001";
    m_sim.SetFaults(faults);
    m_driver.SetIOCounts(0, 1);
    CDigitalIO io(&m_driver);
    ASSERT_TRUE(io.SetCallback(&m_callback));
    ASSERT_TRUE(io.StartIO());
    EXPECT_EQ(m_callback.Events(), std::vector<std::string>{"failure"});
    EXPECT_TRUE(io.StopIO());
}

TEST_F(DigitalIOEndToEnd, StopIOAbortsAHangingPoll) {
    m_driver.SetIOCounts(1, 0);
    m_driver.deviceInfo.requestTimeout = 10000;
    CDigitalIO io(&m_driver);
    io.SetInterval(10);
    ASSERT_TRUE(io.SetCallback(&m_callback));
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(m_callback.WaitForEvents(1, 5s));
    sim::SimFaults faults;
    faults.replyDelayMs = 60000;
    m_sim.SetFaults(faults);
    const std::size_t before = m_sim.Requests().size();
    ASSERT_TRUE(Eventually([&] { return m_sim.Requests().size() > before; }, 5s));
    std::this_thread::sleep_for(100ms); // the poll is now waiting for its answer
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(io.StopIO());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::printf("StopIO during a hanging poll: %lld us\n",
                static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
    EXPECT_LT(elapsed, 2s);
    m_sim.SetFaults({});
}

TEST_F(DigitalIOEndToEnd, DeletingWithoutStopIOStopsTheWorkersFirst) {
    {
        CDigitalIO io(&m_driver);
        io.SetInterval(5);
        ASSERT_TRUE(io.SetCallback(&m_callback));
        ASSERT_TRUE(io.StartIO());
        ASSERT_TRUE(io.SetOutput(0, 2));
    } // a host that forgets StopIO: the workers must not outlive the object
    // A request sent just before the abort may still be logged by the camera's own thread.
    std::this_thread::sleep_for(50ms);
    const std::size_t requests = m_sim.Requests().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_sim.Requests().size(), requests) << "no worker polls after the object is gone";
}

TEST(DigitalIOUnreachable, NoInputCallback) {
    // A listening socket that never answers stands in for an unreachable camera.
    platform::CSocket silent = platform::CSocket::CreateTcp();
    ASSERT_TRUE(silent.Bind(platform::LoopbackAddress(), 0));
    ASSERT_TRUE(silent.Listen(0));
    FakeDriver driver;
    driver.deviceInfo.address = "127.0.0.1";
    driver.deviceInfo.port = silent.LocalPort();
    driver.deviceInfo.requestTimeout = 200;
    driver.SetIOCounts(1, 0);
    CDigitalIO io(&driver);
    io.SetInterval(10);
    FakeIOCallback callback;
    ASSERT_TRUE(io.SetCallback(&callback));
    ASSERT_TRUE(io.StartIO());
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(io.StopIO());
    EXPECT_TRUE(callback.Events().empty()) << "a failed poll is neither a change nor a failure";
}

} // namespace
} // namespace norvane
