#include <cstring>

#include "platform/audio_file/audio_file.h"
#include "support/codec_support.h"
#include "support/test_support.h"

namespace {

class AudioFileService : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!lmtest::haveTool("ffmpeg"))
            return;
        dir_ = new lmtest::TempDir;
        ready_ = lmtest::ffmpegTone(dir_->file("body.mp3"), {"-c:a", "libmp3lame", "-id3v2_version", "0"}) &&
                 lmtest::ffmpegTone(dir_->file("alac.m4a"), {"-c:a", "alac"}) &&
                 lmtest::ffmpegTone(dir_->file("aac.m4a"), {"-c:a", "aac"});
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override
    {
        LMTEST_REQUIRE_TOOL("ffmpeg");
        ASSERT_TRUE(ready_);
    }
    void TearDown() override
    {
        if (file_ != nullptr)
            AudioFileClose(file_);
    }

    AudioFileID open(const std::string &path)
    {
        if (file_ != nullptr)
            AudioFileClose(file_);
        file_ = nullptr;
        EXPECT_EQ(AudioFileOpenPath(path.c_str(), kAudioFileReadPermission, 0, &file_), noErr) << path;
        return file_;
    }
    std::string body() { return dir_->file("body.mp3"); }
    // The MP3 body with bytes before and after it.
    std::string wrapped(const std::vector<uint8_t> &head, const std::vector<uint8_t> &tail)
    {
        std::vector<uint8_t> bytes = head, mp3 = lmtest::readFile(body());
        bytes.insert(bytes.end(), mp3.begin(), mp3.end());
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        std::string path = dir_->file("wrapped" + std::to_string(count_++) + ".mp3");
        lmtest::writeFile(path, bytes);
        return path;
    }
    std::vector<uint8_t> id3Tag()
    {
        uint32_t size = 0;
        EXPECT_EQ(AudioFileGetPropertyInfo(file_, kAudioFilePropertyID3Tag, &size, nullptr), noErr);
        std::vector<uint8_t> tag(size);
        EXPECT_EQ(AudioFileGetProperty(file_, kAudioFilePropertyID3Tag, &size, tag.data()), noErr);
        tag.resize(size);
        return tag;
    }
    template <typename T>
    T get(AudioFilePropertyID property, OSStatus expect = noErr)
    {
        T value{};
        uint32_t size = sizeof(T);
        EXPECT_EQ(AudioFileGetProperty(file_, property, &size, &value), expect);
        return value;
    }
    AudioFramePacketTranslation translate(AudioFilePropertyID property, int64_t frame, int64_t packet)
    {
        AudioFramePacketTranslation t{frame, packet, 0};
        uint32_t size = sizeof t;
        EXPECT_EQ(AudioFileGetProperty(file_, property, &size, &t), noErr);
        return t;
    }

    AudioFileID file_ = nullptr;
    int count_ = 0;
    static lmtest::TempDir *dir_;
    static bool ready_;
};

lmtest::TempDir *AudioFileService::dir_ = nullptr;
bool AudioFileService::ready_ = false;

std::vector<uint8_t> id3v2(uint8_t version, uint8_t flags, uint32_t size, uint8_t fill = 0)
{
    std::vector<uint8_t> tag = {'I', 'D', '3', version, 0, flags, uint8_t((size >> 21) & 0x7F),
                                uint8_t((size >> 14) & 0x7F), uint8_t((size >> 7) & 0x7F), uint8_t(size & 0x7F)};
    tag.resize(10 + size, fill);
    if (flags & 0x10) {   // footer: "3DI" and the header's other bytes
        tag.insert(tag.end(), {'3', 'D', 'I', version, 0, flags, tag[6], tag[7], tag[8], tag[9]});
    }
    return tag;
}

std::vector<uint8_t> id3v1()
{
    std::vector<uint8_t> tag(128, 0);
    memcpy(tag.data(), "TAGTitle", 8);
    return tag;
}

TEST_F(AudioFileService, Id3TagIsReadFromTheFileItself)
{
    const std::vector<uint8_t> v2 = id3v2(3, 0, 300, 0), v2footer = id3v2(4, 0x10, 40), v1 = id3v1();
    ASSERT_NE(open(wrapped(v2, v1)), nullptr);
    EXPECT_EQ(id3Tag(), v2);   // the tag at the start wins
    ASSERT_NE(open(wrapped(v2footer, {})), nullptr);
    EXPECT_EQ(id3Tag(), v2footer);
    ASSERT_NE(open(wrapped({}, v1)), nullptr);
    EXPECT_EQ(id3Tag(), v1);
    ASSERT_NE(open(body()), nullptr);
    EXPECT_TRUE(id3Tag().empty());

    // A header whose size bytes are not synchsafe is no tag.
    std::vector<uint8_t> bad = id3v2(3, 0, 20);
    bad[9] = 0x80;
    ASSERT_NE(open(wrapped(bad, v1)), nullptr);
    EXPECT_EQ(id3Tag(), v1);
}

TEST_F(AudioFileService, OpeningReadsOnlyTheHead)
{
    ASSERT_NE(open(body()), nullptr);
    const auto format = get<AudioStreamBasicDescription>(kAudioFilePropertyDataFormat);
    EXPECT_EQ(format.mFormatID, uint32_t(kAudioFormatMPEGLayer3));
    EXPECT_EQ(format.mSampleRate, 44100.0);
    EXPECT_EQ(get<uint32_t>(kAudioFilePropertyPacketSizeUpperBound), 1441u);
    // Until the packets are indexed the largest packet is only bounded...
    EXPECT_EQ(get<uint32_t>(kAudioFilePropertyMaximumPacketSize), 1441u);
    EXPECT_NEAR(get<double>(kAudioFilePropertyEstimatedDuration), 10.0, 0.05);
    // ...and once they are, it is measured.
    const uint64_t packets = get<uint64_t>(kAudioFilePropertyAudioDataPacketCount);
    EXPECT_NEAR(double(packets), 441000.0 / 1152, 3);
    const uint32_t largest = get<uint32_t>(kAudioFilePropertyMaximumPacketSize);
    EXPECT_GT(largest, 300u);
    EXPECT_LT(largest, 1441u);
}

// Priming and padding against what the encoders document, not against what the reader
// found: LAME delays the sound by 576 frames and its decoder by 529 more (spanning two
// packets at 22050 Hz, where a packet holds 576 frames), FFmpeg's AAC encoder primes one
// packet of 1024 frames; the padding is then the rest of the packets, as many as ffprobe
// counts. ALAC neither primes nor pads: its last packet holds only what is left.
TEST_F(AudioFileService, PrimingAndPaddingAreWhatTheEncodersDocument)
{
    LMTEST_REQUIRE_TOOL("ffprobe");
    ASSERT_TRUE(lmtest::ffmpegTone(dir_->file("short.mp3"), {"-c:a", "libmp3lame", "-b:a", "192k"}, 1.0));
    ASSERT_TRUE(lmtest::ffmpegTone(dir_->file("low.mp3"), {"-c:a", "libmp3lame", "-ar", "22050"}, 1.0));
    ASSERT_TRUE(lmtest::ffmpegTone(dir_->file("short.m4a"), {"-c:a", "aac"}, 1.0));
    struct Expected {
        const char *name;
        int64_t recorded, priming;
        int64_t packetFrames;   // 0: packets of their own lengths, nothing padded
    };
    const Expected all[] = {
        {"body.mp3", 441000, 576 + 529, 1152}, {"short.mp3", 44100, 576 + 529, 1152},
        {"low.mp3", 22050, 576 + 529, 576},    {"aac.m4a", 441000, 1024, 1024},
        {"short.m4a", 44100, 1024, 1024},      {"alac.m4a", 441000, 0, 0},
    };
    for (const Expected &e : all) {
        const std::string path = dir_->file(e.name);
        const int64_t packets = lmtest::ffprobePacketCount(path);
        ASSERT_GT(packets, 0) << e.name;
        const int64_t padding = e.packetFrames > 0 ? packets * e.packetFrames - e.priming - e.recorded : 0;
        ASSERT_GE(padding, 0) << e.name;
        ASSERT_NE(open(path), nullptr);
        const auto table = get<AudioFilePacketTableInfo>(kAudioFilePropertyPacketTableInfo);
        EXPECT_EQ(table.mPrimingFrames, e.priming) << e.name;
        EXPECT_EQ(table.mRemainderFrames, padding) << e.name;
        EXPECT_EQ(table.mNumberValidFrames, e.recorded) << e.name;
        EXPECT_EQ(get<uint64_t>(kAudioFilePropertyAudioDataPacketCount), uint64_t(packets)) << e.name;
    }
}

TEST_F(AudioFileService, FramesAndPacketsTranslate)
{
    ASSERT_NE(open(body()), nullptr);
    AudioFramePacketTranslation t = translate(kAudioFilePropertyFrameToPacket, 1152 * 5 + 3, 0);
    EXPECT_EQ(t.mPacket, 5);
    EXPECT_EQ(t.mFrameOffsetInPacket, 3u);
    EXPECT_EQ(translate(kAudioFilePropertyPacketToFrame, 0, 7).mFrame, 7 * 1152);

    // ALAC packets vary in length: the last holds what is left of 441000 frames.
    ASSERT_NE(open(dir_->file("alac.m4a")), nullptr);
    EXPECT_EQ(get<AudioStreamBasicDescription>(kAudioFilePropertyDataFormat).mFramesPerPacket, 0u);
    t = translate(kAudioFilePropertyFrameToPacket, 441000 - 1, 0);
    EXPECT_EQ(t.mPacket, 107);
    EXPECT_EQ(t.mFrameOffsetInPacket, 441000u - 1 - 107 * 4096);
    EXPECT_EQ(translate(kAudioFilePropertyFrameToPacket, 441000, 0).mPacket, 108);
    EXPECT_EQ(translate(kAudioFilePropertyPacketToFrame, 0, 108).mFrame, 441000);
    EXPECT_EQ(translate(kAudioFilePropertyPacketToFrame, 0, 3).mFrame, 3 * 4096);

    std::vector<uint8_t> buffer(65536);
    std::vector<AudioStreamPacketDescription> d(8);
    uint32_t bytes = uint32_t(buffer.size()), packets = 8;
    ASSERT_EQ(AudioFileReadPacketData(file_, false, &bytes, d.data(), 106, &packets, buffer.data()), noErr);
    EXPECT_EQ(packets, 2u);
    EXPECT_EQ(d[0].mVariableFramesInPacket, 4096u);
    EXPECT_EQ(d[1].mVariableFramesInPacket, 441000u - 107 * 4096);
    EXPECT_EQ(d[1].mStartOffset, int64_t(d[0].mDataByteSize));
    EXPECT_EQ(bytes, d[0].mDataByteSize + d[1].mDataByteSize);
}

TEST_F(AudioFileService, ReadsStopAtTheRoomAndTheEnd)
{
    ASSERT_NE(open(body()), nullptr);
    std::vector<uint8_t> buffer(4096);
    std::vector<AudioStreamPacketDescription> d(100);
    uint32_t bytes = 100, packets = 100;
    EXPECT_EQ(AudioFileReadPacketData(file_, false, &bytes, d.data(), 0, &packets, buffer.data()), kAudioLayerParamError);
    EXPECT_EQ(packets, 0u);
    bytes = 4096, packets = 100;   // more packets asked than fit
    ASSERT_EQ(AudioFileReadPacketData(file_, false, &bytes, d.data(), 0, &packets, buffer.data()), noErr);
    EXPECT_GT(packets, 5u);
    EXPECT_LT(packets, 100u);
    EXPECT_LE(bytes, 4096u);
    EXPECT_EQ(int64_t(bytes), d[packets - 1].mStartOffset + d[packets - 1].mDataByteSize);
    bytes = 4096, packets = 10;
    EXPECT_EQ(AudioFileReadPacketData(file_, false, &bytes, d.data(), 1 << 20, &packets, buffer.data()), noErr);
    EXPECT_EQ(packets, 0u);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(AudioFileReadPacketData(file_, false, &bytes, d.data(), -1, &packets, buffer.data()), kAudioLayerParamError);
}

TEST_F(AudioFileService, PropertiesCheckTheirSizes)
{
    ASSERT_NE(open(dir_->file("aac.m4a")), nullptr);
    uint16_t small = 0;
    uint32_t size = sizeof small;
    EXPECT_EQ(AudioFileGetProperty(file_, kAudioFilePropertyDataFormat, &size, &small), kAudioLayerBadPropertySize);
    EXPECT_EQ(AudioFileGetPropertyInfo(file_, LMFourCC("nope"), &size, nullptr), kAudioLayerUnknownProperty);
    uint8_t cookie[64];
    size = sizeof cookie;
    ASSERT_EQ(AudioFileGetProperty(file_, kAudioFilePropertyMagicCookieData, &size, cookie), noErr);
    EXPECT_EQ(size, 5u);   // ffmpeg's AAC encoder writes a 5-byte AudioSpecificConfig
    size = 1;              // a cookie is cut to the room given
    EXPECT_EQ(AudioFileGetProperty(file_, kAudioFilePropertyMagicCookieData, &size, cookie), noErr);
    EXPECT_EQ(size, 1u);
    AudioFileID none = nullptr;
    EXPECT_NE(AudioFileOpenPath(dir_->path().c_str(), kAudioFileReadPermission, 0, &none), noErr);
    EXPECT_EQ(none, nullptr);
}

} // namespace

namespace {

// The name's extension only speeds up opening; what the bytes are decides the format.
TEST_F(AudioFileService, MisnamedFilesOpenByTheirContent)
{
    auto formatOf = [&](const std::string &path) {
        AudioStreamBasicDescription asbd{};
        uint32_t size = sizeof asbd;
        if (open(path) == nullptr || AudioFileGetProperty(file_, kAudioFilePropertyDataFormat, &size, &asbd) != noErr)
            return 0u;
        return asbd.mFormatID;
    };
    const std::string mp3AsM4a = dir_->file("mp3-named.m4a"), aacAsMp3 = dir_->file("aac-named.mp3"),
                      wavAsMp3 = dir_->file("wav-named.mp3");
    lmtest::writeFile(mp3AsM4a, lmtest::readFile(body()));
    lmtest::writeFile(aacAsMp3, lmtest::readFile(dir_->file("aac.m4a")));
    lmtest::writeWav(wavAsMp3, 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 0.5));
    EXPECT_EQ(formatOf(mp3AsM4a), kAudioFormatMPEGLayer3);
    EXPECT_EQ(formatOf(aacAsMp3), kAudioFormatMPEG4AAC);
    EXPECT_EQ(formatOf(wavAsMp3), kAudioFormatLinearPCM);
}

} // namespace
