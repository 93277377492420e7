#include "ui/ui_context.h"

#include <QAccessible>
#include <QDesktopServices>

#include "app/app_delegate.h"
#include "player/play_list_controller.h"
#include "player/uni_player.h"
#include "theme/theme.h"
#include "ui/alerts.h"
#include "ui/navigation_controller.h"
#include "ui/presenter.h"

UiContext::UiContext(AppDelegate *delegate, bool tablet, QObject *parent)
    : QObject(parent), delegate_(delegate), tablet_(tablet), presenter_(new Presenter(tablet, this)),
      alerts_(new AlertCenter(this))
{
    alerts_->makeShared();
}

UiContext::~UiContext() = default;

UniPlayer *UiContext::player() const
{
    return delegate_.isNull() ? nullptr : delegate_->player();
}

PlayListController *UiContext::playListController() const
{
    return delegate_.isNull() ? nullptr : delegate_->playListController();
}

NavigationController *UiContext::rootNavigation() const
{
    return root_;
}

void UiContext::setRootNavigation(NavigationController *root)
{
    root_ = root;
    presenter_->setCoveredNavigation(root);
    if (root != nullptr)
        root->setShown(true);
    emit rootNavigationChanged();
}

void UiContext::setAnimations(bool on)
{
    if (animations_ == on)
        return;
    animations_ = on;
    emit animationsChanged();
}

bool UiContext::openUrl(const QUrl &url) const
{
    if (urlOpener_)
        return urlOpener_(url);
    return QDesktopServices::openUrl(url);
}

QUrl UiContext::helpUrl()
{
    return QUrl::fromLocalFile(Theme::bundlePath() + QStringLiteral("/help/index.html"));
}

void UiContext::returnToMainList()
{
    presenter_->dismissAll();
    if (!root_.isNull())
        root_->popToRoot(animations_);
    emit mainListRefreshRequested();
}

void UiContext::announce(const QString &text)
{
    if (!(screenReaderCheck_ ? screenReaderCheck_() : QAccessible::isActive()))
        return;
    announcement_ = text;
    emit announced();
}

void UiContext::togglePlayPause()
{
    if (PlayListController *plc = playListController())
        plc->togglePlayPause();
}

void UiContext::seekBy(double seconds)
{
    UniPlayer *p = player();
    if (p == nullptr || !p->currentItem())
        return;
    const PlayableItemPtr item = p->currentItem();
    const double start = item->startTime();
    const double end = start + item->totalTime();
    double target = p->currentTime() + seconds;
    if (target < start)
        target = start;
    if (item->totalTime() > 0 && target > end)
        target = end;
    p->seekToTime(target);
}
