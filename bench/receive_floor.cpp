// receive_floor: what receiving camera-like packet bursts costs the UDP port's receive thread,
// next to the least any receiver pays for the same bursts on this machine: a bare thread with
// the same scheduling that waits with poll() and takes the queued datagrams with recvmmsg(),
// pausing 2 ms inside a burst as the port does. Both see the same traffic: a sender thread sends
// --burst datagrams of
// --size bytes every --interval ms, --frames times; the last datagram of a burst carries a mark,
// as an RTP marker bit ends a frame. The figure is the CPU time of the receiving thread only
// (its scheduler statistics), per datagram.
//
//   build/default/bench/receive_floor [--burst 15] [--size 1412] [--interval 40] [--frames 250]
//
// Linux only: the bare receiver calls the system directly, which is the point of it.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include "platform/socket.h"
#include "platform/system.h"
#include "rtp/udp_packet_source.h"
#include "rtp/udp_port.h"

namespace {

using namespace norvane;

struct Settings {
    int burst = 15;
    int size = 1412;
    int intervalMs = 40;
    int frames = 250;
};

constexpr std::uint8_t kEndOfBurst = 0x80;

// Sends the bursts to `port` on loopback; the first byte marks the last datagram of a burst.
void SendBursts(const Settings& settings, std::uint16_t port) {
    platform::CSocket sender = platform::CSocket::CreateUdp();
    std::vector<std::uint8_t> datagram(static_cast<std::size_t>(settings.size), 0x47);
    const platform::SocketAddress to{platform::LoopbackAddress(), port};
    auto next = std::chrono::steady_clock::now();
    for (int frame = 0; frame < settings.frames; ++frame) {
        for (int i = 0; i < settings.burst; ++i) {
            datagram[0] = i + 1 == settings.burst ? kEndOfBurst : 0;
            (void)sender.SendTo(datagram, to);
        }
        next += std::chrono::milliseconds(settings.intervalMs);
        std::this_thread::sleep_until(next);
    }
}

// CPU nanoseconds of thread `tid` of this process, from its scheduler statistics.
std::uint64_t ThreadCpuNs(std::uint32_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    std::uint64_t ns = 0;
    stat >> ns;
    return ns;
}

class CountingUser : public IUDPPortUser {
public:
    bool OnReceive(CUDPPort*, const platform::SocketAddress&, const std::uint8_t* data,
                   std::int32_t) override {
        ++received;
        return data[0] != kEndOfBurst;
    }

    void OnTimeout() override {}

    void OnClosed(CUDPPort*) override {}

    std::atomic<std::uint64_t> received{0};
};

// The port's receive thread: CPU per datagram in microseconds; 0 when the port cannot open.
double MeasurePort(const Settings& settings, std::uint64_t& received) {
    CountingUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.SetBufferSize(CUDPPacketSource::kDatagramBufferSize); // as the packet source's port
    if (port.Open(0) != UdpOpenResult::Opened) {
        return 0;
    }
    const std::uint64_t before = ThreadCpuNs(port.ThreadId());
    SendBursts(settings, port.LocalPort());
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the last burst drains
    const std::uint64_t used = ThreadCpuNs(port.ThreadId()) - before;
    port.Close();
    received = user.received.load();
    return received == 0 ? 0 : static_cast<double>(used) / 1000.0 / static_cast<double>(received);
}

// The bare receiver: poll, recvmmsg in batches of 16, a 2 ms pause inside a burst.
double MeasureBare(const Settings& settings, std::uint64_t& received) {
    platform::CSocket socket = platform::CSocket::CreateUdp();
    if (!socket.SetReceiveBufferSize(CUDPPort::kSocketReceiveBufferBytes) || !socket.Bind(0, 0) ||
        !socket.SetNonBlocking(true)) {
        return 0;
    }
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> count{0};
    std::atomic<std::uint64_t> cpuNs{0};
    std::thread receiver([&] {
        platform::RaiseCurrentThreadPriority(); // scheduled as the port's thread is
        constexpr unsigned kBatch = 16;
        std::vector<std::uint8_t> storage(kBatch * 4096);
        mmsghdr messages[kBatch];
        iovec vectors[kBatch];
        timespec start{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        while (!done.load()) {
            pollfd ready{static_cast<int>(socket.Native()), POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) {
                continue;
            }
            for (;;) {
                std::memset(messages, 0, sizeof messages);
                for (unsigned i = 0; i < kBatch; ++i) {
                    vectors[i] = {storage.data() + i * 4096, 4096};
                    messages[i].msg_hdr.msg_iov = &vectors[i];
                    messages[i].msg_hdr.msg_iovlen = 1;
                }
                const int n = ::recvmmsg(static_cast<int>(socket.Native()), messages, kBatch,
                                         MSG_DONTWAIT, nullptr);
                if (n <= 0) {
                    break;
                }
                count += static_cast<std::uint64_t>(n);
                if (static_cast<unsigned>(n) < kBatch) {
                    const std::uint8_t last = storage[static_cast<std::size_t>(n - 1) * 4096];
                    if (last == kEndOfBurst) {
                        break;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
        }
        timespec end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        cpuNs = static_cast<std::uint64_t>((end.tv_sec - start.tv_sec) * 1000000000LL +
                                           (end.tv_nsec - start.tv_nsec));
    });
    SendBursts(settings, socket.LocalPort());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    done = true;
    receiver.join();
    received = count.load();
    return received == 0
                   ? 0
                   : static_cast<double>(cpuNs.load()) / 1000.0 / static_cast<double>(received);
}

bool ParseArguments(int argc, char** argv, Settings& settings) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (value <= 0) {
            return false;
        }
        if (name == "--burst") {
            settings.burst = value;
        } else if (name == "--size" && value <= 4096) {
            settings.size = value;
        } else if (name == "--interval") {
            settings.intervalMs = value;
        } else if (name == "--frames") {
            settings.frames = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseArguments(argc, argv, settings)) {
        std::fprintf(stderr, "usage: receive_floor [--burst N] [--size BYTES<=4096] "
                             "[--interval MS] [--frames N]\n");
        return 2;
    }
    const std::uint64_t sent = static_cast<std::uint64_t>(settings.burst) *
                               static_cast<std::uint64_t>(settings.frames);
    std::uint64_t portReceived = 0;
    std::uint64_t bareReceived = 0;
    const double port = MeasurePort(settings, portReceived);
    const double bare = MeasureBare(settings, bareReceived);
    std::printf("%d bursts of %d x %d bytes every %d ms (%llu datagrams)\n", settings.frames,
                settings.burst, settings.size, settings.intervalMs,
                static_cast<unsigned long long>(sent));
    std::printf("UDP port thread: %.2f us CPU per datagram (%llu received)\n", port,
                static_cast<unsigned long long>(portReceived));
    std::printf("bare receiver:   %.2f us CPU per datagram (%llu received)\n", bare,
                static_cast<unsigned long long>(bareReceived));
    if (port > 0 && bare > 0) {
        std::printf("port / bare:     %.2f\n", port / bare);
    }
    return port > 0 && bare > 0 && portReceived == sent && bareReceived == sent ? 0 : 1;
}
