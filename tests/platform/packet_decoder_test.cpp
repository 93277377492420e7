#include "platform/audio_file/audio_file.h"
#include "platform/audio_file/packet_decoder.h"
#include "support/codec_support.h"
#include "support/test_support.h"

namespace {

AudioStreamBasicDescription lpcm(uint32_t bits, bool bigEndian)
{
    AudioStreamBasicDescription f{};
    f.mSampleRate = 8000;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked | (bigEndian ? kAudioFormatFlagIsBigEndian : 0u);
    f.mChannelsPerFrame = 2;
    f.mBitsPerChannel = bits;
    f.mBytesPerFrame = f.mBytesPerPacket = bits / 8 * 2;
    f.mFramesPerPacket = 1;
    return f;
}

TEST(PacketDecoder, UnknownFormatsHaveNoDecoder)
{
    AudioStreamBasicDescription f = lpcm(16, false);
    f.mFormatID = LMFourCC("zzzz");
    EXPECT_EQ(LMPacketDecoderNew(&f, nullptr, 0, nullptr), nullptr);
    f = lpcm(16, false);
    f.mFormatFlags |= kAudioFormatFlagIsFloat;
    EXPECT_EQ(LMPacketDecoderNew(&f, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(LMPacketDecoderNew(nullptr, nullptr, 0, nullptr), nullptr);
    LMPacketDecoderFree(nullptr);
    LMPacketDecoderReset(nullptr);
}

TEST(PacketDecoder, LinearPcmComesOutLittleEndian)
{
    const AudioStreamBasicDescription in = lpcm(24, true);
    AudioStreamBasicDescription out{};
    LMPacketDecoder *d = LMPacketDecoderNew(&in, nullptr, 0, &out);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(out.mBitsPerChannel, 24u);
    EXPECT_EQ(out.mFormatFlags & kAudioFormatFlagIsBigEndian, 0u);
    const std::vector<uint8_t> frames = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};   // two frames and a stray byte
    std::vector<uint8_t> pcm;
    EXPECT_EQ(LMPacketDecoderDecode(d, frames.data(), uint32_t(frames.size()), nullptr, 2, &pcm), 12);
    EXPECT_EQ(pcm, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
    LMPacketDecoderFree(d);
}

TEST(PacketDecoder, DescriptionsOutsideTheBufferAreSkipped)
{
    const AudioStreamBasicDescription in = lpcm(16, false);
    LMPacketDecoder *d = LMPacketDecoderNew(&in, nullptr, 0, nullptr);
    ASSERT_NE(d, nullptr);
    const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
    const AudioStreamPacketDescription descriptions[] = {{4, 0, 4}, {-4, 0, 4}, {6, 0, 4}, {0, 0, 0xFFFFFFFF}, {0, 0, 4}};
    std::vector<uint8_t> pcm;
    EXPECT_EQ(LMPacketDecoderDecode(d, data.data(), uint32_t(data.size()), descriptions, 5, &pcm), 8);
    EXPECT_EQ(pcm, (std::vector<uint8_t>{5, 6, 7, 8, 1, 2, 3, 4}));
    LMPacketDecoderFree(d);
}

TEST(PacketDecoder, CompressedPacketsNeedDescriptionsAndSurviveGarbage)
{
    AudioStreamBasicDescription in{};
    in.mSampleRate = 44100;
    in.mFormatID = kAudioFormatMPEGLayer3;
    in.mChannelsPerFrame = 2;
    in.mFramesPerPacket = 1152;
    AudioStreamBasicDescription out{};
    LMPacketDecoder *d = LMPacketDecoderNew(&in, nullptr, 0, &out);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(out.mBitsPerChannel, 16u);
    EXPECT_EQ(out.mBytesPerFrame, 4u);
    std::vector<uint8_t> garbage(2000, 0x5A), pcm;
    EXPECT_EQ(LMPacketDecoderDecode(d, garbage.data(), 2000, nullptr, 1, &pcm), -1);
    const AudioStreamPacketDescription desc[] = {{0, 0, 1000}, {1000, 0, 1000}};
    EXPECT_GE(LMPacketDecoderDecode(d, garbage.data(), 2000, desc, 2, &pcm), 0);
    LMPacketDecoderReset(d);
    LMPacketDecoderFree(d);
}

TEST(PacketDecoder, AlacPacketsDecodeToTheReferencePcm)
{
    LMTEST_REQUIRE_TOOL("ffmpeg");
    lmtest::TempDir dir;
    const std::string path = dir.file("a.m4a");
    ASSERT_TRUE(lmtest::ffmpegTone(path, {"-c:a", "alac", "-sample_fmt", "s32p"}, 2));
    AudioFileID file = nullptr;
    ASSERT_EQ(AudioFileOpenPath(path.c_str(), kAudioFileReadPermission, 0, &file), noErr);
    AudioStreamBasicDescription format{};
    uint32_t size = sizeof format;
    ASSERT_EQ(AudioFileGetProperty(file, kAudioFilePropertyDataFormat, &size, &format), noErr);
    std::vector<uint8_t> cookie(256);
    size = uint32_t(cookie.size());
    ASSERT_EQ(AudioFileGetProperty(file, kAudioFilePropertyMagicCookieData, &size, cookie.data()), noErr);
    AudioStreamBasicDescription out{};
    LMPacketDecoder *d = LMPacketDecoderNew(&format, cookie.data(), size, &out);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(out.mBitsPerChannel, 24u);   // the stream's own width
    std::vector<uint8_t> buffer(1 << 18), pcm;
    std::vector<AudioStreamPacketDescription> descriptions(64);
    for (int64_t packet = 0;;) {
        uint32_t bytes = uint32_t(buffer.size()), count = 64;
        ASSERT_EQ(AudioFileReadPacketData(file, false, &bytes, descriptions.data(), packet, &count, buffer.data()), noErr);
        if (count == 0)
            break;
        ASSERT_GE(LMPacketDecoderDecode(d, buffer.data(), bytes, descriptions.data(), count, &pcm), 0);
        packet += count;
    }
    LMPacketDecoderFree(d);
    AudioFileClose(file);
    EXPECT_EQ(pcm, lmtest::ffmpegPcm(path, "s24le"));
}

} // namespace
