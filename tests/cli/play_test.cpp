// lumenar-cli play end to end: real files, real readers, the WAV and sound-server outputs.
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_audio_file.h"
#include "support/pulse_support.h"
#include "support/test_support.h"

namespace {

using lmtest::RunResult;

RunResult play(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {lmtest::cliPath(), "play"};
    argv.insert(argv.end(), args.begin(), args.end());
    return lmtest::run(argv);
}

// The PCM of a WAV file with the canonical 44-byte header (as the WAV outputs write).
std::vector<uint8_t> wavData(const std::string &path, uint32_t *rate = nullptr)
{
    std::vector<uint8_t> f = lmtest::readFile(path);
    if (f.size() < 44)
        return {};
    if (rate)
        *rate = uint32_t(f[24]) | uint32_t(f[25]) << 8 | uint32_t(f[26]) << 16 | uint32_t(f[27]) << 24;
    const uint32_t size = uint32_t(f[40]) | uint32_t(f[41]) << 8 | uint32_t(f[42]) << 16 | uint32_t(f[43]) << 24;
    return std::vector<uint8_t>(f.begin() + 44, f.begin() + 44 + std::min<size_t>(size, f.size() - 44));
}

// "event N state S" lines, without position events.
std::vector<std::string> eventLines(const std::string &out)
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("event ", 0) == 0 && line.rfind("event 0 ", 0) != 0)
            lines.push_back(line.substr(0, line.find(" time ")));
    return lines;
}

int countLines(const std::vector<std::string> &lines, const std::string &prefix)
{
    int n = 0;
    for (const std::string &l : lines)
        n += l.rfind(prefix, 0) == 0;
    return n;
}

TEST(PlayCommand, RefusesBadArgumentsAndUnreadableFiles)
{
    lmtest::TempDir dir;
    EXPECT_EQ(play({}).status, 2);
    EXPECT_EQ(play({"a.wav", "--audio", "speakers"}).status, 2);
    EXPECT_EQ(play({"a.wav", "--audio"}).status, 2);
    EXPECT_EQ(play({"a.wav", "--volume", "1.5"}).status, 2);
    EXPECT_EQ(play({"a.wav", "--volume", "loud"}).status, 2);
    EXPECT_EQ(play({"a.wav", "--seek", "-3"}).status, 2);
    EXPECT_EQ(play({"a.wav", "--shuffle"}).status, 2);

    lmtest::writeFile(dir.file("noise.wav"), std::string(1000, 'x'));
    RunResult r = play({dir.file("missing.flac"), dir.file("noise.wav"), dir.file("notes.txt"), "--audio", "null"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open " + dir.file("missing.flac")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot open " + dir.file("noise.wav")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing could be opened"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST(PlayCommand, EqualFormatsBecomeOneStreamWithoutALostSample)
{
    lmtest::TempDir dir;
    const std::vector<uint8_t> a = lmtest::counterPcm16(44100 + 777, 2, 0);
    const std::vector<uint8_t> b = lmtest::counterPcm16(30011, 2, 4321);
    lmtest::writeWav(dir.file("a.wav"), 44100, 2, 16, a);
    lmtest::writeWav(dir.file("b.wav"), 44100, 2, 16, b);
    RunResult r = play({dir.file("a.wav"), dir.file("b.wav"), "--audio", "wav-fast:" + dir.file("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    const std::vector<uint8_t> out = wavData(dir.file("out.wav"));
    ASSERT_EQ(out.size(), ab.size());
    EXPECT_TRUE(out == ab);

    const std::vector<std::string> ev = eventLines(r.out);
    ASSERT_GE(ev.size(), 4u) << r.out;
    EXPECT_EQ(ev.front(), "event 3 state 1");
    EXPECT_EQ(countLines(ev, "event 1 "), 2) << r.out;   // play-file, then the gapless hand-over
    EXPECT_EQ(countLines(ev, "event 4 state 3"), 1) << r.out;
    EXPECT_EQ(ev.back(), "event 2 state 2");
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << "progress line on a pipe";
}

TEST(PlayCommand, FlacFilesJoinWithoutALostSample)
{
    LMTEST_REQUIRE_TOOL("flac");
    lmtest::TempDir dir;
    const std::vector<uint8_t> a = lmtest::counterPcm16(44100 * 2 + 1234, 2, 0);
    const std::vector<uint8_t> b = lmtest::counterPcm16(44100 + 99, 2, 777);
    lmtest::writeWav(dir.file("a.wav"), 44100, 2, 16, a);
    lmtest::writeWav(dir.file("b.wav"), 44100, 2, 16, b);
    for (const char *n : {"a", "b"})
        ASSERT_EQ(lmtest::run({"flac", "-s", "-f", "-o", dir.file(std::string(n) + ".flac"),
                               dir.file(std::string(n) + ".wav")}).status, 0);
    RunResult r = play({dir.file("a.flac"), dir.file("b.flac"), "--audio", "wav-fast:" + dir.file("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    const std::vector<uint8_t> out = wavData(dir.file("out.wav"));
    ASSERT_EQ(out.size(), ab.size());
    EXPECT_TRUE(out == ab);
    EXPECT_EQ(countLines(eventLines(r.out), "event 1 "), 2) << r.out;
}

TEST(PlayCommand, DifferentRatesPlayOneAfterTheOther)
{
    lmtest::TempDir dir;
    const std::vector<uint8_t> a = lmtest::counterPcm16(22050, 2, 0);
    const std::vector<uint8_t> b = lmtest::counterPcm16(24000, 2, 1);
    lmtest::writeWav(dir.file("a.wav"), 44100, 2, 16, a);
    lmtest::writeWav(dir.file("b.wav"), 48000, 2, 16, b);
    RunResult r = play({dir.file("a.wav"), dir.file("b.wav"), "--audio", "wav-fast:" + dir.file("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    uint32_t rate1 = 0, rate2 = 0;
    EXPECT_TRUE(wavData(dir.file("out.wav"), &rate1) == a);
    EXPECT_TRUE(wavData(dir.file("out.2.wav"), &rate2) == b);
    EXPECT_EQ(rate1, 44100u);
    EXPECT_EQ(rate2, 48000u);
    const std::vector<std::string> ev = eventLines(r.out);
    EXPECT_EQ(countLines(ev, "event 4 state 3"), 2) << r.out;
    EXPECT_EQ(countLines(ev, "event 1 "), 2) << r.out;
}

TEST(PlayCommand, SeekStartsTheFirstFileLater)
{
    lmtest::TempDir dir;
    const std::vector<uint8_t> a = lmtest::counterPcm16(88200, 2, 0);
    lmtest::writeWav(dir.file("a.wav"), 44100, 2, 16, a);
    RunResult r = play({dir.file("a.wav"), "--seek", "1.5", "--volume", "0.5", "--audio",
                        "wav-fast:" + dir.file("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> out = wavData(dir.file("out.wav"));
    EXPECT_TRUE(out == std::vector<uint8_t>(a.begin() + 66150 * 4, a.end()));
}

TEST(PlayCommand, WithoutASoundServerTheDefaultOutputFallsBackToSilence)
{
    lmtest::TempDir dir;
    lmtest::writeWav(dir.file("a.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 0.2));
    lmtest::ScopedEnv server("PULSE_SERVER", "unix:" + dir.file("no-such-socket"));
    lmtest::ScopedEnv audio("LUMENAR_AUDIO", "");
    RunResult r = play({dir.file("a.wav")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("playing silently"), std::string::npos) << r.err;

    r = play({dir.file("a.wav"), "--audio", "pulse"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("could not be started"), std::string::npos) << r.err;
}

TEST(PlayCommand, PlaysThroughTheSoundServer)
{
    LMTEST_REQUIRE_PULSE();
    lmtest::TempDir dir;
    lmtest::PrivateSink sink;
    ASSERT_TRUE(sink.ok());
    // Long enough for the track player to queue the second before the first ends.
    lmtest::writeWav(dir.file("a.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 1.5, 1000));
    lmtest::writeWav(dir.file("b.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 1.5, 1000));
    lmtest::MonitorRecording rec(sink, dir.file("rec.raw"));
    ASSERT_TRUE(rec.waitStarted());
    RunResult r = play({dir.file("a.wav"), dir.file("b.wav"), "--audio", "pulse"});
    rec.waitForQuietAfter(2.9, 0.1);
    const std::vector<float> s = rec.stop();
    ASSERT_EQ(r.status, 0) << r.err;
    const auto loud = lmtest::loudStretches(s, 0.1);
    ASSERT_EQ(loud.size(), 1u) << "the two files should sound as one tone";
    EXPECT_NEAR(loud[0].second - loud[0].first, 3.0, 0.1);
}

// Compressed files go through the packet decoder inside the output queue.
void checkCompressed(const std::string &ext, const std::vector<std::string> &codec)
{
    LMTEST_REQUIRE_TOOL("ffmpeg");
    lmtest::TempDir dir;
    const std::string src = dir.file("tone." + ext);
    std::vector<std::string> make = {"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                     "sine=frequency=1000:sample_rate=44100:duration=2", "-ac", "2"};
    make.insert(make.end(), codec.begin(), codec.end());
    make.push_back(src);
    ASSERT_EQ(lmtest::run(make).status, 0);
    RunResult r = play({src, "--audio", "wav:" + dir.file("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    uint32_t rate = 0;
    const std::vector<uint8_t> out = wavData(dir.file("out.wav"), &rate);
    ASSERT_EQ(rate, 44100u);
    // The queue plays the recording: the encoder's priming and padding are trimmed.
    EXPECT_EQ(out.size() / 4, 88200u) << ext;
    std::vector<float> left;
    for (size_t i = 0; i + 3 < out.size(); i += 4)
        left.push_back(float(int16_t(uint16_t(out[i] | out[i + 1] << 8))) / 32768.0f);
    EXPECT_NEAR(lmtest::crossingFrequency(left, 0.2, 1.8), 1000.0, 5.0) << ext;
    // ffmpeg's sine is 1/8 of full scale, spread over two channels at -3 dB: RMS 0.0625.
    EXPECT_NEAR(lmtest::rms(left, 0.2, 1.8), 0.0625, 0.01) << ext;
}

TEST(PlayCommand, Mp3PlaysThroughTheCompressedPath)
{
    checkCompressed("mp3", {"-c:a", "libmp3lame", "-b:a", "192k"});
}

TEST(PlayCommand, M4aPlaysThroughTheCompressedPath)
{
    checkCompressed("m4a", {"-c:a", "aac", "-b:a", "160k"});
}

} // namespace
