// The readers against an independent decoder (FFmpeg) and against the shared fixtures:
// what they deliver must be the stored samples byte for byte, real tags must read as
// documented, and no file, however broken, may crash or hang them.
#include <cstring>
#include <filesystem>

#include "engine/lm_aiff_file.h"
#include "engine/lm_tag.h"
#include "engine/lm_wav_file.h"
#include "support/audio_builders.h"
#include "support/test_support.h"

using namespace lmtest;
namespace fs = std::filesystem;

namespace {

using Open = LMFile *(*)(const char *);

// FFmpeg's raw format for what the reader delivers; empty when there is none.
std::string rawFormat(const LMFile *f)
{
    const std::string order = f->big_endian ? "be" : "le";
    if (f->block_size != f->num_channels * f->bits_per_sample / 8)   // e.g. 24 bits in 4 bytes
        return "";
    switch (f->bits_per_sample) {
    case 8: return f->type == LMFileTypeWav ? "u8" : "s8";
    case 16: case 24: case 32: return "s" + std::to_string(f->bits_per_sample) + order;
    }
    return "";
}

// Compares everything the reader delivers with FFmpeg's decoding; false when the file
// does not open or has no raw format to compare in.
bool expectSameAsFfmpeg(const std::string &path, Open open)
{
    Opened o = openCapturing(path, open);
    const std::string format = o.file ? rawFormat(o.file.get()) : "";
    if (format.empty() || o.file->duration == 0)
        return false;
    const Bytes ours = readAll(o.file.get(), 4096 * int(o.file->block_size));
    RunResult r = run({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:a", "-f", format, "-"});
    EXPECT_EQ(r.status, 0) << path << ": " << r.err;
    EXPECT_EQ(ours.size(), r.out.size()) << path;
    EXPECT_TRUE(ours == Bytes(r.out.begin(), r.out.end())) << path << " differs from ffmpeg -f " << format;
    return true;
}

std::vector<std::string> filesUnder(const std::string &sub)
{
    std::vector<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(fixturesDir() + "/" + sub))
        if (entry.is_regular_file() && entry.path().extension() != ".json")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(PcmReference, GeneratedFilesMatchFfmpeg)
{
    LMTEST_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    auto aiff = [](uint16_t ch, uint16_t bits, uint32_t rate, double s, const std::string &type = "AIFF") {
        return riffFile("FORM", type, {{"COMM", aiffComm(ch, uint32_t(rate * s), bits, rate, type == "AIFC" ? "NONE" : "")},
                                       {"SSND", aiffSsnd(toneBigEndian(rate, ch, bits, s))}});
    };
    const std::tuple<const char *, Bytes, Open> cases[] = {
        {"u8.wav", wavFile(1, 22050, 8, tonePcm(22050, 1, 8, 0.3)), LMWavFileOpen},
        {"s16.wav", wavFile(2, 44100, 16, tonePcm(44100, 2, 16, 0.5), {{"id3 ", id3Tag(3, {})}}), LMWavFileOpen},
        {"s24.wav", wavFile(2, 96000, 24, tonePcm(96000, 2, 24, 0.25)), LMWavFileOpen},
        {"s32.wav", wavFile(1, 48000, 32, tonePcm(48000, 1, 32, 0.25)), LMWavFileOpen},
        {"s8.aiff", aiff(1, 8, 22050, 0.3), LMAiffFileOpen},
        {"s16.aiff", aiff(2, 16, 44100, 0.5), LMAiffFileOpen},
        {"s24.aifc", aiff(2, 24, 96000, 0.25, "AIFC"), LMAiffFileOpen},
        {"s32.aiff", aiff(1, 32, 48000, 0.25), LMAiffFileOpen},
        {"sowt.aifc", riffFile("FORM", "AIFC", {{"COMM", aiffComm(2, 22050, 16, 44100, "sowt")},
                                                {"SSND", aiffSsnd(tonePcm(44100, 2, 16, 0.5))}}), LMAiffFileOpen},
    };
    for (const auto &[name, bytes, open] : cases) {
        writeFile(dir.file(name), bytes);
        EXPECT_TRUE(expectSameAsFfmpeg(dir.file(name), open)) << name;
    }
}

TEST(PcmReference, FixturesThatOpenMatchFfmpeg)
{
    LMTEST_REQUIRE_FIXTURES("wav");
    LMTEST_REQUIRE_FIXTURES("aiff");
    LMTEST_REQUIRE_TOOL("ffmpeg");
    int compared = 0;
    for (const auto &[sub, open] : {std::pair<std::string, Open>{"wav", LMWavFileOpen}, {"aiff", LMAiffFileOpen}})
        for (const std::string &path : filesUnder(sub))
            // ffmpeg takes 24 valid bits in 32-bit extensible samples for floats; the file
            // is compared with its plain-PCM twin in FixturesReadAsDocumented instead.
            if (path.find("waveformatextensible-24bit-4byte") == std::string::npos)
                compared += expectSameAsFfmpeg(path, open);
    EXPECT_GT(compared, 40);
}

// Every fixture opened as WAV and as AIFF, read, sought and told; every leading and
// trailing tag parsed.
TEST(PcmReference, EveryFixtureOpensOrIsRefused)
{
    LMTEST_REQUIRE_FIXTURES("wav");
    int files = 0;
    for (const char *sub : {"wav", "aiff", "id3"}) {
        for (const std::string &path : filesUnder(sub)) {
            SCOPED_TRACE(path);
            const Bytes bytes = readFile(path);
            for (Open open : {LMWavFileOpen, LMAiffFileOpen}) {
                Opened o = openCapturing(path, open);
                if (!o.file)
                    continue;
                LMFile *f = o.file.get();
                StderrCapture quiet;
                const Bytes all = readAll(f, 4096 * int(f->block_size));
                EXPECT_LE(all.size(), bytes.size());
                EXPECT_EQ(all.size() % f->block_size, 0u);
                for (double t : {-1.0, f->duration / 3, f->duration + 5}) {
                    LMFileSeek(f, t);
                    EXPECT_TRUE(LMFileTell(f) >= 0 && LMFileTell(f) <= f->duration);
                }
            }
            StderrCapture quiet;
            LMTag tag{};
            LMTagParseId3v2(&tag, bytes.data(), bytes.size());
            if (bytes.size() >= 10) {
                size_t declared = 10 + ((bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 | (bytes[8] & 0x7F) << 7 | (bytes[9] & 0x7F));
                LMTagParseId3v2(&tag, bytes.data(), std::min(declared, bytes.size()));
            }
            if (bytes.size() >= 128)
                LMTagParseId3v1(&tag, bytes.data() + bytes.size() - 128, 128);
            LMTagClear(&tag);
            files++;
        }
    }
    EXPECT_GT(files, 200);
}

// The tag at the start of an id3/ fixture, as long as its header says.
struct FixtureTag {
    explicit FixtureTag(const std::string &name)
    {
        const Bytes b = readFile(fixturesDir() + "/id3/" + name);
        size_t n = b.size() < 10 ? 0 : 10 + ((b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F));
        StderrCapture quiet;
        LMTagParseId3v2(&tag, b.data(), std::min(n, b.size()));
    }
    ~FixtureTag() { LMTagClear(&tag); }
    LMTag tag{};
};

std::string summary(const LMTag &t)
{
    auto s = [](const char *p) { return std::string(p ? p : "-"); };
    return s(t.title) + "|" + s(t.artist) + "|" + s(t.album) + "|" + s(t.genre) + "|" + s(t.comment) + "|" +
           std::to_string(t.year) + "|" + std::to_string(t.track) + "|" + std::to_string(t.picture_size);
}

TEST(PcmReference, RealTagsReadAsDocumented)
{
    LMTEST_REQUIRE_FIXTURES("id3");
    const std::pair<const char *, std::string> cases[] = {
        // Synchsafe frame sizes; a front cover over 128 bytes.
        {"rust-id3-id3v24.id3", "Title|Artist|Album|Genre|-|2017|0|26523"},
        // Plain frame sizes in a version 4 tag, garbage after the cover.
        {"taglib-005411.id3", "Sunshine Superman|Donovan|Sunshine Superman|Folk|-|1966|1|36061"},
        // Two pictures: the front cover (JPEG), not the icon.
        {"atl-id3v2.3_UTF16-2pictures.mp3", "aa父bb|֎FATHER֎|Papa֍rules|House|父父!|1997|1|4705"},
        // Tag and frame unsynchronisation, data length indicators.
        {"atl-ID3v2.4-unsync-datalen-frames.mp3", "Ayashi No Ceres:  Emotions That Never Die (remix)|"
                                                  "Ghetto Lee Lewis ft. Mae|http://www.animeremix.org|Trance|"},
        {"taglib-unsynch24.id3", "Hi|-|-|-|-|0|0|0"},
        {"taglib-unsynch.id3", "My babe just cares for me|Nina Simone|100% Jazz|-|-|0|3|0"},
        {"taglib-broken-tenc.id3", "Take On Me|A Ha|1985|80s|"},
        {"music-metadata-bug-non-ascii-chars.mp3", "Suite II Overture|Janelle Monáe/"},
        {"music-metadata-bug-utf16bom-encoding.mp3", "It's All Over You Know|The Apers|Reanimate My Heart|121|-|2007|1|0"},
        {"atl-ID3v2.2-3-pictures.mp3", "noTagnoTag|ARTIST|ALBUM!|House|I have no IDE and i must code|1997|1|0"},
        {"atl-ID3v2.2-UTF16.mp3", "bébé|父|ALBUM!|House|"},
        {"rust-id3-github-issue-60.id3", "Elevator Music Attempt #1|Christiaan Bakker|Echoes From The Past|-|"},
        {"taglib-extended-header.mp3", "Druids|Excelsis|Vo Chrieger U Drache|Folk/Power Metal|-|2013|3|0"},
        {"id3lib-ozzy.tag", "Bark At The Moon|Ozzy Osbourne|Bark At The Moon|Metal|"},   // compressed cover skipped
    };
    for (const auto &[name, expected] : cases) {
        const std::string got = summary(FixtureTag(name).tag);
        EXPECT_EQ(got.substr(0, expected.size()), expected) << name;
        if (std::string(name) == "id3lib-ozzy.tag") {
            EXPECT_EQ(got.substr(got.rfind('|')), "|0");
        }
    }
    const Bytes v1 = readFile(fixturesDir() + "/id3/rust-id3-id3v1.id3");
    LMTag tag{};
    ASSERT_EQ(LMTagParseId3v1(&tag, v1.data(), v1.size()), 1);
    EXPECT_EQ(summary(tag), "Title|Artist|Album|Trance|Comment|2017|1|0");
    LMTagClear(&tag);

    // The same JPEG, stored plainly in one tag and unsynchronised behind a data length
    // indicator in the ID3 chunk of an AIFC file.
    FixtureTag plain("atl-id3v2.3_UTF16-2pictures.mp3");
    const Bytes aifc = readFile(fixturesDir() + "/aiff/atl-aifc_tagged.aif");
    const size_t at = std::string(aifc.begin(), aifc.end()).find("ID3 ");
    ASSERT_LT(at + 8, aifc.size());
    const size_t size = size_t(aifc[at + 4]) << 24 | aifc[at + 5] << 16 | aifc[at + 6] << 8 | aifc[at + 7];
    ASSERT_EQ(LMTagParseId3v2(&tag, aifc.data() + at + 8, size), 1);
    ASSERT_EQ(tag.picture_size, plain.tag.picture_size);
    EXPECT_EQ(memcmp(tag.picture, plain.tag.picture, size_t(tag.picture_size)), 0);
    LMTagClear(&tag);
}

TEST(PcmReference, FixturesReadAsDocumented)
{
    LMTEST_REQUIRE_FIXTURES("wav");
    LMTEST_REQUIRE_FIXTURES("aiff");
    const std::string wav = fixturesDir() + "/wav/", aiff = fixturesDir() + "/aiff/";
    {
        // Odd data size with its pad byte, then bext, LIST and a version 2.4 "id3 " chunk.
        Opened o = openCapturing(wav + "atl-broadcastwave_bext_info.wav");
        ASSERT_NE(o.file, nullptr);
        EXPECT_EQ(readAll(o.file.get()).size(), 7119u);
        EXPECT_EQ(summary(o.file->tag), "info.INAM|info.IART|info.IPRD|info.IGNR|info.ICMT|2018|0|0");
    }
    {
        // Streamed: the data size is unknown and the file tells the length.
        Opened o = openCapturing(wav + "music-metadata-ffmpeg-missing-chunksize.wav");
        ASSERT_NE(o.file, nullptr);
        EXPECT_DOUBLE_EQ(o.file->duration, double(readAll(o.file.get()).size() / 4) / 44100);
        EXPECT_GT(o.file->duration, 0.6);
    }
    for (const char *name : {"taglib-infloop.wav", "taglib-zero-size-chunk.wav", "music-metadata-issue-819.wav"})
        EXPECT_NE(openCapturing(wav + name).file, nullptr) << name;
    for (const char *name : {"hound/waveformatextensible-ieeefloat-44100Hz-mono.wav", "taglib-float64.wav", "taglib-uint8we.wav"})
        EXPECT_EQ(openCapturing(wav + name).checks, std::vector<std::string>{"*FAILED* check: lm_wav_file.cpp:N: fmt.audioFormat == 1"});
    // Extensible PCM reads as plain PCM does.
    Opened extensible = openCapturing(wav + "hound/waveformatextensible-24bit-4byte-48kHz-stereo.wav");
    Opened plain = openCapturing(wav + "hound/pcmwaveformat-24bit-4byte-48kHz-stereo.wav");
    ASSERT_NE(extensible.file, nullptr);
    ASSERT_NE(plain.file, nullptr);
    EXPECT_EQ(readAll(extensible.file.get()), readAll(plain.file.get()));
    EXPECT_NE(openCapturing(wav + "hound/waveformatextensible-24bit-192kHz-mono.wav").file, nullptr);
    Opened sowt = openCapturing(aiff + "go-audio-sowt.aif");
    ASSERT_NE(sowt.file, nullptr);
    EXPECT_EQ(sowt.file->big_endian, 0);
    EXPECT_DOUBLE_EQ(sowt.file->duration, 4064.0 / 44100);
    // The missing pad byte sends the walk off the chunks after SSND; what came before stays.
    Opened padded = openCapturing(aiff + "go-audio-padded24b-missing-padbyte.aif");
    ASSERT_NE(padded.file, nullptr);
    EXPECT_EQ(readAll(padded.file.get()).size(), 68739u / 3 * 3);
    for (const char *name : {"mcgill-Fnonull.aif", "mcgill-Porder.aif", "taglib-alaw.aifc"})
        EXPECT_EQ(openCapturing(aiff + name, LMAiffFileOpen).checks,
                  std::vector<std::string>{"*FAILED* check: lm_aiff_file.cpp:N: IDEQU(comm.compression, \"NONE\")"});
    EXPECT_EQ(openCapturing(aiff + "music-metadata-CWE-835-01.aiff").checks,
              std::vector<std::string>{"*FAILED* check: lm_aiff_file.cpp:N: n <= hdr.size"});
    // An ID3 chunk a byte longer than its tag.
    Opened audacity = openCapturing(aiff + "toisto/tests/exported/audacity-i8-id3.aiff");
    ASSERT_NE(audacity.file, nullptr);
    EXPECT_EQ(summary(audacity.file->tag), "AudacityTrackTitle|AudacityArtistName|AudacityAlbumTitle|Instrumental|"
                                           "Audacity Comment äö テスト 😀|2022|1|0");
}

} // namespace
