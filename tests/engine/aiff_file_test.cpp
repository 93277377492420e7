// The AIFF reader on files built byte by byte.
#include <cmath>

#include "engine/lm_aiff_file.h"
#include "engine/lm_file.h"
#include "support/audio_builders.h"
#include "support/test_support.h"

using namespace lmtest;

namespace {

std::string aiffCheck(const std::string &text)
{
    return "*FAILED* check: lm_aiff_file.cpp:N: " + text;
}

const std::string kBitsCheck = aiffCheck(
    "f->bits_per_sample == 8 || f->bits_per_sample == 16 || f->bits_per_sample == 24 || "
    "f->bits_per_sample == 32");
const std::string kRateCheck = aiffCheck("f->sample_rate >= 1024 && f->sample_rate < 256 * 1024");

Bytes aiff(uint16_t channels, uint16_t bits, double rate, const Bytes &samples)
{
    const size_t frameBytes = channels * std::max(bits / 8, 1);
    const uint32_t frames = frameBytes ? uint32_t(samples.size() / frameBytes) : 0;
    return riffFile("FORM", "AIFF", {{"COMM", aiffComm(channels, frames, bits, rate)},
                                     {"SSND", aiffSsnd(samples)}});
}

Bytes aifc(const std::string &compression, uint16_t channels, uint16_t bits, const Bytes &samples)
{
    const uint32_t frames = uint32_t(samples.size() / (channels * bits / 8));
    return riffFile("FORM", "AIFC", {{"FVER", {0xA2, 0x80, 0x51, 0x40}},
                                     {"COMM", aiffComm(channels, frames, bits, 44100, compression)},
                                     {"SSND", aiffSsnd(samples)}});
}

class AiffFile : public ::testing::Test {
protected:
    Opened open(const Bytes &bytes, const std::string &name = "a.aiff")
    {
        return openBytes(dir.file(name), bytes);
    }
    TempDir dir;
};

TEST_F(AiffFile, ExtendedRatesConvertExactlyAndOutOfRangeRatesAreRefused)
{
    EXPECT_EQ(extended80(44100), (Bytes{0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}));

    const Bytes samples = toneBigEndian(44100, 1, 16, 0.01);
    struct Case {
        double rate;
        uint32_t expected;   // 0: refused with the rate line
    } cases[] = {
        {44100, 44100}, {1024, 1024}, {262143, 262143}, {5298.25, 5298}, {192000, 192000},
        {262144, 0}, {1023.9, 0}, {0.01, 0}, {0, 0}, {-44100, 0}, {1e30, 0},
        {4294967296.0 + 44100, 0},   // would wrap to 44100 if truncated carelessly
        {INFINITY, 0}, {NAN, 0},
    };
    for (const Case &c : cases) {
        Opened o = open(aiff(1, 16, c.rate, samples));
        if (c.expected != 0) {
            ASSERT_NE(o.file, nullptr) << c.rate;
            EXPECT_EQ(o.file->sample_rate, c.expected) << c.rate;
        } else {
            EXPECT_EQ(o.file, nullptr) << c.rate;
            EXPECT_EQ(o.checks, std::vector<std::string>{kRateCheck}) << c.rate;
        }
    }
}

TEST_F(AiffFile, FormatFieldsAndBigEndianSamplesAsStored)
{
    const Bytes samples = toneBigEndian(48000, 2, 24, 0.1);
    Opened o = open(aiff(2, 24, 48000, samples));
    ASSERT_NE(o.file, nullptr);
    LMFile *f = o.file.get();
    EXPECT_TRUE(o.checks.empty());
    EXPECT_EQ(f->type, LMFileTypeAiff);
    EXPECT_EQ(f->num_channels, 2u);
    EXPECT_EQ(f->bits_per_sample, 24u);
    EXPECT_EQ(f->block_size, 6u);
    EXPECT_EQ(f->big_endian, 1);
    EXPECT_DOUBLE_EQ(f->duration, 0.1);
    EXPECT_EQ(readAll(f), samples);
    EXPECT_DOUBLE_EQ(LMFileTell(f), 0.1);

    LMFileSeek(f, 0.05);
    uint8_t buf[6];
    ASSERT_EQ(LMFileRead(f, buf, 6), 6);
    EXPECT_TRUE(std::equal(buf, buf + 6, samples.begin() + 2400 * 6));
}

TEST_F(AiffFile, EightBitSamplesStaySigned)
{
    const Bytes samples = {0x00, 0x7F, 0x80, 0xFF, 0x01};
    Opened o = open(aiff(1, 8, 8000, samples));
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(readAll(o.file.get()), samples);
}

TEST_F(AiffFile, AifcCompressionTypesDecideTheByteOrderOrTheRefusal)
{
    const Bytes le = tonePcm(44100, 2, 16, 0.01);
    Opened sowt = openBytes(dir.file("s.aifc"), aifc("sowt", 2, 16, le), LMAiffFileOpen);
    ASSERT_NE(sowt.file, nullptr);
    EXPECT_EQ(sowt.file->big_endian, 0);
    EXPECT_EQ(readAll(sowt.file.get()), le);

    Opened none = open(aifc("NONE", 2, 16, le), "n.aif");
    ASSERT_NE(none.file, nullptr);
    EXPECT_EQ(none.file->big_endian, 1);

    for (const char *type : {"fl32", "twos", "ulaw", "NONe"}) {
        Opened o = open(aifc(type, 2, 16, le));
        EXPECT_EQ(o.file, nullptr) << type;
        EXPECT_EQ(o.checks, std::vector<std::string>{aiffCheck("IDEQU(comm.compression, \"NONE\")")}) << type;
    }
    // The dispatch by extension knows .aif and .aiff only.
    Opened byName = open(aifc("NONE", 2, 16, le), "x.aifc");
    EXPECT_EQ(byName.file, nullptr);
    EXPECT_TRUE(byName.checks.empty());
}

TEST_F(AiffFile, RefusalsNameTheFailedCheck)
{
    const Bytes samples = toneBigEndian(8000, 1, 16, 0.01);
    Bytes notForm = aiff(1, 16, 8000, samples);
    notForm[0] = 'R';
    Bytes notAiff = aiff(1, 16, 8000, samples);
    notAiff[11] = 'X';
    Bytes shortAifcComm = riffFile("FORM", "AIFC", {{"COMM", aiffComm(1, 80, 16, 8000)},
                                                    {"SSND", aiffSsnd(samples)}});
    struct Case {
        const char *what;
        Bytes bytes;
        std::vector<std::string> checks;
    } cases[] = {
        {"12-bit samples", aiff(1, 12, 8000, samples), {kBitsCheck}},
        {"no COMM", riffFile("FORM", "AIFF", {{"SSND", aiffSsnd(samples)}}), {kBitsCheck}},
        {"no channels", aiff(0, 16, 8000, samples), {aiffCheck("f->num_channels > 0")}},
        {"COMM of 0 bytes", riffFile("FORM", "AIFF", {{"COMM", {}}, {"SSND", aiffSsnd(samples)}}),
         {aiffCheck("n <= hdr.size")}},
        {"AIFC COMM without compression", shortAifcComm, {aiffCheck("n <= hdr.size")}},
        {"not FORM", notForm, {aiffCheck("IDEQU(parser.hdr.id, \"FORM\")")}},
        {"not AIFF", notAiff, {aiffCheck("IDEQU(parser.type_id, \"AIFF\")")}},
        {"11 bytes", Bytes(11, 'F'),
         {"*FAILED* check: riff_parser.cpp:N: 0", aiffCheck("RiffInit(&parser, wf->fp, RiffBigEndian)")}},
    };
    for (const Case &c : cases) {
        Opened o = open(c.bytes);
        EXPECT_EQ(o.file, nullptr) << c.what;
        EXPECT_EQ(o.checks, c.checks) << c.what;
    }
}

TEST_F(AiffFile, SamplesStartWhereTheSsndOffsetSays)
{
    // 5 filler bytes would shift every 16-bit sample by a byte if they were played.
    const Bytes samples = toneBigEndian(8000, 1, 16, 0.01);
    Opened o = open(riffFile("FORM", "AIFF", {{"SSND", aiffSsnd(samples, 5)},   // before COMM
                                              {"COMM", aiffComm(1, 80, 16, 8000)}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(readAll(o.file.get()), samples);
    LMFileSeek(o.file.get(), 0.005);
    uint8_t buf[2];
    ASSERT_EQ(LMFileRead(o.file.get(), buf, 2), 2);
    EXPECT_EQ(Bytes(buf, buf + 2), Bytes(samples.begin() + 80, samples.begin() + 82));

    // An offset beyond the chunk leaves no samples.
    Opened past = open(riffFile("FORM", "AIFF", {{"COMM", aiffComm(1, 80, 16, 8000)},
                                                 {"SSND", aiffSsnd(samples, 0)},
                                                 {"SSND", {0, 0, 1, 0, 0, 0, 0, 0, 1, 2}}}), "b.aiff");
    ASSERT_NE(past.file, nullptr);
    EXPECT_TRUE(readAll(past.file.get()).empty());
}

TEST_F(AiffFile, WithoutSoundDataItOpensAndEndsAtOnce)
{
    Opened o = open(riffFile("FORM", "AIFF", {{"COMM", aiffComm(2, 0, 16, 44100)}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(o.file->duration, 0.0);
    uint8_t buf[64];
    EXPECT_EQ(LMFileRead(o.file.get(), buf, sizeof buf), 0);
    LMFileSeek(o.file.get(), 1.0);
    EXPECT_EQ(LMFileRead(o.file.get(), buf, sizeof buf), 0);
    EXPECT_EQ(LMFileTell(o.file.get()), 0.0);
}

TEST_F(AiffFile, OddChunksArePaddedAndTagsComeFromId3Chunks)
{
    const Bytes samples = toneBigEndian(8000, 1, 8, 0.001);   // 8 bytes
    Bytes tag = id3Tag(4, id3Frame(4, "TIT2", id3Text(3, bytesOf("Tïtle"))));
    tag.push_back(0);   // a writer that made the chunk a byte longer than its tag
    Opened o = open(riffFile("FORM", "AIFF", {{"NAME", bytesOf("odd")},
                                              {"COMM", aiffComm(1, 8, 8, 8000)},
                                              {"APPL", bytesOf("xyzzy")},
                                              {"SSND", aiffSsnd(samples)},
                                              {"ID3 ", tag}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_TRUE(o.checks.empty());
    EXPECT_STREQ(o.file->tag.title, "Tïtle");
    EXPECT_EQ(readAll(o.file.get()), samples);
}

TEST_F(AiffFile, MoreSoundDataThanFramesKeepsTellWithinTheDuration)
{
    // COMM counts 40 frames, SSND holds 80: the data is played, the position stops at
    // the end of the counted frames.
    const Bytes samples = toneBigEndian(8000, 1, 16, 0.01);
    Opened o = open(riffFile("FORM", "AIFF", {{"COMM", aiffComm(1, 40, 16, 8000)},
                                              {"SSND", aiffSsnd(samples)}}));
    ASSERT_NE(o.file, nullptr);
    EXPECT_DOUBLE_EQ(o.file->duration, 0.005);
    EXPECT_EQ(readAll(o.file.get()), samples);
    EXPECT_DOUBLE_EQ(LMFileTell(o.file.get()), 0.005);
}

} // namespace
