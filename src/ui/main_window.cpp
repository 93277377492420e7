#include "ui/main_window.h"

#include <cstdio>

#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>

#include "theme/theme.h"
#include "ui/navigation_controller.h"
#include "ui/root_view_controller.h"
#include "ui/screen_factory.h"
#include "ui/ui_context.h"
#include "ui/ui_types.h"

MainWindow::MainWindow(UiContext *context, QObject *parent) : QObject(parent), context_(context) {}

MainWindow::~MainWindow()
{
    // The views go before the controllers they draw.
    engine_.reset();
}

void MainWindow::prepareStyle()
{
    // Our own drawing on the plain style: the same look on every desktop and phone shell.
    if (QQuickStyle::name().isEmpty())
        QQuickStyle::setStyle(QStringLiteral("Basic"));
}

void MainWindow::createRoot()
{
    ScreenFactory::registerBuiltInScreens();
    if (root_ != nullptr)
        return;
    root_ = new RootViewController(context_);
    context_->setRootNavigation(new NavigationController(context_, root_, context_));
}

bool MainWindow::build(bool show)
{
    prepareStyle();
    UiTypes::registerTypes();
    createRoot();
    engine_ = std::make_unique<QQmlApplicationEngine>();
    UiTypes::installImageProviders(engine_.get());
    engine_->rootContext()->setContextProperty(QStringLiteral("ui"), context_);
    engine_->load(QUrl(QStringLiteral("qrc:/lumenar/qml/Main.qml")));
    const QList<QObject *> roots = engine_->rootObjects();
    window_ = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    if (window_.isNull()) {
        fprintf(stderr, "lumenar: the window could not be loaded\n");
        return false;
    }
    const QString icon = Theme::bundlePath() + QStringLiteral("/icons/lumenar.svg");
    if (QGuiApplication::windowIcon().isNull())
        QGuiApplication::setWindowIcon(QIcon(icon));
    if (show)
        window_->show();
    return true;
}

void MainWindow::raise()
{
    if (window_.isNull())
        return;
    window_->show();
    window_->raise();
    window_->requestActivate();
}
