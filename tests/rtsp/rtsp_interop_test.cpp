// Interop: the RTSP client and the RTCP reporter against GStreamer's RTSP server (a peer nobody
// here wrote), without authentication, with Basic and with Digest. Skipped when python3-gi, the
// RTSP server bindings or the needed GStreamer elements are missing.
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/socket.h"
#include "platform/wait.h"
#include "rtp/rtcp_reporter.h"
#include "rtsp/base_rtsp_client.h"

#ifndef NORVANE_GST_RTSP_SERVER_SCRIPT
#error "NORVANE_GST_RTSP_SERVER_SCRIPT must name gst_rtsp_server.py"
#endif

namespace norvane {
namespace {

const char* Python() {
    return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

// CServerProcess runs the server script as a child with its output on a pipe, and ends it (by its
// process id) on destruction.
class CServerProcess {
public:
    explicit CServerProcess(std::vector<std::string> arguments) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(Python()));
            argv.push_back(const_cast<char*>(NORVANE_GST_RTSP_SERVER_SCRIPT));
            for (std::string& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        m_output = fds[0];
    }

    ~CServerProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        if (m_output >= 0) {
            ::close(m_output);
        }
    }

    CServerProcess(const CServerProcess&) = delete;
    CServerProcess& operator=(const CServerProcess&) = delete;

    // ReadLine returns the next output line, or nothing after `timeoutMs` or at the end.
    std::optional<std::string> ReadLine(int timeoutMs) {
        const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string line;
        while (m_output >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
            pollfd fd{m_output, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                return std::nullopt;
            }
            char c = 0;
            if (::read(m_output, &c, 1) != 1) {
                return std::nullopt;
            }
            if (c == '\n') {
                return line;
            }
            line.push_back(c);
        }
        return std::nullopt;
    }

    // ExitCode waits for the process to end and returns its exit code (-1 if it did not exit).
    int ExitCode() {
        int status = 0;
        if (m_pid <= 0 || ::waitpid(m_pid, &status, 0) != m_pid) {
            return -1;
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_output = -1;
};

// Why the interop peer cannot run here, or an empty text when it can.
std::string PeerMissing() {
    CServerProcess check({"--check"});
    const std::optional<std::string> line = check.ReadLine(30000);
    const int code = check.ExitCode();
    if (code == 0) {
        return {};
    }
    return "GStreamer RTSP server unavailable (needs python3-gi, gir1.2-gst-rtsp-server-1.0, "
           "x264enc): " +
           line.value_or("the check script did not run");
}

struct InteropCase {
    const char* name;
    const char* mode;
    std::uint32_t schemeUsed;
};

class GstRtspServerInterop : public testing::TestWithParam<InteropCase> {
protected:
    void SetUp() override {
        const std::string missing = PeerMissing();
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
    }

    // StartServer runs the server in this case's mode with the user "operator" and `password`, and
    // returns client settings for its stream that log in with `clientPassword`.
    std::optional<RTSPSessionSettings> StartServer(const std::string& password,
                                                   const std::string& clientPassword) {
        m_server = std::make_unique<CServerProcess>(
                std::vector<std::string>{GetParam().mode, "operator", password});
        const std::optional<std::string> ready = m_server->ReadLine(30000);
        if (!ready || ready->rfind("READY ", 0) != 0) {
            ADD_FAILURE() << "server did not start: " << ready.value_or("no output");
            return std::nullopt;
        }
        RTSPSessionSettings settings;
        settings.address = "127.0.0.1";
        settings.port = static_cast<std::uint16_t>(std::stoi(ready->substr(6)));
        settings.path = "test";
        settings.userName = "operator";
        settings.password = clientPassword;
        settings.ioTimeout = 10000;
        return settings;
    }

    std::unique_ptr<CServerProcess> m_server;
};

TEST_P(GstRtspServerInterop, SessionDeliversRtpToTheAnnouncedPort) {
    std::optional<RTSPSessionSettings> settings = StartServer("pa ss:word", "pa ss:word");
    ASSERT_TRUE(settings.has_value());

    // The RTP port receives the stream; the RTCP reporter sits on the next port.
    platform::CSocket rtp = platform::CSocket::CreateUdp();
    CRTCPReporter reporter(platform::LoopbackAddress());
    std::uint16_t rtpPort = 0;
    for (std::uint16_t candidate = 41000; candidate < 42000 && rtpPort == 0; candidate += 2) {
        rtp = platform::CSocket::CreateUdp();
        if (rtp.Bind(platform::LoopbackAddress(), candidate) &&
            reporter.Open(static_cast<std::uint16_t>(candidate + 1))) {
            rtpPort = candidate;
        }
    }
    ASSERT_NE(rtpPort, 0);
    ASSERT_TRUE(reporter.Start());

    settings->rtpPort = rtpPort;
    settings->rtcpPort = static_cast<std::uint16_t>(rtpPort + 1);

    CBaseRTSPClient client;
    ASSERT_TRUE(client.Connect(*settings));
    ASSERT_TRUE(client.Request(kDescribe));
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(client.Settings().authScheme, GetParam().schemeUsed);
    EXPECT_FALSE(client.State().videoControl.empty());
    ASSERT_FALSE(client.Sps().empty());
    EXPECT_EQ(client.Sps()[0] & 0x1F, 7); // NAL unit type 7: sequence parameter set
    ASSERT_FALSE(client.Pps().empty());
    EXPECT_EQ(client.Pps()[0] & 0x1F, 8);

    ASSERT_TRUE(client.Request(kSetup));
    ASSERT_EQ(client.StatusCode(), 200);
    EXPECT_FALSE(client.State().session.empty());
    ASSERT_TRUE(client.Request(kPlay));
    ASSERT_EQ(client.StatusCode(), 200);

    // RTP version 2 with payload type 96 arrives on the port named in the Transport header.
    ASSERT_EQ(platform::WaitSocket(rtp, platform::WaitFor::Read, nullptr, 15000),
              platform::WaitResult::Ready);
    std::array<std::uint8_t, 2048> packet{};
    const platform::IoResult received = rtp.ReceiveFrom(packet, nullptr);
    ASSERT_TRUE(received.Ok());
    ASSERT_GE(received.bytes, 12U);
    EXPECT_EQ(packet[0] >> 6, 2);
    EXPECT_EQ(packet[1] & 0x7F, 96);

    ASSERT_TRUE(client.Request(kOptions));
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_TRUE(reporter.IsRunning());
    ASSERT_TRUE(client.Request(kTeardown));
    EXPECT_EQ(client.StatusCode(), 200);
    client.Disconnect();
    reporter.RequestStop();
    EXPECT_TRUE(reporter.Stop());
}

class GstRtspServerRefusal : public GstRtspServerInterop {};

TEST_P(GstRtspServerRefusal, WrongPasswordIsRefused) {
    const std::optional<RTSPSessionSettings> settings = StartServer("right", "wrong");
    ASSERT_TRUE(settings.has_value());
    CBaseRTSPClient client;
    ASSERT_TRUE(client.Connect(*settings));
    EXPECT_FALSE(client.Request(kDescribe)); // refused; the status tells why
    EXPECT_EQ(client.StatusCode(), 401);
    EXPECT_EQ(client.Settings().authScheme, GetParam().schemeUsed);
    EXPECT_TRUE(client.Sps().empty());
}

INSTANTIATE_TEST_SUITE_P(RTSP, GstRtspServerInterop,
                         testing::Values(InteropCase{"NoAuthentication", "none", kAuthNone},
                                         InteropCase{"Basic", "basic", kAuthBasic},
                                         InteropCase{"Digest", "digest", kAuthDigest},
                                         InteropCase{"DigestPreferredOverBasic", "both",
                                                     kAuthDigest}),
                         [](const testing::TestParamInfo<InteropCase>& param) {
                             return std::string(param.param.name);
                         });

INSTANTIATE_TEST_SUITE_P(RTSP, GstRtspServerRefusal,
                         testing::Values(InteropCase{"Basic", "basic", kAuthBasic},
                                         InteropCase{"Digest", "digest", kAuthDigest},
                                         InteropCase{"DigestPreferredOverBasic", "both",
                                                     kAuthDigest}),
                         [](const testing::TestParamInfo<InteropCase>& param) {
                             return std::string(param.param.name);
                         });

} // namespace
} // namespace norvane
