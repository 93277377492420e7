// Pictures of the browsing screens for `lumenar --snapshot`: the folder browser (top, a
// folder, select mode), the move and file info screens, the album, artist and play list
// choosers, and the file chooser. Each scene opens its screens in the organize menu (a
// popover on a tablet) or, for the chooser, as the main list's sheet.
#include <QDir>

#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "player/play_list_controller.h"
#include "ui/lm_file_chooser.h"
#include "ui/lm_file_view_controller.h"
#include "ui/lm_folder_view_controller.h"
#include "ui/lm_moving_view_controller.h"
#include "ui/main_window.h"
#include "ui/navigation_controller.h"
#include "ui/organize_view_controller.h"
#include "ui/playlists_view_controller.h"
#include "ui/presenter.h"
#include "ui/root_view_controller.h"
#include "ui/snapshot.h"
#include "ui/ui_context.h"

namespace {

const QString kAlbumFolder = QStringLiteral("Aster Vale - Morning Light");

// The organize menu with the menu row `row` opened, then `more` pushed above it.
NavigationController *openMenu(Snapshot::Stage &stage, int row, const QList<ScreenController *> &more = {})
{
    RootViewController *root = stage.window->rootController();
    root->showOrganize();
    NavigationController *menu = root->organizeNavigation();
    menu->popToRoot(false);
    if (row >= 0)
        menu->top()->tapRow(0, row);
    for (ScreenController *screen : more)
        menu->push(screen, false);
    return menu;
}

std::function<void()> closeMenu(Snapshot::Stage &stage)
{
    UiContext *ui = stage.ui;
    RootViewController *root = stage.window->rootController();
    return [ui, root] {
        ui->presenter()->dismissAll();
        if (root->organizeNavigation() != nullptr)
            root->organizeNavigation()->popToRoot(false);
    };
}

LMFolderViewController *albumFolder(Snapshot::Stage &stage)
{
    return new LMFolderViewController(stage.ui, stage.documents + QLatin1Char('/') + kAlbumFolder);
}

std::function<void()> files(Snapshot::Stage &stage)
{
    openMenu(stage, OrganizeViewController::FilesRow);
    return closeMenu(stage);
}

std::function<void()> folder(Snapshot::Stage &stage)
{
    openMenu(stage, OrganizeViewController::FilesRow, {albumFolder(stage)});
    return closeMenu(stage);
}

std::function<void()> selecting(Snapshot::Stage &stage)
{
    LMFolderViewController *browser = albumFolder(stage);
    openMenu(stage, OrganizeViewController::FilesRow, {browser});
    browser->onSelect();
    browser->tapRow(0, 1);
    browser->tapRow(0, 3);
    return closeMenu(stage);
}

std::function<void()> moving(Snapshot::Stage &stage)
{
    const QString dir = stage.documents + QLatin1Char('/') + kAlbumFolder;
    auto *screen = new LMMovingViewController(stage.ui, {dir + QStringLiteral("/01 Dawn Chorus.wav"),
                                                         dir + QStringLiteral("/03 The Long Way Round.wav")});
    openMenu(stage, OrganizeViewController::FilesRow, {albumFolder(stage), screen});
    return closeMenu(stage);
}

std::function<void()> fileInfo(Snapshot::Stage &stage)
{
    const QString file = stage.documents + QLatin1Char('/') + kAlbumFolder + QStringLiteral("/02 Paper Boats.wav");
    openMenu(stage, OrganizeViewController::FilesRow, {albumFolder(stage), new LMFileViewController(stage.ui, file)});
    return closeMenu(stage);
}

std::function<void()> albums(Snapshot::Stage &stage)
{
    openMenu(stage, OrganizeViewController::AlbumsRow);
    return closeMenu(stage);
}

std::function<void()> artists(Snapshot::Stage &stage)
{
    openMenu(stage, OrganizeViewController::ArtistsRow);
    return closeMenu(stage);
}

std::function<void()> playlists(Snapshot::Stage &stage)
{
    openMenu(stage, OrganizeViewController::PlaylistsRow);
    return closeMenu(stage);
}

std::function<void()> renamingPlaylist(Snapshot::Stage &stage)
{
    NavigationController *menu = openMenu(stage, OrganizeViewController::PlaylistsRow);
    if (auto *lists = qobject_cast<PlaylistsViewController *>(menu->top()))
        lists->renamePlaylist();
    return closeMenu(stage);
}

// The main list in play list mode, its chooser open on the album folder with two ticks.
std::function<void()> chooser(Snapshot::Stage &stage)
{
    using namespace SettingsKeys;
    const qint64 organize = UserDefaults::integerForKey(Organize);
    const QString playlist = UserDefaults::stringForKey(CurrentPlaylist);
    UserDefaults::setInteger(Organize, OrganizePlaylist);
    UserDefaults::setString(CurrentPlaylist, QStringLiteral("Road Trip.m3u"));
    PlayListController *plc = stage.ui->playListController();
    plc->updatePlayList();
    RootViewController *root = stage.window->rootController();
    root->addItem();
    const QList<QObject *> shown = stage.ui->presenter()->presentations();
    if (!shown.isEmpty()) {
        NavigationController *nav = qobject_cast<Presentation *>(shown.last())->navigation();
        auto *top = new LMFileChooser(stage.ui, stage.documents + QLatin1Char('/') + kAlbumFolder, plc);
        nav->push(top, false);
        top->tapRow(0, 0);
        top->tapRow(0, 2);
    }
    UiContext *ui = stage.ui;
    return [ui, plc, organize, playlist] {
        ui->presenter()->dismissAll();
        UserDefaults::setInteger(Organize, organize);
        if (playlist.isNull())
            UserDefaults::removeObjectForKey(CurrentPlaylist);
        else
            UserDefaults::setString(CurrentPlaylist, playlist);
        plc->updatePlayList();
    };
}

} // namespace

namespace Snapshot {

QList<NamedScene> browseScenes()
{
    return {
        {QStringLiteral("files"), files},
        {QStringLiteral("files-folder"), folder},
        {QStringLiteral("files-select"), selecting},
        {QStringLiteral("move"), moving},
        {QStringLiteral("file-info"), fileInfo},
        {QStringLiteral("albums"), albums},
        {QStringLiteral("artists"), artists},
        {QStringLiteral("playlists"), playlists},
        {QStringLiteral("playlists-rename"), renamingPlaylist},
        {QStringLiteral("chooser"), chooser},
    };
}

} // namespace Snapshot
