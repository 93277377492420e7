// UiContext: what every screen of one window shares — the application delegate (library,
// main play list, player), the device idiom, the presenter, the alert center and the
// window's root navigation stack. Screens get it at creation, so tests can build a
// context of their own around a test delegate.
#pragma once

#include <functional>

#include <QObject>
#include <QPointer>
#include <QUrl>

#include "app/app_delegate.h"

class AlertCenter;
class NavigationController;
class Presenter;
class PlayListController;
class UniPlayer;

class UiContext : public QObject {
    Q_OBJECT
    Q_MOC_INCLUDE("ui/alerts.h")
    Q_MOC_INCLUDE("ui/navigation_controller.h")
    Q_MOC_INCLUDE("ui/presenter.h")
    Q_PROPERTY(bool tablet READ isTablet CONSTANT)
    Q_PROPERTY(bool animations READ animations WRITE setAnimations NOTIFY animationsChanged)
    Q_PROPERTY(Presenter *presenter READ presenter CONSTANT)
    Q_PROPERTY(AlertCenter *alerts READ alerts CONSTANT)
    Q_PROPERTY(NavigationController *rootNavigation READ rootNavigation NOTIFY rootNavigationChanged)
    Q_PROPERTY(QString announcement READ announcement NOTIFY announced)

public:
    UiContext(AppDelegate *delegate, bool tablet, QObject *parent = nullptr);
    ~UiContext() override;

    AppDelegate *delegate() const { return delegate_; }
    UniPlayer *player() const;
    PlayListController *playListController() const;
    bool isTablet() const { return tablet_; }
    Presenter *presenter() const { return presenter_; }
    AlertCenter *alerts() const { return alerts_; }

    NavigationController *rootNavigation() const;
    // The window's stack; shown from then on.
    void setRootNavigation(NavigationController *root);

    // Push and pop animations (tests switch them off).
    bool animations() const { return animations_; }
    void setAnimations(bool on);

    // Opens a URL outside the application (help page, mail); tests catch it.
    using UrlOpener = std::function<bool(const QUrl &)>;
    void setUrlOpener(UrlOpener opener) { urlOpener_ = std::move(opener); }
    bool openUrl(const QUrl &url) const;
    // Our help page in the bundle.
    static QUrl helpUrl();

    // Closes every presentation and every screen above the main play list, which then
    // shows the list the stored settings compose.
    void returnToMainList();

    // Says `text` through the screen reader while one is running (nothing otherwise). The
    // window shows it on an alert-role object that appears anew with each text, which
    // screen readers speak.
    void announce(const QString &text);
    // The last text announced.
    const QString &announcement() const { return announcement_; }
    // Whether a screen reader runs (tests stand in for one).
    using ScreenReaderCheck = std::function<bool()>;
    void setScreenReaderCheck(ScreenReaderCheck check) { screenReaderCheck_ = std::move(check); }

    // Keyboard shortcuts of the window.
    Q_INVOKABLE void togglePlayPause();
    Q_INVOKABLE void seekBy(double seconds);

signals:
    void animationsChanged();
    void rootNavigationChanged();
    void mainListRefreshRequested();
    void announced();

private:
    QPointer<AppDelegate> delegate_;
    bool tablet_;
    Presenter *presenter_;
    AlertCenter *alerts_;
    QPointer<NavigationController> root_;
    bool animations_ = true;
    UrlOpener urlOpener_;
    QString announcement_;
    ScreenReaderCheck screenReaderCheck_;
};
