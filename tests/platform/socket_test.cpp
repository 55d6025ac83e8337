#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/event_handle.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/wait.h"
#include "support/fakes.h"

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

// An IPv4 address in network byte order, whatever the machine's byte order.
std::uint32_t NetworkOrder(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

// Whether this machine can name itself "localhost": Windows always can; elsewhere the hosts file
// must say so (a minimal root file system may have none).
bool HasLocalhostName() {
#ifdef _WIN32
    return true;
#else
    std::ifstream hosts("/etc/hosts");
    std::string line;
    while (std::getline(hosts, line)) {
        if (line.rfind("127.0.0.1", 0) == 0 && line.find("localhost") != std::string::npos) {
            return true;
        }
    }
    return false;
#endif
}

TEST(ResolveIPv4, EmptyIsZeroDottedResolvesToItselfLocalhostToLoopback) {
    EXPECT_EQ(ResolveIPv4(""), 0U);
    EXPECT_EQ(ResolveIPv4("192.0.2.10"), NetworkOrder(192, 0, 2, 10));
    if (!HasLocalhostName()) {
        GTEST_SKIP() << "no 127.0.0.1 localhost line in /etc/hosts: name lookup not checked";
    }
    EXPECT_EQ(ResolveIPv4("localhost"), NetworkOrder(127, 0, 0, 1));
}

// With a dead resolver, a lookup that may be stopped ends on the stop or its time-out; a dotted
// address needs no lookup at all.
TEST(ResolveIPv4, StoppableLookupEndsOnStopOrTimeoutAndDottedNeedsNoLookup) {
    test::HangingNameLookup resolver(NetworkOrder(192, 0, 2, 7));
    auto stop = CEventHandle::Create(CEventHandle::Kind::ManualReset);
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(ResolveIPv4Stoppable("192.0.2.9", stop.get(), -1), NetworkOrder(192, 0, 2, 9));
    EXPECT_EQ(resolver.Entered(), 0);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ResolveIPv4Stoppable("camera.test", nullptr, 100), 0U);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop->Set();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(ResolveIPv4Stoppable("camera.test", stop.get(), -1), 0U);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    stopper.join();

    resolver.Release();
    stop->Reset();
    EXPECT_EQ(ResolveIPv4Stoppable("camera.test", stop.get(), 5000), NetworkOrder(192, 0, 2, 7));
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

// A batch takes what is queued, in order, each with its sender and its own verdict, and leaves
// an empty non-blocking socket with WouldBlock; a blocking one times out as ReceiveFrom does.
TEST(CSocket, BatchReceiveTakesTheQueuedDatagramsInOrder) {
    CSocket receiver = BoundUdp();
    ASSERT_TRUE(receiver.SetNonBlocking(true));
    CSocket sender = BoundUdp();
    const SocketAddress to{LoopbackAddress(), receiver.LocalPort()};
    const std::vector<std::vector<std::uint8_t>> sent{std::vector<std::uint8_t>(10, 1),
                                                      std::vector<std::uint8_t>(5000, 2),
                                                      std::vector<std::uint8_t>(1400, 3),
                                                      {}};
    for (const auto& datagram : sent) {
        ASSERT_TRUE(sender.SendTo(datagram, to).Ok());
    }
    std::vector<std::uint8_t> storage(8 * 4096);
    std::vector<Datagram> slots(8);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slots[i].buffer = {storage.data() + i * 4096, 4096};
    }
    SocketError error = SocketError::Other;
    std::size_t received = 0;
    // Loopback queues a datagram before SendTo returns; the loop only guards a slow system.
    for (int round = 0; round < 50 && received < sent.size(); ++round) {
        const std::size_t got = receiver.ReceiveBatch(std::span(slots).subspan(received), error);
        received += got;
        if (got == 0) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ASSERT_EQ(received, sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(slots[i].tooLong, i == 1);
        const std::size_t expected = std::min<std::size_t>(sent[i].size(), 4096);
        ASSERT_EQ(slots[i].bytes, expected);
        EXPECT_TRUE(std::equal(sent[i].begin(),
                               sent[i].begin() + static_cast<std::ptrdiff_t>(expected),
                               slots[i].buffer.begin()));
        EXPECT_EQ(slots[i].from, (SocketAddress{LoopbackAddress(), sender.LocalPort()}));
    }
    EXPECT_EQ(receiver.ReceiveBatch(slots, error), 0U);
    EXPECT_EQ(error, SocketError::WouldBlock);

    CSocket blocking = BoundUdp();
    ASSERT_TRUE(blocking.SetReceiveTimeout(50));
    EXPECT_EQ(blocking.ReceiveBatch(slots, error), 0U);
    EXPECT_EQ(error, SocketError::TimedOut);
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

// The waits borrow the socket on some systems (Windows ties it to an event for the wait, which
// makes it non-blocking); afterwards a blocking socket must block again, and a wait must see
// only data that has not been read yet.
TEST(WaitSocket, LeavesABlockingSocketBlockingAndRearmsForNewData) {
    CSocket receiver = BoundUdp();
    ASSERT_TRUE(receiver.SetReceiveTimeout(30));
    CSocket sender = CSocket::CreateUdp();
    const std::uint8_t byte = 7;
    const SocketAddress to{LoopbackAddress(), receiver.LocalPort()};
    std::vector<std::uint8_t> buffer(4);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(sender.SendTo({&byte, 1}, to).Ok());
        ASSERT_EQ(WaitSocket(receiver, WaitFor::Read, nullptr, 2000), WaitResult::Ready);
        const IoResult got = receiver.ReceiveFrom(buffer, nullptr);
        EXPECT_TRUE(got.Ok());
        EXPECT_EQ(got.bytes, 1U);
        EXPECT_EQ(WaitSocket(receiver, WaitFor::Read, nullptr, 10), WaitResult::Timeout);
        EXPECT_EQ(receiver.ReceiveFrom(buffer, nullptr).error, SocketError::TimedOut);
    }
}

TEST(WaitSocket, SetStopEventWinsOverDataAndAnAutoResetOneIsConsumed) {
    CSocket receiver = BoundUdp();
    CSocket sender = CSocket::CreateUdp();
    const std::uint8_t byte = 1;
    ASSERT_TRUE(sender.SendTo({&byte, 1}, {LoopbackAddress(), receiver.LocalPort()}).Ok());
    ASSERT_EQ(WaitSocket(receiver, WaitFor::Read, nullptr, 2000), WaitResult::Ready);
    auto stop = CEventHandle::Create(CEventHandle::Kind::AutoReset, true);
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(WaitSocket(receiver, WaitFor::Read, stop.get(), 2000), WaitResult::Stopped);
    EXPECT_EQ(WaitSocket(receiver, WaitFor::Read, stop.get(), 2000), WaitResult::Ready);
}

TEST(WaitSocket, FailedNonBlockingConnectIsReadyWithItsError) {
    std::uint16_t closedPort = 0;
    {
        CSocket probe = CSocket::CreateTcp();
        ASSERT_TRUE(probe.Bind(LoopbackAddress(), 0));
        closedPort = probe.LocalPort();
    }
    CSocket client = CSocket::CreateTcp();
    ASSERT_TRUE(client.SetNonBlocking(true));
    const ConnectResult started = client.Connect({LoopbackAddress(), closedPort});
    if (started == ConnectResult::InProgress) {
        EXPECT_EQ(WaitSocket(client, WaitFor::Write, nullptr, 5000), WaitResult::Ready);
        EXPECT_EQ(client.PendingError(), SocketError::ConnectionRefused);
    } else {
        EXPECT_EQ(started, ConnectResult::Failed);
    }
}

TEST(WaitEvents, EarliestSetEventWinsAndNullEntriesNeverFire) {
    auto first = CEventHandle::Create(CEventHandle::Kind::ManualReset);
    auto second = CEventHandle::Create(CEventHandle::Kind::AutoReset);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(WaitEvents({nullptr, first.get(), second.get()}, 10), -1);
    second->Set();
    EXPECT_EQ(WaitEvents({nullptr, first.get(), second.get()}, 2000), 2);
    EXPECT_EQ(WaitEvents({nullptr, first.get(), second.get()}, 10), -1); // consumed
    first->Set();
    second->Set();
    EXPECT_EQ(WaitEvents({nullptr, first.get(), second.get()}, 2000), 1);
    EXPECT_TRUE(first->IsSet()); // manual reset: still set
    EXPECT_TRUE(second->IsSet());
}

} // namespace
} // namespace norvane::platform
