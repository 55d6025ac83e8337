#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include <gtest/gtest.h>

#include "io/io_base.h"
#include "support/fake_driver.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::FakeDriver;
using test::FakeIOCallback;
using States = std::map<std::uint32_t, std::uint32_t>;

// A device whose operations are scripted: polls report `inputState` for input 0, writes are
// recorded and can be made to fail.
class ScriptedIO : public CIOBase {
public:
    explicit ScriptedIO(IDriver* driver) : CIOBase(driver) {}

    ~ScriptedIO() override { StopIO(); }

    bool WriteOutput(std::uint32_t index, std::uint32_t state) override {
        {
            std::lock_guard<std::mutex> guard(mutex);
            writes.push_back(std::to_string(index) + "=" + std::to_string(state));
        }
        if (writeThrows.load()) {
            throw std::bad_alloc();
        }
        if (hang.load()) {
            // A request that the camera never answers: it ends, failed, when it is aborted.
            writing = true;
            while (!aborted.load()) {
                std::this_thread::sleep_for(1ms);
            }
            return false;
        }
        return writeResult;
    }

    void AbortDeviceRequests() override { aborted = true; }

    void ResumeDeviceRequests() override { aborted = false; }

    bool PollInputs() override {
        ++polls;
        const std::uint32_t state = inputState.load();
        if (state != 0) {
            UpdateInput(0, state);
            UpdateInput(1, state); // the device reports only input 0; others must stay silent
            UpdateInput(7, state); // outside the configured inputs: ignored
        }
        return pollResult.load();
    }

    std::vector<std::string> Writes() {
        std::lock_guard<std::mutex> guard(mutex);
        return writes;
    }

    void SetTickInterval(std::uint32_t ms) { SetInterval(ms); }

    std::mutex mutex;
    std::vector<std::string> writes;
    bool writeResult = true;
    std::atomic<bool> hang{false};
    std::atomic<bool> writeThrows{false};
    std::atomic<bool> writing{false};
    std::atomic<bool> aborted{false};
    std::atomic<bool> pollResult{true};
    std::atomic<std::uint32_t> inputState{0};
    std::atomic<int> polls{0};
};

// A scripted device with `inputs` and `outputs`, its host callback attached.
struct Rig {
    Rig(int inputs, int outputs) {
        driver.SetIOCounts(inputs, outputs);
        device = std::make_unique<ScriptedIO>(&driver);
        device->SetCallback(&callback);
    }

    FakeDriver driver;
    FakeIOCallback callback;
    std::unique_ptr<ScriptedIO> device;
};

TEST(CIOBase, StartPollsOnceAndPutsEveryOutputInStateOne) {
    FakeDriver driver;
    driver.SetIOCounts(1, 2);
    ScriptedIO io(&driver);
    FakeIOCallback callback;
    ASSERT_TRUE(io.SetCallback(&callback));
    io.inputState = kIOStateInactive;
    ASSERT_TRUE(io.StartIO());
    EXPECT_EQ(io.polls, 1);
    EXPECT_EQ(io.Writes(), (std::vector<std::string>{"0=1", "1=1"}));
    EXPECT_EQ(callback.Events(), std::vector<std::string>{"input(0,1)"});
    EXPECT_EQ(io.OutputStates(), (States{{0, 1}, {1, 1}}));
    EXPECT_TRUE(io.StopIO());
    EXPECT_EQ(io.OutputStates(), (States{{0, 0}, {1, 0}}));
    EXPECT_EQ(io.InputStates(), (States{{0, 0}}));
}

TEST(CIOBase, RepeatedRequestsSendNothingAndChangesSendOnce) {
    FakeDriver driver;
    driver.SetIOCounts(0, 1);
    ScriptedIO io(&driver);
    FakeIOCallback callback;
    io.SetCallback(&callback);
    ASSERT_TRUE(io.StartIO());
    EXPECT_TRUE(io.SetOutput(0, 1)); // same as the start state
    EXPECT_TRUE(io.SetOutput(0, 2));
    EXPECT_TRUE(io.SetOutput(0, 2));
    EXPECT_TRUE(io.SetOutput(5, 2)); // accepted, then ignored: no such output
    ASSERT_TRUE(Eventually([&] { return io.Writes().size() >= 2; }, 5s));
    io.StopIO();
    EXPECT_EQ(io.Writes(), (std::vector<std::string>{"0=1", "0=2"}));
    EXPECT_EQ(io.polls, 0) << "no inputs configured: nothing is polled";
}

TEST(CIOBase, FailedSwitchResetsStatesReportsFailureAndIsRetried) {
    Rig rig(0, 1);
    ScriptedIO& io = *rig.device;
    FakeIOCallback& callback = rig.callback;
    ASSERT_TRUE(io.StartIO());
    io.writeResult = false;
    ASSERT_TRUE(io.SetOutput(0, 2));
    ASSERT_TRUE(callback.WaitForEvents(1, 5s));
    EXPECT_EQ(callback.Events(), std::vector<std::string>{"failure"});
    EXPECT_EQ(io.OutputStates(), (States{{0, 0}}));
    io.writeResult = true;
    ASSERT_TRUE(io.SetOutput(0, 2)); // the same request is sent again after the reset
    ASSERT_TRUE(Eventually([&] { return io.Writes().size() == 3; }, 5s));
    // A switch that ends in an exception is a failed one, told at level 1; the worker goes on.
    io.writeThrows = true;
    ASSERT_TRUE(io.SetOutput(0, 1));
    ASSERT_TRUE(callback.WaitForEvents(2, 5s));
    io.writeThrows = false;
    ASSERT_TRUE(io.SetOutput(0, 1));
    ASSERT_TRUE(Eventually([&] { return io.Writes().size() == 5; }, 5s));
    io.StopIO();
    EXPECT_EQ(io.Writes(), (std::vector<std::string>{"0=1", "0=2", "0=2", "0=1", "0=1"}));
    EXPECT_EQ(callback.Events(), (std::vector<std::string>{"failure", "failure"}));
    // Only the switches the device took are confirmed (level 2), the failed ones are not.
    std::vector<std::string> errors;
    std::vector<std::string> confirmed;
    for (const auto& message : rig.driver.Messages()) {
        (message.level == 1 ? errors : confirmed).push_back(message.text);
    }
    ASSERT_EQ(errors.size(), 1U);
    EXPECT_NE(errors[0].find("Digital Output thread"), std::string::npos) << errors[0];
    EXPECT_EQ(confirmed, (std::vector<std::string>{"CIOBase: the camera took output 0 state 1",
                                                   "CIOBase: the camera took output 0 state 2",
                                                   "CIOBase: the camera took output 0 state 1"}));
}

TEST(CIOBase, StopAbortingASwitchInFlightReportsNoFailure) {
    Rig rig(0, 1);
    ScriptedIO& io = *rig.device;
    FakeIOCallback& callback = rig.callback;
    ASSERT_TRUE(io.StartIO());
    io.hang = true;
    ASSERT_TRUE(io.SetOutput(0, 2));
    ASSERT_TRUE(io.SetOutput(0, 1)); // still queued when the stop comes
    ASSERT_TRUE(Eventually([&] { return io.writing.load(); }, 5s));
    EXPECT_TRUE(io.StopIO());
    EXPECT_EQ(callback.Events(), std::vector<std::string>{}) << "the host asked for the stop";
    EXPECT_EQ(io.Writes(), (std::vector<std::string>{"0=1", "0=2"})) << "the queued one is dropped";
    // A real failure after the next start is reported again.
    io.hang = false;
    io.writeResult = false;
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(callback.WaitForEvents(1, 5s));
    EXPECT_EQ(callback.Events(), std::vector<std::string>{"failure"});
    io.StopIO();
}

TEST(CIOBase, FailedStartWriteReportsFailureAndContinues) {
    FakeDriver driver;
    driver.SetIOCounts(0, 2);
    ScriptedIO io(&driver);
    FakeIOCallback callback;
    io.SetCallback(&callback);
    io.writeResult = false;
    ASSERT_TRUE(io.StartIO());
    EXPECT_EQ(io.Writes(), (std::vector<std::string>{"0=1", "1=1"}));
    EXPECT_EQ(callback.Events(), (std::vector<std::string>{"failure", "failure"}));
    io.StopIO();
}

TEST(CIOBase, InputPolledPeriodicallyChangesReportedOnce) {
    FakeDriver driver;
    driver.SetIOCounts(2, 0);
    ScriptedIO io(&driver);
    io.SetTickInterval(5);
    FakeIOCallback callback;
    io.SetCallback(&callback);
    io.inputState = kIOStateInactive;
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(Eventually([&] { return io.polls >= 3; }, 5s));
    io.inputState = kIOStateActive;
    ASSERT_TRUE(callback.WaitForEvents(2, 5s));
    const int before = io.polls;
    ASSERT_TRUE(Eventually([&] { return io.polls >= before + 3; }, 5s));
    io.StopIO();
    EXPECT_EQ(callback.Events(),
              (std::vector<std::string>{"input(0,1)", "input(1,1)", "input(0,2)", "input(1,2)"}));
}

TEST(CIOBase, PollFailureResetsStatesSoInputIsReportedAgain) {
    FakeDriver driver;
    driver.SetIOCounts(1, 0);
    ScriptedIO io(&driver);
    io.SetTickInterval(5);
    FakeIOCallback callback;
    io.SetCallback(&callback);
    io.inputState = kIOStateActive;
    ASSERT_TRUE(io.StartIO());
    io.pollResult = false;
    ASSERT_TRUE(callback.WaitForEvents(3, 5s));
    io.StopIO();
    const auto events = callback.Events();
    EXPECT_EQ(events[0], "input(0,2)");
    EXPECT_EQ(events[1], "failure");
    EXPECT_EQ(events[2], "input(0,2)") << "after a reset the next poll reports the input again";
}

TEST(CIOBase, SetOutputAfterStopOrWithoutOutputsIsRefused) {
    FakeDriver driver;
    driver.SetIOCounts(1, 0);
    ScriptedIO io(&driver);
    FakeIOCallback callback;
    io.SetCallback(&callback);
    EXPECT_FALSE(io.SetOutput(0, 2)) << "before StartIO";
    ASSERT_TRUE(io.StartIO());
    EXPECT_FALSE(io.SetOutput(0, 2)) << "no output worker without outputs";
    io.StopIO();
    driver.SetIOCounts(1, 1);
    ASSERT_TRUE(io.StartIO());
    EXPECT_TRUE(io.SetOutput(0, 2));
    io.StopIO();
    EXPECT_FALSE(io.SetOutput(0, 2));
}

TEST(CIOBase, StartStopStartRestartsBothWorkers) {
    FakeDriver driver;
    driver.SetIOCounts(1, 1);
    ScriptedIO io(&driver);
    io.SetTickInterval(5);
    FakeIOCallback callback;
    io.SetCallback(&callback);
    for (int round = 0; round < 3; ++round) {
        const int polls = io.polls;
        ASSERT_TRUE(io.StartIO());
        ASSERT_TRUE(Eventually([&] { return io.polls >= polls + 2; }, 5s));
        ASSERT_TRUE(io.StopIO());
    }
}

TEST(CIOBase, CountsFollowTheDriverAndNegativeMeansNone) {
    FakeDriver driver;
    driver.SetIOCounts(3, 2);
    ScriptedIO io(&driver);
    EXPECT_EQ(io.GetInputCount(), 3U);
    EXPECT_EQ(io.GetOutputCount(), 2U);
    driver.SetIOCounts(-1, -5);
    EXPECT_EQ(io.GetInputCount(), 0U);
    EXPECT_EQ(io.GetOutputCount(), 0U);
    EXPECT_FALSE(io.SetCallback(nullptr));
}

} // namespace
} // namespace norvane
