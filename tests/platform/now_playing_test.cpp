#include <QDBusConnection>
#include <QProcess>

#include "platform/audio_queue/output_volume.h"
#include "platform/core/now_playing.h"
#include "support/test_support.h"

namespace {

// A private session bus for this test program, started before anything touches the bus.
class PrivateBus {
public:
    PrivateBus()
    {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000))
            return;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    }
    ~PrivateBus()
    {
        daemon_.kill();
        daemon_.waitForFinished(2000);
    }
    bool ok() const { return !address_.isEmpty(); }

private:
    QProcess daemon_;
    QString address_;
};

// Runs playerctl without blocking the event loop that must answer it.
QString playerctl(const QStringList &args)
{
    QProcess p;
    p.start("playerctl", QStringList{"--player=lumenar"} + args);
    lmtest::waitUntil([&] { return p.state() == QProcess::NotRunning; }, 10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

TEST(NowPlaying, PeersSeeTheItemAndControlPlayback)
{
    LMTEST_REQUIRE_TOOL("dbus-daemon");
    LMTEST_REQUIRE_TOOL("playerctl");
    lmtest::ensureApp();
    static PrivateBus bus;   // lives as long as the bus connection of this process
    ASSERT_TRUE(bus.ok());
    NowPlaying *np = NowPlaying::shared();
    ASSERT_TRUE(np->isPublished());
    EXPECT_EQ(np->serviceName(), "org.mpris.MediaPlayer2.lumenar");

    QImage cover(8, 8, QImage::Format_RGB32);
    cover.fill(Qt::red);
    np->setInfo({QString::fromUtf8("Tïtle"), "The Album", "The Artist", cover, 125.0});
    np->setPlaying(true);
    EXPECT_EQ(playerctl({"metadata", "--format", "{{title}}|{{artist}}|{{album}}"}),
              QString::fromUtf8("Tïtle|The Artist|The Album"));
    EXPECT_EQ(playerctl({"status"}), "Playing");
    QString art = playerctl({"metadata", "mpris:artUrl"});
    EXPECT_TRUE(art.startsWith("file:///")) << art.toStdString();

    std::vector<int> received;
    QObject::connect(np, &NowPlaying::remoteControlReceived, [&](int e) { received.push_back(e); });
    for (const char *cmd : {"play", "pause", "play-pause", "stop", "next", "previous"})
        playerctl({cmd});
    EXPECT_EQ(received, (std::vector<int>{RemoteControlPlay, RemoteControlPause, RemoteControlTogglePlayPause,
                                          RemoteControlStop, RemoteControlNextTrack, RemoteControlPreviousTrack}));

    // Volume is the application's output level, both ways.
    LMOutputVolumeSet(0.25f);
    EXPECT_EQ(playerctl({"volume"}).toDouble(), 0.25);
    playerctl({"volume", "0.5"});
    EXPECT_EQ(LMOutputVolumeGet(), 0.5f);
    LMOutputVolumeSet(1.0f);

    // Without an item peers see a stopped player with no title.
    np->clear();
    EXPECT_EQ(playerctl({"status"}), "Stopped");
}

} // namespace
