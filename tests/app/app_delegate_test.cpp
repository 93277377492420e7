// The application delegate without its window: scans, position, import, interruptions,
// route changes, sleep timer, auto-lock and the FTP server.
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QUrl>

#include "app/app_delegate.h"
#include "library/settings_keys.h"
#include "net/ftp_server.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/audio_session/audio_session.h"
#include "platform/core/delayed_perform.h"
#include "platform/core/file_system_object.h"
#include "platform/core/idle_timer.h"
#include "platform/core/user_defaults.h"
#include "support/audio_builders.h"
#include "support/test_support.h"

namespace {

using namespace SettingsKeys;

// Route and interruptions as the test says.
class FakeSessionSource : public AudioSessionEventSource {
public:
    void start(Sink *sink) override { sink_ = sink; }
    void stop() override { sink_ = nullptr; }
    bool activePort(std::string *port) override
    {
        if (!readable)
            return false;
        *port = this->port;
        return true;
    }
    void interrupt(bool begin, bool mayResume)
    {
        sink_->interruption(begin, mayResume);
        lmtest::spin(30);
    }
    void changeRoute(const std::string &newPort)
    {
        port = newPort;
        sink_->routeChanged();
        lmtest::spin(30);
    }
    std::string port = "analog-output-speaker";
    bool readable = true;

private:
    Sink *sink_ = nullptr;
};

void writeWav(const std::string &path, double seconds)
{
    lmtest::writeWav(path, 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, seconds));
}

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureApp();
        FileSystemObject::setDocumentsDirectory(QString::fromStdString(docs.path()));
        LMAudioOutputSelect("null");
        AppDelegate::resetPositionRestored();
        auto source = std::make_unique<FakeSessionSource>();
        session = source.get();
        LMAudioSessionSetEventSource(std::move(source));
        cwd = QDir::currentPath();
    }
    void TearDown() override
    {
        delegate.reset();
        QDir::setCurrent(cwd);
        FileSystemObject::setDocumentsDirectory(QString());
        LMAudioOutputSelect(nullptr);
    }
    // Starts the delegate, counting scans and alerts.
    void launch()
    {
        delegate = std::make_unique<AppDelegate>(&player);
        QObject::connect(delegate.get(), &AppDelegate::libraryLoaded, [this](int) { scans++; });
        delegate->setAlertHandler([this](const QString &t, const QString &m) { alerts << t + "|" + m; });
        delegate->didFinishLaunching();
    }
    bool activateAndScan()
    {
        const int before = scans;
        delegate->applicationDidBecomeActive();
        return lmtest::waitUntil([&] { return scans > before; }, 5000);
    }
    QString doc(const std::string &name) const { return QString::fromStdString(docs.file(name)); }
    void playFile(const std::string &name)
    {
        for (const PlayableItemPtr &i : delegate->playListController()->playList())
            if (i->path() == doc(name))
                player.play(i);
        ASSERT_TRUE(lmtest::waitUntil([&] { return player.playing(); }, 3000));
    }

    lmtest::TempDir config;
    lmtest::ScopedEnv env{"XDG_CONFIG_HOME", config.path()};
    lmtest::TempDir docs;
    UniPlayer player;
    std::unique_ptr<AppDelegate> delegate;
    FakeSessionSource *session = nullptr;
    int scans = 0;
    QStringList alerts;
    QString cwd;
};

TEST_F(AppDelegateTest, ABurstOfFileChangesGivesOneScanAfterTheLast)
{
    writeWav(docs.file("a.wav"), 0.2);
    launch();
    EXPECT_EQ(QDir::currentPath(), doc("").chopped(1));
    for (int i = 0; i < 3; i++) {
        delegate->didReceiveFileListChanged();
        if (i < 2)
            lmtest::spin(1000);
    }
    EXPECT_EQ(scans, 0);
    ASSERT_TRUE(lmtest::waitUntil([&] { return scans > 0; }, 6000));
    lmtest::spin(500);
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(delegate->playableItems().size(), 1);
}

TEST_F(AppDelegateTest, NoMusicIsToldOnce)
{
    launch();
    ASSERT_TRUE(activateAndScan());
    ASSERT_TRUE(activateAndScan());
    const QString docsPath = FileSystemObject::sharedObject()->documentsDirectory();
    EXPECT_EQ(alerts, QStringList{"No music|Copy music into " + docsPath + " or upload it over FTP"});
}

TEST_F(AppDelegateTest, ThePositionIsRestoredOnceAfterTheFirstScan)
{
    writeWav(docs.file("a.wav"), 1);
    writeWav(docs.file("b.wav"), 6);
    UserDefaults::setString(PreviousFile, doc("b.wav"));
    UserDefaults::setInteger(PreviousTrack, 0);
    UserDefaults::setInteger(PreviousPosition, 3);
    launch();
    ASSERT_TRUE(activateAndScan());
    ASSERT_TRUE(lmtest::waitUntil([&] { return bool(player.currentItem()); }, 2000));
    EXPECT_EQ(player.currentItem()->path(), doc("b.wav"));
    EXPECT_NEAR(player.currentTime(), 3.0, 0.01);
    EXPECT_FALSE(player.playing());
    EXPECT_TRUE(UserDefaults::stringForKey(PreviousFile).isNull());

    // Terminating saves it again, whole seconds.
    player.seekToTime(4.9);
    delegate->applicationWillTerminate();
    EXPECT_EQ(UserDefaults::stringForKey(PreviousFile), doc("b.wav"));
    EXPECT_EQ(UserDefaults::integerForKey(PreviousPosition), 4);

    // Later scans restore nothing.
    player.setCurrentItem(nullptr);
    ASSERT_TRUE(activateAndScan());
    lmtest::spin(300);
    EXPECT_FALSE(player.currentItem());
    EXPECT_EQ(UserDefaults::stringForKey(PreviousFile), doc("b.wav"));

    // Quitting with nothing current once the restore has run forgets the file.
    delegate->applicationWillTerminate();
    EXPECT_TRUE(UserDefaults::stringForKey(PreviousFile).isNull());
}

// A launch finds the library of the last run in the cache: the first scan opens nothing
// and the saved position is back as soon as it completes.
TEST_F(AppDelegateTest, TheFirstScanAfterLaunchTakesTheLibraryFromTheCache)
{
    lmtest::TempDir cache;
    lmtest::ScopedEnv cacheEnv("XDG_CACHE_HOME", cache.path());
    for (const char *name : {"a.wav", "b.wav", "c.wav"}) {
        writeWav(docs.file(name), 2);
        struct timespec old[2];
        clock_gettime(CLOCK_REALTIME, &old[0]);
        old[0].tv_sec -= 3600;   // settled: the cache trusts what it recorded
        old[1] = old[0];
        ASSERT_EQ(utimensat(AT_FDCWD, docs.file(name).c_str(), old, 0), 0);
    }
    {
        MusicLibrary lastRun;
        lastRun.loadMusicsCore(lastRun.loadId());
        ASSERT_EQ(lastRun.playableItems().size(), 3);
    }
    UserDefaults::setString(PreviousFile, doc("c.wav"));
    UserDefaults::setInteger(PreviousTrack, 0);
    UserDefaults::setInteger(PreviousPosition, 1);
    launch();
    ASSERT_TRUE(activateAndScan());
    const MusicLibrary::ScanStats stats = delegate->library()->lastScanStats();
    EXPECT_EQ(stats.cached, 3);
    EXPECT_EQ(stats.parsed, 0);
    EXPECT_EQ(delegate->playableItems().size(), 3);
    ASSERT_TRUE(lmtest::waitUntil([&] { return bool(player.currentItem()); }, 2000));
    EXPECT_EQ(player.currentItem()->path(), doc("c.wav"));
}

TEST_F(AppDelegateTest, AnItemOutsideTheShownListIsNotRestoredAndQuittingEarlyKeepsThePosition)
{
    QDir().mkpath(doc("Other"));
    writeWav(docs.file("Other/b.wav"), 2);
    writeWav(docs.file("a.wav"), 2);
    UserDefaults::setString(PreviousFile, doc("a.wav"));
    UserDefaults::setInteger(PreviousPosition, 1);
    UserDefaults::setString(CurrentFolder, "Other");
    launch();
    // Quitting before the first scan completes keeps what waits to be restored.
    delegate->applicationWillTerminate();
    EXPECT_EQ(UserDefaults::stringForKey(PreviousFile), doc("a.wav"));

    ASSERT_TRUE(activateAndScan());
    lmtest::spin(300);
    EXPECT_FALSE(player.currentItem());
    EXPECT_TRUE(UserDefaults::stringForKey(PreviousFile).isNull());
}

TEST_F(AppDelegateTest, InterruptionsResumeOnlyWhatWasPlayingOnTheSameRoute)
{
    writeWav(docs.file("a.wav"), 20);
    launch();
    ASSERT_TRUE(activateAndScan());
    playFile("a.wav");

    session->interrupt(true, false);
    EXPECT_FALSE(player.playing());
    session->interrupt(false, true);
    EXPECT_TRUE(player.playing());

    session->interrupt(true, false);
    session->interrupt(false, false);   // not allowed to resume
    EXPECT_FALSE(player.playing());
    session->interrupt(true, false);    // while paused
    session->interrupt(false, true);
    EXPECT_FALSE(player.playing());

    // Through headphones, taken out during the interruption: stays quiet.
    player.play();
    session->port = "analog-output-headphones";
    session->interrupt(true, false);
    session->port = "analog-output-speaker";
    session->interrupt(false, true);
    EXPECT_FALSE(player.playing());
}

TEST_F(AppDelegateTest, UnpluggingHeadphonesPausesAndPluggingThemInDoesNotPlay)
{
    writeWav(docs.file("a.wav"), 20);
    session->port = "analog-output-headphones";
    launch();
    ASSERT_TRUE(activateAndScan());
    playFile("a.wav");
    EXPECT_FALSE(delegate->isSpeaker());
    session->changeRoute("analog-output-headphones");
    EXPECT_TRUE(player.playing());
    session->changeRoute("analog-output-speaker");
    EXPECT_TRUE(delegate->isSpeaker());
    EXPECT_FALSE(player.playing());
    session->changeRoute("analog-output-headphones");
    EXPECT_FALSE(player.playing());

    // An unreadable route is no speaker, so a change never pauses.
    player.play();
    session->readable = false;
    session->changeRoute("analog-output-speaker");
    EXPECT_FALSE(delegate->isSpeaker());
    EXPECT_TRUE(player.playing());
}

TEST_F(AppDelegateTest, TheSleepTimerIsArmedOnceAndStartsTheFade)
{
    writeWav(docs.file("a.wav"), 20);
    launch();
    ASSERT_TRUE(activateAndScan());
    delegate->setSleepTimer(600);
    delegate->setSleepTimer(600);
    EXPECT_EQ(DelayedPerform::pendingCount(delegate.get(), "onTimerOut"), 1);
    EXPECT_NEAR(double(delegate->sleepTime()), double(time(nullptr) + 600), 2);
    delegate->removeSleepTimer();
    EXPECT_EQ(delegate->sleepTime(), 0);
    EXPECT_EQ(DelayedPerform::pendingCount(delegate.get(), "onTimerOut"), 0);

    playFile("a.wav");
    delegate->setSleepTimer(1);
    ASSERT_TRUE(lmtest::waitUntil([&] { return delegate->sleepTime() == 0; }, 3000));
    EXPECT_EQ(DelayedPerform::pendingCount(&player, UniPlayer::kFadeAction), 1);
    ASSERT_TRUE(lmtest::waitUntil([&] { return player.getVolume() < 0.96f; }, 2000));
}

TEST_F(AppDelegateTest, TheFtpServerStartsOnceKeepsTheScreenAwakeAndNotifiesScans)
{
    writeWav(docs.file("a.wav"), 20);
    UserDefaults::setInteger(FTPAutoStart, 1);
    delegate = std::make_unique<AppDelegate>(&player);
    delegate->setFtpPort(0);
    delegate->didFinishLaunching();
    FtpServer *server = delegate->ftpd();
    ASSERT_NE(server, nullptr);
    EXPECT_TRUE(server->isListening());
    EXPECT_EQ(server->name(), "Lumenar");
    EXPECT_TRUE(server->changeRoot());
    EXPECT_TRUE(delegate->startFtpServer());
    EXPECT_EQ(delegate->ftpd(), server);
    EXPECT_TRUE(IdleTimer::isIdleTimerDisabled()) << "serving keeps the screen awake, even paused";

    server->didReceiveFileListChanged();
    EXPECT_EQ(DelayedPerform::pendingCount(delegate.get(), "loadMusics"), 1);

    delegate->stopFtpServer();
    EXPECT_EQ(delegate->ftpd(), nullptr);
    EXPECT_FALSE(IdleTimer::isIdleTimerDisabled());

    // Playing: the screen locks unless DisableAutoLock says otherwise.
    ASSERT_TRUE(lmtest::waitUntil([&] { return scans > 0 || !delegate->playableItems().isEmpty(); }, 6000));
    delegate->playListController()->updatePlayList();
    playFile("a.wav");
    delegate->tryAutoLock();
    EXPECT_FALSE(IdleTimer::isIdleTimerDisabled());
    UserDefaults::setInteger(DisableAutoLock, 1);
    delegate->tryAutoLock();
    EXPECT_TRUE(IdleTimer::isIdleTimerDisabled());
    player.pause();
    EXPECT_FALSE(IdleTimer::isIdleTimerDisabled()) << "pausing tells the delegate";

    // A port in use: a log line and NO.
    FtpServer blocker(0, QString::fromStdString(docs.path()), nullptr);
    ASSERT_TRUE(blocker.isListening());
    delegate->setFtpPort(blocker.listeningPort());
    lmtest::StderrCapture err;
    EXPECT_FALSE(delegate->startFtpServer());
    EXPECT_NE(err.stop().find("Failed to start ftpd server"), std::string::npos);
    EXPECT_EQ(delegate->ftpd(), nullptr);
}

TEST_F(AppDelegateTest, ImportLinksIntoTheInboxCopiesAcrossFileSystemsAndKeepsExistingNames)
{
    lmtest::TempDir elsewhere;
    writeWav(elsewhere.file("song.wav"), 0.1);
    launch();
    EXPECT_TRUE(delegate->openURL(QUrl::fromLocalFile(QString::fromStdString(elsewhere.file("song.wav"))).toString()));
    struct stat a, b;
    ASSERT_EQ(stat(elsewhere.file("song.wav").c_str(), &a), 0);
    ASSERT_EQ(stat(docs.file("Inbox/song.wav").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino) << "a hard link on the same file system";
    EXPECT_EQ(UserDefaults::integerForKey(Organize), 0);
    EXPECT_EQ(UserDefaults::stringForKey(CurrentFolder), "Inbox");

    lmtest::writeFile(docs.file("Inbox/taken.wav"), "old");
    lmtest::writeFile(elsewhere.file("taken.wav"), "new");
    delegate->importFile(QString::fromStdString(elsewhere.file("taken.wav")));
    EXPECT_EQ(lmtest::readText(docs.file("Inbox/taken.wav")), "old");
}

// A hard link cannot cross file systems (a USB stick, /tmp on its own): a copy instead.
TEST_F(AppDelegateTest, ImportFromAnotherFileSystemCopies)
{
    launch();
    struct stat shm, home;
    if (stat("/dev/shm", &shm) != 0 || stat(docs.path().c_str(), &home) != 0 || shm.st_dev == home.st_dev ||
        access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    const std::string remote = "/dev/shm/lumenar-import-" + std::to_string(getpid()) + ".wav";
    writeWav(remote, 0.1);
    delegate->importFile(QString::fromStdString(remote));
    const std::string name = remote.substr(remote.rfind('/') + 1);
    EXPECT_EQ(lmtest::readFile(docs.file("Inbox/" + name)), lmtest::readFile(remote));
    EXPECT_EQ(lmtest::readFile(remote).size(), size_t(44 + 4410 * 4)) << "the original stays";
    std::remove(remote.c_str());
}

} // namespace
