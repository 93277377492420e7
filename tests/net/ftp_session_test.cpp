// Exact reply sequences against a server running on this test's event loop.
#include <cstdlib>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>

#include "net/ftp_server.h"
#include "net/ftp_test_client.h"
#include "support/test_support.h"

namespace {

using ftptest::ControlClient;

class FtpSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureApp();
        root = dir.path() + "/root";
        QDir().mkpath(QString::fromStdString(root + "/Music"));
        lmtest::writeFile(root + "/Music/song.flac", std::string(10239, 's'));
        lmtest::writeFile(root + "/Music/big.flac", std::string(10240, 'b'));
        server = std::make_unique<FtpServer>(0, QString::fromStdString(root), nullptr);
        server->setName("Lumenar");
        server->setChangeRoot(true);
        ASSERT_TRUE(server->isListening());
        QObject::connect(server.get(), &FtpServer::fileListChanged, [this] { notifications++; });
        ASSERT_TRUE(client.connect("127.0.0.1", server->listeningPort()));
        ASSERT_TRUE(client.login());
    }
    void TearDown() override
    {
        server.reset();
        lmtest::spin(10);
    }
    // A passive data connection, the command, its 150, and everything sent.
    std::string transfer(const std::string &command)
    {
        int data = client.openPassive("127.0.0.1");
        EXPECT_GE(data, 0);
        std::string first = client.ask(command);
        EXPECT_EQ(first.substr(0, 4), "150 ") << first;
        std::string bytes = ftptest::readAll(data);
        close(data);
        EXPECT_EQ(client.reply(), "226 Transfer complete.");
        return bytes;
    }
    bool notifiedTimes(int n)
    {
        return lmtest::waitUntil([&] { return notifications == n; }, 5000) && notifications == n;
    }

    lmtest::TempDir dir;
    std::string root;
    std::unique_ptr<FtpServer> server;
    ControlClient client;
    int notifications = 0;
};

TEST_F(FtpSession, FixedRepliesUnknownWordsAndEmptyLines)
{
    EXPECT_EQ(client.ask("SYST"), "215 UNIX Type: L8 Version: Brookfern");
    EXPECT_EQ(client.ask("noop"), "200 NOOP command successful.");
    EXPECT_EQ(client.ask("Noop"), "200 NOOP command successful.");
    EXPECT_EQ(client.ask("FEAT"), "211-Features supported\n UTF8\n REST STREAM\n SIZE\n211 End");
    EXPECT_EQ(client.ask("STAT"), "211-localhost FTP server status:\n211 End of Status");
    EXPECT_EQ(client.ask("TYPE I"), "200 Type set to  I.");
    EXPECT_EQ(client.ask("OPTS UTF8 ON"), "502 Unknown command 'UTF8 ON'");
    EXPECT_EQ(client.ask("XyZ 1 2"), "500 'XyZ': command not understood.");
    EXPECT_EQ(client.ask("MLST song.flac"), "150 Opening BINARY mode data connection for 'song.flac'.");
    // What clients try and this server does not offer leaves the session usable.
    EXPECT_EQ(client.ask("AUTH TLS"), "500 'AUTH': command not understood.");
    EXPECT_EQ(client.ask("MDTM Music/song.flac"), "500 'MDTM': command not understood.");
    EXPECT_EQ(client.ask("USER"), "501 Syntax error in parameters or arguments.");
    EXPECT_EQ(client.ask("USER other"), "331 Password required for other");
    EXPECT_EQ(client.ask("PASS"), "230 User other logged in.");
    // An empty line gets no answer: the next reply is the next command's.
    client.sendRaw("\r\n\r\n");
    EXPECT_EQ(client.ask("NOOP"), "200 NOOP command successful.");
    // Several commands in one write.
    client.sendRaw("NOOP\r\nPWD\r\n");
    EXPECT_EQ(client.reply(), "200 NOOP command successful.");
    EXPECT_EQ(client.reply(), "257 \"/\" is the current directory.");
    EXPECT_TRUE(client.silentFor(50));
}

TEST_F(FtpSession, WorkingDirectoryStaysUnderTheRoot)
{
    EXPECT_EQ(client.ask("PWD"), "257 \"/\" is the current directory.");
    EXPECT_EQ(client.ask("CDUP"), "250 CDUP command successful.");
    EXPECT_EQ(client.ask("PWD"), "257 \"/\" is the current directory.");
    EXPECT_EQ(client.ask("CWD Music"), "250 CWD command successful.");
    EXPECT_EQ(client.ask("PWD"), "257 \"/Music/\" is the current directory.");
    EXPECT_EQ(client.ask("CWD nowhere"), "550 CWD failed.");
    EXPECT_EQ(client.ask("CWD song.flac"), "550 CWD failed.");
    EXPECT_EQ(client.ask("PWD"), "257 \"/Music/\" is the current directory.");
    EXPECT_EQ(client.ask("CDUP"), "250 CDUP command successful.");
    EXPECT_EQ(client.ask("PWD"), "257 \"/\" is the current directory.");
    EXPECT_EQ(client.ask("CWD /Music/"), "250 CWD command successful.");
    EXPECT_EQ(client.ask("CWD /"), "250 CWD command successful.");
    EXPECT_EQ(client.ask("MKD say \"hi\""), "250 MKD command successful.");
    EXPECT_EQ(client.ask("CWD say \"hi\""), "250 CWD command successful.");
    EXPECT_EQ(client.ask("PWD"), "257 \"/say \"\"hi\"\"/\" is the current directory.");
    EXPECT_EQ(client.ask("CWD"), "501 Syntax error in parameters or arguments.");

    // A second client keeps its own directory.
    ControlClient other;
    ASSERT_TRUE(other.connect("127.0.0.1", server->listeningPort()));
    ASSERT_TRUE(other.login());
    EXPECT_EQ(other.ask("PWD"), "257 \"/\" is the current directory.");
    EXPECT_EQ(server->connectionCount(), 2);
}

TEST_F(FtpSession, ListingsTravelOnTheDataConnection)
{
    std::string listing = transfer("LIST");
    EXPECT_EQ(listing.rfind("total 1\r\n", 0), 0u) << listing;
    EXPECT_NE(listing.find(" Music\n"), std::string::npos);
    EXPECT_NE(listing.find("drwx"), std::string::npos);
    EXPECT_EQ(transfer("LIST -la"), listing);
    std::string music = transfer("LIST Music");
    EXPECT_EQ(music.rfind("total 2\r\n-rw", 0), 0u) << music;
    EXPECT_NE(music.find("      10239 "), std::string::npos);
    EXPECT_EQ(transfer("LIST nowhere"), "total 0\r\n");
    EXPECT_EQ(transfer("LIST Music/song.flac"), "total 0\r\n");
    // Over EPSV too, and nothing without a data connection set up.
    int data = client.openPassive("127.0.0.1", true);
    ASSERT_GE(data, 0);
    EXPECT_EQ(client.ask("LIST"), "150 Opening ASCII mode data connection for '/bin/ls'.");
    EXPECT_EQ(ftptest::readAll(data), listing);
    close(data);
    EXPECT_EQ(client.reply(), "226 Transfer complete.");
    EXPECT_EQ(client.ask("LIST"), "425 Can't open data connection.");
}

TEST_F(FtpSession, SizeMakeRenameAndDelete)
{
    EXPECT_EQ(client.ask("SIZE Music/song.flac"), "213 10239");
    EXPECT_EQ(client.ask("SIZE Music/big.flac"), "213 10240");
    EXPECT_EQ(client.ask("SIZE Music"), "550 Music: Not a plain file.");
    EXPECT_EQ(client.ask("SIZE nothing"), "550 nothing No such file or directory.");

    EXPECT_EQ(client.ask("MKD new/deeper"), "250 MKD command successful.");
    EXPECT_TRUE(QDir(QString::fromStdString(root + "/new/deeper")).exists());
    EXPECT_EQ(client.ask("MKD new"), "550 Error new exists");
    EXPECT_EQ(client.ask("MKD Music/song.flac/sub"), "550 MKD command failed.");
    EXPECT_EQ(notifications, 0);

    EXPECT_EQ(client.ask("RNTO anything"), "550 RNTO command failed.");
    EXPECT_EQ(client.ask("RNFR missing"), "550 RNFR command failed.");
    EXPECT_EQ(client.ask("RNFR Music/song.flac"), "350 RNFR command successful.");
    EXPECT_EQ(client.ask("RNTO Music/big.flac"), "550 RNTO command failed.");   // never replaces
    EXPECT_EQ(client.ask("RNTO new/moved song.flac"), "250 RNTO command successful.");
    EXPECT_TRUE(notifiedTimes(1));
    EXPECT_EQ(lmtest::readText(root + "/new/moved song.flac"), std::string(10239, 's'));
    EXPECT_EQ(client.ask("RNFR /"), "550 RNFR command failed.");
    EXPECT_EQ(client.ask("RNTO x"), "550 RNTO command failed.");   // the refused source is not kept

    EXPECT_EQ(client.ask("RMD new"), "250 DELE command successful.");
    EXPECT_FALSE(QDir(QString::fromStdString(root + "/new")).exists());
    EXPECT_TRUE(notifiedTimes(2));
    EXPECT_EQ(client.ask("DELE new"), "550 new No such file or directory.");
    EXPECT_EQ(client.ask("DELE Music/big.flac"), "250 DELE command successful.");
    EXPECT_TRUE(notifiedTimes(3));
    EXPECT_EQ(notifications, 3);
}

TEST_F(FtpSession, UploadsAndDownloads)
{
    // STOR of a name with spaces, sent in three chunks.
    int data = client.openPassive("127.0.0.1");
    ASSERT_GE(data, 0);
    EXPECT_EQ(client.ask("STOR my new song.flac"), "150 Opening BINARY mode data connection for 'my new song.flac'.");
    for (const char *chunk : {"one,", "two,", "three"}) {
        ASSERT_TRUE(ftptest::writeAll(data, chunk));
        lmtest::spin(20);
    }
    close(data);
    EXPECT_EQ(client.reply(), "226 Transfer complete.");
    EXPECT_EQ(lmtest::readText(root + "/my new song.flac"), "one,two,three");
    EXPECT_TRUE(notifiedTimes(1));

    // RETR before the client connects: 150 at once, the file once it connects.
    uint16_t port = ftptest::passivePort(client.ask("PASV"));
    ASSERT_NE(port, 0);
    EXPECT_EQ(client.ask("RETR my new song.flac"), "150 Opening BINARY mode data connection for 'my new song.flac'.");
    data = ftptest::connectTcp("127.0.0.1", port);
    ASSERT_GE(data, 0);
    EXPECT_EQ(ftptest::readAll(data), "one,two,three");
    close(data);
    EXPECT_EQ(client.reply(), "226 Transfer complete.");

    // A large file arrives whole.
    std::string big(6 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < big.size(); i++)
        big[i] = char((i * 131) >> 3);
    lmtest::writeFile(root + "/Music/large.bin", big);
    EXPECT_EQ(transfer("RETR /Music/large.bin"), big);

    EXPECT_EQ(client.ask("RETR Music"), "550 Music: Not a plain file.");
    EXPECT_EQ(client.ask("RETR gone"), "550 gone No such file or directory.");
    EXPECT_EQ(client.ask("RETR Music/song.flac"), "425 Can't open data connection.");   // no PASV since
    EXPECT_EQ(client.ask("STOR ../x"), "553 ../x: Permission denied.");
    EXPECT_EQ(notifications, 1);
}

TEST_F(FtpSession, EmptyUploadsFinishWhicheverOrderTheConnectionComesIn)
{
    // Connected before STOR, closed without a byte.
    int data = client.openPassive("127.0.0.1");
    ASSERT_GE(data, 0);
    EXPECT_EQ(client.ask("STOR first.txt").substr(0, 4), "150 ");
    close(data);
    EXPECT_EQ(client.reply(), "226 Transfer complete.");
    // Connected only after STOR was answered, closed without a byte.
    uint16_t port = ftptest::passivePort(client.ask("EPSV"));
    EXPECT_EQ(client.ask("STOR second.txt").substr(0, 4), "150 ");
    data = ftptest::connectTcp("127.0.0.1", port);
    ASSERT_GE(data, 0);
    close(data);
    EXPECT_EQ(client.reply(), "226 Transfer complete.");
    EXPECT_TRUE(QFileInfo(QString::fromStdString(root + "/first.txt")).exists());
    EXPECT_EQ(QFileInfo(QString::fromStdString(root + "/second.txt")).size(), 0);
    EXPECT_TRUE(notifiedTimes(2));
}

TEST_F(FtpSession, ActiveModeConnectsBackToTheClientOnly)
{
    // The client's listener; PORT names another host, the server still comes here.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    uint16_t port = ntohs(a.sin_port);

    EXPECT_EQ(client.ask("PORT 10,0,0,2," + std::to_string(port / 256) + "," + std::to_string(port % 256)),
              "200 PORT command successful.");
    EXPECT_EQ(client.ask("RETR Music/song.flac").substr(0, 4), "150 ");
    ASSERT_TRUE(ftptest::waitFor(listener, false, 5000));
    int data = accept(listener, nullptr, nullptr);
    ASSERT_GE(data, 0);
    EXPECT_EQ(ftptest::readAll(data), std::string(10239, 's'));
    close(data);
    EXPECT_EQ(client.reply(), "226 Transfer complete.");

    EXPECT_EQ(client.ask("EPRT |1|192.0.2.1|" + std::to_string(port) + "|"), "200 EPRT command successful.");
    EXPECT_EQ(client.ask("STOR active.txt").substr(0, 4), "150 ");
    ASSERT_TRUE(ftptest::waitFor(listener, false, 5000));
    data = accept(listener, nullptr, nullptr);
    ASSERT_TRUE(ftptest::writeAll(data, "sent actively"));
    close(data);
    EXPECT_EQ(client.reply(), "226 Transfer complete.");
    EXPECT_EQ(lmtest::readText(root + "/active.txt"), "sent actively");

    std::string lprt = "LPRT 4,4,127,0,0,1,2," + std::to_string(port / 256) + "," + std::to_string(port % 256);
    EXPECT_EQ(client.ask(lprt), "228 Entering Long Passive Mode \t(af, hal, h1, h2, h3,..., pal, p1, p2...)");
    EXPECT_EQ(client.ask("LIST").substr(0, 4), "150 ");
    ASSERT_TRUE(ftptest::waitFor(listener, false, 5000));
    data = accept(listener, nullptr, nullptr);
    EXPECT_EQ(ftptest::readAll(data).rfind("total ", 0), 0u);
    close(data);
    EXPECT_EQ(client.reply(), "226 Transfer complete.");

    // A refused active connection is a failure, never a stray success.
    close(listener);
    EXPECT_EQ(client.ask("PORT 127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256)),
              "200 PORT command successful.");
    std::string reply = client.ask("RETR Music/song.flac");
    if (reply.rfind("150 ", 0) == 0)
        reply = client.reply();
    EXPECT_EQ(reply, "425 Can't open data connection.");
    EXPECT_TRUE(client.silentFor(100));

    for (const char *bad : {"PORT 1,2,3", "PORT 1,2,3,4,300,1", "EPRT |1|x|", "EPRT |1|127.0.0.1|0|", "LPRT 6,16,1"})
        EXPECT_EQ(client.ask(bad), "501 Syntax error in parameters or arguments.") << bad;
    EXPECT_EQ(client.ask("NOOP"), "200 NOOP command successful.");
}

TEST_F(FtpSession, QuitAnswersTwoLinesThenClosesAndLeavesTheList)
{
    const uint16_t port = server->listeningPort();
    EXPECT_EQ(server->connectionCount(), 1);
    client.command("QUIT");
    EXPECT_EQ(client.line(), "221- Data traffic for this session was 0 bytes in 0 files");
    EXPECT_EQ(client.line(), "221 Thank you for using the FTP service on localhost.");
    EXPECT_TRUE(client.closedByPeer());
    EXPECT_TRUE(lmtest::waitUntil([&] { return server->connectionCount() == 0; }, 5000));

    // A client that simply goes away, in the middle of an upload, is removed as well.
    ControlClient gone;
    ASSERT_TRUE(gone.connect("127.0.0.1", port));
    ASSERT_TRUE(gone.login());
    int data = gone.openPassive("127.0.0.1");
    EXPECT_EQ(gone.ask("STOR partial.txt").substr(0, 4), "150 ");
    ftptest::writeAll(data, "part");
    EXPECT_EQ(server->connectionCount(), 1);
    ftptest::resetAndClose(gone.fd());
    EXPECT_TRUE(lmtest::waitUntil([&] { return server->connectionCount() == 0; }, 5000));
    EXPECT_EQ(ftptest::readAll(data, 5000), "");   // its data connection went too
    close(data);

    server->stopFtpServer();
    EXPECT_LT(ftptest::connectTcp("127.0.0.1", port), 0);
}

TEST_F(FtpSession, HostileNamesCannotInjectReplies)
{
    client.sendRaw("RETR a\rb\r\n");
    EXPECT_EQ(client.reply(), "550 a b No such file or directory.");
    client.sendRaw(std::string("STOR x\0y\r\n", 10));
    EXPECT_EQ(client.reply(), "553 x y: Permission denied.");
    client.sendRaw(std::string("DELE Music/song.flac\0.txt\r\n", 27));
    EXPECT_EQ(client.reply(), "550 Music/song.flac .txt No such file or directory.");
    EXPECT_TRUE(QFile::exists(QString::fromStdString(root + "/Music/song.flac")));
    client.sendRaw("XYZ\r226 fake\r\n");
    EXPECT_EQ(client.reply(), "500 'XYZ 226': command not understood.");
    EXPECT_TRUE(client.silentFor(50));
    client.sendRaw(std::string(5000, 'A') + "\r\n");
    EXPECT_EQ(client.reply(), "500 Command line too long.");
    EXPECT_EQ(client.ask("NOOP"), "200 NOOP command successful.");
}

TEST(FtpSessionWithoutChangeRoot, ClientPathsAreTheSystemsOwn)
{
    lmtest::ensureApp();
    lmtest::TempDir dir;
    QDir().mkpath(QString::fromStdString(dir.path() + "/served"));
    QDir().mkpath(QString::fromStdString(dir.path() + "/elsewhere"));
    lmtest::writeFile(dir.path() + "/elsewhere/file.txt", "reachable");
    char *real = realpath(dir.path().c_str(), nullptr);
    const std::string base = real;
    free(real);
    FtpServer server(0, QString::fromStdString(dir.path() + "/served"), nullptr);
    ControlClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.listeningPort()));
    ASSERT_TRUE(client.login());
    EXPECT_EQ(client.ask("PWD"), "257 \"" + base + "/served\" is the current directory.");
    EXPECT_EQ(client.ask("CWD ../elsewhere"), "250 CWD command successful.");
    EXPECT_EQ(client.ask("SIZE file.txt"), "213 9");
    EXPECT_EQ(client.ask("CWD " + base), "250 CWD command successful.");
    EXPECT_EQ(client.ask("CWD /"), "250 CWD command successful.");
    EXPECT_EQ(client.ask("PWD"), "257 \"/\" is the current directory.");
    EXPECT_EQ(client.ask("CDUP"), "250 CDUP command successful.");
}

} // namespace
