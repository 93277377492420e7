#include "ui/playlists_view_controller.h"

#include <algorithm>

#include <QFileInfo>

#include "library/playlist_file.h"
#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "platform/core/user_defaults.h"
#include "ui/alerts.h"
#include "ui/browse_support.h"
#include "ui/navigation_controller.h"
#include "ui/name_check.h"
#include "ui/ui_context.h"

namespace {

QString baseName(const QString &fileName)
{
    return QFileInfo(fileName).completeBaseName();
}

} // namespace

PlaylistsViewController::PlaylistsViewController(UiContext *context, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent)
{
    btnAdd_ = Browse::textButton(QStringLiteral("playlistsAddButton"), tr("Add"), this, [this] { addPlaylist(); });
    btnEdit_ = Browse::textButton(QStringLiteral("playlistsEditButton"), tr("Edit"), this, [this] { editPlaylists(); });
    btnRename_ =
        Browse::textButton(QStringLiteral("playlistsRenameButton"), tr("Rename"), this, [this] { renamePlaylist(); });
    btnCancel_ = Browse::textButton(QStringLiteral("playlistsCancelButton"), tr("Cancel"), this, [this] {
        if (mode_ == Renaming)
            cancelRename();
        else
            cancelEditing();
    });
    hint_ = new BarButton(QStringLiteral("playlistsRenameHint"), this);
    hint_->setText(tr("Tap on a playlist to rename"));
    hint_->setLabel(true);
}

void PlaylistsViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    setTitle(tr("Playlists"));
    updateList();
    reloadRows();
    setMode(Normal);
}

void PlaylistsViewController::updateList()
{
    lists_.clear();
    const std::optional<QStringList> names = PlaylistStore::list();
    if (names) {
        for (const QString &name : *names)
            if (QFileInfo(PlaylistStore::resolve(name)).isFile())
                lists_ << name;
    }
    std::stable_sort(lists_.begin(), lists_.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
}

void PlaylistsViewController::refresh()
{
    updateList();
    reloadRows();
    setMode(Normal);
}

void PlaylistsViewController::reloadRows()
{
    const bool playlistMode = UserSettings::organize() == SettingsKeys::OrganizePlaylist;
    const QString current = UserSettings::currentPlaylist();
    QList<TableRow> rows;
    for (const QString &name : lists_) {
        TableRow r;
        r.title = baseName(name);
        r.accessory = playlistMode && name == current ? CellAccessory::Checkmark : CellAccessory::None;
        r.canDelete = mode_ == Deleting;
        rows << r;
    }
    table()->setRows(rows);
}

void PlaylistsViewController::setMode(int mode)
{
    const bool modeChanged = mode_ != mode;
    mode_ = mode;
    table()->setEditing(mode == Deleting);
    const bool any = !lists_.isEmpty();
    switch (mode) {
    case Renaming:
        setToolbarItems({hint_, flexibleSpace(), btnCancel_});
        context()->announce(hint_->text());
        break;
    case Deleting:
        btnAdd_->setEnabled(false);
        btnRename_->setEnabled(false);
        setToolbarItems({btnAdd_, flexibleSpace(), btnCancel_, flexibleSpace(), btnRename_});
        break;
    default:
        btnAdd_->setEnabled(true);
        btnEdit_->setEnabled(any);
        btnRename_->setEnabled(any);
        setToolbarItems({btnAdd_, flexibleSpace(), btnEdit_, flexibleSpace(), btnRename_});
        break;
    }
    if (modeChanged)
        reloadRows();
}

QString PlaylistsViewController::selectedPlaylistName() const
{
    return selectedIndex_ >= 0 && selectedIndex_ < lists_.size() ? baseName(lists_.at(selectedIndex_)) : QString();
}

void PlaylistsViewController::tapRow(int, int row)
{
    if (row < 0 || row >= lists_.size())
        return;
    selectedIndex_ = row;
    if (mode_ == Normal) {
        UserDefaults::setInteger(SettingsKeys::Organize, SettingsKeys::OrganizePlaylist);
        UserDefaults::setString(SettingsKeys::CurrentPlaylist, lists_.at(row));
        reloadRows();
        Browse::showChoice(this);
    } else if (mode_ == Renaming) {
        const QString name = selectedPlaylistName();
        Browse::askName(this, tr("Rename"), name, 2, &PlaylistsViewController::renameSelectedPlaylist);
    }
}

void PlaylistsViewController::addPlaylist()
{
    Browse::askName(this, tr("Add"), tr("My Playlist"), 1, &PlaylistsViewController::createPlaylist);
}

void PlaylistsViewController::createPlaylist(const QString &name)
{
    if (name.isEmpty())
        return;
    if (!NameCheck::isValidName(name)) {
        AlertMessage::show(tr("Invalid name"));
        return;
    }
    switch (PlaylistStore::create(name)) {
    case PlaylistStore::Done: refresh(); break;
    case PlaylistStore::AlreadyExists: AlertMessage::show(tr("File already exists")); break;
    case PlaylistStore::Failed: AlertMessage::show(tr("Can not create playlist")); break;
    }
}

void PlaylistsViewController::renameSelectedPlaylist(const QString &name)
{
    if (name.isEmpty() || selectedIndex_ < 0 || selectedIndex_ >= lists_.size())
        return;
    if (!NameCheck::isValidName(name)) {
        AlertMessage::show(tr("Invalid name"));
        return;
    }
    const QString from = lists_.at(selectedIndex_);
    switch (PlaylistStore::rename(from, name)) {
    case PlaylistStore::Done:
        // The main list follows the list it shows to its new name.
        if (UserSettings::currentPlaylist() == from) {
            UserDefaults::setString(SettingsKeys::CurrentPlaylist, PlaylistStore::fileNameForName(name));
            if (UserSettings::organize() == SettingsKeys::OrganizePlaylist)
                emit context()->mainListRefreshRequested();
        }
        refresh();
        break;
    case PlaylistStore::AlreadyExists: AlertMessage::show(tr("File already exists")); break;
    case PlaylistStore::Failed: AlertMessage::show(tr("Can not rename playlist")); break;
    }
}

void PlaylistsViewController::deleteRow(int, int row)
{
    if (mode_ != Deleting || row < 0 || row >= lists_.size())
        return;
    // Only a regular file: a folder that took the name since the listing keeps its contents.
    const QString name = lists_.at(row);
    if (!QFileInfo(PlaylistStore::resolve(name)).isFile() || !PlaylistStore::remove(name))
        return;
    lists_.removeAt(row);
    reloadRows();
}
