// Paint time per frame of the main play list while it scrolls through 10,000 rows, drawn
// offscreen by the software renderer (what a phone without a GPU driver does). Prints the
// median and the 95th percentile of the render and of the whole frame (sync + render).
//
//   build/bench/bench-ui-scroll [--rows N] [--frames N] [--idiom phone|tablet]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <QElapsedTimer>
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
#include "ui/main_window.h"
#include "ui/ui_context.h"

namespace {

QQuickItem *find(QQuickItem *item, const char *name)
{
    if (item->objectName() == QLatin1String(name))
        return item;
    for (QQuickItem *c : item->childItems())
        if (QQuickItem *f = find(c, name))
            return f;
    return nullptr;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[size_t(p * double(v.size() - 1))];
}

} // namespace

int main(int argc, char **argv)
{
    int rows = 10000, frames = 600;
    bool tablet = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--rows") == 0)
            rows = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--frames") == 0)
            frames = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--idiom") == 0)
            tablet = strcmp(argv[i + 1], "tablet") == 0;
    }
    QTemporaryDir home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QGuiApplication app(argc, argv);
    Theme::setBundlePath(QStringLiteral(LUMENAR_STAGE_DIR "/share/lumenar"));
    LMAudioOutputSelect("null");
    FileSystemObject::setDocumentsDirectory(home.path() + QStringLiteral("/Documents"));
    Theme::setIdiom(tablet ? Theme::Idiom::Tablet : Theme::Idiom::Phone);

    UniPlayer player;
    AppDelegate delegate(&player);
    UiContext ui(&delegate, tablet);
    MainWindow window(&ui);
    delegate.setWindowBuilder([&] { window.build(true); });
    delegate.didFinishLaunching();
    if (window.window() == nullptr)
        return 1;

    // Rows as a scan would give them: whole files, some with cue tracks.
    PlayableItemList items;
    for (int i = 0; i < rows; i++) {
        auto item = PlayableItem::itemWithTrackNumber(0, QStringLiteral("Song number %1 with a longer title").arg(i),
                                                      QStringLiteral("/music/Artist %1/Album %2/%3 Song.flac")
                                                          .arg(i / 100).arg(i / 10).arg(i % 10),
                                                      0, 180 + i % 120);
        item->setOwnFile(true);
        items << item;
    }
    QElapsedTimer fill;
    fill.start();
    delegate.playListController()->setPlayList(items);
    const double fillMs = double(fill.nsecsElapsed()) / 1e6;

    QQuickWindow *w = window.window();
    QQuickItem *list = find(w->contentItem(), "playList");
    if (list == nullptr) {
        fprintf(stderr, "bench-ui-scroll: no list\n");
        return 1;
    }
    std::vector<double> render, whole, work;
    QElapsedTimer clock;
    clock.start();
    qint64 syncStart = 0, renderStart = 0, stepStart = -1;
    QObject::connect(w, &QQuickWindow::beforeSynchronizing, w, [&] { syncStart = clock.nsecsElapsed(); },
                     Qt::DirectConnection);
    QObject::connect(w, &QQuickWindow::beforeRendering, w, [&] { renderStart = clock.nsecsElapsed(); },
                     Qt::DirectConnection);
    QObject::connect(
        w, &QQuickWindow::afterRendering, w,
        [&] {
            const qint64 now = clock.nsecsElapsed();
            render.push_back(double(now - renderStart) / 1e6);
            whole.push_back(double(now - syncStart) / 1e6);
            if (stepStart >= 0)
                work.push_back(double(stepStart) / 1e6 + double(now - syncStart) / 1e6);
            stepStart = -1;
        },
        Qt::DirectConnection);

    // A steady fling: 37 pixels per frame, down the list and back; each step waits for
    // the previous frame to be on screen.
    int frame = 0;
    bool running = false;
    const double maxY = list->property("contentHeight").toDouble() - list->height();
    auto step = [&] {
        if (!running)
            return;
        if (++frame > frames) {
            app.quit();
            return;
        }
        double y = list->property("contentY").toDouble() + 37;
        if (y > maxY)
            y = 0;
        const qint64 t0 = clock.nsecsElapsed();
        list->setProperty("contentY", y);
        list->ensurePolished();  // the rows that scroll in are made and laid out here
        stepStart = clock.nsecsElapsed() - t0;
    };
    QObject::connect(w, &QQuickWindow::frameSwapped, w, step, Qt::QueuedConnection);
    QTimer::singleShot(300, [&] {
        render.clear();
        whole.clear();
        work.clear();
        running = true;
        step();
    });
    app.exec();
    printf("rows %d, frames %zu (%s, %dx%d, software renderer)\n", rows, render.size(), tablet ? "tablet" : "phone",
           w->width(), w->height());
    printf("list filled in %.1f ms\n", fillMs);
    printf("render per frame: median %.2f ms, 95th percentile %.2f ms\n", percentile(render, 0.5),
           percentile(render, 0.95));
    printf("frame (sync + render): median %.2f ms, 95th percentile %.2f ms \n",
           percentile(whole, 0.5), percentile(whole, 0.95));
    printf("whole frame's work (rows made and laid out, sync, render): median %.2f ms, 95th percentile %.2f ms "
           "(target: median under 4 ms)\n",
           percentile(work, 0.5), percentile(work, 0.95));
    return 0;
}
