// The application's output volume: the level, its listeners, and on a real PulseAudio
// server the stream volume it makes (times the queue's own) and the level a mixer sets.
#include <sstream>

#include <gtest/gtest.h>

#include "engine/lm_player.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/audio_queue/output_volume.h"
#include "support/fake_audio_file.h"
#include "support/pulse_support.h"
#include "support/test_support.h"

namespace {

struct Heard {
    std::vector<float> levels;
    static void listener(void *user, float level) { static_cast<Heard *>(user)->levels.push_back(level); }
};

class OutputVolumeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureCoreApp();
        LMOutputVolumeSet(1.0f);
        LMOutputVolumeAddListener(&Heard::listener, &heard);
    }
    void TearDown() override
    {
        LMOutputVolumeRemoveListener(&Heard::listener, &heard);
        LMOutputVolumeSet(1.0f);
        LMAudioOutputSelect(nullptr);
    }
    Heard heard;
};

TEST_F(OutputVolumeTest, TheLevelIsClampedAndListenersHearEachChange)
{
    EXPECT_EQ(LMOutputVolumeGet(), 1.0f);
    LMOutputVolumeSet(0.4f);
    LMOutputVolumeSet(0.4f);  // no change, no call
    LMOutputVolumeSet(7.0f);
    LMOutputVolumeSet(-1.0f);
    EXPECT_EQ(heard.levels, (std::vector<float>{0.4f, 1.0f, 0.0f}));
    Heard other;
    LMOutputVolumeAddListener(&Heard::listener, &other);
    LMOutputVolumeAddListener(&Heard::listener, &other);  // once only
    LMOutputVolumeSet(0.5f);
    EXPECT_EQ(other.levels, (std::vector<float>{0.5f}));
    LMOutputVolumeRemoveListener(&Heard::listener, &other);
    LMOutputVolumeSet(0.6f);
    EXPECT_EQ(other.levels.size(), 1u);
}

TEST_F(OutputVolumeTest, ALevelTheServerReportsArrivesOnTheMainLoop)
{
    lmaudio::OutputVolumeReported(0.25f);
    EXPECT_EQ(LMOutputVolumeGet(), 1.0f);  // not before the loop runs
    ASSERT_TRUE(lmtest::spinUntil([&] { return LMOutputVolumeGet() == 0.25f; }, 2000));
    EXPECT_EQ(heard.levels, (std::vector<float>{0.25f}));
}

// The linear volume of a sink input as the server shows it ("front-left: RAW / ..."), -1
// when it cannot be read.
double sinkInputVolume(int index)
{
    const lmtest::RunResult r = lmtest::run({"pactl", "list", "sink-inputs"});
    std::istringstream in(r.out);
    std::string line;
    bool ours = false;
    while (std::getline(in, line)) {
        if (line.rfind("Sink Input #", 0) == 0)
            ours = atoi(line.c_str() + 12) == index;
        const size_t at = line.find("front-left: ");
        if (ours && line.find("Volume:") != std::string::npos && at != std::string::npos) {
            const double raw = atof(line.c_str() + at + 12);
            const double cubic = raw / 65536.0;
            return cubic * cubic * cubic;
        }
    }
    return -1;
}

TEST_F(OutputVolumeTest, OnTheSoundServerTheStreamFollowsTheLevelAndAMixerSetsIt)
{
    LMTEST_REQUIRE_PULSE();
    lmtest::PrivateSink sink;
    ASSERT_TRUE(sink.ok());
    ASSERT_TRUE(LMAudioOutputSelect("pulse"));
    LMOutputVolumeSet(0.5f);  // before any stream: the new one starts there
    heard.levels.clear();
    LMPlayer *player = LMPlayerCreate();
    LMPlayerPlayFile(player, lmtest::fakeFileOpen(lmtest::tonePcm(44100, 2, 16, 8.0)));
    int index = -1;
    ASSERT_TRUE(lmtest::spinUntil([&] { return (index = lmtest::ownSinkInput()) >= 0; }, 5000));
    EXPECT_NEAR(sinkInputVolume(index), 0.5, 0.02);

    // The queue's own volume (the sleep fade's) multiplies the level.
    LMPlayerSetVolume(player, 0.5f);
    ASSERT_TRUE(lmtest::spinUntil([&] { return std::abs(sinkInputVolume(index) - 0.25) < 0.02; }, 3000));
    EXPECT_TRUE(heard.levels.empty());

    // A mixer moves the stream: the level follows, the queue's volume stays.
    ASSERT_EQ(lmtest::run({"pactl", "set-sink-input-volume", std::to_string(index), "0.3"}).status, 0);
    ASSERT_TRUE(lmtest::spinUntil([&] { return std::abs(LMOutputVolumeGet() - 0.6f) < 0.02f; }, 5000));
    ASSERT_FALSE(heard.levels.empty());
    EXPECT_NEAR(heard.levels.back(), 0.6, 0.02);
    EXPECT_FLOAT_EQ(LMPlayerGetVolume(player), 0.5f);
    LMPlayerSetVolume(player, 1.0f);
    ASSERT_TRUE(lmtest::spinUntil([&] { return std::abs(sinkInputVolume(index) - 0.6) < 0.02; }, 3000));
    LMPlayerDispose(player);
}

} // namespace
