#include "library/play_list_composer.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "library/character_encoding.h"
#include "library/playlist_file.h"
#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "platform/core/file_system_object.h"

static QString documents()
{
    return FileSystemObject::sharedObject()->documentsDirectory();
}

QString PlayListComposer::folderForSetting(const QString &currentFolder)
{
    if (currentFolder.isEmpty())
        return documents();
    if (QDir::isAbsolutePath(currentFolder))
        return currentFolder;
    return documents() + QLatin1Char('/') + currentFolder;
}

QString PlayListComposer::directoryOfPlaylistFile(const QString &playlistPath)
{
    qsizetype slash = playlistPath.lastIndexOf(QLatin1Char('/'));
    QString dir = slash < 0 ? QString() : playlistPath.left(slash);
    if (slash == 0)
        return QStringLiteral("/");
    if (dir.isEmpty())
        return documents();
    if (QDir::isAbsolutePath(dir))
        return dir;
    return documents() + QLatin1Char('/') + dir;
}

void PlayListComposer::append(const PlayableItemPtr &item)
{
    playList_.append(item);
    playList_.append(item->subItems());
}

void PlayListComposer::updatePlayList(const PlayableItemList &library)
{
    playList_ = PlayableItemList();
    playList_.reserve(100);
    m3uItems_.clear();
    m3uItemsLookup_.clear();
    organize_ = UserSettings::organize();
    switch (organize_) {
    case SettingsKeys::OrganizeFolder: {
        QString folder = folderForSetting(UserSettings::currentFolder());
        for (const PlayableItemPtr &item : library)
            if (!item->path().isEmpty() && item->path().startsWith(folder, Qt::CaseSensitive))
                append(item);
        break;
    }
    case SettingsKeys::OrganizeArtist: {
        QString artist = UserSettings::currentArtist();
        if (artist.isNull())
            break;
        for (const PlayableItemPtr &item : library)
            if (!item->artist().isNull() && item->artist() == artist)
                append(item);
        break;
    }
    case SettingsKeys::OrganizeAlbum: {
        QString album = UserSettings::currentAlbum();
        if (album.isNull())
            break;
        for (const PlayableItemPtr &item : library)
            if (!item->album().isNull() && item->album() == album)
                append(item);
        break;
    }
    case SettingsKeys::OrganizePlaylist:
        composePlaylist(library);
        break;
    case SettingsKeys::OrganizeFile: {
        QString file = UserSettings::currentFile();
        if (file.isNull())
            break;
        for (const PlayableItemPtr &item : library)
            if (item->path() == file)
                append(item);
        break;
    }
    default:
        break;
    }
}

void PlayListComposer::composePlaylist(const PlayableItemList &library)
{
    QString name = UserSettings::currentPlaylist();
    if (name.isEmpty())
        return;
    PlaylistLines lines = PlaylistLines::read(name);
    if (lines.count() == 0)
        return;
    QString listDir = directoryOfPlaylistFile(name);
    unsigned preferred = UserSettings::preferedEncoding();
    QStringList paths;
    QSet<QString> seen;
    for (int i = 0; i < lines.count(); i++) {
        QString entry = CharacterEncoding::parseCString(lines.entryAt(i), preferred);
        if (entry.isEmpty())
            continue;
        if (!QDir::isAbsolutePath(entry))
            entry = listDir + QLatin1Char('/') + entry;
        // Library paths are clean; "./a.flac" and "Music//a.flac" name the same files.
        entry = QDir::cleanPath(entry);
        if (seen.contains(entry))
            continue;
        seen.insert(entry);
        paths << entry;
    }
    for (const PlayableItemPtr &item : library)
        if (seen.contains(item->path()))
            m3uItemsLookup_.insert(item->path(), item);
    for (const QString &path : paths) {
        auto it = m3uItemsLookup_.constFind(path);
        if (it == m3uItemsLookup_.constEnd())
            continue;
        m3uItems_ << path;
        append(it.value());
    }
}

bool PlayListComposer::addFiles(const QStringList &paths) const
{
    QString name = UserSettings::currentPlaylist();
    return !name.isEmpty() && PlaylistStore::append(name, paths);
}

bool PlayListComposer::removeItemFromPlaylist(const PlayableItem *item) const
{
    QString name = UserSettings::currentPlaylist();
    if (item == nullptr || name.isEmpty())
        return false;
    return PlaylistStore::rewrite(name, PlaylistStore::pathsByRemoving(m3uItems_, item->path()));
}

bool PlayListComposer::moveEntry(int from, int to) const
{
    if (from == to)
        return true;
    QString name = UserSettings::currentPlaylist();
    if (name.isEmpty() || from < 0 || from >= m3uItems_.size())
        return false;
    return PlaylistStore::rewrite(name, PlaylistStore::pathsByMoving(m3uItems_, from, to));
}

int PlayListComposer::entryPositionOfRow(int row) const
{
    int position = 0;
    for (int i = 0; i < row && i < playList_.size(); i++)
        if (playList_.at(i)->ownFile())
            position++;
    return position;
}
