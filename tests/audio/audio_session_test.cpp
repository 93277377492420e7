// The audio session with a stand-in event source, and against a real PulseAudio server.
#include <atomic>
#include <functional>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include "engine/lm_player.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/audio_session/audio_session.h"
#include "support/fake_audio_file.h"
#include "support/pulse_support.h"
#include "support/test_support.h"

namespace {

// Reports what the test tells it to, from a thread of its own.
class StandInSource : public AudioSessionEventSource {
public:
    struct Shared {
        Sink *sink = nullptr;
        std::string port = "analog-output-speaker";
        bool readable = true;
        bool stopped = false;
    };
    explicit StandInSource(Shared *shared) : s_(shared) {}
    void start(Sink *sink) override { s_->sink = sink; }
    void stop() override
    {
        s_->stopped = true;
        s_->sink = nullptr;
    }
    bool activePort(std::string *port) override
    {
        *port = s_->port;
        return s_->readable;
    }

private:
    Shared *s_;
};

struct Heard {
    std::vector<std::pair<uint32_t, uint32_t>> interruptions;
    int routeChanges = 0;
    bool wrongThread = false;
    std::function<void(uint32_t)> react;

    static void interruption(void *user, uint32_t state, uint32_t flags)
    {
        Heard *h = static_cast<Heard *>(user);
        h->wrongThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        h->interruptions.push_back({state, flags});
        if (h->react)
            h->react(state);
    }
    static void route(void *user, AudioSessionPropertyID property, uint32_t, const void *)
    {
        Heard *h = static_cast<Heard *>(user);
        h->wrongThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        EXPECT_EQ(property, kAudioSessionProperty_AudioRouteChange);
        h->routeChanges++;
    }
};

std::string route()
{
    char text[32] = {0};
    uint32_t size = sizeof text;
    if (AudioSessionGetProperty(kAudioSessionProperty_AudioRoute, &size, text) != noErr)
        return "(unavailable)";
    EXPECT_EQ(size, strlen(text) + 1);
    return text;
}

class AudioSessionTest : public ::testing::Test {
protected:
    void SetUp() override { lmtest::ensureCoreApp(); }
    void TearDown() override
    {
        AudioSessionShutdown();
        LMAudioOutputSelect(nullptr);
    }
};

TEST_F(AudioSessionTest, RouteComesFromThePortName)
{
    EXPECT_EQ(LMAudioSessionRouteForPort("analog-output-headphones"), "Headphone");
    EXPECT_EQ(LMAudioSessionRouteForPort("[Out] Headphones"), "Headphone");
    EXPECT_EQ(LMAudioSessionRouteForPort("HEADPHONE"), "Headphone");
    EXPECT_EQ(LMAudioSessionRouteForPort("analog-output-speaker"), "Speaker");
    EXPECT_EQ(LMAudioSessionRouteForPort("hdmi-output-0"), "Speaker");
    EXPECT_EQ(LMAudioSessionRouteForPort(""), "Speaker");
}

TEST_F(AudioSessionTest, EventsFromAnyThreadReachTheListenersOnTheSessionsThread)
{
    StandInSource::Shared shared;
    LMAudioSessionSetEventSource(std::make_unique<StandInSource>(&shared));
    Heard heard;
    ASSERT_EQ(AudioSessionInitialize(nullptr, Heard::interruption, &heard), noErr);
    EXPECT_EQ(AudioSessionInitialize(nullptr, Heard::interruption, &heard), kAudioSessionAlreadyInitialized);
    ASSERT_EQ(AudioSessionAddPropertyListener(kAudioSessionProperty_AudioRouteChange, Heard::route, &heard), noErr);
    const uint32_t category = kAudioSessionCategory_MediaPlayback;
    EXPECT_EQ(AudioSessionSetProperty(kAudioSessionProperty_AudioCategory, sizeof category, &category), noErr);
    EXPECT_EQ(AudioSessionSetActive(true), noErr);
    ASSERT_NE(shared.sink, nullptr);

    EXPECT_EQ(route(), "Speaker");
    shared.port = "analog-output-headphones";
    EXPECT_EQ(route(), "Headphone");
    shared.readable = false;
    EXPECT_EQ(route(), "(unavailable)");
    char tiny[4];
    uint32_t size = sizeof tiny;
    shared.readable = true;
    EXPECT_EQ(AudioSessionGetProperty(kAudioSessionProperty_AudioRoute, &size, tiny), kAudioSessionBadPropertySizeError);

    std::thread reporter([&] {
        shared.sink->interruption(true, false);
        shared.sink->routeChanged();
        shared.sink->interruption(false, true);
        shared.sink->interruption(false, false);
    });
    reporter.join();
    EXPECT_TRUE(heard.interruptions.empty()) << "delivered before the event loop ran";
    ASSERT_TRUE(lmtest::spinUntil([&] { return heard.interruptions.size() == 3; }, 2000));
    EXPECT_FALSE(heard.wrongThread);
    EXPECT_EQ(heard.routeChanges, 1);
    EXPECT_EQ(heard.interruptions[0], std::make_pair(uint32_t(kAudioSessionBeginInterruption), 0u));
    EXPECT_EQ(heard.interruptions[1],
              std::make_pair(uint32_t(kAudioSessionEndInterruption), uint32_t(kAudioSessionInterruptionFlag_ShouldResume)));
    EXPECT_EQ(heard.interruptions[2], std::make_pair(uint32_t(kAudioSessionEndInterruption), 0u));

    // A removed listener hears nothing; after shutdown nothing is delivered at all.
    ASSERT_EQ(AudioSessionRemovePropertyListener(kAudioSessionProperty_AudioRouteChange, Heard::route, &heard), noErr);
    shared.sink->routeChanged();
    shared.sink->interruption(true, false);
    AudioSessionShutdown();
    EXPECT_TRUE(shared.stopped);
    lmtest::spinFor(100);
    EXPECT_EQ(heard.routeChanges, 1);
    EXPECT_EQ(heard.interruptions.size(), 3u);
    EXPECT_EQ(route(), "(unavailable)");
}

TEST_F(AudioSessionTest, ANullSinkIsTheSpeakerAndANewDefaultSinkIsARouteChange)
{
    LMTEST_REQUIRE_PULSE();
    Heard heard;
    ASSERT_EQ(AudioSessionInitialize(nullptr, Heard::interruption, &heard), noErr);
    ASSERT_EQ(AudioSessionAddPropertyListener(kAudioSessionProperty_AudioRouteChange, Heard::route, &heard), noErr);
    EXPECT_EQ(route(), "Speaker");

    const std::string before = lmtest::run({"pactl", "get-default-sink"}).out;
    const std::string original = before.substr(0, before.find_first_of("\r\n"));
    lmtest::PrivateSink other;
    ASSERT_TRUE(other.ok());
    // A sink appearing or changing its volume is not a route change.
    ASSERT_EQ(lmtest::run({"pactl", "set-sink-volume", other.name(), "50%"}).status, 0);
    lmtest::spinFor(300);
    EXPECT_EQ(heard.routeChanges, 0);

    ASSERT_EQ(lmtest::run({"pactl", "set-default-sink", other.name()}).status, 0);
    const bool changed = lmtest::spinUntil([&] { return heard.routeChanges >= 1; }, 3000);
    lmtest::run({"pactl", "set-default-sink", original});
    EXPECT_TRUE(changed);
    EXPECT_TRUE(lmtest::spinUntil([&] { return heard.routeChanges >= 2; }, 3000));
    EXPECT_FALSE(heard.wrongThread);
}

// As the application does: pause on the interruption's begin (our stream corks), and the
// server's uncork request at its end allows resuming.
TEST_F(AudioSessionTest, TheServerCorkingOurStreamIsAnInterruption)
{
    LMTEST_REQUIRE_PULSE();
    LMTEST_REQUIRE_TOOL("paplay");
    lmtest::PrivateSink sink;
    ASSERT_TRUE(sink.ok());
    // Streams of the phone role cork music streams on the same sink.
    lmtest::RunResult module = lmtest::run({"pactl", "load-module", "module-role-cork", "global=false"});
    if (module.status != 0)
        GTEST_SKIP() << "module-role-cork is not available: " << module.err;
    const std::string moduleIndex = module.out.substr(0, module.out.find_first_of("\r\n"));
    lmtest::TempDir dir;
    lmtest::writeWav(dir.file("call.wav"), 44100, 2, 16, std::vector<uint8_t>(44100 * 4));

    Heard heard;
    ASSERT_EQ(AudioSessionInitialize(nullptr, Heard::interruption, &heard), noErr);
    ASSERT_TRUE(LMAudioOutputSelect("pulse"));
    LMPlayer *player = LMPlayerCreate();
    heard.react = [&](uint32_t state) {
        if (state == kAudioSessionBeginInterruption)
            LMPlayerPause(player);
    };
    LMPlayerPlayFile(player, lmtest::fakeFileOpen(lmtest::tonePcm(44100, 2, 16, 10)));
    EXPECT_EQ(LMPlayerGetState(player), LMPlayerStatePlaying);
    lmtest::spinFor(300);
    lmtest::BackgroundProcess phone({"paplay", "--property=media.role=phone", "-d", sink.name(), dir.file("call.wav")},
                                    dir.file("paplay.out"));
    const bool heardBoth = lmtest::spinUntil([&] { return heard.interruptions.size() >= 2; }, 5000);
    const int phoneStatus = phone.wait(3000);
    LMPlayerDispose(player);
    lmtest::run({"pactl", "unload-module", moduleIndex});
    EXPECT_EQ(phoneStatus, 0);
    ASSERT_TRUE(heardBoth);
    EXPECT_EQ(heard.interruptions[0].first, uint32_t(kAudioSessionBeginInterruption));
    EXPECT_EQ(heard.interruptions[1],
              std::make_pair(uint32_t(kAudioSessionEndInterruption), uint32_t(kAudioSessionInterruptionFlag_ShouldResume)));
    EXPECT_FALSE(heard.wrongThread);
}

} // namespace
