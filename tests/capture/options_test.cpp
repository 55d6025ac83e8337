#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "capture_verdict.h"
#include "commands.h"
#include "frame_writer.h"
#include "options.h"

namespace vantrel::capture {
namespace {

ParseResult Parse(std::vector<std::string> arguments) {
    return ParseOptions(arguments);
}

TEST(CaptureOptions, DefaultsCaptureFromBuiltInCamera) {
    const ParseResult r = Parse({});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.command, Command::Capture);
    EXPECT_TRUE(r.options.cameraHost.empty());
    EXPECT_EQ(r.options.stream, StreamKind::H264);
}

TEST(CaptureOptions, ReadsCameraStreamAndLimits) {
    const ParseResult r = Parse({"--camera",    "cam.local:8080",
                                 "--user",      "admin",
                                 "--password",  "p:w",
                                 "--stream",    "mjpeg",
                                 "--size",      "704x576",
                                 "--fps",       "12",
                                 "--quality",   "80",
                                 "--rtsp-port", "8554",
                                 "--ntsc",      "--frames",
                                 "10",          "--duration",
                                 "2.5",         "--out",
                                 "pics"});
    ASSERT_EQ(r.error, "");
    const Options& o = r.options;
    EXPECT_EQ(o.cameraHost, "cam.local");
    EXPECT_EQ(o.httpPort, 8080);
    EXPECT_EQ(o.user, "admin");
    EXPECT_EQ(o.password, "p:w");
    EXPECT_EQ(o.stream, StreamKind::Mjpeg);
    EXPECT_EQ(o.width, 704);
    EXPECT_EQ(o.height, 576);
    EXPECT_EQ(o.fps, 12);
    EXPECT_EQ(o.quality, 80);
    ASSERT_TRUE(o.rtspPort.has_value());
    EXPECT_EQ(*o.rtspPort, 8554);
    EXPECT_TRUE(o.ntsc);
    EXPECT_EQ(o.frames, 10U);
    EXPECT_DOUBLE_EQ(o.durationSeconds, 2.5);
    EXPECT_EQ(o.out, "pics");
}

TEST(CaptureOptions, SubcommandsAndSwitches) {
    ParseResult r = Parse({"probe", "--camera", "10.0.0.1", "--json"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.command, Command::Probe);
    EXPECT_EQ(r.options.httpPort, 80);
    EXPECT_TRUE(r.options.json);
    r = Parse({"io", "--set", "0=on", "--set", "1=off"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.command, Command::IO);
    EXPECT_EQ(r.options.outputSwitches,
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 1}, {1, 2}}));
    EXPECT_EQ(Parse({"--help"}).options.command, Command::Help);
}

TEST(CaptureOptions, BadArgumentsGiveClearErrors) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
            {{"--fps", "0"}, "invalid value '0' for --fps"},
            {{"--fps", "25x"}, "invalid value '25x' for --fps"},
            {{"--size", "640"}, "invalid value '640' for --size"},
            {{"--size", "641x480"}, "invalid value '641x480' for --size"},
            {{"--camera", "host:99999"}, "invalid value 'host:99999' for --camera"},
            {{"--camera", ":80"}, "invalid value ':80' for --camera"},
            {{"--stream", "mpeg4"}, "invalid value 'mpeg4' for --stream"},
            {{"--duration", "-1"}, "invalid value '-1' for --duration"},
            {{"--quality", "101"}, "invalid value '101' for --quality"},
            {{"--set", "0=maybe"}, "invalid value '0=maybe' for --set"},
            {{"--transport", "quic"}, "invalid value 'quic' for --transport"},
            {{"--bogus", "1"}, "unknown option --bogus"},
            {{"--camera"}, "option --camera needs a value"},
            {{"stray"}, "unexpected argument 'stray'"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_EQ(Parse(arguments).error, message) << arguments[0];
    }
}

TEST(CaptureVerdict, StopsForTheFirstReasonThatHolds) {
    Options limits;
    limits.frames = 100;
    limits.durationSeconds = 10;
    limits.connectTimeoutSeconds = 5;
    Options unlimited;
    unlimited.connectTimeoutSeconds = 5;

    struct Case {
        const char* what;
        CaptureProgress progress;
        const Options& options;
        CaptureOutcome outcome;
    };

    using O = CaptureOutcome;
    const Case cases[] = {
            {"frames coming", {.elapsedSeconds = 1, .frames = 10}, limits, O::Running},
            {"waiting for the first frame", {.elapsedSeconds = 4.9}, limits, O::Running},
            {"stopped before a frame",
             {.elapsedSeconds = 1, .stopRequested = true},
             limits,
             O::Interrupted},
            {"stopped after frames",
             {.elapsedSeconds = 1, .frames = 1, .stopRequested = true},
             limits,
             O::Finished},
            {"a stop comes before a write failure",
             {.elapsedSeconds = 1, .frames = 1, .stopRequested = true, .writeFailed = true},
             limits,
             O::Finished},
            {"write failure",
             {.elapsedSeconds = 1, .frames = 1, .writeFailed = true},
             limits,
             O::WriteFailed},
            {"a write failure comes before the frame limit",
             {.elapsedSeconds = 1, .frames = 100, .writeFailed = true},
             limits,
             O::WriteFailed},
            {"frame limit", {.elapsedSeconds = 1, .frames = 100}, limits, O::Finished},
            {"duration", {.elapsedSeconds = 10, .frames = 5}, limits, O::Finished},
            {"the duration comes before refused credentials",
             {.elapsedSeconds = 10, .credentialsRefused = true},
             limits,
             O::Finished},
            {"no limits", {.elapsedSeconds = 1000, .frames = 99999}, unlimited, O::Running},
            {"refused credentials",
             {.elapsedSeconds = 1, .credentialsRefused = true},
             limits,
             O::CredentialsRefused},
            {"refused credentials come before a failed send",
             {.elapsedSeconds = 1, .credentialsRefused = true, .sendFailed = true},
             limits,
             O::CredentialsRefused},
            {"failed send", {.elapsedSeconds = 1, .sendFailed = true}, limits, O::SendFailed},
            {"a failed send after the time-out",
             {.elapsedSeconds = 6, .sendFailed = true},
             limits,
             O::SendFailed},
            {"refusals after the first frame",
             {.elapsedSeconds = 1, .frames = 3, .credentialsRefused = true, .sendFailed = true},
             limits,
             O::Running},
            {"connect time-out", {.elapsedSeconds = 5}, limits, O::NoFrameInTime},
            {"no time-out once frames came",
             {.elapsedSeconds = 60, .frames = 1},
             unlimited,
             O::Running},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JudgeCapture(c.progress, c.options), c.outcome) << c.what;
    }
}

TEST(CaptureVerdict, EachEndHasItsExitCodeAndReason) {
    struct Case {
        CaptureOutcome outcome;
        CameraDiagnosis diagnosis;
        std::string lastError;
        int exitCode;
        std::string reason;
    };

    using O = CaptureOutcome;
    using D = CameraDiagnosis;
    const Case cases[] = {
            {O::Finished, D::Answers, "timeout", kExitOk, ""},
            {O::ChannelNotStarted, D::Answers, "", kExitPlugin,
             "the driver could not start the channel"},
            {O::Interrupted, D::Answers, "", kExitInterrupted,
             "interrupted before the first frame"},
            {O::WriteFailed, D::Answers, "", kExitCamera, "cannot write to out.h264"},
            {O::CredentialsRefused, D::Answers, "status code = 401", kExitCredentials,
             "the camera refused the credentials (status code = 401)"},
            {O::SendFailed, D::NeedsCredentials, "cannot send request", kExitCredentials,
             "the camera refused the credentials: check --user and --password"},
            {O::SendFailed, D::Unreachable, "cannot send request", kExitCamera,
             "the camera cannot be reached (cannot send request)"},
            {O::SendFailed, D::Answers, "cannot send request", kExitCamera,
             "the camera does not take the driver's requests (cannot send request)"},
            {O::SendFailed, D::NotHttp, "x", kExitCamera,
             "the camera does not take the driver's requests (x)"},
            {O::NoFrameInTime, D::Answers, "", kExitCamera, "no frame arrived within 30 s"},
            {O::NoFrameInTime, D::Answers, "RTSP 404", kExitCamera,
             "no frame arrived within 30 s (RTSP 404)"},
    };
    for (const Case& c : cases) {
        const CaptureEnd end = CaptureEndOf(c.outcome, c.diagnosis, c.lastError, "out.h264", 30);
        EXPECT_EQ(end.exitCode, c.exitCode) << c.reason;
        EXPECT_EQ(end.reason, c.reason);
    }
    EXPECT_EQ(CaptureEndOf(O::NoFrameInTime, D::Answers, "", "", 2.4).reason,
              "no frame arrived within 2 s");
}

TEST(FrameWriter, ChoosesOutputByNameAndRefusesMismatches) {
    const auto dir = std::filesystem::temp_directory_path() / "vantrel-writer-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string error;
    EXPECT_EQ(MakeWriter((dir / "a.mjpeg").string(), false, error), nullptr);
    EXPECT_NE(error.find("H.264"), std::string::npos);
    EXPECT_EQ(MakeWriter((dir / "a.h264").string(), true, error), nullptr);
    EXPECT_EQ(MakeWriter((dir / "folder").string(), false, error), nullptr);

    {
        auto file = MakeWriter((dir / "a.h264").string(), false, error);
        ASSERT_NE(file, nullptr) << error;
        const std::uint8_t au[] = {0, 0, 1, 0x65, 1, 2, 0, 0, 1, 9, 0x30};
        EXPECT_TRUE(file->Write(0, au, sizeof au));
        EXPECT_TRUE(file->Write(0, au, sizeof au));
    }
    // The delimiter ending each frame moves before the next frame; the file ends with a picture.
    std::ifstream in(dir / "a.h264", std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0, 0, 1, 0x65, 1, 2, 0, 0, 1, 9, 0x30, 0, 0, 1,
                                                0x65, 1, 2}));

    auto folder = MakeWriter((dir / "pics").string(), true, error);
    ASSERT_NE(folder, nullptr) << error;
    const std::uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_TRUE(folder->Write(0, jpeg, sizeof jpeg));
    EXPECT_TRUE(folder->Write(0, jpeg, sizeof jpeg));
    EXPECT_EQ(std::filesystem::file_size(dir / "pics" / "000001.jpg"), 4U);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace vantrel::capture
