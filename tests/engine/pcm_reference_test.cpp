// The PCM readers against an independent decoder (FFmpeg) and against the shared
// fixtures: what the readers deliver must be the stored samples, byte for byte, and no
// file, however broken, may crash or hang them.
#include <filesystem>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "engine/lm_aiff_file.h"
#include "engine/lm_file.h"
#include "engine/lm_tag.h"
#include "engine/lm_wav_file.h"
#include "support/audio_builders.h"
#include "support/test_support.h"

using namespace lmtest;
namespace fs = std::filesystem;

namespace {

// The raw format in which FFmpeg writes what the reader should have delivered.
std::string rawFormat(const LMFile *f)
{
    const bool wav = f->type == LMFileTypeWav;
    switch (f->bits_per_sample) {
    case 8: return wav ? "u8" : "s8";
    case 16: return f->big_endian ? "s16be" : "s16le";
    case 24: return f->big_endian ? "s24be" : "s24le";
    case 32: return f->big_endian ? "s32be" : "s32le";
    }
    return "";
}

Bytes ffmpegDecode(const std::string &path, const std::string &format)
{
    RunResult r = run({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:a", "-f", format, "-"});
    EXPECT_EQ(r.status, 0) << path << ": " << r.err;
    return Bytes(r.out.begin(), r.out.end());
}

// Opens `path` with `open` and compares everything it reads with FFmpeg's decoding.
void expectSameAsFfmpeg(const std::string &path, LMFile *(*open)(const char *))
{
    Opened o = openCapturing(path, open);
    ASSERT_NE(o.file, nullptr) << path;
    const std::string format = rawFormat(o.file.get());
    ASSERT_FALSE(format.empty()) << path;
    Bytes ours = readAll(o.file.get(), 4096 * int(o.file->block_size));
    Bytes theirs = ffmpegDecode(path, format);
    EXPECT_EQ(ours.size(), theirs.size()) << path;
    EXPECT_TRUE(ours == theirs) << path << " differs from ffmpeg -f " << format;
}

TEST(PcmReference, GeneratedFilesMatchFfmpeg)
{
    LMTEST_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    struct Case {
        const char *name;
        Bytes bytes;
        LMFile *(*open)(const char *);
    } cases[] = {
        {"u8-mono.wav", wavFile(1, 22050, 8, tonePcm(22050, 1, 8, 0.3)), LMWavFileOpen},
        {"s16-stereo.wav", wavFile(2, 44100, 16, tonePcm(44100, 2, 16, 0.5)), LMWavFileOpen},
        {"s24-stereo.wav", wavFile(2, 96000, 24, tonePcm(96000, 2, 24, 0.25)), LMWavFileOpen},
        {"s32-mono.wav", wavFile(1, 48000, 32, tonePcm(48000, 1, 32, 0.25)), LMWavFileOpen},
        {"tagged.wav", wavFile(2, 44100, 16, tonePcm(44100, 2, 16, 0.2),
                               {{"LIST", bytesOf("INFOabc")}, {"id3 ", id3Tag(3, id3Frame(3, "TIT2", {0, 'x'}))}}),
         LMWavFileOpen},
        {"s8-mono.aiff", riffFile("FORM", "AIFF", {{"COMM", aiffComm(1, 6615, 8, 22050)},
                                                   {"SSND", aiffSsnd(toneBigEndian(22050, 1, 8, 0.3))}}),
         LMAiffFileOpen},
        {"s16-stereo.aiff", riffFile("FORM", "AIFF", {{"COMM", aiffComm(2, 22050, 16, 44100)},
                                                      {"SSND", aiffSsnd(toneBigEndian(44100, 2, 16, 0.5))}}),
         LMAiffFileOpen},
        {"s24-stereo.aif", riffFile("FORM", "AIFF", {{"COMM", aiffComm(2, 24000, 24, 96000)},
                                                     {"SSND", aiffSsnd(toneBigEndian(96000, 2, 24, 0.25))}}),
         LMAiffFileOpen},
        {"s32-mono.aiff", riffFile("FORM", "AIFF", {{"COMM", aiffComm(1, 12000, 32, 48000)},
                                                    {"SSND", aiffSsnd(toneBigEndian(48000, 1, 32, 0.25))}}),
         LMAiffFileOpen},
        {"sowt.aifc", riffFile("FORM", "AIFC", {{"FVER", {0xA2, 0x80, 0x51, 0x40}},
                                                {"COMM", aiffComm(2, 22050, 16, 44100, "sowt")},
                                                {"SSND", aiffSsnd(tonePcm(44100, 2, 16, 0.5))}}),
         LMAiffFileOpen},
        {"none24.aifc", riffFile("FORM", "AIFC", {{"FVER", {0xA2, 0x80, 0x51, 0x40}},
                                                  {"COMM", aiffComm(1, 4410, 24, 44100, "NONE")},
                                                  {"SSND", aiffSsnd(toneBigEndian(44100, 1, 24, 0.1))}}),
         LMAiffFileOpen},
    };
    for (const Case &c : cases) {
        writeFile(dir.file(c.name), c.bytes);
        expectSameAsFfmpeg(dir.file(c.name), c.open);
    }
}

std::vector<std::string> filesUnder(const std::string &sub)
{
    std::vector<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(fixturesDir() + "/" + sub))
        if (entry.is_regular_file() && entry.path().extension() != ".json" && entry.path().extension() != ".md")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Files whose stored samples FFmpeg does not hand on as they are.
bool ffmpegDiffers(const std::string &path)
{
    static const char *const known[] = {
        // It stops at the 30-bit data size it keeps for streamed files.
        "music-metadata-ffmpeg-missing-chunksize.wav",
    };
    for (const char *name : known)
        if (fs::path(path).filename() == name)
            return true;
    return false;
}

TEST(PcmReference, FixturesThatOpenMatchFfmpeg)
{
    LMTEST_REQUIRE_FIXTURES("wav");
    LMTEST_REQUIRE_FIXTURES("aiff");
    LMTEST_REQUIRE_TOOL("ffmpeg");
    int compared = 0;
    for (const char *sub : {"wav", "aiff"}) {
        for (const std::string &path : filesUnder(sub)) {
            LMFile *(*open)(const char *) = std::string(sub) == "wav" ? LMWavFileOpen : LMAiffFileOpen;
            Opened o = openCapturing(path, open);
            if (!o.file || o.file->duration == 0 || ffmpegDiffers(path))
                continue;
            // 24-bit samples in 4-byte containers come out of FFmpeg repacked; depths
            // such as 12 or 64 bits have no raw format to compare with.
            if (o.file->block_size != o.file->num_channels * o.file->bits_per_sample / 8 ||
                rawFormat(o.file.get()).empty())
                continue;
            SCOPED_TRACE(path);
            expectSameAsFfmpeg(path, open);
            compared++;
        }
    }
    EXPECT_GT(compared, 40);
}

// Toisto's files come with the decoded values of their first samples.
TEST(PcmReference, ToistoSamplesAndFrameCounts)
{
    LMTEST_REQUIRE_FIXTURES("aiff/toisto");
    int checked = 0;
    for (const std::string &path : filesUnder("aiff/toisto")) {
        Opened o = openCapturing(path, LMAiffFileOpen);
        // The invalid files' values are what one decoder happened to make of them.
        if (!o.file || path.find("/invalid/") != std::string::npos)
            continue;
        std::string jsonPath = fs::path(path).replace_extension(".json").string();
        QJsonObject expected = QJsonDocument::fromJson(QByteArray::fromStdString(readText(jsonPath))).object();
        if (expected.isEmpty())
            continue;
        SCOPED_TRACE(path);
        LMFile *f = o.file.get();
        EXPECT_EQ(f->num_channels, uint32_t(expected["channels"].toInt()));
        EXPECT_EQ(f->bits_per_sample, uint32_t(expected["sampleSize"].toInt()));
        EXPECT_EQ(f->sample_rate, uint32_t(expected["sampleRate"].toDouble()));
        const Bytes data = readAll(f);
        EXPECT_EQ(data.size() / f->block_size, size_t(expected["samplesPerChannel"].toInt()));
        const QJsonArray start = expected["startSamples"].toArray();
        const size_t width = f->bits_per_sample / 8;
        for (qsizetype ch = 0; ch < start.size(); ch++) {
            const QJsonArray values = start[ch].toArray();
            for (qsizetype i = 0; i < values.size(); i++) {
                const size_t at = (size_t(i) * f->num_channels + size_t(ch)) * width;
                ASSERT_LE(at + width, data.size());
                int64_t v = 0;
                for (size_t b = 0; b < width; b++)
                    v = (v << 8) | data[at + (f->big_endian ? b : width - 1 - b)];
                v = (v ^ (int64_t(1) << (8 * width - 1))) - (int64_t(1) << (8 * width - 1));   // sign
                ASSERT_EQ(v, values[i].toInteger()) << "channel " << ch << " sample " << i;
            }
        }
        checked++;
    }
    EXPECT_GT(checked, 30);
}

// Every fixture opened as WAV and as AIFF, every leading and trailing tag parsed: a
// result or a refusal, never a crash, a hang or a read past the data.
TEST(PcmReference, EveryFixtureOpensOrIsRefused)
{
    LMTEST_REQUIRE_FIXTURES("wav");
    int files = 0;
    for (const char *sub : {"wav", "aiff", "id3"}) {
        for (const std::string &path : filesUnder(sub)) {
            SCOPED_TRACE(path);
            const Bytes bytes = readFile(path);
            for (auto open : {LMWavFileOpen, LMAiffFileOpen}) {
                Opened o = openCapturing(path, open);
                if (!o.file)
                    continue;
                LMFile *f = o.file.get();
                EXPECT_GT(f->block_size, 0u);
                EXPECT_GE(f->duration, 0.0);
                StderrCapture quiet;
                Bytes all = readAll(f, 4096 * int(f->block_size));
                EXPECT_LE(all.size(), bytes.size());
                EXPECT_EQ(all.size() % f->block_size, 0u);
                for (double t : {-1.0, 0.0, f->duration / 3, f->duration, f->duration + 5}) {
                    LMFileSeek(f, t);
                    double told = LMFileTell(f);
                    EXPECT_GE(told, 0.0);
                    EXPECT_LE(told, f->duration);
                    uint8_t buf[512];
                    EXPECT_GE(LMFileRead(f, buf, sizeof buf), 0);
                }
            }
            StderrCapture quiet;
            LMTag tag{};
            LMTagParseId3v2(&tag, bytes.data(), bytes.size());
            if (bytes.size() >= 10 && memcmp(bytes.data(), "ID3", 3) == 0) {
                size_t declared = 10 + ((bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 |
                                        (bytes[8] & 0x7F) << 7 | (bytes[9] & 0x7F));
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

struct Id3Fixture {
    LMTag tag{};
    int result = 0;
    ~Id3Fixture() { LMTagClear(&tag); }
};

// The tag at the start of a fixture, with the length its header declares.
void parseLeadingTag(Id3Fixture &fx, const std::string &name)
{
    const Bytes bytes = readFile(fixturesDir() + "/id3/" + name);
    ASSERT_GE(bytes.size(), 10u) << name;
    size_t length = 10 + ((bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 | (bytes[8] & 0x7F) << 7 |
                          (bytes[9] & 0x7F));
    if (bytes[3] == 4 && (bytes[5] & 0x10))
        length += 10;
    ASSERT_LE(length, bytes.size()) << name;
    StderrCapture quiet;
    fx.result = LMTagParseId3v2(&fx.tag, bytes.data(), length);
}

std::string str(const char *s)
{
    return s ? s : "(null)";
}

TEST(Id3Fixtures, RealTagsReadAsDocumented)
{
    LMTEST_REQUIRE_FIXTURES("id3");
    {
        // Synchsafe frame sizes, a front cover over 128 bytes.
        Id3Fixture fx;
        parseLeadingTag(fx, "rust-id3-id3v24.id3");
        EXPECT_EQ(str(fx.tag.title), "Title");
        EXPECT_EQ(fx.tag.year, 2017);
        ASSERT_EQ(fx.tag.picture_size, 26523);
        EXPECT_EQ(memcmp(fx.tag.picture, "\x89PNG", 4), 0);
        EXPECT_EQ(memcmp(fx.tag.picture + 26523 - 8, "IEND\xAE\x42\x60\x82", 8), 0);
    }
    {
        // A writer that stored plain sizes, and garbage after the cover.
        Id3Fixture fx;
        parseLeadingTag(fx, "taglib-005411.id3");
        ASSERT_EQ(fx.result, 1);
        ASSERT_EQ(fx.tag.picture_size, 36061);
        EXPECT_EQ(memcmp(fx.tag.picture, "\xFF\xD8", 2), 0);
        EXPECT_EQ(memcmp(fx.tag.picture + 36061 - 2, "\xFF\xD9", 2), 0);
    }
    {
        // Two pictures: the front cover (JPEG) is taken, not the icon (PNG).
        Id3Fixture fx;
        parseLeadingTag(fx, "atl-id3v2.3_UTF16-2pictures.mp3");
        EXPECT_EQ(str(fx.tag.title), "aa父bb");
        ASSERT_EQ(fx.tag.picture_size, 4705);
        EXPECT_EQ(memcmp(fx.tag.picture, "\xFF\xD8", 2), 0);
    }
    {
        // Unsynchronised frames with data length indicators.
        Id3Fixture fx;
        parseLeadingTag(fx, "atl-ID3v2.4-unsync-datalen-frames.mp3");
        EXPECT_EQ(str(fx.tag.genre), "Trance");
        EXPECT_EQ(str(fx.tag.artist), "Ghetto Lee Lewis ft. Mae");
    }
    {
        Id3Fixture fx;
        parseLeadingTag(fx, "taglib-unsynch24.id3");
        EXPECT_EQ(str(fx.tag.title), "Hi");
    }
    {
        Id3Fixture fx;
        parseLeadingTag(fx, "taglib-unsynch.id3");
        EXPECT_EQ(str(fx.tag.title), "My babe just cares for me");
        EXPECT_EQ(str(fx.tag.artist), "Nina Simone");
    }
    {
        // Bad flags on some frames do not stop the others.
        Id3Fixture fx;
        parseLeadingTag(fx, "taglib-broken-tenc.id3");
        EXPECT_EQ(str(fx.tag.title), "Take On Me");
        EXPECT_EQ(str(fx.tag.artist), "A Ha");
        EXPECT_EQ(str(fx.tag.album), "1985");
        EXPECT_EQ(str(fx.tag.genre), "80s");
    }
    {
        Id3Fixture fx;
        parseLeadingTag(fx, "music-metadata-bug-non-ascii-chars.mp3");
        EXPECT_EQ(str(fx.tag.genre), "Rock");
        EXPECT_EQ(str(fx.tag.artist).substr(0, 14), "Janelle Mon\xC3\xA1" "e");
        EXPECT_EQ(str(fx.tag.comment), "www.NewAlbumReleases.net");
    }
    {
        Id3Fixture fx;
        parseLeadingTag(fx, "music-metadata-bug-utf16bom-encoding.mp3");
        EXPECT_EQ(str(fx.tag.title), "It's All Over You Know");
        EXPECT_EQ(fx.tag.year, 2007);
    }
    {
        // Version 2.2 pictures of type "other" are not covers; UTF-16 texts with marks.
        Id3Fixture fx;
        parseLeadingTag(fx, "atl-ID3v2.2-3-pictures.mp3");
        EXPECT_EQ(fx.tag.picture, nullptr);
        EXPECT_EQ(str(fx.tag.genre), "House");
        Id3Fixture utf;
        parseLeadingTag(utf, "atl-ID3v2.2-UTF16.mp3");
        EXPECT_EQ(str(utf.tag.title), "bébé");
    }
    {
        Id3Fixture fx;
        parseLeadingTag(fx, "rust-id3-github-issue-60.id3");   // TCON "(255)"
        EXPECT_EQ(fx.tag.genre, nullptr);
        EXPECT_EQ(str(fx.tag.title), "Elevator Music Attempt #1");
    }
    {
        Id3Fixture fx;
        parseLeadingTag(fx, "taglib-extended-header.mp3");
        EXPECT_EQ(str(fx.tag.genre), "Folk/Power Metal");
    }
    {
        // Compressed frames are skipped without harm.
        Id3Fixture fx;
        parseLeadingTag(fx, "id3lib-ozzy.tag");
        EXPECT_EQ(fx.tag.picture, nullptr);
        EXPECT_EQ(str(fx.tag.title), "Bark At The Moon");
        EXPECT_EQ(fx.tag.year, 1983);
    }
    {
        const Bytes v1 = readFile(fixturesDir() + "/id3/rust-id3-id3v1.id3");
        LMTag tag{};
        ASSERT_EQ(LMTagParseId3v1(&tag, v1.data(), v1.size()), 1);
        EXPECT_STREQ(tag.title, "Title");
        EXPECT_STREQ(tag.genre, "Trance");
        LMTagClear(&tag);
    }
}

TEST(Id3Fixtures, PicturesSurviveUnsynchronisation)
{
    LMTEST_REQUIRE_FIXTURES("aiff");
    // The same JPEG is stored plainly in one file and unsynchronised, behind a data
    // length indicator, in the ID3 chunk of another.
    Id3Fixture plain;
    parseLeadingTag(plain, "atl-id3v2.3_UTF16-2pictures.mp3");
    const Bytes aifc = readFile(fixturesDir() + "/aiff/atl-aifc_tagged.aif");
    const size_t at = std::string(aifc.begin(), aifc.end()).find("ID3 ");
    ASSERT_LT(at + 8, aifc.size());
    const size_t size = size_t(aifc[at + 4]) << 24 | aifc[at + 5] << 16 | aifc[at + 6] << 8 | aifc[at + 7];
    LMTag tag{};
    ASSERT_EQ(LMTagParseId3v2(&tag, aifc.data() + at + 8, size), 1);
    ASSERT_EQ(tag.picture_size, plain.tag.picture_size);
    EXPECT_EQ(memcmp(tag.picture, plain.tag.picture, size_t(tag.picture_size)), 0);
    EXPECT_EQ(str(tag.album), "Papa\xD6\x8Drules");
    LMTagClear(&tag);
}

TEST(PcmFixtures, DocumentedCases)
{
    LMTEST_REQUIRE_FIXTURES("wav");
    LMTEST_REQUIRE_FIXTURES("aiff");
    const std::string dir = fixturesDir();
    {
        // Odd data size with its pad byte, then bext, LIST and a version 2.4 "id3 " chunk.
        Opened o = openCapturing(dir + "/wav/atl-broadcastwave_bext_info.wav");
        ASSERT_NE(o.file, nullptr);
        EXPECT_EQ(o.file->bits_per_sample, 8u);
        EXPECT_EQ(readAll(o.file.get()).size(), 7119u);
        EXPECT_EQ(str(o.file->tag.title), "info.INAM");
        EXPECT_EQ(str(o.file->tag.comment), "info.ICMT");
        EXPECT_EQ(o.file->tag.year, 2018);
    }
    {
        // Streamed: the data size is unknown, the file tells the length.
        Opened o = openCapturing(dir + "/wav/music-metadata-ffmpeg-missing-chunksize.wav");
        ASSERT_NE(o.file, nullptr);
        const size_t bytes = readAll(o.file.get()).size();
        EXPECT_GT(bytes, 100000u);
        EXPECT_DOUBLE_EQ(o.file->duration, double(bytes / 4) / 44100);
    }
    for (const char *name : {"taglib-infloop.wav", "taglib-zero-size-chunk.wav", "music-metadata-issue-819.wav"}) {
        Opened o = openCapturing(dir + "/wav/" + name);
        ASSERT_NE(o.file, nullptr) << name;
        EXPECT_TRUE(o.checks.empty()) << name;
    }
    for (const char *name : {"hound/waveformatextensible-24bit-192kHz-mono.wav", "hound/pop.wav", "taglib-float64.wav",
                             "taglib-uint8we.wav"}) {
        Opened o = openCapturing(dir + "/wav/" + name);
        EXPECT_EQ(o.file, nullptr) << name;
        EXPECT_EQ(o.checks, std::vector<std::string>{"*FAILED* check: lm_wav_file.cpp:N: fmt.audioFormat == 1"});
    }
    {
        Opened o = openCapturing(dir + "/aiff/go-audio-sowt.aif");
        ASSERT_NE(o.file, nullptr);
        EXPECT_EQ(o.file->big_endian, 0);
        EXPECT_EQ(o.file->num_channels, 2u);
        EXPECT_DOUBLE_EQ(o.file->duration, 4064.0 / 44100);
    }
    {
        // The missing pad byte sends the walk off the chunks after SSND; what came
        // before is kept.
        Opened o = openCapturing(dir + "/aiff/go-audio-padded24b-missing-padbyte.aif");
        ASSERT_NE(o.file, nullptr);
        EXPECT_EQ(o.file->bits_per_sample, 24u);
        EXPECT_EQ(readAll(o.file.get()).size(), 68739u / 3 * 3);
    }
    for (const char *name : {"mcgill-Fnonull.aif", "mcgill-Porder.aif", "taglib-alaw.aifc"}) {
        Opened o = openCapturing(dir + "/aiff/" + name, LMAiffFileOpen);
        EXPECT_EQ(o.file, nullptr) << name;
        EXPECT_EQ(o.checks, std::vector<std::string>{"*FAILED* check: lm_aiff_file.cpp:N: IDEQU(comm.compression, \"NONE\")"});
    }
    {
        Opened o = openCapturing(dir + "/aiff/music-metadata-CWE-835-01.aiff");
        EXPECT_EQ(o.file, nullptr);
        EXPECT_EQ(o.checks, std::vector<std::string>{"*FAILED* check: lm_aiff_file.cpp:N: n <= hdr.size"});
    }
    {
        // A chunk one byte longer than its tag.
        Opened o = openCapturing(dir + "/aiff/toisto/tests/exported/audacity-i8-id3.aiff");
        ASSERT_NE(o.file, nullptr);
        EXPECT_EQ(str(o.file->tag.title), "AudacityTrackTitle");
        EXPECT_EQ(str(o.file->tag.comment), "Audacity Comment äö テスト 😀");
    }
}

} // namespace
