// Pictures of now playing and the settings screens for `lumenar --snapshot`: now playing
// with a cover and a lyric line, the cover picker over it, and settings with each of its
// choosers in the organize menu (a popover on a tablet).
#include "app/app_delegate.h"
#include "player/play_list_controller.h"
#include "player/uni_player.h"
#include "ui/main_window.h"
#include "ui/navigation_controller.h"
#include "ui/playing_view_controller.h"
#include "ui/presenter.h"
#include "ui/root_view_controller.h"
#include "ui/screen_factory.h"
#include "ui/snapshot.h"
#include "ui/ui_context.h"

namespace {

std::function<void()> popRoot(Snapshot::Stage &stage)
{
    UiContext *ui = stage.ui;
    return [ui] {
        ui->presenter()->dismissAll();
        ui->rootNavigation()->popToRoot(false);
    };
}

// Now playing for the item titled `title`, paused `seconds` into it.
PlayingViewController *showPlaying(Snapshot::Stage &stage, const QString &title, double seconds)
{
    PlayListController *plc = stage.ui->playListController();
    for (const PlayableItemPtr &item : plc->playList()) {
        if (item->title() == title) {
            UniPlayer *player = stage.ui->player();
            if (player->currentItem() && player->currentItem()->isEqualToItem(item))
                player->seekToTime(seconds);
            else
                player->restoreItem(item, seconds);
            plc->onItemChange();
            break;
        }
    }
    stage.window->rootController()->showNowPlaying();
    return qobject_cast<PlayingViewController *>(stage.ui->rootNavigation()->top());
}

// The lyric track of the first album, with its cover and a lyric line.
std::function<void()> nowPlaying(Snapshot::Stage &stage)
{
    showPlaying(stage, QStringLiteral("Paper Boats"), 29);
    return popRoot(stage);
}

// The picture chooser open over now playing.
std::function<void()> coverPicker(Snapshot::Stage &stage)
{
    if (PlayingViewController *playing = showPlaying(stage, QStringLiteral("Paper Boats"), 29)) {
        stage.settle(60);
        playing->importCoverImage();
    }
    return popRoot(stage);
}

// The settings screen on the organize menu, and the chooser behind `row` of its first section.
std::function<void()> settingsScreen(Snapshot::Stage &stage, int row)
{
    RootViewController *root = stage.window->rootController();
    root->showOrganize();
    NavigationController *menu = root->organizeNavigation();
    ScreenController *settings = ScreenFactory::make(QStringLiteral("Settings"), stage.ui);
    menu->push(settings, false);
    stage.settle(60);
    if (row >= 0)
        settings->tapRow(0, row);
    return popRoot(stage);
}

std::function<void()> settings(Snapshot::Stage &stage)
{
    return settingsScreen(stage, -1);
}

std::function<void()> themes(Snapshot::Stage &stage)
{
    return settingsScreen(stage, 0);
}

std::function<void()> encodings(Snapshot::Stage &stage)
{
    return settingsScreen(stage, 1);
}

std::function<void()> sleepTimer(Snapshot::Stage &stage)
{
    stage.delegate->setSleepTimer(45 * 60);
    std::function<void()> undo = settingsScreen(stage, 2);
    AppDelegate *delegate = stage.delegate;
    return [undo, delegate] {
        undo();
        delegate->removeSleepTimer();
    };
}

std::function<void()> backStep(Snapshot::Stage &stage)
{
    return settingsScreen(stage, 3);
}

} // namespace

namespace Snapshot {

QList<NamedScene> playingScenes()
{
    return {
        {QStringLiteral("nowplaying"), nowPlaying},
        {QStringLiteral("coverpicker"), coverPicker},
        {QStringLiteral("settings"), settings},
        {QStringLiteral("themes"), themes},
        {QStringLiteral("encodings"), encodings},
        {QStringLiteral("sleeptimer"), sleepTimer},
        {QStringLiteral("backstep"), backStep},
    };
}

} // namespace Snapshot
