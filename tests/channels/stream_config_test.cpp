#include <gtest/gtest.h>

#include "channels/stream_config.h"

namespace norvane {
namespace {

TEST(StreamFrameRate, FieldRateTablesAndRounding) {
    struct Case {
        std::uint32_t interval;
        bool ntsc;
        float rate;
    };

    const Case cases[] = {
            {83, false, 12.5F},  {83, true, 12.0F},   {200, false, 5.0F}, {0, false, 1.0F},
            {0, true, 1.0F},     {40, false, 25.0F},  {33, true, 30.0F},  {125, false, 8.3F},
            {167, false, 6.3F},  {250, false, 4.2F},  {333, false, 3.1F}, {500, false, 2.1F},
            {143, true, 7.5F},   {250, true, 4.3F},   {500, true, 2.5F},  {143, false, 7.0F},
            {1000, false, 1.0F}, {5000, false, 0.0F},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(StreamFrameRate(c.interval, c.ntsc), c.rate)
                << c.interval << (c.ntsc ? " 60 Hz" : " 50 Hz");
    }
}

TEST(StreamBitRate, QualityScale) {
    EXPECT_EQ(StreamBitRate(0), 512U);
    EXPECT_EQ(StreamBitRate(1), 512U);
    EXPECT_EQ(StreamBitRate(2), 661U);
    EXPECT_EQ(StreamBitRate(50), 4256U);
    EXPECT_EQ(StreamBitRate(100), 8000U);
}

TEST(CodecRequest, H264WideStreamGetsSmallSecondStream) {
    const ChannelStartRecord start{83, 50, 1280, 720};
    EXPECT_EQ(CodecRequest(H264StreamSettings(start, false), false),
              "/cgi-bin/action.fcgi?vtl_api=set_setup.video.codec&codec0=h264&resolution0=1280x720"
              "&bitctrl0=cbr&bitavr0=4256&fps0=12.5&codec1=none&resolution1=320x240&bitctrl1=cbr"
              "&bitavr1=4256&fps1=12.5&ff_mode=50&mirror_mode=none&bandon=no&bandwidth=5000");
}

TEST(CodecRequest, H264NarrowStreamRepeatsSizeAndNtscWrites60) {
    const ChannelStartRecord start{83, 0, 640, 480};
    EXPECT_EQ(CodecRequest(H264StreamSettings(start, true), true),
              "/cgi-bin/action.fcgi?vtl_api=set_setup.video.codec&codec0=h264&resolution0=640x480"
              "&bitctrl0=cbr&bitavr0=512&fps0=12&codec1=none&resolution1=640x480&bitctrl1=cbr"
              "&bitavr1=512&fps1=12&ff_mode=60&mirror_mode=none&bandon=no&bandwidth=5000");
}

TEST(CodecRequest, H265AsksForH265OnTheMainStreamOnly) {
    const ChannelStartRecord start{83, 50, 1280, 720};
    EXPECT_EQ(CodecRequest(H265StreamSettings(start, false), false),
              "/cgi-bin/action.fcgi?vtl_api=set_setup.video.codec&codec0=h265&resolution0=1280x720"
              "&bitctrl0=cbr&bitavr0=4256&fps0=12.5&codec1=none&resolution1=320x240&bitctrl1=cbr"
              "&bitavr1=4256&fps1=12.5&ff_mode=50&mirror_mode=none&bandon=no&bandwidth=5000");
}

TEST(CodecRequest, MjpegReducesLargeRecordInPlace) {
    ChannelStartRecord start{200, 1, 1280, 1024};
    const StreamCodecSettings settings = MjpegStreamSettings(start, false);
    EXPECT_EQ(start.width, 704U);
    EXPECT_EQ(start.height, 576U);
    EXPECT_EQ(CodecRequest(settings, false),
              "/cgi-bin/action.fcgi?vtl_api=set_setup.video.codec&codec0=h264&resolution0=704x576"
              "&bitctrl0=cbr&bitavr0=512&fps0=5&codec1=mjpeg&resolution1=704x576&bitctrl1=cbr"
              "&bitavr1=512&fps1=5&ff_mode=50&mirror_mode=none&bandon=no&bandwidth=5000");
    ChannelStartRecord small{40, 10, 352, 288};
    const StreamCodecSettings unchanged = MjpegStreamSettings(small, false);
    EXPECT_EQ(small.width, 352U);
    EXPECT_EQ(unchanged.width1, 352U);
    EXPECT_EQ(unchanged.height1, 288U);
}

} // namespace
} // namespace norvane
