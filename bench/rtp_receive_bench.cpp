// Receive cost of the UDP port on loopback: bursts of 1400-byte datagrams received by one
// readiness wait per datagram or by draining the queue after each wait. The CPU column is the
// whole process (sender and receive thread); the sender's share is the same in both modes, so
// the difference is the receive loop's.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/socket.h"
#include "rtp/udp_port.h"

namespace {

using namespace norvane;

constexpr std::size_t kDatagram = 1400;
constexpr std::uint64_t kBurst = 256; // well within the socket's receive buffer

class CountingUser : public IUDPPortUser {
public:
    bool OnReceive(CUDPPort*, const platform::SocketAddress&, const std::uint8_t*,
                   std::int32_t length) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        bytes += static_cast<std::uint64_t>(length);
        if (++received >= target) {
            m_done.notify_one();
            return false;
        }
        return true; // the rest of the burst is on its way
    }

    void OnTimeout() override {}

    void OnClosed(CUDPPort*) override {}

    // WaitFor waits (without spinning) until `count` datagrams have arrived; false after 5 s.
    bool WaitFor(std::uint64_t count) {
        std::unique_lock<std::mutex> guard(m_mutex);
        target = count;
        return m_done.wait_for(guard, std::chrono::seconds(5), [&] { return received >= count; });
    }

    std::uint64_t received = 0;
    std::uint64_t bytes = 0;
    std::uint64_t target = ~std::uint64_t{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
};

void BM_UdpReceiveBurst(benchmark::State& state) {
    CountingUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.SetDrainQueued(state.range(0) != 0);
    if (port.Open(0) != UdpOpenResult::Opened) {
        state.SkipWithError("cannot open a UDP port");
        return;
    }
    platform::CSocket sender = platform::CSocket::CreateUdp();
    const platform::SocketAddress to{platform::LoopbackAddress(), port.LocalPort()};
    const std::vector<std::uint8_t> datagram(kDatagram, 0x47);
    std::uint64_t sent = 0;
    for (auto _ : state) {
        for (std::uint64_t i = 0; i < kBurst; ++i) {
            if (sender.SendTo(datagram, to).Ok()) {
                ++sent;
            }
        }
        if (!user.WaitFor(sent)) {
            state.SkipWithError("datagrams were lost on loopback");
            break;
        }
    }
    port.Close();
    state.SetItemsProcessed(static_cast<std::int64_t>(user.received));
    state.counters["cpu_per_datagram"] = benchmark::Counter(
            static_cast<double>(kBurst),
            benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_UdpReceiveBurst)
        ->ArgName("drain")
        ->Arg(0)
        ->Arg(1)
        ->MeasureProcessCPUTime()
        ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
