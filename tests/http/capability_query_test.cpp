#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>

#include <gtest/gtest.h>

#include "http/capability_query.h"
#include "http/http_utils.h"
#include "lighttpd_server.h"
#include "norvane/exports.h"
#include "platform/socket.h"
#include "platform/wait.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using test::CLighttpdServer;
using test::FakeCapabilityCallback;
using test::FakeCapabilityResults;
using Clock = std::chrono::steady_clock;

constexpr auto kCallbackWait = std::chrono::seconds(30);

// The plug-in as a host sees it: loaded at run time, reached only through its exports.
class Plugin {
public:
    Plugin() : m_handle(::dlopen(NORVANE_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL)) {
        if (m_handle != nullptr) {
            init = Resolve<InitCapabilityQueryFn>("InitCapabilityQuery");
            start = Resolve<StartCapabilityQueryFn>("StartCapabilityQuery");
            terminate = Resolve<TerminateCapabilityQueryFn>("TerminateCapabilityQuery");
            uninit = Resolve<UninitCapabilityQueryFn>("UninitCapabilityQuery");
        }
    }

    ~Plugin() {
        if (m_handle != nullptr) {
            ::dlclose(m_handle);
        }
    }

    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    [[nodiscard]] bool Loaded() const {
        return init != nullptr && start != nullptr && terminate != nullptr && uninit != nullptr;
    }

    InitCapabilityQueryFn init = nullptr;
    StartCapabilityQueryFn start = nullptr;
    TerminateCapabilityQueryFn terminate = nullptr;
    UninitCapabilityQueryFn uninit = nullptr;

private:
    template <class Fn>
    Fn Resolve(const char* name) {
        return reinterpret_cast<Fn>(::dlsym(m_handle, name));
    }

    void* m_handle;
};

#define LOAD_PLUGIN(plugin) ASSERT_TRUE((plugin).Loaded()) << ::dlerror()

#define START_SERVER(server)                                                                       \
    do {                                                                                           \
        const std::string missing = CLighttpdServer::MissingTool(CLighttpdServer::Auth::None);     \
        if (!missing.empty()) {                                                                    \
            GTEST_SKIP() << "skipped: " << missing;                                                \
        }                                                                                          \
        ASSERT_TRUE((server).Start()) << (server).Error();                                         \
    } while (false)

std::uint16_t ClosedPort() {
    platform::CSocket socket = platform::CSocket::CreateTcp();
    EXPECT_TRUE(socket.Bind(platform::LoopbackAddress(), 0));
    return socket.LocalPort();
}

void AnswerAsA60HzTwoMegapixelCamera(CLighttpdServer& server) {
    server.SetAnswer("get_setup.system.info", "brand=Vantrel\r\nhwver=NV-2M\r\nswver=2.1.0\r\n");
    server.SetAnswer("get_setup.video.codec", "ff_mode=60\r\n");
    server.SetAnswer("get_setup.event.alarm_port", "in_enable=yes\r\nout_mode=1\r\n");
}

TEST(CapabilityQueryExports, SucceedsAgainstACamera) {
    CLighttpdServer server;
    START_SERVER(server);
    AnswerAsA60HzTwoMegapixelCamera(server);
    Plugin plugin;
    LOAD_PLUGIN(plugin);
    FakeCapabilityCallback callback;
    FakeCapabilityCallback other;
    FakeCapabilityResults results;
    ASSERT_EQ(plugin.init(&callback, 0), 1);
    EXPECT_EQ(plugin.init(&other, 1), 0); // the first client stays
    // Only the low 16 bits of the port count.
    ASSERT_EQ(plugin.start("127.0.0.1", static_cast<std::int32_t>(0x50000U + server.Port()), "", "",
                           &results),
              1);
    ASSERT_TRUE(callback.WaitForEvents(1, kCallbackWait));
    EXPECT_EQ(plugin.uninit(), 1);
    EXPECT_EQ(callback.Events(), std::vector<std::string>{"succeeded"});
    EXPECT_TRUE(other.Events().empty());

    const std::vector<std::string> calls = results.Calls();
    ASSERT_EQ(calls.size(), 46U);
    EXPECT_EQ(calls.front(), "Intervals(1).Add(500)");
    EXPECT_EQ(calls[9], "Intervals(1).SetDefault(33)");
    EXPECT_EQ(calls[12], "SetModelName(Vantrel NV-2M)");
    EXPECT_EQ(calls[29], "Resolutions.Add(1920x1080,1920,1080,33)");
    EXPECT_EQ(calls[31], "Field(2).SetText(" + std::to_string(server.Port()) + ")");
    EXPECT_EQ(calls[37], "Property(1).SetText(1)");
    EXPECT_EQ(calls.back(), "Property(3).SetText(2.1.0)");
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"||vtl_api=get_setup.system.info",
                                        "||vtl_api=get_setup.video.codec",
                                        "||vtl_api=get_setup.event.alarm_port"}));

    // After Uninit the library takes a new client.
    EXPECT_EQ(plugin.init(&other, 0), 1);
    EXPECT_EQ(plugin.uninit(), 1);
}

TEST(CapabilityQueryExports, FailuresGiveOneOnFailed) {
    CLighttpdServer server;
    START_SERVER(server);
    server.SetAnswer("get_setup.system.info", "brand=Vantrel\r\nswver=1\r\n"); // no hwver
    Plugin plugin;
    LOAD_PLUGIN(plugin);

    struct Case {
        std::string name;
        std::uint16_t port;
        bool withResults;
        std::string event;
    };

    const Case cases[] = {
            {"unreachable", ClosedPort(), true, "failed(3,Failed to get camera properties)"},
            {"no hwver", server.Port(), true, "failed(3,Failed to get camera properties)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCapabilityCallback callback;
        FakeCapabilityResults results;
        ASSERT_EQ(plugin.init(&callback, 0), 1);
        ASSERT_EQ(plugin.start("127.0.0.1", c.port, "admin", "pw", &results), 1);
        ASSERT_TRUE(callback.WaitForEvents(1, kCallbackWait));
        EXPECT_EQ(plugin.uninit(), 1);
        EXPECT_EQ(callback.Events(), std::vector<std::string>{c.event});
        EXPECT_TRUE(results.Calls().empty());
    }
}

TEST(CapabilityQueryExports, NullResultsObjectFailsTheSave) {
    CLighttpdServer server;
    START_SERVER(server);
    AnswerAsA60HzTwoMegapixelCamera(server);
    Plugin plugin;
    LOAD_PLUGIN(plugin);
    FakeCapabilityCallback callback;
    ASSERT_EQ(plugin.init(&callback, 1), 1);
    ASSERT_EQ(plugin.start("127.0.0.1", server.Port(), nullptr, nullptr, nullptr), 1);
    ASSERT_TRUE(callback.WaitForEvents(1, kCallbackWait));
    EXPECT_EQ(plugin.uninit(), 1);
    EXPECT_EQ(callback.Events(),
              std::vector<std::string>{"failed(3,Failed to save capability query results)"});
}

TEST(CapabilityQueryExports, UninitDuringAHangingRequestReturnsAtOnceWithoutCallback) {
    platform::CSocket listener = platform::CSocket::CreateTcp();
    ASSERT_TRUE(listener.Bind(platform::LoopbackAddress(), 0));
    ASSERT_TRUE(listener.Listen(4)); // never accepted: the request hangs for its 10 s time-out
    Plugin plugin;
    LOAD_PLUGIN(plugin);
    FakeCapabilityCallback callback;
    FakeCapabilityResults results;
    ASSERT_EQ(plugin.init(&callback, 0), 1);
    ASSERT_EQ(plugin.start("127.0.0.1", listener.LocalPort(), "", "", &results), 1);
    ASSERT_EQ(platform::WaitSocket(listener, platform::WaitFor::Read, nullptr, 5000),
              platform::WaitResult::Ready);
    EXPECT_EQ(plugin.terminate(), 1); // only skips later steps; the request still hangs
    const auto start = Clock::now();
    EXPECT_EQ(plugin.uninit(), 1);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(callback.Events().empty());
    // Nothing may come later either.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(callback.Events().empty());
    EXPECT_TRUE(results.Calls().empty());
}

TEST(CapabilityQueryExports, CallsOutsideAQueryAreHarmless) {
    Plugin plugin;
    LOAD_PLUGIN(plugin);
    EXPECT_EQ(plugin.terminate(), 1);
    EXPECT_EQ(plugin.uninit(), 1);
    EXPECT_EQ(plugin.uninit(), 1);
    // A start without a client runs a worker that ends without any call.
    FakeCapabilityResults results;
    EXPECT_EQ(plugin.start("127.0.0.1", ClosedPort(), "", "", &results), 1);
    EXPECT_EQ(plugin.uninit(), 1);
    EXPECT_TRUE(results.Calls().empty());
}

// Properties that read nothing: the query succeeds at once, or the factory fails.
class InstantProperties : public CCameraPropertiesEx {
public:
    InstantProperties(const DEVICE_INFO& device, std::uint32_t standard)
        : CCameraPropertiesEx(device, standard) {}

    bool Query(std::int32_t&) override {
        m_model = "Instant";
        m_queried = 1;
        return true;
    }
};

TEST(CCapabilityQuery, FactoryFailureAndSecondStart) {
    {
        CCapabilityQuery query([](const DEVICE_INFO&, std::uint32_t) {
            return std::unique_ptr<CCameraPropertiesEx>();
        });
        FakeCapabilityCallback callback;
        FakeCapabilityResults results;
        ASSERT_EQ(query.Init(&callback, 0), 1);
        ASSERT_EQ(query.Start("cam", 80, "", "", &results), 1);
        ASSERT_TRUE(callback.WaitForEvents(1, kCallbackWait));
        EXPECT_EQ(query.Uninit(), 1);
        EXPECT_EQ(callback.Events(),
                  std::vector<std::string>{"failed(3,Failed to create camera properties object)"});
    }
    {
        std::vector<std::string> devices;
        CCapabilityQuery query([&](const DEVICE_INFO& device, std::uint32_t standard) {
            devices.push_back(device.address + ":" + std::to_string(device.port) + ":" +
                              device.userName + ":" + device.password + ":" +
                              std::to_string(device.requestTimeout) + ":" +
                              std::to_string(standard));
            return std::make_unique<InstantProperties>(device, standard);
        });
        FakeCapabilityCallback callback;
        FakeCapabilityResults results;
        ASSERT_EQ(query.Init(&callback, 7), 1);
        ASSERT_EQ(query.Start("cam", 0x12345, "u", "p", &results), 1);
        EXPECT_EQ(query.Start("cam", 80, "u", "p", &results), 0); // one query per round
        ASSERT_TRUE(callback.WaitForEvents(1, kCallbackWait));
        EXPECT_EQ(query.Uninit(), 1);
        EXPECT_EQ(callback.Events(), std::vector<std::string>{"succeeded"});
        EXPECT_EQ(devices, std::vector<std::string>{"cam:9029:u:p:10000:1"});
    }
}

TEST(MessageAllowed, CountsEveryCallFromManyThreads) {
    class Reporter : public IDebugMessage {
    public:
        void DebugMessage(unsigned char, const char*, ...) override {}
    } reporter;

    constexpr int kThreads = 4;
    constexpr int kCalls = 1000;
    std::atomic<int> allowed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kCalls; ++i) {
                if (HUtils::MessageAllowed(reporter)) {
                    ++allowed;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(reporter.m_messageCount.load(), static_cast<std::uint32_t>(kThreads * kCalls));
    // 1..14, every 16th of 16..254 (15 values), every 256th of 256..3840 (15 values).
    EXPECT_EQ(allowed.load(), 14 + 15 + 15);
}

} // namespace
} // namespace norvane
