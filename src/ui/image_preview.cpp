#include "ui/image_preview.h"

#include <algorithm>
#include <cmath>

#include <QPainter>

ImagePreview::ImagePreview(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    connect(this, &ImagePreview::marginsChanged, this, [this] { update(); });
    connect(this, &QQuickItem::widthChanged, this, &ImagePreview::imageChanged);
    connect(this, &QQuickItem::heightChanged, this, &ImagePreview::imageChanged);
}

void ImagePreview::setImage(const QImage &image)
{
    image_ = image;
    shadow_ = QImage();
    emit imageChanged();
    update();
}

QRectF ImagePreview::fitRect(QSizeF view, QSizeF picture, qreal top, qreal left, qreal bottom, qreal right)
{
    if (picture.isEmpty())
        return QRectF();
    const qreal a = view.width() - (right + left);
    const qreal b = view.height() - (bottom + top);
    const qreal s = std::min(a / picture.width(), b / picture.height());
    if (s <= 0)
        return QRectF();
    const qreal w = picture.width() * s;
    const qreal h = picture.height() * s;
    return QRectF((a - w) / 2 + left, (b - h) / 2 + top, w, h);
}

QRectF ImagePreview::imageRect() const
{
    return fitRect(QSizeF(width(), height()), QSizeF(image_.size()), shadowTop_, shadowLeft_, shadowBottom_,
                   shadowRight_);
}

// A blurred copy of the picture's outline: three box blurs approximate the Gaussian.
QImage ImagePreview::shadowFor(QSize size) const
{
    if (size == shadowSize_ && !shadow_.isNull())
        return shadow_;
    const int pad = int(std::ceil(kShadowBlur * 2));
    QImage mask(size + QSize(2 * pad, 2 * pad), QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter p(&mask);
        p.drawImage(QRect(QPoint(pad, pad), size), image_.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
    const int w = mask.width(), h = mask.height();
    std::vector<int> line(std::max(w, h));
    const int r = std::max(1, int(kShadowBlur / 2));
    for (int pass = 0; pass < 3; pass++) {
        for (int y = 0; y < h; y++) {
            uchar *row = mask.scanLine(y);
            int sum = 0;
            for (int x = -r; x <= r; x++)
                sum += row[std::clamp(x, 0, w - 1)];
            for (int x = 0; x < w; x++) {
                line[x] = sum / (2 * r + 1);
                sum += row[std::clamp(x + r + 1, 0, w - 1)] - row[std::clamp(x - r, 0, w - 1)];
            }
            for (int x = 0; x < w; x++)
                row[x] = uchar(line[x]);
        }
        for (int x = 0; x < w; x++) {
            int sum = 0;
            for (int y = -r; y <= r; y++)
                sum += mask.scanLine(std::clamp(y, 0, h - 1))[x];
            for (int y = 0; y < h; y++) {
                line[y] = sum / (2 * r + 1);
                sum += mask.scanLine(std::clamp(y + r + 1, 0, h - 1))[x] - mask.scanLine(std::clamp(y - r, 0, h - 1))[x];
            }
            for (int y = 0; y < h; y++)
                mask.scanLine(y)[x] = uchar(line[y]);
        }
    }
    QImage shadow(mask.size(), QImage::Format_ARGB32_Premultiplied);
    shadow.fill(QColor(0, 0, 0, int(255 * kShadowAlpha)));
    QPainter p(&shadow);
    p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    p.drawImage(0, 0, mask);
    shadow_ = shadow;
    shadowSize_ = size;
    return shadow_;
}

void ImagePreview::paint(QPainter *painter)
{
    if (image_.isNull())
        return;
    const QRectF r = imageRect();
    if (r.isEmpty())
        return;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize size = r.size().toSize();
    if (!size.isEmpty()) {
        const int pad = int(std::ceil(kShadowBlur * 2));
        painter->drawImage(r.topLeft() - QPointF(pad, pad), shadowFor(size));
    }
    painter->drawImage(r, image_);
    painter->restore();
}
