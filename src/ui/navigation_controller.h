// NavigationController: a stack of screens with a bar, as the view's StackView shows it.
// The controller owns the screens on it; a popped screen is released once its view has
// had time to leave.
//
// A stack is "shown" while it is on screen (the window's root stack from start-up, a
// presented stack while presented): only then do its screens get their appear and
// disappear calls.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include "ui/screen_controller.h"

class ScreenController;
class UiContext;

class NavigationController : public QObject {
    Q_OBJECT
    Q_PROPERTY(ScreenController *top READ top NOTIFY stackChanged)
    Q_PROPERTY(ScreenController *root READ root CONSTANT)
    Q_PROPERTY(int depth READ depth NOTIFY stackChanged)
    Q_PROPERTY(bool shown READ isShown NOTIFY shownChanged)

public:
    static constexpr int kReleaseDelayMs = 1000;

    NavigationController(UiContext *context, ScreenController *root, QObject *parent = nullptr);
    ~NavigationController() override;

    UiContext *context() const { return context_; }
    ScreenController *top() const;
    ScreenController *root() const;
    int depth() const { return int(stack_.size()); }
    QList<ScreenController *> stack() const;
    // The stack for the view, bottom first.
    Q_INVOKABLE QList<QObject *> stackScreens() const;
    // The first screen on the stack of type T, or null.
    template <class T>
    T *find() const
    {
        for (const auto &c : stack_)
            if (auto *t = qobject_cast<T *>(c.data()))
                return t;
        return nullptr;
    }

    void push(ScreenController *screen, bool animated = true);
    // The root stays.
    Q_INVOKABLE void pop(bool animated = true);
    void popToRoot(bool animated = true);

    bool isShown() const { return shown_; }
    void setShown(bool shown);

signals:
    // For the view: mirror these on the StackView.
    void pushed(ScreenController *screen, bool animated);
    void popped(int count, bool animated);
    void stackChanged();
    void shownChanged();

private:
    void release(ScreenController *screen);

    UiContext *context_;
    QList<QPointer<ScreenController>> stack_;
    bool shown_ = false;
};
