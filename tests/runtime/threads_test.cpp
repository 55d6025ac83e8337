#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/threads.h"
#include "support/fakes.h"

namespace norvane::thread {
namespace {

using namespace std::chrono_literals;
using norvane::test::Eventually;

// Records what OnThreadException hears.
template <class Base>
class Heard : public Base {
public:
    std::vector<std::string> Exceptions() {
        std::lock_guard<std::mutex> guard(m_heardLock);
        return m_heard;
    }

protected:
    void OnThreadException(const char* what) noexcept override {
        std::lock_guard<std::mutex> guard(m_heardLock);
        m_heard.emplace_back(what);
    }

private:
    std::mutex m_heardLock;
    std::vector<std::string> m_heard;
};

class CountingTicker : public Heard<CTickerThread> {
public:
    ~CountingTicker() override { StopTicker(); }

    std::atomic<int> ticks{0};
    std::atomic<int> throwOnTick{0}; // this tick (counted from 1) throws

protected:
    void OnTick() override {
        if (++ticks == throwOnTick) {
            throw std::bad_alloc();
        }
    }
};

class Body : public Heard<CSimpleThread> {
public:
    ~Body() override { JoinThread(); }

    void Join() { JoinThread(); }

    std::atomic<int> runs{0};
    bool throws = false;

protected:
    void Run() override {
        ++runs;
        if (throws) {
            throw 42; // not even a std::exception
        }
    }
};

TEST(CSimpleThread, RunsBodyOnceAndEndsWithExitCode123) {
    Body body;
    ASSERT_TRUE(body.Start("body"));
    body.Join();
    EXPECT_EQ(body.runs, 1);
    EXPECT_EQ(body.ExitCode(), 123);
    EXPECT_EQ(body.Name(), "body");
}

TEST(CSimpleThread, StartWhileStartedFailsAndKeepsName) {
    CountingTicker ticker;
    ASSERT_TRUE(ticker.CreateStopEvent());
    ASSERT_TRUE(ticker.Start("first"));
    EXPECT_FALSE(ticker.Start("second"));
    EXPECT_EQ(ticker.Name(), "first");
    EXPECT_TRUE(ticker.StopTicker());
}

TEST(CTickerThread, StopBeforeFirstIntervalNeverTicks) {
    CountingTicker ticker;
    ASSERT_TRUE(ticker.CreateStopEvent());
    EXPECT_EQ(ticker.Interval(), 2000U);
    ASSERT_TRUE(ticker.Start("ticker"));
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ticker.StopTicker());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "stop must wake the tick wait";
    EXPECT_EQ(ticker.ticks, 0);
    EXPECT_EQ(ticker.ExitCode(), 123);
}

TEST(CTickerThread, TicksEveryIntervalAndCanBeRestarted) {
    CountingTicker ticker;
    ticker.SetInterval(10);
    ASSERT_TRUE(ticker.CreateStopEvent());
    ASSERT_TRUE(ticker.Start("ticker"));
    EXPECT_TRUE(Eventually([&] { return ticker.ticks >= 3; }, 5s));
    EXPECT_TRUE(ticker.StopTicker());
    const int after = ticker.ticks;
    ticker.ResetStopEvent();
    ASSERT_TRUE(ticker.Start("ticker"));
    EXPECT_TRUE(Eventually([&] { return ticker.ticks >= after + 2; }, 5s));
    EXPECT_TRUE(ticker.StopTicker());
}

TEST(CTickerThread, StopWithoutStopEventFails) {
    CountingTicker ticker;
    EXPECT_FALSE(ticker.StopTicker());
}

struct Item : CWorkItemThread::IWorkItem {
    Item(int v, std::vector<std::string>& sharedLog, std::mutex& logMutex)
        : value(v)
        , log(sharedLog)
        , mutex(logMutex) {}

    ~Item() override {
        std::lock_guard<std::mutex> guard(mutex);
        log.push_back("delete " + std::to_string(value));
    }

    int value;
    std::vector<std::string>& log;
    std::mutex& mutex;
};

class Worker : public Heard<CWorkItemThread> {
public:
    ~Worker() override { StopWorker(); }

    std::vector<std::string> log;
    std::mutex mutex;
    std::atomic<bool> block{false};
    std::atomic<bool> inProcess{false};

    std::unique_ptr<IWorkItem> MakeItem(int value) {
        return std::make_unique<Item>(value, log, mutex);
    }

    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> guard(mutex);
        return log;
    }

protected:
    void Process(IWorkItem& item) override {
        inProcess = true;
        while (block) {
            std::this_thread::sleep_for(1ms);
        }
        const int value = static_cast<Item&>(item).value;
        if (value < 0) {
            throw std::runtime_error("item " + std::to_string(value));
        }
        std::lock_guard<std::mutex> guard(mutex);
        log.push_back("process " + std::to_string(value));
    }
};

TEST(CWorkItemThread, ProcessesInPostingOrderDeletingEachAfterItsProcess) {
    Worker worker;
    ASSERT_TRUE(worker.StartWorker("worker"));
    EXPECT_TRUE(worker.Post(worker.MakeItem(1)));
    EXPECT_TRUE(worker.Post(worker.MakeItem(2)));
    EXPECT_TRUE(worker.Post(worker.MakeItem(3)));
    ASSERT_TRUE(Eventually([&] { return worker.Log().size() == 6; }, 5s));
    EXPECT_EQ(worker.Log(), (std::vector<std::string>{"process 1", "delete 1", "process 2",
                                                      "delete 2", "process 3", "delete 3"}));
}

TEST(CWorkItemThread, PostRefusedBeforeStartAndForNullItem) {
    Worker worker;
    EXPECT_FALSE(worker.Post(worker.MakeItem(1)));
    EXPECT_EQ(worker.Log(), std::vector<std::string>{"delete 1"});
    ASSERT_TRUE(worker.StartWorker("worker"));
    EXPECT_FALSE(worker.Post(nullptr));
    worker.StopWorker();
    EXPECT_FALSE(worker.Post(worker.MakeItem(2)));
}

TEST(CWorkItemThread, StopFinishesCurrentItemAndDropsQueuedOnes) {
    Worker worker;
    worker.block = true;
    ASSERT_TRUE(worker.StartWorker("worker"));
    ASSERT_TRUE(worker.Post(worker.MakeItem(1)));
    ASSERT_TRUE(Eventually([&] { return worker.inProcess.load(); }, 5s));
    ASSERT_TRUE(worker.Post(worker.MakeItem(2)));
    ASSERT_TRUE(worker.Post(worker.MakeItem(3)));
    std::thread releaser([&] {
        std::this_thread::sleep_for(30ms);
        worker.block = false;
    });
    worker.StopWorker();
    releaser.join();
    EXPECT_EQ(worker.Log(),
              (std::vector<std::string>{"process 1", "delete 1", "delete 2", "delete 3"}));
    EXPECT_EQ(worker.ExitCode(), 123);
}

// An exception escaping the work of a thread (a body, a tick, an item, as std::bad_alloc may in a
// 32-bit host) must not end the process: it is heard, and the thread goes on or ends normally.
TEST(ThreadException, IsHeardAndTheThreadGoesOnOrEndsNormally) {
    Body body;
    body.throws = true;
    ASSERT_TRUE(body.Start("body"));
    body.Join();
    EXPECT_EQ(body.ExitCode(), 123);
    EXPECT_EQ(body.Exceptions(), std::vector<std::string>{"an exception of unknown type"});

    CountingTicker ticker;
    ticker.SetInterval(5);
    ticker.throwOnTick = 2;
    ASSERT_TRUE(ticker.CreateStopEvent());
    ASSERT_TRUE(ticker.Start("ticker"));
    EXPECT_TRUE(Eventually([&] { return ticker.ticks >= 4; }, 5s)) << "ticks go on";
    EXPECT_TRUE(ticker.StopTicker());
    EXPECT_EQ(ticker.Exceptions(), std::vector<std::string>{std::bad_alloc().what()});

    Worker worker;
    ASSERT_TRUE(worker.StartWorker("worker"));
    EXPECT_TRUE(worker.Post(worker.MakeItem(-1)));
    EXPECT_TRUE(worker.Post(worker.MakeItem(2)));
    ASSERT_TRUE(Eventually([&] { return worker.Log().size() == 3; }, 5s));
    worker.StopWorker();
    EXPECT_EQ(worker.Log(), (std::vector<std::string>{"delete -1", "process 2", "delete 2"}));
    EXPECT_EQ(worker.Exceptions(), std::vector<std::string>{"item -1"});
}

} // namespace
} // namespace norvane::thread
