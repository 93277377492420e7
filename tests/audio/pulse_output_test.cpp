// The sound-server output against a real PulseAudio server: what Lumenar plays is recorded
// from a private null sink's monitor and examined.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/lm_player.h"
#include "platform/audio_queue/audio_queue.h"
#include "support/fake_audio_file.h"
#include "support/pulse_support.h"
#include "support/test_support.h"

namespace {

struct Events {
    struct Seen {
        LMPlayerEvent event;
        LMPlayerState state;
        bool outputRunning;
    };
    LMPlayer *player = LMPlayerCreate();
    std::vector<Seen> seen;

    Events() { LMPlayerSetEventHandler(player, handle, this); }
    ~Events() { LMPlayerDispose(player); }
    static void handle(void *user, LMPlayerEvent e)
    {
        Events *ev = static_cast<Events *>(user);
        ev->seen.push_back({e, LMPlayerGetState(ev->player), LMPlayerOutputRunning(ev->player)});
    }
    // The end of the data was reported and the output has since played out.
    bool drained(size_t from = 0) const
    {
        bool ended = false;
        for (size_t i = from; i < seen.size(); i++) {
            ended |= seen[i].event == LMPlayerEventEnded;
            if (ended && seen[i].event == LMPlayerEventPaused && !seen[i].outputRunning)
                return true;
        }
        return false;
    }
};

LMFile *tone(double seconds, double frequency = 1000.0)
{
    return lmtest::fakeFileOpen(lmtest::tonePcm(44100, 2, 16, seconds, frequency));
}

// Seconds from `mark` (frames) to the first 10 ms window from there on whose level is
// above (loud) or below (quiet) 0.05; negative when there is none.
double secondsUntil(const std::vector<float> &s, size_t mark, bool loud)
{
    for (size_t w = mark; w + 441 <= s.size(); w += 441) {
        const double t = double(w) / 44100;
        if ((lmtest::rms(s, t, t + 0.01) > 0.05) == loud)
            return double(w - mark) / 44100;
    }
    return -1;
}

// Waits until the recording ends in sound.
bool waitHeard(const lmtest::MonitorRecording &rec, int timeoutMs = 5000)
{
    return lmtest::spinUntil(
        [&] {
            const std::vector<float> s = rec.samplesSoFar();
            const double end = double(s.size()) / 44100;
            return end > 0.2 && lmtest::rms(s, end - 0.1, end) > 0.1;
        },
        timeoutMs);
}

class PulseOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureCoreApp();
        ASSERT_TRUE(LMAudioOutputSelect("pulse"));
    }
    void TearDown() override { LMAudioOutputSelect(nullptr); }
    // A private sink of the test's own, its monitor recorded from now on.
    bool record()
    {
        sink = std::make_unique<lmtest::PrivateSink>();
        if (!sink->ok())
            return false;
        rec = std::make_unique<lmtest::MonitorRecording>(*sink, dir.file("rec.raw"));
        return rec->waitStarted();
    }
    lmtest::TempDir dir;
    std::unique_ptr<lmtest::PrivateSink> sink;
    std::unique_ptr<lmtest::MonitorRecording> rec;
};

TEST_F(PulseOutputTest, AToneIsHeardAtItsFrequencyAndLength)
{
    LMTEST_REQUIRE_PULSE();
    ASSERT_TRUE(record());
    Events ev;
    LMPlayerPlayFile(ev.player, tone(1.5));
    ASSERT_EQ(LMPlayerGetState(ev.player), LMPlayerStatePlaying);
    ASSERT_TRUE(lmtest::spinUntil([&] { return ev.drained(); }, 10000));
    rec->waitForQuietAfter(1.4, 0.1);
    const std::vector<float> s = rec->stop();

    const auto loud = lmtest::loudStretches(s, 0.1);
    ASSERT_EQ(loud.size(), 1u) << "expected one stretch of tone";
    EXPECT_NEAR(loud[0].second - loud[0].first, 1.5, 0.1);
    EXPECT_NEAR(lmtest::crossingFrequency(s, loud[0].first + 0.1, loud[0].second - 0.1), 1000.0, 10.0);
    // The tone is 0.5 of full scale: RMS 0.35.
    EXPECT_NEAR(lmtest::rms(s, loud[0].first + 0.1, loud[0].second - 0.1), 0.3536, 0.03);
}

// The output holds seconds of sound ahead; pausing must not wait for it. Heard on the
// sound server's monitor.
TEST_F(PulseOutputTest, PauseIsSilentAtOnceAndPlayGoesOnFromThere)
{
    LMTEST_REQUIRE_PULSE();
    ASSERT_TRUE(record());
    Events ev;
    LMPlayerPlayFile(ev.player, tone(30));
    ASSERT_TRUE(waitHeard(*rec));
    ASSERT_EQ(LMPlayerGetState(ev.player), LMPlayerStatePlaying);
    const size_t paused = rec->framesSoFar();
    LMPlayerPause(ev.player);
    ASSERT_EQ(LMPlayerGetState(ev.player), LMPlayerStatePaused);
    ASSERT_TRUE(rec->waitFor(paused, 0.6));
    const size_t resumed = rec->framesSoFar();
    LMPlayerPlay(ev.player);
    ASSERT_EQ(LMPlayerGetState(ev.player), LMPlayerStatePlaying);
    ASSERT_TRUE(rec->waitFor(resumed, 0.6));
    const std::vector<float> s = rec->stop();

    const double silentAfter = secondsUntil(s, paused, false);
    ASSERT_GE(silentAfter, 0) << "never silent after the pause";
    EXPECT_LE(silentAfter, 0.1) << "sound went on after the pause";
    EXPECT_LT(lmtest::rms(s, double(paused) / 44100 + 0.1, double(resumed) / 44100), 0.01) << "sound while paused";
    const double heardAfter = secondsUntil(s, resumed, true);
    ASSERT_GE(heardAfter, 0) << "never heard again after play";
    EXPECT_LE(heardAfter, 0.2);
}

// A short file is decoded to its end at once, and the output plays out what it holds for
// seconds after: that, too, pauses at once, and nothing is lost or repeated around it.
TEST_F(PulseOutputTest, PauseWhileTheEndPlaysOutLosesNothing)
{
    LMTEST_REQUIRE_PULSE();
    ASSERT_TRUE(record());
    Events ev;
    LMPlayerPlayFile(ev.player, tone(2.5));
    ASSERT_TRUE(waitHeard(*rec));
    ASSERT_TRUE(lmtest::spinUntil([&] { return LMPlayerGetState(ev.player) == LMPlayerStateEnded; }, 3000))
        << "the whole file should be queued well before it is heard";
    const size_t paused = rec->framesSoFar();
    LMPlayerPause(ev.player);
    ASSERT_EQ(LMPlayerGetState(ev.player), LMPlayerStatePaused);
    ASSERT_TRUE(rec->waitFor(paused, 1.5));
    LMPlayerPlay(ev.player);
    ASSERT_EQ(LMPlayerGetState(ev.player), LMPlayerStatePlaying);
    ASSERT_TRUE(lmtest::spinUntil([&] { return ev.drained(); }, 10000));
    rec->waitForQuietAfter(2.35, 0.1);
    const std::vector<float> s = rec->stop();

    const auto loud = lmtest::loudStretches(s, 0.1);
    ASSERT_EQ(loud.size(), 2u) << "expected tone, silence while paused, tone";
    EXPECT_GT(loud[1].first - loud[0].second, 1.2) << "sound went on while paused";
    EXPECT_LE(loud[0].second - double(paused) / 44100, 0.1) << "the pause came late";
    const double heard = (loud[0].second - loud[0].first) + (loud[1].second - loud[1].first);
    EXPECT_NEAR(heard, 2.5, 0.15) << "samples lost or repeated around the pause";
}

// A seek while playing is heard at once: what was queued of the old position is dropped.
TEST_F(PulseOutputTest, ASeekIsHeardAtOnceAndTheOldPositionNotAgain)
{
    LMTEST_REQUIRE_PULSE();
    ASSERT_TRUE(record());
    std::vector<uint8_t> pcm = lmtest::tonePcm(44100, 2, 16, 10, 500.0);
    const std::vector<uint8_t> high = lmtest::tonePcm(44100, 2, 16, 10, 1500.0);
    pcm.insert(pcm.end(), high.begin(), high.end());
    Events ev;
    LMPlayerPlayFile(ev.player, lmtest::fakeFileOpen(pcm));
    ASSERT_TRUE(waitHeard(*rec));
    const size_t sought = rec->framesSoFar();
    const size_t eventsBefore = ev.seen.size();
    LMPlayerSeek(ev.player, 12.0);
    EXPECT_EQ(LMPlayerGetState(ev.player), LMPlayerStatePlaying);
    ASSERT_TRUE(rec->waitFor(sought, 1.0));
    const std::vector<float> s = rec->stop();

    // The first 10 ms window from the mark on that carries the new tone.
    double heardAfter = -1;
    for (size_t w = sought; w + 441 <= s.size(); w += 441) {
        const double t = double(w) / 44100;
        if (lmtest::rms(s, t, t + 0.01) > 0.1 && std::abs(lmtest::crossingFrequency(s, t, t + 0.01) - 1500) < 200) {
            heardAfter = double(w - sought) / 44100;
            break;
        }
    }
    ASSERT_GE(heardAfter, 0) << "the new position was never heard";
    EXPECT_LE(heardAfter, 0.2) << "the seek was heard late";
    const double newFrom = double(sought) / 44100 + heardAfter;
    EXPECT_NEAR(lmtest::crossingFrequency(s, newFrom + 0.05, newFrom + 0.6), 1500, 20)
        << "the old position was heard after the new one";
    // Playing throughout: no pause, end or error on the way.
    for (size_t i = eventsBefore; i < ev.seen.size(); i++) {
        EXPECT_NE(ev.seen[i].event, LMPlayerEventPaused);
        EXPECT_NE(ev.seen[i].event, LMPlayerEventEnded);
        EXPECT_NE(ev.seen[i].event, LMPlayerEventError);
        EXPECT_EQ(ev.seen[i].state, LMPlayerStatePlaying);
    }
}

TEST_F(PulseOutputTest, HalfVolumeHalvesTheLevel)
{
    LMTEST_REQUIRE_PULSE();
    ASSERT_TRUE(record());
    Events ev;
    LMPlayerPlayFile(ev.player, tone(1.0));
    ASSERT_TRUE(lmtest::spinUntil([&] { return ev.drained(); }, 10000));
    const size_t mark = ev.seen.size();
    LMPlayerPlayFile(ev.player, tone(1.0));
    LMPlayerSetVolume(ev.player, 0.5f);
    EXPECT_FLOAT_EQ(LMPlayerGetVolume(ev.player), 0.5f);
    ASSERT_TRUE(lmtest::spinUntil([&] { return ev.drained(mark); }, 10000));
    rec->waitForQuietAfter(1.8, 0.05);
    const std::vector<float> s = rec->stop();

    const auto loud = lmtest::loudStretches(s, 0.05);
    ASSERT_EQ(loud.size(), 2u);
    const double full = lmtest::rms(s, loud[0].first + 0.3, loud[0].second - 0.1);
    const double half = lmtest::rms(s, loud[1].first + 0.3, loud[1].second - 0.1);
    EXPECT_NEAR(half / full, 0.5, 0.05);
}

TEST_F(PulseOutputTest, TheIsRunningListenerFollowsStartAndPlayOut)
{
    LMTEST_REQUIRE_PULSE();
    lmtest::PrivateSink sink;
    ASSERT_TRUE(sink.ok());
    struct State {
        std::vector<uint32_t> running;
        int returned = 0;
    } st;
    AudioStreamBasicDescription f{};
    f.mSampleRate = 44100;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = kAudioFormatFlagIsSignedInteger;
    f.mBytesPerFrame = f.mBytesPerPacket = 4;
    f.mFramesPerPacket = 1;
    f.mChannelsPerFrame = 2;
    f.mBitsPerChannel = 16;
    AudioQueueRef q = nullptr;
    auto output = [](void *user, AudioQueueRef, AudioQueueBufferRef) { static_cast<State *>(user)->returned++; };
    auto listener = [](void *user, AudioQueueRef queue, AudioQueuePropertyID) {
        uint32_t v = 0, size = sizeof v;
        AudioQueueGetProperty(queue, kAudioQueueProperty_IsRunning, &v, &size);
        static_cast<State *>(user)->running.push_back(v);
    };
    ASSERT_EQ(AudioQueueNewOutput(&f, output, &st, nullptr, 0, &q), noErr);
    ASSERT_EQ(AudioQueueAddPropertyListener(q, kAudioQueueProperty_IsRunning, listener, &st), noErr);
    const std::vector<uint8_t> pcm = lmtest::tonePcm(44100, 2, 16, 0.3);
    AudioQueueBufferRef b = nullptr;
    ASSERT_EQ(AudioQueueAllocateBuffer(q, uint32_t(pcm.size()), &b), noErr);
    memcpy(b->mAudioData, pcm.data(), pcm.size());
    b->mAudioDataByteSize = uint32_t(pcm.size());
    ASSERT_EQ(AudioQueueEnqueueBuffer(q, b, 0, nullptr), noErr);
    ASSERT_EQ(AudioQueueStart(q, nullptr), noErr);
    ASSERT_TRUE(lmtest::spinUntil([&] { return st.running.size() == 1 && st.returned == 1; }, 3000));
    EXPECT_EQ(st.running[0], 1u);
    ASSERT_EQ(AudioQueueStop(q, false), noErr);
    ASSERT_TRUE(lmtest::spinUntil([&] { return st.running.size() == 2; }, 3000));
    EXPECT_EQ(st.running[1], 0u);
    AudioQueueDispose(q, true);
}

// A device that breaks down reaches the engine as the queue stopping, on the main thread,
// and play then builds a new queue. The server is one of the test's own, killed under a
// child process that plays through it.
TEST_F(PulseOutputTest, WhenTheServerDiesTheEngineSeesTheQueueStop)
{
    LMTEST_REQUIRE_PULSE();
    LMTEST_REQUIRE_TOOL("pulseaudio");
    const std::string socket = dir.file("native");
    std::unique_ptr<lmtest::BackgroundProcess> server;
    {
        lmtest::ScopedEnv home("HOME", dir.path()), runtime("XDG_RUNTIME_DIR", dir.path()),
            pulseRuntime("PULSE_RUNTIME_PATH", dir.path()), state("PULSE_STATE_PATH", dir.path());
        server = std::make_unique<lmtest::BackgroundProcess>(
            std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--system=false", "--exit-idle-time=-1",
                                     "--disallow-exit", "--use-pid-file=no",
                                     "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                                     "--load=module-null-sink sink_name=doomed"},
            dir.file("server.log"));
    }
    ASSERT_TRUE(lmtest::spinUntil(
        [&] { return lmtest::run({"pactl", "-s", "unix:" + socket, "info"}).status == 0; }, 5000));

    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    const std::string out = dir.file("child.txt");
    std::unique_ptr<lmtest::BackgroundProcess> child;
    {
        lmtest::ScopedEnv server("PULSE_SERVER", "unix:" + socket), marker("LMTEST_PULSE_CHILD", "1");
        child = std::make_unique<lmtest::BackgroundProcess>(
            std::vector<std::string>{self, "--gtest_filter=PulseFailureChild.*"}, out);
    }
    ASSERT_TRUE(lmtest::spinUntil([&] { return lmtest::readText(out).find("PLAYING") != std::string::npos; }, 10000))
        << lmtest::readText(out);
    lmtest::spinFor(300);
    server->stop();
    EXPECT_EQ(child->wait(15000), 0) << lmtest::readText(out);
    const std::string text = lmtest::readText(out);
    EXPECT_NE(text.find("PLAYING state 1"), std::string::npos) << text;
    EXPECT_NE(text.find("STOPPED event 2 state 2"), std::string::npos) << text;
    EXPECT_NE(text.find("AFTER PLAY event 5 state 4"), std::string::npos) << text;
}

// The child side of the test above; does nothing on its own.
TEST(PulseFailureChild, PlaysUntilTheServerGoes)
{
    if (getenv("LMTEST_PULSE_CHILD") == nullptr)
        GTEST_SKIP() << "run as a child of WhenTheServerDiesTheEngineSeesTheQueueStop";
    unsetenv("PULSE_SINK");   // the parent's private sink is not on this server
    lmtest::ensureCoreApp();
    ASSERT_TRUE(LMAudioOutputSelect("pulse"));
    Events ev;
    LMPlayerPlayFile(ev.player, tone(30));
    printf("PLAYING state %d\n", LMPlayerGetState(ev.player));
    fflush(stdout);
    auto stopped = [&] {
        for (const auto &e : ev.seen)
            if (e.event == LMPlayerEventPaused)
                return true;
        return false;
    };
    ASSERT_TRUE(lmtest::spinUntil(stopped, 15000));
    printf("STOPPED event %d state %d\n", LMPlayerEventPaused, LMPlayerGetState(ev.player));
    const size_t mark2 = ev.seen.size();
    LMPlayerPlay(ev.player);   // no server any more: a new queue cannot be built
    ASSERT_GT(ev.seen.size(), mark2);
    printf("AFTER PLAY event %d state %d\n", ev.seen[mark2].event, LMPlayerGetState(ev.player));
    fflush(stdout);
}

} // namespace
