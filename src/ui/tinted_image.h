// Icons: SVG files of the bundle (<bundle>/icons/NAME.svg) rendered at the size the screen
// needs in device pixels, and tinted: the colour wherever the icon is opaque, transparent
// elsewhere (the icon's silhouette in that colour). Bar-button icons throughout the
// application are made this way.
//
// Names may carry the ".png" suffix the screens use ("playlist.png" is playlist.svg).
// Main thread or the image provider's thread; the cache is locked.
#pragma once

#include <QColor>
#include <QImage>
#include <QQuickImageProvider>
#include <QSize>
#include <QString>

namespace TintedImage {

// The SVG file for an icon name; empty when the bundle has none.
QString iconPath(const QString &name);
// The icon drawn at `size` pixels (its own size when invalid); null when unknown.
QImage render(const QString &name, QSize size = QSize());
// The silhouette of `image` in `color`: colour composed with the image by destination-in,
// so the result keeps the image's alpha and is not flipped.
QImage tint(const QImage &image, const QColor &color);
// render() then tint() (an invalid colour leaves the icon as drawn); cached.
QImage imageNamed(const QString &name, const QColor &color, QSize size = QSize());

} // namespace TintedImage

// "image://icon/NAME" and "image://icon/NAME?tint=#AARRGGBB" for the views; the requested
// size is the item's size times the device-pixel ratio.
class IconImageProvider : public QQuickImageProvider {
public:
    IconImageProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;
};
