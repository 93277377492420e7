// The now-playing screen over a real temporary library and the real player: first through
// its controller, then through its view by taps and drags.
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QSignalSpy>
#include <QTest>

#include "library/settings_keys.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/audio_queue/output_volume.h"
#include "platform/core/user_defaults.h"
#include "player/play_list_controller.h"
#include "ui/lrc_view.h"
#include "ui/navigation_controller.h"
#include "ui/playing_view_controller.h"
#include "ui/sample_library.h"
#include "ui/ui_support.h"

using namespace SettingsKeys;

namespace {

class PlayingViewTest : public uitest::UiFixture {
protected:
    void TearDown() override
    {
        LMOutputVolumeSet(1.0f);
        UiFixture::TearDown();
    }
    // Silent (sparse) tagged WAV files of any length.
    void writeTagged(const std::string &name, double seconds, const QString &title, const QString &album = QString())
    {
        ASSERT_TRUE(SampleLibrary::writeWav(doc(name), seconds, title, QStringLiteral("Someone"), album, 1));
    }
    // A 1000-second image with tracks at 0, 600 and 900 s.
    void writeImage()
    {
        ASSERT_TRUE(SampleLibrary::writeWav(doc("live.wav"), 1000, QString(), QString(), QString(), 0));
        lmtest::writeFile(docs.file("live.cue"), "FILE \"live.wav\" WAVE\n"
                                                 "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                                                 "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 10:00:00\n"
                                                 "  TRACK 03 AUDIO\n    TITLE \"Three\"\n    INDEX 01 15:00:00\n");
    }
    PlayableItemPtr itemTitled(const QString &title) const
    {
        for (const PlayableItemPtr &item : delegate->playListController()->playList())
            if (item->title() == title)
                return item;
        return nullptr;
    }
    // Makes `title` current at `seconds` into its file (paused) and shows now playing.
    PlayingViewController *showAt(const QString &title, double seconds)
    {
        const PlayableItemPtr item = itemTitled(title);
        if (!item)
            return nullptr;
        player->restoreItem(item, seconds);
        root()->showNowPlaying();
        settle(20);
        return qobject_cast<PlayingViewController *>(ui->rootNavigation()->top());
    }
    // "Song" of `album` in the folder `folder`, shown in now playing; null on failure.
    PlayingViewController *showSongIn(const std::string &folder, const QString &album)
    {
        QDir().mkpath(doc(folder));
        if (!SampleLibrary::writeWav(doc(folder + "/song.wav"), 10, "Song", "Someone", album, 1))
            return nullptr;
        launch();
        return scan() ? showAt("Song", 0) : nullptr;
    }
};

TEST_F(PlayingViewTest, ACueTrackCountsFromItsStartWithinItsLength)
{
    writeImage();
    launch();
    ASSERT_TRUE(scan());
    PlayingViewController *c = showAt("Two", 630);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->title(), "Two");
    EXPECT_EQ(c->elapsedText(), "00:30");
    EXPECT_EQ(c->remainingText(), "-04:30");
    EXPECT_DOUBLE_EQ(c->progress(), 0.1);
    EXPECT_EQ(c->totalSeconds(), 300);
    // The decoder before the track or past its end never shows negative times.
    player->seekToTime(590);
    c->updateProgress();
    EXPECT_EQ(c->elapsedText(), "00:00");
    EXPECT_EQ(c->remainingText(), "-05:00");
    player->seekToTime(950);
    c->updateProgress();
    EXPECT_EQ(c->elapsedText(), "05:00");
    EXPECT_EQ(c->remainingText(), "-00:00");
}

TEST_F(PlayingViewTest, StepBackStopsAtTheTrackStartAndUsesTheStoredStep)
{
    writeImage();
    launch();
    ASSERT_TRUE(scan());
    PlayingViewController *c = showAt("Two", 610);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->backStep(), 30);
    c->playBack();
    EXPECT_NEAR(player->currentTime(), 600, 0.01);
    UserDefaults::setInteger(BackStep, 5);
    player->seekToTime(640);
    c->playBack();
    EXPECT_NEAR(player->currentTime(), 635, 0.01);
    UserDefaults::setInteger(BackStep, -5);  // plays as 30
    EXPECT_EQ(PlayingViewController::backstep(), 30);
}

TEST_F(PlayingViewTest, ASeekCloserThanFiveSecondsOnlyResumes)
{
    writeImage();
    launch();
    ASSERT_TRUE(scan());
    LMAudioOutputSelect("null");  // real time: the position moves slowly
    PlayingViewController *c = showAt("Two", 630);
    ASSERT_NE(c, nullptr);
    ASSERT_FALSE(player->playing());
    c->endSeeking(33.0 / 300);  // 3 s ahead: not worth a seek
    EXPECT_TRUE(player->playing());
    EXPECT_LT(player->currentTime(), 632);
    c->endSeeking(50.0 / 300);
    EXPECT_GE(player->currentTime(), 649.9);
    EXPECT_EQ(c->playImage(), "pause");
    c->togglePlay();
    EXPECT_FALSE(player->playing());
    EXPECT_EQ(c->playImage(), "play");
}

TEST_F(PlayingViewTest, LinesDescribeTheItemAndLyricsAreFoundByTitle)
{
    writeTagged("take 1.wav", 30, "Intro", "First Light");
    lmtest::writeFile(docs.file("Intro.lrc"), "[00:00.00]Hello\n[00:10.00]Again\n");
    writeTagged("plain.wav", 5, "Plain");
    launch();
    ASSERT_TRUE(scan());
    PlayingViewController *c = showAt("Intro", 0);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->artist(), "Someone");
    EXPECT_EQ(c->album(), "First Light");
    EXPECT_EQ(c->mediaInfo(), "44100 Hz, 16 Bit");
    EXPECT_EQ(c->lyricsPath(), doc("Intro.lrc"));
    EXPECT_FALSE(c->hasCover());

    // An item the player knows nothing about the format of shows no format line.
    QSignalSpy lyrics(c, &PlayingViewController::lyricsChanged);
    player->restoreItem(PlayableItem::itemWithTrackNumber(1, "Bare", doc("plain.wav"), 0, 5), 0);
    c->onItemChange();
    EXPECT_EQ(c->title(), "Bare");
    EXPECT_EQ(c->mediaInfo(), "");
    EXPECT_EQ(c->lyricsPath(), "");
    EXPECT_EQ(lyrics.count(), 1);
    EXPECT_EQ(PlayingViewController::mediaInfoText(48000, 0), "48000 Hz");
    EXPECT_EQ(PlayingViewController::mediaInfoText(0, 24), "");
}

TEST_F(PlayingViewTest, NextAndPreviousStepThroughThePlayListAndEventsRefresh)
{
    writeTagged("a.wav", 20, "A");
    writeTagged("b.wav", 20, "B");
    writeTagged("c.wav", 20, "C");
    launch();
    ASSERT_TRUE(scan());
    LMAudioOutputSelect("null");
    const int handlersBefore = player->handlerCount();
    PlayingViewController *c = showAt("B", 0);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(player->handlerCount(), handlersBefore + 4);
    QSignalSpy progress(c, &PlayingViewController::progressChanged);
    c->next();
    ASSERT_TRUE(lmtest::waitUntil([&] { return c->title() == "C"; }, 3000));
    EXPECT_TRUE(player->playing());
    ASSERT_TRUE(lmtest::waitUntil([&] { return progress.count() > 1; }, 5000));  // position events
    c->prev();
    ASSERT_TRUE(lmtest::waitUntil([&] { return c->title() == "B"; }, 3000));
    // Gone from the screen, it listens to nothing more.
    QPointer<PlayingViewController> guard(c);
    c->back();
    EXPECT_EQ(ui->rootNavigation()->depth(), 1);
    EXPECT_EQ(player->handlerCount(), handlersBefore);
}

TEST_F(PlayingViewTest, TheVolumeFollowsOtherControlsWhileShown)
{
    writeTagged("a.wav", 20, "A");
    launch();
    ASSERT_TRUE(scan());
    PlayingViewController *c = showAt("A", 0);
    ASSERT_NE(c, nullptr);
    c->setVolume(0.4);
    EXPECT_FLOAT_EQ(LMOutputVolumeGet(), 0.4f);
    QSignalSpy changed(c, &PlayingViewController::volumeChanged);
    LMOutputVolumeSet(0.7f);  // MPRIS or a mixer
    EXPECT_EQ(changed.count(), 1);
    EXPECT_NEAR(c->volume(), 0.7, 1e-6);
    c->setVolume(3);  // clamped
    EXPECT_FLOAT_EQ(LMOutputVolumeGet(), 1.0f);
    changed.clear();
    c->viewWillDisappear();
    LMOutputVolumeSet(0.2f);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(PlayingViewTest, APickedCoverIsStoredBesideTheItemNamedAfterItsAlbum)
{
    PlayingViewController *c = showSongIn("sub", "Blue Hour");
    ASSERT_NE(c, nullptr);
    QImage picked(64, 48, QImage::Format_RGB32);
    picked.fill(QColor(20, 200, 90));
    int asked = 0;
    c->setImagePicker([&](std::function<void(const QImage &)> done) {
        asked++;
        done(picked);
    });
    c->importCoverImage();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(c->hasCover());
    const QString written = doc("sub/Blue Hour.jpg");
    QImageReader reader(written);
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage back = reader.read();
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.size(), QSize(64, 48));
    EXPECT_EQ(player->currentItem()->coverImagePath(), written);

    // A cancelled pick changes nothing.
    c->setImagePicker([](std::function<void(const QImage &)> done) { done(QImage()); });
    QFile::remove(written);
    c->importCoverImage();
    EXPECT_FALSE(QFile::exists(written));
}

TEST_F(PlayingViewTest, TheCoverNameNeverLeavesTheItemsFolder)
{
    PlayableItem item;
    item.setPath("/music/disc/03 Song.flac");
    item.setAlbum("../x");
    EXPECT_EQ(PlayingViewController::coverPathFor(item), "/music/disc/.._x.jpg");
    item.setAlbum("a/b");
    EXPECT_EQ(PlayingViewController::coverPathFor(item), "/music/disc/a_b.jpg");
    item.setAlbum("..");
    EXPECT_EQ(PlayingViewController::coverPathFor(item), "/music/disc/03 Song.jpg");
    item.setAlbum(QString());
    EXPECT_EQ(PlayingViewController::coverPathFor(item), "/music/disc/03 Song.jpg");
    item.setAlbum(QStringLiteral("x") + QChar(0) + QStringLiteral("y"));
    EXPECT_EQ(PlayingViewController::coverPathFor(item), "/music/disc/x_y.jpg");
    item.setPath(QString());
    EXPECT_TRUE(PlayingViewController::coverPathFor(item).isNull());
}

TEST_F(PlayingViewTest, AnAlbumThatNamesAParentFolderWritesInsideTheItemsFolder)
{
    PlayingViewController *c = showSongIn("in", "../x");
    ASSERT_NE(c, nullptr);
    QImage picked(8, 8, QImage::Format_RGB32);
    picked.fill(Qt::red);
    EXPECT_EQ(c->didPickImage(picked), doc("in/.._x.jpg"));
    EXPECT_TRUE(QFile::exists(doc("in/.._x.jpg")));
    EXPECT_FALSE(QFile::exists(doc("x.jpg")));
}

// The view, by taps and drags.
TEST_F(PlayingViewTest, TheViewPlaysSeeksAndShowsTheLyricLine)
{
    ASSERT_TRUE(SampleLibrary::writeWav(doc("song.wav"), 60, "Song", "Someone", "Album", 1));
    lmtest::writeFile(docs.file("Song.lrc"), "[00:00.00]One\n[00:20.00]Two\n[00:40.00]Three\n");
    writeTagged("z next.wav", 60, "Next");
    LMAudioOutputSelect("null");
    launch(false, true);
    ASSERT_TRUE(scan());
    settle(100);
    ASSERT_TRUE(tap("cell_0_0"));  // "Song"
    ASSERT_TRUE(lmtest::waitUntil([&] { return player->playing(); }, 3000));
    ASSERT_TRUE(tap("nowPlayingButton"));
    settle(100);
    auto *c = qobject_cast<PlayingViewController *>(ui->rootNavigation()->top());
    ASSERT_NE(c, nullptr);
    ASSERT_NE(item("artistLabel"), nullptr);
    EXPECT_EQ(item("artistLabel")->property("text").toString(), "Someone");
    auto *lyrics = qobject_cast<LRCView *>(item("lyricsView"));
    ASSERT_NE(lyrics, nullptr);
    EXPECT_EQ(lyrics->currentLine(), 0);

    // Half the bar's width to the right: the middle of the song, the second line.
    QQuickItem *slider = item("seekSlider");
    ASSERT_NE(slider, nullptr);
    const QPointF start = slider->mapToScene(QPointF(10, slider->height() / 2));
    const QPointF end = start + QPointF(slider->width() / 2, 0);
    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, start.toPoint());
    QTest::mouseMove(window(), ((start + end) / 2).toPoint());
    QTest::mouseMove(window(), end.toPoint());
    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, end.toPoint());
    settle(50);
    EXPECT_GE(player->currentTime(), 28);
    EXPECT_EQ(lyrics->currentLine(), 1);
    EXPECT_EQ(lyrics->currentText(), "Two");

    ASSERT_TRUE(tap("playButton"));
    EXPECT_FALSE(player->playing());
    ASSERT_TRUE(tap("playButton"));
    EXPECT_TRUE(player->playing());
    ASSERT_TRUE(tap("nextButton"));
    ASSERT_TRUE(lmtest::waitUntil([&] { return c->title() == "Next"; }, 3000));
    settle(50);
    EXPECT_EQ(item("lyricsView"), nullptr);  // no lyrics for this one
    ASSERT_TRUE(tap("returnToPlaylistButton"));
    settle(100);
    EXPECT_EQ(ui->rootNavigation()->depth(), 1);
}

TEST_F(PlayingViewTest, OnATabletThePictureChooserOpensBesideTheImportButton)
{
    writeTagged("a.wav", 20, "A");
    launch(true, true);
    ASSERT_TRUE(scan());
    player->restoreItem(itemTitled("A"), 0);
    root()->showNowPlaying();
    settle(150);
    auto *c = qobject_cast<PlayingViewController *>(ui->rootNavigation()->top());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(item("coverView"), nullptr);  // no picture: the import button shows
    QQuickItem *import = item("importButton");
    ASSERT_NE(import, nullptr);
    ASSERT_TRUE(tap(import));
    settle(150);
    QObject *dialog = nullptr;
    for (QObject *o : window()->findChildren<QObject *>())
        if (o->inherits("QQuickFileDialogImpl") && o->property("visible").toBool())
            dialog = o;
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->property("width").toReal(), 360);
    EXPECT_EQ(dialog->property("height").toReal(), 640);
    const qreal importX = import->mapToScene(QPointF(0, 0)).x();
    EXPECT_LE(dialog->property("x").toReal() + 360, importX);
    QMetaObject::invokeMethod(dialog, "reject");
    settle(50);

    // A picture from the chooser shows at once, over the button.
    c->setImagePicker([](std::function<void(const QImage &)> done) {
        QImage image(40, 40, QImage::Format_RGB32);
        image.fill(Qt::blue);
        done(image);
    });
    ASSERT_TRUE(tap("importButton"));
    settle(50);
    QQuickItem *cover = item("coverView");
    ASSERT_NE(cover, nullptr);
    EXPECT_TRUE(QFile::exists(doc("a.jpg")));

    // The cover follows a sideways drag only, and goes back to the middle when let go.
    const qreal x = cover->x(), y = cover->y();
    const QPoint at = cover->mapToScene(QPointF(cover->width() / 2, cover->height() / 2)).toPoint();
    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseMove(window(), at + QPoint(30, 20));
    QTest::mouseMove(window(), at + QPoint(60, 40));
    EXPECT_NEAR(cover->x(), x + 60, 1);
    EXPECT_EQ(cover->y(), y);
    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, at + QPoint(60, 40));
    settle(50);
    EXPECT_NEAR(cover->x(), x, 1);
}

} // namespace
