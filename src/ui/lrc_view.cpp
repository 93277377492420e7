#include "ui/lrc_view.h"

#include <algorithm>

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

LRCView::LRCView(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setFillColor(Qt::transparent);
    setAcceptedMouseButtons(Qt::LeftButton);
    setAntialiasing(true);
    font_.setPixelSize(16);
    frames_.setInterval(kFrameMs);
    frames_.setTimerType(Qt::PreciseTimer);
    connect(&frames_, &QTimer::timeout, this, &LRCView::nextFrame);
    setViewableLineCount(1);
    setCurrentTime(0);
}

void LRCView::setFile(const QString &path)
{
    finishAnimation();
    path_ = path;
    lyrics_ = Lyrics(path);
    currentLine_ = -1;
    setViewableLineCount(lineCount_);
    emit fileChanged();
    emit currentLineChanged();
    // The time may have been set before the file (the order bindings take).
    const double t = time_;
    time_ = 0;
    setCurrentTime(t);
    update();
}

void LRCView::setViewableLineCount(int n)
{
    if (n < 1)
        return;
    finishAnimation();
    lineCount_ = n;
    rows_.clear();
    for (int i = 0; i <= n; i++) {
        Row row;
        row.pos = row.fromPos = i;
        rows_.append(row);
    }
    emit layoutChanged();
    update();
}

QString LRCView::currentText() const
{
    return currentLine_ < 0 ? QString(QLatin1String("")) : lyrics_.textAt(currentLine_);
}

void LRCView::startAnimation()
{
    started_.start();
    const bool was = animating();
    frames_.start();
    if (!was)
        emit animatingChanged();
}

void LRCView::stopAnimation()
{
    if (!animating())
        return;
    frames_.stop();
    emit animatingChanged();
}

void LRCView::nextFrame()
{
    if (started_.elapsed() >= kAnimationMs)
        finishAnimation();
    update();
}

void LRCView::finishAnimation()
{
    stopAnimation();
    for (Row &row : rows_) {
        row.fromPos = row.pos;
        row.fromAlpha = row.alpha;
    }
    update();
}

qreal LRCView::progress() const
{
    if (!animating())
        return 1.0;
    return easing_.valueForProgress(std::min(1.0, double(started_.elapsed()) / kAnimationMs));
}

void LRCView::setCurrentTime(double seconds)
{
    if (time_ != seconds) {
        time_ = seconds;
        emit currentTimeChanged();
    }
    const int line = lineForTime(seconds);
    if (line < 0 || line == currentLine_ || rows_.size() < 2)
        return;
    currentLine_ = line;
    // Rows already moving go from where they stand now.
    const qreal p = progress();
    stopAnimation();
    for (Row &row : rows_) {
        row.fromPos = row.fromPos + (row.pos - row.fromPos) * p;
        row.fromAlpha = row.fromAlpha + (row.alpha - row.fromAlpha) * p;
    }
    Row out = rows_.takeFirst();
    const int n = int(rows_.size());
    rows_.last().fromPos = n;  // in from just below the strip
    for (int i = 0; i < n; i++) {
        Row &row = rows_[i];
        row.pos = i;
        row.alpha = i == 0 ? 1.0 : 0.5;
        row.text = lyrics_.textAt(currentLine_ + i);
    }
    out.pos = -1;
    out.alpha = 0;
    rows_.append(out);
    emit currentLineChanged();
    if (animated_)
        startAnimation();
    else
        finishAnimation();
    update();
}

void LRCView::setAnimated(bool on)
{
    if (animated_ == on)
        return;
    animated_ = on;
    if (!on)
        finishAnimation();
    emit animatingChanged();
}

void LRCView::setTextColor(const QColor &color)
{
    if (textColor_ == color)
        return;
    textColor_ = color;
    emit appearanceChanged();
    update();
}

void LRCView::setThemeBackgroundColor(const QColor &color)
{
    if (themeBackground_ == color)
        return;
    themeBackground_ = color;
    if (!color.isValid())
        backgroundShown_ = false;
    emit appearanceChanged();
    update();
}

void LRCView::setFont(const QFont &font)
{
    if (font_ == font)
        return;
    font_ = font;
    emit appearanceChanged();
    update();
}

void LRCView::toggleBackground()
{
    backgroundShown_ = !backgroundShown_ && themeBackground_.isValid();
    emit appearanceChanged();
    update();
}

void LRCView::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void LRCView::mouseReleaseEvent(QMouseEvent *event)
{
    if (contains(event->position()))
        toggleBackground();
}

void LRCView::paint(QPainter *painter)
{
    const qreal w = width();
    const qreal h = lineCount_ > 0 ? height() / lineCount_ : 0;
    if (w <= 0 || h <= 0)
        return;
    if (backgroundShown_)
        painter->fillRect(QRectF(0, 0, w, height()), themeBackground_);
    painter->setFont(font_);
    painter->setPen(textColor_);
    const QFontMetricsF metrics(font_);
    const qreal p = progress();
    for (const Row &row : rows_) {
        const qreal alpha = row.fromAlpha + (row.alpha - row.fromAlpha) * p;
        if (row.text.isEmpty() || alpha <= 0)
            continue;
        const qreal y = (row.fromPos + (row.pos - row.fromPos) * p) * h;
        painter->setOpacity(alpha);
        painter->drawText(QRectF(8, y, w - 16, h), Qt::AlignCenter,
                          metrics.elidedText(row.text, Qt::ElideRight, w - 16));
    }
    painter->setOpacity(1);
}
