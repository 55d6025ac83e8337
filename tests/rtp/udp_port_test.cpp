#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/udp_port.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using platform::CSocket;
using platform::LoopbackAddress;
using platform::SocketAddress;
using test::Eventually;
using Bytes8 = std::vector<std::uint8_t>;

class RecordingUser : public IUDPPortUser {
public:
    bool OnReceive(CUDPPort* port, const SocketAddress& from, const std::uint8_t* data,
                   std::int32_t length) override {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_datagrams.emplace_back(data, data + length);
            m_senders.push_back(from);
        }
        if (closeOnReceive.exchange(false)) {
            EXPECT_TRUE(port->Close());
        }
        return expectMore.load();
    }

    void OnTimeout() override { ++timeouts; }

    void OnClosed(CUDPPort*) override { ++closed; }

    std::vector<Bytes8> Datagrams() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_datagrams;
    }

    std::vector<SocketAddress> Senders() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_senders;
    }

    bool WaitFor(std::size_t count) const {
        return Eventually([&] { return Datagrams().size() >= count; }, 5s);
    }

    std::atomic<bool> closeOnReceive{false}; // the next datagram closes the port
    std::atomic<bool> expectMore{false};     // what OnReceive answers
    std::atomic<int> timeouts{0};
    std::atomic<int> closed{0};

private:
    mutable std::mutex m_mutex;
    std::vector<Bytes8> m_datagrams;
    std::vector<SocketAddress> m_senders;
};

class Sender {
public:
    Sender() : m_socket(CSocket::CreateUdp()) { EXPECT_TRUE(m_socket.Bind(LoopbackAddress(), 0)); }

    void Send(std::uint16_t port, const Bytes8& data) {
        EXPECT_TRUE(m_socket.SendTo(data, {LoopbackAddress(), port}).Ok());
    }

    std::uint16_t Port() const { return m_socket.LocalPort(); }

private:
    CSocket m_socket;
};

TEST(ClassifyWaitError, OnlyLostSocketServiceEndsReception) {
    using platform::SocketError;
    const std::vector<std::pair<SocketError, UdpWaitAction>> cases = {
            {SocketError::BadAddress, UdpWaitAction::Fatal},
            {SocketError::NetworkDown, UdpWaitAction::Fatal},
            {SocketError::NotInitialised, UdpWaitAction::Fatal},
            {SocketError::InvalidArgument, UdpWaitAction::Receive},
            {SocketError::Interrupted, UdpWaitAction::Retry},
            {SocketError::MessageTooLong, UdpWaitAction::Retry},
            {SocketError::ConnectionReset, UdpWaitAction::Retry},
            {SocketError::Other, UdpWaitAction::Retry},
    };
    for (const auto& [error, action] : cases) {
        SCOPED_TRACE(static_cast<int>(error));
        EXPECT_EQ(ClassifyWaitError(error), action);
    }
}

TEST(CUDPPort, OpenReportsItsResults) {
    RecordingUser user;
    CUDPPort port;
    port.SetUser(&user);
    ASSERT_EQ(port.Open(0), UdpOpenResult::Opened);
    const std::uint16_t bound = port.LocalPort();
    EXPECT_NE(bound, 0);
    EXPECT_EQ(port.Open(0), UdpOpenResult::AlreadyOpen);
    EXPECT_EQ(port.LocalPort(), bound);

    CUDPPort second;
    EXPECT_EQ(second.Open(bound), UdpOpenResult::BindFailed);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.LocalPort(), 0);
    EXPECT_EQ(second.Open(0), UdpOpenResult::Opened);
}

TEST(CUDPPort, AsksForALargeReceiveBuffer) {
    CUDPPort port;
    ASSERT_EQ(port.Open(0), UdpOpenResult::Opened);
    std::uint64_t systemMax = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> systemMax;
    if (systemMax == 0) {
        GTEST_SKIP() << "the system's receive buffer limit is not readable here";
    }
    const std::uint64_t expected =
            std::min<std::uint64_t>(CUDPPort::kSocketReceiveBufferBytes, systemMax);
    EXPECT_GE(port.GrantedReceiveBufferSize(), expected);
}

TEST(CUDPPort, DatagramsArriveInOrderWithTheirSender) {
    struct Mode {
        bool drain;
        bool expectMore;
        const char* name;
    };

    for (const Mode mode : {Mode{true, false, "draining"}, Mode{true, true, "gathering bursts"},
                            Mode{false, false, "one per wait"}}) {
        SCOPED_TRACE(mode.name);
        RecordingUser user;
        user.expectMore = mode.expectMore;
        CUDPPort port;
        port.SetUser(&user);
        port.SetDrainQueued(mode.drain);
        ASSERT_EQ(port.Open(0), UdpOpenResult::Opened);
        Sender sender;
        constexpr std::size_t kCount = 200;
        for (std::size_t i = 0; i < kCount; ++i) {
            sender.Send(port.LocalPort(), Bytes8(100 + i, static_cast<std::uint8_t>(i)));
        }
        ASSERT_TRUE(user.WaitFor(kCount));
        const auto datagrams = user.Datagrams();
        for (std::size_t i = 0; i < kCount; ++i) {
            ASSERT_EQ(datagrams[i], Bytes8(100 + i, static_cast<std::uint8_t>(i)));
        }
        EXPECT_EQ(user.Senders()[0], (SocketAddress{LoopbackAddress(), sender.Port()}));
    }
}

// The pause that lets a burst gather follows only a datagram that announces more, and the stop
// event ends it: a long pause must neither delay the next burst nor Close.
TEST(CUDPPort, BurstPauseFollowsOnlyAnOpenBurstAndEndsAtClose) {
    RecordingUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.SetGatherMs(60000);
    ASSERT_EQ(port.Open(0), UdpOpenResult::Opened);
    Sender sender;
    sender.Send(port.LocalPort(), {1});
    ASSERT_TRUE(user.WaitFor(1));
    sender.Send(port.LocalPort(), {2}); // no pause after a finished burst: arrives at once
    ASSERT_TRUE(user.WaitFor(2));

    user.expectMore = true;
    sender.Send(port.LocalPort(), {3});
    ASSERT_TRUE(user.WaitFor(3));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.Close()); // the thread is in its pause now
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(user.closed.load(), 1);
}

TEST(CUDPPort, EmptyDatagramDoesNotEndReception) {
    RecordingUser user;
    CUDPPort port;
    port.SetUser(&user);
    ASSERT_EQ(port.Open(0), UdpOpenResult::Opened);
    Sender sender;
    sender.Send(port.LocalPort(), {});
    sender.Send(port.LocalPort(), {1, 2, 3});
    ASSERT_TRUE(user.WaitFor(1));
    EXPECT_EQ(user.Datagrams()[0], (Bytes8{1, 2, 3}));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(user.closed.load(), 0);
}

TEST(CUDPPort, OversizedDatagramIsLostAndTheBufferGrows) {
    RecordingUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.SetBufferSize(4096);
    ASSERT_EQ(port.Open(0), UdpOpenResult::Opened);
    Sender sender;
    sender.Send(port.LocalPort(), Bytes8(5000, 0xAB));
    sender.Send(port.LocalPort(), {7});
    ASSERT_TRUE(user.WaitFor(1));
    EXPECT_EQ(user.Datagrams()[0], Bytes8{7});
    EXPECT_EQ(port.BufferSize(), 5120U);
    sender.Send(port.LocalPort(), Bytes8(5000, 0xCD));
    ASSERT_TRUE(user.WaitFor(2));
    EXPECT_EQ(user.Datagrams()[1], Bytes8(5000, 0xCD));
}

TEST(CUDPPort, IdlePortReportsTimeouts) {
    RecordingUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.SetTimeout(0, 20000);
    ASSERT_EQ(port.Open(0), UdpOpenResult::Opened);
    EXPECT_TRUE(Eventually([&] { return user.timeouts.load() >= 2; }, 5s));
}

TEST(CUDPPort, CloseEndsTheReceiveThreadAtOnce) {
    RecordingUser user;
    CUDPPort port;
    port.SetUser(&user);
    ASSERT_EQ(port.Open(0), UdpOpenResult::Opened); // five-second readiness waits
    ASSERT_TRUE(Eventually([&] { return port.ThreadId() != 0; }, 5s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(user.closed.load(), 1);
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(user.closed.load(), 1);
    EXPECT_EQ(port.LocalPort(), 0);
    EXPECT_EQ(user.timeouts.load(), 0);
}

TEST(CUDPPort, CloseFromInsideOnReceiveDoesNotWaitForItself) {
    RecordingUser user;
    CUDPPort port;
    user.closeOnReceive = true;
    port.SetUser(&user);
    ASSERT_EQ(port.Open(0), UdpOpenResult::Opened);
    Sender sender;
    sender.Send(port.LocalPort(), {1});
    ASSERT_TRUE(Eventually([&] { return user.closed.load() == 1; }, 5s));
    EXPECT_FALSE(port.IsOpen());
    // The port opens again; the ended thread is collected first.
    ASSERT_EQ(port.Open(0), UdpOpenResult::Opened);
    sender.Send(port.LocalPort(), {2});
    ASSERT_TRUE(user.WaitFor(2));
}

} // namespace
} // namespace norvane
