#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include "fake_audio.h"
#include "library/music_library.h"
#include "platform/core/file_system_object.h"
#include "support/test_support.h"

namespace {

class MusicLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureApp();
        FileSystemObject::setDocumentsDirectory(QString::fromStdString(docs.path()));
    }
    void TearDown() override { FileSystemObject::setDocumentsDirectory(QString()); }
    void mkdir(const std::string &name) { QDir().mkpath(QString::fromStdString(docs.file(name))); }
    QString q(const std::string &name) const { return QString::fromStdString(docs.file(name)); }
    QStringList paths(const PlayableItemList &items)
    {
        QStringList all;
        for (const auto &i : items)
            all << i->path();
        return all;
    }
    // Requests a scan and waits for its completion; answers how many completions came.
    int scan(MusicLibrary &library)
    {
        int done = 0;
        QObject::connect(&library, &MusicLibrary::loadMusicsDone, [&] { done++; });
        library.loadMusics();
        lmtest::waitUntil([&] { return done > 0; }, 10000);
        lmtest::waitUntil([&] { return library.runningScans() == 0; }, 10000);
        lmtest::spin(20);
        QObject::disconnect(&library, &MusicLibrary::loadMusicsDone, nullptr, nullptr);
        return done;
    }

    lmtest::TempDir config;
    lmtest::ScopedEnv env{"XDG_CONFIG_HOME", config.path()};
    lmtest::TempDir docs;
    fakeaudio::Scope audio;
};

TEST_F(MusicLibraryTest, WalkFindsAudioExtensionsInAnyCaseAndAnyFolder)
{
    mkdir("Inbox");
    mkdir("Music/Deep/Deeper");
    mkdir("box.flac");   // a folder, whatever its name
    ASSERT_EQ(mkfifo(docs.file("pipe.flac").c_str(), 0644), 0);   // would block a reader
    for (const char *name : {"B.flac", "a.wav", "c.txt", "song.FLAC", "song.ogg", ".hidden.mp3", "Inbox/in.m4a",
                             "Music/Deep/Deeper/x.Mp3", "box.flac/inside.ape", "noext", "t.wv", "u.AIF", "v.aiff", "w.AIFC"})
        lmtest::writeFile(docs.file(name), "x");
    auto found = MusicLibrary::getAudioFilesInDirectory(q(".").chopped(2), true);
    ASSERT_TRUE(found);
    MusicLibrary::sortPaths(*found);
    EXPECT_EQ(*found, (QStringList{q(".hidden.mp3"), q("a.wav"), q("B.flac"), q("box.flac/inside.ape"),
                                   q("Inbox/in.m4a"), q("Music/Deep/Deeper/x.Mp3"), q("song.FLAC"), q("t.wv"),
                                   q("u.AIF"), q("v.aiff"), q("w.AIFC")}));

    auto flat = MusicLibrary::getAudioFilesInDirectory(q(".").chopped(2), false);
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->size(), 8);
    EXPECT_FALSE(flat->contains(q("box.flac")));

    EXPECT_FALSE(MusicLibrary::getAudioFilesInDirectory(q("missing"), true));
    mkdir("empty");
    EXPECT_TRUE(MusicLibrary::getAudioFilesInDirectory(q("empty"), true)->isEmpty());
}

TEST_F(MusicLibraryTest, LinksBackToAParentDoNotRecurseForever)
{
    mkdir("Music/Sub");
    lmtest::writeFile(docs.file("Music/Sub/a.flac"), "x");
    ASSERT_EQ(symlink(docs.path().c_str(), docs.file("Music/Sub/up").c_str()), 0);
    ASSERT_EQ(symlink(docs.file("Music").c_str(), docs.file("Music/Sub/again").c_str()), 0);
    ASSERT_EQ(symlink(docs.file("nowhere").c_str(), docs.file("dangling.flac").c_str()), 0);
    // A link to a folder not yet walked is followed.
    lmtest::TempDir outside;
    lmtest::writeFile(outside.file("o.wav"), "x");
    ASSERT_EQ(symlink(outside.path().c_str(), docs.file("Linked").c_str()), 0);
    auto found = MusicLibrary::getAudioFilesInDirectory(q(".").chopped(2), true);
    ASSERT_TRUE(found);
    MusicLibrary::sortPaths(*found);
    EXPECT_EQ(*found, (QStringList{q("Linked/o.wav"), q("Music/Sub/a.flac")}));
}

TEST_F(MusicLibraryTest, UnreadableSubfolderAddsNothing)
{
    mkdir("Locked");
    lmtest::writeFile(docs.file("Locked/a.flac"), "x");
    lmtest::writeFile(docs.file("b.flac"), "x");
    // Folder permissions bind only a user without root's powers.
    lmtest::runUnprivileged({docs.path()}, [&] {
        ASSERT_EQ(chmod(docs.file("Locked").c_str(), 0), 0);
        auto found = MusicLibrary::getAudioFilesInDirectory(q(".").chopped(2), true);
        chmod(docs.file("Locked").c_str(), 0755);
        ASSERT_TRUE(found);
        EXPECT_EQ(*found, QStringList{q("b.flac")});
    });
}

TEST_F(MusicLibraryTest, ScanBuildsTheLibraryInPathOrderAndDropsWhatDoesNotOpen)
{
    mkdir("Music");
    audio.add(docs.file("B.flac"));
    audio.add(docs.file("a.wav"));
    audio.add(docs.file("Music/z.mp3"));
    lmtest::writeFile(docs.file("broken.flac"), "not registered: refused");
    lmtest::writeFile(docs.file("c.txt"), "x");
    MusicLibrary library;
    EXPECT_TRUE(library.playableItems().isEmpty());
    EXPECT_EQ(scan(library), 1);
    EXPECT_EQ(paths(library.playableItems()), (QStringList{q("a.wav"), q("B.flac"), q("Music/z.mp3")}));
    EXPECT_EQ(audio.opens(docs.file("broken.flac")), 1);
    EXPECT_EQ(audio.opens(docs.file("c.txt")), 0);

    // A second scan builds new items that match the old ones by value.
    PlayableItemList first = library.playableItems();
    EXPECT_EQ(scan(library), 1);
    PlayableItemList second = library.playableItems();
    ASSERT_EQ(first.size(), second.size());
    for (int i = 0; i < first.size(); i++) {
        EXPECT_NE(first[i].get(), second[i].get());
        EXPECT_TRUE(first[i]->isEqualToItem(second[i]));
    }
}

TEST_F(MusicLibraryTest, OnlyTheNewerOfTwoQuickScansDelivers)
{
    for (int i = 0; i < 30; i++)
        audio.add(docs.file("f" + std::to_string(100 + i) + ".flac"));
    audio.setDelay(20);
    MusicLibrary library;
    int done = 0;
    QObject::connect(&library, &MusicLibrary::loadMusicsDone, [&] { done++; });
    library.loadMusics();
    lmtest::waitUntil([&] { return audio.totalOpens() >= 2; }, 5000);
    library.loadMusics();
    EXPECT_EQ(library.loadId(), 2u);
    ASSERT_TRUE(lmtest::waitUntil([&] { return done > 0; }, 20000));
    ASSERT_TRUE(lmtest::waitUntil([&] { return library.runningScans() == 0; }, 20000));
    lmtest::spin(50);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(library.playableItems().size(), 30);
    // The stale scan stopped after the next item it appended.
    EXPECT_LE(audio.totalOpens(), 30 + 6);
}

TEST_F(MusicLibraryTest, StaleCompletionIsDroppedOnTheMainThread)
{
    audio.add(docs.file("a.flac"));
    MusicLibrary library;
    int done = 0;
    QObject::connect(&library, &MusicLibrary::loadMusicsDone, [&] { done++; });
    library.loadMusicsCore(library.loadId());   // posts its completion
    library.loadMusics();                       // raises the generation before it arrives
    ASSERT_TRUE(lmtest::waitUntil([&] { return done > 0 && library.runningScans() == 0; }, 5000));
    lmtest::spin(50);
    EXPECT_EQ(done, 1);

    // After activation resets the generation, an older scan counts as current again.
    library.resetLoadId();
    EXPECT_FALSE(library.isStale(1));
}

TEST_F(MusicLibraryTest, UnreadableDocumentsFolderKeepsTheLibrary)
{
    audio.add(docs.file("a.flac"));
    MusicLibrary library;
    ASSERT_EQ(scan(library), 1);
    FileSystemObject::setDocumentsDirectory(q("gone"));
    int done = 0;
    QObject::connect(&library, &MusicLibrary::loadMusicsDone, [&] { done++; });
    library.loadMusics();
    ASSERT_TRUE(lmtest::waitUntil([&] { return library.runningScans() == 0; }, 5000));
    lmtest::spin(50);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(library.playableItems().size(), 1);
}

TEST_F(MusicLibraryTest, DestroyingTheLibraryStopsAndJoinsItsScans)
{
    for (int i = 0; i < 50; i++)
        audio.add(docs.file("f" + std::to_string(i) + ".flac"));
    audio.setDelay(10);
    {
        MusicLibrary library;
        library.loadMusics();
        library.loadMusics();
        lmtest::waitUntil([&] { return audio.totalOpens() >= 2; }, 5000);
    }
    int opens = audio.totalOpens();
    EXPECT_LT(opens, 100);
    lmtest::spin(100);
    EXPECT_EQ(audio.totalOpens(), opens);   // nothing runs on after the object is gone
}

} // namespace
