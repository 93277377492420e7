#include "ui/tinted_image.h"

#include <QCache>
#include <QFile>
#include <QMutex>
#include <QPainter>
#include <QSvgRenderer>
#include <QUrlQuery>

#include "theme/theme.h"

namespace {

QString baseName(QString name)
{
    if (name.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ||
        name.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

struct Cache {
    QMutex lock;
    QCache<QString, QImage> images{256};
};

Cache &cache()
{
    static Cache c;
    return c;
}

} // namespace

QString TintedImage::iconPath(const QString &name)
{
    const QString base = baseName(name);
    if (base.isEmpty() || base.contains(QLatin1Char('/')))
        return QString();
    const QString path = Theme::bundlePath() + QStringLiteral("/icons/") + base + QStringLiteral(".svg");
    return QFile::exists(path) ? path : QString();
}

QImage TintedImage::render(const QString &name, QSize size)
{
    const QString path = iconPath(name);
    if (path.isEmpty())
        return QImage();
    QSvgRenderer svg(path);
    if (!svg.isValid())
        return QImage();
    if (!size.isValid() || size.isEmpty())
        size = svg.defaultSize();
    if (size.isEmpty())
        return QImage();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    svg.render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

QImage TintedImage::tint(const QImage &image, const QColor &color)
{
    if (image.isNull())
        return QImage();
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(image.devicePixelRatio());
    out.fill(color);
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    p.drawImage(QPointF(0, 0), image);
    return out;
}

QImage TintedImage::imageNamed(const QString &name, const QColor &color, QSize size)
{
    const QString key = baseName(name) + QLatin1Char('|') + (color.isValid() ? color.name(QColor::HexArgb) : QString()) +
                        QLatin1Char('|') + QString::number(size.width()) + QLatin1Char('x') +
                        QString::number(size.height());
    Cache &c = cache();
    {
        QMutexLocker locker(&c.lock);
        if (const QImage *hit = c.images.object(key))
            return *hit;
    }
    QImage image = render(name, size);
    if (color.isValid())
        image = tint(image, color);
    if (image.isNull())
        return image;
    QMutexLocker locker(&c.lock);
    c.images.insert(key, new QImage(image));
    return image;
}

IconImageProvider::IconImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage IconImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const qsizetype q = id.indexOf(QLatin1Char('?'));
    const QString name = q < 0 ? id : id.left(q);
    QColor color;
    if (q >= 0) {
        const QUrlQuery query(id.mid(q + 1));
        // "#" would start a URL fragment, so views pass the hex digits alone.
        QString tint = query.queryItemValue(QStringLiteral("tint"), QUrl::FullyDecoded);
        if (!tint.isEmpty() && !tint.startsWith(QLatin1Char('#')))
            tint.prepend(QLatin1Char('#'));
        if (!tint.isEmpty())
            color = QColor(tint);
    }
    QImage image = TintedImage::imageNamed(name, color, requestedSize);
    if (image.isNull()) {
        // An unknown icon draws nothing rather than the view's broken-image mark.
        image = QImage(requestedSize.isValid() && !requestedSize.isEmpty() ? requestedSize : QSize(1, 1),
                       QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
    }
    if (size != nullptr)
        *size = image.size();
    return image;
}
