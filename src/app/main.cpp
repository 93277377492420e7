// lumenar [--documents DIR] [--audio OUT] [--idiom phone|tablet] [FILE...]
// lumenar --snapshot DIR [--idiom phone|tablet]
//
// The touch application. Start-up runs in the application's order: the process entry
// (audio session, default theme), the application delegate's launch (working directory,
// audio session listeners, the window with its root stack and main play list, files
// handed over, FTP auto-start), then activation, which scans the library 0.5 s later.
// A second launch hands its files to the running instance and exits.
#include <cstdio>
#include <cstring>
#include <string>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

#include "app/app_delegate.h"
#include "app/process_entry.h"
#include "app/single_instance.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/core/file_system_object.h"
#include "player/uni_player.h"
#include "theme/theme.h"
#include "ui/alerts.h"
#include "ui/main_window.h"
#include "ui/snapshot.h"
#include "ui/ui_context.h"

namespace {

struct Options {
    QString documents;
    const char *audio = nullptr;
    QString idiom;  // empty: from the screen
    QString snapshot;
    QStringList files;
};

void usage(FILE *out)
{
    fprintf(out,
            "usage: lumenar [--documents DIR] [--audio pulse|null|wav:PATH|wav-fast:PATH] [--idiom phone|tablet] "
            "[FILE...]\n"
            "       lumenar --snapshot DIR [--idiom phone|tablet]\n");
}

// 0: go on; otherwise the exit status.
int parse(int argc, char **argv, Options *o)
{
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        auto fail = [](const char *message) {
            fprintf(stderr, "lumenar: %s\n", message);
            usage(stderr);
            return 2;
        };
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return -1;
        } else if (a == "--documents") {
            if (!hasValue)
                return fail("--documents needs a folder");
            o->documents = QString::fromLocal8Bit(argv[++i]);
        } else if (a == "--audio") {
            if (!hasValue || !LMAudioOutputSpecValid(argv[i + 1]))
                return fail("--audio takes pulse, null, wav:PATH or wav-fast:PATH");
            o->audio = argv[++i];
        } else if (a == "--idiom") {
            if (!hasValue || (strcmp(argv[i + 1], "phone") != 0 && strcmp(argv[i + 1], "tablet") != 0))
                return fail("--idiom takes phone or tablet");
            o->idiom = QString::fromLatin1(argv[++i]);
        } else if (a == "--snapshot") {
            if (!hasValue)
                return fail("--snapshot needs a folder");
            o->snapshot = QString::fromLocal8Bit(argv[++i]);
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            // Qt's own options (-platform, -style, ...) are left to Qt.
            if (a.rfind("-platform", 0) == 0 || a.rfind("-style", 0) == 0 || a.rfind("-qwindow", 0) == 0 ||
                a == "-reverse" || a.rfind("-display", 0) == 0) {
                if (a.find('=') == std::string::npos && hasValue && a != "-reverse")
                    i++;
                continue;
            }
            return fail(("unknown option " + a).c_str());
        } else {
            o->files << QString::fromLocal8Bit(argv[i]);
        }
    }
    return 0;
}

bool tabletScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return false;
    const QSize s = screen->availableSize();
    return std::min(s.width(), s.height()) >= 768;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    const int parsed = parse(argc, argv, &o);
    if (parsed != 0)
        return parsed < 0 ? 0 : parsed;
    if (!o.snapshot.isEmpty())
        return Snapshot::run(argc, argv, o.snapshot, o.idiom);

    if (!o.documents.isEmpty() && QFileInfo(o.documents).exists() && !QFileInfo(o.documents).isDir()) {
        fprintf(stderr, "lumenar: %s is not a folder\n", qPrintable(o.documents));
        return 1;
    }
    ProcessEntry::prepare();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("lumenar"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Lumenar"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lumenar"));

    // Files handed over are named as the caller sees them, before the working directory moves.
    for (QString &file : o.files)
        file = QFileInfo(file).absoluteFilePath();
    SingleInstance instance;
    if (instance.claim() == SingleInstance::Secondary) {
        if (SingleInstance::sendToRunning(o.files))
            return 0;
        fprintf(stderr, "lumenar: the running instance did not answer\n");
        return 1;
    }

    if (o.audio != nullptr)
        LMAudioOutputSelect(o.audio);
    if (!o.documents.isEmpty())
        FileSystemObject::setDocumentsDirectory(o.documents);
    const QString docs = FileSystemObject::sharedObject()->documentsDirectory();
    if (!FileSystemObject::sharedObject()->ensureDirectoryExists(docs)) {
        fprintf(stderr, "lumenar: cannot create the documents folder %s\n", qPrintable(docs));
        return 1;
    }
    const bool tablet = o.idiom.isEmpty() ? tabletScreen() : o.idiom == QLatin1String("tablet");
    Theme::setIdiom(tablet ? Theme::Idiom::Tablet : Theme::Idiom::Phone);

    int status = 0;
    UniPlayer *player = UniPlayer::defaultPlayer();
    {
        AppDelegate delegate(player);
        UiContext ui(&delegate, tablet);
        MainWindow window(&ui);
        bool built = false;
        delegate.setAlertHandler([](const QString &title, const QString &message) { AlertMessage::show(title, message); });
        delegate.setWindowBuilder([&window, &built] { built = window.build(); });
        QObject::connect(&instance, &SingleInstance::openRequested, &delegate,
                         [&delegate, &window](const QStringList &paths) {
                             for (const QString &path : paths)
                                 delegate.openURL(path);
                             window.raise();
                             delegate.applicationDidBecomeActive();
                         });
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &app, &QGuiApplication::quit);
        QObject::connect(&app, &QGuiApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);

        // Start-up figures for bench/startup: the first frame and each completed scan.
        const bool trace = qEnvironmentVariableIsSet("LUMENAR_TRACE_STARTUP");
        if (trace)
            QObject::connect(&delegate, &AppDelegate::libraryLoaded, [](int items) {
                fprintf(stderr, "lumenar: library %d items\n", items);
            });
        delegate.didFinishLaunching(o.files);
        if (!built)
            return 1;
        if (trace) {
            auto *once = new QMetaObject::Connection;
            *once = QObject::connect(window.window(), &QQuickWindow::frameSwapped, [once] {
                fprintf(stderr, "lumenar: first frame\n");
                QObject::disconnect(*once);
                delete once;
            });
        }
        delegate.applicationDidBecomeActive();
        Qt::ApplicationState last = Qt::ApplicationActive;
        QObject::connect(&app, &QGuiApplication::applicationStateChanged, &delegate,
                         [&delegate, &last](Qt::ApplicationState state) {
                             if (state == Qt::ApplicationActive && last != Qt::ApplicationActive)
                                 delegate.applicationDidBecomeActive();
                             last = state;
                         });
        status = app.exec();
        delegate.stopFtpServer();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete player;
    return status;
}
