#include <cstdio>

#include "support/codec_support.h"
#include "support/test_support.h"

namespace {

// "decoded N frames, S.SSS s of audio in W.WWW s, X.Xx real time\n"; the frame count, or -1.
int64_t summaryFrames(const std::string &line)
{
    long long frames;
    double seconds, wall, speed;
    int end = 0;
    if (sscanf(line.c_str(), "decoded %lld frames, %lf s of audio in %lf s, %lfx real time\n%n", &frames, &seconds,
               &wall, &speed, &end) != 4 || size_t(end) != line.size() || line.find(" s of audio") == std::string::npos)
        return -1;
    return frames;
}

lmtest::RunResult decode(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {lmtest::cliPath(), "decode"};
    argv.insert(argv.end(), args.begin(), args.end());
    return lmtest::run(argv);
}

std::vector<uint8_t> bytes(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(DecodeCommand, FlacToStandardOutputOrAFile)
{
    lmtest::TempDir dir;
    lmtest::FlacSpec spec;
    spec.seconds = 2.0;
    const std::vector<uint8_t> pcm = lmtest::writeFlac(dir.file("a.flac"), spec);
    ASSERT_FALSE(pcm.empty());

    lmtest::RunResult r = decode({dir.file("a.flac")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bytes(r.out), pcm);
    EXPECT_EQ(summaryFrames(r.err), 88200) << r.err;

    r = decode({dir.file("a.flac"), "-o", dir.file("out.raw"), "--seek", "1.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(lmtest::readFile(dir.file("out.raw")), std::vector<uint8_t>(pcm.begin() + 66150 * 4, pcm.end()));
    EXPECT_EQ(summaryFrames(r.err), 22050) << r.err;
}

TEST(DecodeCommand, CompressedFilesDecodeAsAGaplessPlayerWould)
{
    LMTEST_REQUIRE_TOOL("ffmpeg");
    lmtest::TempDir dir;
    struct Case {
        const char *name;
        std::vector<std::string> codec;
        int64_t packet;
    };
    for (const Case &c : {Case{"a.mp3", {"-c:a", "libmp3lame"}, 1152}, Case{"b.m4a", {"-c:a", "aac"}, 1024},
                          Case{"c.m4a", {"-c:a", "alac"}, 4096}}) {
        ASSERT_TRUE(lmtest::ffmpegTone(dir.file(c.name), c.codec, 5.0)) << c.name;
        lmtest::RunResult r = decode({dir.file(c.name), "-o", dir.file("out.raw")});
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        const std::vector<uint8_t> ours = lmtest::readFile(dir.file("out.raw"));
        const std::vector<uint8_t> reference = lmtest::ffmpegPcm(dir.file(c.name), "s16le");
        EXPECT_NEAR(double(ours.size() / 4), double(reference.size() / 4), double(c.packet)) << c.name;
        EXPECT_EQ(summaryFrames(r.err), int64_t(ours.size() / 4)) << r.err;
        // The same decoder and the same trimming: the very same samples.
        const size_t common = std::min(ours.size(), reference.size());
        EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + std::ptrdiff_t(common), reference.begin())) << c.name;
    }
}

TEST(DecodeCommand, ApeSamplesAsTheReaderYieldsThem)
{
    LMTEST_REQUIRE_FIXTURES("ape");
    lmtest::RunResult r = decode({lmtest::fixturesDir() + "/ape/taglib-mac-399-id3v2.ape"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lmtest::md5Hex(bytes(r.out)), "cfe3d9dabadeab2cbf2ca235274b7f76");
    r = decode({lmtest::fixturesDir() + "/ape/atl-8bit-mono-22050.ape"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.size(), 7119u);   // one unsigned byte per frame
}

TEST(DecodeCommand, ErrorsAreReportedWithAStatus)
{
    lmtest::TempDir dir;
    lmtest::RunResult r = decode({dir.file("missing.flac")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumenar-cli decode: cannot open " + dir.file("missing.flac")), std::string::npos) << r.err;
    r = decode({dir.file("song.ogg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(decode({}).status, 2);
    EXPECT_EQ(decode({"a.flac", "--seek", "soon"}).status, 2);
    EXPECT_EQ(decode({"a.flac", "--seek", "-1"}).status, 2);
    EXPECT_EQ(decode({"a.flac", "b.flac"}).status, 2);
    EXPECT_EQ(decode({"a.flac", "-o"}).status, 2);

    lmtest::FlacSpec spec;
    spec.seconds = 0.2;
    ASSERT_FALSE(lmtest::writeFlac(dir.file("a.flac"), spec).empty());
    r = decode({dir.file("a.flac"), "-o", dir.file("no/such/dir/out.raw")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create"), std::string::npos) << r.err;
    r = decode({dir.file("a.flac"), "-o", "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
}

} // namespace
