// End-to-end tests of vantrel-capture: the program runs as a user runs it, against the built-in
// simulated camera or one started by the test, and its output is checked with a real decoder.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "camera_sim.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct RunResult {
    int exitCode = -1;
    std::string output; // stdout and stderr together
};

// Run executes a shell command line (bounded by `timeout`) and collects its output.
RunResult RunCommand(const std::string& command) {
    RunResult result;
    FILE* pipe = ::popen(("timeout 60 " + command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        result.output += buffer;
    }
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Tool() {
    return VANTREL_CAPTURE_PATH;
}

bool HaveFfmpeg() {
    return RunCommand("ffmpeg -version").exitCode == 0;
}

// The MD5 of every decoded frame of `file`, as ffmpeg's framemd5 muxer prints them.
std::vector<std::string> FrameMd5(const std::string& file, const std::string& inputOptions = "") {
    const RunResult r =
            RunCommand("ffmpeg -v error " + inputOptions + " -i '" + file + "' -f framemd5 -");
    std::vector<std::string> md5s;
    std::size_t start = 0;
    while (start < r.output.size()) {
        const std::size_t end = r.output.find('\n', start);
        const std::string line = r.output.substr(start, end - start);
        if (!line.empty() && line[0] != '#') {
            md5s.push_back(line.substr(line.rfind(',') + 1));
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return md5s;
}

class CaptureTool : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("vantrel-capture-test-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }

    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
};

TEST_F(CaptureTool, H264CaptureFromBuiltInCameraDecodesToSourceFrames) {
    const std::string out = (m_dir / "out.h264").string();
    const RunResult r = RunCommand(Tool() + " --duration 6 --quiet --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("no --camera given"), std::string::npos);
    ASSERT_GT(fs::file_size(out), 1000U);
    if (!HaveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed: the decoded frames are not compared";
    }
    const auto source = FrameMd5(SIM_MEDIA_DIR "/h264_640x480.h264");
    const auto captured = FrameMd5(out);
    ASSERT_FALSE(source.empty());
    ASSERT_GE(captured.size(), 25U) << r.output;
    const std::set<std::string> known(source.begin(), source.end());
    for (const auto& md5 : captured) {
        EXPECT_EQ(known.count(md5), 1U)
                << "a captured frame decodes to a picture the camera never sent";
    }
}

TEST_F(CaptureTool, MjpegCaptureToFolderGivesSourcePictures) {
    const fs::path folder = m_dir / "pics";
    const RunResult r = RunCommand(
            Tool() + " --stream mjpeg --size 704x576 --frames 12 --quiet --out " + folder.string());
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::vector<fs::path> pictures;
    for (const auto& entry : fs::directory_iterator(folder)) {
        pictures.push_back(entry.path());
    }
    ASSERT_EQ(pictures.size(), 12U); // --frames is exact: later frames are dropped
    if (!HaveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed: the pictures are not decoded";
    }
    const auto source = FrameMd5(SIM_MEDIA_DIR "/mjpeg_704x576.mjpeg", "-f mjpeg");
    const std::set<std::string> known(source.begin(), source.end());
    ASSERT_FALSE(known.empty());
    for (const auto& picture : pictures) {
        const auto md5 = FrameMd5(picture.string());
        ASSERT_EQ(md5.size(), 1U) << picture;
        EXPECT_EQ(known.count(md5[0]), 1U)
                << picture << " decodes to a picture the camera never sent";
    }
}

TEST_F(CaptureTool, ProbeJsonReportsModelAndResolutions) {
    const RunResult r = RunCommand(Tool() + " probe --json");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("\"model\": \"Vantrel VT-2M100\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"size\": \"1920x1080\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"Firmware\": \"2.4.1\""), std::string::npos) << r.output;
}

TEST_F(CaptureTool, IoSeesInputChangesAndSwitchesTheRelay) {
    norvane::sim::CCameraSim camera{norvane::sim::CameraSimConfig{}};
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;
    std::thread toggler([&] {
        std::this_thread::sleep_for(2500ms);
        camera.SetAlarmInput(true);
    });
    const RunResult r =
            RunCommand(Tool() + " io --camera 127.0.0.1:" + std::to_string(camera.HttpPort()) +
                       " --set 0=off --duration 5");
    toggler.join();
    camera.Stop();
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("input 0 is inactive"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("input 0 is active"), std::string::npos) << r.output;
    EXPECT_FALSE(camera.RelayOutput()) << "the relay was switched off";
    EXPECT_GE(camera.RelaySwitchCount(), 2U);
}

// A camera behind a firewall that drops its UDP: by default the tool's capture switches to RTP
// inside the RTSP connection and says why; with --transport udp no frame ever arrives.
TEST_F(CaptureTool, TransportChoiceWithACameraWhoseUdpIsBlocked) {
    norvane::sim::CameraSimConfig config;
    config.faults.blockUdpMedia = true;
    norvane::sim::CCameraSim camera(config);
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;
    const std::string cameraArgs = " --camera 127.0.0.1:" + std::to_string(camera.HttpPort()) +
                                   " --rtsp-port " + std::to_string(camera.RtspPort());
    const std::string out = (m_dir / "out.h264").string();
    const RunResult automatic =
            RunCommand(Tool() + cameraArgs + " --frames 25 --connect-timeout 20 --out " + out);
    EXPECT_EQ(automatic.exitCode, 0) << automatic.output;
    EXPECT_NE(automatic.output.find("no UDP packets from the camera after PLAY; using RTP over "
                                    "the RTSP connection"),
              std::string::npos)
            << automatic.output;
    const RunResult udp = RunCommand(Tool() + cameraArgs +
                                     " --transport udp --frames 5 --quiet --connect-timeout 8");
    camera.Stop();
    EXPECT_EQ(udp.exitCode, 4) << udp.output;
    EXPECT_GT(fs::file_size(out), 1000U);
}

TEST_F(CaptureTool, RefusedCredentialsGiveClearMessageAndExitFive) {
    norvane::sim::CameraSimConfig config;
    config.httpAuth = norvane::sim::AuthMode::Basic;
    config.rtspAuth = norvane::sim::AuthMode::Basic;
    norvane::sim::CCameraSim camera(config);
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;
    const RunResult r =
            RunCommand(Tool() + " --camera 127.0.0.1:" + std::to_string(camera.HttpPort()) +
                       " --rtsp-port " + std::to_string(camera.RtspPort()) +
                       " --user admin --password wrong --quiet --connect-timeout 20");
    camera.Stop();
    EXPECT_EQ(r.exitCode, 5) << r.output;
    EXPECT_NE(r.output.find("refused the credentials"), std::string::npos) << r.output;

    // The camera's CGI takes the request, its RTSP server refuses the credentials.
    norvane::sim::CameraSimConfig rtspOnly;
    rtspOnly.faults.rtspAlways401 = true;
    norvane::sim::CCameraSim rtspCamera(rtspOnly);
    ASSERT_TRUE(rtspCamera.Start(&error)) << error;
    const RunResult rtsp =
            RunCommand(Tool() + " --camera 127.0.0.1:" + std::to_string(rtspCamera.HttpPort()) +
                       " --rtsp-port " + std::to_string(rtspCamera.RtspPort()) +
                       " --user admin --password wrong --quiet --connect-timeout 20");
    rtspCamera.Stop();
    EXPECT_EQ(rtsp.exitCode, 5) << rtsp.output;
    EXPECT_NE(rtsp.output.find("refused the credentials"), std::string::npos) << rtsp.output;
}

TEST_F(CaptureTool, UnreachableCameraAndBadArgumentsFailClearly) {
    // A port nobody listens on, on this machine.
    const RunResult unreachable =
            RunCommand(Tool() + " --camera 127.0.0.1:1 --rtsp-port 1 --quiet --connect-timeout 20");
    EXPECT_EQ(unreachable.exitCode, 4) << unreachable.output;
    EXPECT_NE(unreachable.output.find("cannot be reached"), std::string::npos)
            << unreachable.output;

    const RunResult bad = RunCommand(Tool() + " --size 12x");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.output.find("invalid value '12x' for --size"), std::string::npos);

    const RunResult help = RunCommand(Tool() + " --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Usage:"), std::string::npos);
}

} // namespace
