// MainWindow: the application window. build() makes the window's root navigation stack
// with the main play list and loads the view (Main.qml) that draws the stack, the
// presented screens and the alerts.
#pragma once

#include <memory>

#include <QObject>
#include <QPointer>
#include <QQuickWindow>

class QQmlApplicationEngine;
class RootViewController;
class UiContext;

class MainWindow : public QObject {
    Q_OBJECT

public:
    explicit MainWindow(UiContext *context, QObject *parent = nullptr);
    ~MainWindow() override;

    // The root stack with the main play list, then the view; false when the view does not
    // load (the reason is on standard error).
    bool build(bool show = true);
    // Only the root stack and its controllers, without any view (tests of the logic).
    void createRoot();
    QQuickWindow *window() const { return window_; }
    QQmlApplicationEngine *engine() const { return engine_.get(); }
    RootViewController *rootController() const { return root_; }
    UiContext *context() const { return context_; }
    // Brings the window to the front (a second launch handed files over).
    void raise();

    // The widget style every view is drawn in, set before the first engine exists.
    static void prepareStyle();

private:
    UiContext *context_;
    std::unique_ptr<QQmlApplicationEngine> engine_;
    QPointer<QQuickWindow> window_;
    RootViewController *root_ = nullptr;
};
