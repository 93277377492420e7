#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "engine/lm_file.h"
#include "support/audio_builders.h"
#include "support/codec_support.h"
#include "support/test_support.h"

namespace {

using lmtest::readAll;

namespace fs = std::filesystem;

std::string apeDir()
{
    return lmtest::fixturesDir() + "/ape/";
}

// 8-bit PCM (unsigned, as the reader delivers it) widened as the reference tool does.
std::vector<uint8_t> widen8(const std::vector<uint8_t> &pcm)
{
    std::vector<uint8_t> out;
    for (uint8_t v : pcm) {
        uint16_t s = uint16_t((v - 128) << 8);
        out.push_back(uint8_t(s));
        out.push_back(uint8_t(s >> 8));
    }
    return out;
}

TEST(ApeReader, PcmMatchesTheReferenceDigests)
{
    LMTEST_REQUIRE_FIXTURES("ape");
    struct Expected {
        const char *file;
        uint32_t rate, channels, bits;
        size_t frames;
        const char *md5;
    };
    const Expected all[] = {
        {"atl-8bit-mono-22050.ape", 22050, 1, 8, 7119, "5939a3335482e3000dc5e36a05f0d193"},
        {"lofty-full_test-id3v2-prefix.ape", 48000, 2, 16, 68546, "9bc68f3998580b2684a3dcbf5da19b84"},
        {"taglib-mac-396.ape", 44100, 2, 16, 162496, "a1b141f766e9849ac3db1030a20a3c77"},
        {"taglib-mac-399.ape", 44100, 2, 16, 156556, "cfe3d9dabadeab2cbf2ca235274b7f76"},
        {"taglib-mac-399-id3v2.ape", 44100, 2, 16, 156556, "cfe3d9dabadeab2cbf2ca235274b7f76"},
        {"taglib-mac-399-tagged.ape", 44100, 2, 16, 156556, "cfe3d9dabadeab2cbf2ca235274b7f76"},
    };
    for (const Expected &e : all) {
        LMFile *f = LMFileOpen((apeDir() + e.file).c_str());
        ASSERT_NE(f, nullptr) << e.file;
        EXPECT_EQ(f->type, LMFileTypeApe);
        EXPECT_EQ(f->sample_rate, e.rate) << e.file;
        EXPECT_EQ(f->num_channels, e.channels) << e.file;
        EXPECT_EQ(f->bits_per_sample, e.bits) << e.file;
        EXPECT_EQ(f->block_size, e.channels * e.bits / 8) << e.file;
        EXPECT_EQ(f->big_endian, 0);
        EXPECT_NEAR(f->duration, double(e.frames) / e.rate, 0.001) << e.file;
        EXPECT_TRUE(LMTagIsEmpty(&f->tag)) << e.file;   // APE and ID3 tags are not read
        std::vector<uint8_t> pcm = readAll(f, 65536);
        EXPECT_EQ(pcm.size(), e.frames * f->block_size) << e.file;
        EXPECT_EQ(lmtest::md5Hex(e.bits == 8 ? widen8(pcm) : pcm), e.md5) << e.file;
        EXPECT_LE(LMFileTell(f), f->duration);
        LMFileClose(f);
    }
}

TEST(ApeReader, PcmEqualsTheSameAudioDecodedFromFlac)
{
    LMTEST_REQUIRE_FIXTURES("ape/ref");
    // Independent ground truth: the same recordings decoded by libFLAC through our reader.
    const std::pair<const char *, const char *> pairs[] = {
        {"taglib-mac-399.ape", "ref/taglib-sinewave.flac"},
        {"taglib-mac-396.ape", "ref/taglib-no-tags.flac"},
    };
    for (const auto &[ape, flac] : pairs) {
        LMFile *a = LMFileOpen((apeDir() + ape).c_str());
        LMFile *f = LMFileOpen((apeDir() + flac).c_str());
        ASSERT_NE(a, nullptr) << ape;
        ASSERT_NE(f, nullptr) << flac;
        const std::vector<uint8_t> fromApe = readAll(a, 65536), fromFlac = readAll(f, int(f->block_size * 2));
        EXPECT_FALSE(fromApe.empty());
        EXPECT_TRUE(fromApe == fromFlac) << ape;
        LMFileClose(a);
        LMFileClose(f);
    }
}

TEST(ApeReader, LengthInWholeMillisecondsAndWholeFrameReads)
{
    LMTEST_REQUIRE_FIXTURES("ape");
    LMFile *f = LMFileOpen((apeDir() + "taglib-mac-399.ape").c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_DOUBLE_EQ(f->duration, 3.55);   // whole milliseconds / 1000
    std::vector<uint8_t> buffer(65536);
    EXPECT_EQ(LMFileRead(f, buffer.data(), 65535), 65532);   // whole frames only
    EXPECT_EQ(LMFileRead(f, buffer.data(), 3), 0);
    size_t total = 65532;
    int n;
    while ((n = LMFileRead(f, buffer.data(), 65536)) == 65536)
        total += size_t(n);
    total += size_t(n);
    EXPECT_GT(n, 0);
    EXPECT_LT(n, 65536);
    EXPECT_EQ(total, 156556u * 4);
    EXPECT_EQ(LMFileRead(f, buffer.data(), 65536), 0);
    EXPECT_EQ(LMFileRead(f, buffer.data(), 65536), 0);
    LMFileClose(f);
}

TEST(ApeReader, SeekIsExactAndTellNeverPassesTheEnd)
{
    LMTEST_REQUIRE_FIXTURES("ape");
    const std::string path = apeDir() + "taglib-mac-399.ape";
    LMFile *f = LMFileOpen(path.c_str());
    ASSERT_NE(f, nullptr);
    const std::vector<uint8_t> all = readAll(f, 40000);
    const uint64_t total = uint64_t(3.55 * 44100);
    for (double t : {1.0, 0.25, 3.2, 0.0}) {
        LMFileSeek(f, t);
        const uint64_t frame = uint64_t(t / 3.55 * double(total));
        EXPECT_NEAR(LMFileTell(f), double(frame) / double(total) * 3.55, 1e-9);
        std::vector<uint8_t> rest = readAll(f, 4096);
        ASSERT_EQ(rest.size(), all.size() - frame * 4) << t;
        EXPECT_TRUE(rest == std::vector<uint8_t>(all.begin() + std::ptrdiff_t(frame * 4), all.end())) << t;
        EXPECT_DOUBLE_EQ(LMFileTell(f), f->duration);
    }
    LMFileSeek(f, 1e9);
    EXPECT_DOUBLE_EQ(LMFileTell(f), f->duration);
    LMFileSeek(f, -1);
    EXPECT_EQ(readAll(f, 4096), all);
    LMFileClose(f);
}

TEST(ApeReader, BrokenFilesAreRefusedOrEndEarly)
{
    LMTEST_REQUIRE_FIXTURES("ape");
    for (const char *name : {"lofty-no-tags-0frames.ape", "lofty-zero.ape", "taglib-longloop.ape", "taglib-zerodiv.ape"}) {
        LMFile *f = nullptr;
        std::string err = lmtest::captureStderr([&] { f = LMFileOpen((apeDir() + name).c_str()); });
        EXPECT_EQ(f, nullptr) << name;
        EXPECT_TRUE(lmtest::isCheckLine(err, "lm_ape_file.cpp", "af->decoder != 0"))
            << name << ": " << err;
    }
    // A header without its audio: it opens with its stated length and yields nothing.
    LMFile *f = LMFileOpen((apeDir() + "taglib-mac-390-hdr.ape").c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_NEAR(f->duration, 15.63, 0.01);
    EXPECT_EQ(readAll(f, 4096).size(), 0u);
    LMFileClose(f);
}

TEST(ApeReader, OpensPathsWithAnyCharacters)
{
    LMTEST_REQUIRE_FIXTURES("ape");
    lmtest::TempDir dir;
    // UTF-8 with characters beyond the first plane, and bytes that are not UTF-8 at all.
    for (const std::string name : {"Ünïcødé – 曲 🎵.ape", "caf\xe9\xff.APE"}) {
        fs::copy_file(apeDir() + "taglib-mac-396.ape", dir.file(name));
        LMFile *f = LMFileOpen(dir.file(name).c_str());
        ASSERT_NE(f, nullptr) << name;
        EXPECT_EQ(readAll(f, 65536).size(), 162496u * 4);
        LMFileClose(f);
    }
}

// The fixtures' README lists what a reference decoder makes of each file: exactly the
// files whose format it reads open (none hangs or crashes), and those it decodes yield
// every frame it counts, while a header without its audio yields nothing.
TEST(ApeReader, ExactlyTheFixturesWithAFormatOpenAndTheDecodableOnesYieldEveryFrame)
{
    LMTEST_REQUIRE_FIXTURES("ape");
    struct Listed {
        bool format, decodes;
        uint64_t frames;
    };
    std::map<std::string, Listed> listed;
    std::istringstream readme(lmtest::readText(lmtest::fixturesDir() + "/README.md"));
    const std::regex row(R"(^\| `ape/([^/`]+\.ape)` \| [0-9]+ \| ([^|]*)\| (decodes|fails)\b)");
    const std::regex frames(R"(([0-9]+) frames)");
    std::string line;
    std::smatch m, f;
    while (std::getline(readme, line)) {
        if (!std::regex_search(line, m, row))
            continue;
        const std::string format = m[2];
        const bool known = std::regex_search(format, f, frames);
        listed[m[1]] = {known, m[3] == "decodes", known ? std::stoull(f[1]) : 0};
    }
    std::set<std::string> present, opened, expected;
    for (const auto &[name, l] : listed)
        if (l.format)
            expected.insert(name);
    ASSERT_FALSE(expected.empty()) << "no decode results found in the fixtures' README";

    for (const auto &entry : fs::directory_iterator(apeDir())) {
        if (entry.path().extension() != ".ape")
            continue;
        const std::string name = entry.path().filename().string();
        present.insert(name);
        LMFile *file = nullptr;
        lmtest::captureStderr([&] { file = LMFileOpen(entry.path().c_str()); });
        if (file == nullptr)
            continue;
        opened.insert(name);
        const uint64_t got = readAll(file, 65536).size() / file->block_size;
        auto l = listed.find(name);
        if (l != listed.end()) {
            EXPECT_EQ(got, l->second.decodes ? l->second.frames : 0) << name;
        }
        LMFileSeek(file, file->duration / 3);
        readAll(file, 1000);
        LMFileClose(file);
    }
    std::set<std::string> names;
    for (const auto &[name, l] : listed)
        names.insert(name);
    EXPECT_EQ(present, names) << "every fixture has its result in the README";
    EXPECT_EQ(opened, expected);
}

} // namespace
