// ImagePreview: a cover picture scaled to fit its item, centred, with a soft shadow
// (offset 0, blur 5, black at 40%). The margins keep room for the shadow: 4 pixels at the
// bottom and the right by default.
#pragma once

#include <QImage>
#include <QQuickPaintedItem>
#include <QRectF>

class ImagePreview : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QImage image READ image WRITE setImage NOTIFY imageChanged)
    Q_PROPERTY(qreal shadowTop MEMBER shadowTop_ NOTIFY marginsChanged)
    Q_PROPERTY(qreal shadowBottom MEMBER shadowBottom_ NOTIFY marginsChanged)
    Q_PROPERTY(qreal shadowLeft MEMBER shadowLeft_ NOTIFY marginsChanged)
    Q_PROPERTY(qreal shadowRight MEMBER shadowRight_ NOTIFY marginsChanged)
    Q_PROPERTY(QRectF imageRect READ imageRect NOTIFY imageChanged)

public:
    static constexpr qreal kShadowBlur = 5;
    static constexpr qreal kShadowAlpha = 0.4;

    explicit ImagePreview(QQuickItem *parent = nullptr);

    const QImage &image() const { return image_; }
    void setImage(const QImage &image);
    // Where the picture is drawn in the item; empty without a picture.
    QRectF imageRect() const;
    // The rectangle a `picture` takes in a `view` with the given margins: scaled by the
    // smaller of the two ratios that fit, centred in the room the margins leave.
    static QRectF fitRect(QSizeF view, QSizeF picture, qreal top, qreal left, qreal bottom, qreal right);

    void paint(QPainter *painter) override;

signals:
    void imageChanged();
    void marginsChanged();

private:
    QImage shadowFor(QSize size) const;

    QImage image_;
    qreal shadowTop_ = 0;
    qreal shadowBottom_ = 4;
    qreal shadowLeft_ = 0;
    qreal shadowRight_ = 4;
    mutable QImage shadow_;
    mutable QSize shadowSize_;
};
