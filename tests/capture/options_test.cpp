#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

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
            {{"--bogus", "1"}, "unknown option --bogus"},
            {{"--camera"}, "option --camera needs a value"},
            {{"stray"}, "unexpected argument 'stray'"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_EQ(Parse(arguments).error, message) << arguments[0];
    }
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
