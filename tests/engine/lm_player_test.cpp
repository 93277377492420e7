// The output engine against in-memory files and the WAV outputs, which record exactly
// what reached the device.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/lm_player.h"
#include "platform/audio_queue/audio_queue.h"
#include "support/fake_audio_file.h"
#include "support/test_support.h"

using lmtest::counterPcm16;
using lmtest::fakeFileOpen;
using lmtest::FakeFileOptions;

namespace {

struct Seen {
    LMPlayerEvent event;
    LMPlayerState state;
    double time;
    int64_t written;   // bytes in the output file when the event arrived
};

// Records every event; `react` may call the engine back.
struct Recorder {
    LMPlayer *player = LMPlayerCreate();
    std::string wavPath;
    std::vector<Seen> seen;
    std::function<void(LMPlayerEvent)> react;

    Recorder() { LMPlayerSetEventHandler(player, &Recorder::handle, this); }
    ~Recorder() { LMPlayerDispose(player); }

    static void handle(void *user, LMPlayerEvent event)
    {
        Recorder *r = static_cast<Recorder *>(user);
        r->seen.push_back({event, LMPlayerGetState(r->player), LMPlayerCurrentTime(r->player), r->written()});
        if (r->react)
            r->react(event);
    }

    int64_t written() const
    {
        if (wavPath.empty())
            return -1;
        std::vector<uint8_t> h = lmtest::readFile(wavPath);
        if (h.size() < 44)
            return 0;
        return int64_t(h[40]) | int64_t(h[41]) << 8 | int64_t(h[42]) << 16 | int64_t(h[43]) << 24;
    }

    // Events other than position events, in order.
    std::vector<int> changes(size_t from = 0) const
    {
        std::vector<int> out;
        for (size_t i = from; i < seen.size(); i++)
            if (seen[i].event != LMPlayerEventPosition)
                out.push_back(seen[i].event);
        return out;
    }

    int count(LMPlayerEvent e) const
    {
        int n = 0;
        for (const Seen &s : seen)
            n += s.event == e;
        return n;
    }

    // Index of the first event `e` at or after `from`, or -1.
    int find(LMPlayerEvent e, size_t from = 0) const
    {
        for (size_t i = from; i < seen.size(); i++)
            if (seen[i].event == e)
                return int(i);
        return -1;
    }

    // The end was reported and the queue then played out and stopped.
    bool drained(size_t from = 0) const
    {
        const int end = find(LMPlayerEventEnded, from);
        if (end < 0)
            return false;
        for (size_t i = size_t(end) + 1; i < seen.size(); i++)
            if (seen[i].event == LMPlayerEventPaused && seen[i].state == LMPlayerStatePaused)
                return true;
        return false;
    }
};

// The PCM of a WAV written by the output, after checking that its header agrees.
std::vector<uint8_t> wavData(const std::string &path, uint32_t *rate = nullptr, uint32_t *bits = nullptr)
{
    std::vector<uint8_t> f = lmtest::readFile(path);
    if (f.size() < 44 || memcmp(f.data(), "RIFF", 4) != 0 || memcmp(f.data() + 36, "data", 4) != 0) {
        ADD_FAILURE() << path << " is not a WAV file written by the output";
        return {};
    }
    const uint32_t size = uint32_t(f[40]) | uint32_t(f[41]) << 8 | uint32_t(f[42]) << 16 | uint32_t(f[43]) << 24;
    EXPECT_EQ(size_t(size) + 44 + (size & 1), f.size()) << path;
    if (rate)
        *rate = uint32_t(f[24]) | uint32_t(f[25]) << 8 | uint32_t(f[26]) << 16 | uint32_t(f[27]) << 24;
    if (bits)
        *bits = uint32_t(f[34]) | uint32_t(f[35]) << 8;
    return std::vector<uint8_t>(f.begin() + 44, f.begin() + 44 + std::min<size_t>(size, f.size() - 44));
}

class LMPlayerTest : public ::testing::Test {
protected:
    void SetUp() override { lmtest::ensureCoreApp(); }
    void TearDown() override { LMAudioOutputSelect(nullptr); }

    std::string useWav(const std::string &name, bool fast = true)
    {
        const std::string path = dir.file(name);
        EXPECT_TRUE(LMAudioOutputSelect(((fast ? "wav-fast:" : "wav:") + path).c_str()));
        return path;
    }

    lmtest::TempDir dir;
};

TEST_F(LMPlayerTest, JoinsEqualFormatsWithoutLosingOrAddingASample)
{
    Recorder r;
    r.wavPath = useWav("joined.wav");
    // Lengths that are not multiples of the buffer size, so one buffer holds both files.
    const std::vector<uint8_t> a = counterPcm16(57331, 2, 0);
    const std::vector<uint8_t> b = counterPcm16(30007, 2, 12345);
    LMFile *fa = fakeFileOpen(a);
    LMFile *fb = fakeFileOpen(b);
    LMPlayerPlayFile(r.player, fa);
    LMPlayerQueueFile(r.player, fb);
    ASSERT_TRUE(lmtest::spinUntil([&] { return r.drained(); }, 10000));

    const std::vector<int> changes = r.changes();
    ASSERT_GE(changes.size(), 2u);
    EXPECT_EQ(changes[0], LMPlayerEventPlaying);
    EXPECT_EQ(changes[1], LMPlayerEventFileChanged);
    const int join = r.find(LMPlayerEventFileChanged, size_t(r.find(LMPlayerEventFileChanged)) + 1);
    ASSERT_GE(join, 0) << "no gapless hand-over";
    EXPECT_EQ(r.count(LMPlayerEventFileChanged), 2);
    EXPECT_EQ(r.count(LMPlayerEventEnded), 1);
    EXPECT_LT(join, r.find(LMPlayerEventEnded));
    // The buffer completed from the second file is queued only after the event: the
    // first file's last bytes are not yet out when it arrives.
    EXPECT_LT(r.seen[join].written, int64_t(a.size()));
    EXPECT_EQ(LMPlayerCurrentFile(r.player), fb);

    LMPlayerDispose(r.player);
    r.player = nullptr;
    std::vector<uint8_t> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    const std::vector<uint8_t> out = wavData(r.wavPath);
    ASSERT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected) << "the joined stream differs from the two files";
}

// Readers may return less than asked before their end; only the real end hands over.
TEST_F(LMPlayerTest, ShortReadsBeforeTheEndAreNotTheEnd)
{
    Recorder r;
    r.wavPath = useWav("short.wav");
    FakeFileOptions shortReads;
    shortReads.maxRead = 49152;   // three quarters of a buffer, as a FLAC reader may give
    const std::vector<uint8_t> a = counterPcm16(50021, 2, 0);
    const std::vector<uint8_t> b = counterPcm16(40000, 2, 31);
    LMPlayerPlayFile(r.player, fakeFileOpen(a, shortReads));
    LMPlayerQueueFile(r.player, fakeFileOpen(b, shortReads));
    ASSERT_TRUE(lmtest::spinUntil([&] { return r.drained(); }, 10000));
    EXPECT_EQ(r.count(LMPlayerEventFileChanged), 2);
    LMPlayerDispose(r.player);
    r.player = nullptr;
    std::vector<uint8_t> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    const std::vector<uint8_t> out = wavData(r.wavPath);
    ASSERT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected);
}

TEST_F(LMPlayerTest, DifferentRatesAreNotJoinedAndTheNextFileStartsAfterTheEnd)
{
    Recorder r;
    r.wavPath = useWav("split.wav");
    const std::vector<uint8_t> a = counterPcm16(20000, 2, 0);
    const std::vector<uint8_t> b = counterPcm16(24000, 2, 999);
    LMFile *fa = fakeFileOpen(a);
    FakeFileOptions o48;
    o48.sampleRate = 48000;
    LMFile *fb = fakeFileOpen(b, o48);
    LMPlayerPlayFile(r.player, fa);
    LMPlayerQueueFile(r.player, fb);
    bool startedNext = false;
    r.react = [&](LMPlayerEvent e) {
        if (e == LMPlayerEventPaused && r.drained() && !startedNext) {
            startedNext = true;
            LMPlayerPlayFile(r.player, fb);
        }
    };
    ASSERT_TRUE(lmtest::spinUntil([&] { return startedNext; }, 10000));
    const int end = r.find(LMPlayerEventEnded);
    ASSERT_GE(end, 0);
    EXPECT_EQ(r.count(LMPlayerEventFileChanged), 2) << "one per play-file, no hand-over";
    EXPECT_EQ(LMPlayerCurrentFile(r.player), fb);
    ASSERT_TRUE(lmtest::spinUntil([&] { return r.drained(size_t(end) + 1); }, 10000));
    LMPlayerDispose(r.player);
    r.player = nullptr;

    uint32_t rate1 = 0, rate2 = 0;
    EXPECT_TRUE(wavData(r.wavPath, &rate1) == a);
    EXPECT_TRUE(wavData(dir.file("split.2.wav"), &rate2) == b);
    EXPECT_EQ(rate1, 44100u);
    EXPECT_EQ(rate2, 48000u);
}

// Files join only when the queue could take the second's bytes as they come: every
// field of the layout must agree, each case differing from a joinable pair in one.
TEST(LMPlayerJoin, OnlyFilesOfOneSampleLayoutJoin)
{
    struct Layout {
        LMFileType type;
        uint32_t rate, channels, bits;
        int32_t bigEndian;
    };
    const Layout wav16 = {LMFileTypeWav, 44100, 2, 16, 0};
    const Layout flac16 = {LMFileTypeFlac, 44100, 2, 16, 0};
    const Layout aiff16 = {LMFileTypeAiff, 44100, 2, 16, 1};
    const Layout aifcLittle16 = {LMFileTypeAiff, 44100, 2, 16, 0};   // "sowt": WAV's layout
    const Layout wav8 = {LMFileTypeWav, 44100, 1, 8, 0};             // unsigned
    const Layout ape8 = {LMFileTypeApe, 44100, 1, 8, 0};             // unsigned
    const Layout aiff8 = {LMFileTypeAiff, 44100, 1, 8, 1};           // signed
    const Layout aifcLittle8 = {LMFileTypeAiff, 44100, 1, 8, 0};     // signed
    struct Case {
        const char *what;
        Layout a, b;
        bool join;
    };
    auto with = [](Layout l, auto change) {
        change(l);
        return l;
    };
    const Case cases[] = {
        {"same layout", wav16, wav16, true},
        {"WAV and FLAC, same layout", wav16, flac16, true},
        {"WAV and little-endian AIFC", wav16, aifcLittle16, true},
        {"big-endian AIFFs", aiff16, aiff16, true},
        {"unsigned 8-bit WAV and APE", wav8, ape8, true},
        {"rate", wav16, with(wav16, [](Layout &l) { l.rate = 48000; }), false},
        {"channels", wav16, with(wav16, [](Layout &l) { l.channels = 1; }), false},
        {"bits", wav16, with(wav16, [](Layout &l) { l.bits = 24; }), false},
        {"byte order", wav16, aiff16, false},
        {"byte order, AIFF and AIFC", aiff16, aifcLittle16, false},
        {"sample sign", wav8, aifcLittle8, false},
        {"sample sign and byte order", wav8, aiff8, false},
        {"compressed first", with(wav16, [](Layout &l) { l.bits = 0; }), wav16, false},
        {"compressed second", wav16, with(wav16, [](Layout &l) { l.bits = 0; }), false},
        {"platform-service files", with(wav16, [](Layout &l) { l.type = LMFileTypeCoreAudio; }),
         with(wav16, [](Layout &l) { l.type = LMFileTypeCoreAudio; }), false},
    };
    auto file = [](const Layout &l) {
        LMFile f{};
        f.type = l.type;
        f.sample_rate = l.rate;
        f.num_channels = l.channels;
        f.bits_per_sample = l.bits;
        f.block_size = l.channels * (l.bits / 8);
        f.big_endian = l.bigEndian;
        return f;
    };
    for (const Case &c : cases) {
        const LMFile a = file(c.a), b = file(c.b);
        EXPECT_EQ(LMPlayerFilesJoin(&a, &b), c.join) << c.what;
        EXPECT_EQ(LMPlayerFilesJoin(&b, &a), c.join) << c.what << ", the other way round";
    }
    const LMFile a = file(wav16);
    EXPECT_FALSE(LMPlayerFilesJoin(&a, nullptr));
    EXPECT_FALSE(LMPlayerFilesJoin(nullptr, &a));
}

TEST_F(LMPlayerTest, BuffersFollowTheRateAndTheBlockSize)
{
    struct Case {
        LMFileType type;
        uint32_t rate, channels, bits, block;
        int request;
    };
    const Case cases[] = {
        {LMFileTypeWav, 44100, 2, 16, 0, 65536},          // 176400 B/s: the minimum
        {LMFileTypeFlac, 96000, 2, 24, 0, 144000},        // 576000 B/s: a quarter second
        {LMFileTypeWav, 48000, 2, 24, 0, 72000},
        {LMFileTypeFlac, 44100, 2, 16, 131072, 262144},   // two blocks
        {LMFileTypeWav, 44100, 1, 24, 0, 65535},          // whole blocks of 3 bytes
        {LMFileTypeWav, 8000, 1, 8, 0, 65536},
    };
    ASSERT_TRUE(LMAudioOutputSelect("null"));
    for (const Case &c : cases) {
        FakeFileOptions o;
        o.type = c.type;
        o.sampleRate = c.rate;
        o.channels = c.channels;
        o.bitsPerSample = c.bits;
        o.blockSize = c.block;
        lmtest::fakeFileReadRequests().clear();
        Recorder r;
        LMPlayerPlayFile(r.player, fakeFileOpen(std::vector<uint8_t>(size_t(c.request) * 4), o));
        const std::vector<int> &req = lmtest::fakeFileReadRequests();
        ASSERT_EQ(req.size(), 3u) << c.rate << "/" << c.bits;
        for (int n : req)
            EXPECT_EQ(n, c.request) << c.rate << " Hz " << c.bits << " bits block " << c.block;
        EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStatePlaying);
    }
}

// 8-bit WAV is unsigned, 8-bit AIFF signed, AIFF big-endian: what reaches the device
// (written as WAV: 8-bit unsigned, little-endian) shows whether the queue was told.
TEST_F(LMPlayerTest, SampleSignAndByteOrderReachTheQueue)
{
    std::vector<uint8_t> ramp8(4000);
    for (size_t i = 0; i < ramp8.size(); i++)
        ramp8[i] = uint8_t(i * 7);

    struct Case {
        const char *name;
        FakeFileOptions options;
        std::function<std::vector<uint8_t>(std::vector<uint8_t>)> expect;
    };
    FakeFileOptions wav8;
    wav8.channels = 1;
    wav8.bitsPerSample = 8;
    FakeFileOptions ape8 = wav8;
    ape8.type = LMFileTypeApe;
    FakeFileOptions aiff8 = wav8;
    aiff8.type = LMFileTypeAiff;
    aiff8.bigEndian = 1;
    FakeFileOptions aiff16;
    aiff16.type = LMFileTypeAiff;
    aiff16.bigEndian = 1;
    auto same = [](std::vector<uint8_t> v) { return v; };
    auto flip = [](std::vector<uint8_t> v) {
        for (uint8_t &x : v)
            x ^= 0x80;
        return v;
    };
    auto swap = [](std::vector<uint8_t> v) {
        for (size_t i = 0; i + 1 < v.size(); i += 2)
            std::swap(v[i], v[i + 1]);
        return v;
    };
    const Case cases[] = {
        {"wav8", wav8, same}, {"ape8", ape8, same}, {"aiff8", aiff8, flip}, {"aiff16", aiff16, swap}};
    for (const Case &c : cases) {
        Recorder r;
        r.wavPath = useWav(std::string(c.name) + ".wav");
        LMPlayerPlayFile(r.player, fakeFileOpen(ramp8, c.options));
        ASSERT_TRUE(lmtest::spinUntil([&] { return r.drained(); }, 10000)) << c.name;
        LMPlayerDispose(r.player);
        r.player = nullptr;
        uint32_t bits = 0;
        EXPECT_TRUE(wavData(r.wavPath, nullptr, &bits) == c.expect(ramp8)) << c.name;
        EXPECT_EQ(bits, c.options.bitsPerSample) << c.name;
    }
}

TEST_F(LMPlayerTest, SeekWhilePausedThenPlayRestartsThereAndThePausedBuffersAreNeverHeard)
{
    Recorder r;
    r.wavPath = useWav("seek.wav", false);   // real-time pace, so that pausing comes in time
    const uint32_t frame = 4;
    const std::vector<uint8_t> a = counterPcm16(44100 * 40, 2, 0);
    LMPlayerPlayFile(r.player, fakeFileOpen(a));
    ASSERT_TRUE(lmtest::spinUntil([&] { return r.written() >= 40000; }, 5000));
    LMPlayerPause(r.player);
    EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStatePaused);
    EXPECT_EQ(r.seen.back().event, LMPlayerEventPaused);
    lmtest::spinFor(200);
    const int64_t atPause = r.written();
    lmtest::spinFor(200);
    EXPECT_EQ(r.written(), atPause) << "output went on while paused";

    LMPlayerSeek(r.player, 30.0);
    EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStateIdle);
    const size_t before = r.seen.size();
    LMPlayerPlay(r.player);
    EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStatePlaying);
    ASSERT_FALSE(r.changes(before).empty());
    EXPECT_EQ(r.changes(before)[0], LMPlayerEventPlaying);
    ASSERT_TRUE(lmtest::spinUntil([&] { return r.written() >= atPause + 40000; }, 5000));
    LMPlayerDispose(r.player);
    r.player = nullptr;

    const std::vector<uint8_t> out = wavData(r.wavPath);
    ASSERT_GT(out.size(), size_t(atPause));
    // Continuous from 0 up to where the pause took effect, then straight from 30 s.
    size_t m = 0;
    while (m < out.size() && out[m] == a[m])
        m++;
    m -= m % frame;
    EXPECT_EQ(m, size_t(atPause));
    const size_t at30 = size_t(30 * 44100) * frame;
    ASSERT_LE(at30 + (out.size() - m), a.size());
    EXPECT_TRUE(std::equal(out.begin() + long(m), out.end(), a.begin() + long(at30)))
        << "after the seek the output does not continue at 30 s";
}

TEST_F(LMPlayerTest, PauseOutsidePlayingDoesNothing)
{
    ASSERT_TRUE(LMAudioOutputSelect("null"));
    Recorder r;
    LMPlayerPause(r.player);   // idle, no file
    EXPECT_TRUE(r.seen.empty());

    FakeFileOptions bad;
    bad.bitsPerSample = 12;   // no queue takes it
    LMPlayerPlayFile(r.player, fakeFileOpen(std::vector<uint8_t>(4000), bad));
    ASSERT_EQ(r.seen.size(), 2u);
    EXPECT_EQ(r.seen[0].event, LMPlayerEventError);
    EXPECT_EQ(r.seen[1].event, LMPlayerEventFileChanged);
    EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStateError);
    LMPlayerPause(r.player);
    LMPlayerPlay(r.player);   // nothing in the error state either
    EXPECT_EQ(r.seen.size(), 2u);
    LMPlayerSeek(r.player, 0);   // a seek leaves it
    EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStateIdle);

    LMPlayerPlayFile(r.player, fakeFileOpen(counterPcm16(44100 * 10, 2, 0)));
    EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStatePlaying);
    LMPlayerPause(r.player);
    const size_t n = r.seen.size();
    LMPlayerPause(r.player);   // already paused
    EXPECT_EQ(r.seen.size(), n);
    EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStatePaused);
}

TEST_F(LMPlayerTest, AnEmptyFileEndsWithOneEndEvent)
{
    ASSERT_TRUE(LMAudioOutputSelect("null"));
    Recorder r;
    LMPlayerPlayFile(r.player, fakeFileOpen({}));
    ASSERT_GE(r.seen.size(), 3u);
    EXPECT_EQ(r.seen[0].event, LMPlayerEventEnded);
    EXPECT_EQ(r.seen[0].state, LMPlayerStateEnded);
    EXPECT_EQ(r.seen[1].event, LMPlayerEventPlaying);
    EXPECT_EQ(r.seen[2].event, LMPlayerEventFileChanged);
    ASSERT_TRUE(lmtest::spinUntil([&] { return r.drained(); }, 5000));
    EXPECT_EQ(r.count(LMPlayerEventEnded), 1);
    EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStatePaused);
}

TEST_F(LMPlayerTest, PlayAfterTheEndRestartsFromZero)
{
    Recorder r;
    r.wavPath = useWav("again.wav");
    const std::vector<uint8_t> a = counterPcm16(30000, 2, 7);
    // In the ended state (before the queue has played out).
    bool replayed = false;
    r.react = [&](LMPlayerEvent e) {
        if (e == LMPlayerEventEnded && !replayed) {
            replayed = true;
            EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStateEnded);
            LMPlayerPlay(r.player);
            EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStatePlaying);
        }
    };
    LMPlayerPlayFile(r.player, fakeFileOpen(a));
    const bool ok = lmtest::spinUntil([&] { return replayed && r.drained(size_t(r.find(LMPlayerEventEnded)) + 1); },
                                  10000);
    ASSERT_TRUE(ok);
    // After the queue played out and stopped (state paused).
    ASSERT_EQ(LMPlayerGetState(r.player), LMPlayerStatePaused);
    const size_t mark = r.seen.size();
    LMPlayerPlay(r.player);
    EXPECT_EQ(LMPlayerGetState(r.player), LMPlayerStatePlaying);
    ASSERT_TRUE(lmtest::spinUntil([&] { return r.drained(mark); }, 10000));
    LMPlayerDispose(r.player);
    r.player = nullptr;

    // The same format appends to one file: the stream ends with two whole copies.
    const std::vector<uint8_t> out = wavData(r.wavPath);
    ASSERT_GE(out.size(), 2 * a.size());
    EXPECT_TRUE(std::equal(a.begin(), a.end(), out.end() - long(a.size())));
    EXPECT_TRUE(std::equal(a.begin(), a.end(), out.end() - long(2 * a.size())));
}

TEST_F(LMPlayerTest, PositionEventsComeOncePerDecodedSecond)
{
    Recorder r;
    r.wavPath = useWav("position.wav");
    LMPlayerPlayFile(r.player, fakeFileOpen(counterPcm16(44100 * 5 + 100, 2, 0)));
    ASSERT_TRUE(lmtest::spinUntil([&] { return r.drained(); }, 10000));
    double last = 0;
    int n = 0;
    for (const Seen &s : r.seen) {
        if (s.event != LMPlayerEventPosition)
            continue;
        EXPECT_GE(std::fabs(s.time - last), 1.0);
        last = s.time;
        n++;
    }
    EXPECT_GE(n, 4);
    EXPECT_LE(n, 5);
}

TEST_F(LMPlayerTest, VolumeBelongsToTheQueue)
{
    ASSERT_TRUE(LMAudioOutputSelect("null"));
    Recorder r;
    EXPECT_EQ(LMPlayerGetVolume(r.player), 0.0f);
    LMPlayerSetVolume(r.player, 0.3f);   // no queue: nothing to set
    LMPlayerPlayFile(r.player, fakeFileOpen(counterPcm16(44100 * 10, 2, 0)));
    EXPECT_EQ(LMPlayerGetVolume(r.player), 1.0f);
    LMPlayerSetVolume(r.player, 0.5f);
    EXPECT_EQ(LMPlayerGetVolume(r.player), 0.5f);
    LMPlayerPlayFile(r.player, fakeFileOpen(counterPcm16(44100 * 10, 2, 0)));
    EXPECT_EQ(LMPlayerGetVolume(r.player), 1.0f);
}

TEST_F(LMPlayerTest, TheEngineClosesEveryFileItWasHanded)
{
    ASSERT_TRUE(LMAudioOutputSelect("null"));
    const int before = lmtest::fakeFilesClosed();
    LMPlayer *p = LMPlayerCreate();
    LMFile *a = fakeFileOpen(counterPcm16(44100, 2, 0));
    LMFile *b = fakeFileOpen(counterPcm16(44100, 2, 0));
    LMFile *c = fakeFileOpen(counterPcm16(44100, 2, 0));
    LMPlayerQueueFile(p, a);   // becomes current
    EXPECT_EQ(LMPlayerCurrentFile(p), a);
    LMPlayerQueueFile(p, b);
    LMPlayerQueueFile(p, b);   // already chained: ignored
    LMPlayerPlayFile(p, b);    // a file from the chain is kept, the rest closed
    EXPECT_EQ(lmtest::fakeFilesClosed() - before, 1);
    LMPlayerQueueFile(p, c);
    LMPlayerPlayFile(p, nullptr);
    EXPECT_EQ(LMPlayerCurrentFile(p), b);
    LMPlayerDispose(p);
    EXPECT_EQ(lmtest::fakeFilesClosed() - before, 3);
    LMPlayerDispose(nullptr);
}

} // namespace
