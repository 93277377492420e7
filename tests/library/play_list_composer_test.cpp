#include <QDir>

#include "fake_audio.h"
#include "library/character_encoding.h"
#include "library/music_library.h"
#include "library/play_list_composer.h"
#include "library/playlist_file.h"
#include "library/settings_keys.h"
#include "platform/core/file_system_object.h"
#include "platform/core/user_defaults.h"
#include "support/test_support.h"

namespace {

using namespace SettingsKeys;

class PlayListComposerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FileSystemObject::setDocumentsDirectory(QString::fromStdString(docs.path()));
        for (const char *d : {"Music", "Music2", "Other", "Lists"})
            QDir().mkpath(q(d));
        fakeaudio::Spec s;
        s.artist = "Ann";
        s.album = "First";
        audio.add(docs.file("Music/a.flac"), s);
        audio.add(docs.file("Music/b.flac"), s);
        s.artist = "Bob";
        s.album = "Second";
        audio.add(docs.file("Music2/c.flac"), s);
        s.duration = 600;
        audio.add(docs.file("Other/disc.flac"), s);
        lmtest::writeFile(docs.file("Other/disc.cue"),
                          std::string("TITLE \"Disc\"\nTRACK 01\n INDEX 01 00:00:00\nTRACK 02\n INDEX 01 01:00:00\n"
                                      "TRACK 03\n INDEX 01 02:00:00\n"));
        audio.add(docs.file("Рп.flac"));
        audio.add(docs.file("top.wav"));
        auto files = MusicLibrary::getAudioFilesInDirectory(q(".").chopped(2), true);
        MusicLibrary::sortPaths(*files);
        for (const QString &f : *files)
            if (PlayableItemPtr item = PlayableItem::itemWithPath(f))
                library << item;
    }
    void TearDown() override { FileSystemObject::setDocumentsDirectory(QString()); }
    QString q(const std::string &name) const { return QString::fromStdString(docs.file(name)); }
    QStringList rows()
    {
        composer.updatePlayList(library);
        QStringList all;
        for (const auto &i : composer.playList())
            all << (i->ownFile() ? i->path().mid(int(docs.path().size()) + 1)
                                 : QStringLiteral("  track %1").arg(i->trackNumber()));
        return all;
    }

    lmtest::TempDir config;
    lmtest::ScopedEnv env{"XDG_CONFIG_HOME", config.path()};
    lmtest::TempDir docs;
    fakeaudio::Scope audio;
    PlayableItemList library;
    PlayListComposer composer;
};

TEST_F(PlayListComposerTest, FolderModeIsAPlainPrefixAndImagesBringTheirTracks)
{
    // First launch: the whole documents folder.
    EXPECT_EQ(rows(), (QStringList{"Music/a.flac", "Music/b.flac", "Music2/c.flac", "Other/disc.flac", "  track 1",
                                   "  track 2", "  track 3", "top.wav", "Рп.flac"}));
    EXPECT_FALSE(composer.showsAddButton());
    UserDefaults::setString(CurrentFolder, "");
    EXPECT_EQ(rows().size(), 9);
    // Music also shows Music2: the folder is matched as a string prefix.
    UserDefaults::setString(CurrentFolder, "Music");
    EXPECT_EQ(rows(), (QStringList{"Music/a.flac", "Music/b.flac", "Music2/c.flac"}));
    UserDefaults::setString(CurrentFolder, "Music/");
    EXPECT_EQ(rows(), (QStringList{"Music/a.flac", "Music/b.flac"}));
    UserDefaults::setString(CurrentFolder, q("Other"));   // absolute
    EXPECT_EQ(rows(), (QStringList{"Other/disc.flac", "  track 1", "  track 2", "  track 3"}));
    UserDefaults::setString(CurrentFolder, "Missing");
    EXPECT_TRUE(rows().isEmpty());
}

TEST_F(PlayListComposerTest, ArtistAlbumFileAndUnknownModes)
{
    UserDefaults::setInteger(Organize, OrganizeArtist);
    EXPECT_TRUE(rows().isEmpty());   // no artist chosen
    UserDefaults::setString(CurrentArtist, "Ann");
    EXPECT_EQ(rows(), (QStringList{"Music/a.flac", "Music/b.flac"}));
    UserDefaults::setInteger(Organize, OrganizeAlbum);
    UserDefaults::setString(CurrentAlbum, "Disc");   // the sheet's disc title overrides the tag
    EXPECT_EQ(rows(), (QStringList{"Other/disc.flac", "  track 1", "  track 2", "  track 3"}));
    UserDefaults::setString(CurrentAlbum, "Second");
    EXPECT_EQ(rows(), QStringList{"Music2/c.flac"});
    UserDefaults::setInteger(Organize, OrganizeFile);
    EXPECT_TRUE(rows().isEmpty());
    UserDefaults::setString(CurrentFile, q("top.wav"));
    EXPECT_EQ(rows(), QStringList{"top.wav"});
    UserDefaults::setInteger(Organize, 7);
    EXPECT_TRUE(rows().isEmpty());
}

TEST_F(PlayListComposerTest, PlaylistModeKeepsFileOrderDropsDuplicatesAndMissingFiles)
{
    lmtest::writeFile(docs.file("Mix.m3u"), "#EXTM3U\r\n#EXTINF:1,x\r\n"
                                            "Music2/c.flac\r\n" +
                                                docs.file("top.wav") + "\r\n"
                                                "Music/missing.flac\r\n"
                                                "./Music2/c.flac\r\n"
                                                "Other/disc.flac\r\n"
                                                "Music/a.flac \r\n"   // trailing blank: no such file
                                                "Рп.flac\r\n");
    UserDefaults::setInteger(Organize, OrganizePlaylist);
    UserDefaults::setString(CurrentPlaylist, "Mix.m3u");
    EXPECT_EQ(rows(), (QStringList{"Music2/c.flac", "top.wav", "Other/disc.flac", "  track 1", "  track 2",
                                   "  track 3", "Рп.flac"}));
    EXPECT_TRUE(composer.showsAddButton());
    EXPECT_EQ(composer.m3uItems(),
              (QStringList{q("Music2/c.flac"), q("top.wav"), q("Other/disc.flac"), q("Рп.flac")}));
    EXPECT_EQ(composer.m3uItemsLookup().size(), 4);
    EXPECT_EQ(composer.entryPositionOfRow(6), 3);   // rows 0..5 hold three whole files

    UserDefaults::setString(CurrentPlaylist, "Missing.m3u");
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_TRUE(composer.m3uItems().isEmpty());
}

TEST_F(PlayListComposerTest, PlaylistEntriesInALegacyEncodingAndInASubfolder)
{
    // A list written elsewhere in CP1251 names the file "Рп.flac".
    lmtest::writeFile(docs.file("Lists/ru.m3u"), std::string("../\xd0\xef.flac\n"));
    UserDefaults::setInteger(Organize, OrganizePlaylist);
    UserDefaults::setString(CurrentPlaylist, "Lists/ru.m3u");
    UserDefaults::setInteger(PreferedEnc, CharacterEncoding::Russian);
    EXPECT_EQ(rows(), QStringList{"Рп.flac"});
    UserDefaults::setInteger(PreferedEnc, CharacterEncoding::Western);
    EXPECT_TRUE(rows().isEmpty());
    lmtest::writeFile(docs.file("Lists/ok.m3u"), std::string("../Music/b.flac\n" + docs.file("Music/a.flac") + "\n"));
    UserDefaults::setString(CurrentPlaylist, "Lists/ok.m3u");
    EXPECT_EQ(rows(), (QStringList{"Music/b.flac", "Music/a.flac"}));
    EXPECT_EQ(PlayListComposer::directoryOfPlaylistFile("Lists/ok.m3u"), q("Lists"));
    EXPECT_EQ(PlayListComposer::directoryOfPlaylistFile("ok.m3u"), q(".").chopped(2));
    EXPECT_EQ(PlayListComposer::directoryOfPlaylistFile("/abs/x.m3u"), "/abs");
}

TEST_F(PlayListComposerTest, EditingRewritesOnlyAbsoluteLibraryPaths)
{
    UserDefaults::setInteger(Organize, OrganizePlaylist);
    UserDefaults::setString(CurrentPlaylist, "New.m3u");
    ASSERT_EQ(PlaylistStore::create("New"), PlaylistStore::Done);
    EXPECT_TRUE(rows().isEmpty());
    ASSERT_TRUE(composer.addFiles({q("Music/a.flac"), q("top.wav")}));
    EXPECT_EQ(lmtest::readText(docs.file("New.m3u")), "\n" + docs.file("Music/a.flac") + "\n" + docs.file("top.wav") + "\n");

    lmtest::writeFile(docs.file("New.m3u"), "Music/a.flac\nMusic/gone.flac\ntop.wav\nMusic2/c.flac\n");
    EXPECT_EQ(rows(), (QStringList{"Music/a.flac", "top.wav", "Music2/c.flac"}));
    ASSERT_TRUE(composer.removeItemFromPlaylist(composer.playList()[1].get()));
    EXPECT_EQ(lmtest::readText(docs.file("New.m3u")),
              "\n" + docs.file("Music/a.flac") + "\n" + docs.file("Music2/c.flac") + "\n");
    EXPECT_EQ(rows(), (QStringList{"Music/a.flac", "Music2/c.flac"}));

    ASSERT_TRUE(composer.moveEntry(0, 5));
    EXPECT_EQ(rows(), (QStringList{"Music2/c.flac", "Music/a.flac"}));
    EXPECT_FALSE(composer.moveEntry(7, 0));

    UserDefaults::removeObjectForKey(CurrentPlaylist);
    EXPECT_FALSE(composer.addFiles({q("top.wav")}));
}

} // namespace
