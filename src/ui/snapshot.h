// lumenar --snapshot DIR: every screen drawn over a sample library, for the phone and the
// tablet and every shipped theme, into PNG files named IDIOM-THEME-SCENE.png, offscreen.
// This is how screens are reviewed. Settings, caches and documents live in a temporary
// folder: the user's own are never touched.
#pragma once

#include <functional>

#include <QList>
#include <QString>

class AppDelegate;
class MainWindow;
class UiContext;

namespace Snapshot {

struct Stage {
    UiContext *ui = nullptr;
    MainWindow *window = nullptr;
    AppDelegate *delegate = nullptr;
    QString documents;
    // Runs the event loop for `ms` milliseconds (images load, layouts settle).
    void settle(int ms = 40) const;
};

// Puts the window into the state a picture shows; answers what undoes it.
using Scene = std::function<std::function<void()>(Stage &stage)>;
struct NamedScene {
    QString name;
    Scene scene;
};
// Every scene, in the order they are drawn (snapshot_scenes.cpp).
QList<NamedScene> scenes();

// Sets up the offscreen platform and the temporary folders, then draws. `idiom` empty:
// both. Exit status: 0 when every picture was written.
int run(int argc, char **argv, const QString &outDir, const QString &idiom);

} // namespace Snapshot
