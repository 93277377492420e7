#include "ui/ui_support.h"

#include <QDir>
#include <QTest>

#include "platform/audio_queue/audio_queue.h"
#include "platform/core/file_system_object.h"
#include "player/play_list_controller.h"
#include "theme/theme.h"
#include "ui/main_window.h"
#include "ui/navigation_controller.h"

namespace uitest {

void UiFixture::SetUp()
{
    qputenv("QT_QUICK_BACKEND", "software");
    lmtest::ensureApp();
    MainWindow::prepareStyle();
    cwd = QDir::currentPath();
    QDir().mkpath(QString::fromStdString(home.path() + "/config"));
    Theme::setBundlePath(QStringLiteral(LUMENAR_STAGE_DIR "/share/lumenar"));
    FileSystemObject::setDocumentsDirectory(QString::fromStdString(docs.path()));
    outWav = home.path() + "/out.wav";
    LMAudioOutputSelect(("wav-fast:" + outWav).c_str());
    AppDelegate::resetPositionRestored();
    PlayListController::resetLastShufflePick();
}

void UiFixture::TearDown()
{
    mainWindow.reset();
    ui.reset();
    delegate.reset();
    player.reset();
    lmtest::spin(10);
    QDir::setCurrent(cwd);
    FileSystemObject::setDocumentsDirectory(QString());
    LMAudioOutputSelect(nullptr);
    Theme::setIdiom(Theme::Idiom::Phone);
}

void UiFixture::launch(bool tablet, bool withWindow)
{
    Theme::setIdiom(tablet ? Theme::Idiom::Tablet : Theme::Idiom::Phone);
    player = std::make_unique<UniPlayer>();
    delegate = std::make_unique<AppDelegate>(player.get());
    QObject::connect(delegate.get(), &AppDelegate::libraryLoaded, [this](int) { scans++; });
    ui = std::make_unique<UiContext>(delegate.get(), tablet);
    ui->setAnimations(false);
    ui->setUrlOpener([](const QUrl &) { return true; });
    mainWindow = std::make_unique<MainWindow>(ui.get());
    delegate->setWindowBuilder([this, withWindow] {
        if (withWindow)
            ASSERT_TRUE(mainWindow->build(true));
        else
            mainWindow->createRoot();
    });
    delegate->didFinishLaunching();
    if (withWindow) {
        window()->resize(tablet ? 768 : 360, tablet ? 1024 : 720);
        settle(100);
    }
}

bool UiFixture::scan()
{
    const int before = scans;
    delegate->loadMusics();
    return lmtest::waitUntil([&] { return scans > before; }, 10000);
}

void UiFixture::writeWav(const std::string &name, double seconds)
{
    lmtest::writeWav(docs.file(name), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, seconds));
}

RootViewController *UiFixture::root() const
{
    return mainWindow ? mainWindow->rootController() : nullptr;
}

QQuickItem *UiFixture::item(const QString &objectName) const
{
    QQuickWindow *w = window();
    if (w == nullptr)
        return nullptr;
    // Popups live on the overlay, which is a child of the content item too.
    return itemWithin(w->contentItem(), objectName);
}

QQuickItem *UiFixture::itemWithin(QQuickItem *scope, const QString &objectName)
{
    if (scope == nullptr || !scope->isVisible())
        return nullptr;
    if (scope->objectName() == objectName)
        return scope;
    for (QQuickItem *child : scope->childItems())
        if (QQuickItem *found = itemWithin(child, objectName))
            return found;
    return nullptr;
}

bool UiFixture::tap(QQuickItem *target)
{
    QQuickWindow *w = window();
    if (w == nullptr || target == nullptr || !target->isVisible())
        return false;
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    if (centre.x() < 0 || centre.y() < 0 || centre.x() >= w->width() || centre.y() >= w->height())
        return false;
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    settle();
    return true;
}

} // namespace uitest
