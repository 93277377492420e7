#include "ui/lm_slider.h"

#include <algorithm>
#include <cmath>

#include <QFont>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "library/playable_item.h"

namespace {

double clamp01(double v)
{
    if (std::isnan(v))
        return 0;
    return std::clamp(v, 0.0, 1.0);
}

void fillBar(QPainter *painter, const QRectF &rect, const QColor &color)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    const qreal r = std::min({LMSlider::kEndRadius, rect.height() / 2, rect.width() / 2});
    QPainterPath path;
    path.addRoundedRect(rect, r, r);
    painter->fillPath(path, color);
}

} // namespace

LMSlider::LMSlider(QQuickItem *parent)
    : QQuickPaintedItem(parent), trackColor_(QColor::fromRgbF(0.5, 0.5, 0.5)),
      progressColor_(QColor::fromRgbF(0.7, 0.7, 0, 1)), progressColor2_(QColor::fromRgbF(1, 1, 0, 0.8))
{
    setAntialiasing(true);
    setFillColor(Qt::transparent);
    setAcceptedMouseButtons(Qt::LeftButton);
    setActiveFocusOnTab(true);
    stablize_.setSingleShot(true);
    stablize_.setInterval(kStablizeMs);
    connect(&stablize_, &QTimer::timeout, this, &LMSlider::stablize);
}

void LMSlider::setValue(double value)
{
    const double v = clamp01(value);
    const bool markMoves = !manualSeeking_ && seekingValue_ != v;
    if (v == value_ && !markMoves)
        return;
    value_ = v;
    if (!manualSeeking_)
        seekingValue_ = value_;
    emit valueChanged();
    if (markMoves)
        emit seekingChanged();
    update();
}

void LMSlider::setTotalTime(int seconds)
{
    if (totalTime_ == seconds)
        return;
    totalTime_ = seconds;
    emit totalTimeChanged();
    if (manualSeeking_)
        update();
}

void LMSlider::setListening(bool on)
{
    if (listening_ == on)
        return;
    listening_ = on;
    emit listeningChanged();
}

void LMSlider::setSeeking(bool on)
{
    if (manualSeeking_ == on)
        return;
    manualSeeking_ = on;
    emit seekingChanged();
    update();
}

void LMSlider::stablize()
{
    stablize_.stop();
    setSeeking(false);
}

void LMSlider::notifyListener()
{
    if (listening_)
        emit seekEnded();
}

void LMSlider::step(double delta)
{
    setSeeking(true);
    seekingValue_ = clamp01(seekingValue_ + delta);
    stablize_.start();
    setValue(seekingValue_);
    emit seekingChanged();
    notifyListener();
    update();
}

QString LMSlider::seekText() const
{
    return PlayableItem::humanTime(float(double(totalTime_) * seekingValue_));
}

QRectF LMSlider::trackRect() const
{
    const qreal h = height() * kTrackHeight;
    return QRectF(kInset, (height() - h) / 2, std::max<qreal>(0, width() - 2 * kInset), h);
}

void LMSlider::paint(QPainter *painter)
{
    const QRectF track = trackRect();
    if (track.isEmpty())
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    fillBar(painter, track, trackColor_);
    fillBar(painter, QRectF(track.topLeft(), QSizeF(track.width() * value_, track.height())), progressColor_);
    if (!manualSeeking_)
        return;
    const qreal mark = track.width() * seekingValue_;
    fillBar(painter, QRectF(track.topLeft(), QSizeF(mark, track.height())), progressColor2_);

    QFont font = painter->font();
    font.setPixelSize(std::max(9, int(height() * 0.4)));
    painter->setFont(font);
    const QString text = seekText();
    const QFontMetricsF metrics(font);
    const qreal textWidth = metrics.horizontalAdvance(text);
    qreal x = track.left() + mark + 4;
    // Near the end the label goes left of the mark so that it stays on the bar.
    if (x + textWidth > width())
        x = track.left() + mark - 4 - textWidth;
    const qreal baseline = track.top() - 2;
    painter->setPen(progressColor2_);
    painter->drawText(QPointF(x, std::max(metrics.ascent(), baseline)), text);
}

void LMSlider::mousePressEvent(QMouseEvent *event)
{
    pressed_ = true;
    dragged_ = false;
    lastX_ = event->position().x();
    setKeepMouseGrab(true);
    event->accept();
}

void LMSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (!pressed_ || width() <= 0)
        return;
    const qreal x = event->position().x();
    const qreal dx = x - lastX_;
    lastX_ = x;
    if (dx == 0)
        return;
    dragged_ = true;
    stablize_.stop();
    manualSeeking_ = true;
    seekingValue_ = clamp01(seekingValue_ + dx / width());
    emit seekingChanged();
    update();
}

void LMSlider::mouseReleaseEvent(QMouseEvent *)
{
    if (!pressed_)
        return;
    pressed_ = false;
    setKeepMouseGrab(false);
    const bool dragged = dragged_;
    dragged_ = false;
    if (dragged) {
        value_ = seekingValue_;
        emit valueChanged();
        notifyListener();
    }
    setSeeking(false);
    update();
}

void LMSlider::mouseUngrabEvent()
{
    // Taken away mid-gesture (a popup, a gesture of the parent): nothing is sought.
    if (!pressed_)
        return;
    pressed_ = false;
    dragged_ = false;
    seekingValue_ = value_;
    setSeeking(false);
}

void LMSlider::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Up:
        accessibilityIncrement();
        break;
    case Qt::Key_Left:
    case Qt::Key_Down:
        accessibilityDecrement();
        break;
    default:
        QQuickPaintedItem::keyPressEvent(event);
        return;
    }
    event->accept();
}
