// lumenar-cli probe: one JSON line per file, run as a user would run it.
#include "support/audio_builders.h"
#include "support/test_support.h"

using namespace lmtest;

namespace {

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    size_t start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

Bytes taggedWav()
{
    const Bytes comm = {0, 'e', 'n', 'g', 'd', 0, 'l', 'i', 'n', 'e', '"', '\\'};
    const Bytes pic = bytesOf(std::string("\0image/png\0\3\0", 13)) + Bytes{1, 2, 3, 4, 5};
    auto text = [](const std::string &s) { return Bytes{0} + bytesOf(s); };
    const Bytes frames = id3Frame(3, "TIT2", {1, 0xFF, 0xFE, 'T', 0, 0xE9, 0}) + id3Frame(3, "TPE1", text("Art")) +
                         id3Frame(3, "TCON", text("(13)")) + id3Frame(3, "TYER", text("2001")) +
                         id3Frame(3, "TRCK", text("9")) + id3Frame(3, "COMM", comm) + id3Frame(3, "COMM", comm) +
                         id3Frame(3, "APIC", pic);
    return wavFile(2, 44100, 16, tonePcm(44100, 2, 16, 0.5), {{"id3 ", id3Tag(3, frames)}});
}

TEST(Probe, PrintsFormatAndTagOfEachFile)
{
    TempDir dir;
    writeFile(dir.file("t.wav"), taggedWav());
    writeFile(dir.file("s.aif"), riffFile("FORM", "AIFF", {{"COMM", aiffComm(1, 12000, 24, 48000)},
                                                           {"SSND", aiffSsnd(toneBigEndian(48000, 1, 24, 0.25))}}));
    RunResult r = run({cliPath(), "probe", dir.file("t.wav"), dir.file("s.aif")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(lines(r.out), (std::vector<std::string>{
        "{\"path\":\"" + dir.file("t.wav") + "\",\"type\":3,\"num_channels\":2,\"bits_per_sample\":16,"
        "\"sample_rate\":44100,\"block_size\":4,\"big_endian\":0,\"duration\":0.5,"
        "\"tag\":{\"title\":\"T\xC3\xA9\",\"artist\":\"Art\",\"album\":null,"
        "\"comment\":\"d=line\\\"\\\\;\\u000ad=line\\\"\\\\\",\"genre\":\"Pop\",\"year\":2001,\"track\":9,"
        "\"picture_size\":5,\"cuesheet\":null}}",
        "{\"path\":\"" + dir.file("s.aif") + "\",\"type\":4,\"num_channels\":1,\"bits_per_sample\":24,"
        "\"sample_rate\":48000,\"block_size\":3,\"big_endian\":1,\"duration\":0.25,"
        "\"tag\":{\"title\":null,\"artist\":null,\"album\":null,\"comment\":null,\"genre\":null,"
        "\"year\":0,\"track\":0,\"picture_size\":0,\"cuesheet\":null}}",
    }));
}

TEST(Probe, FilesThatDoNotOpenAreReportedAndFailTheRun)
{
    TempDir dir;
    writeFile(dir.file("good.wav"), wavFile(1, 8000, 16, tonePcm(8000, 1, 16, 0.1)));
    writeFile(dir.file("float.wav"), riffFile("RIFF", "WAVE", {{"fmt ", wavFmt(3, 1, 8000, 4, 32)},
                                                               {"data", Bytes(40, 0)}}));
    RunResult r = run({cliPath(), "probe", dir.file("float.wav"), dir.file("none.wav"),
                       dir.file("notes.txt"), dir.file("good.wav")});
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], "{\"path\":\"" + dir.file("float.wav") + "\",\"error\":\"cannot open\"}");
    EXPECT_EQ(out[1], "{\"path\":\"" + dir.file("none.wav") + "\",\"error\":\"cannot open\"}");
    EXPECT_EQ(out[2], "{\"path\":\"" + dir.file("notes.txt") + "\",\"error\":\"cannot open\"}");
    EXPECT_EQ(out[3].rfind("{\"path\":\"" + dir.file("good.wav") + "\",\"type\":3,", 0), 0u);
    // The readers' own lines go to standard error; an unknown extension writes none.
    EXPECT_EQ(failedChecks(r.err), (std::vector<std::string>{
        "*FAILED* check: lm_wav_file.cpp:N: fmt.audioFormat == 1",
        "*FAILED* check: lm_wav_file.cpp:N: wf->fp != NULL",
    }));

    RunResult ok = run({cliPath(), "probe", dir.file("good.wav")});
    EXPECT_EQ(ok.status, 0);
    RunResult usage = run({cliPath(), "probe"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.out, "");
}

TEST(Probe, PathsAreEscapedAndBytesOutsideUtf8PrintedAsLatin1)
{
    TempDir dir;
    const std::string name = std::string("a\"b\\c\x01\t\xE9 \xC3\xA9 \xE2\x82.wav");
    writeFile(dir.file(name), wavFile(1, 8000, 8, tonePcm(8000, 1, 8, 0.1)));
    RunResult r = run({cliPath(), "probe", dir.file(name)});
    EXPECT_EQ(r.status, 0);
    const std::string expected = "{\"path\":\"" + dir.path() +
                                 "/a\\\"b\\\\c\\u0001\\u0009\xC3\xA9 \xC3\xA9 \xC3\xA2\xC2\x82.wav\",";
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);
}

} // namespace
