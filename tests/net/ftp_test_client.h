// A small FTP peer for the tests: a control connection that reads reply lines, data
// connections, and lumenar-cli ftpd run as a child process. Every wait keeps the event
// loop turning, so the same client talks to a server in this process or in a child.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace ftptest {

// Waits for fd to become readable (or writable), running the event loop meanwhile.
bool waitFor(int fd, bool forWrite, int timeoutMs);

// A non-blocking TCP connection to host:port, optionally from a given local address.
// -1 on failure.
int connectTcp(const std::string &host, uint16_t port, const std::string &fromAddress = "");
// Everything the peer sends until it closes (or the time runs out).
std::string readAll(int fd, int timeoutMs = 20000);
bool writeAll(int fd, const std::string &data, int timeoutMs = 20000);
// Closes with a reset instead of a normal end.
void resetAndClose(int fd);

class ControlClient {
public:
    ControlClient() = default;
    ~ControlClient();
    ControlClient(const ControlClient &) = delete;
    ControlClient &operator=(const ControlClient &) = delete;

    bool connect(const std::string &host, uint16_t port, const std::string &fromAddress = "");
    void sendRaw(const std::string &bytes);
    void command(const std::string &line) { sendRaw(line + "\r\n"); }
    // One line without its CRLF; "" on time-out or close.
    std::string line(int timeoutMs = 10000);
    // A whole reply: the lines of a multi-line reply joined by "\n".
    std::string reply(int timeoutMs = 10000);
    std::string ask(const std::string &line) { command(line); return reply(); }
    // The greeting, USER and PASS; true when all went as expected.
    bool login();
    // PASV or EPSV and a connection to the announced port; -1 on failure.
    int openPassive(const std::string &host, bool extended = false, const std::string &fromAddress = "");
    // A download under way: PASV, a data connection that takes little at a time, the
    // command and its 150, and the first bytes read. The data connection, or -1.
    int startSlowDownload(const std::string &host, const std::string &command);
    // True when the server closed the connection within the time.
    bool closedByPeer(int timeoutMs = 10000);
    // Nothing more arrives within the time.
    bool silentFor(int ms);
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    std::string buffer_;
};

// Port from a 227 or 229 reply; 0 when it has none.
uint16_t passivePort(const std::string &reply);

// lumenar-cli ftpd --root ROOT --port 0 as a child process.
class FtpdProcess {
public:
    FtpdProcess() = default;
    ~FtpdProcess();
    FtpdProcess(const FtpdProcess &) = delete;
    FtpdProcess &operator=(const FtpdProcess &) = delete;

    // `shellLimits` is run by /bin/sh before the server (e.g. "ulimit -f 64").
    bool start(const std::string &root, const std::vector<std::string> &extra = {}, const std::string &shellLimits = "");
    // SIGTERM and the exit status (-1 when it did not end normally).
    int stop();
    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    // Standard output so far.
    std::string output();
    // "notify file list changed" lines so far.
    int notifications();
    int openDescriptors() const;
    long residentKb() const;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    uint16_t port_ = 0;
    std::string text_;
};

bool haveIPv6Loopback();

} // namespace ftptest
