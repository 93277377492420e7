// The track player over real WAV files and images, through the WAV outputs: the real-time
// "wav:" where the pace of decoding is the point (cue tracks end by the decode position),
// "wav-fast:" elsewhere.
#include <cmath>

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>

#include "platform/audio_queue/audio_queue.h"
#include "platform/core/delayed_perform.h"
#include "player_support.h"
#include "support/codec_support.h"

namespace {

using namespace playertest;

class UniPlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureApp();
        OpenCounter::reset();
    }
    void TearDown() override { LMAudioOutputSelect(nullptr); }
    void output(const std::string &kind)
    {
        ASSERT_TRUE(LMAudioOutputSelect((kind == "null" ? kind : kind + ":" + out()).c_str()));
    }
    std::string out() const { return dir.file("out.wav"); }

    lmtest::TempDir config;
    lmtest::ScopedEnv env{"XDG_CONFIG_HOME", config.path()};
    lmtest::TempDir dir;
};

// Log lines of the player's category, captured.
class LogCapture {
public:
    LogCapture() { previous_ = qInstallMessageHandler(&LogCapture::handle); }
    ~LogCapture() { qInstallMessageHandler(previous_); }
    static QStringList lines;

private:
    static void handle(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (context.category != nullptr && QByteArray(context.category) == "lumenar.player")
            lines << message;
    }
    QtMessageHandler previous_;
};
QStringList LogCapture::lines;

// A list of a.wav (1.5 s at 44.1 kHz) then b.wav (0.5 s at 48 kHz), formats that do not
// join, so a ends on its own before b starts; a player with the list as its delegate.
struct TwoRates {
    explicit TwoRates(const lmtest::TempDir &dir)
        : a(writeWav(dir.file("a.wav"), 1.5, 44100)), b(writeWav(dir.file("b.wav"), 0.5, 48000, 5)),
          items{item(dir.file("a.wav")), item(dir.file("b.wav"))}, delegate(player, items), rec(player)
    {
        player.setDelegate(&delegate);
    }
    std::vector<uint8_t> a, b;
    PlayableItemList items;
    UniPlayer player;
    ListDelegate delegate;
    Recorder rec;
};

TEST_F(UniPlayerTest, FollowingCueTracksJoinWithoutASeekAndTheLastEndsWithTheFile)
{
    output("wav");
    const std::vector<uint8_t> pcm = writeImage(dir.path(), "disc", 6, {0, 2, 4});
    PlayableItemPtr disc = item(dir.file("disc.wav"));
    ASSERT_TRUE(disc);
    ASSERT_EQ(disc->subItems().size(), 3);
    UniPlayer player;
    player.setFileOpener(&OpenCounter::open);
    ListDelegate delegate(player, disc->subItems());
    player.setDelegate(&delegate);
    Recorder rec(player);

    player.play(disc->subItems().at(1));
    ASSERT_TRUE(waitUntilIdle(player, 15000));

    EXPECT_EQ(rec.itemTitles(), (std::vector<QString>{"T2", "T3"}));
    EXPECT_EQ(OpenCounter::opened, 1) << "track 3 must not open the file again";
    // Every sample from track 2's start to the end of the file, once, in order: no seek
    // repeated or skipped anything, and the last track was not cut before the file's end.
    const std::vector<uint8_t> heard = wavPcm(out());
    EXPECT_EQ(heard.size(), slice(pcm, 2, 6).size());
    EXPECT_TRUE(heard == slice(pcm, 2, 6));
    EXPECT_EQ(rec.count(LMPlayerEventEnded), 1);
}

TEST_F(UniPlayerTest, ChoosingAnotherTrackOfThePlayingImageSeeksWithinTheOpenFile)
{
    output("wav");
    writeImage(dir.path(), "disc", 16, {0, 2, 4, 6, 8, 10, 12, 14});
    PlayableItemPtr disc = item(dir.file("disc.wav"));
    ASSERT_TRUE(disc);
    UniPlayer player;
    player.setFileOpener(&OpenCounter::open);
    Recorder rec(player);

    player.play(disc->subItems().at(2));
    ASSERT_TRUE(lmtest::waitUntil([&] { return player.playing(); }, 5000));
    LMFile *file = LMPlayerCurrentFile(player.engine());
    EXPECT_NEAR(player.currentTime(), 4, 1.2);
    const int changes = rec.count(LMPlayerEventFileChanged);

    player.play(disc->subItems().at(6));
    EXPECT_EQ(LMPlayerCurrentFile(player.engine()), file);
    EXPECT_EQ(OpenCounter::opened, 1);
    EXPECT_GE(player.currentTime(), 12.0);
    EXPECT_LT(player.currentTime(), 13.5);
    EXPECT_TRUE(player.playing());
    EXPECT_EQ(rec.count(LMPlayerEventFileChanged), changes + 1);
    EXPECT_EQ(player.currentItem()->title(), "T7");
    EXPECT_EQ(player.previousItem()->title(), "T3");
}

// The end of a cue track is due when it is heard, not when the decoder, seconds ahead,
// passes it: a locked track is heard to within its last tenth of a second, then again
// from its start.
TEST_F(UniPlayerTest, ALockedCueTrackIsHeardToItsEndThenFromItsStart)
{
    output("wav");
    const std::vector<uint8_t> pcm = writeImage(dir.path(), "disc", 8, {0, 2, 4});
    PlayableItemPtr disc = item(dir.file("disc.wav"));
    ASSERT_TRUE(disc);
    UniPlayer player;
    ListDelegate delegate(player, disc->subItems());
    player.setDelegate(&delegate);
    player.setLocked(true);

    player.play(disc->subItems().at(1));
    const size_t enough = size_t(2.6 * kRate) * kFrameBytes;
    ASSERT_TRUE(lmtest::waitUntil([&] { return lmtest::readFile(out()).size() >= 44 + enough; }, 8000));
    player.pause();
    const std::vector<uint8_t> heard = wavPcm(out());
    const std::vector<uint8_t> track = slice(pcm, 2, 4);
    ASSERT_GE(heard.size(), enough);
    // Where the output leaves the track's samples: the seek back.
    size_t wrap = 0;
    while (wrap < heard.size() && wrap < track.size() && heard[wrap] == track[wrap])
        wrap++;
    wrap -= wrap % kFrameBytes;
    const double wrapSeconds = double(wrap) / kFrameBytes / kRate;
    EXPECT_GT(wrapSeconds, 1.8) << "the track was cut before its end";
    EXPECT_LT(wrapSeconds, 2.0) << "the next track was heard";
    const size_t again = std::min(heard.size() - wrap, size_t(0.3 * kRate) * kFrameBytes);
    EXPECT_TRUE(std::equal(heard.begin() + long(wrap), heard.begin() + long(wrap + again), track.begin()))
        << "not heard again from the start";
    EXPECT_EQ(player.currentItem()->title(), "T2");
    EXPECT_EQ(delegate.asked, 0);
}

TEST_F(UniPlayerTest, ALockedWholeFileReplaysFromItsEnd)
{
    output("wav-fast");
    const std::vector<uint8_t> pcm = writeWav(dir.file("a.wav"), 1.5);
    PlayableItemPtr a = item(dir.file("a.wav"));
    UniPlayer player;
    player.setLocked(true);
    Recorder rec(player);
    player.play(a);
    // A third end means the second pass was heard to its end.
    ASSERT_TRUE(lmtest::waitUntil([&] { return rec.count(LMPlayerEventEnded) >= 3; }, 5000));
    player.pause();
    const std::vector<uint8_t> heard = wavPcm(out());
    ASSERT_GE(heard.size(), 2 * pcm.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), heard.begin()));
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), heard.begin() + long(pcm.size())));
    EXPECT_EQ(player.currentItem(), a);
}

TEST_F(UniPlayerTest, WholeFilesOfEqualFormatJoinWithTheSecondQueuedBeforeTheEnd)
{
    output("wav-fast");
    std::vector<uint8_t> both = writeWav(dir.file("a.wav"), 3.2, kRate, 0);
    const std::vector<uint8_t> b = writeWav(dir.file("b.wav"), 2, kRate, 777);
    both.insert(both.end(), b.begin(), b.end());
    PlayableItemList items = {item(dir.file("a.wav")), item(dir.file("b.wav"))};
    UniPlayer player;
    ListDelegate delegate(player, items);
    player.setDelegate(&delegate);
    Recorder rec(player);

    player.play(items[0]);
    ASSERT_TRUE(waitUntilIdle(player, 10000));

    EXPECT_TRUE(wavPcm(out()) == both);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.file("out.2.wav")))) << "one stream, one output";
    EXPECT_EQ(rec.itemTitles(), (std::vector<QString>{"a", "b"}));
    EXPECT_EQ(rec.count(LMPlayerEventEnded), 1) << "the first file must not end on its own";
    // b was asked for while a was still decoding, within about a second of its end.
    ASSERT_FALSE(delegate.askedAt.empty());
    EXPECT_GT(delegate.askedAt.front(), 3.2 - 1.0);
}

// Real time: the first file is heard to its last sample before the next replaces the
// output. It is short enough that the next one is queued while it primes its buffers,
// which must not make the next one current before its time.
TEST_F(UniPlayerTest, DifferentRatesStartTheNextFileOnceTheFirstWasHeardAndAfterTheDelay)
{
    output("wav");
    TwoRates list(dir);
    const std::vector<uint8_t> &a = list.a, &b = list.b;
    const PlayableItemList &items = list.items;
    UniPlayer &player = list.player;
    Recorder &rec = list.rec;
    QElapsedTimer clock;
    qint64 endedAt = -1, nextAt = -1;
    QObject target;
    player.addEventHandler(&target, "ended", [&] { if (endedAt < 0) endedAt = clock.elapsed(); }, 4);
    player.addEventHandler(&target, "changed", [&] { if (endedAt >= 0 && nextAt < 0) nextAt = clock.elapsed(); }, 1);
    clock.start();
    player.play(items[0]);
    ASSERT_TRUE(waitUntilIdle(player, 10000));

    uint32_t rate1 = 0, rate2 = 0;
    EXPECT_TRUE(wavPcm(out(), &rate1) == a);
    EXPECT_TRUE(wavPcm(dir.file("out.2.wav"), &rate2) == b);
    EXPECT_EQ(rate1, 44100u);
    EXPECT_EQ(rate2, 48000u);
    EXPECT_EQ(rec.itemTitles(), (std::vector<QString>{"a", "b"}));
    ASSERT_GE(endedAt, 0);
    ASSERT_GE(nextAt, 0);
    EXPECT_GE(nextAt - endedAt, 240) << "the next item starts a quarter second after the end";
}

// Files of one rate that the queue would still take differently (byte order, sample
// sign, channels) are never joined: the second is queued before the first ends, yet the
// first ends on its own and the second starts a new output, in its own layout. (The WAV
// output writes both into one file when they come out alike.)
TEST_F(UniPlayerTest, FilesOfAnotherSampleLayoutAreNeverJoinedAndEachIsPlayedWhole)
{
    using lmtest::Bytes;
    // PCM as the output writes it (little-endian; 8 bits unsigned); AIFF files hold it
    // big-endian and signed.
    struct Side {
        std::string ext;
        uint32_t channels, bits;
        Bytes heard;
    };
    auto ramp8 = [](size_t n, uint8_t start) {
        Bytes b(n);
        for (size_t i = 0; i < n; i++)
            b[i] = uint8_t(start + i * 7);
        return b;
    };
    const size_t longFrames = size_t(2.5 * kRate), shortFrames = size_t(0.5 * kRate);
    struct Case {
        const char *what;
        Side first, second;
        bool oneOutputFile;
    };
    const Case cases[] = {
        {"16-bit WAV, then 16-bit AIFF", {"wav", 2, 16, lmtest::counterPcm16(longFrames, 2, 0)},
         {"aiff", 2, 16, lmtest::counterPcm16(shortFrames, 2, 999)}, true},
        {"8-bit WAV, then 8-bit AIFF", {"wav", 1, 8, ramp8(longFrames, 0)}, {"aiff", 1, 8, ramp8(shortFrames, 5)},
         true},
        {"mono, then stereo", {"wav", 1, 16, lmtest::counterPcm16(longFrames, 1, 0)},
         {"wav", 2, 16, lmtest::counterPcm16(shortFrames, 2, 4242)}, false},
    };
    auto write = [](const std::string &path, const Side &side) {
        if (side.ext == "wav") {
            lmtest::writeWav(path, kRate, side.channels, side.bits, side.heard);
            return;
        }
        Bytes stored = side.heard;
        const size_t width = side.bits / 8;
        for (size_t i = 0; i + width <= stored.size(); i += width) {
            if (width == 1)
                stored[i] ^= 0x80;
            std::reverse(stored.begin() + long(i), stored.begin() + long(i + width));
        }
        const uint32_t frames = uint32_t(stored.size() / (width * side.channels));
        lmtest::writeFile(path, lmtest::riffFile("FORM", "AIFF",
                                                 {{"COMM", lmtest::aiffComm(uint16_t(side.channels), frames,
                                                                            uint16_t(side.bits), kRate)},
                                                  {"SSND", lmtest::aiffSsnd(stored)}}));
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string a = dir.file("a" + std::to_string(n) + "." + c.first.ext);
        const std::string b = dir.file("b" + std::to_string(n) + "." + c.second.ext);
        const std::string heard = dir.file("heard" + std::to_string(n++));
        write(a, c.first);
        write(b, c.second);
        ASSERT_TRUE(LMAudioOutputSelect(("wav-fast:" + heard + ".wav").c_str()));
        const PlayableItemList items = {item(a), item(b)};
        ASSERT_TRUE(items[0] && items[1]);
        UniPlayer player;
        ListDelegate delegate(player, items);
        player.setDelegate(&delegate);
        Recorder rec(player);
        player.play(items[0]);
        ASSERT_TRUE(waitUntilIdle(player, 10000));

        // The second was offered for joining before the first was heard to its end...
        ASSERT_FALSE(delegate.askedAt.empty());
        EXPECT_LE(delegate.askedAt.front(), 2.5);
        // ...but each file ended on its own, and was heard whole in its own layout.
        EXPECT_EQ(rec.count(LMPlayerEventEnded), 2) << "the files were joined";
        EXPECT_EQ(rec.itemTitles().size(), 2u);
        if (c.oneOutputFile) {
            Bytes both = c.first.heard;
            both.insert(both.end(), c.second.heard.begin(), c.second.heard.end());
            EXPECT_TRUE(wavPcm(heard + ".wav") == both);
        } else {
            EXPECT_TRUE(wavPcm(heard + ".wav") == c.first.heard);
            EXPECT_TRUE(wavPcm(heard + ".2.wav") == c.second.heard);
        }
    }
}

TEST_F(UniPlayerTest, HandlerTableHoldsTenDistinctEntries)
{
    UniPlayer player;
    QObject a, b;
    int calls = 0;
    EXPECT_TRUE(player.addEventHandler(&a, "x", [&] { calls++; }, 1));
    EXPECT_TRUE(player.addEventHandler(&a, "x", [&] { calls += 100; }, 1));   // the same entry
    EXPECT_EQ(player.handlerCount(), 1);
    player.dispatchEvent(1);
    player.dispatchEvent(2);
    EXPECT_EQ(calls, 1);

    for (int i = 1; i < UniPlayer::kHandlerCount; i++)
        EXPECT_TRUE(player.addEventHandler(&b, "y" + QByteArray::number(i), [] {}, i % 6));
    EXPECT_EQ(player.handlerCount(), UniPlayer::kHandlerCount);
    {
        LogCapture log;
        LogCapture::lines.clear();
        EXPECT_FALSE(player.addEventHandler(&a, "z", [] {}, 3));
        EXPECT_EQ(LogCapture::lines, QStringList{"Warning: Event handlers full!!"});
    }
    player.removeEventHandler(&b);
    EXPECT_EQ(player.handlerCount(), 1);

    // A target that goes away frees its entries; an action may remove handlers as it runs.
    {
        QObject gone;
        player.addEventHandler(&gone, "g", [] {}, 0);
        EXPECT_EQ(player.handlerCount(), 2);
    }
    EXPECT_EQ(player.handlerCount(), 1);
    player.addEventHandler(&b, "remover", [&] { player.removeEventHandler(&a); }, 1);
    player.dispatchEvent(1);
    EXPECT_EQ(player.handlerCount(), 1);
}

TEST_F(UniPlayerTest, TheEndOfTheListPausesAndClearsTheItem)
{
    output("wav-fast");
    writeWav(dir.file("a.wav"), 1.2);
    PlayableItemPtr a = item(dir.file("a.wav"));
    UniPlayer player;
    ListDelegate delegate(player, {a});
    player.setDelegate(&delegate);
    LogCapture log;
    LogCapture::lines.clear();
    player.play(a);
    ASSERT_TRUE(waitUntilIdle(player, 5000));
    EXPECT_FALSE(player.currentItem());
    EXPECT_EQ(player.previousItem(), a);
    EXPECT_FALSE(player.playing());
    EXPECT_TRUE(LogCapture::lines.contains("Why?"));
}

TEST_F(UniPlayerTest, TheSleepFadeCancelsAPendingPlayAndLeavesFullVolume)
{
    output("null");
    writeWav(dir.file("a.wav"), 8);
    writeWav(dir.file("b.wav"), 8);
    PlayableItemList items = {item(dir.file("a.wav")), item(dir.file("b.wav"))};
    UniPlayer player;
    ListDelegate delegate(player, items);
    player.setDelegate(&delegate);
    player.play(items[0]);
    ASSERT_TRUE(lmtest::waitUntil([&] { return player.playing(); }, 3000));

    player.sleepTransition(3);
    EXPECT_NEAR(player.getVolume(), 0.15, 1e-6);
    player.onItemEnd();   // b is now due in a quarter second
    EXPECT_EQ(DelayedPerform::pendingCount(&player, UniPlayer::kPlayAction), 1);
    // The fade steps at 0.3 s, so the play would come first: hold it back for the test by
    // running the last step at once.
    player.sleepTransition(0);
    EXPECT_EQ(DelayedPerform::pendingCount(&player), 0);
    EXPECT_FALSE(player.playing());
    EXPECT_FLOAT_EQ(player.getVolume(), 1.0f);
    lmtest::spin(500);
    EXPECT_EQ(player.currentItem(), items[0]);
}

TEST_F(UniPlayerTest, AnItemThatDoesNotOpenIsSteppedPastFromItsOwnRow)
{
    output("wav-fast");
    for (const char *name : {"bad1.wav", "good.wav", "bad2.wav"})
        writeWav(dir.file(name), 1.2);
    PlayableItemList items = {item(dir.file("bad1.wav")), item(dir.file("good.wav")), item(dir.file("bad2.wav"))};
    std::remove(dir.file("bad1.wav").c_str());
    std::remove(dir.file("bad2.wav").c_str());
    UniPlayer player;
    player.setFileOpener(&OpenCounter::open);
    ListDelegate delegate(player, items);
    player.setDelegate(&delegate);
    Recorder rec(player);

    player.play(items[0]);
    EXPECT_FALSE(player.currentItem());
    ASSERT_TRUE(waitUntilIdle(player, 5000));
    EXPECT_EQ(rec.itemTitles(), (std::vector<QString>{"good"}));
    EXPECT_EQ(OpenCounter::opened, 1);
    EXPECT_EQ(OpenCounter::asked, 4) << "bad1 once; bad2 when queued and when played";
}

TEST_F(UniPlayerTest, SteppingStopsOnceEveryItemOfALoopHasFailed)
{
    output("wav-fast");
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        writeWav(dir.file(name), 1);
    PlayableItemList items = {item(dir.file("a.wav")), item(dir.file("b.wav")), item(dir.file("c.wav"))};
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        std::remove(dir.file(name).c_str());
    UniPlayer player;
    player.setFileOpener(&OpenCounter::open);
    ListDelegate delegate(player, items, /*loop=*/true);
    player.setDelegate(&delegate);

    player.play(items[1]);
    ASSERT_TRUE(waitUntilIdle(player, 5000));
    lmtest::spin(600);
    EXPECT_EQ(OpenCounter::asked, 3);
    EXPECT_FALSE(player.currentItem());
    EXPECT_EQ(DelayedPerform::pendingCount(&player), 0);

    // A later request starts afresh.
    player.play(items[0]);
    ASSERT_TRUE(waitUntilIdle(player, 5000));
    EXPECT_EQ(OpenCounter::asked, 6);
}

// The position reaches handlers only while someone watches it, once per second of sound
// heard, and no timer runs for it otherwise or while paused.
TEST_F(UniPlayerTest, PositionUpdatesComeOnlyWhileWatchedAndPlaying)
{
    output("null");
    writeWav(dir.file("a.wav"), 30);
    PlayableItemPtr a = item(dir.file("a.wav"));
    UniPlayer player;
    Recorder rec(player);
    player.play(a);
    ASSERT_TRUE(lmtest::waitUntil([&] { return player.playing(); }, 3000));
    EXPECT_FALSE(player.positionTimerActive()) << "nobody watches";
    EXPECT_FALSE(player.itemEndTimerActive()) << "a whole file ends by the engine's events";
    // The engine's own position events (the decoder passed a second while priming) are
    // not what is heard: they reach no handler.
    EXPECT_GE(player.decodeTime(), 1.0);
    EXPECT_EQ(rec.count(LMPlayerEventPosition), 0);

    player.beginPositionUpdates();
    player.beginPositionUpdates();   // a second watcher
    EXPECT_EQ(player.positionWatchers(), 2);
    EXPECT_TRUE(player.positionTimerActive());
    ASSERT_TRUE(lmtest::waitUntil([&] { return rec.count(LMPlayerEventPosition) >= 2; }, 4000));
    // Each comes as the heard second turns (the timer and the heard clock may differ by
    // some tens of milliseconds on a busy machine).
    for (const Recorder::Entry &e : rec.entries) {
        if (e.event != LMPlayerEventPosition)
            continue;
        EXPECT_GE(e.time, 0.95);
        EXPECT_LT(e.time - std::floor(e.time + 0.05), 0.25) << e.time;
    }
    player.endPositionUpdates();
    EXPECT_TRUE(player.positionTimerActive()) << "one watcher is left";

    player.pause();
    EXPECT_FALSE(player.positionTimerActive()) << "nothing runs while paused";
    player.play();
    EXPECT_TRUE(player.positionTimerActive());
    // A seek is shown at once to those who watch.
    const int before = rec.count(LMPlayerEventPosition);
    player.seekToTime(20);
    EXPECT_EQ(rec.count(LMPlayerEventPosition), before + 1);
    EXPECT_NEAR(rec.entries.back().time, 20.0, 0.05);

    player.endPositionUpdates();
    player.endPositionUpdates();   // one too many does no harm
    EXPECT_EQ(player.positionWatchers(), 0);
    EXPECT_FALSE(player.positionTimerActive());
}

// The decoder runs ahead by what the output holds; the position told is what is heard,
// also right after a seek.
TEST_F(UniPlayerTest, TheCurrentTimeIsWhatIsHeard)
{
    output("null");
    writeWav(dir.file("a.wav"), 30);
    PlayableItemPtr a = item(dir.file("a.wav"));
    UniPlayer player;
    player.play(a);
    ASSERT_TRUE(lmtest::waitUntil([&] { return player.playing(); }, 3000));
    EXPECT_LT(player.currentTime(), player.decodeTime() - 0.5);
    EXPECT_GE(player.currentTime(), 0.0);
    player.seekToTime(10);
    EXPECT_NEAR(player.currentTime(), 10.0, 0.05);
    EXPECT_GT(player.decodeTime(), 10.5);
    player.pause();
    const double paused = player.currentTime();
    EXPECT_GE(paused, 10.0);
    EXPECT_LT(paused, 10.5);
}

// A compressed file joined to the one before counts its time from when it is heard,
// not from where its decoder already is.
TEST_F(UniPlayerTest, AJoinedCompressedFileCountsFromWhenItIsHeard)
{
    output("null");
    ASSERT_TRUE(lmtest::ffmpegTone(dir.file("a.mp3"), {"-c:a", "libmp3lame"}, 3.0));
    ASSERT_TRUE(lmtest::ffmpegTone(dir.file("b.mp3"), {"-c:a", "libmp3lame"}, 20.0));
    PlayableItemList items = {item(dir.file("a.mp3")), item(dir.file("b.mp3"))};
    ASSERT_TRUE(items[0] && items[1]);
    UniPlayer player;
    ListDelegate delegate(player, items);
    player.setDelegate(&delegate);
    QElapsedTimer clock;
    clock.start();
    player.play(items[0]);
    ASSERT_TRUE(lmtest::waitUntil([&] { return player.currentItem() == items[1]; }, 10000));
    EXPECT_LT(player.currentTime(), player.decodeTime() - 0.5) << "the decoder runs ahead of what is heard";
    ASSERT_TRUE(lmtest::waitUntil([&] { return clock.elapsed() >= 4500; }, 10000));
    // About 1.5 s of the second file has been heard (the clock started a little early; a
    // busy machine may hear less); its decoder is seconds further.
    EXPECT_GT(player.currentTime(), 0.7);
    EXPECT_LT(player.currentTime(), 2.1);
}

// The output plays on for seconds after the decoder's end. Pausing then holds what
// follows until the rest has been heard.
TEST_F(UniPlayerTest, PausingWhileAnItemsEndPlaysOutHoldsTheNextItem)
{
    output("wav");
    TwoRates t(dir);
    t.player.play(t.items[0]);
    ASSERT_TRUE(lmtest::waitUntil([&] { return t.rec.count(LMPlayerEventEnded) == 1; }, 3000));
    EXPECT_TRUE(t.player.playing()) << "sound still comes out";
    t.player.pause();
    EXPECT_FALSE(t.player.playing());
    EXPECT_EQ(DelayedPerform::pendingCount(&t.player), 0) << "nothing waits to run while paused";
    EXPECT_EQ(t.player.currentItem(), t.items[0]);
    t.player.play();
    ASSERT_TRUE(waitUntilIdle(t.player, 10000));
    EXPECT_EQ(t.rec.itemTitles(), (std::vector<QString>{"a", "b"}));
    EXPECT_TRUE(wavPcm(out()) == t.a) << "a was not heard whole";
    EXPECT_TRUE(wavPcm(dir.file("out.2.wav")) == t.b);
}

} // namespace
