#include <climits>
#include <cstring>
#include <filesystem>

#include "engine/lm_file.h"
#include "engine/lm_flac_file.h"
#include "support/audio_builders.h"
#include "support/codec_support.h"
#include "support/test_support.h"

namespace {

using lmtest::readAll;

using lmtest::FlacSpec;

bool isFlacCheck(const std::string &err, const std::string &condition)
{
    return lmtest::isCheckLine(err, "lm_flac_file.cpp", condition);
}

class FlacReader : public ::testing::Test {
protected:
    lmtest::TempDir dir;
    std::string path(const char *name = "a.flac") { return dir.file(name); }
};

TEST_F(FlacReader, VorbisCommentsFollowTheFieldRules)
{
    FlacSpec spec;
    spec.seconds = 0.2;
    spec.comments = {"title=A",       "TITLE=B",          "TrackNumber=3", "TRACKNUMBER=5",
                     "ARTIST=Ar",     "ALBUM=Al",         "GENRE=Rock",    "YEAR=1999",
                     "DATE=2004",     "CUESHEET=FILE \"x.flac\" WAVE", "CUESHEET=second",
                     "COMMENT=ignored", "NOEQUALSIGN"};
    ASSERT_FALSE(lmtest::writeFlac(path(), spec).empty());
    LMFile *f = LMFileOpen(path().c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->tag.title, "A");
    EXPECT_EQ(f->tag.track, 5);
    EXPECT_STREQ(f->tag.artist, "Ar");
    EXPECT_STREQ(f->tag.album, "Al");
    EXPECT_STREQ(f->tag.genre, "Rock");
    EXPECT_EQ(f->tag.year, 1999);   // YEAR wins over DATE
    EXPECT_STREQ(f->tag.cuesheet, "FILE \"x.flac\" WAVE");
    EXPECT_EQ(f->tag.comment, nullptr);
    EXPECT_EQ(f->tag.picture, nullptr);
    LMFileClose(f);
}

TEST(FlacComments, EntriesAreReadWithinTheirLengthOnly)
{
    LMTag tag{};
    auto add = [&](const std::string &entry) {
        // An exact-size heap copy, so that a read past the entry is caught by the sanitizers.
        std::vector<uint8_t> bytes(entry.begin(), entry.end());
        LMFlacTagAddComment(&tag, bytes.data(), uint32_t(bytes.size()));
    };
    add("TITLE");           // no "=": ignored
    add("=x");              // empty name
    add("TITLEX=no");       // longer name
    add("TITL=no");         // shorter name
    EXPECT_TRUE(LMTagIsEmpty(&tag));
    add("ARTIST=a\0b");     // embedded 0 ends the text, nothing beyond the entry is read
    EXPECT_STREQ(tag.artist, "a");
    add("TITLE=");          // an empty value is a value
    EXPECT_STREQ(tag.title, "");

    const std::pair<const char *, int32_t> numbers[] = {
        {"TRACKNUMBER=3/12", 3}, {"TRACKNUMBER=-2", -2},          {"TRACKNUMBER=+7", 7},
        {"TRACKNUMBER= 9", 9},   {"TRACKNUMBER=x1", 0},           {"TRACKNUMBER=", 0},
        {"TRACKNUMBER=99999999999", INT32_MAX}, {"TRACKNUMBER=-99999999999", INT32_MIN},
    };
    for (const auto &[entry, value] : numbers) {
        add(entry);
        EXPECT_EQ(tag.track, value) << entry;
    }
    // A value whose digits run to the very end of the entry.
    std::vector<uint8_t> year = {'Y', 'E', 'A', 'R', '=', '2', '0', '0', '1'};
    LMFlacTagAddComment(&tag, year.data(), uint32_t(year.size()));
    EXPECT_EQ(tag.year, 2001);
    LMTagClear(&tag);
}

TEST_F(FlacReader, OnlyFrontCoverPicturesAreTakenAndTheLastWins)
{
    const std::vector<uint8_t> other = {1, 2, 3}, first = {4, 5, 6, 7}, last = {8, 9};
    FlacSpec spec;
    spec.seconds = 0.1;
    spec.pictures = {{0, other}, {3, first}, {3, last}, {4, other}};
    ASSERT_FALSE(lmtest::writeFlac(path(), spec).empty());
    LMFile *f = LMFileOpen(path().c_str());
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->tag.picture_size, 2);
    EXPECT_EQ(std::vector<uint8_t>(f->tag.picture, f->tag.picture + 2), last);
    LMFileClose(f);

    spec.pictures = {{0, other}};
    spec.nativeCuesheet = true;
    ASSERT_FALSE(lmtest::writeFlac(path("b.flac"), spec).empty());
    f = LMFileOpen(path("b.flac").c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(LMTagIsEmpty(&f->tag));   // neither the other picture nor the native cue sheet
    LMFileClose(f);
}

TEST_F(FlacReader, AcceptsStereo16And24BitAndRefusesTheRest)
{
    for (uint32_t bits : {16u, 24u}) {
        FlacSpec spec;
        spec.bits = bits;
        spec.seconds = 0.5;
        ASSERT_FALSE(lmtest::writeFlac(path(), spec).empty());
        LMFile *f = LMFileOpen(path().c_str());
        ASSERT_NE(f, nullptr) << bits;
        EXPECT_EQ(f->type, LMFileTypeFlac);
        EXPECT_EQ(f->bits_per_sample, bits);
        EXPECT_EQ(f->num_channels, 2u);
        EXPECT_EQ(f->sample_rate, 44100u);
        EXPECT_EQ(f->block_size, 32768u);   // 8 x the 4096-sample maximum block
        EXPECT_EQ(f->big_endian, 0);
        EXPECT_DOUBLE_EQ(f->duration, 0.5);
        std::vector<uint8_t> buffer(32768);
        EXPECT_EQ(LMFileRead(f, buffer.data(), 32767), 0);   // below one block: nothing
        EXPECT_EQ(LMFileTell(f), 0.0);
        LMFileClose(f);
    }
    struct Refused {
        uint32_t channels, bits;
        const char *line;
    };
    for (const Refused &r : {Refused{1, 16, "f->num_channels == 2"}, Refused{3, 16, "f->num_channels == 2"},
                             Refused{2, 8, "f->bits_per_sample == 16 || f->bits_per_sample == 24"},
                             Refused{2, 20, "f->bits_per_sample == 16 || f->bits_per_sample == 24"}}) {
        FlacSpec spec;
        spec.channels = r.channels;
        spec.bits = r.bits;
        spec.seconds = 0.1;
        ASSERT_FALSE(lmtest::writeFlac(path(), spec).empty());
        LMFile *f = nullptr;
        std::string err = lmtest::captureStderr([&] { f = LMFileOpen(path().c_str()); });
        EXPECT_EQ(f, nullptr);
        EXPECT_TRUE(isFlacCheck(err, r.line)) << err;
    }
}

TEST_F(FlacReader, MissingAndForeignFilesAreRefused)
{
    LMFile *f = nullptr;
    std::string err = lmtest::captureStderr([&] { f = LMFileOpen(path("missing.flac").c_str()); });
    EXPECT_EQ(f, nullptr);
    EXPECT_TRUE(isFlacCheck(err, "ff->fp != NULL")) << err;

    lmtest::writeWav(path("x.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 0.1));
    std::filesystem::rename(path("x.wav"), path("x.flac"));
    err = lmtest::captureStderr([&] { f = LMFileOpen(path("x.flac").c_str()); });
    EXPECT_EQ(f, nullptr);
    EXPECT_NE(err.find("*FAILED* check: lm_flac_file.cpp:"), std::string::npos);
}

TEST_F(FlacReader, PcmEqualsTheReferenceDecoder)
{
    LMTEST_REQUIRE_TOOL("ffmpeg");
    for (uint32_t bits : {16u, 24u}) {
        FlacSpec spec;
        spec.bits = bits;
        spec.seconds = 3.3;
        spec.blockSize = 1152;
        std::vector<uint8_t> encoded = lmtest::writeFlac(path(), spec);
        ASSERT_FALSE(encoded.empty());
        LMFile *f = LMFileOpen(path().c_str());
        ASSERT_NE(f, nullptr);
        // An odd buffer size: reads fill whole frames and leave the rest.
        std::vector<uint8_t> pcm = readAll(f, int(f->block_size * 3 + 5));
        EXPECT_NEAR(LMFileTell(f), f->duration, 1e-9);
        EXPECT_EQ(LMFileRead(f, std::vector<uint8_t>(f->block_size).data(), int(f->block_size)), 0);
        LMFileClose(f);
        EXPECT_EQ(pcm, encoded);
        EXPECT_EQ(pcm, lmtest::ffmpegPcm(path(), bits == 16 ? "s16le" : "s24le"));
    }
}

TEST_F(FlacReader, SeekLandsOnTheExactFrameAndTellFollows)
{
    FlacSpec spec;
    spec.seconds = 4.0;
    std::vector<uint8_t> all = lmtest::writeFlac(path(), spec);
    ASSERT_FALSE(all.empty());
    LMFile *f = LMFileOpen(path().c_str());
    ASSERT_NE(f, nullptr);
    const int chunk = int(f->block_size * 2);
    for (double t : {1.0, 2.5003, 0.0, 3.99}) {
        LMFileSeek(f, t);
        const uint64_t frame = uint64_t(t / 4.0 * 176400);
        EXPECT_NEAR(LMFileTell(f), double(frame) / 44100, 1e-9) << t;
        std::vector<uint8_t> rest = readAll(f, chunk);
        EXPECT_EQ(rest, std::vector<uint8_t>(all.begin() + std::ptrdiff_t(frame * 4), all.end())) << t;
    }
    // Beyond the end: the stream is over, and a later seek still works.
    LMFileSeek(f, 99.0);
    EXPECT_DOUBLE_EQ(LMFileTell(f), 4.0);
    EXPECT_EQ(readAll(f, chunk).size(), 0u);
    LMFileSeek(f, -3.0);
    EXPECT_EQ(LMFileTell(f), 0.0);
    EXPECT_EQ(readAll(f, chunk), all);
    LMFileSeek(f, 3.0);
    EXPECT_EQ(readAll(f, chunk).size(), 44100u * 4);
    LMFileClose(f);
}

TEST_F(FlacReader, StreamWithoutStatedLengthPlaysAndSeeksToItsStart)
{
    FlacSpec spec;
    spec.seconds = 1.5;
    spec.unknownLength = true;
    std::vector<uint8_t> all = lmtest::writeFlac(path(), spec);
    ASSERT_FALSE(all.empty());
    LMFile *f = LMFileOpen(path().c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->duration, 0.0);
    std::vector<uint8_t> buffer(f->block_size * 2);
    ASSERT_GT(LMFileRead(f, buffer.data(), int(buffer.size())), 0);
    EXPECT_EQ(LMFileTell(f), 0.0);
    LMFileSeek(f, 0.7);
    EXPECT_EQ(readAll(f, int(f->block_size * 2)), all);
    LMFileClose(f);
}

TEST_F(FlacReader, LostFramesPlayAsBoundedSilenceAndReadingEnds)
{
    FlacSpec spec;
    spec.seconds = 2.0;   // 21 whole blocks and a short one
    std::vector<uint8_t> all = lmtest::writeFlac(path(), spec);
    ASSERT_FALSE(all.empty());
    ASSERT_TRUE(lmtest::renumberLastFlacFrame(path(), 3000));
    LMFile *f = LMFileOpen(path().c_str());
    ASSERT_NE(f, nullptr);
    // The decoder stands in for the "lost" frames with silence; more than any one read
    // holds, and more than a frame can be.
    std::vector<uint8_t> pcm = readAll(f, int(f->block_size * 2));
    EXPECT_GT(pcm.size(), all.size() + 65536 * 4);
    EXPECT_LE(pcm.size(), all.size() + (4u << 20));
    EXPECT_TRUE(std::equal(all.begin(), all.begin() + 21 * 4096 * 4, pcm.begin()));
    EXPECT_DOUBLE_EQ(LMFileTell(f), f->duration);
    LMFileClose(f);
}

TEST(FlacFixtures, EveryFileOpensOrIsRefusedAndReadsToItsEnd)
{
    LMTEST_REQUIRE_FIXTURES("flac");
    int opened = 0;
    for (const char *sub : {"flac", "ape/ref"}) {
        if (!lmtest::haveFixtures(sub))
            continue;
        for (const auto &entry : std::filesystem::directory_iterator(lmtest::fixturesDir() + "/" + sub)) {
            if (entry.path().extension() != ".flac")
                continue;
            LMFile *f = nullptr;
            lmtest::captureStderr([&] { f = LMFileOpen(entry.path().c_str()); });
            if (f == nullptr)
                continue;
            opened++;
            std::vector<uint8_t> pcm = readAll(f, int(f->block_size));
            EXPECT_EQ(pcm.size() % (f->bits_per_sample / 8 * 2), 0u) << entry.path();
            LMFileSeek(f, f->duration / 2);
            readAll(f, int(f->block_size));
            LMFileClose(f);
        }
    }
    EXPECT_GE(opened, 6);
}

TEST(FlacFixtures, TagsOfRealFiles)
{
    LMTEST_REQUIRE_FIXTURES("flac");
    const std::string dir = lmtest::fixturesDir() + "/flac/";
    LMFile *f = LMFileOpen((dir + "taglib-silence-44-s.flac").c_str());
    ASSERT_NE(f, nullptr);
    ASSERT_GT(f->tag.picture_size, 8);
    EXPECT_EQ(memcmp(f->tag.picture, "\x89PNG", 4), 0);
    EXPECT_EQ(f->tag.cuesheet, nullptr);   // its cue sheet is a native block
    LMFileClose(f);

    f = LMFileOpen((dir + "flacon-embedded_cue.flac").c_str());
    ASSERT_NE(f, nullptr);
    ASSERT_NE(f->tag.cuesheet, nullptr);
    EXPECT_NE(strstr(f->tag.cuesheet, "TRACK 01"), nullptr);
    LMFileClose(f);

    std::string err = lmtest::captureStderr([&] { f = LMFileOpen((dir + "music-metadata-libFLAC-mono.flac").c_str()); });
    EXPECT_EQ(f, nullptr);
    EXPECT_TRUE(isFlacCheck(err, "f->num_channels == 2")) << err;
}

} // namespace
