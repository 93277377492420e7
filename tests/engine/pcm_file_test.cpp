// The WAV and AIFF readers (and the chunk walker under them) on files built byte by byte.
#include <cmath>

#include "engine/lm_aiff_file.h"
#include "engine/lm_file.h"
#include "support/audio_builders.h"
#include "support/test_support.h"

using namespace lmtest;

namespace {

using Checks = std::vector<std::string>;

std::string wavCheck(const std::string &text) { return "*FAILED* check: lm_wav_file.cpp:N: " + text; }
std::string aiffCheck(const std::string &text) { return "*FAILED* check: lm_aiff_file.cpp:N: " + text; }

Bytes tagWithTitle(const std::string &title)
{
    return id3Tag(3, id3Frame(3, "TIT2", Bytes{0} + bytesOf(title)));
}

Bytes aiff(uint16_t channels, uint16_t bits, double rate, const Bytes &samples, uint32_t frames = 0)
{
    return riffFile("FORM", "AIFF", {{"COMM", aiffComm(channels, frames, bits, rate)}, {"SSND", aiffSsnd(samples)}});
}

Bytes aifc(const std::string &compression, const Bytes &samples)
{
    return riffFile("FORM", "AIFC", {{"COMM", aiffComm(2, uint32_t(samples.size() / 4), 16, 44100, compression)},
                                     {"SSND", aiffSsnd(samples)}});
}

class PcmFile : public ::testing::Test {
protected:
    Opened open(const Bytes &bytes, const std::string &name = "a.wav") { return openBytes(dir.file(name), bytes); }
    TempDir dir;
};

TEST_F(PcmFile, WavFormatDurationAndFramePositions)
{
    const Bytes pcm = tonePcm(44100, 2, 16, 1.0);   // 176400 bytes
    Opened o = open(wavFile(2, 44100, 16, pcm));
    ASSERT_NE(o.file, nullptr);
    LMFile *f = o.file.get();
    EXPECT_EQ(std::vector<uint32_t>({f->num_channels, f->bits_per_sample, f->sample_rate, f->block_size}),
              std::vector<uint32_t>({2, 16, 44100, 4}));
    EXPECT_EQ(f->big_endian, 0);
    EXPECT_DOUBLE_EQ(f->duration, 1.0);

    EXPECT_EQ(LMFileSeek(f, 0.5), 0);
    EXPECT_DOUBLE_EQ(LMFileTell(f), 0.5);
    EXPECT_EQ(readAll(f), Bytes(pcm.begin() + 88200, pcm.end()));
    EXPECT_DOUBLE_EQ(LMFileTell(f), 1.0);
    uint8_t buf[64];
    EXPECT_EQ(LMFileRead(f, buf, sizeof buf), 0);
    LMFileSeek(f, -3.0);
    EXPECT_EQ(LMFileTell(f), 0.0);
    LMFileSeek(f, 99.0);
    EXPECT_DOUBLE_EQ(LMFileTell(f), 1.0);
    EXPECT_EQ(LMFileRead(f, buf, sizeof buf), 0);
}

TEST_F(PcmFile, ReadsDeliverWholeFramesOnly)
{
    const Bytes pcm = tonePcm(8000, 2, 24, 0.01);   // 6-byte frames
    Opened o = open(wavFile(2, 8000, 24, pcm));
    ASSERT_NE(o.file, nullptr);
    uint8_t buf[64];
    EXPECT_EQ(LMFileRead(o.file.get(), buf, 5), 0);
    EXPECT_EQ(LMFileRead(o.file.get(), buf, 13), 12);
    EXPECT_EQ(readAll(o.file.get(), 47), Bytes(pcm.begin() + 12, pcm.end()));

    // Truncated mid-frame, and a streamed file's unknown size: the file sets the length.
    Bytes cut(pcm.begin(), pcm.end() - 2);
    Opened t = open(riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 2, 8000, 6, 24)}, {"data", cut, 0xFFFFFFFF}}));
    ASSERT_NE(t.file, nullptr);
    EXPECT_DOUBLE_EQ(t.file->duration, (pcm.size() / 6 - 1) / 8000.0);
    EXPECT_EQ(readAll(t.file.get()), Bytes(pcm.begin(), pcm.end() - 6));
    EXPECT_DOUBLE_EQ(LMFileTell(t.file.get()), t.file->duration);
}

TEST_F(PcmFile, WavChunksInAnyOrderWithPadBytesLaterOnesWinning)
{
    // Odd sizes everywhere: a pad byte must be neither read as a sample nor shift the next
    // chunk. 8-bit WAV samples are unsigned and come out as stored.
    const Bytes pcm = {0x80, 0x90, 0xA0, 0x70, 0x60, 0x81, 0x7F};
    Opened o = open(riffFile("RIFF", "WAVE", {{"junk", {1, 2, 3}},
                                              {"data", {9, 9, 9, 9}},
                                              {"ID3 ", tagWithTitle("first")},
                                              {"fmt ", wavFmt(1, 1, 11025, 1, 8)},
                                              {"data", pcm},
                                              {"LIST", bytesOf("INFOxyz")},
                                              {"id3 ", tagWithTitle("after the data")},
                                              {"fact", {1, 0, 0, 0}}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_TRUE(o.checks.empty());
    EXPECT_STREQ(o.file->tag.title, "after the data");
    EXPECT_EQ(readAll(o.file.get()), pcm);
}

TEST_F(PcmFile, Id3ChunksUpToOneMegabyteAreRead)
{
    const Bytes pcm = tonePcm(8000, 1, 16, 0.01);
    Bytes tag = id3Tag(3, id3Frame(3, "TIT2", {0, 'B'}), 0, 0xFFFFF - 10 - 12);
    ASSERT_EQ(tag.size(), 0xFFFFFu);
    EXPECT_STREQ(open(wavFile(1, 8000, 16, pcm, {{"ID3 ", tag}})).file->tag.title, "B");
    Opened big = open(wavFile(1, 8000, 16, pcm, {{"ID3 ", tag + Bytes{0}}}));
    ASSERT_NE(big.file, nullptr);
    EXPECT_TRUE(LMTagIsEmpty(&big.file->tag));

    // A refused tag is reported and leaves the file playable.
    Bytes v7 = tagWithTitle("x");
    v7[3] = 7;
    Opened o = open(wavFile(1, 8000, 16, pcm, {{"ID3 ", v7}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(o.checks, Checks{"*FAILED* check: lm_tag.cpp:N: 0"});
}

TEST_F(PcmFile, HostileSizesNeitherLoopNorReadBeyondTheFile)
{
    const Bytes pcm = tonePcm(8000, 1, 16, 0.01);
    Opened o = open(riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 1, 8000, 2, 16)},
                                              {"data", pcm},
                                              {"ID3 ", tagWithTitle("lie"), 0xFFFF0}}));   // more than the file
    ASSERT_NE(o.file, nullptr);
    EXPECT_TRUE(o.checks.empty());   // running into the end of the file is silent
    EXPECT_TRUE(LMTagIsEmpty(&o.file->tag));
    EXPECT_EQ(readAll(o.file.get()), pcm);
    Opened cut = open(wavFile(1, 8000, 16, pcm) + bytesOf("LIS"), "b.wav");
    ASSERT_NE(cut.file, nullptr);
    EXPECT_TRUE(cut.checks.empty());
}

TEST_F(PcmFile, WavRefusalsNameTheFailedCheck)
{
    const Bytes pcm = tonePcm(8000, 2, 16, 0.01);
    Bytes fmt14 = wavFmt(1, 2, 8000, 4, 16);
    fmt14.resize(14);
    auto wave = [&pcm](const Bytes &fmt) { return riffFile("RIFF", "WAVE", {{"fmt ", fmt}, {"data", pcm}}); };
    Bytes rifx = wavFile(2, 8000, 16, pcm), notWave = rifx;
    rifx[3] = 'X';
    notWave[8] = 'w';
    const std::pair<Bytes, Checks> cases[] = {
        {wave(fmt14), {wavCheck("n <= hdr.size")}},
        {wave(wavFmt(0xFFFE, 2, 8000, 4, 16)), {wavCheck("fmt.audioFormat == 1")}},   // extensible
        {wave(wavFmt(3, 2, 8000, 8, 32)), {wavCheck("fmt.audioFormat == 1")}},        // float
        {riffFile("RIFF", "WAVE", {{"data", pcm}}), {wavCheck("fmt.audioFormat == 1")}},
        {riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(1, 2, 8000, 4, 16)}, {"junk", {}, 0xFFFFFFFF}, {"data", pcm}}),
         {wavCheck("wf->data_pos != 0")}},
        {wave(wavFmt(1, 0, 8000, 4, 16)), {wavCheck("fmt.numChannels != 0")}},
        {wave(wavFmt(1, 2, 0, 4, 16)), {wavCheck("fmt.sampleRate != 0")}},
        {wave(wavFmt(1, 2, 8000, 0, 16)), {wavCheck("fmt.blockAlign != 0")}},
        {rifx, {wavCheck("IDEQU(parser.hdr.id, \"RIFF\")")}},
        {notWave, {wavCheck("IDEQU(parser.type_id, \"WAVE\")")}},
        {{}, {"*FAILED* check: riff_parser.cpp:N: 0", wavCheck("RiffInit(&parser, wf->fp, RiffLittleEndian)")}},
    };
    for (const auto &[bytes, checks] : cases) {
        Opened o = open(bytes, "x.wv");   // .wv files are WAV files too
        EXPECT_EQ(o.file, nullptr);
        EXPECT_EQ(o.checks, checks);
    }
    EXPECT_EQ(openCapturing(dir.file("missing.wav")).checks, Checks{wavCheck("wf->fp != NULL")});
}

TEST_F(PcmFile, AiffRatesAreExtendedFloatsTruncatedAndRangeChecked)
{
    EXPECT_EQ(extended80(44100), (Bytes{0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}));
    const Bytes samples = toneBigEndian(44100, 1, 16, 0.01);
    const std::pair<double, uint32_t> cases[] = {   // 0: refused
        {44100, 44100}, {1024, 1024}, {262143, 262143}, {5298.25, 5298}, {262144, 0}, {1023.9, 0},
        {0.01, 0}, {-44100, 0}, {1e30, 0}, {4294967296.0 + 44100, 0}, {INFINITY, 0}, {NAN, 0},
    };
    for (const auto &[rate, expected] : cases) {
        Opened o = open(aiff(1, 16, rate, samples, 441), "a.aiff");
        EXPECT_EQ(o.file ? o.file->sample_rate : 0, expected) << rate;
        if (!expected) {
            EXPECT_EQ(o.checks, Checks{aiffCheck("f->sample_rate >= 1024 && f->sample_rate < 256 * 1024")});
        }
    }
}

TEST_F(PcmFile, AiffSamplesComeAsStoredWithTheirByteOrder)
{
    const Bytes samples = toneBigEndian(48000, 2, 24, 0.1);
    Opened o = open(aiff(2, 24, 48000, samples, 4800), "a.aif");
    ASSERT_NE(o.file, nullptr);
    LMFile *f = o.file.get();
    EXPECT_EQ(f->type, LMFileTypeAiff);
    EXPECT_EQ(f->block_size, 6u);
    EXPECT_EQ(f->big_endian, 1);
    EXPECT_DOUBLE_EQ(f->duration, 0.1);
    LMFileSeek(f, 0.05);
    EXPECT_EQ(readAll(f), Bytes(samples.begin() + 2400 * 6, samples.end()));

    const Bytes signed8 = {0x00, 0x7F, 0x80, 0xFF, 0x01};   // signed, passed on unchanged
    EXPECT_EQ(readAll(open(aiff(1, 8, 8000, signed8, 5), "b.aiff").file.get()), signed8);

    const Bytes little = tonePcm(44100, 2, 16, 0.01);
    Opened sowt = openBytes(dir.file("s.aifc"), aifc("sowt", little), LMAiffFileOpen);
    ASSERT_NE(sowt.file, nullptr);
    EXPECT_EQ(sowt.file->big_endian, 0);
    EXPECT_EQ(readAll(sowt.file.get()), little);
    EXPECT_EQ(open(aifc("NONE", little), "n.aiff").file->big_endian, 1);
    for (const char *type : {"fl32", "twos", "NONe"}) {
        Opened refused = open(aifc(type, little), "c.aiff");
        EXPECT_EQ(refused.file, nullptr);
        EXPECT_EQ(refused.checks, Checks{aiffCheck("IDEQU(comm.compression, \"NONE\")")}) << type;
    }
    EXPECT_NE(open(aifc("NONE", little), "x.aifc").file, nullptr);   // opened by its extension too
}

TEST_F(PcmFile, AiffSsndOffsetAndMissingSoundData)
{
    // Played, 5 filler bytes would shift every 16-bit sample by a byte.
    const Bytes samples = toneBigEndian(8000, 1, 16, 0.01);
    Opened o = open(riffFile("FORM", "AIFF", {{"SSND", aiffSsnd(samples, 5)}, {"COMM", aiffComm(1, 80, 16, 8000)},
                                              {"ID3 ", tagWithTitle("t") + Bytes{0}}}),   // chunk > tag
                    "a.aiff");
    ASSERT_NE(o.file, nullptr);
    EXPECT_STREQ(o.file->tag.title, "t");
    EXPECT_EQ(readAll(o.file.get()), samples);
    LMFileSeek(o.file.get(), 0.005);
    EXPECT_EQ(readAll(o.file.get()), Bytes(samples.begin() + 80, samples.end()));

    Opened none = open(riffFile("FORM", "AIFF", {{"COMM", aiffComm(2, 0, 16, 44100)}}), "b.aiff");
    ASSERT_NE(none.file, nullptr);
    LMFileSeek(none.file.get(), 1.0);
    EXPECT_TRUE(readAll(none.file.get()).empty());
    EXPECT_EQ(LMFileTell(none.file.get()), 0.0);
}

TEST_F(PcmFile, AiffRefusalsNameTheFailedCheck)
{
    const Bytes samples = toneBigEndian(8000, 1, 16, 0.01);
    const std::string bits = "f->bits_per_sample == 8 || f->bits_per_sample == 16 || "
                             "f->bits_per_sample == 24 || f->bits_per_sample == 32";
    Bytes notForm = aiff(1, 16, 8000, samples), notAiff = notForm;
    notForm[0] = 'R';
    notAiff[11] = 'X';
    const std::pair<Bytes, Checks> cases[] = {
        {aiff(1, 12, 8000, samples), {aiffCheck(bits)}},
        {riffFile("FORM", "AIFF", {{"SSND", aiffSsnd(samples)}}), {aiffCheck(bits)}},
        {aiff(0, 16, 8000, samples), {aiffCheck("f->num_channels > 0")}},
        {riffFile("FORM", "AIFF", {{"COMM", {}}}), {aiffCheck("n <= hdr.size")}},
        {riffFile("FORM", "AIFC", {{"COMM", aiffComm(1, 80, 16, 8000)}}), {aiffCheck("n <= hdr.size")}},
        {notForm, {aiffCheck("IDEQU(parser.hdr.id, \"FORM\")")}},
        {notAiff, {aiffCheck("IDEQU(parser.type_id, \"AIFF\")")}},
        {Bytes(11, 'F'), {"*FAILED* check: riff_parser.cpp:N: 0", aiffCheck("RiffInit(&parser, wf->fp, RiffBigEndian)")}},
    };
    for (const auto &[bytes, checks] : cases) {
        Opened o = open(bytes, "x.aiff");
        EXPECT_EQ(o.file, nullptr);
        EXPECT_EQ(o.checks, checks);
    }
}

} // namespace
