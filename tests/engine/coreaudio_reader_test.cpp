#include <filesystem>
#include <memory>

#include "engine/lm_coreaudio_file.h"
#include "engine/lm_file.h"
#include "engine/lm_tag.h"
#include "support/codec_support.h"
#include "support/test_support.h"

namespace {

// Files made once for the whole suite by the ffmpeg tool.
class CoreAudioReader : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!lmtest::haveTool("ffmpeg"))
            return;
        dir_ = new lmtest::TempDir;
        const std::vector<std::string> mp3 = {"-c:a", "libmp3lame", "-b:a", "128k"};
        auto with = [](std::vector<std::string> a, const std::vector<std::string> &b) {
            a.insert(a.end(), b.begin(), b.end());
            return a;
        };
        // ffmpeg writes "comment" as a TXXX frame, which the ID3 reader passes over but
        // the container's metadata (the info dictionary) has.
        ready_ = lmtest::ffmpegTone(file("id3.mp3"), with(mp3, {"-metadata", "title=Hello", "-metadata", "artist=Band",
                                                             "-metadata", "comment=Hi"})) &&
                 lmtest::ffmpegTone(file("comment-only.mp3"), with(mp3, {"-metadata", "comment=Hi"}), 2) &&
                 lmtest::ffmpegTone(file("bare.mp3"), with(mp3, {"-id3v2_version", "0", "-write_xing", "0"}), 2) &&
                 lmtest::ffmpegTone(file("v1.mp3"), with(mp3, {"-id3v2_version", "0"}), 2) &&
                 lmtest::ffmpegTone(file("aac.m4a"), {"-c:a", "aac", "-b:a", "128k", "-metadata", "title=Song", "-metadata",
                                                      "track=7", "-metadata", "date=1999-05-01", "-metadata",
                                                      "comment=Nice", "-metadata", "genre=Jazz"}) &&
                 lmtest::ffmpegTone(file("pcm.wav"), {"-c:a", "pcm_s16le"}, 2);
        if (!ready_)
            return;
        std::filesystem::rename(file("pcm.wav"), file("pcm.mp3"));   // a WAV file named .mp3
        std::vector<uint8_t> v1 = lmtest::readFile(file("v1.mp3"));   // an ID3v1 tag at the end only
        std::string tag(128, '\0');
        tag.replace(0, 11, "TAGVersion1");
        tag[127] = char(255);   // no genre
        v1.insert(v1.end(), tag.begin(), tag.end());
        lmtest::writeFile(file("v1.mp3"), v1);
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override
    {
        LMTEST_REQUIRE_TOOL("ffmpeg");
        ASSERT_TRUE(ready_) << "the ffmpeg tool could not make the test files";
    }
    static std::string file(const char *name) { return dir_->file(name); }

    static lmtest::TempDir *dir_;
    static bool ready_;
};

lmtest::TempDir *CoreAudioReader::dir_ = nullptr;
bool CoreAudioReader::ready_ = false;

struct Closer {
    void operator()(LMFile *f) const { LMFileClose(f); }
};
using FilePtr = std::unique_ptr<LMFile, Closer>;

FilePtr open(const std::string &path)
{
    return FilePtr(LMFileOpen(path.c_str()));
}

struct Packets {
    int bytes = 0;
    uint32_t count = 0;
    AudioStreamPacketDescription *descriptions = nullptr;
    ~Packets() { free(descriptions); }
};

void readPackets(LMFile *f, std::vector<uint8_t> &buffer, Packets *p)
{
    free(p->descriptions);
    p->descriptions = nullptr;
    p->bytes = LMCoreAudioFileReadPackets(f, buffer.data(), uint32_t(buffer.size()), &p->descriptions, &p->count);
}

bool haveId3Parser()
{
    return LMGenreNames[0] != nullptr;   // the parser's table is empty until it is built in
}

TEST_F(CoreAudioReader, Mp3FormatFields)
{
    FilePtr f = open(file("id3.mp3"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->type, LMFileTypeCoreAudio);
    EXPECT_EQ(f->read, nullptr);
    EXPECT_EQ(f->sample_rate, 44100u);
    EXPECT_EQ(f->num_channels, 2u);
    EXPECT_EQ(f->bits_per_sample, 0u);
    EXPECT_EQ(f->block_size, 1441u);
    EXPECT_EQ(f->big_endian, 0);
    EXPECT_NEAR(f->duration, 10.0, 0.05);
    const AudioStreamBasicDescription *format = LMCoreAudioFileFormat(f.get());
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->mFormatID, uint32_t(kAudioFormatMPEGLayer3));
    EXPECT_EQ(format->mFramesPerPacket, 1152u);
    EXPECT_EQ(format->mBytesPerPacket, 0u);
    uint32_t size = 99;
    EXPECT_EQ(LMCoreAudioFileCopyMagicCookie(f.get(), &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(CoreAudioReader, TagsComeFromTheId3BlockElseFromTheDictionary)
{
    FilePtr f = open(file("id3.mp3"));
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->tag.title, "Hello");
    EXPECT_STREQ(f->tag.artist, "Band");
    if (haveId3Parser()) {   // the ID3 block gave a tag: the dictionary is not asked
        EXPECT_EQ(f->tag.comment, nullptr);
    }

    f = open(file("comment-only.mp3"));   // an ID3 block with nothing the tag reads
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->tag.title, nullptr);
    EXPECT_STREQ(f->tag.comment, "Hi");

    f = open(file("v1.mp3"));
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->tag.title, "Version1");

    f = open(file("bare.mp3"));
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(LMTagIsEmpty(&f->tag));
}

TEST_F(CoreAudioReader, M4aTagsFromItsDictionary)
{
    FilePtr f = open(file("aac.m4a"));
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->tag.title, "Song");
    EXPECT_EQ(f->tag.track, 7);
    EXPECT_EQ(f->tag.year, 1999);
    EXPECT_STREQ(f->tag.comment, "Nice");
    EXPECT_STREQ(f->tag.genre, "Jazz");
    EXPECT_EQ(f->block_size, 768u * 2 + 16);
    EXPECT_NEAR(f->duration, 10.0, 0.001);
    uint32_t size = 0;
    void *cookie = LMCoreAudioFileCopyMagicCookie(f.get(), &size);
    EXPECT_NE(cookie, nullptr);
    EXPECT_GE(size, 2u);   // the AudioSpecificConfig
    free(cookie);
}

TEST_F(CoreAudioReader, VariablePacketsComeWithDescriptions)
{
    FilePtr f = open(file("id3.mp3"));
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> buffer(65536);
    Packets p;
    readPackets(f.get(), buffer, &p);
    ASSERT_GT(p.bytes, 0);
    EXPECT_EQ(p.count, 65536u / 1441);   // capacity / maximum packet size
    ASSERT_NE(p.descriptions, nullptr);
    int64_t offset = 0;
    for (uint32_t i = 0; i < p.count; i++) {
        EXPECT_EQ(p.descriptions[i].mStartOffset, offset);
        EXPECT_EQ(p.descriptions[i].mVariableFramesInPacket, 0u);   // constant 1152 frames
        EXPECT_GE(p.descriptions[i].mDataByteSize, 100u);
        EXPECT_EQ(buffer[size_t(offset)], 0xFF);                     // each starts with a frame sync
        offset += p.descriptions[i].mDataByteSize;
    }
    EXPECT_EQ(offset, p.bytes);

    // Whole stream, then the end.
    uint64_t packets = p.count;
    for (int guard = 0; guard < 10000 && (readPackets(f.get(), buffer, &p), p.bytes > 0); guard++)
        packets += p.count;
    EXPECT_NEAR(double(packets), 10.0 * 44100 / 1152, 3);
    readPackets(f.get(), buffer, &p);
    EXPECT_EQ(p.bytes, 0);
    EXPECT_EQ(p.count, 0u);
    EXPECT_EQ(p.descriptions, nullptr);
}

TEST_F(CoreAudioReader, ConstantPacketsComeWithoutDescriptions)
{
    FilePtr f = open(file("pcm.mp3"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->bits_per_sample, 16u);
    EXPECT_EQ(f->block_size, 4u);
    std::vector<uint8_t> buffer(65536);
    Packets p;
    readPackets(f.get(), buffer, &p);
    EXPECT_EQ(p.bytes, 65536);
    EXPECT_EQ(p.count, 16384u);
    EXPECT_EQ(p.descriptions, nullptr);
}

TEST_F(CoreAudioReader, ReadPacketsChecksItsArguments)
{
    FilePtr f = open(file("id3.mp3"));
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> buffer(1000);
    Packets p;
    std::string err = lmtest::captureStderr([&] { readPackets(f.get(), buffer, &p); });
    EXPECT_EQ(p.bytes, 0);
    EXPECT_TRUE(lmtest::isCheckLine(err, "lm_coreaudio_file.cpp", "np > 0")) << err;

    lmtest::TempDir dir;
    lmtest::FlacSpec spec;
    spec.seconds = 0.1;
    ASSERT_FALSE(lmtest::writeFlac(dir.file("a.flac"), spec).empty());
    FilePtr flac = open(dir.file("a.flac"));
    ASSERT_NE(flac, nullptr);
    err = lmtest::captureStderr([&] { readPackets(flac.get(), buffer, &p); });
    EXPECT_EQ(p.bytes, 0);
    EXPECT_NE(err.find("file->type == LMFileTypeCoreAudio"), std::string::npos) << err;
}

TEST_F(CoreAudioReader, SeekAndTellByPackets)
{
    FilePtr f = open(file("id3.mp3"));
    ASSERT_NE(f, nullptr);
    const double packet = 1152.0 / 44100;
    LMFileSeek(f.get(), 5.0);
    EXPECT_NEAR(LMFileTell(f.get()), 5.0, packet);
    EXPECT_LE(LMFileTell(f.get()), 5.0);
    LMFileSeek(f.get(), -2.0);
    EXPECT_EQ(LMFileTell(f.get()), 0.0);
    LMFileSeek(f.get(), f->duration);   // the end positions at the last packet
    EXPECT_NEAR(LMFileTell(f.get()), f->duration, packet);
    EXPECT_LE(LMFileTell(f.get()), f->duration);
    std::vector<uint8_t> buffer(65536);
    Packets p;
    readPackets(f.get(), buffer, &p);
    EXPECT_LE(p.count, 2u);
}

TEST_F(CoreAudioReader, UnreadableFilesAreRefused)
{
    lmtest::TempDir dir;
    lmtest::writeFile(dir.file("text.mp3"), std::string(5000, 'x'));
    for (const std::string &path : {dir.file("text.mp3"), dir.file("missing.m4a")}) {
        LMFile *f = nullptr;
        std::string err = lmtest::captureStderr([&] { f = LMFileOpen(path.c_str()); });
        EXPECT_EQ(f, nullptr);
        EXPECT_TRUE(lmtest::isCheckLine(err, "lm_coreaudio_file.cpp", "status == noErr && cf->audio_file_id != NULL"))
            << err;
    }
}

TEST(CoreAudioFixtures, EveryMp3OpensOrIsRefused)
{
    LMTEST_REQUIRE_FIXTURES("id3");
    int opened = 0;
    for (const auto &entry : std::filesystem::directory_iterator(lmtest::fixturesDir() + "/id3")) {
        if (entry.path().extension() != ".mp3")
            continue;
        LMFile *f = nullptr;
        lmtest::captureStderr([&] { f = LMFileOpen(entry.path().c_str()); });
        if (f == nullptr)
            continue;
        opened++;
        std::vector<uint8_t> buffer(std::max<uint32_t>(65536, f->block_size));
        Packets p;
        LMFileSeek(f, f->duration / 2);
        for (int guard = 0; guard < 100000 && (readPackets(f, buffer, &p), p.bytes > 0); guard++) {
        }
        LMFileClose(f);
    }
    EXPECT_GE(opened, 10);
}

} // namespace
