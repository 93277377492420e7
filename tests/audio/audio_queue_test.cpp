// The output queue over the silent and WAV outputs: hand-back, stop, pause, dispose.
#include <cstring>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include "platform/audio_queue/audio_queue.h"
#include "platform/audio_queue/wav_writer.h"
#include "support/fake_audio_file.h"
#include "support/test_support.h"

namespace {

AudioStreamBasicDescription pcmFormat(uint32_t rate, uint32_t channels, uint32_t bits, uint32_t flags)
{
    AudioStreamBasicDescription f{};
    f.mSampleRate = rate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = flags;
    f.mBytesPerFrame = f.mBytesPerPacket = channels * ((bits + 7) / 8);
    f.mFramesPerPacket = 1;
    f.mChannelsPerFrame = channels;
    f.mBitsPerChannel = bits;
    return f;
}

const uint32_t kSigned = kAudioFormatFlagIsSignedInteger;

struct Harness {
    AudioQueueRef queue = nullptr;
    std::vector<AudioQueueBufferRef> returned;
    std::vector<uint32_t> runningSeen;
    bool wrongThread = false;

    static void output(void *user, AudioQueueRef, AudioQueueBufferRef buffer)
    {
        Harness *h = static_cast<Harness *>(user);
        h->wrongThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        h->returned.push_back(buffer);
    }

    static void running(void *user, AudioQueueRef q, AudioQueuePropertyID)
    {
        Harness *h = static_cast<Harness *>(user);
        uint32_t value = 99, size = sizeof value;
        EXPECT_EQ(AudioQueueGetProperty(q, kAudioQueueProperty_IsRunning, &value, &size), noErr);
        h->runningSeen.push_back(value);
    }

    OSStatus create(const AudioStreamBasicDescription &f)
    {
        OSStatus err = AudioQueueNewOutput(&f, output, this, nullptr, 0, &queue);
        if (err == noErr)
            AudioQueueAddPropertyListener(queue, kAudioQueueProperty_IsRunning, running, this);
        return err;
    }

    AudioQueueBufferRef enqueue(const std::vector<uint8_t> &bytes)
    {
        AudioQueueBufferRef b = nullptr;
        EXPECT_EQ(AudioQueueAllocateBuffer(queue, uint32_t(bytes.size()), &b), noErr);
        memcpy(b->mAudioData, bytes.data(), bytes.size());
        b->mAudioDataByteSize = uint32_t(bytes.size());
        EXPECT_EQ(AudioQueueEnqueueBuffer(queue, b, 0, nullptr), noErr);
        return b;
    }

    ~Harness()
    {
        if (queue)
            AudioQueueDispose(queue, true);
    }
};

class AudioQueueTest : public ::testing::Test {
protected:
    void SetUp() override { lmtest::ensureCoreApp(); }
    void TearDown() override { LMAudioOutputSelect(nullptr); }
    lmtest::TempDir dir;
};

std::vector<uint8_t> wavBody(const std::string &path)
{
    std::vector<uint8_t> f = lmtest::readFile(path);
    return f.size() < 44 ? std::vector<uint8_t>() : std::vector<uint8_t>(f.begin() + 44, f.end());
}

TEST_F(AudioQueueTest, TakesOnlyPcmLayoutsADeviceCanPlay)
{
    ASSERT_TRUE(LMAudioOutputSelect("null"));
    struct Case {
        AudioStreamBasicDescription format;
        bool ok;
    };
    AudioStreamBasicDescription noChannels = pcmFormat(44100, 2, 16, kSigned);
    noChannels.mChannelsPerFrame = 0;
    AudioStreamBasicDescription noRate = pcmFormat(0, 2, 16, kSigned);
    AudioStreamBasicDescription oddFrame = pcmFormat(44100, 2, 16, kSigned);
    oddFrame.mBytesPerFrame = oddFrame.mBytesPerPacket = 5;
    const Case cases[] = {
        {pcmFormat(44100, 2, 16, kSigned), true},
        {pcmFormat(8000, 1, 8, 0), true},
        {pcmFormat(96000, 2, 24, kSigned | kAudioFormatFlagIsBigEndian), true},
        {pcmFormat(192000, 8, 32, kSigned), true},
        {pcmFormat(48000, 2, 32, kAudioFormatFlagIsFloat), true},
        {pcmFormat(44100, 2, 12, kSigned), false},
        {pcmFormat(44100, 2, 64, kAudioFormatFlagIsFloat), false},
        {noChannels, false},
        {noRate, false},
        {oddFrame, false},
    };
    for (const Case &c : cases) {
        Harness h;
        EXPECT_EQ(h.create(c.format) == noErr, c.ok)
            << c.format.mSampleRate << " Hz " << c.format.mChannelsPerFrame << " ch " << c.format.mBitsPerChannel;
    }
    AudioQueueRef q = nullptr;
    AudioStreamBasicDescription f = pcmFormat(44100, 2, 16, kSigned);
    EXPECT_EQ(AudioQueueNewOutput(&f, nullptr, nullptr, nullptr, 0, &q), kAudioLayerParamError);
    EXPECT_EQ(q, nullptr);
}

TEST_F(AudioQueueTest, HandsBuffersBackOnItsOwnThreadAfterTheDeviceTookThem)
{
    const std::string path = dir.file("out.wav");
    ASSERT_TRUE(LMAudioOutputSelect(("wav-fast:" + path).c_str()));
    Harness h;
    ASSERT_EQ(h.create(pcmFormat(44100, 2, 16, kSigned)), noErr);
    const auto a = lmtest::counterPcm16(5000, 2, 1);
    const auto b = lmtest::counterPcm16(7001, 2, 30000);
    auto c = lmtest::counterPcm16(3000, 2, 9);
    c.push_back(0xAB);   // half a frame: cut, never played
    AudioQueueBufferRef ba = h.enqueue(a), bb = h.enqueue(b), bc = h.enqueue(c);
    lmtest::spinFor(50);
    EXPECT_TRUE(h.returned.empty()) << "handed back before the start";
    ASSERT_EQ(AudioQueueStart(h.queue, nullptr), noErr);
    ASSERT_TRUE(lmtest::spinUntil([&] { return h.returned.size() == 3; }, 5000));
    EXPECT_FALSE(h.wrongThread);
    EXPECT_EQ(h.returned, (std::vector<AudioQueueBufferRef>{ba, bb, bc}));
    EXPECT_EQ(bc->mAudioDataByteSize, 12000u);
    ASSERT_EQ(h.runningSeen, std::vector<uint32_t>{1});

    // A returned buffer may go round again; then a stop after play-out.
    EXPECT_EQ(AudioQueueEnqueueBuffer(h.queue, ba, 0, nullptr), noErr);
    EXPECT_EQ(AudioQueueEnqueueBuffer(h.queue, ba, 0, nullptr), kAudioQueueErr_BufferInQueue);
    EXPECT_EQ(AudioQueueStop(h.queue, false), noErr);
    ASSERT_TRUE(lmtest::spinUntil([&] { return h.runningSeen.size() == 2; }, 5000));
    EXPECT_EQ(h.runningSeen.back(), 0u);
    EXPECT_EQ(h.returned.size(), 4u);
    AudioQueueDispose(h.queue, true);
    h.queue = nullptr;

    std::vector<uint8_t> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    expected.insert(expected.end(), c.begin(), c.end() - 1);
    expected.insert(expected.end(), a.begin(), a.end());
    EXPECT_TRUE(wavBody(path) == expected);
}

TEST_F(AudioQueueTest, ImmediateStopDropsWhatIsQueuedWithoutHandingItBack)
{
    ASSERT_TRUE(LMAudioOutputSelect("null"));
    Harness h;
    ASSERT_EQ(h.create(pcmFormat(44100, 2, 16, kSigned)), noErr);
    for (int i = 0; i < 3; i++)
        h.enqueue(std::vector<uint8_t>(176400));   // one second each
    ASSERT_EQ(AudioQueueStart(h.queue, nullptr), noErr);
    lmtest::spinFor(100);
    ASSERT_EQ(AudioQueueStop(h.queue, true), noErr);
    lmtest::spinFor(300);
    EXPECT_TRUE(h.returned.empty());
    EXPECT_EQ(h.runningSeen, (std::vector<uint32_t>{1, 0}));
}

TEST_F(AudioQueueTest, PauseHoldsTheBuffersAndStartResumes)
{
    ASSERT_TRUE(LMAudioOutputSelect("null"));
    Harness h;
    ASSERT_EQ(h.create(pcmFormat(44100, 2, 16, kSigned)), noErr);
    for (int i = 0; i < 3; i++)
        h.enqueue(std::vector<uint8_t>(17640 * 2));   // 0.2 s each
    ASSERT_EQ(AudioQueueStart(h.queue, nullptr), noErr);
    ASSERT_EQ(AudioQueuePause(h.queue), noErr);
    lmtest::spinFor(700);
    EXPECT_LE(h.returned.size(), 1u);
    uint32_t running = 0, size = sizeof running;
    AudioQueueGetProperty(h.queue, kAudioQueueProperty_IsRunning, &running, &size);
    EXPECT_EQ(running, 1u) << "a paused queue still counts as running";
    ASSERT_EQ(AudioQueueStart(h.queue, nullptr), noErr);
    EXPECT_TRUE(lmtest::spinUntil([&] { return h.returned.size() == 3; }, 3000));
}

// Disposing while the device thread is inside a buffer must neither call back nor touch
// freed memory (run under the address sanitizer).
TEST_F(AudioQueueTest, DisposeWhileTheDeviceHoldsBuffersIsSilentAndSafe)
{
    const std::string path = dir.file("dispose.wav");
    const char *outputs[] = {"null", "wav:", "wav-fast:"};
    for (const char *output : outputs) {
        std::string spec = output;
        if (spec.back() == ':')
            spec += path;
        ASSERT_TRUE(LMAudioOutputSelect(spec.c_str()));
        for (int round = 0; round < 10; round++) {
            auto *h = new Harness;
            ASSERT_EQ(h->create(pcmFormat(44100, 2, 16, kSigned)), noErr);
            for (int i = 0; i < 3; i++)
                h->enqueue(std::vector<uint8_t>(8820 * (round + 1)));
            ASSERT_EQ(AudioQueueStart(h->queue, nullptr), noErr);
            lmtest::spinFor(round * 7);
            const size_t before = h->returned.size();
            AudioQueueDispose(h->queue, true);
            h->queue = nullptr;
            lmtest::spinFor(30);
            EXPECT_EQ(h->returned.size(), before) << spec << ": called back after dispose";
            delete h;   // the user data of a disposed queue may go at once
        }
    }
    lmtest::spinFor(50);
}

TEST_F(AudioQueueTest, DisposeAfterPlayOutLetsTheQueuePlayWithoutCallbacks)
{
    const std::string path = dir.file("playout.wav");
    ASSERT_TRUE(LMAudioOutputSelect(("wav:" + path).c_str()));
    Harness h;
    ASSERT_EQ(h.create(pcmFormat(44100, 2, 16, kSigned)), noErr);
    const auto a = lmtest::counterPcm16(4410, 2, 3);   // 0.1 s
    h.enqueue(a);
    ASSERT_EQ(AudioQueueStart(h.queue, nullptr), noErr);
    ASSERT_EQ(AudioQueueDispose(h.queue, false), noErr);
    h.queue = nullptr;
    ASSERT_TRUE(lmtest::spinUntil([&] { return wavBody(path).size() == a.size(); }, 3000));
    lmtest::spinFor(200);
    EXPECT_TRUE(h.returned.empty());
    EXPECT_TRUE(wavBody(path) == a);
}

TEST_F(AudioQueueTest, VolumeIsALinearGainFromZeroToOne)
{
    ASSERT_TRUE(LMAudioOutputSelect("null"));
    Harness h;
    ASSERT_EQ(h.create(pcmFormat(44100, 2, 16, kSigned)), noErr);
    AudioQueueParameterValue v = -1;
    EXPECT_EQ(AudioQueueGetParameter(h.queue, kAudioQueueParam_Volume, &v), noErr);
    EXPECT_EQ(v, 1.0f);
    AudioQueueSetParameter(h.queue, kAudioQueueParam_Volume, 0.25f);
    AudioQueueGetParameter(h.queue, kAudioQueueParam_Volume, &v);
    EXPECT_EQ(v, 0.25f);
    AudioQueueSetParameter(h.queue, kAudioQueueParam_Volume, 3.0f);
    AudioQueueGetParameter(h.queue, kAudioQueueParam_Volume, &v);
    EXPECT_EQ(v, 1.0f);
    AudioQueueSetParameter(h.queue, kAudioQueueParam_Volume, -2.0f);
    AudioQueueGetParameter(h.queue, kAudioQueueParam_Volume, &v);
    EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(AudioQueueSetParameter(h.queue, 77, 0.5f), kAudioQueueErr_InvalidParameter);
}

TEST_F(AudioQueueTest, OneWavFileHoldsOneFormat)
{
    const std::string path = dir.file("seq.wav");
    ASSERT_TRUE(LMAudioOutputSelect(("wav-fast:" + path).c_str()));
    auto play = [](const AudioStreamBasicDescription &f, const std::vector<uint8_t> &pcm) {
        Harness h;
        ASSERT_EQ(h.create(f), noErr);
        h.enqueue(pcm);
        AudioQueueStop(h.queue, false);
        ASSERT_EQ(AudioQueueStart(h.queue, nullptr), noErr);
        // Started and at once played out: listeners hear the queue stopped.
        ASSERT_TRUE(lmtest::spinUntil([&] { return !h.runningSeen.empty() && h.runningSeen.back() == 0; }, 3000));
    };
    const auto a = lmtest::counterPcm16(1000, 2, 0);
    const auto b = lmtest::counterPcm16(1000, 2, 5);
    const std::vector<uint8_t> mono8(777, 0x80);
    play(pcmFormat(44100, 2, 16, kSigned), a);
    play(pcmFormat(44100, 2, 16, kSigned), b);   // same format: appended
    play(pcmFormat(22050, 1, 8, 0), mono8);      // another: a new file
    play(pcmFormat(44100, 2, 16, kSigned), a);   // and again
    std::vector<uint8_t> ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    EXPECT_TRUE(wavBody(path) == ab);
    std::vector<uint8_t> second = lmtest::readFile(dir.file("seq.2.wav"));
    ASSERT_EQ(second.size(), 44u + 777 + 1) << "odd data is padded";
    EXPECT_EQ(second[34], 8);
    EXPECT_TRUE(wavBody(dir.file("seq.3.wav")) == a);

    EXPECT_EQ(lmaudio::WavPathForIndex("/x/a.wav", 1), "/x/a.wav");
    EXPECT_EQ(lmaudio::WavPathForIndex("/x/a.wav", 2), "/x/a.2.wav");
    EXPECT_EQ(lmaudio::WavPathForIndex("/x.d/out", 3), "/x.d/out.3");
    EXPECT_EQ(lmaudio::WavPathForIndex("/x/.hidden", 2), "/x/.hidden.2");
}

TEST_F(AudioQueueTest, OutputNames)
{
    for (const char *ok : {"pulse", "null", "wav:/tmp/a.wav", "wav-fast:x.wav"})
        EXPECT_TRUE(LMAudioOutputSpecValid(ok)) << ok;
    for (const char *bad : {"", "wav:", "wav-fast:", "alsa", "Pulse", "null:x"})
        EXPECT_FALSE(LMAudioOutputSpecValid(bad)) << bad;
    EXPECT_FALSE(LMAudioOutputSelect("speakers"));
    EXPECT_TRUE(LMAudioOutputSelect("null"));
    EXPECT_TRUE(LMAudioOutputSelect(nullptr));
}

} // namespace
