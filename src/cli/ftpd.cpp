// lumenar-cli ftpd --root DIR [--port 40021] [--bind ADDRESS]
// Runs the FTP server on DIR, confined to it, until SIGINT or SIGTERM. Prints
// "listening on ADDRESS port N" once it listens (ADDRESS "*" for every interface; the real
// port when 0 was asked for) and "notify file list changed" for each change notification.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include "cli/cli.h"
#include "net/ftp_server.h"

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    char c = 1;
    ssize_t ignored = write(signalPipe[1], &c, 1);
    (void)ignored;
}

// Each client may hold a control socket, a passive listener pair, a data socket and a
// file: allow the server its full share of descriptors.
void raiseDescriptorLimit()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int runFtpd(int argc, char **argv)
{
    QString root, bind;
    long port = 40021;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (strcmp(a, "--root") == 0 && i + 1 < argc) {
            root = QString::fromLocal8Bit(argv[++i]);
        } else if (strcmp(a, "--port") == 0 && i + 1 < argc) {
            char *end = nullptr;
            port = strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535)
                return cli::usageError("ftpd", "--port needs a number from 0 to 65535");
        } else if (strcmp(a, "--bind") == 0 && i + 1 < argc) {
            bind = QString::fromLocal8Bit(argv[++i]);
        } else {
            return cli::usageError("ftpd", "unknown or incomplete option");
        }
    }
    if (root.isEmpty())
        return cli::usageError("ftpd", "--root DIR is required");
    if (!QFileInfo(root).isDir()) {
        fprintf(stderr, "lumenar-cli ftpd: %s is not a folder\n", qPrintable(root));
        return 1;
    }

    // A full disk or a file-size limit must fail the upload, not end the server; a client
    // gone away must fail the write, not end the server.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    raiseDescriptorLimit();

    int qargc = 1;
    char *qargv[] = {argv[0], nullptr};
    QCoreApplication app(qargc, qargv);

    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        perror("lumenar-cli ftpd: socketpair");
        return 1;
    }
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

    int status = 0;
    {
        FtpServer server(quint16(port), root, nullptr, bind);
        server.setName(QStringLiteral("Lumenar"));
        server.setChangeRoot(true);
        if (!server.isListening()) {
            fprintf(stderr, "lumenar-cli ftpd: Failed to start ftpd server on port %ld\n", port);
            return 1;
        }
        QObject::connect(&server, &FtpServer::fileListChanged, [] {
            printf("notify file list changed\n");
            fflush(stdout);
        });
        printf("listening on %s port %u\n", bind.isEmpty() ? "*" : qPrintable(bind), unsigned(server.listeningPort()));
        fflush(stdout);
        status = app.exec();
        server.stopFtpServer();
    }
    // Connections are deleted on a later pass; let that pass run before leaving.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    close(signalPipe[0]);
    close(signalPipe[1]);
    return status;
}

} // namespace

LUMENAR_CLI_COMMAND("ftpd", "--root DIR [--port 40021] [--bind ADDRESS]", runFtpd);
