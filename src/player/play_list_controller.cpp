#include "player/play_list_controller.h"

#include <chrono>
#include <cmath>

#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "platform/core/file_system_object.h"
#include "platform/core/now_playing.h"
#include "platform/core/user_defaults.h"

namespace {

// The index of the last shuffle pick, shared by every controller as the play list screen's
// class-wide value is.
int gLastShufflePick = -1;

constexpr int kNoCount = 1000000;

int wrapMode(qint64 mode)
{
    const qint64 m = mode % 4;
    return int(m < 0 ? m + 4 : m);
}

QString lastPathComponent(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 || path.size() == 1 ? path : path.mid(slash + 1);
}

QString withoutExtension(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash + 1 ? path.left(dot) : path;
}

} // namespace

PlayListController::PlayListController(UniPlayer *player, QObject *parent)
    : QObject(parent), player_(player != nullptr ? player : UniPlayer::defaultPlayer())
{
    generator_.seed(quint32(std::chrono::system_clock::now().time_since_epoch().count()));
    random_ = [this] { return quint32(generator_()); };
    if (player_.isNull())
        return;
    player_->setDelegate(this);
    if (currentPlayMode() == UserSettings::SingleTrackLoop)
        player_->setLocked(true);
    player_->addEventHandler(this, &PlayListController::onItemChange, LMPlayerEventFileChanged);
    player_->addEventHandler(this, &PlayListController::onPlayPause, LMPlayerEventPaused);
    player_->addEventHandler(this, &PlayListController::onPlayPause, LMPlayerEventPlaying);
}

PlayListController::~PlayListController()
{
    if (player_.isNull())
        return;
    player_->removeEventHandler(this);
    if (player_->delegate() == static_cast<UniPlayerDelegate *>(this))
        player_->setDelegate(nullptr);
}

void PlayListController::updatePlayList()
{
    composer_.updatePlayList(library_ ? library_() : PlayableItemList());
    composed_ = true;
    playList_ = composer_.playList();
    updateTitle();
    emit playListChanged();
}

void PlayListController::setPlayList(const PlayableItemList &rows)
{
    playList_ = rows;
    composed_ = false;
    emit playListChanged();
}

void PlayListController::updateTitle()
{
    QString title;
    switch (UserSettings::organize()) {
    case SettingsKeys::OrganizeFolder: {
        const QString folder = UserSettings::currentFolder();
        title = folder.isEmpty() ? tr("All") : lastPathComponent(folder);
        break;
    }
    case SettingsKeys::OrganizeArtist:
        title = UserSettings::currentArtist();
        break;
    case SettingsKeys::OrganizeAlbum:
        title = UserSettings::currentAlbum();
        break;
    case SettingsKeys::OrganizePlaylist:
        title = withoutExtension(UserSettings::currentPlaylist());
        break;
    case SettingsKeys::OrganizeFile: {
        const QString file = UserSettings::currentFile();
        title = file.isNull() ? QString() : lastPathComponent(file);
        break;
    }
    default:
        return;
    }
    if (title != title_) {
        title_ = title;
        emit titleChanged(title_);
    }
}

int PlayListController::currentPlayMode() const
{
    return memoryPlayMode_ ? wrapMode(*memoryPlayMode_) : UserSettings::shuffleMode();
}

void PlayListController::setPlayMode(int mode)
{
    if (memoryPlayMode_)
        memoryPlayMode_ = mode;
    else
        UserDefaults::setInteger(SettingsKeys::ShuffleMode, mode);
    if (!player_.isNull())
        player_->setLocked(wrapMode(mode) == UserSettings::SingleTrackLoop);
    emit playModeChanged(currentPlayMode());
}

void PlayListController::togglePlayMode()
{
    setPlayMode((currentPlayMode() + 1) % 4);
}

void PlayListController::keepPlayModeInMemory(int mode)
{
    memoryPlayMode_ = mode;
    setPlayMode(mode);
}

QString PlayListController::playModeName(int mode)
{
    switch (mode) {
    case UserSettings::PlayToEnd:
        return tr("Play to end of list");
    case UserSettings::Shuffle:
        return tr("Shuffle");
    case UserSettings::Loop:
        return tr("Loop");
    case UserSettings::SingleTrackLoop:
        return tr("Single track loop");
    default:
        return tr("Unknown");
    }
}

QString PlayListController::playModeImageName(int mode)
{
    static const char *const kImages[] = {"loopnot.png", "loopshuffle.png", "loop.png", "loop1.png"};
    return QString::fromLatin1(kImages[wrapMode(mode)]);
}

PlayableItemPtr PlayListController::rowItem(int row) const
{
    return row >= 0 && row < playList_.size() ? playList_.at(row) : nullptr;
}

PlayableItemPtr PlayListController::playableForRow(const PlayableItemPtr &row)
{
    if (row && !row->subItems().isEmpty())
        return row->subItems().first();
    return row;
}

int PlayListController::rowOfCurrentItem() const
{
    if (player_.isNull() || !player_->currentItem())
        return -1;
    for (int i = 0; i < playList_.size(); i++)
        if (playList_.at(i)->isEqualToItem(player_->currentItem()))
            return i;
    return -1;
}

PlayableItemPtr PlayListController::nextItem()
{
    if (playList_.isEmpty())
        return nullptr;
    const int mode = currentPlayMode();
    const PlayableItemPtr current = player_.isNull() ? nullptr : player_->currentItem();
    PlayableItemPtr next;
    if (mode == UserSettings::Shuffle)
        next = rowItem(randomIndex());
    if ((mode != UserSettings::Shuffle || !next || next->isEqualToItem(current)) && current) {
        const int i = rowOfCurrentItem();
        if (i >= 0) {
            if (i == playList_.size() - 1) {
                if (mode == UserSettings::PlayToEnd)
                    return nullptr;
                next = playList_.first();
            } else {
                next = playList_.at(i + 1);
            }
        }
    }
    if (!next)
        next = playList_.first();
    return playableForRow(next);
}

// Least-played shuffle over the rows without cue tracks: every candidate is picked once
// per cycle, in random order, and a cycle never starts with the last pick of the one before.
int PlayListController::randomIndex()
{
    const int rows = int(playList_.size());
    if (rows < 2)
        return 0;
    auto isCandidate = [this](int i) { return playList_.at(i)->subItems().isEmpty(); };
    int min = kNoCount, max = 1, n = 0;
    for (int i = 0; i < rows; i++) {
        if (!isCandidate(i))
            continue;
        const int count = playList_.at(i)->playedCount();
        if (count < min) {
            min = count;
            n = 1;
        } else if (count == min) {
            n++;
        }
        max = std::max(max, count);
    }
    const int last = gLastShufflePick;
    const bool setAside =
        n >= 2 && last >= 0 && last < rows && isCandidate(last) && playList_.at(last)->playedCount() == min;
    if (setAside) {
        playList_.at(last)->setPlayedCount(-1);
        n--;
    }
    const int k = n > 0 ? int(random_() % quint32(n)) : 0;
    int chosen = -1;
    for (int i = 0, seen = 0; i < rows; i++) {
        if (!isCandidate(i) || playList_.at(i)->playedCount() != min)
            continue;
        if (seen++ == k) {
            chosen = i;
            break;
        }
    }
    if (chosen < 0)
        chosen = 0;
    if (setAside)
        playList_.at(last)->setPlayedCount(min);
    playList_.at(chosen)->setPlayedCount(min == max ? max + 1 : max);
    gLastShufflePick = chosen;
    return chosen;
}

void PlayListController::setRandomSource(RandomSource source)
{
    if (source)
        random_ = std::move(source);
    else
        random_ = [this] { return quint32(generator_()); };
}

int PlayListController::lastShufflePick()
{
    return gLastShufflePick;
}

void PlayListController::resetLastShufflePick()
{
    gLastShufflePick = -1;
}

void PlayListController::previous()
{
    if (player_.isNull())
        return;
    const PlayableItemPtr current = player_->currentItem();
    if (current && player_->currentTime() > double(current->startTime()) + 3.0)
        player_->seekToTime(current->startTime());
    else if (player_->previousItem())
        player_->play(player_->previousItem());
    emit playListChanged();
}

void PlayListController::togglePlayPause()
{
    if (player_.isNull())
        return;
    const PlayableItemPtr current = player_->currentItem();
    if (player_->playing()) {
        player_->pause();
    } else if (current && !isExcludedItem(current)) {
        // Play after the last row has played out starts the list again.
        const double elapsed = player_->currentTime() - current->startTime();
        if (currentPlayMode() == UserSettings::PlayToEnd && current->isEqualToItem(playList_.last()) &&
            std::fabs(elapsed - current->totalTime()) <= 0.1) {
            playItem(playableForRow(playList_.first()));
            onPlayPause();
            return;
        }
        player_->play();
    } else if (PlayableItemPtr next = nextItem()) {
        player_->play(next);
    }
    onPlayPause();
}

void PlayListController::playItem(const PlayableItemPtr &item)
{
    emit playListChanged();
    if (!player_.isNull())
        player_->play(item);
}

void PlayListController::playRow(int row)
{
    const PlayableItemPtr item = playableForRow(rowItem(row));
    if (!item)
        return;
    playItem(item);
    if (UserSettings::autoEnterNowPlaying())
        emit showNowPlayingRequested();
}

void PlayListController::onRemoteControl(int subtype)
{
    if (player_.isNull())
        return;
    switch (subtype) {
    case RemoteControlPlay:
        if (!player_->playing()) {
            player_->play();
            onPlayPause();
        }
        break;
    case RemoteControlPause:
    case RemoteControlStop:
        if (player_->playing()) {
            player_->pause();
            onPlayPause();
        }
        break;
    case RemoteControlTogglePlayPause:
        togglePlayPause();
        break;
    case RemoteControlNextTrack:
        if (PlayableItemPtr next = nextItem())
            player_->play(next);
        break;
    case RemoteControlPreviousTrack:
        previous();
        break;
    default:
        break;
    }
}

void PlayListController::setReceivesRemoteControlEvents(bool receive)
{
    QObject::disconnect(remoteConnection_);
    if (receive)
        remoteConnection_ = connect(NowPlaying::shared(), &NowPlaying::remoteControlReceived, this,
                                    &PlayListController::onRemoteControl);
}

bool PlayListController::isExcludedItem(const PlayableItemPtr &item) const
{
    for (const PlayableItemPtr &row : playList_)
        if (row->isEqualToItem(item))
            return false;
    return true;
}

bool PlayListController::shouldInclude(const QString &path) const
{
    // The extension exactly as written: the chooser offers what the list writer expects.
    static const char *const kExtensions[] = {"flac", "ape", "wav", "aif", "m4a", "mp3", "wv", "aiff", "aifc"};
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash)
        return false;
    const QString extension = path.mid(dot + 1);
    bool known = false;
    for (const char *e : kExtensions)
        known = known || extension == QLatin1String(e);
    if (!known)
        return false;
    for (const PlayableItemPtr &row : playList_)
        if (row->path() == path)
            return false;
    return true;
}

bool PlayListController::addFiles(const QStringList &paths)
{
    if (!composer_.addFiles(paths))
        return false;
    updatePlayList();
    return true;
}

bool PlayListController::removeItemFromPlaylist(const PlayableItemPtr &item)
{
    const bool done = composer_.removeItemFromPlaylist(item.get());
    updatePlayList();
    return done;
}

QString PlayListController::directoryOfPlaylistFile(const QString &path) const
{
    return PlayListComposer::directoryOfPlaylistFile(path);
}

bool PlayListController::canDeleteRow(int row) const
{
    const PlayableItemPtr item = rowItem(row);
    return item && item->ownFile();
}

bool PlayListController::deleteRow(int row)
{
    if (!canDeleteRow(row))
        return false;
    const PlayableItemPtr item = rowItem(row);
    if (inPlaylistMode())
        return removeItemFromPlaylist(item);
    const bool wasPlaying = !player_.isNull() && player_->currentItem() && player_->currentItem()->path() == item->path();
    const bool removed = FileSystemObject::sharedObject()->removeFileAtPath(item->path());
    if (wasPlaying)
        emit playingFileDeleted();
    emit libraryScanRequested();
    return removed;
}

bool PlayListController::canMoveRow(int row) const
{
    return inPlaylistMode() && canDeleteRow(row);
}

void PlayListController::moveRow(int from, int to)
{
    if (!canMoveRow(from)) {
        emit playListChanged();
        return;
    }
    const int p = composer_.entryPositionOfRow(from);
    const int q = composer_.entryPositionOfRow(to);
    if (p == q) {
        emit playListChanged();
        return;
    }
    composer_.moveEntry(p, q);
    updatePlayList();
}

void PlayListController::onItemChange()
{
    emit itemChanged(rowOfCurrentItem());
    onPlayPause();
}

void PlayListController::onPlayPause()
{
    emit playPauseChanged(!player_.isNull() && player_->playing());
}
