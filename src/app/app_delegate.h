// AppDelegate: the root of the running application, without its window. It makes the
// documents folder the working directory, owns the library, the main play list and the FTP
// server, scans when the application becomes active and after bursts of file changes,
// saves the playing position at termination and restores it once after the first scan,
// takes in files handed over by other applications, reacts to audio interruptions and
// route changes, runs the sleep timer and decides whether the screen may lock.
//
// Main thread only, but for the scan (MusicLibrary runs it on a thread of its own).
#pragma once

#include <cstdint>
#include <functional>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "library/music_library.h"
#include "player/play_list_controller.h"
#include "player/uni_player.h"

class FtpServer;

class AppDelegate : public QObject {
    Q_OBJECT

public:
    static constexpr quint16 kFtpPort = 40021;
    static constexpr double kActivationScanDelay = 0.5;
    static constexpr double kFileChangeScanDelay = 3.0;
    static constexpr double kRestoreDelay = 0.1;

    // Null player: the shared one.
    explicit AppDelegate(UniPlayer *player = nullptr, QObject *parent = nullptr);
    ~AppDelegate() override;
    // The delegate of the running application (the one created last), or null.
    static AppDelegate *shared();

    // Start-up: working directory, audio session, files handed over, FTP auto-start.
    bool didFinishLaunching(const QStringList &openedFiles = QStringList());
    // Schedules a scan 0.5 s later (at launch and on every return to the foreground).
    void applicationDidBecomeActive();
    // Saves the playing position.
    void applicationWillTerminate();
    // A file handed over by another application (a path or a file URL); always true.
    bool openURL(const QString &url);
    void importFile(const QString &url);

    MusicLibrary *library() const { return library_; }
    PlayableItemList playableItems() const { return library_->playableItems(); }
    PlayListController *playListController() const { return playListController_; }
    UniPlayer *player() const { return player_; }

    void loadMusics();
    void restorePosition(const PlayableItemPtr &item);

    void beginInterruption();
    // Bit 0 of the flags: playback may resume.
    void endInterruptionWithFlags(uint32_t flags);
    void onAudioRouteChange();
    bool isSpeaker() const;
    void updatePlayPause();

    void setSleepTimer(int seconds);
    void removeSleepTimer();
    void onTimerOut();
    // Wall-clock second at which the sleep timer fires; 0 when none is set.
    qint64 sleepTime() const { return sleepTime_; }

    void tryAutoLock();
    bool startFtpServer();
    void stopFtpServer();
    FtpServer *ftpd() const { return ftpd_; }
    // The port the FTP server listens on (tests and tools; 0 lets the system choose).
    void setFtpPort(quint16 port) { ftpPort_ = port; }

    void onThemeChange();
    void onEncodingChange();

    // Headless stand-in for the alert: the title and the message.
    using AlertHandler = std::function<void(const QString &title, const QString &message)>;
    void setAlertHandler(AlertHandler handler) { alert_ = std::move(handler); }
    // Builds and shows the window during start-up, after the audio session and before
    // files handed over are imported.
    void setWindowBuilder(std::function<void()> builder) { windowBuilder_ = std::move(builder); }

    // The restore after the first scan runs once per process; tests start over.
    static void resetPositionRestored();

public slots:
    // The FTP server's notice that the served files changed: one scan 3 s after a burst.
    void didReceiveFileListChanged();

signals:
    // A scan completed and the play list was composed from it.
    void libraryLoaded(int itemCount);
    void themeChanged();
    void ftpServerChanged(bool running);

private:
    static void interruptionListener(void *user, uint32_t state, uint32_t flags);
    static void routeListener(void *user, uint32_t property, uint32_t size, const void *value);
    void onLoadMusicsDone();
    void restorePreviousPosition();

    QPointer<UniPlayer> player_;
    MusicLibrary *library_ = nullptr;
    PlayListController *playListController_ = nullptr;
    bool noMusicWarning_ = false;
    bool wasPlaying_ = false;
    bool wasSpeakerWhenInterrupted_ = false;
    bool sessionStarted_ = false;
    qint64 sleepTime_ = 0;
    FtpServer *ftpd_ = nullptr;
    quint16 ftpPort_ = kFtpPort;
    AlertHandler alert_;
    std::function<void()> windowBuilder_;
};
