// Frames trimmed from enqueued buffers (an encoder's priming and padding), and buffers
// that begin another stream of a compressed queue.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/lm_coreaudio_file.h"
#include "engine/lm_file.h"
#include "platform/audio_file/packet_decoder.h"
#include "platform/audio_queue/audio_queue.h"
#include "support/codec_support.h"
#include "support/fake_audio_file.h"
#include "support/test_support.h"

namespace {

struct Queue {
    AudioQueueRef queue = nullptr;
    int returned = 0;

    static void output(void *user, AudioQueueRef, AudioQueueBufferRef) { static_cast<Queue *>(user)->returned++; }

    explicit Queue(const AudioStreamBasicDescription &format)
    {
        EXPECT_EQ(AudioQueueNewOutput(&format, output, this, nullptr, 0, &queue), noErr);
    }
    ~Queue()
    {
        if (queue)
            AudioQueueDispose(queue, true);
    }
    AudioQueueBufferRef buffer(const void *data, size_t size)
    {
        AudioQueueBufferRef b = nullptr;
        EXPECT_EQ(AudioQueueAllocateBuffer(queue, uint32_t(size), &b), noErr);
        memcpy(b->mAudioData, data, size);
        b->mAudioDataByteSize = uint32_t(size);
        return b;
    }
    // Starts, waits until every buffer came back, and disposes the queue, which completes
    // the WAV file it wrote.
    bool playOut(int buffers)
    {
        AudioQueueStop(queue, false);
        const bool played = AudioQueueStart(queue, nullptr) == noErr &&
                            lmtest::spinUntil([&] { return returned == buffers; }, 5000);
        AudioQueueDispose(queue, true);
        queue = nullptr;
        return played;
    }
};

std::vector<uint8_t> wavBody(const std::string &path)
{
    std::vector<uint8_t> f = lmtest::readFile(path);
    return f.size() < 44 ? std::vector<uint8_t>() : std::vector<uint8_t>(f.begin() + 44, f.end());
}

class QueueTrim : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureCoreApp();
        ASSERT_TRUE(LMAudioOutputSelect(("wav-fast:" + dir.file("out.wav")).c_str()));
    }
    void TearDown() override { LMAudioOutputSelect(nullptr); }
    lmtest::TempDir dir;
};

TEST_F(QueueTrim, PcmBuffersLoseTheirTrimmedFrames)
{
    // 44.1 kHz, 16-bit stereo: 4 bytes a packet, 1 frame a packet, 4 bytes a frame.
    const AudioStreamBasicDescription cd{44100, kAudioFormatLinearPCM, kAudioFormatFlagIsSignedInteger, 4, 1, 4, 2, 16, 0};
    Queue q(cd);
    const std::vector<uint8_t> a = lmtest::counterPcm16(5000, 2, 1);
    const std::vector<uint8_t> b = lmtest::counterPcm16(3000, 2, 20000);
    AudioQueueBufferRef ba = q.buffer(a.data(), a.size()), bb = q.buffer(b.data(), b.size());
    EXPECT_EQ(AudioQueueEnqueueBufferWithParameters(q.queue, ba, 0, nullptr, 100, 200, 0), noErr);
    EXPECT_EQ(AudioQueueEnqueueBufferWithParameters(q.queue, bb, 0, nullptr, 3000, 0, 0), kAudioQueueErr_BufferEmpty);
    EXPECT_EQ(AudioQueueEnqueueBufferWithParameters(q.queue, bb, 0, nullptr, 0, 0, 0x80), kAudioLayerParamError);
    EXPECT_EQ(AudioQueueEnqueueBufferWithParameters(q.queue, bb, 0, nullptr, 0, 1, 0), noErr);
    ASSERT_TRUE(q.playOut(2));
    std::vector<uint8_t> expected(a.begin() + 100 * 4, a.end() - 200 * 4);
    expected.insert(expected.end(), b.begin(), b.end() - 4);
    EXPECT_TRUE(wavBody(dir.file("out.wav")) == expected);
}

TEST_F(QueueTrim, CompressedBuffersAreTrimmedAfterDecodingAndMayStartAfresh)
{
    LMTEST_REQUIRE_TOOL("ffmpeg");
    ASSERT_TRUE(lmtest::ffmpegTone(dir.file("a.mp3"), {"-c:a", "libmp3lame"}, 1.0));
    LMFile *file = LMFileOpen(dir.file("a.mp3").c_str());
    ASSERT_NE(file, nullptr);
    const AudioStreamBasicDescription format = *LMCoreAudioFileFormat(file);
    std::vector<uint8_t> packets(1 << 20);
    AudioStreamPacketDescription *descriptions = nullptr;
    uint32_t count = 0;
    const int size = LMCoreAudioFileReadPackets(file, packets.data(), uint32_t(packets.size()), &descriptions, &count);
    LMFileClose(file);
    ASSERT_GT(size, 0);
    std::vector<AudioStreamPacketDescription> d(descriptions, descriptions + count);
    free(descriptions);

    // The whole stream decoded afresh, as the reference.
    AudioStreamBasicDescription pcm{};
    LMPacketDecoder *decoder = LMPacketDecoderNew(&format, nullptr, 0, &pcm);
    ASSERT_NE(decoder, nullptr);
    std::vector<uint8_t> fresh;
    ASSERT_GT(LMPacketDecoderDecode(decoder, packets.data(), uint32_t(size), d.data(), count, &fresh), 0);
    LMPacketDecoderFree(decoder);

    // The first half of the stream, trimmed; then the whole stream again, which must not
    // hear what the first left in the decoder (it stops in the middle of the tone).
    Queue q(format);
    const uint32_t halfCount = count / 2;
    const size_t halfBytes = size_t(d[halfCount].mStartOffset);
    const size_t halfFrames = size_t(halfCount) * format.mFramesPerPacket;
    AudioQueueBufferRef first = q.buffer(packets.data(), halfBytes);
    AudioQueueBufferRef again = q.buffer(packets.data(), size_t(size));
    AudioQueueBufferRef last = q.buffer(packets.data(), size_t(size));
    EXPECT_EQ(AudioQueueEnqueueBufferWithParameters(q.queue, first, halfCount, d.data(), 1105, 700, 0), noErr);
    EXPECT_EQ(AudioQueueEnqueueBufferWithParameters(q.queue, again, count, d.data(), 0, 0,
                                                    kAudioQueueBufferFlag_NewStream),
              noErr);
    // Trimmed away entirely: nothing is played of it.
    EXPECT_EQ(AudioQueueEnqueueBufferWithParameters(q.queue, last, count, d.data(), 1u << 30, 0, 0), noErr);
    ASSERT_TRUE(q.playOut(3));

    ASSERT_GT(fresh.size(), halfFrames * 4);
    std::vector<uint8_t> expected(fresh.begin() + 1105 * 4, fresh.begin() + std::ptrdiff_t(halfFrames - 700) * 4);
    expected.insert(expected.end(), fresh.begin(), fresh.end());
    const std::vector<uint8_t> heard = wavBody(dir.file("out.wav"));
    ASSERT_EQ(heard.size(), expected.size());
    EXPECT_TRUE(heard == expected) << "the second stream must decode as it does on its own";
}

} // namespace
