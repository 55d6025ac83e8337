// Interop of the simulated camera with clients nobody here wrote: ffmpeg receives both RTSP streams
// over UDP and its decoded frames must equal, frame by frame, the frames it decodes from the
// media files themselves (framemd5); curl performs CGI requests with Basic and Digest. Skipped
// where the tools are not installed.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "camera_sim.h"
#include "sim_media.h"
#include "sim_test_client.h"

namespace norvane::sim {
namespace {

bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string TempPath(const std::string& name) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string unique = std::string(info->test_suite_name()) + "_" + info->name() + "_" + name;
    for (char& c : unique) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') {
            c = '_'; // the path goes through a shell
        }
    }
    return test::UniqueTempPath(unique);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Run executes a shell command bounded by `timeoutSec`; true on exit status 0.
bool RunBounded(const std::string& command, int timeoutSec) {
    return std::system(("timeout " + std::to_string(timeoutSec) + " " + command).c_str()) == 0;
}

// FrameHashes returns the hash column of a framemd5 file, one entry per frame.
std::vector<std::string> FrameHashes(const std::string& path) {
    std::vector<std::string> hashes;
    std::istringstream lines(ReadText(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::size_t comma = line.rfind(',');
        hashes.push_back(line.substr(comma + 1));
    }
    return hashes;
}

std::vector<std::string> DecodeFile(const std::string& file, const std::string& name) {
    const std::string out = TempPath(name + "_source.md5");
    EXPECT_TRUE(RunBounded("ffmpeg -nostdin -hide_banner -loglevel error -y -i " + file +
                                   " -fps_mode passthrough -f framemd5 " + out,
                           60));
    return FrameHashes(out);
}

std::vector<std::string> ReceiveStream(const std::string& url, std::size_t frames,
                                       const std::string& name) {
    const std::string out = TempPath(name + "_received.md5");
    EXPECT_TRUE(
            RunBounded("ffmpeg -nostdin -hide_banner -loglevel error -y -rtsp_transport udp -i " +
                               url + " -frames:v " + std::to_string(frames) +
                               " -fps_mode passthrough -f framemd5 " + out,
                       60));
    return FrameHashes(out);
}

std::string WriteEmbedded(const std::string& name, const std::string& extension) {
    const std::string path = TempPath(name + extension);
    const auto bytes = EmbeddedFileBytes(name);
    std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(SimInterop, FfmpegDecodesTheH264StreamFrameByFrame) {
    if (!HaveTool("ffmpeg") || !HaveTool("timeout")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }

    struct Case {
        const char* clip;
        std::uint32_t width, height, mtu;
        AuthMode auth;
        bool qop;
    };

    const Case cases[] = {{"h264_640x480", 640, 480, 1400, AuthMode::None, false},
                          {"h264_1280x720", 1280, 720, 500, AuthMode::None, false},
                          {"h264_640x480", 640, 480, 1400, AuthMode::Digest, true},
                          {"h264_640x480", 640, 480, 1400, AuthMode::Basic, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.clip) + " auth " + std::to_string(static_cast<int>(c.auth)));
        CameraSimConfig config;
        config.width = c.width;
        config.height = c.height;
        config.mtu = c.mtu;
        config.fps = 50;
        config.rtspAuth = c.auth;
        config.rtspDigestQop = c.qop;
        config.user = "viewer";
        config.password = "secret";
        CCameraSim sim(config);
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        const auto source = DecodeFile(WriteEmbedded(c.clip, ".h264"), c.clip);
        ASSERT_EQ(source.size(), 75U);
        std::string url = sim.RtspUrl("vtl_media/main");
        if (c.auth != AuthMode::None) {
            url.insert(7, "viewer:secret@");
        }
        const auto received = ReceiveStream(url, source.size(), c.clip);
        EXPECT_EQ(received, source);
        // ffmpeg spoke its own RTSP: its requests reached the camera as written.
        const auto requests = sim.Requests();
        ASSERT_GE(requests.size(), 3U);
        EXPECT_EQ(requests[0].method, "OPTIONS");
        if (c.auth != AuthMode::None) {
            const bool authorized =
                    std::any_of(requests.begin(), requests.end(), [](const auto& r) {
                        return r.method == "PLAY" &&
                               r.text.find("Authorization: ") != std::string::npos;
                    });
            EXPECT_TRUE(authorized);
        }
    }
}

TEST(SimInterop, FfmpegDecodesTheJpegStreamFrameByFrame) {
    if (!HaveTool("ffmpeg") || !HaveTool("timeout")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    // A clip with restart markers, made by ffmpeg's slice-threaded encoder (DRI of one MB row).
    const std::string restartFile = TempPath("restart.mjpeg");
    ASSERT_TRUE(RunBounded("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                           "testsrc2=size=352x288:rate=5 -t 1 -c:v mjpeg -huffman default -q:v 4 "
                           "-threads 2 -thread_type slice -pix_fmt yuvj420p -f mjpeg " +
                                   restartFile,
                           60));
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(ReadFileBytes(restartFile, bytes, &error)) << error;
    const auto restartClip = ParseMjpeg(bytes, &error);
    ASSERT_TRUE(restartClip) << error;
    const bool haveRestart = restartClip->pictures[0].restartInterval != 0;

    struct Case {
        const char* name;
        std::string file; // empty: the embedded clip
        bool inBand;
    };

    const Case cases[] = {{"standard Q", "", false},
                          {"in-band tables", "", true},
                          {"restart markers", restartFile, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.file == restartFile && !haveRestart) {
            ADD_FAILURE() << "ffmpeg wrote no restart markers";
            continue;
        }
        CameraSimConfig config;
        config.mjpegFile = c.file;
        config.jpegInBandTables = c.inBand;
        config.fps = 25;
        CCameraSim sim(config);
        ASSERT_TRUE(sim.Start(&error)) << error;
        const std::string file = c.file.empty() ? WriteEmbedded("mjpeg_704x576", ".mjpeg") : c.file;
        const auto source = DecodeFile(file, c.name);
        ASSERT_FALSE(source.empty());
        const auto received = ReceiveStream(sim.RtspUrl("vtl_media/second"), source.size(), c.name);
        EXPECT_EQ(received, source);
    }
}

TEST(SimInterop, CurlPerformsCgiRequestsWithBasicAndDigest) {
    if (!HaveTool("curl") || !HaveTool("timeout")) {
        GTEST_SKIP() << "curl is not installed";
    }

    struct Case {
        const char* name;
        AuthMode mode;
        bool qop;
        const char* curlAuth;
        const char* password;
        const char* expectedStatus;
    };

    const Case cases[] = {
            {"basic", AuthMode::Basic, false, "--basic", "pa ss", "200"},
            {"basic wrong", AuthMode::Basic, false, "--basic", "wrong", "401"},
            {"digest qop", AuthMode::Digest, true, "--digest", "pa ss", "200"},
            {"digest without qop", AuthMode::Digest, false, "--digest", "pa ss", "200"},
            {"digest wrong", AuthMode::Digest, true, "--digest", "wrong", "401"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraSimConfig config;
        config.httpAuth = c.mode;
        config.httpDigestQop = c.qop;
        config.user = "operator";
        config.password = "pa ss";
        CCameraSim sim(config);
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        const std::string body = TempPath(std::string(c.name) + "_body.txt");
        const std::string status = TempPath(std::string(c.name) + "_status.txt");
        ASSERT_TRUE(RunBounded(
                "curl -s " + std::string(c.curlAuth) + " -u 'operator:" + c.password + "' -o " +
                        body + " -w '%{http_code}' '" +
                        sim.HttpUrl("/cgi-bin/action.fcgi?vtl_api=get_setup.system.info") + "' > " +
                        status,
                30));
        EXPECT_EQ(ReadText(status), c.expectedStatus);
        if (std::string(c.expectedStatus) == "200") {
            EXPECT_NE(ReadText(body).find("hwver=VT-2M100\r\n"), std::string::npos);
            const auto requests = sim.Requests();
            ASSERT_FALSE(requests.empty());
            EXPECT_NE(requests.back().text.find(c.mode == AuthMode::Basic
                                                        ? "Authorization: Basic "
                                                        : "Authorization: Digest "),
                      std::string::npos);
        }
    }
}

} // namespace
} // namespace norvane::sim
