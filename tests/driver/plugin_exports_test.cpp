// The plug-in as a host sees it: its dynamic symbol table, the thirteen entry points resolved with
// dlopen, and a driver deleted while its channel streams.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include <dlfcn.h>

#include <gtest/gtest.h>

#include "camera_sim.h"
#include "norvane/norvane.h"
#include "support/fakes.h"

namespace {

using namespace std::chrono_literals;

const char* const kExports[] = {
        "CreateIPCapture",      "CreateIPCaptureEx",        "CreateIPCaptureEx2",
        "CreateIPCaptureEx3",   "DeleteIPCapture",          "DeleteIPCaptureEx",
        "DeleteIPCaptureEx2",   "DeleteIPCaptureEx3",       "InitCapabilityQuery",
        "StartCapabilityQuery", "TerminateCapabilityQuery", "UninitCapabilityQuery",
        "GetChannelReception",
};

class Plugin : public ::testing::Test {
protected:
    void SetUp() override {
        m_handle = ::dlopen(VANTREL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << ::dlerror();
    }

    void TearDown() override {
        if (m_handle != nullptr) {
            ::dlclose(m_handle);
        }
    }

    template <class Fn>
    Fn Symbol(const char* name) {
        return reinterpret_cast<Fn>(::dlsym(m_handle, name));
    }

    void* m_handle = nullptr;
};

TEST(PluginSymbols, ExportsExactlyTheThirteenEntryPointsUndecorated) {
    FILE* pipe = ::popen("nm -D --defined-only " VANTREL_PLUGIN_PATH " 2>&1", "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        const std::size_t space = text.rfind(' ');
        const std::string type = text.size() > 17 ? text.substr(17, 1) : "";
        if (space != std::string::npos &&
            (type == "T" || type == "W" || type == "D" || type == "B")) {
            names.insert(text.substr(space + 1));
        }
    }
    ASSERT_EQ(::pclose(pipe), 0);
    const std::set<std::string> expected(std::begin(kExports), std::end(kExports));
    EXPECT_EQ(names, expected);
}

TEST_F(Plugin, AnyFactoryPairsWithAnyDeletion) {
    const char* const factories[] = {"CreateIPCapture", "CreateIPCaptureEx", "CreateIPCaptureEx2",
                                     "CreateIPCaptureEx3"};
    const char* const deletions[] = {"DeleteIPCapture", "DeleteIPCaptureEx", "DeleteIPCaptureEx2",
                                     "DeleteIPCaptureEx3"};
    for (const char* factory : factories) {
        for (const char* deletion : deletions) {
            auto create = Symbol<CreateIPCaptureFn>(factory);
            auto destroy = Symbol<DeleteIPCaptureFn>(deletion);
            ASSERT_NE(create, nullptr);
            ASSERT_NE(destroy, nullptr);
            norvane::ipcapture::IIPCaptureDriverEx3* driver = create();
            ASSERT_NE(driver, nullptr);
            EXPECT_EQ(driver->GetVideoCapture(), nullptr) << "nothing before Open";
            EXPECT_EQ(driver->GetReservedObject(), nullptr);
            destroy(driver); // never opened: no camera contacted
        }
    }
    Symbol<DeleteIPCaptureFn>("DeleteIPCapture")(nullptr);
}

TEST_F(Plugin, OpenLineTimeoutsAndUnservedStreamType) {
    norvane::test::FakeDebugSink sink;
    norvane::test::FakeOpenParams params;
    params.device.modelName = "VT-2M100";
    params.connection.streamType = 2;
    auto driver = Symbol<CreateIPCaptureFn>("CreateIPCaptureEx3")();
    ASSERT_TRUE(driver->Open(&sink, nullptr, &params));
    ASSERT_EQ(sink.Messages().size(), 1U);
    EXPECT_EQ(sink.Messages()[0].text, "OPEN DRIVER::Driver name: Vantrel, Device model: VT-2M100, "
                                       "FW: (none), Address: 127.0.0.1:80");
    ASSERT_NE(driver->GetDigitalIO(), nullptr);
    norvane::test::FakeChannelParams channel(640, 480, 40, 50);
    EXPECT_TRUE(driver->GetVideoCapture()->OpenChannel(0, nullptr, &channel));
    int32_t state = 0;
    int32_t reserved = 0;
    EXPECT_FALSE(driver->GetVideoCapture()->GetChannelStatus(0, &state, &reserved, nullptr, 0))
            << "stream type 2 yields no channel";
    Symbol<DeleteIPCaptureFn>("DeleteIPCaptureEx")(driver);
}

TEST_F(Plugin, DeletingAnOpenDriverStopsItsChannelsFirst) {
    norvane::sim::CCameraSim camera{norvane::sim::CameraSimConfig{}};
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;
    norvane::test::FakeDebugSink sink;
    norvane::test::FakeSampleAllocator allocator;
    norvane::test::FakeFrameSink frames;
    norvane::test::FakeOpenParams params;
    params.connection.port = camera.HttpPort();
    params.parameters = {"0", std::to_string(camera.RtspPort())};
    auto driver = Symbol<CreateIPCaptureFn>("CreateIPCapture")();
    ASSERT_TRUE(driver->Open(&sink, &allocator, &params));
    norvane::test::FakeChannelParams channel(640, 480, 40, 50);
    ASSERT_TRUE(driver->GetVideoCapture()->OpenChannel(0, &frames, &channel));
    ASSERT_TRUE(frames.WaitForFrames(5, 20s));
    // Reception as a host that knows the export reads it: the whole struct, and as an older host
    // that knows only its first 8 bytes.
    const auto reception = Symbol<GetChannelReceptionFn>("GetChannelReception");
    NorvaneChannelReception counts{};
    counts.size = sizeof counts;
    ASSERT_EQ(reception(driver, 0, &counts), 1);
    EXPECT_EQ(counts.size, sizeof counts);
    EXPECT_GE(counts.framesDelivered, 4U); // the fifth is counted once the host returns
    EXPECT_GE(counts.packetsReceived, counts.framesDelivered);
    EXPECT_EQ(counts.packetsLost, 0);
    EXPECT_EQ(counts.framesDamaged, 0U);
    NorvaneChannelReception older{};
    older.size = 8;
    older.packetsReceived = 12345;
    ASSERT_EQ(reception(driver, 0, &older), 1);
    EXPECT_EQ(older.size, 8U);
    EXPECT_EQ(older.packetsReceived, 12345U) << "nothing written past the host's size";
    older.size = 7;
    EXPECT_EQ(reception(driver, 0, &older), 0);
    EXPECT_EQ(reception(driver, 1, &counts), 0) << "no channel open at 1";
    EXPECT_EQ(reception(driver, 0, nullptr), 0);
    EXPECT_EQ(reception(nullptr, 0, &counts), 0);
    const auto start = std::chrono::steady_clock::now();
    Symbol<DeleteIPCaptureFn>("DeleteIPCaptureEx3")(driver);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::size_t delivered = frames.FrameCount();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(frames.FrameCount(), delivered) << "no frame after the deletion returned";
    EXPECT_EQ(allocator.Outstanding(), 0U);
    EXPECT_LT(elapsed, 2s);
    EXPECT_TRUE(camera.WaitForRequest(
            [](const norvane::sim::LoggedRequest& r) { return r.method == "TEARDOWN"; }, 2s));
    EXPECT_EQ(sink.CountContaining("is offline. Channel was stopped"), 1U);
    camera.Stop();
}

} // namespace
