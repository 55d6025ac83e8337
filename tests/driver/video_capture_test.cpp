#include <gtest/gtest.h>

#include "driver/video_capture.h"
#include "support/fakes.h"

namespace norvane {
namespace {

// Records the life of every channel it creates into a shared log.
class LoggingChannel : public ICameraChannel {
public:
    LoggingChannel(std::uint32_t index, std::vector<std::string>& log, bool startResult)
        : m_index(index)
        , m_log(log)
        , m_startResult(startResult) {}

    ~LoggingChannel() override { Log("delete"); }

    bool Start(const ChannelStartRecord* record) override {
        m_record = *record;
        Log("start");
        return m_startResult;
    }

    void Stop() override { Log("stop"); }

    bool Restart(const ChannelStartRecord* record) override {
        Log("restart " + std::to_string(record->width) + "x" + std::to_string(record->height) +
            "@" + std::to_string(record->frameInterval) + " q" + std::to_string(record->quality));
        return true;
    }

    std::int32_t GetState() override { return m_state; }

    void SetState(std::int32_t state) override { m_state = state; }

    ChannelStartRecord m_record;
    std::int32_t m_state = kStateStopped;

private:
    void Log(const std::string& what) { m_log.push_back(what + " " + std::to_string(m_index)); }

    std::uint32_t m_index;
    std::vector<std::string>& m_log;
    bool m_startResult;
};

class Creator : public ICustomCreator {
public:
    ICameraChannel* CreateChannel(std::uint32_t index, IFrameSink*) override {
        if (!serve) {
            return nullptr;
        }
        log.push_back("create " + std::to_string(index));
        last = new LoggingChannel(index, log, startResult);
        return last;
    }

    std::vector<std::string> log;
    bool serve = true;
    bool startResult = true;
    LoggingChannel* last = nullptr;
};

TEST(CIPVideoCapture, OpenChannelPassesTheHostRecord) {
    Creator creator;
    CIPVideoCapture capture(&creator, 2);
    test::FakeChannelParams params(1280, 720, 40, 50);
    test::FakeFrameSink sink;
    ASSERT_TRUE(capture.OpenChannel(1, &sink, &params));
    ASSERT_NE(creator.last, nullptr);
    EXPECT_EQ(creator.last->m_record.width, 1280U);
    EXPECT_EQ(creator.last->m_record.height, 720U);
    EXPECT_EQ(creator.last->m_record.frameInterval, 40U);
    EXPECT_EQ(creator.last->m_record.quality, 50U);
}

TEST(CIPVideoCapture, IndexAtChannelCountIsRefusedAndCreatesNothing) {
    Creator creator;
    CIPVideoCapture capture(&creator, 2);
    test::FakeChannelParams params(640, 480, 40, 10);
    EXPECT_FALSE(capture.OpenChannel(2, nullptr, &params));
    EXPECT_TRUE(creator.log.empty());
    EXPECT_FALSE(capture.CloseChannel(2));
}

TEST(CIPVideoCapture, ReopeningStopsAndDeletesTheOldChannelFirst) {
    Creator creator;
    CIPVideoCapture capture(&creator, 1);
    test::FakeChannelParams params(640, 480, 40, 10);
    ASSERT_TRUE(capture.OpenChannel(0, nullptr, &params));
    ASSERT_TRUE(capture.OpenChannel(0, nullptr, &params));
    EXPECT_EQ(creator.log, (std::vector<std::string>{"create 0", "start 0", "stop 0", "delete 0",
                                                     "create 0", "start 0"}));
}

TEST(CIPVideoCapture, UnservedStreamTypeLeavesSlotEmpty) {
    Creator creator;
    creator.serve = false;
    CIPVideoCapture capture(&creator, 1);
    test::FakeChannelParams params(640, 480, 40, 10);
    EXPECT_TRUE(capture.OpenChannel(0, nullptr, &params));
    int32_t state = -1;
    int32_t reserved = -1;
    char text[8] = "junk";
    EXPECT_FALSE(capture.GetChannelStatus(0, &state, &reserved, text, sizeof text));
    EXPECT_EQ(reserved, 0);
    EXPECT_EQ(text[0], '\0');
    EXPECT_FALSE(capture.CloseChannel(0));
}

TEST(CIPVideoCapture, FailedStartIsKeptAndReportedAsNotStreaming) {
    Creator creator;
    creator.startResult = false;
    CIPVideoCapture capture(&creator, 1);
    test::FakeChannelParams params(640, 480, 40, 10);
    EXPECT_FALSE(capture.OpenChannel(0, nullptr, &params));
    int32_t state = -1;
    int32_t reserved = -1;
    ASSERT_TRUE(capture.GetChannelStatus(0, &state, &reserved, nullptr, 0));
    EXPECT_EQ(state, 2);
    creator.last->SetState(kStateStreaming);
    ASSERT_TRUE(capture.GetChannelStatus(0, &state, &reserved, nullptr, 0));
    EXPECT_EQ(state, 0);
    EXPECT_TRUE(capture.CloseChannel(0));
    EXPECT_EQ(creator.log.back(), "delete 0");
}

TEST(CIPVideoCapture, ChangeFormatRestartsWithQualityZeroInRecord) {
    Creator creator;
    CIPVideoCapture capture(&creator, 1);
    test::FakeChannelParams params(640, 480, 40, 10);
    test::FakeChannelParams size(352, 288, 0, 0);
    EXPECT_FALSE(capture.ChangeChannelFormat(0, &size, 100));
    ASSERT_TRUE(capture.OpenChannel(0, nullptr, &params));
    EXPECT_TRUE(capture.ChangeChannelFormat(0, &size, 100));
    EXPECT_EQ(creator.log.back(), "restart 352x288@100 q0 0");
}

TEST(CIPVideoCapture, DestructionStopsEveryOpenChannel) {
    Creator creator;
    {
        CIPVideoCapture capture(&creator, 3);
        test::FakeChannelParams params(640, 480, 40, 10);
        ASSERT_TRUE(capture.OpenChannel(0, nullptr, &params));
        ASSERT_TRUE(capture.OpenChannel(2, nullptr, &params));
    }
    EXPECT_EQ(creator.log, (std::vector<std::string>{"create 0", "start 0", "create 2", "start 2",
                                                     "stop 0", "delete 0", "stop 2", "delete 2"}));
}

TEST(CIPVideoCapture, UnsupportedSlotsAnswerFalseOrNull) {
    Creator creator;
    CIPVideoCapture capture(&creator, 1);
    EXPECT_FALSE(capture.UnsupportedA(1, 2, 3));
    EXPECT_FALSE(capture.UnsupportedB(1, 2, 3));
    EXPECT_FALSE(capture.UnsupportedExA(1));
    EXPECT_FALSE(capture.UnsupportedExB(1));
    EXPECT_EQ(capture.GetReservedChannelObject(), nullptr);
}

} // namespace
} // namespace norvane
