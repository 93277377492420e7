#include "net/ftp_test_client.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include "support/test_support.h"

namespace ftptest {

bool waitFor(int fd, bool forWrite, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        struct pollfd p = {fd, short(forWrite ? POLLOUT : POLLIN), 0};
        if (poll(&p, 1, 0) > 0)
            return true;
        if (deadline.hasExpired())
            return false;
        if (QCoreApplication::instance() != nullptr)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        p.revents = 0;
        poll(&p, 1, 1);
    }
}

static bool fillAddress(const std::string &host, uint16_t port, sockaddr_storage *ss, socklen_t *len)
{
    memset(ss, 0, sizeof *ss);
    auto *v4 = reinterpret_cast<sockaddr_in *>(ss);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(ss);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        *len = sizeof *v4;
        return true;
    }
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        *len = sizeof *v6;
        return true;
    }
    return false;
}

int connectTcp(const std::string &host, uint16_t port, const std::string &fromAddress)
{
    sockaddr_storage ss;
    socklen_t len;
    if (!fillAddress(host, port, &ss, &len))
        return -1;
    int fd = socket(ss.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (!fromAddress.empty()) {
        sockaddr_storage from;
        socklen_t fromLen;
        if (!fillAddress(fromAddress, 0, &from, &fromLen) || bind(fd, reinterpret_cast<sockaddr *>(&from), fromLen) != 0) {
            close(fd);
            return -1;
        }
    }
    if (::connect(fd, reinterpret_cast<sockaddr *>(&ss), len) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    int err = 0;
    socklen_t errLen = sizeof err;
    if (!waitFor(fd, true, 10000) || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen) != 0 || err != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string readAll(int fd, int timeoutMs)
{
    std::string data;
    char buf[65536];
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!waitFor(fd, false, int(qMax<qint64>(deadline.remainingTime(), 0))))
            break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            data.append(buf, size_t(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return data;
}

bool writeAll(int fd, const std::string &data, int timeoutMs)
{
    size_t done = 0;
    QDeadlineTimer deadline(timeoutMs);
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired() || !waitFor(fd, true, int(qMax<qint64>(deadline.remainingTime(), 0))))
            return false;
    }
    return true;
}

void resetAndClose(int fd)
{
    struct linger l = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

ControlClient::~ControlClient()
{
    if (fd_ >= 0)
        close(fd_);
}

bool ControlClient::connect(const std::string &host, uint16_t port, const std::string &fromAddress)
{
    fd_ = connectTcp(host, port, fromAddress);
    return fd_ >= 0;
}

void ControlClient::sendRaw(const std::string &bytes)
{
    writeAll(fd_, bytes);
}

std::string ControlClient::line(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        size_t end = buffer_.find("\r\n");
        if (end != std::string::npos) {
            std::string text = buffer_.substr(0, end);
            buffer_.erase(0, end + 2);
            return text;
        }
        if (fd_ < 0 || !waitFor(fd_, false, int(qMax<qint64>(deadline.remainingTime(), 0))))
            return "";
        char buf[65536];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0)
            buffer_.append(buf, size_t(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return "";
    }
}

std::string ControlClient::reply(int timeoutMs)
{
    std::string first = line(timeoutMs);
    // "123-" opens a multi-line reply that ends with "123 ".
    if (first.size() < 4 || first[3] != '-')
        return first;
    std::string all = first, end = first.substr(0, 3) + " ";
    for (;;) {
        std::string next = line(timeoutMs);
        if (next.empty())
            return all;
        all += "\n" + next;
        if (next.compare(0, 4, end) == 0)
            return all;
    }
}

bool ControlClient::login()
{
    return reply().rfind("220 ", 0) == 0 && ask("USER tester").rfind("331 ", 0) == 0 &&
           ask("PASS secret").rfind("230 ", 0) == 0;
}

int ControlClient::openPassive(const std::string &host, bool extended, const std::string &fromAddress)
{
    uint16_t port = passivePort(ask(extended ? "EPSV" : "PASV"));
    return port == 0 ? -1 : connectTcp(host, port, fromAddress);
}

int ControlClient::startSlowDownload(const std::string &host, const std::string &command)
{
    int data = openPassive(host);
    if (data < 0)
        return -1;
    int rcv = 16 * 1024;
    setsockopt(data, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
    char buf[4096];
    if (ask(command).rfind("150 ", 0) != 0 || !waitFor(data, false, 5000) || read(data, buf, sizeof buf) <= 0) {
        close(data);
        return -1;
    }
    return data;
}

bool ControlClient::closedByPeer(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!waitFor(fd_, false, int(qMax<qint64>(deadline.remainingTime(), 0))))
            return false;
        char buf[4096];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
        if (n > 0)
            buffer_.append(buf, size_t(n));
    }
    return false;
}

bool ControlClient::silentFor(int ms)
{
    if (!buffer_.empty())
        return false;
    return !waitFor(fd_, false, ms);
}

uint16_t passivePort(const std::string &reply)
{
    // "227 … (h1,h2,h3,h4,p1,p2)" or "229 … (|||port|)"
    size_t open = reply.find('('), close = reply.find(')', open);
    if (open == std::string::npos || close == std::string::npos)
        return 0;
    std::string inside = reply.substr(open + 1, close - open - 1);
    unsigned a[6];
    if (sscanf(inside.c_str(), "%u,%u,%u,%u,%u,%u", &a[0], &a[1], &a[2], &a[3], &a[4], &a[5]) == 6)
        return uint16_t(a[4] * 256 + a[5]);
    if (sscanf(inside.c_str(), "|||%u|", &a[0]) == 1)
        return uint16_t(a[0]);
    return 0;
}

FtpdProcess::~FtpdProcess()
{
    stop();
}

bool FtpdProcess::start(const std::string &root, const std::vector<std::string> &extra, const std::string &shellLimits)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    std::vector<std::string> args = {lmtest::cliPath(), "ftpd", "--root", root, "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!shellLimits.empty()) {
        std::string script = shellLimits + "; exec \"$0\" \"$@\"";
        args.insert(args.begin(), {"/bin/sh", "-c", script});
    }
    pid_ = fork();
    if (pid_ < 0)
        return false;
    if (pid_ == 0) {
        dup2(pipeFds[1], 1);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    out_ = pipeFds[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        output();
        size_t at = text_.find(" port ");
        if (text_.rfind("listening on ", 0) == 0 && at != std::string::npos && text_.find('\n', at) != std::string::npos) {
            port_ = uint16_t(std::stoi(text_.substr(at + 6)));
            return true;
        }
        struct pollfd p = {out_, POLLIN, 0};
        poll(&p, 1, 20);
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
    }
    return false;
}

std::string FtpdProcess::output()
{
    char buf[4096];
    ssize_t n;
    while (out_ >= 0 && (n = read(out_, buf, sizeof buf)) > 0)
        text_.append(buf, size_t(n));
    return text_;
}

int FtpdProcess::notifications()
{
    const std::string out = output();
    int n = 0;
    for (size_t at = 0; (at = out.find("notify file list changed\n", at)) != std::string::npos; at++)
        n++;
    return n;
}

int FtpdProcess::stop()
{
    int result = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        if (waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status))
            result = WEXITSTATUS(status);
        pid_ = -1;
    }
    if (out_ >= 0) {
        output();
        close(out_);
        out_ = -1;
    }
    return result;
}

int FtpdProcess::openDescriptors() const
{
    int count = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        count++;
    return count;
}

long FtpdProcess::residentKb() const
{
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 20, '\n');
    }
    return -1;
}

bool haveIPv6Loopback()
{
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 a = {};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    bool ok = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

} // namespace ftptest
