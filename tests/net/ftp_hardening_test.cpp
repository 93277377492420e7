// Attacks that once worked against the FTP server, each replayed on loopback: stale
// paths, a folder swapped for a link under a running command, one client's flood holding
// up the others, idle connections taking every slot, active mode aimed at the server
// itself. And what clients on flaky networks need: names that are not UTF-8 named back,
// transfers resumed and aborted.
#include <algorithm>
#include <atomic>
#include <regex>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>

#include "net/ftp_data_connection.h"
#include "net/ftp_root.h"
#include "net/ftp_server.h"
#include "net/ftp_test_client.h"
#include "support/test_support.h"

namespace {

using ftptest::ControlClient;

std::string sha256(const std::string &bytes)
{
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string randomBytes(size_t size, unsigned seed)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i++)
        data[i] = char((i * 2654435761u + seed) >> 13);
    return data;
}

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

int entriesIn(const std::string &path)
{
    return int(QDir(QString::fromStdString(path)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System | QDir::Hidden).size());
}

bool canUseAddress(const char *address)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, address, &a.sin_addr);
    bool ok = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// A server on this test's event loop (the client's waits keep the loop turning), serving
// <tmp>/root with change-root on; <tmp>/secret lies beside it.
class FtpHardening : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureApp();
        root = dir.path() + "/root";
        secret = dir.path() + "/secret";
        QDir().mkpath(QString::fromStdString(root));
        QDir().mkpath(QString::fromStdString(secret));
        lmtest::writeFile(secret + "/passwd", "top secret");
        server = std::make_unique<FtpServer>(0, QString::fromStdString(root), nullptr);
        server->setName("Lumenar");
        server->setChangeRoot(true);
        ASSERT_TRUE(server->isListening());
        QObject::connect(server.get(), &FtpServer::fileListChanged, [this] { notifications++; });
    }
    void TearDown() override
    {
        server.reset();
        lmtest::spin(10);
        EXPECT_EQ(lmtest::readText(secret + "/passwd"), "top secret");
        EXPECT_EQ(entriesIn(secret), 1) << "something appeared outside the served folder";
    }
    void connect(ControlClient &c, const std::string &from = "")
    {
        ASSERT_TRUE(c.connect("127.0.0.1", server->listeningPort(), from));
        ASSERT_TRUE(c.login());
    }
    // A passive data connection, the command, its 150, and everything sent.
    std::string transfer(ControlClient &c, const std::string &command)
    {
        int data = c.openPassive("127.0.0.1");
        EXPECT_GE(data, 0);
        std::string first = c.ask(command);
        EXPECT_EQ(first.substr(0, 4), "150 ") << command << ": " << first;
        std::string bytes = ftptest::readAll(data);
        close(data);
        EXPECT_EQ(c.reply(), "226 Transfer complete.") << command;
        return bytes;
    }
    // STOR or APPE of `bytes` over a passive connection; the final reply.
    std::string upload(ControlClient &c, const std::string &command, const std::string &bytes)
    {
        int data = c.openPassive("127.0.0.1");
        std::string first = c.ask(command);
        if (first.rfind("150 ", 0) != 0) {
            close(data);
            return first;
        }
        ftptest::writeAll(data, bytes);
        close(data);
        return c.reply();
    }

    lmtest::TempDir dir;
    std::string root, secret;
    std::unique_ptr<FtpServer> server;
    int notifications = 0;
};

// Both ways of resolving beneath the root: the kernel's, and the walk used without it.
class FtpHardeningWalks : public FtpHardening, public ::testing::WithParamInterface<FtpRoot::Walk> {
protected:
    void SetUp() override
    {
        if (GetParam() == FtpRoot::Walk::Kernel && !FtpRoot::kernelResolves())
            GTEST_SKIP() << "openat2 with RESOLVE_BENEATH is not available here";
        saved_ = FtpRoot::walk();
        FtpRoot::setWalk(GetParam());
        FtpHardening::SetUp();
    }
    void TearDown() override
    {
        FtpHardening::TearDown();
        FtpRoot::setWalk(saved_);
    }
    FtpRoot::Walk saved_ = FtpRoot::Walk::Portable;
};

TEST_P(FtpHardeningWalks, StalePathsAreCheckedAgainWhenACommandActs)
{
    QDir().mkpath(QString::fromStdString(root + "/x"));
    lmtest::writeFile(root + "/x/passwd", "decoy");
    ControlClient a, b;
    connect(a);
    connect(b);

    // A stands in x; B moves x away and a link to the secret folder takes its name.
    ASSERT_EQ(a.ask("CWD x"), "250 CWD command successful.");
    ASSERT_EQ(b.ask("RNFR x"), "350 RNFR command successful.");
    ASSERT_EQ(b.ask("RNTO x-old"), "250 RNTO command successful.");
    ASSERT_EQ(symlink("../secret", (root + "/x").c_str()), 0);
    EXPECT_EQ(transfer(a, "LIST"), "total 0\r\n");
    EXPECT_EQ(transfer(a, "LIST -la"), "total 0\r\n");
    EXPECT_EQ(a.ask("SIZE passwd"), "550 passwd No such file or directory.");
    EXPECT_EQ(a.ask("CWD ."), "550 CWD failed.");
    int data = a.openPassive("127.0.0.1");
    EXPECT_EQ(a.ask("RETR passwd"), "550 passwd No such file or directory.");
    EXPECT_EQ(a.ask("STOR planted.txt"), "553 planted.txt: Permission denied.");
    close(data);
    EXPECT_EQ(a.ask("MKD planted"), "550 MKD command failed.");
    EXPECT_EQ(a.ask("DELE passwd"), "550 passwd No such file or directory.");
    EXPECT_EQ(a.ask("RNFR passwd"), "550 RNFR command failed.");
    EXPECT_EQ(a.ask("RNTO /stolen"), "550 RNTO command failed.");   // the refused source is not kept

    // RNFR checked a real folder; the folder is swapped before RNTO.
    ASSERT_EQ(a.ask("CWD /"), "250 CWD command successful.");
    ASSERT_EQ(a.ask("RNFR x-old/passwd"), "350 RNFR command successful.");
    ASSERT_EQ(b.ask("RNFR x-old"), "350 RNFR command successful.");
    ASSERT_EQ(b.ask("RNTO y"), "250 RNTO command successful.");
    ASSERT_EQ(symlink("../secret", (root + "/x-old").c_str()), 0);
    EXPECT_EQ(a.ask("RNTO /stolen"), "550 RNTO command failed.");
    // A missing source keeps nothing, even when something turns up under its name later.
    EXPECT_EQ(a.ask("RNFR z/passwd"), "550 RNFR command failed.");
    ASSERT_EQ(symlink("../secret", (root + "/z").c_str()), 0);
    EXPECT_EQ(a.ask("RNTO /stolen"), "550 RNTO command failed.");

    EXPECT_FALSE(exists(root + "/stolen"));
    EXPECT_EQ(lmtest::readText(root + "/y/passwd"), "decoy");
}

TEST_P(FtpHardeningWalks, AFolderSwappedForALinkUnderRunningCommandsLeadsNowhere)
{
    // A local process exchanges a real folder and a link to the secret folder as fast as
    // it can, while a client creates folders and files in "d".
    QDir().mkpath(QString::fromStdString(root + "/d"));
    ASSERT_EQ(symlink("../secret", (root + "/l").c_str()), 0);
    std::atomic<bool> stop(false);
    std::atomic<long> swaps(0);
    const std::string d = root + "/d", l = root + "/l";
    std::thread swapper([&] {
        for (long i = 0; i < 5'000'000 && !stop; i++) {
            if (renameat2(AT_FDCWD, d.c_str(), AT_FDCWD, l.c_str(), RENAME_EXCHANGE) == 0)
                swaps++;
        }
    });
    ControlClient c;
    connect(c);
    int made = 0, refused = 0;
    for (int i = 0; i < 400; i++) {
        std::string reply = c.ask("MKD d/m" + std::to_string(i));
        reply.rfind("250 ", 0) == 0 ? made++ : refused++;
        int data = c.openPassive("127.0.0.1");
        reply = c.ask("STOR d/f" + std::to_string(i));
        close(data);
        if (reply.rfind("150 ", 0) == 0) {
            made++;
            reply = c.reply();
        } else {
            refused++;
        }
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps.load(), 0);
    EXPECT_GT(made, 0);
    EXPECT_GT(refused, 0) << "the swap never caught a command: the race was not run";
    // Everything made is in the real folder, whichever name it has now.
    struct stat st;
    std::string real = lstat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? d : l;
    EXPECT_EQ(entriesIn(real), made);
}

INSTANTIATE_TEST_SUITE_P(Walks, FtpHardeningWalks, ::testing::Values(FtpRoot::Walk::Kernel, FtpRoot::Walk::Portable),
                         [](const auto &info) { return info.param == FtpRoot::Walk::Kernel ? "Kernel" : "Portable"; });

TEST_F(FtpHardening, OneAddressCannotTakeEverySlot)
{
    if (!canUseAddress("127.0.0.2"))
        GTEST_SKIP() << "cannot connect from 127.0.0.2 here";
    std::vector<std::unique_ptr<ControlClient>> crowd;
    for (int i = 0; i < 32; i++) {
        crowd.push_back(std::make_unique<ControlClient>());
        ASSERT_TRUE(crowd.back()->connect("127.0.0.1", server->listeningPort()));
        ASSERT_EQ(crowd.back()->reply(), "220 Lumenar Ftp Server ready.") << i;
    }
    ControlClient extra;
    ASSERT_TRUE(extra.connect("127.0.0.1", server->listeningPort()));
    EXPECT_EQ(extra.reply(), "421 Too many connections from your address.");
    EXPECT_TRUE(extra.closedByPeer());
    // Another address still gets in.
    ControlClient other;
    ASSERT_TRUE(other.connect("127.0.0.1", server->listeningPort(), "127.0.0.2"));
    EXPECT_EQ(other.reply(), "220 Lumenar Ftp Server ready.");
    // A slot freed is a slot to take.
    crowd.front()->command("QUIT");
    EXPECT_TRUE(crowd.front()->closedByPeer());
    ASSERT_TRUE(lmtest::waitUntil([&] { return server->connectionCount() == 32; }, 5000));
    ControlClient next;
    ASSERT_TRUE(next.connect("127.0.0.1", server->listeningPort()));
    EXPECT_EQ(next.reply(), "220 Lumenar Ftp Server ready.");
}

TEST_F(FtpHardening, IdleConnectionsAndUnusedListenersTimeOut)
{
    server->setIdleTimeout(1000);
    server->setPassiveTimeout(300);
    ControlClient idle, busy;
    connect(idle);
    connect(busy);
    // Nobody connects to the passive port: the waiting RETR is answered, the port closes.
    lmtest::writeFile(root + "/song.flac", "song");
    uint16_t port = ftptest::passivePort(busy.ask("PASV"));
    ASSERT_NE(port, 0);
    EXPECT_EQ(busy.ask("RETR song.flac").substr(0, 4), "150 ");
    EXPECT_EQ(busy.reply(), "425 Can't open data connection.");
    EXPECT_LT(ftptest::connectTcp("127.0.0.1", port), 0);

    // A download that outlasts the idle time is not idleness.
    const std::string big = randomBytes(4 * 1024 * 1024, 1);
    lmtest::writeFile(root + "/big.bin", big);
    int data = busy.openPassive("127.0.0.1");
    int rcv = 16 * 1024;
    setsockopt(data, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
    EXPECT_EQ(busy.ask("RETR big.bin").substr(0, 4), "150 ");
    std::string got;
    QElapsedTimer clock;
    clock.start();
    char buf[64 * 1024];
    while (got.size() < big.size() && clock.elapsed() < 60000) {
        ftptest::waitFor(data, false, 100);
        ssize_t n = read(data, buf, sizeof buf);
        if (n == 0)
            break;
        if (n > 0)
            got.append(buf, size_t(n));
        if (clock.elapsed() < 2500)
            lmtest::spin(30);   // slowly at first: longer than the idle time
    }
    close(data);
    EXPECT_GT(clock.elapsed(), 1000);
    EXPECT_EQ(sha256(got), sha256(big));
    EXPECT_EQ(busy.reply(), "226 Transfer complete.");
    EXPECT_EQ(busy.ask("NOOP"), "200 NOOP command successful.");

    // The client that said nothing all this while is sent away.
    EXPECT_EQ(idle.reply(), "421 Timeout.");
    EXPECT_TRUE(idle.closedByPeer());

    // A download the client stops reading holds its descriptors only for a period or two.
    data = busy.openPassive("127.0.0.1");
    setsockopt(data, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
    EXPECT_EQ(busy.ask("RETR big.bin").substr(0, 4), "150 ");
    EXPECT_EQ(busy.reply(), "421 Timeout.");
    EXPECT_TRUE(busy.closedByPeer());
    close(data);
}

TEST_F(FtpHardening, ActiveModeIsNeverAimedAtTheServerOrAtLowPorts)
{
    // A stored file of commands the server would read if it connected to itself.
    lmtest::writeFile(root + "/commands.txt", "MKD bounced\r\nQUIT\r\n");
    ControlClient c, other;
    connect(c);
    connect(other);
    const uint16_t own = server->listeningPort();
    const uint16_t passive = ftptest::passivePort(other.ask("PASV"));
    ASSERT_NE(passive, 0);
    auto port = [](uint16_t p) { return std::to_string(p / 256) + "," + std::to_string(p % 256); };
    for (const std::string &command : std::vector<std::string>{"PORT 127,0,0,1," + port(own), "PORT 10,0,0,1," + port(own), "PORT 127,0,0,1," + port(passive),
          "EPRT |1|127.0.0.1|" + std::to_string(own) + "|", "EPRT |2|::1|" + std::to_string(own) + "|",
          "LPRT 4,4,127,0,0,1,2," + port(own), "PORT 127,0,0,1,3,253", "EPRT |1|127.0.0.1|21|"})
        EXPECT_EQ(c.ask(command), "500 Illegal PORT command.") << command;
    EXPECT_EQ(c.ask("EPRT |9|127.0.0.1|" + std::to_string(own) + "|"), "522 Network protocol not supported, use (1,2)");
    EXPECT_EQ(c.ask("LPRT 9,4,127,0,0,1,2," + port(own)), "521 Supported address families are (4, 6)");
    EXPECT_EQ(c.ask("RETR commands.txt"), "425 Can't open data connection.");
    lmtest::spin(100);
    EXPECT_FALSE(exists(root + "/bounced"));
    EXPECT_EQ(server->connectionCount(), 2);
    EXPECT_EQ(c.ask("NOOP"), "200 NOOP command successful.");
}

TEST_F(FtpHardening, PassiveListenersListenOnTheControlConnectionsAddressOnly)
{
    // The server itself listens on every interface.
    ControlClient c;
    connect(c);
    uint16_t port = ftptest::passivePort(c.ask("PASV"));
    ASSERT_NE(port, 0);
    const std::string p = std::to_string(port);
    if (lmtest::haveTool("ss")) {
        lmtest::RunResult r = lmtest::run({"ss", "-Hltn", "sport = :" + p});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("127.0.0.1:" + p), std::string::npos) << r.out;
        for (const std::string &wildcard : std::vector<std::string>{"0.0.0.0:" + p, "*:" + p, "[::]:" + p})
            EXPECT_EQ(r.out.find(wildcard), std::string::npos) << r.out;
    } else {
        GTEST_LOG_(INFO) << "'ss' is not installed; checking by connecting only";
    }
    EXPECT_LT(ftptest::connectTcp("127.0.0.2", port), 0);   // another local address: nobody there
    int data = ftptest::connectTcp("127.0.0.1", port);
    EXPECT_GE(data, 0);
    close(data);
}

TEST_F(FtpHardening, NamesThatAreNotUtf8RoundTrip)
{
    lmtest::ScopedEnv config("XDG_CONFIG_HOME", dir.path());
    const std::string latin = "\xe9t\xe9.flac", folder = "\xc4rger", nfd = "Cafe\xcc\x81.txt";
    lmtest::writeFile(root + "/" + latin, "latin-1 name");
    ASSERT_EQ(mkdir((root + "/" + folder).c_str(), 0755), 0);
    lmtest::writeFile(root + "/" + folder + "/inner.txt", "inner");
    lmtest::writeFile(root + "/" + nfd, "decomposed");
    ControlClient c;
    connect(c);

    std::string listing = transfer(c, "LIST");
    std::vector<std::string> names;
    std::regex entry(R"(^([-d])\S+ +\d+ \S+ \S+ +(\d+) \w{3} \d{2} \d{2}:\d{2} (.*)$)");
    size_t begin = listing.find("\r\n") + 2;
    for (size_t end; (end = listing.find('\n', begin)) != std::string::npos; begin = end + 1) {
        std::string line = listing.substr(begin, end - begin);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, entry)) << line;
        const std::string name = m[3];
        names.push_back(name);
        SCOPED_TRACE(name);
        if (m[1] == "d") {
            EXPECT_EQ(c.ask("CWD " + name), "250 CWD command successful.");
            std::string pwd = c.ask("PWD");
            EXPECT_EQ(pwd, "257 \"/" + name + "/\" is the current directory.");
            EXPECT_NE(transfer(c, "LIST").find(" inner.txt\n"), std::string::npos);
            EXPECT_EQ(transfer(c, "RETR inner.txt"), "inner");
            // The path PWD gave leads back there.
            EXPECT_EQ(c.ask("CWD /"), "250 CWD command successful.");
            EXPECT_EQ(c.ask("CWD " + pwd.substr(5, pwd.rfind('"') - 5)), "250 CWD command successful.");
            EXPECT_EQ(c.ask("CDUP"), "250 CDUP command successful.");
            std::string size = c.ask("SIZE " + name);
            EXPECT_TRUE(size.rfind("550 ", 0) == 0 && size.find(": Not a plain file.") != std::string::npos) << size;
        } else {
            EXPECT_EQ(c.ask("SIZE " + name), "213 " + std::string(m[2]));
            EXPECT_EQ(transfer(c, "RETR " + name), lmtest::readText(root + "/" + (name == latin ? latin : nfd)));
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Caf\xc3\xa9.txt", folder, latin})) << "as listed";

    EXPECT_EQ(c.ask("RNFR " + latin), "350 RNFR command successful.");
    EXPECT_EQ(c.ask("RNTO renamed.flac"), "250 RNTO command successful.");
    EXPECT_EQ(lmtest::readText(root + "/renamed.flac"), "latin-1 name");
    EXPECT_EQ(c.ask("DELE Caf\xc3\xa9.txt"), "250 DELE command successful.");
    EXPECT_FALSE(exists(root + "/" + nfd));
    EXPECT_EQ(c.ask("RMD " + folder), "250 DELE command successful.");
    EXPECT_FALSE(exists(root + "/" + folder));
}

// Resumed, appended and aborted transfers, with files sent by sendfile and by reads.
class FtpResume : public FtpHardening, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        FtpDataConnection::setZeroCopy(GetParam());
        FtpHardening::SetUp();
    }
    void TearDown() override
    {
        FtpHardening::TearDown();
        FtpDataConnection::setZeroCopy(true);
    }
};

TEST_P(FtpResume, RestartAppendAndAbort)
{
    const std::string data = randomBytes(300000, 7);
    lmtest::writeFile(root + "/big.bin", data);
    ControlClient c;
    connect(c);

    EXPECT_EQ(c.ask("REST 100000"), "350 Restarting at 100000. Send STOR or RETR to go on from there.");
    EXPECT_EQ(sha256(transfer(c, "RETR big.bin")), sha256(data.substr(100000)));
    EXPECT_EQ(sha256(transfer(c, "RETR big.bin")), sha256(data)) << "the offset serves one transfer";
    EXPECT_EQ(c.ask("REST 300000"), "350 Restarting at 300000. Send STOR or RETR to go on from there.");
    EXPECT_EQ(transfer(c, "RETR big.bin"), "");
    int idle = c.openPassive("127.0.0.1");
    EXPECT_EQ(c.ask("REST 300001"), "350 Restarting at 300001. Send STOR or RETR to go on from there.");
    EXPECT_EQ(c.ask("RETR big.bin"), "554 Restart position beyond the end of the file.");
    close(idle);
    EXPECT_EQ(c.ask("REST x"), "501 Syntax error in parameters or arguments.");
    EXPECT_EQ(c.ask("REST -5"), "501 Syntax error in parameters or arguments.");

    // An upload cut off at 100000 bytes goes on from there, with REST and STOR...
    lmtest::writeFile(root + "/part.bin", data.substr(0, 100000) + "stale tail");
    EXPECT_EQ(c.ask("REST 100000").substr(0, 4), "350 ");
    EXPECT_EQ(upload(c, "STOR part.bin", data.substr(100000)), "226 Transfer complete.");
    EXPECT_EQ(sha256(lmtest::readText(root + "/part.bin")), sha256(data));
    // ... or with APPE, which also starts a file that is not there.
    lmtest::writeFile(root + "/appended.bin", data.substr(0, 123456));
    EXPECT_EQ(upload(c, "APPE appended.bin", data.substr(123456)), "226 Transfer complete.");
    EXPECT_EQ(sha256(lmtest::readText(root + "/appended.bin")), sha256(data));
    EXPECT_EQ(upload(c, "APPE fresh.bin", "fresh"), "226 Transfer complete.");
    EXPECT_EQ(lmtest::readText(root + "/fresh.bin"), "fresh");
    EXPECT_EQ(c.ask("REST 999"), "350 Restarting at 999. Send STOR or RETR to go on from there.");
    EXPECT_EQ(upload(c, "STOR fresh.bin", "x"), "554 Restart position beyond the end of the file.");
    EXPECT_EQ(notifications, 3);

    // ABOR ends a running download: 426 for it, then 226.
    const std::string large = randomBytes(16 * 1024 * 1024, 3);
    lmtest::writeFile(root + "/large.bin", large);
    EXPECT_EQ(c.ask("ABOR"), "225 No transfer to abort.");
    int data2 = c.startSlowDownload("127.0.0.1", "RETR large.bin");
    ASSERT_GE(data2, 0);
    c.sendRaw("\xff\xf4\xff\xf2" "ABOR\r\n");
    EXPECT_EQ(c.reply(), "426 Connection closed; transfer aborted.");
    EXPECT_EQ(c.reply(), "226 ABOR command successful.");
    EXPECT_LT(ftptest::readAll(data2).size(), large.size());
    close(data2);
    // PASV during a download cancels it, and says so first.
    data2 = c.startSlowDownload("127.0.0.1", "RETR large.bin");
    ASSERT_GE(data2, 0);
    EXPECT_EQ(c.ask("PASV"), "426 Connection closed; transfer aborted.");
    EXPECT_EQ(c.reply().substr(0, 4), "227 ");
    close(data2);
    EXPECT_EQ(sha256(transfer(c, "RETR large.bin")), sha256(large));
}

INSTANTIATE_TEST_SUITE_P(Sending, FtpResume, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "ZeroCopy" : "Reads"; });

TEST_F(FtpHardening, UploadsThatFailAreNotAnnounced)
{
    server->setPassiveTimeout(300);
    lmtest::writeFile(root + "/song.flac", "the old song");
    ControlClient c;
    connect(c);
    // Cut off by a new PASV, by ABOR, by a data connection that never came.
    int data = c.openPassive("127.0.0.1");
    EXPECT_EQ(c.ask("STOR song.flac").substr(0, 4), "150 ");
    ftptest::writeAll(data, "half a so");
    lmtest::spin(50);
    EXPECT_EQ(c.ask("PASV"), "426 Connection closed; transfer aborted.");
    EXPECT_EQ(c.reply().substr(0, 4), "227 ");
    close(data);
    data = c.openPassive("127.0.0.1");
    EXPECT_EQ(c.ask("STOR song.flac").substr(0, 4), "150 ");
    ftptest::writeAll(data, "half a so");
    lmtest::spin(50);
    EXPECT_EQ(c.ask("ABOR"), "426 Connection closed; transfer aborted.");
    EXPECT_EQ(c.reply(), "226 ABOR command successful.");
    close(data);
    ASSERT_NE(ftptest::passivePort(c.ask("EPSV")), 0);
    EXPECT_EQ(c.ask("STOR song.flac").substr(0, 4), "150 ");
    EXPECT_EQ(c.reply(), "425 Can't open data connection.");
    lmtest::spin(50);
    EXPECT_EQ(notifications, 0);
    // The whole song, at last.
    EXPECT_EQ(upload(c, "STOR song.flac", "the new song"), "226 Transfer complete.");
    EXPECT_TRUE(lmtest::waitUntil([&] { return notifications == 1; }, 5000));
}

TEST(FtpFairness, APipelinedFloodDoesNotHoldUpAnotherClientsGreeting)
{
    lmtest::ensureApp();
    lmtest::TempDir dir;
    const std::string big = dir.path() + "/big";
    QDir().mkpath(QString::fromStdString(big));
    for (int i = 0; i < 40000; i++) {
        char name[32];
        snprintf(name, sizeof name, "/song %05d.flac", i);
        int fd = open((big + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    ftptest::FtpdProcess server;
    ASSERT_TRUE(server.start(dir.path()));
    std::string flood;
    for (int i = 0; i < 512; i++)
        flood += "LIST big\r\n";
    ASSERT_LE(flood.size(), 8192u);

    for (bool withData : {false, true}) {
        SCOPED_TRACE(withData ? "with a data connection" : "without a data connection");
        ControlClient flooder;
        ASSERT_TRUE(flooder.connect("127.0.0.1", server.port()));
        ASSERT_TRUE(flooder.login());
        int data = withData ? flooder.openPassive("127.0.0.1") : -1;
        flooder.sendRaw(flood);
        std::string first = flooder.reply();   // the server is at work on the flood now
        QElapsedTimer clock;
        clock.start();
        ControlClient bystander;
        ASSERT_TRUE(bystander.connect("127.0.0.1", server.port()));
        EXPECT_EQ(bystander.reply(), "220 Lumenar Ftp Server ready.");
        qint64 ms = clock.elapsed();
        // Generous: a greeting queued behind the whole flood took seconds.
        EXPECT_LT(ms, 1000) << "the greeting took " << ms << " ms";
        GTEST_LOG_(INFO) << "greeting after " << ms << " ms";

        std::vector<std::string> replies = {first};
        std::string listing;
        if (withData) {
            listing = ftptest::readAll(data, 60000);
            close(data);
        }
        while (replies.size() < 512 + (withData ? 1 : 0)) {
            std::string r = flooder.reply(30000);
            if (r.empty())
                break;
            replies.push_back(r);
        }
        int refused = int(std::count(replies.begin(), replies.end(), "425 Can't open data connection."));
        if (withData) {
            // The listing goes on while the other LISTs are refused, one per pass.
            EXPECT_EQ(replies.front().substr(0, 4), "150 ");
            EXPECT_EQ(std::count(replies.begin(), replies.end(), "226 Transfer complete."), 1);
            EXPECT_EQ(refused, 511);
            EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 40001);
        } else {
            EXPECT_EQ(refused, 512);
        }
    }
    EXPECT_EQ(server.stop(), 0);
}

} // namespace
