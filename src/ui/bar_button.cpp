#include "ui/bar_button.h"

BarButton::BarButton(const QString &name, QObject *parent) : QObject(parent)
{
    setObjectName(name);
}

BarButton *BarButton::flexible(QObject *parent)
{
    auto *b = new BarButton(QString(), parent);
    b->flexible_ = true;
    return b;
}

void BarButton::setText(const QString &text)
{
    if (text_ == text)
        return;
    text_ = text;
    emit changed();
}

void BarButton::setImage(const QString &image, const QColor &tint)
{
    if (image_ == image && tint_ == tint)
        return;
    image_ = image;
    tint_ = tint;
    emit changed();
}

void BarButton::setAccessibleName(const QString &name)
{
    if (accessibleName_ == name)
        return;
    accessibleName_ = name;
    emit changed();
}

void BarButton::setDone(bool done)
{
    if (done_ == done)
        return;
    done_ = done;
    emit changed();
}

void BarButton::setEnabled(bool enabled)
{
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    emit changed();
}

void BarButton::setLabel(bool label)
{
    if (label_ == label)
        return;
    label_ = label;
    emit changed();
}

void BarButton::trigger()
{
    if (!enabled_ || flexible_ || label_)
        return;
    emit triggered();
    if (action_)
        action_();
}
