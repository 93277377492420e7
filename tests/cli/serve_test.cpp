// lumenar-cli serve: the application without its window, run twice over one settings
// file, stopped by signals, fed by FTP uploads.
#include <QDir>
#include <QFile>

#include "cli_process.h"
#include "support/audio_builders.h"
#include "support/test_support.h"

namespace {

using clitest::CliProcess;

class ServeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureApp();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.path()));
        env.remove("DBUS_SESSION_BUS_ADDRESS");   // no media keys of the desktop here
        QDir().mkpath(QString::fromStdString(config.file("Lumenar")));
        for (const char *name : {"a.wav", "b.wav"})
            lmtest::writeWav(docs.file(name), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 4));
    }
    QStringList serve(const QStringList &more = {}) const
    {
        return QStringList{"serve", "--documents", QString::fromStdString(docs.path()), "--audio", "null"} + more;
    }
    // The settings file as the store writes it.
    std::string settings() const { return lmtest::readText(config.file("Lumenar/Lumenar.conf")); }
    void saved(const std::string &file, int track, int position) const
    {
        lmtest::writeFile(config.file("Lumenar/Lumenar.conf"),
                          "[General]\nPreviousFile=" + file + "\npreviousTrack=" + std::to_string(track) +
                              "\nPreviousPosition=" + std::to_string(position) + "\n");
    }

    lmtest::TempDir config;
    lmtest::TempDir docs;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

TEST_F(ServeTest, ThePositionSurvivesTwoRunsEndedBySignals)
{
    saved(docs.file("b.wav"), 0, 2);
    for (int signal : {SIGTERM, SIGINT}) {
        CliProcess run(serve(), env);
        ASSERT_TRUE(run.started());
        ASSERT_TRUE(run.waitForLine("library 2 items")) << run.errors().toStdString();
        ASSERT_TRUE(run.waitForLine("item b")) << "restored after the first scan";
        run.signal(signal);
        EXPECT_EQ(run.wait(), 0);
        const std::string conf = settings();
        EXPECT_NE(conf.find("PreviousFile=" + docs.file("b.wav")), std::string::npos) << conf;
        EXPECT_NE(conf.find("PreviousPosition=2"), std::string::npos) << conf;
        EXPECT_NE(conf.find("CurrentTheme=Plain.thm"), std::string::npos) << conf;
    }

    // A saved file that is gone is forgotten; nothing current, nothing saved.
    saved(docs.file("gone.wav"), 0, 5);
    CliProcess run(serve(), env);
    ASSERT_TRUE(run.waitForLine("library 2 items"));
    lmtest::spin(300);
    run.signal(SIGTERM);
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(settings().find("PreviousFile"), std::string::npos) << settings();
    EXPECT_FALSE(run.lines().contains("item gone"));
}

TEST_F(ServeTest, AnFtpUploadRefreshesTheLibrary)
{
    LMTEST_REQUIRE_TOOL("curl");
    lmtest::writeFile(config.file("Lumenar/Lumenar.conf"), "[General]\nFTPAutoStart=1\n");
    CliProcess run(serve({"--ftp-port", "0"}), env);
    ASSERT_TRUE(run.waitForLine("library 2 items")) << run.errors().toStdString();
    QString port;
    for (const QString &line : run.lines())
        if (line.startsWith("ftp listening on port "))
            port = line.mid(22);
    ASSERT_FALSE(port.isEmpty()) << run.errors().toStdString();

    lmtest::TempDir upload;
    lmtest::writeWav(upload.file("c.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 0.5));
    const lmtest::RunResult r = lmtest::run({"curl", "-s", "-S", "-T", upload.file("c.wav"),
                                             "ftp://127.0.0.1:" + port.toStdString() + "/"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(run.waitForLine("library 3 items", 10000));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(docs.file("c.wav"))));
    run.signal(SIGTERM);
    EXPECT_EQ(run.wait(), 0);
}

TEST_F(ServeTest, RefusesBadArguments)
{
    lmtest::ScopedEnv home("XDG_CONFIG_HOME", config.path());
    lmtest::writeFile(docs.file("plain"), "x");
    EXPECT_EQ(lmtest::run({lmtest::cliPath(), "serve", "--ftp-port", "70000"}).status, 2);
    EXPECT_EQ(lmtest::run({lmtest::cliPath(), "serve", "--audio", "speakers"}).status, 2);
    EXPECT_EQ(lmtest::run({lmtest::cliPath(), "serve", "--bogus"}).status, 2);
    const lmtest::RunResult r = lmtest::run({lmtest::cliPath(), "serve", "--documents", docs.file("plain")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a folder"), std::string::npos) << r.err;
}

} // namespace
