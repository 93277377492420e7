// The lumenar executable: options, and a second launch handing its files to the running
// instance over a private session bus.
#include <csignal>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>

#include "cli/cli_process.h"
#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "support/test_support.h"

namespace {

QProcessEnvironment appEnvironment(const std::string &config, const QString &bus)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_QUICK_BACKEND", "software");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
    env.insert("LUMENAR_AUDIO", "null");
    if (bus.isEmpty())
        env.remove("DBUS_SESSION_BUS_ADDRESS");
    else
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus);
    return env;
}

int runApp(const QStringList &args, const QProcessEnvironment &env, int timeoutMs = 20000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LUMENAR_APP_PATH), args);
    if (!p.waitForStarted(5000))
        return -2;
    if (!lmtest::waitUntil([&] { return p.state() == QProcess::NotRunning; }, timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

TEST(Launch, OptionsAreChecked)
{
    lmtest::ensureApp();
    lmtest::TempDir config;
    const QProcessEnvironment env = appEnvironment(config.path(), QString());
    EXPECT_EQ(runApp({"--help"}, env), 0);
    EXPECT_EQ(runApp({"--idiom", "watch"}, env), 2);
    EXPECT_EQ(runApp({"--audio", "speaker"}, env), 2);
    EXPECT_EQ(runApp({"--bogus"}, env), 2);
    lmtest::writeFile(config.file("not-a-folder"), "x");
    EXPECT_EQ(runApp({"--documents", QString::fromStdString(config.file("not-a-folder"))}, env), 1);
}

TEST(Launch, ASecondLaunchHandsItsFilesToTheRunningOne)
{
    LMTEST_REQUIRE_TOOL("dbus-daemon");
    lmtest::ensureApp();
    clitest::PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    lmtest::TempDir config, docs, outside;
    lmtest::ScopedEnv configEnv("XDG_CONFIG_HOME", config.path());
    lmtest::writeWav(outside.file("song.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 1));
    const QProcessEnvironment env = appEnvironment(config.path(), bus.address());

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(LUMENAR_APP_PATH), {"--documents", QString::fromStdString(docs.path())});
    ASSERT_TRUE(first.waitForStarted(5000));
    QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), "launch-test");
    ASSERT_TRUE(connection.isConnected());
    ASSERT_TRUE(lmtest::waitUntil(
        [&] { return connection.interface()->isServiceRegistered("org.lumenar.Lumenar").value(); }, 20000));

    EXPECT_EQ(runApp({QString::fromStdString(outside.file("song.wav"))}, env), 0);
    ASSERT_TRUE(lmtest::waitUntil([&] { return QFile::exists(QString::fromStdString(docs.file("Inbox/song.wav"))); },
                                  5000));
    EXPECT_EQ(UserDefaults::integerForKey(SettingsKeys::Organize), 0);
    EXPECT_EQ(UserDefaults::stringForKey(SettingsKeys::CurrentFolder), "Inbox");
    EXPECT_EQ(first.state(), QProcess::Running);

    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(lmtest::waitUntil([&] { return first.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    QDBusConnection::disconnectFromBus("launch-test");
}

} // namespace
