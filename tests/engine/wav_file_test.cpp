// The RIFF walker and the WAV reader, on files built byte by byte.
#include <climits>

#include "engine/lm_file.h"
#include "engine/lm_wav_file.h"
#include "support/audio_builders.h"
#include "support/test_support.h"

using namespace lmtest;

namespace {

std::string wavCheck(const std::string &text)
{
    return "*FAILED* check: lm_wav_file.cpp:N: " + text;
}

Bytes titleTag(const std::string &title)
{
    return id3Tag(3, id3Frame(3, "TIT2", id3Text(0, bytesOf(title))));
}

class WavFile : public ::testing::Test {
protected:
    Opened open(const Bytes &bytes, const std::string &name = "a.wav")
    {
        return openBytes(dir.file(name), bytes);
    }
    TempDir dir;
};

TEST_F(WavFile, OneSecondOfStereoHasItsFormatDurationAndFramePositions)
{
    const Bytes pcm = tonePcm(44100, 2, 16, 1.0);
    ASSERT_EQ(pcm.size(), 176400u);
    Opened o = open(wavFile(2, 44100, 16, pcm));
    ASSERT_NE(o.file, nullptr);
    LMFile *f = o.file.get();
    EXPECT_TRUE(o.checks.empty());
    EXPECT_EQ(f->type, LMFileTypeWav);
    EXPECT_EQ(f->num_channels, 2u);
    EXPECT_EQ(f->bits_per_sample, 16u);
    EXPECT_EQ(f->sample_rate, 44100u);
    EXPECT_EQ(f->block_size, 4u);
    EXPECT_EQ(f->big_endian, 0);
    EXPECT_DOUBLE_EQ(f->duration, 1.0);
    EXPECT_TRUE(LMTagIsEmpty(&f->tag));

    EXPECT_EQ(LMFileSeek(f, 0.5), 0);
    EXPECT_DOUBLE_EQ(LMFileTell(f), 0.5);
    uint8_t buf[8];
    ASSERT_EQ(LMFileRead(f, buf, 8), 8);
    EXPECT_TRUE(std::equal(buf, buf + 8, pcm.begin() + 88200));
}

TEST_F(WavFile, SeekClampsAndTellReachesTheDurationAtTheEnd)
{
    const Bytes pcm = tonePcm(8000, 1, 16, 0.25);
    Opened o = open(wavFile(1, 8000, 16, pcm));
    ASSERT_NE(o.file, nullptr);
    LMFile *f = o.file.get();
    LMFileSeek(f, -3.0);
    EXPECT_EQ(LMFileTell(f), 0.0);
    EXPECT_EQ(readAll(f), pcm);
    EXPECT_DOUBLE_EQ(LMFileTell(f), f->duration);

    LMFileSeek(f, 99.0);
    EXPECT_DOUBLE_EQ(LMFileTell(f), f->duration);
    uint8_t buf[64];
    EXPECT_EQ(LMFileRead(f, buf, sizeof buf), 0);

    // Positions are whole frames: 0.1 s of 8000 Hz is frame 800.
    LMFileSeek(f, 0.1);
    ASSERT_EQ(LMFileRead(f, buf, 2), 2);
    EXPECT_EQ(buf[0], pcm[1600]);
    EXPECT_EQ(buf[1], pcm[1601]);
}

TEST_F(WavFile, ReadsDeliverWholeBlocksOnly)
{
    const Bytes pcm = tonePcm(8000, 2, 24, 0.01);   // 6-byte frames
    Opened o = open(wavFile(2, 8000, 24, pcm));
    ASSERT_NE(o.file, nullptr);
    uint8_t buf[64];
    EXPECT_EQ(LMFileRead(o.file.get(), buf, 5), 0);
    EXPECT_EQ(LMFileRead(o.file.get(), buf, 13), 12);
    EXPECT_EQ(LMFileRead(o.file.get(), buf, -1), 0);
    // An odd-sized read stream still lines up with the stored frames.
    Bytes rest = readAll(o.file.get(), 47);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), pcm.begin() + 12));
    EXPECT_EQ(rest.size() + 12, pcm.size());
}

TEST_F(WavFile, ChunksInAnyOrderWithPadBytesAndTagsAfterTheData)
{
    // 8-bit mono with an odd data size: its pad byte must not be read as a sample nor
    // shift the chunk after it. The data comes before "fmt " and an odd-sized chunk
    // sits in front of everything.
    const Bytes pcm = {0x80, 0x90, 0xA0, 0x70, 0x60, 0x81, 0x7F};
    Opened o = open(riffFile("RIFF", "WAVE",
                             {{"junk", {1, 2, 3}},
                              {"data", pcm},
                              {"fmt ", wavFmt(1, 1, 11025, 1, 8)},
                              {"LIST", bytesOf("INFOxyz")},
                              {"id3 ", titleTag("After the data")}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_TRUE(o.checks.empty());
    EXPECT_STREQ(o.file->tag.title, "After the data");
    // 8-bit WAV samples are unsigned and come out exactly as stored.
    EXPECT_EQ(readAll(o.file.get()), pcm);
}

TEST_F(WavFile, LaterChunksOverrideEarlierOnes)
{
    const Bytes first = tonePcm(8000, 1, 16, 0.01), second = {1, 2, 3, 4};
    Opened o = open(riffFile("RIFF", "WAVE",
                             {{"fmt ", wavFmt(1, 2, 8000, 4, 16)},
                              {"data", first},
                              {"ID3 ", titleTag("one")},
                              {"fmt ", wavFmt(1, 1, 16000, 2, 16, 2)},   // an 18-byte fmt
                              {"data", second},
                              {"ID3 ", titleTag("two")}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(o.file->num_channels, 1u);
    EXPECT_EQ(o.file->sample_rate, 16000u);
    EXPECT_STREQ(o.file->tag.title, "two");
    EXPECT_EQ(readAll(o.file.get()), second);
}

TEST_F(WavFile, Id3ChunksUpToOneMegabyteAreRead)
{
    // The tag is followed by padding that fills the chunk to its limit.
    const Bytes pcm = tonePcm(8000, 1, 16, 0.01);
    Bytes tag = id3Tag(3, id3Frame(3, "TIT2", id3Text(0, bytesOf("Big"))), 0, 0xFFFFF - 10 - 14);
    ASSERT_EQ(tag.size(), 0xFFFFFu);
    Opened small = open(wavFile(1, 8000, 16, pcm, {{"ID3 ", tag}}), "small.wav");
    ASSERT_NE(small.file, nullptr);
    EXPECT_STREQ(small.file->tag.title, "Big");

    tag.push_back(0);
    Opened big = open(wavFile(1, 8000, 16, pcm, {{"ID3 ", tag}}), "big.wav");
    ASSERT_NE(big.file, nullptr);
    EXPECT_TRUE(LMTagIsEmpty(&big.file->tag));
    EXPECT_EQ(readAll(big.file.get()), pcm);
}

TEST_F(WavFile, ARefusedTagLeavesTheFilePlayable)
{
    Bytes broken = titleTag("x");
    broken[3] = 7;   // no such version
    Opened o = open(wavFile(1, 8000, 16, tonePcm(8000, 1, 16, 0.01), {{"ID3 ", broken}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_TRUE(LMTagIsEmpty(&o.file->tag));
    EXPECT_EQ(o.checks, std::vector<std::string>{"*FAILED* check: lm_tag.cpp:N: 0"});
}

TEST_F(WavFile, RefusalsNameTheFailedCheck)
{
    const Bytes pcm = tonePcm(8000, 2, 16, 0.01);
    Bytes notRiff = wavFile(2, 8000, 16, pcm);
    notRiff[3] = 'X';   // "RIFX": big-endian RIFF is not read
    Bytes notWave = wavFile(2, 8000, 16, pcm);
    notWave[8] = 'w';
    Bytes fmt14 = wavFmt(1, 2, 8000, 4, 16);
    fmt14.resize(14);
    struct Case {
        const char *what;
        Bytes bytes;
        std::vector<std::string> checks;
    } cases[] = {
        {"fmt of 14 bytes", riffFile("RIFF", "WAVE", {{"fmt ", fmt14}, {"data", pcm}}),
         {wavCheck("n <= hdr.size")}},
        {"extensible format", riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(0xFFFE, 2, 8000, 4, 16, 24)}, {"data", pcm}}),
         {wavCheck("fmt.audioFormat == 1")}},
        {"float samples", riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(3, 2, 8000, 8, 32)}, {"data", pcm}}),
         {wavCheck("fmt.audioFormat == 1")}},
        {"no fmt chunk", riffFile("RIFF", "WAVE", {{"data", pcm}}), {wavCheck("fmt.audioFormat == 1")}},
        {"no data chunk", riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 2, 8000, 4, 16)}}),
         {wavCheck("wf->data_pos != 0")}},
        {"no channels", riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 0, 8000, 4, 16)}, {"data", pcm}}),
         {wavCheck("fmt.numChannels != 0")}},
        {"rate 0", riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 2, 0, 4, 16)}, {"data", pcm}}),
         {wavCheck("fmt.sampleRate != 0")}},
        {"block alignment 0", riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 2, 8000, 0, 16)}, {"data", pcm}}),
         {wavCheck("fmt.blockAlign != 0")}},
        {"RIFX", notRiff, {wavCheck("IDEQU(parser.hdr.id, \"RIFF\")")}},
        {"not WAVE", notWave, {wavCheck("IDEQU(parser.type_id, \"WAVE\")")}},
        {"empty file", {},
         {"*FAILED* check: riff_parser.cpp:N: 0", wavCheck("RiffInit(&parser, wf->fp, RiffLittleEndian)")}},
    };
    for (const Case &c : cases) {
        Opened o = open(c.bytes);
        EXPECT_EQ(o.file, nullptr) << c.what;
        EXPECT_EQ(o.checks, c.checks) << c.what;
    }

    Opened missing = openCapturing(dir.file("missing.wav"));
    EXPECT_EQ(missing.file, nullptr);
    EXPECT_EQ(missing.checks, std::vector<std::string>{wavCheck("wf->fp != NULL")});
}

TEST_F(WavFile, AWvFileOpensOnlyWhenItIsRiffWave)
{
    Opened wave = open(wavFile(1, 8000, 16, tonePcm(8000, 1, 16, 0.01)), "song.WV");
    EXPECT_NE(wave.file, nullptr);
    Opened wavpack = open({'w', 'v', 'p', 'k', 0x20, 0, 0, 0, 0x10, 0x04, 0, 0}, "song.wv");
    EXPECT_EQ(wavpack.file, nullptr);
    EXPECT_EQ(wavpack.checks, std::vector<std::string>{wavCheck("IDEQU(parser.hdr.id, \"RIFF\")")});
}

TEST_F(WavFile, AFileEndingInsideAChunkHeaderEndsTheWalkSilently)
{
    Bytes bytes = wavFile(1, 8000, 16, tonePcm(8000, 1, 16, 0.01));
    append(bytes, bytesOf("LIS"));
    Opened o = open(bytes);
    ASSERT_NE(o.file, nullptr);
    EXPECT_TRUE(o.checks.empty());
}

TEST_F(WavFile, ReadingStopsAtTheDataEndWhenChunksFollow)
{
    const Bytes pcm = tonePcm(8000, 2, 16, 0.05);
    Opened o = open(wavFile(2, 8000, 16, pcm, {{"LIST", Bytes(100, 0x55)}, {"fact", {1, 2, 3, 4}}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(readAll(o.file.get()), pcm);
    uint8_t buf[16];
    EXPECT_EQ(LMFileRead(o.file.get(), buf, sizeof buf), 0);
}

TEST_F(WavFile, DataLongerThanTheFileGivesTheRealDurationAndWholeFrames)
{
    // A streamed file (size 0xFFFFFFFF) and a truncated one that ends mid-frame.
    Bytes pcm = tonePcm(8000, 2, 16, 0.5);
    pcm.resize(pcm.size() - 2);
    Opened o = open(riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 2, 8000, 4, 16)},
                                              {"data", pcm, 0xFFFFFFFF}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_DOUBLE_EQ(o.file->duration, 3999.0 / 8000);
    Bytes got = readAll(o.file.get(), 4096);
    EXPECT_EQ(got.size(), pcm.size() - 2);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin()));
    EXPECT_DOUBLE_EQ(LMFileTell(o.file.get()), o.file->duration);
}

TEST_F(WavFile, HostileChunkSizesNeitherLoopNorAllocate)
{
    const Bytes pcm = tonePcm(8000, 1, 16, 0.01);
    // An ID3 chunk that claims 4 GB, then a chunk whose size runs to the 32-bit limit.
    Opened o = open(riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 1, 8000, 2, 16)},
                                              {"data", pcm},
                                              {"ID3 ", titleTag("lie"), 0xFFFFFFF0},
                                              {"junk", {}, 0xFFFFFFFF}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_TRUE(LMTagIsEmpty(&o.file->tag));
    EXPECT_EQ(readAll(o.file.get()), pcm);

    Opened o2 = open(riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 1, 8000, 2, 16)},
                                               {"junk", {}, 0xFFFFFFFF},
                                               {"data", pcm}}), "b.wav");
    EXPECT_EQ(o2.file, nullptr);
    EXPECT_EQ(o2.checks, std::vector<std::string>{wavCheck("wf->data_pos != 0")});
}

} // namespace
