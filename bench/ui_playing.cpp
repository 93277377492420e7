// The window playing a file with the now-playing screen shown: the application's window,
// delegate and player (offscreen, software renderer), the file played from its folder as
// the documents folder, now playing pushed once it plays, then `--seconds` of playback.
// Prints the process's own CPU time over the playback, the frames drawn and what drawing
// them took, and how often the lyrics moved. bench/ui-playing runs it beside lumenar-cli.
//
//   build/bench/bench-ui-playing FILE [--seconds N] [--audio OUT] [--idiom phone|tablet]
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>

#include "app/app_delegate.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/core/file_system_object.h"
#include "player/play_list_controller.h"
#include "player/uni_player.h"
#include "theme/theme.h"
#include "ui/lrc_view.h"
#include "ui/main_window.h"
#include "ui/navigation_controller.h"
#include "ui/playing_view_controller.h"
#include "ui/root_view_controller.h"
#include "ui/ui_context.h"

namespace {

double cpuSeconds()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QQuickItem *find(QQuickItem *item, const char *name)
{
    if (item->objectName() == QLatin1String(name) && item->isVisible())
        return item;
    for (QQuickItem *c : item->childItems())
        if (QQuickItem *f = find(c, name))
            return f;
    return nullptr;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench-ui-playing FILE [--seconds N] [--audio OUT] [--idiom phone|tablet]\n");
        return 2;
    }
    const QString file = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    double seconds = 30;
    const char *audio = "null";
    bool tablet = false;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--seconds") == 0)
            seconds = atof(argv[i + 1]);
        else if (strcmp(argv[i], "--audio") == 0)
            audio = argv[i + 1];
        else if (strcmp(argv[i], "--idiom") == 0)
            tablet = strcmp(argv[i + 1], "tablet") == 0;
    }
    QTemporaryDir home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + QStringLiteral("/cache")));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QGuiApplication app(argc, argv);
    Theme::setBundlePath(QStringLiteral(LUMENAR_STAGE_DIR "/share/lumenar"));
    if (!LMAudioOutputSelect(audio)) {
        fprintf(stderr, "bench-ui-playing: unknown output %s\n", audio);
        return 2;
    }
    FileSystemObject::setDocumentsDirectory(QFileInfo(file).path());
    Theme::setIdiom(tablet ? Theme::Idiom::Tablet : Theme::Idiom::Phone);

    UniPlayer player;
    AppDelegate delegate(&player);
    UiContext ui(&delegate, tablet);
    ui.setAnimations(true);
    MainWindow window(&ui);
    delegate.setWindowBuilder([&] { window.build(true); });
    bool loaded = false;
    QObject::connect(&delegate, &AppDelegate::libraryLoaded, [&] { loaded = true; });
    delegate.didFinishLaunching();
    QQuickWindow *w = window.window();
    if (w == nullptr)
        return 1;
    delegate.loadMusics();
    QElapsedTimer wait;
    wait.start();
    while (!loaded && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    PlayableItemPtr item;
    for (const PlayableItemPtr &row : delegate.playListController()->playList())
        if (row->path() == file)
            item = row->subItems().isEmpty() ? row : row->subItems().first();
    if (!item) {
        fprintf(stderr, "bench-ui-playing: %s is not in the library\n", qPrintable(file));
        return 1;
    }

    std::vector<double> render;
    QElapsedTimer clock;
    clock.start();
    qint64 renderStart = 0;
    bool measuring = false;
    QObject::connect(w, &QQuickWindow::beforeRendering, w, [&] { renderStart = clock.nsecsElapsed(); },
                     Qt::DirectConnection);
    QObject::connect(
        w, &QQuickWindow::afterRendering, w,
        [&] {
            if (measuring)
                render.push_back(double(clock.nsecsElapsed() - renderStart) / 1e6);
        },
        Qt::DirectConnection);

    player.play(item);
    window.rootController()->showNowPlaying();
    int lines = 0;
    QTimer::singleShot(500, [&] {
        if (auto *lyrics = qobject_cast<LRCView *>(find(w->contentItem(), "lyricsView")))
            QObject::connect(lyrics, &LRCView::currentLineChanged, [&] { lines++; });
        else
            fprintf(stderr, "bench-ui-playing: no lyrics shown\n");
    });
    // Start-up and the push are left out: what is measured is the screen while it plays.
    double cpuStart = 0, wallStart = 0;
    QTimer::singleShot(1000, [&] {
        cpuStart = cpuSeconds();
        wallStart = double(clock.nsecsElapsed()) / 1e9;
        measuring = true;
    });
    double cpu = 0, wall = 0;
    std::vector<double> full;
    QTimer::singleShot(int((1 + seconds) * 1000), [&] {
        cpu = cpuSeconds() - cpuStart;
        wall = double(clock.nsecsElapsed()) / 1e9 - wallStart;
        measuring = false;
        full.swap(render);
        // For scale: frames in which the whole window is drawn again.
        measuring = true;
        for (int i = 0; i < 5; i++) {
            w->contentItem()->setOpacity(i % 2 ? 1.0 : 0.999);
            QCoreApplication::processEvents();
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 60)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        app.quit();
    });
    app.exec();
    full.swap(render);  // `render` holds the playback frames again
    auto *screen = qobject_cast<PlayingViewController *>(ui.rootNavigation()->top());
    printf("window: %s, %dx%d, software renderer, output %s\n", tablet ? "tablet" : "phone", w->width(), w->height(),
           audio);
    printf("now playing shown: %s; lyric lines passed: %d\n", screen != nullptr ? "yes" : "no", lines);
    printf("cpu %.3f s over %.2f s of playback: %.2f%%\n", cpu, wall, 100 * cpu / wall);
    printf("frames drawn %zu (%.2f per second), render per frame median %.2f ms, total %.1f ms\n", render.size(),
           double(render.size()) / wall, median(render), [&] {
               double t = 0;
               for (double r : render)
                   t += r;
               return t;
           }());
    printf("for scale, a frame that draws the whole window: median %.2f ms (%zu frames)\n", median(full),
           full.size());
    return 0;
}
