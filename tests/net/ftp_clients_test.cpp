// Real FTP clients (Python's ftplib, curl, lftp) against lumenar-cli ftpd, over IPv4 and
// IPv6 loopback, passive and active.
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>

#include "net/ftp_test_client.h"
#include "support/test_support.h"

namespace {

const char *kFtplibScript = R"PY(
import ftplib, io, os, sys
host, port, active = sys.argv[1], int(sys.argv[2]), sys.argv[3] == 'active'
f = ftplib.FTP()
f.connect(host, port, timeout=30)
f.login('someone', 'anything')
f.set_pasv(not active)
data = os.urandom(3 * 1024 * 1024 + 5)
f.storbinary('STOR py upload.bin', io.BytesIO(data))
out = io.BytesIO()
f.retrbinary('RETR py upload.bin', out.write)
assert out.getvalue() == data, 'download differs'
lines = []
f.retrlines('LIST', lines.append)
assert lines[0].startswith('total '), lines
assert any(l.endswith(' py upload.bin') and (' %d ' % len(data)) in l for l in lines), lines
f.mkd('folder')
f.cwd('folder')
assert f.pwd() == '/folder/', f.pwd()
f.storbinary('STOR empty.txt', io.BytesIO(b''))
f.cwd('/')
f.rename('py upload.bin', 'folder/renamed.bin')
try:
    f.sendcmd('AUTH TLS')
    raise SystemExit('AUTH TLS accepted')
except ftplib.error_perm:
    pass
try:
    f.sendcmd('MDTM folder/renamed.bin')
except ftplib.error_perm:
    pass
out = io.BytesIO()
f.retrbinary('RETR folder/renamed.bin', out.write)
assert out.getvalue() == data, 'renamed file differs'
f.delete('folder/renamed.bin')
f.rmd('folder')
lines = []
f.retrlines('LIST', lines.append)
assert lines == ['total 0'], lines
f.quit()
print('OK')
)PY";

class FtpClients : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureApp();
        root = dir.path() + "/served";
        QDir().mkpath(QString::fromStdString(root));
        ASSERT_TRUE(server.start(root));
    }
    void TearDown() override { EXPECT_EQ(server.stop(), 0); }
    std::string url(const std::string &host, const std::string &path = "/") const
    {
        std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
        return "ftp://" + h + ":" + std::to_string(server.port()) + path;
    }
    std::vector<std::string> hosts() const
    {
        std::vector<std::string> all = {"127.0.0.1"};
        if (ftptest::haveIPv6Loopback())
            all.push_back("::1");
        else
            GTEST_LOG_(INFO) << "no IPv6 loopback on this machine; skipping the ::1 cases";
        return all;
    }
    int notifications() { return server.notifications(); }

    lmtest::TempDir dir;
    std::string root;
    ftptest::FtpdProcess server;
};

TEST_F(FtpClients, PythonFtplibUploadsDownloadsListsRenamesAndDeletes)
{
    LMTEST_REQUIRE_TOOL("python3");
    for (const std::string &host : hosts()) {
        for (const char *mode : {"passive", "active"}) {
            SCOPED_TRACE(host + " " + mode);
            lmtest::RunResult r = lmtest::run({"python3", "-c", kFtplibScript, host, std::to_string(server.port()), mode});
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_EQ(r.out, "OK\n") << r.err;
        }
    }
    // Two uploads, a rename, a delete and a folder removal per run.
    EXPECT_TRUE(lmtest::waitUntil([&] { return notifications() == 5 * int(hosts().size()) * 2; }, 5000))
        << server.output();
}

TEST_F(FtpClients, CurlUploadsAndDownloadsPassiveAndActive)
{
    LMTEST_REQUIRE_TOOL("curl");
    std::string data(2 * 1024 * 1024 + 11, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = char(i * 2654435761u >> 24);
    const std::string local = dir.file("local.bin");
    lmtest::writeFile(local, data);
    lmtest::writeFile(root + "/small.txt", "small file\n");

    for (const std::string &host : hosts()) {
        const std::vector<std::vector<std::string>> modes = {
            {},                                          // EPSV
            {"--disable-epsv"},                          // PASV (IPv4 only)
            {"--ftp-port", host},                        // EPRT
            {"--ftp-port", host, "--disable-eprt"},      // PORT (IPv4 only)
        };
        for (size_t m = 0; m < modes.size(); m++) {
            if (host == "::1" && (m == 1 || m == 3))
                continue;
            SCOPED_TRACE(host + " mode " + std::to_string(m));
            std::string name = "up" + std::to_string(m) + ".bin";
            std::vector<std::string> put = {"curl", "-sS", "--max-time", "60", "-T", local};
            put.insert(put.end(), modes[m].begin(), modes[m].end());
            put.push_back(url(host, "/" + name));
            lmtest::RunResult r = lmtest::run(put);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(lmtest::readFile(root + "/" + name) == lmtest::readFile(local));

            std::string back = dir.file("back.bin");
            std::vector<std::string> get = {"curl", "-sS", "--max-time", "60", "-o", back};
            get.insert(get.end(), modes[m].begin(), modes[m].end());
            get.push_back(url(host, "/" + name));
            r = lmtest::run(get);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(lmtest::readFile(back) == lmtest::readFile(local));
        }
        // A small file, and a folder URL gives the listing.
        lmtest::RunResult small = lmtest::run({"curl", "-sS", "--max-time", "60", url(host, "/small.txt")});
        EXPECT_EQ(small.out, "small file\n") << small.err;
        lmtest::RunResult list = lmtest::run({"curl", "-sS", "--max-time", "60", url(host, "/")});
        EXPECT_NE(list.out.find(" small.txt\n"), std::string::npos) << list.out << list.err;
    }
}

TEST_F(FtpClients, LftpMirrorsAFolderUpAndBack)
{
    LMTEST_REQUIRE_TOOL("lftp");
    const std::string source = dir.path() + "/source";
    QDir().mkpath(QString::fromStdString(source + "/Album/Disc 2"));
    QDir().mkpath(QString::fromStdString(source + "/empty folder"));
    std::string bytes(700 * 1024, '\0');
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = char(i * 40503u >> 7);
    lmtest::writeFile(source + "/Album/01 first.flac", bytes);
    lmtest::writeFile(source + "/Album/Disc 2/02 zweite \xc3\xbc.flac", bytes.substr(1000));
    lmtest::writeFile(source + "/Album/cover.jpg", "jpeg");
    lmtest::writeFile(source + "/Album/empty.cue", "");
    lmtest::writeFile(source + "/list.m3u", "Album/01 first.flac\n");

    for (const std::string &host : hosts()) {
        for (const char *passive : {"on", "off"}) {
            SCOPED_TRACE(host + " passive " + passive);
            const std::string remote = std::string("mirror-") + passive + (host == "::1" ? "-6" : "-4");
            const std::string back = dir.path() + "/" + remote;
            std::string script = std::string("set net:max-retries 1; set net:timeout 20; set cmd:fail-exit yes; ") +
                                 "set ftp:passive-mode " + passive + "; mirror -R '" + source + "' " + remote +
                                 "; mirror " + remote + " '" + back + "'; quit";
            lmtest::RunResult r = lmtest::run({"lftp", "-u", "anonymous,", "-e", script, url(host)});
            ASSERT_EQ(r.status, 0) << r.out << r.err;
            // Same tree, same bytes, both ways.
            QDirIterator it(QString::fromStdString(source), QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            int files = 0;
            while (it.hasNext()) {
                QString path = it.next();
                QString rel = QDir(QString::fromStdString(source)).relativeFilePath(path);
                if (it.fileInfo().isDir()) {
                    EXPECT_TRUE(QDir(QString::fromStdString(back) + "/" + rel).exists()) << rel.toStdString();
                    continue;
                }
                files++;
                EXPECT_TRUE(lmtest::readFile(path.toStdString()) == lmtest::readFile(root + "/" + remote + "/" + rel.toStdString()))
                    << rel.toStdString();
                EXPECT_TRUE(lmtest::readFile(path.toStdString()) == lmtest::readFile(back + "/" + rel.toStdString()))
                    << rel.toStdString();
            }
            EXPECT_EQ(files, 5);
        }
    }
}

std::string sha256(const std::vector<uint8_t> &bytes)
{
    return QCryptographicHash::hash(QByteArrayView(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

TEST_F(FtpClients, CurlAndLftpResumeInterruptedTransfers)
{
    std::string data(700 * 1024 + 3, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = char(i * 2246822519u >> 19);
    const std::string full = dir.file("full.bin");
    lmtest::writeFile(full, data);
    lmtest::writeFile(root + "/whole.bin", data);
    const std::string sum = sha256(lmtest::readFile(full));
    const std::string head = data.substr(0, 100000);
    int resumed = 0;

    if (lmtest::haveTool("curl")) {
        // Download: SIZE, REST 100000, RETR. Upload: SIZE, then APPE of the rest.
        const std::string down = dir.file("curl-down.bin");
        lmtest::writeFile(down, head);
        lmtest::RunResult r = lmtest::run({"curl", "-sS", "-v", "--max-time", "60", "-C", "-", "-o", down, url("127.0.0.1", "/whole.bin")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("> REST 100000"), std::string::npos) << r.err;
        EXPECT_EQ(sha256(lmtest::readFile(down)), sum);
        lmtest::writeFile(root + "/curl-up.bin", head);
        r = lmtest::run({"curl", "-sS", "-v", "--max-time", "60", "-C", "-", "-T", full, url("127.0.0.1", "/curl-up.bin")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("> APPE curl-up.bin"), std::string::npos) << r.err;
        EXPECT_EQ(sha256(lmtest::readFile(root + "/curl-up.bin")), sum);
        resumed++;
    }
    if (lmtest::haveTool("lftp")) {
        // get -c: REST and RETR; put -c: REST and STOR.
        const std::string down = dir.file("lftp-down.bin");
        lmtest::writeFile(down, head);
        lmtest::writeFile(root + "/lftp-up.bin", head);
        std::string script = "set net:max-retries 1; set net:timeout 20; set cmd:fail-exit yes; get -c whole.bin -o '" + down +
                             "'; put -c '" + full + "' -o lftp-up.bin; quit";
        lmtest::RunResult r = lmtest::run({"lftp", "-d", "-u", "anonymous,", "-e", script, url("127.0.0.1")});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        std::string log = r.out + r.err;
        size_t rest = log.find("---> REST 100000\n");
        EXPECT_NE(rest, std::string::npos) << log;
        EXPECT_NE(log.find("---> REST 100000\n", rest + 1), std::string::npos) << "once for each way: " << log;
        EXPECT_EQ(sha256(lmtest::readFile(down)), sum);
        EXPECT_EQ(sha256(lmtest::readFile(root + "/lftp-up.bin")), sum);
        resumed++;
    }
    if (resumed == 0)
        GTEST_SKIP() << "neither curl nor lftp is installed";
}

TEST(Ftpd, RejectsBadArgumentsAndEndsCleanlyOnSignals)
{
    lmtest::RunResult r = lmtest::run({lmtest::cliPath(), "ftpd"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--root DIR is required"), std::string::npos) << r.err;
    r = lmtest::run({lmtest::cliPath(), "ftpd", "--root", "/nonexistent/folder"});
    EXPECT_EQ(r.status, 1);
    r = lmtest::run({lmtest::cliPath(), "ftpd", "--root", "/tmp", "--port", "70000"});
    EXPECT_EQ(r.status, 2);

    lmtest::TempDir dir;
    ftptest::FtpdProcess bound;
    ASSERT_TRUE(bound.start(dir.path(), {"--bind", "127.0.0.1"}));
    EXPECT_NE(bound.output().find("listening on 127.0.0.1 port "), std::string::npos);
    ftptest::ControlClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", bound.port()));
    EXPECT_EQ(client.reply(), "220 Lumenar Ftp Server ready.");
    // The same port is taken now: a second server says so and fails.
    r = lmtest::run({lmtest::cliPath(), "ftpd", "--root", dir.path(), "--bind", "127.0.0.1", "--port",
                     std::to_string(bound.port())});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Failed to start ftpd server"), std::string::npos) << r.err;
    kill(bound.pid(), SIGINT);
    EXPECT_TRUE(client.closedByPeer());
    EXPECT_EQ(bound.stop(), 0);
}

} // namespace
