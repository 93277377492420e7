// MP3 and AAC played without the encoders' priming and padding: `play` gives exactly the
// frames `decode` gives, and tracks cut from one recording play back as that recording.
#include <cmath>
#include <string>
#include <vector>

#include "support/codec_support.h"
#include "support/test_support.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr double kTone = 997.0;   // joins fall on no particular phase

struct Codec {
    const char *ext;
    std::vector<std::string> args;
};

const Codec kMp3{"mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}};
const Codec kAac{"m4a", {"-c:a", "aac", "-b:a", "192k"}};

// The PCM of a WAV file with the canonical 44-byte header (as the WAV outputs write).
std::vector<uint8_t> wavBody(const std::string &path)
{
    std::vector<uint8_t> f = lmtest::readFile(path);
    return f.size() < 44 ? std::vector<uint8_t>() : std::vector<uint8_t>(f.begin() + 44, f.end());
}

std::vector<uint8_t> decoded(const std::string &path, const std::string &out)
{
    const lmtest::RunResult r = lmtest::run({lmtest::cliPath(), "decode", path, "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    return lmtest::readFile(out);
}

lmtest::RunResult play(const std::vector<std::string> &files, const std::string &out)
{
    std::vector<std::string> argv = {lmtest::cliPath(), "play"};
    argv.insert(argv.end(), files.begin(), files.end());
    argv.insert(argv.end(), {"--audio", "wav-fast:" + out});
    return lmtest::run(argv);
}

int countLines(const std::string &out, const std::string &prefix)
{
    int n = 0;
    for (size_t at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at + 1))
        n += at == 0 || out[at - 1] == '\n';
    return n;
}

// Stereo 16-bit PCM of frames [from, to) of one endless tone, half of full scale.
std::vector<uint8_t> toneFrames(int64_t from, int64_t to)
{
    std::vector<uint8_t> pcm;
    pcm.reserve(size_t(to - from) * 4);
    for (int64_t n = from; n < to; n++) {
        const int16_t v = int16_t(std::lround(16383.0 * std::sin(2 * M_PI * kTone * double(n) / kRate)));
        for (int ch = 0; ch < 2; ch++) {
            pcm.push_back(uint8_t(v));
            pcm.push_back(uint8_t(uint16_t(v) >> 8));
        }
    }
    return pcm;
}

// Where the left channel crosses zero, in frames, interpolated between samples.
std::vector<double> zeroCrossings(const std::vector<uint8_t> &pcm)
{
    std::vector<double> at;
    double previous = 0;
    for (size_t i = 0; i + 3 < pcm.size(); i += 4) {
        const double s = double(int16_t(uint16_t(pcm[i] | pcm[i + 1] << 8)));
        if (i > 0 && ((previous < 0 && s >= 0) || (previous >= 0 && s < 0)))
            at.push_back(double(i / 4) - 1 + previous / (previous - s));
        previous = s;
    }
    return at;
}

void checkOneFile(const Codec &codec)
{
    LMTEST_REQUIRE_TOOL("ffmpeg");
    lmtest::TempDir dir;
    const std::string src = dir.file(std::string("a.") + codec.ext);
    ASSERT_TRUE(lmtest::ffmpegTone(src, codec.args, 2.5));
    const lmtest::RunResult r = play({src}, dir.file("out.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> heard = wavBody(dir.file("out.wav"));
    EXPECT_EQ(heard.size(), size_t(2.5 * kRate) * 4) << codec.ext;
    EXPECT_TRUE(heard == decoded(src, dir.file("out.raw"))) << codec.ext;
}

TEST(LossyGapless, PlayGivesTheFramesDecodeGivesMp3)
{
    checkOneFile(kMp3);
}

TEST(LossyGapless, PlayGivesTheFramesDecodeGivesAac)
{
    checkOneFile(kAac);
}

// One tone cut into three tracks, each encoded on its own. The cuts lie on quarter
// seconds: ffmpeg's AAC writer rounds the length it states through microseconds.
void checkTracksOfOneTone(const Codec &codec)
{
    LMTEST_REQUIRE_TOOL("ffmpeg");
    lmtest::TempDir dir;
    const int64_t cuts[] = {0, 66150, 143325, 209475};
    std::vector<std::string> tracks;
    std::vector<uint8_t> separately;   // each track decoded on its own, one after the other
    for (int i = 0; i < 3; i++) {
        const std::string wav = dir.file("t" + std::to_string(i) + ".wav");
        const std::string track = dir.file("t" + std::to_string(i) + "." + codec.ext);
        lmtest::writeWav(wav, kRate, 2, 16, toneFrames(cuts[i], cuts[i + 1]));
        std::vector<std::string> args = {"-i", wav};
        args.insert(args.end(), codec.args.begin(), codec.args.end());
        args.push_back(track);
        ASSERT_TRUE(lmtest::ffmpeg(args));
        tracks.push_back(track);
        const std::vector<uint8_t> one = decoded(track, dir.file("one.raw"));
        ASSERT_EQ(int64_t(one.size() / 4), cuts[i + 1] - cuts[i]) << track << ": the file's gapless data is off";
        separately.insert(separately.end(), one.begin(), one.end());
    }

    const lmtest::RunResult r = play(tracks, dir.file("out.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    // One output, handed over twice without an end between (the WAV output would hide a
    // pause between separate outputs).
    EXPECT_EQ(countLines(r.out, "event 1 "), 3) << r.out;
    EXPECT_EQ(countLines(r.out, "event 4 "), 1) << r.out;
    const std::vector<uint8_t> heard = wavBody(dir.file("out.wav"));
    ASSERT_EQ(int64_t(heard.size() / 4), cuts[3]) << codec.ext << ": the recording's length, to the frame";
    // Each track decodes as it would on its own: the decoder starts afresh at every join.
    EXPECT_TRUE(heard == separately) << codec.ext;

    // No gap and no jump of phase: the crossings stay half a period apart, and on the
    // original tone's grid. The encoders' noise moves single crossings near a track's
    // ends by up to about a frame (AAC); a track shifted by a frame moves all of them.
    const double half = kRate / (2 * kTone);
    const std::vector<double> at = zeroCrossings(heard);
    ASSERT_GT(at.size(), size_t(double(cuts[3]) / half) - 4);
    for (size_t i = 1; i < at.size(); i++)
        ASSERT_NEAR(at[i] - at[i - 1], half, 1.5) << codec.ext << ": crossing at frame " << at[i];
    for (int t = 0; t < 3; t++) {
        double sum = 0;
        int n = 0;
        for (double c : at) {
            if (c > double(cuts[t] + 2048) && c < double(cuts[t + 1] - 2048)) {
                sum += c - std::round(c / half) * half;
                n++;
            }
        }
        ASSERT_GT(n, 100);
        EXPECT_NEAR(sum / n, 0.0, 0.05) << codec.ext << ": track " << t + 1 << " is out of phase";
    }
}

TEST(LossyGapless, Mp3TracksOfOneTonePlayAsOneSignal)
{
    checkTracksOfOneTone(kMp3);
}

TEST(LossyGapless, AacTracksOfOneTonePlayAsOneSignal)
{
    checkTracksOfOneTone(kAac);
}

} // namespace
