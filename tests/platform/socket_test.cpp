#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/socket.h"
#include "platform/wait.h"

namespace norvane::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

CSocket BoundUdp(std::uint16_t port = 0) {
    CSocket socket = CSocket::CreateUdp();
    EXPECT_TRUE(socket.IsValid());
    EXPECT_TRUE(socket.Bind(LoopbackAddress(), port));
    return socket;
}

TEST(CSocket, BindToPortZeroReportsTheChosenPort) {
    CSocket socket = BoundUdp();
    EXPECT_NE(socket.LocalPort(), 0);
}

TEST(CSocket, BindingATakenPortFailsWithAddressInUse) {
    CSocket first = BoundUdp();
    CSocket second = CSocket::CreateUdp();
    EXPECT_FALSE(second.Bind(LoopbackAddress(), first.LocalPort()));
    EXPECT_EQ(CSocket::LastError(), SocketError::AddressInUse);
}

TEST(CSocket, DatagramLargerThanBufferIsReportedAndLost) {
    CSocket receiver = BoundUdp();
    CSocket sender = CSocket::CreateUdp();
    const std::vector<std::uint8_t> big(5000, 0xAB);
    const std::vector<std::uint8_t> small(10, 0xCD);
    const SocketAddress to{LoopbackAddress(), receiver.LocalPort()};
    ASSERT_TRUE(sender.SendTo(big, to).Ok());
    ASSERT_TRUE(sender.SendTo(small, to).Ok());
    std::vector<std::uint8_t> buffer(4096);
    SocketAddress from;
    IoResult result = receiver.ReceiveFrom(buffer, &from);
    EXPECT_EQ(result.error, SocketError::MessageTooLong);
    result = receiver.ReceiveFrom(buffer, &from);
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.bytes, small.size());
    EXPECT_EQ(from.address, LoopbackAddress());
}

TEST(CSocket, ZeroLengthDatagramIsReceivedAsZeroBytes) {
    CSocket receiver = BoundUdp();
    CSocket sender = CSocket::CreateUdp();
    ASSERT_TRUE(sender.SendTo({}, {LoopbackAddress(), receiver.LocalPort()}).Ok());
    std::vector<std::uint8_t> buffer(16);
    const IoResult result = receiver.ReceiveFrom(buffer, nullptr);
    EXPECT_TRUE(result.Ok());
    EXPECT_EQ(result.bytes, 0U);
}

TEST(CSocket, ReceiveTimeoutIsReportedAsTimedOut) {
    CSocket receiver = BoundUdp();
    ASSERT_TRUE(receiver.SetReceiveTimeout(30));
    std::vector<std::uint8_t> buffer(16);
    EXPECT_EQ(receiver.ReceiveFrom(buffer, nullptr).error, SocketError::TimedOut);
    ASSERT_TRUE(receiver.SetNonBlocking(true));
    EXPECT_EQ(receiver.ReceiveFrom(buffer, nullptr).error, SocketError::WouldBlock);
}

TEST(CSocket, NonBlockingConnectCompletesAgainstListener) {
    CSocket listener = CSocket::CreateTcp();
    ASSERT_TRUE(listener.Bind(LoopbackAddress(), 0));
    ASSERT_TRUE(listener.Listen(4));
    CSocket client = CSocket::CreateTcp();
    ASSERT_TRUE(client.SetNonBlocking(true));
    const ConnectResult started = client.Connect({LoopbackAddress(), listener.LocalPort()});
    ASSERT_NE(started, ConnectResult::Failed);
    if (started == ConnectResult::InProgress) {
        EXPECT_EQ(WaitSocket(client, WaitFor::Write, nullptr, 2000), WaitResult::Ready);
    }
    EXPECT_EQ(client.PendingError(), SocketError::None);
    SocketAddress peer;
    CSocket accepted = listener.Accept(&peer);
    EXPECT_TRUE(accepted.IsValid());
    EXPECT_EQ(peer.address, LoopbackAddress());
}

TEST(CSocket, MovedFromSocketIsInvalidAndTargetOwnsHandle) {
    CSocket a = BoundUdp();
    const NativeSocket handle = a.Native();
    CSocket b = std::move(a);
    EXPECT_FALSE(a.IsValid()); // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_EQ(b.Native(), handle);
}

TEST(WaitSocket, StopEventEndsTheWaitAtOnce) {
    CSocket socket = BoundUdp();
    auto stop = CEventHandle::Create(CEventHandle::Kind::ManualReset);
    ASSERT_NE(stop, nullptr);
    const auto start = Clock::now();
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        stop->Set();
    });
    EXPECT_EQ(WaitSocket(socket, WaitFor::Read, stop.get(), 10000), WaitResult::Stopped);
    setter.join();
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST(WaitSocket, ReportsReadableAndTimeout) {
    CSocket receiver = BoundUdp();
    EXPECT_EQ(WaitSocket(receiver, WaitFor::Read, nullptr, 10), WaitResult::Timeout);
    CSocket sender = CSocket::CreateUdp();
    const std::uint8_t byte = 1;
    ASSERT_TRUE(sender.SendTo({&byte, 1}, {LoopbackAddress(), receiver.LocalPort()}).Ok());
    EXPECT_EQ(WaitSocket(receiver, WaitFor::Read, nullptr, 2000), WaitResult::Ready);
}

} // namespace
} // namespace norvane::platform
