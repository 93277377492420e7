// The real window under an X server, operated the way a screen reader does: controls are
// found by their accessible names over AT-SPI and pressed.
#include <csignal>

#include <QFile>
#include <QProcess>

#include "cli/cli_process.h"
#include "support/test_support.h"

namespace {

class XServer {
public:
    XServer()
    {
        // -displayfd: the server picks a free display and prints its number.
        server_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x1200x24", "-nolisten", "tcp"});
        if (server_.waitForStarted(5000) && lmtest::waitUntil([&] { return server_.canReadLine(); }, 10000))
            display_ = ":" + QString::fromUtf8(server_.readLine()).trimmed();
    }
    ~XServer()
    {
        server_.kill();
        server_.waitForFinished(3000);
    }
    const QString &display() const { return display_; }

private:
    QProcess server_;
    QString display_;
};

TEST(Accessibility, AScreenReaderFindsAndPressesTheControls)
{
    LMTEST_REQUIRE_TOOL("Xvfb");
    LMTEST_REQUIRE_TOOL("dbus-daemon");
    if (!QFile::exists("/usr/libexec/at-spi-bus-launcher") ||
        lmtest::run({"/usr/bin/python3", "-c", "import pyatspi"}).status != 0)
        GTEST_SKIP() << "at-spi2-core or python3-pyatspi is not installed; skipping";
    lmtest::ensureApp();
    XServer x;
    ASSERT_FALSE(x.display().isEmpty());
    clitest::PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    lmtest::TempDir config, docs;
    lmtest::writeWav(docs.file("Morning.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 30));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x.display());
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("QT_QUICK_BACKEND");
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.path()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(config.path()));
    env.insert("NO_AT_BRIDGE", "0");

    // The accessibility bus first, so the window registers with it at start.
    QProcess wake;
    wake.setProcessEnvironment(env);
    wake.start("dbus-send", {"--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                             "org.a11y.Bus.GetAddress"});
    ASSERT_TRUE(wake.waitForFinished(10000));

    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(LUMENAR_APP_PATH),
              {"--documents", QString::fromStdString(docs.path()), "--audio", "null", "--idiom", "phone"});
    ASSERT_TRUE(app.waitForStarted(5000));

    QProcess client;
    client.setProcessEnvironment(env);
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start("/usr/bin/python3",
                 {QStringLiteral(LUMENAR_SOURCE_DIR "/tests/ui/atspi_client.py"),
                  // The first scan finds nothing playing yet and one file.
                  "see:Organize", "see:Morning", "see:Play to end of list",
                  "press:Play to end of list", "see:Shuffle",
                  "press:Morning", "see:Now playing",
                  "press:Organize", "see:Files", "see:Help Center", "press:Back to playing list",
                  "gone:Files", "press:Pause or Play", "see:Paused"});
    const bool finished = client.waitForFinished(90000);
    const QString transcript = QString::fromUtf8(client.readAll());
    EXPECT_TRUE(finished);
    EXPECT_EQ(client.exitCode(), 0) << transcript.toStdString();

    ::kill(pid_t(app.processId()), SIGTERM);
    EXPECT_TRUE(app.waitForFinished(10000));
}

} // namespace
