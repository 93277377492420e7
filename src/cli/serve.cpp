// lumenar-cli serve [--documents DIR] [--audio OUT] [--ftp-port N] [FILE...]
//
// The application without its window: scans the documents folder 0.5 s after start and
// 3 s after each burst of FTP uploads, restores the position saved by the last run,
// publishes the now-playing information and takes media keys (MPRIS), starts the FTP
// server when FTPAutoStart is set, and runs until SIGINT or SIGTERM, which save the
// playing position. FILEs are taken in as files handed over by another application.
//
// Prints "library N items" after each completed scan, "item TITLE" when the current item
// changes and "ftp listening on port N" once the FTP server listens.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "app/app_delegate.h"
#include "app/process_entry.h"
#include "cli/cli.h"
#include "net/ftp_server.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/core/file_system_object.h"

namespace {

const char kName[] = "serve";

int runServe(int argc, char **argv)
{
    QString documents;
    QStringList files;
    const char *audio = nullptr;
    long ftpPort = AppDelegate::kFtpPort;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--documents") {
            if (!hasValue)
                return cli::usageError(kName, "--documents needs a folder");
            documents = QString::fromLocal8Bit(argv[++i]);
        } else if (a == "--audio") {
            if (!hasValue)
                return cli::usageError(kName, "--audio needs a value");
            audio = argv[++i];
            if (!LMAudioOutputSpecValid(audio))
                return cli::usageError(kName, "--audio takes pulse, null, wav:PATH or wav-fast:PATH");
        } else if (a == "--ftp-port") {
            char *end = nullptr;
            errno = 0;
            ftpPort = hasValue ? strtol(argv[++i], &end, 10) : -1;
            if (!hasValue || end == argv[i] || *end != '\0' || errno != 0 || ftpPort < 0 || ftpPort > 65535)
                return cli::usageError(kName, "--ftp-port takes a number from 0 to 65535");
        } else if (a.size() > 1 && a[0] == '-') {
            return cli::usageError(kName, ("unknown option " + a).c_str());
        } else {
            files << QString::fromLocal8Bit(argv[i]);
        }
    }

    if (!documents.isEmpty() && QFileInfo(documents).exists() && !QFileInfo(documents).isDir()) {
        fprintf(stderr, "lumenar-cli serve: %s is not a folder\n", qPrintable(documents));
        return 1;
    }
    ProcessEntry::prepare();
    int qargc = 1;
    char *qargv[] = {argv[0], nullptr};
    QCoreApplication app(qargc, qargv);
    if (audio != nullptr)
        LMAudioOutputSelect(audio);
    if (!documents.isEmpty())
        FileSystemObject::setDocumentsDirectory(documents);
    const QString docs = FileSystemObject::sharedObject()->documentsDirectory();
    if (!FileSystemObject::sharedObject()->ensureDirectoryExists(docs)) {
        fprintf(stderr, "lumenar-cli serve: cannot create the documents folder %s\n", qPrintable(docs));
        return 1;
    }
    // Files handed over are named as the caller sees them, before the working directory moves.
    for (QString &file : files)
        file = QFileInfo(file).absoluteFilePath();

    int status = 0;
    UniPlayer *player = UniPlayer::defaultPlayer();
    {
        AppDelegate delegate(player);
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &delegate, [&delegate] {
            delegate.applicationWillTerminate();
            QCoreApplication::exit(0);
        });
        QObject::connect(&delegate, &AppDelegate::libraryLoaded, [](int count) {
            printf("library %d items\n", count);
            fflush(stdout);
        });
        QObject::connect(&delegate, &AppDelegate::ftpServerChanged, [&delegate](bool running) {
            if (running && delegate.ftpd() != nullptr) {
                printf("ftp listening on port %u\n", unsigned(delegate.ftpd()->listeningPort()));
                fflush(stdout);
            }
        });
        PlayableItemPtr shown;
        QObject::connect(delegate.playListController(), &PlayListController::itemChanged, [player, &shown](int) {
            const PlayableItemPtr current = player->currentItem();
            if (current && current.get() != shown.get()) {
                printf("item %s\n", qPrintable(current->title()));
                fflush(stdout);
            }
            shown = current;
        });
        delegate.setFtpPort(quint16(ftpPort));
        delegate.didFinishLaunching(files);
        delegate.applicationDidBecomeActive();
        status = app.exec();
        delegate.stopFtpServer();
    }
    // Connections of the FTP server go on a later pass; let it run before leaving.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete player;
    return status;
}

} // namespace

LUMENAR_CLI_COMMAND("serve", "[--documents DIR] [--audio pulse|null|wav:PATH|wav-fast:PATH] [--ftp-port N] [FILE...]",
                    runServe);
