// The main play list over a real temporary library and the real player (wav-fast output):
// first through its controller, then through its view by tapping.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include "library/settings_keys.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/core/now_playing.h"
#include "platform/core/user_defaults.h"
#include "player/play_list_controller.h"
#include "ui/alerts.h"
#include "ui/navigation_controller.h"
#include "ui/organize_view_controller.h"
#include "ui/presenter.h"
#include "ui/screen_factory.h"
#include "ui/ui_support.h"

using namespace SettingsKeys;

namespace {

class RootViewTest : public uitest::UiFixture {
protected:
    // a.wav (3 s) and an image with three cue tracks.
    void writeLibrary()
    {
        writeWav("a.wav", 3);
        writeWav("disc.wav", 9);
        lmtest::writeFile(docs.file("disc.cue"), "FILE \"disc.wav\" WAVE\n"
                                                 "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                                                 "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 00:03:00\n"
                                                 "  TRACK 03 AUDIO\n    TITLE \"Three\"\n    INDEX 01 00:06:00\n");
    }
    const TableRow *row(int i) const { return root()->table()->row(0, i); }
    QStringList titles() const
    {
        QStringList out;
        for (const TableRow &r : root()->table()->sections().value(0).rows)
            out << r.title;
        return out;
    }
};

TEST_F(RootViewTest, RowsShowTheirDetailsAndIndentation)
{
    writeLibrary();
    for (bool tablet : {false, true}) {
        launch(tablet);
        ASSERT_TRUE(scan());
        EXPECT_EQ(titles(), (QStringList{"a", "disc", "One", "Two", "Three"}));
        EXPECT_EQ(row(0)->detail, "00:03, a.wav");
        EXPECT_EQ(row(1)->detail, "00:09, disc.wav");
        EXPECT_EQ(row(3)->detail, "Track 02, 00:03");
        EXPECT_EQ(row(0)->indentation, tablet ? 1 : 0);
        EXPECT_EQ(row(2)->indentation, tablet ? 3 : 2);
        EXPECT_EQ(root()->rowHeight(), tablet ? 64 : 52);
        EXPECT_TRUE(row(0)->bold);
        EXPECT_EQ(row(0)->titleSize, 18);
        // Only whole files can be deleted; nothing moves outside play list mode.
        EXPECT_TRUE(row(1)->canDelete);
        EXPECT_FALSE(row(2)->canDelete);
        EXPECT_FALSE(row(1)->canMove);
        EXPECT_EQ(root()->title(), "All");
        mainWindow.reset();
        ui.reset();
        delegate.reset();
        player.reset();
    }
}

TEST_F(RootViewTest, ATapPlaysTheRowAndMarksIt)
{
    writeLibrary();
    launch();
    ASSERT_TRUE(scan());
    EXPECT_EQ(root()->rightButton(), nullptr);  // nothing current: no now-playing button
    LMAudioOutputSelect("null");  // real-time pace: the item stays current
    root()->tapRow(0, 1);          // the image plays its first track
    ASSERT_TRUE(lmtest::waitUntil([&] { return player->playing(); }, 3000));
    ASSERT_TRUE(player->currentItem());
    EXPECT_EQ(player->currentItem()->title(), "One");
    ASSERT_TRUE(lmtest::waitUntil([&] { return !row(2)->marker.isEmpty(); }, 2000));
    EXPECT_TRUE(row(1)->marker.isEmpty());
    EXPECT_EQ(root()->table()->selectedIndex(), 2);
    ASSERT_NE(root()->rightButton(), nullptr);
    EXPECT_EQ(root()->rightButton()->accessibleName(), "Now playing");
    EXPECT_EQ(root()->playPauseImage(), "pause-small");
    root()->togglePlayPause();
    ASSERT_TRUE(lmtest::waitUntil([&] { return root()->rightButton()->accessibleName() == "Paused"; }, 2000));
    EXPECT_EQ(root()->rightButton()->image(), "paused");
    EXPECT_EQ(root()->playPauseImage(), "play-small");
}

TEST_F(RootViewTest, ThePlayModeButtonCyclesFourModes)
{
    launch();
    QStringList names, images;
    for (int i = 0; i < 4; i++) {
        root()->togglePlayMode();
        names << root()->playModeName();
        images << root()->playModeImage();
        EXPECT_EQ(UserDefaults::integerForKey(ShuffleMode), (i + 1) % 4);
    }
    EXPECT_EQ(names, (QStringList{"Shuffle", "Loop", "Single track loop", "Play to end of list"}));
    EXPECT_EQ(images, (QStringList{"loopshuffle", "loop", "loop1", "loopnot"}));
}

TEST_F(RootViewTest, DeletingInFolderModeRemovesTheFileAndRescans)
{
    writeLibrary();
    launch();
    ASSERT_TRUE(scan());
    const int before = scans;
    root()->deleteRow(0, 2);  // a cue track: refused
    EXPECT_TRUE(QFile::exists(doc("disc.wav")));
    root()->deleteRow(0, 0);
    EXPECT_FALSE(QFile::exists(doc("a.wav")));
    ASSERT_TRUE(lmtest::waitUntil([&] { return scans > before; }, 5000));
    EXPECT_EQ(titles(), (QStringList{"disc", "One", "Two", "Three"}));
}

TEST_F(RootViewTest, PlayListModeAddsAndMovesThroughTheListFile)
{
    writeWav("a.wav", 1);
    writeWav("b.wav", 1);
    writeWav("c.wav", 1);
    lmtest::writeFile(docs.file("Mix.m3u"), "a.wav\nb.wav\nc.wav\n");
    UserDefaults::setInteger(Organize, OrganizePlaylist);
    UserDefaults::setString(CurrentPlaylist, "Mix.m3u");
    launch();
    ASSERT_TRUE(scan());
    EXPECT_EQ(root()->title(), "Mix");
    EXPECT_TRUE(root()->addVisible());
    EXPECT_TRUE(row(0)->canMove);
    root()->moveRow(0, 0, 2);
    QStringList entries;
    for (const QString &line : QString::fromStdString(lmtest::readText(docs.file("Mix.m3u"))).split('\n'))
        if (!line.isEmpty())
            entries << line.mid(line.lastIndexOf('/') + 1);
    EXPECT_EQ(entries, (QStringList{"b.wav", "c.wav", "a.wav"}));
    EXPECT_EQ(titles(), (QStringList{"b", "c", "a"}));
    root()->deleteRow(0, 0);  // removes the entry, never the file
    EXPECT_TRUE(QFile::exists(doc("b.wav")));
    EXPECT_EQ(titles(), (QStringList{"c", "a"}));

    // The add button opens the file chooser as a sheet, when one is registered.
    ScreenFactory::add("FileChooser", [](UiContext *c, const QVariantMap &) { return new ScreenController(c); });
    root()->addItem();
    EXPECT_EQ(ui->presenter()->count(), 1);
    ScreenFactory::remove("FileChooser");

    UserDefaults::setInteger(Organize, OrganizeFolder);
    delegate->playListController()->updatePlayList();
    EXPECT_FALSE(root()->addVisible());
}

TEST_F(RootViewTest, AThemeChangeRecoloursTheRows)
{
    writeLibrary();
    UserDefaults::setString(CurrentTheme, "Plain.thm");
    launch();
    ASSERT_TRUE(scan());
    const QColor plain = row(0)->titleColor;
    UserDefaults::setString(CurrentTheme, "Night.thm");
    delegate->onThemeChange();
    EXPECT_EQ(root()->theme()->name(), "Night.thm");
    EXPECT_NE(row(0)->titleColor, plain);
    EXPECT_EQ(row(0)->titleColor, QColor(232, 232, 236));
    EXPECT_EQ(root()->listBackgroundColor(), QColor(22, 22, 28));
}

TEST_F(RootViewTest, TheOrganizeMenuOpensItsScreensByName)
{
    UserDefaults::setInteger(Organize, OrganizeArtist);
    UserDefaults::setString(CurrentArtist, "Aster Vale");
    launch();
    QUrl opened;
    ui->setUrlOpener([&](const QUrl &u) {
        opened = u;
        return true;
    });
    root()->showOrganize();
    NavigationController *menu = root()->organizeNavigation();
    ASSERT_TRUE(ui->presenter()->isPresented(menu));
    auto *organize = qobject_cast<OrganizeViewController *>(menu->top());
    ASSERT_NE(organize, nullptr);
    EXPECT_EQ(organize->table()->row(0, 1)->detail, "Aster Vale");
    EXPECT_EQ(organize->table()->row(0, 2)->detail, "");
    organize->tapRow(0, OrganizeViewController::HelpRow);
    EXPECT_TRUE(opened.toLocalFile().endsWith("/help/index.html"));
    ScreenFactory::remove("Settings");
    organize->tapRow(0, OrganizeViewController::SettingsRow);  // nothing registered: nothing happens
    EXPECT_EQ(menu->depth(), 1);
    ScreenFactory::add("Settings", [](UiContext *c, const QVariantMap &) { return new ScreenController(c); });
    organize->tapRow(0, OrganizeViewController::SettingsRow);
    EXPECT_EQ(menu->depth(), 2);
    ScreenFactory::remove("Settings");
    ScreenFactory::registerBuiltInScreens();
    ASSERT_NE(organize->rightButton(), nullptr);  // phone: the way back
    EXPECT_EQ(organize->rightButton()->accessibleName(), "Back to playing list");
    organize->rightButton()->trigger();
    EXPECT_FALSE(ui->presenter()->isPresented(menu));
}

// The views, driven by taps as a finger would.
TEST_F(RootViewTest, TheWindowPlaysATappedRowAndOpensTheMenu)
{
    writeLibrary();
    for (bool tablet : {false, true}) {
        LMAudioOutputSelect("null");  // real time: nothing ends while the test looks
        launch(tablet, true);
        ASSERT_NE(window(), nullptr);
        ASSERT_TRUE(scan());
        settle(100);
        QStringList played;
        QObject::connect(delegate->playListController(), &PlayListController::itemChanged, [&](int) {
            if (player->currentItem())
                played << player->currentItem()->title();
        });
        ASSERT_TRUE(tap("cell_0_0"));
        ASSERT_TRUE(lmtest::waitUntil([&] { return !played.isEmpty(); }, 3000));
        EXPECT_EQ(played.first(), "a");
        const bool wasPlaying = player->playing();
        ASSERT_TRUE(tap("playPauseButton"));
        EXPECT_NE(player->playing(), wasPlaying);

        ASSERT_TRUE(tap("organizeButton"));
        settle(100);
        EXPECT_TRUE(ui->presenter()->isPresented(root()->organizeNavigation()));
        EXPECT_NE(item(tablet ? "popoverFrame" : "modalFrame"), nullptr);
        // A phone closes the menu with its button, a tablet with a tap outside the popover.
        ASSERT_TRUE(tablet ? tap("playList") : tap("organizeBackButton"));
        EXPECT_FALSE(ui->presenter()->isPresented(root()->organizeNavigation()));
        AlertConfirm::show("Are you sure?", "", {});
        settle(100);
        ASSERT_NE(item("alertButton1"), nullptr);
        ASSERT_TRUE(tap("alertButton1"));
        EXPECT_EQ(ui->alerts()->count(), 0);

        ASSERT_TRUE(tap("playModeButton"));
        EXPECT_EQ(UserDefaults::integerForKey(ShuffleMode), 1);
        UserDefaults::removeObjectForKey(ShuffleMode);
        mainWindow.reset();
        ui.reset();
        delegate.reset();
        player.reset();
    }
}

TEST_F(RootViewTest, EditModeDeletesInTwoSteps)
{
    writeLibrary();
    launch(false, true);
    ASSERT_TRUE(scan());
    settle(100);
    ASSERT_TRUE(tap("editButton"));
    EXPECT_TRUE(root()->editing());
    ASSERT_TRUE(tap(item("deleteControl")));
    EXPECT_TRUE(QFile::exists(doc("a.wav")));  // the first step only asks
    ASSERT_TRUE(tap("deleteButton"));
    EXPECT_FALSE(QFile::exists(doc("a.wav")));
}

// A cell the list takes up again for another row must not bring the first row's
// half-done delete with it: one more tap would delete the other row's file.
TEST_F(RootViewTest, AHalfDoneDeleteStaysWithItsRow)
{
    for (int i = 0; i < 40; i++)
        writeWav((i < 10 ? "0" : "") + std::to_string(i) + ".wav", 1);
    launch(false, true);
    ASSERT_TRUE(scan());
    settle(100);
    ASSERT_TRUE(tap("editButton"));
    ASSERT_TRUE(tap(item("deleteControl")));
    ASSERT_NE(item("deleteButton"), nullptr);
    QQuickItem *list = item("playList");
    ASSERT_NE(list, nullptr);
    const double end = list->property("contentHeight").toDouble() - list->height();
    ASSERT_GT(end, list->height());
    for (double y = 0; y <= end; y += list->height() / 2) {
        list->setProperty("contentY", y);
        settle(20);
    }
    EXPECT_EQ(item("deleteButton"), nullptr);
    list->setProperty("contentY", 0);
    settle(50);
    EXPECT_EQ(item("deleteButton"), nullptr);
    EXPECT_EQ(QDir(QString::fromStdString(docs.path())).entryList({"*.wav"}).size(), 40);
}

} // namespace

namespace {

class WindowControlTest : public uitest::UiFixture {};

// Media keys reach the play list once, window or not: one "next" is one item.
TEST_F(WindowControlTest, RemoteNextAndKeysActOnce)
{
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        writeWav(name, 40);
    LMAudioOutputSelect("null");
    launch(false, true);
    ASSERT_TRUE(scan());
    root()->tapRow(0, 0);
    ASSERT_TRUE(lmtest::waitUntil([&] { return player->playing(); }, 3000));
    NowPlaying::shared()->receive(RemoteControlNextTrack);
    ASSERT_TRUE(lmtest::waitUntil([&] { return player->currentItem()->title() != "a"; }, 3000));
    settle(300);
    EXPECT_EQ(player->currentItem()->title(), "b");

    const double before = player->currentTime();
    QTest::keyClick(window(), Qt::Key_Right);
    ASSERT_TRUE(lmtest::waitUntil([&] { return player->currentTime() >= before + 9; }, 3000));
    QTest::keyClick(window(), Qt::Key_Space);
    ASSERT_TRUE(lmtest::waitUntil([&] { return !player->playing(); }, 3000));
}

} // namespace
