#include "ui/seek_bar_panel_view.h"

#include <QLinearGradient>
#include <QPainter>

SeekBarPanelView::SeekBarPanelView(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setFillColor(Qt::transparent);
    setOpaquePainting(false);
}

void SeekBarPanelView::paint(QPainter *painter)
{
    const qreal w = width();
    const qreal h = height();
    if (w <= 0 || h <= kShadowHeight)
        return;
    const qreal bodyHeight = h - kShadowHeight;
    // The shadow: the strip moved down 2 pixels and blurred by 3, gray 0.2 at half alpha;
    // only its part below the strip shows.
    QLinearGradient shadow(0, bodyHeight, 0, h + 1);
    shadow.setColorAt(0, QColor::fromRgbF(0.2, 0.2, 0.2, 0.5));
    shadow.setColorAt(1, QColor::fromRgbF(0.2, 0.2, 0.2, 0));
    painter->fillRect(QRectF(0, bodyHeight, w, kShadowHeight), shadow);
    painter->fillRect(QRectF(0, 0, w, bodyHeight), QColor::fromRgbF(0.102, 0.102, 0.102, 1));
}
