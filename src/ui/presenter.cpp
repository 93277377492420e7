#include "ui/presenter.h"

#include "ui/navigation_controller.h"

Presentation::Presentation(Presenter *presenter, NavigationController *navigation, int style,
                           const QString &anchor, QSizeF size)
    : QObject(presenter), presenter_(presenter), navigation_(navigation), style_(style), anchor_(anchor), size_(size)
{
}

void Presentation::dismiss()
{
    presenter_->dismiss(this);
}

Presenter::Presenter(bool tablet, QObject *parent) : QObject(parent), tablet_(tablet) {}

Presentation *Presenter::present(NavigationController *navigation, Style style, const QString &anchor,
                                 std::function<void()> onDismiss, bool owns)
{
    if (navigation == nullptr)
        return nullptr;
    if (Presentation *already = presentationOf(navigation))
        return already;
    QSizeF size;
    if (style == Popover)
        size = QSizeF(kPopoverWidth, kPopoverHeight);
    else if (style == FormSheet)
        size = QSizeF(kFormSheetWidth, kFormSheetHeight);
    const bool hides = covers(style) && !anyCovering();
    auto *p = new Presentation(this, navigation, style, anchor, size);
    p->onDismiss_ = std::move(onDismiss);
    p->owns_ = owns;
    list_.append(p);
    if (hides && !below_.isNull())
        below_->setShown(false);
    navigation->setShown(true);
    emit presentationsChanged();
    return p;
}

Presentation *Presenter::presentAdaptive(NavigationController *navigation, const QString &anchor,
                                         std::function<void()> onDismiss, bool flip, bool owns)
{
    if (tablet_)
        return present(navigation, Popover, anchor, std::move(onDismiss), owns);
    return present(navigation, flip ? ModalFlip : Modal, QString(), std::move(onDismiss), owns);
}

Presentation *Presenter::presentSheet(NavigationController *navigation, std::function<void()> onDismiss, bool owns)
{
    return present(navigation, tablet_ ? FormSheet : Modal, QString(), std::move(onDismiss), owns);
}

void Presenter::dismiss(Presentation *presentation)
{
    const qsizetype i = list_.indexOf(presentation);
    if (i < 0)
        return;
    list_.removeAt(i);
    NavigationController *navigation = presentation->navigation_;
    if (navigation != nullptr)
        navigation->setShown(false);
    if (covers(presentation->style_) && !anyCovering() && !below_.isNull())
        below_->setShown(true);
    emit presentationsChanged();
    std::function<void()> onDismiss = std::move(presentation->onDismiss_);
    if (presentation->owns_ && navigation != nullptr)
        navigation->deleteLater();
    presentation->deleteLater();
    if (onDismiss)
        onDismiss();
}

void Presenter::dismiss(NavigationController *navigation)
{
    dismiss(presentationOf(navigation));
}

void Presenter::dismissAll()
{
    while (!list_.isEmpty())
        dismiss(list_.last());
}

Presentation *Presenter::presentationOf(const NavigationController *navigation) const
{
    for (Presentation *p : list_)
        if (p->navigation_ == navigation)
            return p;
    return nullptr;
}

QList<QObject *> Presenter::presentations() const
{
    QList<QObject *> out;
    for (Presentation *p : list_)
        out.append(p);
    return out;
}

bool Presenter::anyCovering() const
{
    for (const Presentation *p : list_)
        if (covers(p->style_))
            return true;
    return false;
}
