#include <filesystem>
#include <fstream>

#include <unistd.h>

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
    r = Parse({"io", "--set", "0=on", "--set=1=off", "--set", "2=2"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.command, Command::IO);
    EXPECT_EQ(r.options.outputSwitches,
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 1}, {1, 2}, {2, 2}}));
    EXPECT_EQ(Parse({"--help"}).options.command, Command::Help);
    EXPECT_EQ(Parse({"probe", "--version"}).options.command, Command::Version);
}

TEST(CaptureOptions, ValuesAfterAnEqualsSignAndFlags) {
    const ParseResult r =
            Parse({"--duration=5", "--camera=cam:8080", "-y", "--keep-trying", "--stall-timeout=0",
                   "--progress", "-v", "--out=x.h264", "--password-file", "pw.txt"});
    ASSERT_EQ(r.error, "");
    EXPECT_DOUBLE_EQ(r.options.durationSeconds, 5);
    EXPECT_EQ(r.options.cameraHost, "cam");
    EXPECT_EQ(r.options.httpPort, 8080);
    EXPECT_TRUE(r.options.overwrite);
    EXPECT_TRUE(r.options.keepTrying);
    EXPECT_TRUE(r.options.progress);
    EXPECT_EQ(r.options.verbosity, kVerbosityVerbose);
    EXPECT_EQ(r.options.out, "x.h264");
    EXPECT_EQ(r.options.passwordFile, "pw.txt");
    EXPECT_EQ(Parse({"-q"}).options.verbosity, kVerbosityQuiet);
}

TEST(CaptureOptions, StallTimeoutHasADefaultOnlyForLimitedRuns) {
    const auto stall = [](std::vector<std::string> arguments) {
        return StallTimeout(Parse(std::move(arguments)).options);
    };
    EXPECT_EQ(stall({}), 0); // until Ctrl-C: a camera may come back
    EXPECT_EQ(stall({"--frames", "10"}), kDefaultStallTimeoutSeconds);
    EXPECT_EQ(stall({"--duration", "10"}), kDefaultStallTimeoutSeconds);
    EXPECT_EQ(stall({"--duration", "10", "--stall-timeout", "3"}), 3);
    EXPECT_EQ(stall({"--duration", "10", "--stall-timeout", "0"}), 0);
    EXPECT_EQ(stall({"--frames", "10", "--keep-trying"}), 0);
}

TEST(CaptureOptions, BadArgumentsGiveClearErrors) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
            {{"--fps", "0"}, "invalid value '0' for --fps"},
            {{"--fps", "25x"}, "invalid value '25x' for --fps"},
            {{"--size", "640"}, "invalid value '640' for --size"},
            {{"--size", "641x480"}, "invalid value '641x480' for --size"},
            {{"--camera", "host:99999"}, "invalid value 'host:99999' for --camera"},
            {{"--camera", ":80"}, "invalid value ':80' for --camera"},
            {{"--camera", "::1"},
             "invalid value '::1' for --camera: an IPv6 address goes in brackets "
             "([ADDRESS]:PORT), and the driver reaches cameras over IPv4 only"},
            {{"--camera", "[::1]:8080"},
             "invalid value '[::1]:8080' for --camera: ::1 is an IPv6 address, and the driver "
             "reaches cameras over IPv4 only"},
            {{"--camera", "[::1"}, "invalid value '[::1' for --camera"},
            {{"--stream", "mpeg4"}, "invalid value 'mpeg4' for --stream"},
            {{"--duration", "-1"}, "invalid value '-1' for --duration"},
            {{"--stall-timeout", "-1"}, "invalid value '-1' for --stall-timeout"},
            {{"--quality", "101"}, "invalid value '101' for --quality"},
            {{"io", "--set", "0=maybe"},
             "invalid value '0=maybe' for --set: the state is on (1) or off (2)"},
            {{"io", "--set", "0=500"},
             "invalid value '0=500' for --set: the state is on (1) or off (2)"},
            {{"io", "--set", "on"},
             "invalid value 'on' for --set: expected OUTPUT=on or OUTPUT=off, for example 0=on"},
            {{"--bogus"}, "unknown option --bogus"},
            {{"--bogus=1"}, "unknown option --bogus"},
            {{"--version=2"}, "option --version takes no value"},
            {{"--transport", "quic"}, "invalid value 'quic' for --transport"},
            {{"--camera"}, "option --camera needs a value"},
            {{"stray"}, "unexpected argument 'stray'"},
            {{"--set", "0=on"}, "option --set is not an option of capture"},
            {{"probe", "--out", "x.h264"}, "option --out is not an option of probe"},
            {{"io", "--stream", "mjpeg"}, "option --stream is not an option of io"},
            {{"--out", "-", "--json"},
             "--json writes to standard output, which --out - takes for the video"},
            {{"--progress", "--out", "-"},
             "--progress writes to standard output, which --out - takes for the video"},
            {{"--password", "a", "--password-file", "f"},
             "give either --password or --password-file, not both"},
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
    Options keepTrying = limits;
    keepTrying.keepTrying = true;

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
            {"duration counts streaming time",
             {.elapsedSeconds = 13, .streamingSeconds = 10, .frames = 5},
             limits,
             O::Finished},
            {"setup time is not streaming time",
             {.elapsedSeconds = 12, .streamingSeconds = 9, .frames = 5},
             limits,
             O::Running},
            {"a duration without frames ends at the connect time-out",
             {.elapsedSeconds = 10},
             limits,
             O::NoFrameInTime},
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
            {"stall after frames",
             {.elapsedSeconds = 20, .streamingSeconds = 5, .sinceFrameSeconds = 10, .frames = 3},
             limits,
             O::Stalled},
            {"a short gap is no stall",
             {.elapsedSeconds = 20, .streamingSeconds = 5, .sinceFrameSeconds = 9.5, .frames = 3},
             limits,
             O::Running},
            {"no stall time-out without limits",
             {.elapsedSeconds = 600, .sinceFrameSeconds = 500, .frames = 1},
             unlimited,
             O::Running},
            {"keep trying through refusals and time-outs",
             {.elapsedSeconds = 600, .credentialsRefused = true, .sendFailed = true},
             keepTrying,
             O::Running},
            {"keep trying through a stall",
             {.elapsedSeconds = 600, .streamingSeconds = 5, .sinceFrameSeconds = 500, .frames = 3},
             keepTrying,
             O::Running},
            {"keep trying still ends at the frame limit",
             {.elapsedSeconds = 600, .frames = 100},
             keepTrying,
             O::Finished},
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
            {O::WriteFailed, D::Answers, "", kExitOutput, "cannot write to out.h264"},
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
            {O::Stalled, D::Answers, "", kExitCamera,
             "the stream stalled: no frame for 10 s after 7 frames"},
    };
    for (const Case& c : cases) {
        CaptureEndContext context;
        context.diagnosis = c.diagnosis;
        context.lastError = c.lastError;
        context.output = "out.h264";
        context.stallTimeoutSeconds = 10;
        context.frames = 7;
        const CaptureEnd end = CaptureEndOf(c.outcome, context);
        EXPECT_EQ(end.exitCode, c.exitCode) << c.reason;
        EXPECT_EQ(end.reason, c.reason);
    }
    CaptureEndContext rounded;
    rounded.connectTimeoutSeconds = 2.4;
    EXPECT_EQ(CaptureEndOf(O::NoFrameInTime, rounded).reason, "no frame arrived within 2 s");
}

TEST(FrameWriter, ChoosesOutputByNameAndRefusesMismatches) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("vantrel-writer-test-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string error;
    EXPECT_EQ(MakeWriter((dir / "a.mjpeg").string(), false, false, error), nullptr);
    EXPECT_NE(error.find("H.264"), std::string::npos);
    EXPECT_EQ(MakeWriter((dir / "a.h264").string(), true, false, error), nullptr);
    EXPECT_EQ(MakeWriter((dir / "folder").string(), false, false, error), nullptr);
    EXPECT_EQ(MakeWriter((dir / "a.h264").string(), false, false, error, true), nullptr);
    EXPECT_NE(error.find("H.265 capture is written to a .h265 file"), std::string::npos);
    EXPECT_EQ(MakeWriter((dir / "a.h265").string(), false, false, error), nullptr);
    EXPECT_NE(MakeWriter((dir / "b.h265").string(), false, false, error, true), nullptr) << error;

    {
        auto file = MakeWriter((dir / "a.h264").string(), false, false, error);
        ASSERT_NE(file, nullptr) << error;
        const std::uint8_t au[] = {0, 0, 1, 0x65, 1, 2, 0, 0, 1, 9, 0x30};
        EXPECT_TRUE(file->Write(0, au, sizeof au));
        EXPECT_TRUE(file->Write(0, au, sizeof au));
        EXPECT_TRUE(file->Finish());
    }
    // The delimiter ending each frame moves before the next frame; the file ends with a picture.
    std::ifstream in(dir / "a.h264", std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0, 0, 1, 0x65, 1, 2, 0, 0, 1, 9, 0x30, 0, 0, 1,
                                                0x65, 1, 2}));

    auto folder = MakeWriter((dir / "pics").string(), true, false, error);
    ASSERT_NE(folder, nullptr) << error;
    const std::uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_TRUE(folder->Write(0, jpeg, sizeof jpeg));
    EXPECT_TRUE(folder->Write(0, jpeg, sizeof jpeg));
    EXPECT_EQ(std::filesystem::file_size(dir / "pics" / "000001.jpg"), 4U);
    std::filesystem::remove_all(dir);
}

TEST(FrameWriter, ExistingFilesNeedOverwriteAndEmptyRunsLeaveNothing) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("vantrel-writer-keep-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "kept.h264").string();
    std::ofstream(path) << "earlier capture";
    std::string error;
    EXPECT_EQ(MakeWriter(path, false, false, error), nullptr);
    EXPECT_EQ(error, "'" + path + "' exists: give -y to overwrite it");
    EXPECT_EQ(std::filesystem::file_size(path), 15U) << "a refused file is left as it was";

    // A run that wrote nothing removes the file it made, and the folder it made.
    MakeWriter((dir / "new.h264").string(), false, false, error)->Discard();
    EXPECT_FALSE(std::filesystem::exists(dir / "new.h264"));
    MakeWriter((dir / "pics").string(), true, false, error)->Discard();
    EXPECT_FALSE(std::filesystem::exists(dir / "pics"));
    // With -y the old file is replaced; a run that then wrote nothing leaves no file either.
    auto replaced = MakeWriter(path, false, true, error);
    ASSERT_NE(replaced, nullptr) << error;
    replaced->Discard();
    EXPECT_FALSE(std::filesystem::exists(path));
    std::filesystem::remove_all(dir);
}

TEST(FrameWriter, ALostLastBlockIsAFailure) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this system";
    }
    const auto link = std::filesystem::temp_directory_path() /
                      ("vantrel-full-" + std::to_string(::getpid()) + ".h264");
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/dev/full", link);
    std::string error;
    auto writer = MakeWriter(link.string(), false, false, error);
    ASSERT_NE(writer, nullptr) << error << " (a device behind a link is written, not refused)";
    const std::vector<std::uint8_t> frame(1000, 0x11);
    EXPECT_TRUE(writer->Write(0, frame.data(), frame.size())) << "still in the buffer";
    EXPECT_FALSE(writer->Finish());
    EXPECT_EQ(writer->Error(), "cannot write to " + link.string() + ": No space left on device");
    std::filesystem::remove(link);
}

} // namespace
} // namespace vantrel::capture
