// The local port search of a channel: a port on which packets from the camera already arrive
// (another session still sends there) is skipped. Runs alone: it sends to the channels' ports.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "camera_sim.h"
#include "channels/base_rtp_channel.h"
#include "driver/vantrel_driver.h"
#include "platform/socket.h"
#include "support/fakes.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

TEST(ChannelPortSearch, PortWithPacketsFromTheCameraIsSkipped) {
    // The first port must be free for the search to find it busy with foreign packets.
    {
        platform::CSocket probe = platform::CSocket::CreateUdp();
        if (!probe.Bind(0, kFirstRtpPort)) {
            GTEST_SKIP() << "port " << kFirstRtpPort << " is in use on this machine";
        }
    }
    sim::CCameraSim camera{sim::CameraSimConfig{}};
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;

    // An earlier session's stream still arriving at the first port, from the camera's address.
    std::atomic<bool> sending{true};
    std::thread stale([&] {
        platform::CSocket sender = platform::CSocket::CreateUdp();
        std::uint8_t packet[20] = {0x80, 96};
        const auto until = std::chrono::steady_clock::now() + 15s;
        for (std::uint16_t seq = 0; sending && std::chrono::steady_clock::now() < until; ++seq) {
            packet[2] = static_cast<std::uint8_t>(seq >> 8);
            packet[3] = static_cast<std::uint8_t>(seq);
            sender.SendTo(packet, {platform::LoopbackAddress(), kFirstRtpPort});
            std::this_thread::sleep_for(10ms);
        }
    });

    CVantrelDriver driver;
    test::FakeSampleAllocator allocator;
    test::FakeFrameSink sink;
    test::FakeOpenParams params;
    params.connection.port = camera.HttpPort();
    params.parameters = {"0", std::to_string(camera.RtspPort())};
    ASSERT_TRUE(driver.Open(nullptr, &allocator, &params));
    test::FakeChannelParams format(640, 480, 40, 50);
    ASSERT_TRUE(driver.GetVideoCapture()->OpenChannel(0, &sink, &format));
    EXPECT_TRUE(sink.WaitForFrames(5, 20s));
    sending = false;
    stale.join();
    driver.Close();
    camera.Stop();

    std::string transport;
    for (const auto& request : camera.Requests()) {
        if (request.method == "SETUP") {
            transport = request.text;
        }
    }
    // The busy first port is passed over; the next free even port is taken (another program on
    // this machine may hold 3558 as well).
    const std::size_t at = transport.find("client_port=");
    ASSERT_NE(at, std::string::npos) << transport;
    const int port = std::stoi(transport.substr(at + 12));
    EXPECT_GT(port, kFirstRtpPort) << transport;
    EXPECT_EQ(port % 2, 0) << transport;
}

} // namespace
} // namespace norvane
