// SeekBarPanelView: the dark strip at the top of the now-playing screen that carries the
// position bar, the two time labels and the step-back button: near-black (gray 0.102) over
// all but its bottom 2 pixels, where a soft shadow falls onto what lies below.
#pragma once

#include <QQuickPaintedItem>

class SeekBarPanelView : public QQuickPaintedItem {
    Q_OBJECT

public:
    static constexpr qreal kShadowHeight = 2;

    explicit SeekBarPanelView(QQuickItem *parent = nullptr);
    void paint(QPainter *painter) override;
};
