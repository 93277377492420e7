// The play-list controller: play modes, what comes next, shuffle, transport actions and
// the editing of a play list file.
#include <algorithm>
#include <random>
#include <set>

#include <QDir>

#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/core/delayed_perform.h"
#include "platform/core/file_system_object.h"
#include "platform/core/now_playing.h"
#include "platform/core/user_defaults.h"
#include "player/play_list_controller.h"
#include "player_support.h"

namespace {

using namespace playertest;

PlayableItemPtr row(const QString &title, const PlayableItemList &tracks = {})
{
    auto item = std::make_shared<PlayableItem>();
    item->setTitle(title);
    item->setPath("/music/" + title + ".flac");
    item->setOwnFile(true);
    item->setTotalTime(100);
    item->setSubItems(tracks);
    return item;
}

PlayableItemList tracksOf(const QString &image, int count)
{
    PlayableItemList tracks;
    for (int i = 1; i <= count; i++)
        tracks << PlayableItem::itemWithTrackNumber(i, image + "-t" + QString::number(i), "/music/" + image + ".flac",
                                                    float(i * 10), 10);
    return tracks;
}

// The rows of a list: each image followed by its tracks.
PlayableItemList rowsOf(const PlayableItemList &items)
{
    PlayableItemList rows;
    for (const PlayableItemPtr &i : items)
        rows << i << i->subItems();
    return rows;
}

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureApp();
        FileSystemObject::setDocumentsDirectory(QString::fromStdString(docs.path()));
        LMAudioOutputSelect("null");
        PlayListController::resetLastShufflePick();
        OpenCounter::reset();
    }
    void TearDown() override
    {
        FileSystemObject::setDocumentsDirectory(QString());
        LMAudioOutputSelect(nullptr);
    }
    QString doc(const std::string &name) const { return QString::fromStdString(docs.file(name)); }
    PlayableItemPtr wav(const std::string &name, double seconds)
    {
        writeWav(docs.file(name), seconds);
        return item(docs.file(name));
    }

    lmtest::TempDir config;
    lmtest::ScopedEnv env{"XDG_CONFIG_HOME", config.path()};
    lmtest::TempDir docs;
    UniPlayer player;
};

// Every candidate once per cycle, and no cycle starts with the last pick of the previous.
void checkCycles(PlayListController &c, const std::vector<int> &candidates, int cycles)
{
    int last = -1;
    for (int cycle = 0; cycle < cycles; cycle++) {
        std::vector<int> picks;
        for (size_t i = 0; i < candidates.size(); i++)
            picks.push_back(c.randomIndex());
        if (cycle > 0) {
            EXPECT_NE(picks.front(), last) << "cycle " << cycle;
        }
        last = picks.back();
        std::sort(picks.begin(), picks.end());
        EXPECT_EQ(picks, candidates) << "cycle " << cycle;
    }
}

TEST_F(ControllerTest, ShufflePlaysEveryCandidateOncePerCycle)
{
    PlayListController c(&player);
    c.setPlayList({row("A"), row("B"), row("C")});
    for (unsigned seed = 1; seed <= 20; seed++) {
        std::mt19937 g(seed);
        c.setRandomSource([&g] { return quint32(g()); });
        c.setPlayList({row("A"), row("B"), row("C")});   // fresh counts, as after a scan
        checkCycles(c, {0, 1, 2}, 5);
    }
    // A generator stuck at one value still cannot repeat the last pick first.
    for (quint32 fixed : {0u, 1u, 0xFFFFFFFFu}) {
        c.setRandomSource([fixed] { return fixed; });
        c.setPlayList({row("A"), row("B"), row("C"), row("D")});
        checkCycles(c, {0, 1, 2, 3}, 4);
    }

    // An image row is never a candidate, its tracks are.
    PlayableItemPtr image = row("disc", tracksOf("disc", 3));
    c.setRandomSource(nullptr);
    c.setPlayList(rowsOf({image, row("B")}));
    checkCycles(c, {1, 2, 3, 4}, 4);

    c.setPlayList({row("only")});
    EXPECT_EQ(c.randomIndex(), 0);
    EXPECT_EQ(c.playList().first()->playedCount(), 0);
}

// Within cycle k every pick is raised to k and the rows not yet picked stay at k - 1, so
// each cycle starts from equal counts and draws its order afresh.
TEST_F(ControllerTest, ShuffleCountsRiseOneCycleAtATimeAndEachCycleIsDrawnAfresh)
{
    PlayListController c(&player);
    std::mt19937 g(7);
    c.setRandomSource([&g] { return quint32(g()); });
    c.setPlayList({row("A"), row("B"), row("C"), row("D"), row("E")});
    auto counts = [&c] {
        std::vector<int> all;
        for (const PlayableItemPtr &r : c.playList())
            all.push_back(r->playedCount());
        return all;
    };
    EXPECT_EQ(counts(), std::vector<int>(5, 0));
    std::vector<std::vector<int>> orders;
    for (int cycle = 1; cycle <= 6; cycle++) {
        std::vector<int> expected(5, cycle - 1), order;
        for (int i = 0; i < 5; i++) {
            const int pick = c.randomIndex();
            ASSERT_GE(pick, 0);
            ASSERT_LT(pick, 5);
            order.push_back(pick);
            expected[size_t(pick)] = cycle;
            EXPECT_EQ(counts(), expected) << "cycle " << cycle << ", pick " << i;
        }
        orders.push_back(order);
    }
    for (size_t i = 1; i < orders.size(); i++)
        EXPECT_NE(orders[i], orders[0]) << "cycle " << i + 1 << " repeats the first";
}

TEST_F(ControllerTest, NextItemFollowsThePlayMode)
{
    PlayListController c(&player);
    EXPECT_FALSE(c.nextItem());
    PlayableItemPtr a = row("A"), image = row("disc", tracksOf("disc", 2)), z = row("Z");
    c.setPlayList(rowsOf({a, image, z}));
    const PlayableItemPtr &t1 = image->subItems().at(0), &t2 = image->subItems().at(1);

    c.setPlayMode(UserSettings::PlayToEnd);
    EXPECT_EQ(c.nextItem(), a);                     // nothing current: the first row
    player.setCurrentItem(a);
    EXPECT_EQ(c.nextItem(), t1);                    // an image row plays its first track
    player.setCurrentItem(t2);
    EXPECT_EQ(c.nextItem(), z);
    player.setCurrentItem(z);
    EXPECT_FALSE(c.nextItem());                     // the end of the list
    player.setCurrentItem(row("elsewhere"));
    EXPECT_EQ(c.nextItem(), a);

    for (int mode : {UserSettings::Loop, UserSettings::SingleTrackLoop}) {
        c.setPlayMode(mode);
        player.setCurrentItem(z);
        EXPECT_EQ(c.nextItem(), a) << mode;
    }
    c.setPlayMode(UserSettings::Shuffle);
    player.setCurrentItem(a);
    std::set<QString> seen;
    for (int i = 0; i < 12; i++)
        seen.insert(c.nextItem()->title());
    // A pick of the current item itself gives the row after it.
    EXPECT_EQ(seen, (std::set<QString>{"Z", "disc-t1", "disc-t2"}));
}

TEST_F(ControllerTest, PlayModesAreStoredAndModeThreeLocksThePlayer)
{
    UserDefaults::setInteger(SettingsKeys::ShuffleMode, 3);
    {
        UniPlayer fresh;
        PlayListController c(&fresh);
        EXPECT_TRUE(fresh.locked());
        EXPECT_EQ(fresh.delegate(), static_cast<UniPlayerDelegate *>(&c));
        c.togglePlayMode();
        EXPECT_EQ(UserDefaults::integerForKey(SettingsKeys::ShuffleMode), 0);
        EXPECT_FALSE(fresh.locked());
        c.setPlayMode(3);
        EXPECT_TRUE(fresh.locked());
    }
    UserDefaults::setInteger(SettingsKeys::ShuffleMode, 6);
    PlayListController c(&player);
    EXPECT_EQ(c.currentPlayMode(), 2);

    // A tool keeps its mode to itself.
    c.keepPlayModeInMemory(1);
    c.togglePlayMode();
    EXPECT_EQ(c.currentPlayMode(), 2);
    EXPECT_EQ(UserDefaults::integerForKey(SettingsKeys::ShuffleMode), 6);
}

TEST_F(ControllerTest, PreviousRestartsAfterThreeSecondsAndGoesBackBefore)
{
    PlayableItemPtr a = wav("a.wav", 12), b = wav("b.wav", 12);
    PlayListController c(&player);
    c.setPlayList({a, b});
    player.play(a);
    player.play(b);
    ASSERT_LT(player.currentTime(), 3.0);
    c.previous();
    EXPECT_EQ(player.currentItem(), a);
    EXPECT_EQ(player.previousItem(), b);

    player.seekToTime(8);
    c.previous();
    EXPECT_EQ(player.currentItem(), a);
    EXPECT_LT(player.currentTime(), 3.0);
}

TEST_F(ControllerTest, PlayPauseAndRemoteControlEvents)
{
    PlayableItemPtr a = wav("a.wav", 12), b = wav("b.wav", 12);
    PlayListController c(&player);
    c.keepPlayModeInMemory(0);
    c.setPlayList({a, b});
    int playPause = 0;
    QObject::connect(&c, &PlayListController::playPauseChanged, [&] { playPause++; });

    c.togglePlayPause();   // nothing current: the next item
    EXPECT_EQ(player.currentItem(), a);
    EXPECT_TRUE(player.playing());
    EXPECT_GT(playPause, 0);
    c.togglePlayPause();
    EXPECT_FALSE(player.playing());
    c.onRemoteControl(RemoteControlStop);   // already paused: nothing
    EXPECT_FALSE(player.playing());
    c.onRemoteControl(RemoteControlPlay);
    EXPECT_TRUE(player.playing());
    c.onRemoteControl(RemoteControlPause);
    EXPECT_FALSE(player.playing());
    c.onRemoteControl(RemoteControlTogglePlayPause);
    EXPECT_TRUE(player.playing());
    c.onRemoteControl(RemoteControlNextTrack);
    EXPECT_EQ(player.currentItem(), b);
    c.onRemoteControl(RemoteControlPreviousTrack);
    EXPECT_EQ(player.currentItem(), a);
    c.onRemoteControl(42);
    EXPECT_EQ(player.currentItem(), a);

    // The item playing is no longer listed: play resumes with the list instead.
    c.onRemoteControl(RemoteControlPause);
    c.setPlayList({b});
    c.togglePlayPause();
    EXPECT_EQ(player.currentItem(), b);
    EXPECT_TRUE(player.playing());
}

// A first row that does not open is stepped past from its own row: the list goes on with
// the row after it instead of trying the first row again.
TEST_F(ControllerTest, AFailingFirstRowIsSteppedPast)
{
    LMAudioOutputSelect(("wav-fast:" + docs.file("out.wav")).c_str());
    PlayableItemPtr bad = wav("bad.wav", 1), good = wav("good.wav", 1);
    QFile::remove(doc("bad.wav"));
    player.setFileOpener(&OpenCounter::open);
    PlayListController c(&player);
    c.keepPlayModeInMemory(UserSettings::Loop);
    c.setPlayList({bad, good});
    Recorder rec(player);
    c.togglePlayPause();
    ASSERT_TRUE(lmtest::waitUntil([&] { return rec.count(LMPlayerEventEnded) >= 1; }, 5000));
    EXPECT_EQ(rec.itemTitles().front(), "good");
}

class PlaylistModeTest : public ControllerTest {
protected:
    void SetUp() override
    {
        ControllerTest::SetUp();
        for (const char *name : {"a.wav", "b.wav", "c.wav"})
            writeWav(docs.file(name), 0.5);
        writeImage(docs.path(), "d", 3, {0, 1, 2});
        for (const char *name : {"a.wav", "b.wav", "c.wav", "d.wav"})
            library << item(docs.file(name));
        lmtest::writeFile(docs.file("list.m3u"), "#EXTM3U\na.wav\n" + docs.file("d.wav") + "\nb.wav\n");
        UserDefaults::setInteger(SettingsKeys::Organize, SettingsKeys::OrganizePlaylist);
        UserDefaults::setString(SettingsKeys::CurrentPlaylist, "list.m3u");
    }
    QStringList titles(const PlayListController &c) const
    {
        QStringList t;
        for (const PlayableItemPtr &i : c.playList())
            t << i->title();
        return t;
    }
    QStringList fileLines() const
    {
        QStringList lines = QString::fromStdString(lmtest::readText(docs.file("list.m3u"))).split('\n');
        lines.removeAll(QString());
        return lines;
    }
    PlayableItemList library;
};

TEST_F(PlaylistModeTest, RowsAreEditedThroughThePlaylistFile)
{
    PlayListController c(&player);
    c.setLibraryProvider([this] { return library; });
    c.updatePlayList();
    ASSERT_EQ(titles(c), (QStringList{"a", "Disc", "T1", "T2", "T3", "b"}));
    EXPECT_TRUE(c.showsAddButton());
    EXPECT_EQ(c.title(), "list");

    EXPECT_FALSE(c.canDeleteRow(2));   // a cue track
    EXPECT_FALSE(c.canMoveRow(3));
    EXPECT_TRUE(c.canMoveRow(1));

    c.moveRow(0, 5);   // a below the others
    EXPECT_EQ(titles(c), (QStringList{"Disc", "T1", "T2", "T3", "b", "a"}));
    EXPECT_EQ(fileLines(), (QStringList{doc("d.wav"), doc("b.wav"), doc("a.wav")}));
    c.moveRow(4, 2);   // b into the image's tracks: stays where it is
    EXPECT_EQ(titles(c), (QStringList{"Disc", "T1", "T2", "T3", "b", "a"}));

    EXPECT_TRUE(c.shouldInclude(doc("c.wav")));
    EXPECT_FALSE(c.shouldInclude(doc("a.wav")));   // already listed
    EXPECT_FALSE(c.shouldInclude(doc("C.WAV")));   // the extension as written
    EXPECT_TRUE(c.shouldInclude("/x/y.aiff"));
    EXPECT_FALSE(c.shouldInclude("/x.dir/noext"));
    EXPECT_TRUE(c.addFiles({doc("c.wav")}));
    EXPECT_EQ(titles(c).last(), "c");

    EXPECT_TRUE(c.deleteRow(4));   // b leaves the list, not the disk
    EXPECT_EQ(titles(c), (QStringList{"Disc", "T1", "T2", "T3", "a", "c"}));
    EXPECT_TRUE(QFile::exists(doc("b.wav")));
    EXPECT_FALSE(c.isExcludedItem(library[0]));
    EXPECT_TRUE(c.isExcludedItem(library[1]));

    // A list that cannot be written reports it.
    UserDefaults::setString(SettingsKeys::CurrentPlaylist, doc("missing/list.m3u"));
    EXPECT_FALSE(c.addFiles({doc("b.wav")}));
}

TEST_F(PlaylistModeTest, DeletingInFolderModeRemovesTheFileAndAsksForAScan)
{
    UserDefaults::setInteger(SettingsKeys::Organize, SettingsKeys::OrganizeFolder);
    PlayListController c(&player);
    c.setLibraryProvider([this] { return library; });
    c.updatePlayList();
    EXPECT_EQ(c.title(), "All");
    int scan = 0;
    QObject::connect(&c, &PlayListController::libraryScanRequested, [&] { scan++; });
    ASSERT_EQ(c.playList().first()->title(), "a");
    EXPECT_TRUE(c.deleteRow(0));
    EXPECT_FALSE(QFile::exists(doc("a.wav")));
    EXPECT_EQ(scan, 1);
    EXPECT_FALSE(c.canMoveRow(1));
}

} // namespace
