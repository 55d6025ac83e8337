// End-to-end tests of vantrel-capture: the program runs as a user runs it, against the built-in
// simulated camera or one started by the test, and its output is checked with a real decoder.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "camera_sim.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct RunResult {
    int exitCode = -1;
    std::string output; // stdout, and stderr unless it was kept apart
    std::string errors; // stderr when kept apart
};

// RunCommand executes a shell command line (bounded by 60 s) and collects its output; with
// `apart`, stderr goes to `errors` and `output` holds stdout alone.
RunResult RunCommand(const std::string& command, bool apart = false) {
    RunResult result;
    const std::string errorsFile =
            fs::temp_directory_path() / ("vantrel-capture-stderr-" + std::to_string(::getpid()));
    FILE* pipe = ::popen(("timeout 60 " + command + (apart ? " 2>" + errorsFile : " 2>&1")).c_str(),
                         "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        result.output += buffer;
    }
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (apart) {
        std::ifstream in(errorsFile);
        result.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        fs::remove(errorsFile);
    }
    return result;
}

std::string Tool() {
    return VANTREL_CAPTURE_PATH;
}

// CameraArgs names a simulated camera on the command line.
std::string CameraArgs(const norvane::sim::CCameraSim& camera) {
    return " --camera 127.0.0.1:" + std::to_string(camera.HttpPort()) + " --rtsp-port " +
           std::to_string(camera.RtspPort());
}

// StartCamera starts a simulated camera with `config`, failing the test when it cannot.
std::unique_ptr<norvane::sim::CCameraSim> StartCamera(norvane::sim::CameraSimConfig config = {}) {
    auto camera = std::make_unique<norvane::sim::CCameraSim>(std::move(config));
    std::string error;
    EXPECT_TRUE(camera->Start(&error)) << error;
    return camera;
}

// CheckJson runs a Python check of `json` (bound to the name `d`): every assertion in `checks`
// must hold. Empty when it does, else what Python said.
std::string CheckJson(const std::string& json, const std::string& checks) {
    const fs::path file = fs::temp_directory_path() /
                          ("vantrel-capture-json-" + std::to_string(::getpid()) + ".py");
    std::ofstream(file) << "import json, sys\nd = json.loads(sys.stdin.read())\n" << checks;
    const fs::path input = fs::path(file).replace_extension(".json");
    std::ofstream(input) << json;
    const RunResult r = RunCommand("python3 " + file.string() + " < " + input.string());
    fs::remove(file);
    fs::remove(input);
    return r.exitCode == 0 ? "" : r.output.empty() ? "python3 failed" : r.output;
}

// LastLine is the last non-empty line of `text`.
std::string LastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) {
        return "";
    }
    const std::size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
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

// ExpectPicturesOfClip checks that `out` decodes to at least a second of pictures, each one a
// picture of the simulated camera's clip `clip`.
void ExpectPicturesOfClip(const std::string& out, const std::string& clip,
                          const std::string& output) {
    const auto source = FrameMd5(std::string(SIM_MEDIA_DIR "/") + clip);
    const auto captured = FrameMd5(out);
    ASSERT_FALSE(source.empty());
    ASSERT_GE(captured.size(), 25U) << output;
    const std::set<std::string> known(source.begin(), source.end());
    for (const auto& md5 : captured) {
        EXPECT_EQ(known.count(md5), 1U)
                << "a captured frame decodes to a picture the camera never sent";
    }
}

// The summary's JSON: typed members, setup timed apart from the streaming.
constexpr char kSummaryChecks[] = R"(
ints = ["exit_code", "requested_width", "requested_height", "requested_fps", "frames",
        "key_frames", "bytes", "width", "height", "signal_loss_reports", "packets_expected",
        "packets_lost", "frames_damaged"]
for k in ints: assert type(d[k]) is int, k
for k in ["setup_seconds", "streaming_seconds", "fps", "kbit_per_second"]:
    assert type(d[k]) in (int, float), k
for k in ["camera", "stream", "output"]: assert type(d[k]) is str, k
assert d["error"] is None or type(d["error"]) is str
)";

TEST_F(CaptureTool, H264CaptureFromBuiltInCameraDecodesToSourceFrames) {
    const std::string out = (m_dir / "out.h264").string();
    const RunResult r = RunCommand(Tool() + " --duration 6 --json --out " + out, true);
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_NE(r.errors.find("no --camera given"), std::string::npos);
    // The summary: setup is not streaming time, and --duration counts streaming time.
    EXPECT_EQ(CheckJson(r.output, std::string(kSummaryChecks) + R"(
assert d["exit_code"] == 0 and d["error"] is None and d["stream"] == "h264"
assert d["setup_seconds"] > 0.5, d
assert 5.5 <= d["streaming_seconds"] <= 6.5, d
assert 20 <= d["fps"] <= 30, d
assert (d["width"], d["height"]) == (640, 480)
assert d["frames"] >= 140 and d["bytes"] > 1000
assert d["packets_expected"] >= d["frames"] and d["packets_lost"] == 0 and d["frames_damaged"] == 0
)"),
              "")
            << r.output;
    // Through a pipe the log stays a log: every line starts with the time, no terminal
    // controls, and the status comes as lines of their own.
    std::size_t lines = 0;
    std::size_t start = 0;
    while (start < r.errors.size()) {
        const std::size_t end = r.errors.find('\n', start);
        const std::string line = r.errors.substr(start, end - start);
        EXPECT_TRUE(line.size() > 13 && line[2] == ':' && line[5] == ':' && line[8] == '.' &&
                    line[12] == ' ')
                << "no time of day: " << line;
        ++lines;
        start = end == std::string::npos ? r.errors.size() : end + 1;
    }
    EXPECT_GE(lines, 4U);
    EXPECT_EQ(r.errors.find('\033'), std::string::npos);
    EXPECT_EQ(r.errors.find('\r'), std::string::npos);
    EXPECT_NE(r.errors.find(" streaming  frames "), std::string::npos) << r.errors;
    ASSERT_GT(fs::file_size(out), 1000U);
    if (!HaveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed: the decoded frames are not compared";
    }
    ExpectPicturesOfClip(out, "h264_640x480.h264", r.output);
}

// H.265 from the main stream: a .h265 file of the camera's own pictures.
TEST_F(CaptureTool, H265CaptureFromBuiltInCameraDecodesToSourceFrames) {
    const std::string out = (m_dir / "out.h265").string();
    const RunResult r = RunCommand(Tool() + " --stream h265 --duration 6 --quiet --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    ASSERT_GT(fs::file_size(out), 1000U);
    if (!HaveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed: the decoded frames are not compared";
    }
    ExpectPicturesOfClip(out, "h265_640x480.h265", r.output);
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

// What the camera delivers is told when it is not what was asked, and standard output takes
// the video for a player.
TEST_F(CaptureTool, OtherSizeIsToldAndStandardOutputCarriesTheVideo) {
    const RunResult mjpeg = RunCommand(Tool() + " --stream mjpeg --frames 40 -v --progress", true);
    EXPECT_EQ(mjpeg.exitCode, 0) << mjpeg.errors;
    EXPECT_NE(mjpeg.errors.find("asking 127.0.0.1:"), std::string::npos);
    EXPECT_NE(mjpeg.errors.find("warning: the camera delivers 704x576, not the 640x480 asked for"),
              std::string::npos)
            << mjpeg.errors;
    EXPECT_NE(mjpeg.errors.find("[driver info]"), std::string::npos) << "-v shows more";
    // --progress: one JSON object per line and second on stdout.
    std::string lines = mjpeg.output;
    while (!lines.empty() && lines.back() == '\n') {
        lines.pop_back();
    }
    std::replace(lines.begin(), lines.end(), '\n', ',');
    EXPECT_EQ(CheckJson("[" + lines + "]", R"(
assert len(d) >= 2, d
for p in d:
    assert p["state"] in ("connecting", "streaming")
    assert type(p["elapsed_seconds"]) in (int, float) and type(p["frames"]) is int
assert [p["elapsed_seconds"] for p in d] == sorted(p["elapsed_seconds"] for p in d)
)"),
              "")
            << mjpeg.output;
    const RunResult quiet = RunCommand(Tool() + " --stream mjpeg --frames 2");
    EXPECT_EQ(quiet.output.find("[driver info]"), std::string::npos) << quiet.output;

    const fs::path video = m_dir / "piped.h264";
    const RunResult piped = RunCommand(
            "sh -c '" + Tool() + " --frames 10 -q --out - 2>/dev/null > " + video.string() + "'");
    ASSERT_EQ(piped.exitCode, 0) << piped.output;
    std::ifstream in(video, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1000U);
    EXPECT_TRUE(bytes[0] == 0 && bytes[1] == 0 && (bytes[2] == 1 || bytes[3] == 1))
            << "standard output starts with an Annex-B start code";
    // A reader that goes away ends the capture at the next frame, not after 2000 frames.
    const RunResult gone = RunCommand("bash -c 'set -o pipefail; " + Tool() +
                                      " --frames 2000 -q --out - | head -c 100 > /dev/null'");
    EXPECT_EQ(gone.exitCode, 6) << gone.output;
    EXPECT_NE(gone.output.find("cannot write to standard output: Broken pipe"), std::string::npos)
            << gone.output;
}

// Each way a capture fails: its exit code, one clear line, and no file left behind by a run
// that wrote nothing.
TEST_F(CaptureTool, FailuresExitWithTheirCodeAndLeaveNoFile) {
    const std::string out = (m_dir / "nothing.h264").string();
    // Nobody listens: exit 4, and the run that wrote nothing leaves no file.
    const RunResult unreachable = RunCommand(
            Tool() + " --camera 127.0.0.1:1 --rtsp-port 1 --connect-timeout 20 --out " + out);
    EXPECT_EQ(unreachable.exitCode, 4) << unreachable.output;
    EXPECT_NE(LastLine(unreachable.output).find("error: the camera cannot be reached"),
              std::string::npos)
            << unreachable.output;
    EXPECT_FALSE(fs::exists(out));

    // A camera that sends no media and a --duration shorter than the connect time-out: no
    // frames is a failure, whatever ended the run.
    norvane::sim::CameraSimConfig silent;
    silent.faults.stopMedia = true;
    auto camera = StartCamera(silent);
    const RunResult noFrames = RunCommand(Tool() + CameraArgs(*camera) +
                                          " --duration 1 --connect-timeout 4 -q --out " + out);
    EXPECT_EQ(noFrames.exitCode, 4) << noFrames.output;
    EXPECT_NE(LastLine(noFrames.output).find("error: no frame arrived within 4 s"),
              std::string::npos)
            << noFrames.output;
    EXPECT_FALSE(fs::exists(out));

    // The output on a full disk: the last block is lost at the close; exit 6.
    const fs::path full = m_dir / "full.h264";
    fs::create_symlink("/dev/full", full);
    const RunResult lost = RunCommand(Tool() + " --frames 5 -q --out " + full.string());
    EXPECT_EQ(lost.exitCode, 6) << lost.output;
    EXPECT_NE(LastLine(lost.output)
                      .find("error: the output is not complete: cannot write to " + full.string() +
                            ": No space left on device"),
              std::string::npos)
            << lost.output;

    // An existing file is kept unless -y; a usage error starts nothing.
    std::ofstream(out) << "kept";
    const RunResult exists = RunCommand(Tool() + " --frames 1 --out " + out);
    EXPECT_EQ(exists.exitCode, 2) << exists.output;
    EXPECT_NE(exists.output.find("exists: give -y to overwrite it"), std::string::npos);
    EXPECT_EQ(fs::file_size(out), 4U);
    const RunResult replaced = RunCommand(Tool() + " --frames 3 -q -y --out " + out);
    EXPECT_EQ(replaced.exitCode, 0) << replaced.output;
    EXPECT_GT(fs::file_size(out), 4U);

    const RunResult bad = RunCommand(Tool() + " --size 12x");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.output.find("invalid value '12x' for --size"), std::string::npos);
    const RunResult version = RunCommand(Tool() + " --version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output.rfind("vantrel-capture ", 0), 0U) << version.output;
}

// A camera that stops sending mid-capture is given up after the stall time-out, not retried
// for ever; the frames before it are kept.
TEST_F(CaptureTool, StalledStreamEndsTheRunWithExitFour) {
    auto camera = StartCamera();
    std::thread stopper([&] {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (camera->Stats("vtl_media/main").framesSent < 20 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
        norvane::sim::SimFaults faults;
        faults.stopMedia = true;
        camera->SetFaults(faults);
    });
    const std::string out = (m_dir / "stalled.h264").string();
    const RunResult r = RunCommand(Tool() + CameraArgs(*camera) +
                                   " --frames 1000 --stall-timeout 2 -q --out " + out);
    stopper.join();
    EXPECT_EQ(r.exitCode, 4) << r.output;
    EXPECT_NE(LastLine(r.output).find("error: the stream stalled: no frame for 2 s after "),
              std::string::npos)
            << r.output;
    EXPECT_GT(fs::file_size(out), 0U);
}

TEST_F(CaptureTool, ProbeGivesTypedJsonATableAndJsonErrors) {
    const RunResult r = RunCommand(Tool() + " probe --json", true);
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(CheckJson(r.output, R"(
assert d["model"] == "Vantrel VT-2M100" and d["firmware"] == "2.4.1"
assert "serial" in d and d["serial"] is None
assert type(d["ports"]["http"]) is int and type(d["ports"]["rtsp"]) is int
assert d["ports"]["rtsp"] != 554, "the port used, not the default"
assert d["inputs"] == 1 and d["outputs"] == 1
assert d["video_standard"] == "50 Hz"
assert [c["codec"] for c in d["codecs"]] == ["h264", "h265", "mjpeg"]
for c in d["codecs"]:
    assert c["stream_url"].startswith("rtsp://127.0.0.1:%d/vtl_media/" % d["ports"]["rtsp"])
    assert {"width": 1920, "height": 1080} in c["sizes"]
    assert all(type(s["width"]) is int and type(s["height"]) is int for s in c["sizes"])
    assert 25 in c["frame_rates"] and c["default_frame_rate"] == 25
)"),
              "")
            << r.output;

    const RunResult table = RunCommand(Tool() + " probe", true);
    ASSERT_EQ(table.exitCode, 0) << table.errors;
    EXPECT_NE(table.output.find("Video standard  50 Hz"), std::string::npos) << table.output;
    EXPECT_NE(table.output.find("Relay outputs   1"), std::string::npos) << table.output;

    // Refused credentials: exit 5, and with --json the error is JSON on stdout too.
    norvane::sim::CameraSimConfig locked;
    locked.httpAuth = norvane::sim::AuthMode::Digest;
    auto camera = StartCamera(locked);
    const RunResult refused = RunCommand(Tool() + " probe --json" + CameraArgs(*camera) +
                                                 " --user admin --password wrong",
                                         true);
    EXPECT_EQ(refused.exitCode, 5) << refused.errors;
    EXPECT_NE(refused.errors.find("refused the credentials"), std::string::npos);
    EXPECT_EQ(CheckJson(refused.output,
                        "assert d['exit_code'] == 5 and 'refused the credentials' in d['error']"),
              "")
            << refused.output;
    const RunResult usage = RunCommand(Tool() + " probe --json --camera [::1]:80", true);
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_EQ(CheckJson(usage.output, "assert d['exit_code'] == 2 and 'IPv6' in d['error']"), "")
            << usage.output;
}

TEST_F(CaptureTool, IoSeesInputChangesAndSwitchesTheRelay) {
    auto camera = StartCamera();
    std::thread toggler([&] {
        std::this_thread::sleep_for(2500ms);
        camera->SetAlarmInput(true);
    });
    const RunResult r =
            RunCommand(Tool() + " io --camera 127.0.0.1:" + std::to_string(camera->HttpPort()) +
                       " --set 0=off --duration 5");
    toggler.join();
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("input 0 is inactive"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("input 0 is active"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("output 0 switched off (confirmed by the camera)"), std::string::npos)
            << r.output;
    EXPECT_FALSE(camera->RelayOutput()) << "the relay was switched off";
    EXPECT_GE(camera->RelaySwitchCount(), 2U);
}

TEST_F(CaptureTool, IoRefusesWhatTheCameraCannotDoAndTellsUnconfirmedSwitches) {
    auto camera = StartCamera();
    const std::string at = " --camera 127.0.0.1:" + std::to_string(camera->HttpPort());
    const RunResult noRelay = RunCommand(Tool() + " io" + at + " --set 7=on --duration 1");
    EXPECT_EQ(noRelay.exitCode, 2) << noRelay.output;
    EXPECT_NE(noRelay.output.find("--set 7=on: the camera has 1 relay output(s), numbered from 0"),
              std::string::npos)
            << noRelay.output;
    EXPECT_EQ(camera->RelaySwitchCount(), 0U) << "nothing was switched";

    // The camera refuses the switch: it is not reported as done.
    norvane::sim::SimFaults faults;
    faults.refusedCgi["set_setup.event.alarm_port"] = "0x80000002";
    camera->SetFaults(faults);
    const RunResult refused = RunCommand(Tool() + " io" + at + " --set 0=off --duration 1");
    EXPECT_EQ(refused.exitCode, 4) << refused.output;
    EXPECT_EQ(refused.output.find("switched off (confirmed"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("output 0 was not switched off"), std::string::npos)
            << refused.output;

    norvane::sim::CameraSimConfig locked;
    locked.httpAuth = norvane::sim::AuthMode::Basic;
    auto lockedCamera = StartCamera(locked);
    const RunResult wrong = RunCommand(
            Tool() + " io --camera 127.0.0.1:" + std::to_string(lockedCamera->HttpPort()) +
            " --user admin --password wrong --set 0=on --duration 1");
    EXPECT_EQ(wrong.exitCode, 5) << wrong.output;
    EXPECT_NE(wrong.output.find("refused the credentials"), std::string::npos) << wrong.output;
}

// A camera behind a firewall that drops its UDP: by default the tool's capture switches to RTP
// inside the RTSP connection and says why (a driver message, shown with -v); with --transport udp
// no frame ever arrives.
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
            RunCommand(Tool() + cameraArgs + " -v --frames 25 --connect-timeout 20 --out " + out);
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
    config.password = "secret";
    auto camera = StartCamera(config);
    const RunResult r = RunCommand(Tool() + CameraArgs(*camera) +
                                   " --user admin --password wrong --quiet --connect-timeout 20");
    EXPECT_EQ(r.exitCode, 5) << r.output;
    EXPECT_NE(LastLine(r.output).find("refused the credentials"), std::string::npos) << r.output;

    // The password from the environment, or from a file, instead of the command line.
    const RunResult environment = RunCommand("env VANTREL_PASSWORD=secret " + Tool() +
                                             CameraArgs(*camera) + " --user admin --frames 2 -q");
    EXPECT_EQ(environment.exitCode, 0) << environment.output;
    const fs::path file = m_dir / "password";
    std::ofstream(file) << "secret\n";
    const RunResult fromFile =
            RunCommand(Tool() + CameraArgs(*camera) +
                       " --user admin --frames 2 -q --password-file " + file.string());
    EXPECT_EQ(fromFile.exitCode, 0) << fromFile.output;

    // The camera's CGI takes the request, its RTSP server refuses the credentials.
    norvane::sim::CameraSimConfig rtspOnly;
    rtspOnly.faults.rtspAlways401 = true;
    auto rtspCamera = StartCamera(rtspOnly);
    const RunResult rtsp =
            RunCommand(Tool() + CameraArgs(*rtspCamera) +
                       " --user admin --password wrong --quiet --connect-timeout 20");
    EXPECT_EQ(rtsp.exitCode, 5) << rtsp.output;
    EXPECT_NE(rtsp.output.find("refused the credentials"), std::string::npos) << rtsp.output;

    // --keep-trying does not give up on refused credentials: only the stop ends it.
    const std::size_t before = rtspCamera->Requests().size();
    const RunResult keep =
            RunCommand("timeout --preserve-status -s INT 8 " + Tool() + CameraArgs(*rtspCamera) +
                       " --user admin --password wrong -q --keep-trying");
    EXPECT_EQ(keep.exitCode, 130) << keep.output;
    EXPECT_NE(keep.output.find("interrupted before the first frame"), std::string::npos);
    EXPECT_GE(rtspCamera->Requests().size(), before + 4) << "it tried again";
}

// On a terminal the status line is redrawn in place.
TEST_F(CaptureTool, StatusLineIsRedrawnOnATerminal) {
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string tool = Tool();
        ::execl(tool.c_str(), tool.c_str(), "--duration", "2", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string seen;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + 40s;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, 1000) <= 0) {
            continue;
        }
        const ssize_t got = ::read(terminal, buffer, sizeof buffer);
        if (got <= 0) {
            break; // the tool ended and closed the terminal
        }
        seen.append(buffer, static_cast<std::size_t>(got));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_NE(seen.find("\r\033[Kstreaming  frames "), std::string::npos) << seen;
    EXPECT_NE(seen.find("\r\033[K"), seen.rfind("\r\033[K")) << "redrawn more than once";
}

} // namespace
