// A window's worth of application for screen tests: temporary documents and settings, a
// test player on the wav-fast output, the application delegate, a UI context and, when a
// test asks for it, the real window with its views (offscreen, software renderer).
#pragma once

#include <memory>
#include <string>

#include <QPointF>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

#include "app/app_delegate.h"
#include "player/uni_player.h"
#include "support/test_support.h"
#include "ui/main_window.h"
#include "ui/root_view_controller.h"
#include "ui/ui_context.h"

namespace uitest {

class UiFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the delegate and context (a tablet context with `tablet`); the window only
    // when `window` is set.
    void launch(bool tablet = false, bool window = false);
    // Scans the documents folder and waits for the play list.
    bool scan();
    QString doc(const std::string &name) const { return QString::fromStdString(docs.file(name)); }
    void writeWav(const std::string &name, double seconds);

    RootViewController *root() const;
    QQuickWindow *window() const { return mainWindow ? mainWindow->window() : nullptr; }
    // The first visible item of that object name, searched through the whole window.
    QQuickItem *item(const QString &objectName) const;
    // The same inside `scope` (a presented frame, say).
    static QQuickItem *itemWithin(QQuickItem *scope, const QString &objectName);
    // A tap (press and release) at the middle of a visible item; false when it is not on
    // screen.
    bool tap(QQuickItem *target);
    bool tap(const QString &objectName) { return tap(item(objectName)); }
    // Lets the views settle (bindings, layout, image loads).
    void settle(int ms = 50) { lmtest::spin(ms); }

    lmtest::TempDir home;
    lmtest::ScopedEnv config{"XDG_CONFIG_HOME", home.path() + "/config"};
    lmtest::ScopedEnv cache{"XDG_CACHE_HOME", home.path() + "/cache"};
    lmtest::TempDir docs;
    std::string outWav;
    std::unique_ptr<UniPlayer> player;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<UiContext> ui;
    std::unique_ptr<MainWindow> mainWindow;
    int scans = 0;
    QString cwd;
};

} // namespace uitest
