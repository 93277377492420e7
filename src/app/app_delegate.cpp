#include "app/app_delegate.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "net/ftp_server.h"
#include "platform/audio_session/audio_session.h"
#include "platform/core/delayed_perform.h"
#include "platform/core/file_system_object.h"
#include "platform/core/idle_timer.h"
#include "platform/core/user_defaults.h"

namespace {

const QString kLoadMusicsAction = QStringLiteral("loadMusics");
const QString kRestoreAction = QStringLiteral("restorePosition:");
const QString kTimerAction = QStringLiteral("onTimerOut");

QPointer<AppDelegate> gShared;
bool gPositionRestored = false;

QString documents()
{
    return FileSystemObject::sharedObject()->documentsDirectory();
}

bool isRegularFile(const QByteArray &path)
{
    struct stat st;
    return stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

AppDelegate::AppDelegate(UniPlayer *player, QObject *parent)
    : QObject(parent), player_(player != nullptr ? player : UniPlayer::defaultPlayer())
{
    gShared = this;
    library_ = new MusicLibrary(this);
    connect(library_, &MusicLibrary::loadMusicsDone, this, &AppDelegate::onLoadMusicsDone);
    playListController_ = new PlayListController(player_, this);
    MusicLibrary *library = library_;
    playListController_->setLibraryProvider([library] { return library->playableItems(); });
    connect(playListController_, &PlayListController::libraryScanRequested, this, &AppDelegate::loadMusics);
    connect(playListController_, &PlayListController::playPauseChanged, this, &AppDelegate::tryAutoLock);
    alert_ = [](const QString &title, const QString &message) {
        fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(message));
    };
}

AppDelegate::~AppDelegate()
{
    DelayedPerform::cancelAll(this);
    if (ftpd_ != nullptr) {
        ftpd_->stopFtpServer();
        delete ftpd_;
        ftpd_ = nullptr;
    }
    if (sessionStarted_) {
        AudioSessionRemovePropertyListener(kAudioSessionProperty_AudioRouteChange, &AppDelegate::routeListener, this);
        AudioSessionShutdown();
    }
    // The controller leaves the player before the library goes.
    delete playListController_;
    playListController_ = nullptr;
}

AppDelegate *AppDelegate::shared()
{
    return gShared;
}

bool AppDelegate::didFinishLaunching(const QStringList &openedFiles)
{
    FileSystemObject *fs = FileSystemObject::sharedObject();
    const QString docs = documents();
    fs->ensureDirectoryExists(docs);
    // Relative paths in play lists resolve against the documents folder.
    if (!QDir::setCurrent(docs))
        fprintf(stderr, "Cannot enter the documents folder %s\n", qPrintable(docs));

    if (AudioSessionInitialize(nullptr, &AppDelegate::interruptionListener, this) == noErr) {
        sessionStarted_ = true;
        AudioSessionAddPropertyListener(kAudioSessionProperty_AudioRouteChange, &AppDelegate::routeListener, this);
    }
    noMusicWarning_ = true;
    playListController_->setReceivesRemoteControlEvents(true);
    // The window with its root stack and main play list, when there is one.
    if (windowBuilder_)
        windowBuilder_();
    for (const QString &file : openedFiles)
        importFile(file);
    if (UserSettings::ftpAutoStart())
        startFtpServer();
    return true;
}

void AppDelegate::applicationDidBecomeActive()
{
    library_->resetLoadId();
    // Activations close together (start-up, a window taking focus) give one scan.
    DelayedPerform::cancel(this, kLoadMusicsAction);
    DelayedPerform::perform(this, kLoadMusicsAction, [this] { loadMusics(); }, kActivationScanDelay);
}

void AppDelegate::applicationWillTerminate()
{
    const PlayableItemPtr current = player_.isNull() ? nullptr : player_->currentItem();
    if (current) {
        if (!current->path().isEmpty())
            UserDefaults::setString(SettingsKeys::PreviousFile, current->path());
        UserDefaults::setInteger(SettingsKeys::PreviousTrack, current->trackNumber());
        UserDefaults::setInteger(SettingsKeys::PreviousPosition, qint64(std::trunc(player_->currentTime())));
    }
    // Before the first scan nothing could be current yet: the saved position still waits
    // for its restore and must not be lost.
    if ((!current && gPositionRestored) || (current && current->path().isEmpty()))
        UserDefaults::removeObjectForKey(SettingsKeys::PreviousFile);
}

bool AppDelegate::openURL(const QString &url)
{
    importFile(url);
    return true;
}

void AppDelegate::importFile(const QString &url)
{
    QString path = url;
    if (url.startsWith(QLatin1String("file:")))
        path = QUrl(url).toLocalFile();
    FileSystemObject *fs = FileSystemObject::sharedObject();
    const QString inbox = documents() + QStringLiteral("/Inbox");
    fs->ensureDirectoryExists(inbox);
    const QString name = QFileInfo(path).fileName();
    if (!name.isEmpty()) {
        const QByteArray from = QFile::encodeName(path);
        const QByteArray to = QFile::encodeName(inbox + QLatin1Char('/') + name);
        if (link(from.constData(), to.constData()) != 0) {
            // No hard link across file systems (a USB stick, /tmp) or to a file another
            // user owns: take a copy. An existing name is left as it is.
            const int err = errno;
            const bool copyInstead = err == EXDEV || err == EPERM || err == EMLINK || err == ENOTSUP;
            if (copyInstead && !fs->fileExists(QFile::decodeName(to)) && isRegularFile(from) &&
                !QFile::copy(path, QFile::decodeName(to)))
                fprintf(stderr, "Cannot import %s\n", from.constData());
        }
    }
    UserDefaults::setInteger(SettingsKeys::Organize, SettingsKeys::OrganizeFolder);
    UserDefaults::setString(SettingsKeys::CurrentFolder, QStringLiteral("Inbox"));
}

void AppDelegate::loadMusics()
{
    library_->loadMusics();
}

void AppDelegate::onLoadMusicsDone()
{
    playListController_->updatePlayList();
    restorePreviousPosition();
    const PlayableItemList items = library_->playableItems();
    if (items.isEmpty() && noMusicWarning_) {
        alert_(tr("No music"), tr("Copy music into %1 or upload it over FTP").arg(documents()));
        noMusicWarning_ = false;
    }
    emit libraryLoaded(int(items.size()));
}

void AppDelegate::restorePreviousPosition()
{
    if (gPositionRestored)
        return;
    const QString previous = UserSettings::previousFile();
    if (!previous.isNull()) {
        const int track = UserSettings::previousTrack();
        UserDefaults::removeObjectForKey(SettingsKeys::PreviousFile);
        for (const PlayableItemPtr &item : playListController_->playList()) {
            if (item->path() == previous && item->trackNumber() == track)
                DelayedPerform::perform(this, kRestoreAction, [this, item] { restorePosition(item); }, kRestoreDelay);
        }
    }
    gPositionRestored = true;
}

void AppDelegate::restorePosition(const PlayableItemPtr &item)
{
    // Something chosen meanwhile (a media key, a peer) is not replaced.
    if (player_.isNull() || player_->currentItem())
        return;
    player_->restoreItem(item, UserSettings::previousPosition());
    playListController_->onItemChange();
}

void AppDelegate::resetPositionRestored()
{
    gPositionRestored = false;
}

void AppDelegate::interruptionListener(void *user, uint32_t state, uint32_t flags)
{
    AppDelegate *self = static_cast<AppDelegate *>(user);
    if (state == kAudioSessionBeginInterruption)
        self->beginInterruption();
    else
        self->endInterruptionWithFlags(flags);
}

void AppDelegate::routeListener(void *user, uint32_t, uint32_t, const void *)
{
    static_cast<AppDelegate *>(user)->onAudioRouteChange();
}

void AppDelegate::beginInterruption()
{
    wasSpeakerWhenInterrupted_ = isSpeaker();
    if (!player_.isNull() && player_->playing()) {
        player_->pause();
        updatePlayPause();
        wasPlaying_ = true;
    } else {
        wasPlaying_ = false;
    }
}

void AppDelegate::endInterruptionWithFlags(uint32_t flags)
{
    if ((flags & kAudioSessionInterruptionFlag_ShouldResume) == 0)
        return;
    // Headphones taken out during the interruption: stay quiet.
    if (!player_.isNull() && wasPlaying_ && !(isSpeaker() && !wasSpeakerWhenInterrupted_)) {
        player_->play();
        updatePlayPause();
    }
}

void AppDelegate::onAudioRouteChange()
{
    if (isSpeaker() && !player_.isNull() && player_->playing()) {
        player_->pause();
        updatePlayPause();
    }
}

bool AppDelegate::isSpeaker() const
{
    char route[64];
    uint32_t size = sizeof route;
    if (AudioSessionGetProperty(kAudioSessionProperty_AudioRoute, &size, route) != noErr)
        return false;
    return strcmp(route, "Speaker") == 0;
}

void AppDelegate::updatePlayPause()
{
    playListController_->onPlayPause();
}

void AppDelegate::setSleepTimer(int seconds)
{
    removeSleepTimer();
    DelayedPerform::perform(this, kTimerAction, [this] { onTimerOut(); }, seconds);
    sleepTime_ = qint64(time(nullptr)) + seconds;
}

void AppDelegate::removeSleepTimer()
{
    sleepTime_ = 0;
    DelayedPerform::cancel(this, kTimerAction);
}

void AppDelegate::onTimerOut()
{
    sleepTime_ = 0;
    if (!player_.isNull())
        player_->sleep();
}

void AppDelegate::tryAutoLock()
{
    if (ftpd_ != nullptr)
        IdleTimer::setIdleTimerDisabled(true);
    else if (player_.isNull() || !player_->playing())
        IdleTimer::setIdleTimerDisabled(false);
    else
        IdleTimer::setIdleTimerDisabled(UserSettings::disableAutoLock());
}

bool AppDelegate::startFtpServer()
{
    if (ftpd_ != nullptr)
        return true;
    auto *server = new FtpServer(ftpPort_, documents(), this);
    if (!server->isListening()) {
        fprintf(stderr, "Failed to start ftpd server\n");
        delete server;
        return false;
    }
    server->setName(QStringLiteral("Lumenar"));
    server->setChangeRoot(true);
    server->setNotificationObject(this);
    ftpd_ = server;
    tryAutoLock();
    emit ftpServerChanged(true);
    return true;
}

void AppDelegate::stopFtpServer()
{
    if (ftpd_ != nullptr) {
        ftpd_->stopFtpServer();
        ftpd_->deleteLater();
        ftpd_ = nullptr;
        emit ftpServerChanged(false);
    }
    tryAutoLock();
}

void AppDelegate::didReceiveFileListChanged()
{
    DelayedPerform::cancel(this, kLoadMusicsAction);
    DelayedPerform::perform(this, kLoadMusicsAction, [this] { loadMusics(); }, kFileChangeScanDelay);
}

void AppDelegate::onThemeChange()
{
    emit themeChanged();
}

void AppDelegate::onEncodingChange()
{
    loadMusics();
    playListController_->updatePlayList();
}
