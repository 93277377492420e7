// The file chooser, the album and artist choosers and the play lists screen over real
// temporary libraries, through their controllers.
#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "player/play_list_controller.h"
#include "ui/album_chooser.h"
#include "ui/browse_fixture.h"
#include "ui/lm_file_chooser.h"
#include "ui/navigation_controller.h"
#include "ui/organize_view_controller.h"
#include "ui/playlists_view_controller.h"
#include "ui/presenter.h"
#include "ui/sample_library.h"

using namespace SettingsKeys;

namespace {

class LibraryChoosersTest : public uitest::BrowseFixture {
protected:
    // The organize menu's row `row`, opened.
    ScreenController *openFromMenu(int row)
    {
        root()->showOrganize();
        root()->organizeNavigation()->popToRoot(false);
        root()->organizeNavigation()->top()->tapRow(0, row);
        return root()->organizeNavigation()->top();
    }
    NavigationController *presented() const
    {
        const QList<QObject *> all = ui->presenter()->presentations();
        return all.isEmpty() ? nullptr : qobject_cast<Presentation *>(all.last())->navigation();
    }
    QStringList entries(const QString &list) const
    {
        QStringList out;
        for (const QString &line : QString::fromStdString(lmtest::readText(docs.file(list.toStdString()))).split('\n'))
            if (!line.isEmpty())
                out << line;
        return out;
    }
    static QList<bool> enabled(ScreenController *screen)
    {
        QList<bool> out;
        for (const TableRow &r : screen->table()->sections().value(0).rows)
            out << r.enabled;
        return out;
    }
};

TEST_F(LibraryChoosersTest, TheChooserAddsTheTickedFilesInListOrderAndGreysThem)
{
    mkdir("sub");
    mkdir("sub2");
    for (const char *f : {"c.wav", "a.wav", "b.wav", "in.wav", "sub/d.wav"})
        writeWav(f, 1);
    touch("notes.txt");
    lmtest::writeFile(docs.file("Mix.m3u"), "in.wav\n");
    UserDefaults::setInteger(Organize, OrganizePlaylist);
    UserDefaults::setString(CurrentPlaylist, "Mix.m3u");
    launch();
    ASSERT_TRUE(scan());
    root()->addItem();  // the main list's add button
    ASSERT_NE(presented(), nullptr);
    auto *chooser = qobject_cast<LMFileChooser *>(presented()->top());
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(chooser->delegate(), delegate->playListController());
    EXPECT_EQ(chooser->title(), "All");
    EXPECT_EQ(titles(chooser),
              (QStringList{"sub", "sub2", "a.wav", "b.wav", "c.wav", "in.wav", "Mix.m3u", "notes.txt"}));
    // Files already listed, and files that are no audio, are grey.
    EXPECT_EQ(enabled(chooser), (QList<bool>{true, true, true, true, true, false, false, false}));
    ASSERT_NE(chooser->leftButton(), nullptr);
    EXPECT_EQ(chooser->leftButton()->text(), "Done");
    EXPECT_EQ(chooser->addButton()->text(), "Add");
    EXPECT_FALSE(chooser->addButton()->enabled());
    chooser->tapRow(0, 5);  // grey: nothing
    EXPECT_EQ(chooser->selectedCount(), 0);
    chooser->tapRow(0, 2);
    chooser->tapRow(0, 2);

    EXPECT_EQ(ui->announcement(), "");  // announced only while a screen reader runs
    ui->setScreenReaderCheck([] { return true; });
    chooser->onSelectAll();
    EXPECT_EQ(chooser->selectedCount(), 3);
    EXPECT_EQ(chooser->addButton()->text(), "Add(3)");
    EXPECT_TRUE(chooser->addButton()->enabled());
    EXPECT_EQ(ui->announcement(), "3 to add\n");
    chooser->onAdd();
    EXPECT_EQ(entries("Mix.m3u"), (QStringList{"in.wav", doc("a.wav"), doc("b.wav"), doc("c.wav")}));
    EXPECT_EQ(ui->announcement(), "Added 3\n");
    EXPECT_EQ(chooser->selectedCount(), 0);
    EXPECT_EQ(chooser->addButton()->text(), "Add");
    EXPECT_EQ(enabled(chooser), (QList<bool>{true, true, false, false, false, false, false, false}));
    EXPECT_EQ(root()->table()->rowsInSection(0), 4);

    // Each folder level ticks on its own.
    chooser->tapRow(0, 0);
    auto *sub = qobject_cast<LMFileChooser *>(presented()->top());
    ASSERT_NE(sub, chooser);
    EXPECT_EQ(sub->title(), "sub");
    EXPECT_EQ(sub->leftButton(), nullptr);  // the stack's back button
    sub->tapRow(0, 0);
    EXPECT_EQ(sub->selectedItems(), QStringList{doc("sub/d.wav")});
    EXPECT_EQ(chooser->selectedCount(), 0);
    sub->tapRow(0, 0);
    EXPECT_EQ(sub->selectedCount(), 0);
    sub->goBack();
    chooser->leftButton()->trigger();
    EXPECT_EQ(ui->presenter()->count(), 0);
}

TEST_F(LibraryChoosersTest, AlbumsCountTracksOfFilesAndImagesAndSwitchTheMainList)
{
    for (const char *f : {"x1.wav", "x2.wav"})
        ASSERT_TRUE(SampleLibrary::writeWav(doc(f), 1, f, "Aster Vale", "X", 1));
    ASSERT_TRUE(SampleLibrary::writeWav(doc("y.wav"), 1, "y", "", "Y", 1));
    ASSERT_TRUE(SampleLibrary::writeWav(doc("plain.wav"), 1, "", "", "", 0));
    std::string cue = "TITLE \"X\"\nFILE \"disc.wav\" WAVE\n";
    for (int i = 1; i <= 12; i++)
        cue += "  TRACK " + std::to_string(i) + " AUDIO\n    INDEX 01 00:" + std::to_string(i * 2) + ":00\n";
    ASSERT_TRUE(SampleLibrary::writeWav(doc("disc.wav"), 30, "", "", "", 0));
    lmtest::writeFile(docs.file("disc.cue"), cue);
    launch();
    ASSERT_TRUE(scan());
    auto *albums = qobject_cast<AlbumChooser *>(openFromMenu(OrganizeViewController::AlbumsRow));
    ASSERT_NE(albums, nullptr);
    EXPECT_EQ(albums->title(), "Albums");
    EXPECT_EQ(titles(albums), (QStringList{"X", "Y"}));
    EXPECT_EQ(albums->table()->row(0, 0)->detail, "14 Tracks");
    EXPECT_EQ(albums->table()->row(0, 1)->detail, "1 Tracks");
    EXPECT_EQ(albums->table()->row(0, 0)->accessory, CellAccessory::None);
    EXPECT_EQ(albums->rowHeight(), 52);
    albums->tapRow(0, 0);
    EXPECT_EQ(UserDefaults::integerForKey(Organize), OrganizeAlbum);
    EXPECT_EQ(UserDefaults::stringForKey(CurrentAlbum), "X");
    EXPECT_EQ(ui->presenter()->count(), 0);  // a phone shows the list at once
    EXPECT_EQ(root()->title(), "X");
    EXPECT_EQ(root()->table()->rowsInSection(0), 15);  // the image and its tracks, two files
    albums = qobject_cast<AlbumChooser *>(openFromMenu(OrganizeViewController::AlbumsRow));
    EXPECT_EQ(albums->table()->row(0, 0)->accessory, CellAccessory::Checkmark);

    ScreenController *artists = openFromMenu(OrganizeViewController::ArtistsRow);
    EXPECT_EQ(artists->title(), "Artists");
    EXPECT_EQ(titles(artists), QStringList{"Aster Vale"});  // untagged files are left out
    EXPECT_EQ(artists->table()->row(0, 0)->detail, "2 Tracks");
    EXPECT_EQ(artists->table()->row(0, 0)->accessory, CellAccessory::None);
}

TEST_F(LibraryChoosersTest, PlayListsAreAddedRenamedChosenAndDeletedByName)
{
    mkdir("Live.m3u");
    touch("Live.m3u/inner.wav");
    launch();
    auto *lists = qobject_cast<PlaylistsViewController *>(openFromMenu(OrganizeViewController::PlaylistsRow));
    ASSERT_NE(lists, nullptr);
    EXPECT_EQ(lists->title(), "Playlists");
    EXPECT_TRUE(titles(lists).isEmpty());  // a folder is no play list
    QList<bool> buttons;
    for (QObject *o : lists->toolbarItems())
        if (!qobject_cast<BarButton *>(o)->flexibleSpace())
            buttons << qobject_cast<BarButton *>(o)->enabled();
    EXPECT_EQ(buttons, (QList<bool>{true, false, false}));  // only Add

    lists->addPlaylist();
    ASSERT_NE(ui->alerts()->current(), nullptr);
    EXPECT_EQ(ui->alerts()->current()->enteredText(), "My Playlist");
    answerAlert(1);
    lists->createPlaylist("My Playlist");
    EXPECT_EQ(answerAlert(), "File already exists");
    lists->createPlaylist("b-list");
    EXPECT_EQ(titles(lists), (QStringList{"b-list", "My Playlist"}));
    lists->createPlaylist("");
    EXPECT_EQ(ui->alerts()->count(), 0);
    for (const QString &name : hostileNames()) {
        lists->createPlaylist(name);
        EXPECT_EQ(answerAlert(), "Invalid name") << qPrintable(name);
    }

    lists->renamePlaylist();
    EXPECT_EQ(lists->mode(), PlaylistsViewController::Renaming);
    ASSERT_FALSE(lists->toolbarItems().isEmpty());
    EXPECT_TRUE(qobject_cast<BarButton *>(lists->toolbarItems().first())->isLabel());
    lists->tapRow(0, 1);
    EXPECT_EQ(ui->alerts()->current()->enteredText(), "My Playlist");
    EXPECT_EQ(answerAlert(1, "b-list"), "Rename");
    EXPECT_EQ(answerAlert(), "File already exists");
    EXPECT_TRUE(exists("My Playlist.m3u") && exists("b-list.m3u"));
    for (const QString &name : hostileNames()) {
        lists->renameSelectedPlaylist(name);
        EXPECT_EQ(answerAlert(), "Invalid name") << qPrintable(name);
    }
    expectNothingOutside();
    EXPECT_EQ(lists->mode(), PlaylistsViewController::Renaming);
    lists->renameSelectedPlaylist("Evening");
    EXPECT_TRUE(exists("Evening.m3u"));
    EXPECT_FALSE(exists("My Playlist.m3u"));
    EXPECT_EQ(lists->mode(), PlaylistsViewController::Normal);
    EXPECT_EQ(titles(lists), (QStringList{"b-list", "Evening"}));

    lists->tapRow(0, 1);  // chosen: the main list shows it
    EXPECT_EQ(UserDefaults::integerForKey(Organize), OrganizePlaylist);
    EXPECT_EQ(UserDefaults::stringForKey(CurrentPlaylist), "Evening.m3u");
    EXPECT_EQ(root()->title(), "Evening");
    EXPECT_EQ(lists->table()->row(0, 1)->accessory, CellAccessory::Checkmark);
    lists->renamePlaylist();
    lists->renameSelectedPlaylist("Night");  // the main list goes with it
    EXPECT_EQ(UserDefaults::stringForKey(CurrentPlaylist), "Night.m3u");
    EXPECT_EQ(root()->title(), "Night");
    EXPECT_EQ(lists->table()->row(0, 1)->accessory, CellAccessory::Checkmark);

    lists->editPlaylists();
    EXPECT_TRUE(lists->table()->editing());
    EXPECT_TRUE(lists->table()->row(0, 0)->canDelete);
    lists->deleteRow(0, 0);
    EXPECT_FALSE(exists("b-list.m3u"));
    EXPECT_EQ(titles(lists), QStringList{"Night"});
    EXPECT_TRUE(exists("Live.m3u/inner.wav"));
    lists->cancelEditing();
    EXPECT_FALSE(lists->table()->editing());
    EXPECT_FALSE(lists->table()->row(0, 0)->canDelete);
}

} // namespace
