#include "ui/snapshot.h"

#include <cstdio>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>

#include "app/app_delegate.h"
#include "app/process_entry.h"
#include "library/settings_keys.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/core/file_system_object.h"
#include "platform/core/user_defaults.h"
#include "player/uni_player.h"
#include "theme/theme.h"
#include "ui/alerts.h"
#include "ui/main_window.h"
#include "ui/sample_library.h"
#include "ui/ui_context.h"

void Snapshot::Stage::settle(int ms) const
{
    // Waits in an event loop rather than spinning on processEvents.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

namespace {

bool waitForLibrary(AppDelegate &delegate)
{
    bool loaded = false;
    QObject::connect(&delegate, &AppDelegate::libraryLoaded, [&loaded] { loaded = true; });
    delegate.loadMusics();
    QElapsedTimer t;
    t.start();
    while (!loaded && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return loaded;
}

int drawIdiom(bool tablet, AppDelegate &delegate, const QString &documents, const QString &outDir)
{
    Theme::setIdiom(tablet ? Theme::Idiom::Tablet : Theme::Idiom::Phone);
    const QString idiomName = tablet ? QStringLiteral("tablet") : QStringLiteral("phone");
    UiContext ui(&delegate, tablet);
    ui.setAnimations(false);
    ui.setUrlOpener([](const QUrl &) { return true; });
    MainWindow window(&ui);
    if (!window.build(true))
        return 1;
    Snapshot::Stage stage{&ui, &window, &delegate, documents};
    stage.settle(300);

    QStringList themes = QDir(Theme::themeFolderFor(Theme::idiom()))
                             .entryList({QStringLiteral("*.thm")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    int failures = 0;
    for (const QString &theme : themes) {
        UserDefaults::setString(SettingsKeys::CurrentTheme, theme);
        delegate.onThemeChange();
        for (const Snapshot::NamedScene &scene : Snapshot::scenes()) {
            std::function<void()> undo = scene.scene(stage);
            stage.settle();
            const QImage image = window.window()->grabWindow();
            const QString file = QStringLiteral("%1/%2-%3-%4.png")
                                     .arg(outDir, idiomName, QFileInfo(theme).completeBaseName(), scene.name);
            if (image.isNull() || !image.save(file)) {
                fprintf(stderr, "lumenar: could not write %s\n", qPrintable(file));
                failures++;
            } else {
                printf("%s\n", qPrintable(file));
            }
            if (undo)
                undo();
            stage.settle(20);
        }
    }
    return failures;
}

} // namespace

int Snapshot::run(int argc, char **argv, const QString &outDir, const QString &idiom)
{
    QTemporaryDir home;
    if (!home.isValid()) {
        fprintf(stderr, "lumenar: no temporary folder\n");
        return 1;
    }
    // Drawn offscreen by the software renderer, with settings of its own and no bus, so a
    // running Lumenar and the user's settings are never touched.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + QStringLiteral("/cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    ProcessEntry::prepare();
    QGuiApplication app(argc, argv);
    if (!QDir().mkpath(outDir)) {
        fprintf(stderr, "lumenar: cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    const QString out = QDir(outDir).absolutePath();
    const QString documents = home.path() + QStringLiteral("/Documents");
    if (!SampleLibrary::write(documents)) {
        fprintf(stderr, "lumenar: cannot write the sample library\n");
        return 1;
    }
    LMAudioOutputSelect("null");
    FileSystemObject::setDocumentsDirectory(documents);

    int failures = 0;
    UniPlayer *player = UniPlayer::defaultPlayer();
    {
        AppDelegate delegate(player);
        delegate.setAlertHandler([](const QString &title, const QString &message) { AlertMessage::show(title, message); });
        delegate.didFinishLaunching();
        if (!waitForLibrary(delegate)) {
            fprintf(stderr, "lumenar: the sample library did not load\n");
            return 1;
        }
        const QStringList idioms = idiom.isEmpty() ? QStringList{QStringLiteral("phone"), QStringLiteral("tablet")}
                                                   : QStringList{idiom};
        for (const QString &i : idioms)
            failures += drawIdiom(i == QLatin1String("tablet"), delegate, documents, out);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete player;
    return failures == 0 ? 0 : 1;
}
