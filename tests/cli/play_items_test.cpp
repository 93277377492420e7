// lumenar-cli play as the item player: folders, play lists and disc images, play modes,
// the terminal face, and media keys through MPRIS.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>

#include "cli_process.h"
#include "support/audio_builders.h"
#include "support/test_support.h"

namespace {

using clitest::CliProcess;
using lmtest::Bytes;
using lmtest::operator+;

// A 16-bit stereo 44.1 kHz WAV with an ID3 title, artist and album.
void taggedWav(const std::string &path, double seconds, const std::string &title, const std::string &artist = "Band",
               const std::string &album = "Disc")
{
    auto text = [](const std::string &s) { return Bytes{3} + lmtest::bytesOf(s); };
    const Bytes tag = lmtest::id3Tag(4, lmtest::id3Frame(4, "TIT2", text(title)) +
                                            lmtest::id3Frame(4, "TPE1", text(artist)) +
                                            lmtest::id3Frame(4, "TALB", text(album)));
    lmtest::writeFile(path, lmtest::wavFile(2, 44100, 16, lmtest::tonePcm(44100, 2, 16, seconds), {{"id3 ", tag}}));
}

QStringList itemLines(const std::string &out)
{
    QStringList items;
    for (const QString &line : QString::fromStdString(out).split('\n'))
        if (line.startsWith("item "))
            items << line.mid(5);
    return items;
}

TEST(PlayItems, FoldersPlayListsAndImagesPlayInOrder)
{
    lmtest::TempDir dir;
    QDir().mkpath(QString::fromStdString(dir.file("music/sub")));
    taggedWav(dir.file("music/b.wav"), 0.3, "Bee");
    taggedWav(dir.file("music/A.wav"), 0.3, "Ay");
    lmtest::writeWav(dir.file("music/sub/disc.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 3));
    lmtest::writeFile(dir.file("music/sub/disc.cue"), "TITLE \"Disc\"\nFILE \"disc.wav\" WAVE\n"
                                                      "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                                                      "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 00:01:00\n");
    taggedWav(dir.file("x.wav"), 0.3, "Ex");
    lmtest::writeFile(dir.file("list.m3u"), "#EXTM3U\nx.wav\nmissing.wav\n");
    lmtest::writeFile(dir.file("notes.txt"), "not music");

    const lmtest::RunResult r = lmtest::run({lmtest::cliPath(), "play", dir.file("music"), dir.file("list.m3u"),
                                             dir.file("notes.txt"), "--audio", "wav-fast:" + dir.file("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(itemLines(r.out), (QStringList{"Ay", "Bee", "One", "Two", "Ex"})) << r.out;
    EXPECT_NE(r.err.find("cannot open " + dir.file("missing.wav")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot open " + dir.file("notes.txt")), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Why?"), std::string::npos) << "the end of the list is no news";

    const lmtest::RunResult none = lmtest::run({lmtest::cliPath(), "play", dir.file("list.m3u") + ".none",
                                                dir.file("empty"), "--audio", "null"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("nothing could be opened"), std::string::npos) << none.err;
    EXPECT_EQ(lmtest::run({lmtest::cliPath(), "play", dir.file("x.wav"), "--mode", "4"}).status, 2);
    EXPECT_EQ(lmtest::run({lmtest::cliPath(), "play", dir.file("x.wav"), "--mode", "1.5"}).status, 2);
}

TEST(PlayItems, LoopModePlaysTheListAgainUntilStopped)
{
    lmtest::ensureApp();
    lmtest::TempDir dir;
    taggedWav(dir.file("a.wav"), 0.3, "Ay");
    taggedWav(dir.file("b.wav"), 0.3, "Bee");
    CliProcess run({"play", QString::fromStdString(dir.file("a.wav")), QString::fromStdString(dir.file("b.wav")),
                    "--mode", "2", "--audio", QString::fromStdString("wav-fast:" + dir.file("out.wav"))});
    ASSERT_TRUE(lmtest::waitUntil([&] { return run.lines().filter("item ").size() >= 5; }, 10000));
    run.signal(SIGTERM);
    EXPECT_EQ(run.wait(), 128 + SIGTERM);
    const QStringList items = run.lines().filter("item ");
    EXPECT_EQ(items.mid(0, 4), (QStringList{"item Ay", "item Bee", "item Ay", "item Bee"}));
}

TEST(PlayItems, MediaKeysAndPeersSeeAndControlTheItem)
{
    LMTEST_REQUIRE_TOOL("dbus-daemon");
    LMTEST_REQUIRE_TOOL("playerctl");
    lmtest::ensureApp();
    clitest::PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    lmtest::TempDir dir;
    taggedWav(dir.file("a.wav"), 30, "Song A");
    taggedWav(dir.file("b.wav"), 30, "Song B", "Other", "Second");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    CliProcess run({"play", QString::fromStdString(dir.file("a.wav")), QString::fromStdString(dir.file("b.wav")),
                    "--audio", "null"},
                   env);
    ASSERT_TRUE(run.waitForLine("item Song A")) << run.errors().toStdString();

    auto playerctl = [&](const std::vector<std::string> &args) {
        std::vector<std::string> argv = {"env", "DBUS_SESSION_BUS_ADDRESS=" + bus.address().toStdString(), "playerctl",
                                         "--player=lumenar"};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string out = lmtest::run(argv).out;
        return QString::fromStdString(out).trimmed();
    };
    EXPECT_EQ(playerctl({"metadata", "--format", "{{title}}|{{artist}}|{{album}}"}), "Song A|Band|Disc");
    EXPECT_EQ(playerctl({"status"}), "Playing");
    playerctl({"next"});
    ASSERT_TRUE(run.waitForLine("item Song B"));
    EXPECT_EQ(playerctl({"metadata", "--format", "{{title}}|{{artist}}|{{album}}"}), "Song B|Other|Second");
    // Early in the item: previous goes back to the one before.
    playerctl({"previous"});
    EXPECT_TRUE(lmtest::waitUntil([&] { return run.lines().filter("item ").size() == 3; }, 3000));
    EXPECT_EQ(run.lines().filter("item ").last(), "item Song A");
    playerctl({"pause"});
    EXPECT_TRUE(lmtest::waitUntil([&] { return playerctl({"status"}) == "Paused"; }, 3000));
    playerctl({"play"});
    EXPECT_TRUE(lmtest::waitUntil([&] { return playerctl({"status"}) == "Playing"; }, 3000));
    run.signal(SIGINT);
    EXPECT_EQ(run.wait(), 128 + SIGINT);
}

// The terminal face, on a pseudo-terminal: status lines, keys, and the terminal's mode
// given back at the end.
TEST(PlayItems, OnATerminalKeysControlPlaybackAndTheTerminalIsRestored)
{
    lmtest::TempDir dir;
    taggedWav(dir.file("a.wav"), 20, "Song A");
    lmtest::writeFile(dir.file("a.lrc"), "[00:00.00]Hello lyrics\n");
    taggedWav(dir.file("b.wav"), 20, "Song B");

    int master = -1, slave = -1;
    struct winsize size = {};
    size.ws_row = 24;
    size.ws_col = 100;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    const std::string cli = lmtest::cliPath();
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(slave, 0);
        dup2(slave, 1);
        dup2(slave, 2);
        close(master);
        execl(cli.c_str(), cli.c_str(), "play", a.c_str(), b.c_str(), "--audio", "null", nullptr);
        _exit(127);
    }
    fcntl(master, F_SETFL, O_NONBLOCK);
    std::string screen;
    auto readFor = [&](const std::string &what, int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            char buffer[4096];
            ssize_t n;
            while ((n = read(master, buffer, sizeof buffer)) > 0)
                screen.append(buffer, size_t(n));
            if (screen.find(what) != std::string::npos)
                return true;
            usleep(20000);
        }
        return false;
    };
    EXPECT_TRUE(readFor("Song A", 5000)) << screen;
    EXPECT_TRUE(readFor("Hello lyrics", 5000)) << screen;
    EXPECT_TRUE(readFor("[Play to end of list]", 5000)) << screen;
    EXPECT_EQ(screen.find("event "), std::string::npos) << "no event lines on a terminal";
    struct termios raw;
    tcgetattr(slave, &raw);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO), 0u);

    ASSERT_EQ(write(master, "m", 1), 1);
    EXPECT_TRUE(readFor("[Shuffle]", 5000)) << screen;
    ASSERT_EQ(write(master, "n", 1), 1);
    EXPECT_TRUE(readFor("Song B", 5000)) << screen;
    ASSERT_EQ(write(master, " ", 1), 1);
    EXPECT_TRUE(readFor("\xE2\x8F\xB8 Song B", 5000)) << "paused";
    ASSERT_EQ(write(master, "q", 1), 1);

    int status = -1;
    for (int waited = 0; waited < 5000 && waitpid(pid, &status, WNOHANG) == 0; waited += 20) {
        readFor("", 0);
        usleep(20000);
    }
    ASSERT_TRUE(WIFEXITED(status)) << screen;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    struct termios after;
    tcgetattr(slave, &after);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO)) << "the terminal's mode is given back";
    close(master);
    close(slave);
}

} // namespace
