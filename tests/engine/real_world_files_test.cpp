// Files as users have them, made here by the ffmpeg tool and libFLAC: AIFF-C, extensible
// WAV, FLAC with only a DATE or cut short, lossless MP4 above 65535 Hz, low-rate MP3
// padding, tags behind a size-timed MP3, MP4 covers, iTunes gapless data, and ID3v2.4
// tags written with plain frame sizes.
#include <cstring>
#include <string>
#include <vector>

#include <QImage>

#include "engine/lm_file.h"
#include "engine/lm_flac_file.h"
#include "engine/lm_tag.h"
#include "library/playable_item.h"
#include "support/audio_builders.h"
#include "support/codec_support.h"
#include "support/test_support.h"

namespace {

using lmtest::Bytes;
using lmtest::operator+;

class RealWorldFiles : public ::testing::Test {
protected:
    void SetUp() override { LMTEST_REQUIRE_TOOL("ffmpeg"); }
    std::string file(const std::string &name) const { return dir.file(name); }
    // A stereo 440 Hz tone of `seconds` at `rate`, encoded with `codec` into `name`.
    bool tone(const std::string &name, const std::vector<std::string> &codec, double seconds = 1.0,
              uint32_t rate = 44100, uint32_t channels = 2) const
    {
        std::vector<std::string> args = {"-f", "lavfi", "-i",
                                         "sine=frequency=440:sample_rate=" + std::to_string(rate) +
                                             ":duration=" + std::to_string(seconds),
                                         "-ac", std::to_string(channels)};
        args.insert(args.end(), codec.begin(), codec.end());
        args.push_back(file(name));
        return lmtest::ffmpeg(args);
    }
    // Frames `lumenar-cli decode` writes for `path`; -1 when it fails.
    int64_t decodedFrames(const std::string &path, uint32_t frameBytes) const
    {
        const lmtest::RunResult r = lmtest::run({lmtest::cliPath(), "decode", path, "-o", file("out.raw")});
        return r.status == 0 ? int64_t(lmtest::readFile(file("out.raw")).size() / frameBytes) : -1;
    }

    lmtest::TempDir dir;
};

TEST_F(RealWorldFiles, AifcFilesOpenByTheirExtension)
{
    ASSERT_TRUE(tone("a.aifc", {"-c:a", "pcm_s16le", "-f", "aiff"}, 0.5));
    ASSERT_EQ(memcmp(lmtest::readFile(file("a.aifc")).data() + 8, "AIFC", 4), 0);
    lmtest::FilePtr f(LMFileOpen(file("a.aifc").c_str()));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->type, LMFileTypeAiff);
    EXPECT_EQ(f->big_endian, 0);
    EXPECT_TRUE(lmtest::readAll(f.get()) == lmtest::ffmpegPcm(file("a.aifc"), "s16le"));
}

TEST_F(RealWorldFiles, ExtensiblePcmWavPlaysLikePlainPcm)
{
    ASSERT_TRUE(tone("s24.wav", {"-c:a", "pcm_s24le"}));
    ASSERT_TRUE(tone("mono96k.wav", {"-c:a", "pcm_s16le"}, 0.5, 96000, 1));
    for (const char *name : {"s24.wav", "mono96k.wav"}) {
        const Bytes bytes = lmtest::readFile(file(name));
        ASSERT_EQ(bytes[20] | bytes[21] << 8, 0xFFFE) << name << ": ffmpeg wrote a plain PCM header";
        lmtest::Opened o = lmtest::openCapturing(file(name));
        ASSERT_NE(o.file, nullptr) << name;
        EXPECT_TRUE(o.checks.empty());
        EXPECT_TRUE(lmtest::readAll(o.file.get()) ==
                    lmtest::ffmpegPcm(file(name), o.file->bits_per_sample == 24 ? "s24le" : "s16le"))
            << name;
    }
    lmtest::FilePtr f(LMFileOpen(file("s24.wav").c_str()));
    EXPECT_EQ(f->bits_per_sample, 24u);
    EXPECT_EQ(f->block_size, 6u);
    EXPECT_DOUBLE_EQ(f->duration, 1.0);

    // Other sub-formats stay refused with the plain-PCM line.
    ASSERT_TRUE(tone("float.wav", {"-c:a", "pcm_f32le"}));
    lmtest::Opened o = lmtest::openCapturing(file("float.wav"));
    EXPECT_EQ(o.file, nullptr);
    EXPECT_EQ(o.checks, std::vector<std::string>{"*FAILED* check: lm_wav_file.cpp:N: fmt.audioFormat == 1"});
}

TEST(FlacDate, YearComesFromDateWhenThereIsNoYear)
{
    lmtest::TempDir dir;
    lmtest::FlacSpec spec;
    spec.seconds = 0.1;
    spec.comments = {"DATE=1997-05-01"};
    ASSERT_FALSE(lmtest::writeFlac(dir.file("a.flac"), spec).empty());
    lmtest::FilePtr f(LMFileOpen(dir.file("a.flac").c_str()));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->tag.year, 1997);

    auto yearOf = [](const std::vector<std::string> &comments) {
        LMTag tag{};
        for (const std::string &c : comments)
            LMFlacTagAddComment(&tag, reinterpret_cast<const uint8_t *>(c.data()), uint32_t(c.size()));
        const int32_t year = tag.year;
        LMTagClear(&tag);
        return year;
    };
    EXPECT_EQ(yearOf({"date=19970501"}), 1997);
    EXPECT_EQ(yearOf({"DATE=2004", "YEAR=1999"}), 1999);   // YEAR wins, before or after
    EXPECT_EQ(yearOf({"YEAR=1999", "DATE=2004"}), 1999);
    EXPECT_EQ(yearOf({"DATE=May 1997"}), 0);
    EXPECT_EQ(yearOf({"DATE=97"}), 0);
}

TEST(FlacTruncated, ASeekBeyondItsDataEndsTheItem)
{
    lmtest::TempDir dir;
    lmtest::FlacSpec spec;
    spec.seconds = 3.0;
    const std::vector<uint8_t> pcm = lmtest::writeFlac(dir.file("a.flac"), spec);
    ASSERT_FALSE(pcm.empty());
    Bytes bytes = lmtest::readFile(dir.file("a.flac"));
    bytes.resize(bytes.size() / 3);   // an interrupted copy
    lmtest::writeFile(dir.file("cut.flac"), bytes);

    lmtest::FilePtr f(LMFileOpen(dir.file("cut.flac").c_str()));
    ASSERT_NE(f, nullptr);
    EXPECT_DOUBLE_EQ(f->duration, 3.0);   // what the header promises
    LMFileSeek(f.get(), 2.0);
    EXPECT_TRUE(lmtest::readAll(f.get()).empty()) << "the item must end, not start again";
    // Within the data a seek still lands where it should, and the start plays again.
    LMFileSeek(f.get(), 0.5);
    const Bytes half = lmtest::readAll(f.get());
    ASSERT_FALSE(half.empty());
    EXPECT_TRUE(std::equal(half.begin(), half.end(), pcm.begin() + 22050 * 4));
    LMFileSeek(f.get(), 0);
    const Bytes all = lmtest::readAll(f.get());
    EXPECT_EQ(all.size(), half.size() + 22050 * 4);

    const lmtest::RunResult r =
        lmtest::run({lmtest::cliPath(), "decode", dir.file("cut.flac"), "--seek", "2", "-o", dir.file("out.raw")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(lmtest::readFile(dir.file("out.raw")).empty());
}

// A version 4 tag whose writer stored plain frame sizes: the synchsafe reading of the
// picture's size, 300, is 172, which lands on a 0 byte inside the picture.
TEST(Id3v24PlainSizes, APictureDoesNotHideTheFramesAfterIt)
{
    Bytes picture(300 - 14, 0);
    picture[0] = 0xFF;
    picture[1] = 0xD8;
    const Bytes apic = Bytes{0} + lmtest::bytesOf("image/jpeg") + Bytes{0, 3, 0} + picture;
    ASSERT_EQ(apic.size(), 300u);
    const Bytes tag = lmtest::id3Tag(4, lmtest::id3Frame(4, "APIC", apic, 0, true) +
                                            lmtest::id3Frame(4, "TPE1", Bytes{3} + lmtest::bytesOf("Band"), 0, true) +
                                            lmtest::id3Frame(4, "TIT2", Bytes{3} + lmtest::bytesOf("Song"), 0, true),
                                     0, 64);
    LMTag t{};
    ASSERT_EQ(LMTagParseId3v2(&t, tag.data(), tag.size()), 1);
    EXPECT_STREQ(t.artist, "Band");
    EXPECT_STREQ(t.title, "Song");
    EXPECT_EQ(t.picture_size, int32_t(picture.size()));
    LMTagClear(&t);

    // Written with synchsafe sizes, the same frames read the same.
    const Bytes safe = lmtest::id3Tag(4, lmtest::id3Frame(4, "APIC", apic) +
                                             lmtest::id3Frame(4, "TPE1", Bytes{3} + lmtest::bytesOf("Band")),
                                      0, 64);
    ASSERT_EQ(LMTagParseId3v2(&t, safe.data(), safe.size()), 1);
    EXPECT_STREQ(t.artist, "Band");
    EXPECT_EQ(t.picture_size, int32_t(picture.size()));
    LMTagClear(&t);
}

// Writers that keep the sample entry's 16-bit rate field store 48000 for 96 kHz; the
// codec's own configuration has the real rate.
void halveSampleEntryRate(const std::string &path, const char *entry)
{
    Bytes bytes = lmtest::readFile(path);
    const std::string s(bytes.begin(), bytes.end());
    const size_t stsd = s.find("stsd");
    ASSERT_NE(stsd, std::string::npos);
    const size_t type = s.find(entry, stsd);
    ASSERT_NE(type, std::string::npos);
    const size_t rate = type - 4 + 32;   // 16.16 fixed point, after the sound description's fields
    const Bytes half = lmtest::be(uint64_t(48000) << 16, 4);
    std::copy(half.begin(), half.end(), bytes.begin() + std::ptrdiff_t(rate));
    lmtest::writeFile(path, bytes);
}

TEST_F(RealWorldFiles, LosslessMp4At96kHzKeepsItsRate)
{
    ASSERT_TRUE(tone("alac.m4a", {"-c:a", "alac", "-sample_fmt", "s16p"}, 1.0, 96000));
    ASSERT_TRUE(tone("flac.m4a", {"-c:a", "flac", "-sample_fmt", "s16", "-f", "mp4", "-strict", "-2"}, 1.0, 96000));
    halveSampleEntryRate(file("alac.m4a"), "alac");
    halveSampleEntryRate(file("flac.m4a"), "fLaC");
    for (const char *name : {"alac.m4a", "flac.m4a"}) {
        lmtest::FilePtr f(LMFileOpen(file(name).c_str()));
        ASSERT_NE(f, nullptr) << name;
        EXPECT_EQ(f->sample_rate, 96000u) << name;
        EXPECT_NEAR(f->duration, 1.0, 0.001) << name;
        EXPECT_EQ(decodedFrames(file(name), 4), 96000) << name;
    }
}

// MPEG-2 frames carry 576 samples, so the encoder's padding often takes more than the last
// one. ffmpeg's own MP3 writer never states more than one packet of padding; the LAME
// encoder does, as the tag below then says.
TEST_F(RealWorldFiles, LowRateMp3PaddingOverTwoPacketsIsCutWhole)
{
    ASSERT_TRUE(tone("lo.mp3", {"-c:a", "libmp3lame", "-b:a", "32k"}, 1.0, 22050, 1));
    Bytes bytes = lmtest::readFile(file("lo.mp3"));
    const std::string s(bytes.begin(), bytes.end());
    const size_t info = s.find("Info");
    ASSERT_NE(info, std::string::npos);
    const uint32_t flags = uint32_t(bytes[info + 7]);
    size_t lame = info + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) +
                  ((flags & 8) ? 4 : 0);
    ASSERT_TRUE(s.compare(lame, 4, "Lavc") == 0 || s.compare(lame, 4, "LAME") == 0);
    const size_t at = lame + 21;   // 12 bits of delay, 12 bits of padding
    uint32_t v = uint32_t(bytes[at]) << 16 | uint32_t(bytes[at + 1]) << 8 | bytes[at + 2];
    v += 576;
    bytes[at] = uint8_t(v >> 16);
    bytes[at + 1] = uint8_t(v >> 8);
    bytes[at + 2] = uint8_t(v);
    lmtest::writeFile(file("lo.mp3"), bytes);

    const int64_t reference = int64_t(lmtest::ffmpegPcm(file("lo.mp3"), "s16le").size() / 2);
    ASSERT_EQ(reference, 22050 - 576);
    EXPECT_EQ(decodedFrames(file("lo.mp3"), 2), reference);
}

TEST_F(RealWorldFiles, Mp3TimedByItsSizeLeavesTrailingTagsOut)
{
    ASSERT_TRUE(tone("cbr.mp3", {"-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0"}));
    double plain = 0;
    {
        lmtest::FilePtr f(LMFileOpen(file("cbr.mp3").c_str()));
        ASSERT_NE(f, nullptr);
        plain = f->duration;
        EXPECT_NEAR(plain, 1.0, 0.06);
    }
    // An APEv2 tag with a picture, then an ID3v1 tag, as taggers leave them.
    const Bytes items = lmtest::le(3000, 4) + lmtest::le(2, 4) + lmtest::bytesOf("Cover Art (Front)") + Bytes{0} +
                        Bytes(3000, 0x55) + lmtest::le(4, 4) + lmtest::le(0, 4) + lmtest::bytesOf("Artist") +
                        Bytes{0} + lmtest::bytesOf("Band");
    auto ape = [&](uint32_t flags) {
        return lmtest::bytesOf("APETAGEX") + lmtest::le(2000, 4) + lmtest::le(items.size() + 32, 4) +
               lmtest::le(2, 4) + lmtest::le(flags, 4) + Bytes(8, 0);
    };
    Bytes id3v1 = lmtest::bytesOf("TAGTitle");
    id3v1.resize(128, 0);
    const Bytes tagged =
        lmtest::readFile(file("cbr.mp3")) + ape(0xA0000000) + items + ape(0x80000000) + id3v1;
    lmtest::writeFile(file("tagged.mp3"), tagged);
    lmtest::FilePtr f(LMFileOpen(file("tagged.mp3").c_str()));
    ASSERT_NE(f, nullptr);
    EXPECT_NEAR(f->duration, plain, 0.001);
}

TEST_F(RealWorldFiles, M4aCoverIsTheItemsEmbeddedCover)
{
    ASSERT_TRUE(lmtest::ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=16x16", "-frames:v", "1", file("cover.png")}));
    ASSERT_TRUE(lmtest::ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-i", file("cover.png"), "-map",
                                "0:a", "-map", "1:v", "-c:a", "aac", "-c:v", "copy", "-disposition:v:0",
                                "attached_pic", "-metadata", "title=Covered", file("c.m4a")}));
    const Bytes png = lmtest::readFile(file("cover.png"));
    {
        lmtest::FilePtr f(LMFileOpen(file("c.m4a").c_str()));
        ASSERT_NE(f, nullptr);
        EXPECT_STREQ(f->tag.title, "Covered");   // the other tags still come from the container
        ASSERT_EQ(f->tag.picture_size, int32_t(png.size()));
        EXPECT_EQ(memcmp(f->tag.picture, png.data(), png.size()), 0);
    }
    const lmtest::RunResult r = lmtest::run({lmtest::cliPath(), "probe", file("c.m4a")});
    EXPECT_NE(r.out.find("\"picture_size\":" + std::to_string(png.size())), std::string::npos) << r.out;

    PlayableItemPtr item = PlayableItem::itemWithPath(QString::fromStdString(file("c.m4a")));
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->hasEmbeddedCoverImage());
    EXPECT_EQ(item->coverImage().size(), QSize(16, 16));
}

// The box of `type` among the boxes in [from, to); its offset, or 0.
size_t findBox(const Bytes &b, size_t from, size_t to, const char *type)
{
    while (from + 8 <= to) {
        const size_t size = size_t(b[from]) << 24 | size_t(b[from + 1]) << 16 | size_t(b[from + 2]) << 8 | b[from + 3];
        if (size < 8 || from + size > to)
            return 0;
        if (memcmp(&b[from + 4], type, 4) == 0)
            return from;
        from += size;
    }
    return 0;
}

size_t boxEnd(const Bytes &b, size_t at)
{
    return at + (size_t(b[at]) << 24 | size_t(b[at + 1]) << 16 | size_t(b[at + 2]) << 8 | b[at + 3]);
}

// Adds an iTunes freeform tag ("----") to the item list of a file whose "moov" box comes
// after its media data, so that no media offset moves.
void addItunesTag(const std::string &path, const std::string &name, const std::string &value)
{
    Bytes b = lmtest::readFile(path);
    const size_t moov = findBox(b, 0, b.size(), "moov");
    ASSERT_GT(moov, findBox(b, 0, b.size(), "mdat"));
    const size_t udta = findBox(b, moov + 8, boxEnd(b, moov), "udta");
    ASSERT_NE(udta, 0u);
    const size_t meta = findBox(b, udta + 8, boxEnd(b, udta), "meta");
    ASSERT_NE(meta, 0u);
    const size_t ilst = findBox(b, meta + 12, boxEnd(b, meta), "ilst");
    ASSERT_NE(ilst, 0u);
    auto box = [](const char *type, const Bytes &body) {
        return lmtest::be(body.size() + 8, 4) + lmtest::bytesOf(type) + body;
    };
    const Bytes item = box("----", box("mean", Bytes(4, 0) + lmtest::bytesOf("com.apple.iTunes")) +
                                       box("name", Bytes(4, 0) + lmtest::bytesOf(name)) +
                                       box("data", lmtest::be(1, 4) + Bytes(4, 0) + lmtest::bytesOf(value)));
    const size_t end = boxEnd(b, ilst);
    b.insert(b.begin() + std::ptrdiff_t(end), item.begin(), item.end());
    for (size_t at : {moov, udta, meta, ilst}) {
        const Bytes grown = lmtest::be(boxEnd(b, at) - at + item.size(), 4);
        std::copy(grown.begin(), grown.end(), b.begin() + std::ptrdiff_t(at));
    }
    lmtest::writeFile(path, b);
}

TEST_F(RealWorldFiles, ItunesGaplessDataTrimsAacWithoutAnEditList)
{
    ASSERT_TRUE(tone("plain.m4a", {"-c:a", "aac", "-use_editlist", "0"}));
    // ffmpeg's encoder primes 1024 frames; 45 packets of 1024 hold 44100 frames and 956 of padding.
    ASSERT_EQ(decodedFrames(file("plain.m4a"), 4), 45124) << "without gapless data, only the last packet's end is known";
    addItunesTag(file("plain.m4a"), "iTunSMPB",
                 " 00000000 00000400 000003BC 000000000000AC44 00000000 00000000 00000000 00000000");
    EXPECT_EQ(decodedFrames(file("plain.m4a"), 4), 44100);
}

} // namespace
