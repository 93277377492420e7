#include "ui/navigation_controller.h"

#include <QTimer>

#include "ui/screen_controller.h"

NavigationController::NavigationController(UiContext *context, ScreenController *root, QObject *parent)
    : QObject(parent), context_(context)
{
    Q_ASSERT(root != nullptr);
    root->setParent(this);
    root->setNavigationController(this);
    stack_.append(root);
}

NavigationController::~NavigationController() = default;

ScreenController *NavigationController::top() const
{
    return stack_.isEmpty() ? nullptr : stack_.last().data();
}

ScreenController *NavigationController::root() const
{
    return stack_.isEmpty() ? nullptr : stack_.first().data();
}

QList<ScreenController *> NavigationController::stack() const
{
    QList<ScreenController *> out;
    for (const auto &c : stack_)
        out.append(c.data());
    return out;
}

QList<QObject *> NavigationController::stackScreens() const
{
    QList<QObject *> out;
    for (const auto &c : stack_)
        out.append(c.data());
    return out;
}

void NavigationController::push(ScreenController *screen, bool animated)
{
    if (screen == nullptr || stack_.contains(screen))
        return;
    ScreenController *below = top();
    screen->setParent(this);
    screen->setNavigationController(this);
    screen->loadIfNeeded();
    if (shown_) {
        if (below != nullptr)
            below->viewWillDisappear();
        screen->viewWillAppear();
    }
    stack_.append(screen);
    emit pushed(screen, animated);
    emit stackChanged();
    if (shown_) {
        if (below != nullptr)
            below->viewDidDisappear();
        screen->viewDidAppear();
    }
}

void NavigationController::pop(bool animated)
{
    if (stack_.size() < 2)
        return;
    ScreenController *leaving = top();
    ScreenController *below = stack_.at(stack_.size() - 2);
    if (shown_) {
        leaving->viewWillDisappear();
        below->viewWillAppear();
    }
    stack_.removeLast();
    emit popped(1, animated);
    emit stackChanged();
    if (shown_) {
        leaving->viewDidDisappear();
        below->viewDidAppear();
    }
    release(leaving);
}

void NavigationController::popToRoot(bool animated)
{
    if (stack_.size() < 2)
        return;
    ScreenController *leaving = top();
    ScreenController *rootScreen = root();
    if (shown_) {
        leaving->viewWillDisappear();
        rootScreen->viewWillAppear();
    }
    QList<QPointer<ScreenController>> gone = stack_.mid(1);
    stack_.resize(1);
    emit popped(int(gone.size()), animated);
    emit stackChanged();
    if (shown_) {
        leaving->viewDidDisappear();
        rootScreen->viewDidAppear();
    }
    for (const auto &c : gone)
        release(c.data());
}

void NavigationController::setShown(bool shown)
{
    if (shown_ == shown)
        return;
    shown_ = shown;
    ScreenController *t = top();
    if (t != nullptr) {
        if (shown) {
            t->loadIfNeeded();
            t->viewWillAppear();
            t->viewDidAppear();
        } else {
            t->viewWillDisappear();
            t->viewDidDisappear();
        }
    }
    emit shownChanged();
}

void NavigationController::release(ScreenController *screen)
{
    if (screen == nullptr || screen->parent() != this)
        return;
    screen->setNavigationController(nullptr);
    // The view animates the screen out before it goes.
    QTimer::singleShot(kReleaseDelayMs, screen, &QObject::deleteLater);
}
