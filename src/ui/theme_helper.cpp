#include "ui/theme_helper.h"

#include <QFileInfo>
#include <QImageReader>

ThemeHelper::ThemeHelper(QObject *parent) : QObject(parent) {}

bool ThemeHelper::apply()
{
    const QString wanted = Theme::currentThemeName();
    if (tried_ && wanted == loadedName_)
        return false;
    tried_ = true;
    loadedName_ = wanted;
    theme_ = wanted.isEmpty() ? nullptr : Theme::fromFilename(wanted);
    emit changed();
    return true;
}

void ThemeHelper::setDefaults(const Defaults &defaults)
{
    defaults_ = defaults;
    emit changed();
}

QString ThemeHelper::name() const
{
    return theme_ ? theme_->themeName() : QString();
}

void ThemeHelper::setPortrait(bool portrait)
{
    if (portrait_ == portrait)
        return;
    portrait_ = portrait;
    emit changed();
}

QUrl ThemeHelper::backgroundImage() const
{
    if (!theme_)
        return QUrl();
    const char *key = portrait_ ? "background-image-portrait" : "background-image-landscape";
    const QString file = theme_->queryString(key);
    if (file.isEmpty())
        return QUrl();
    const QString path = QFileInfo(theme_->themeFolder() + QLatin1Char('/') + file).absoluteFilePath();
    // The view decodes the picture; here its header is enough to know it is one.
    if (!QImageReader(path).canRead())
        return QUrl();
    return QUrl::fromLocalFile(path);
}

Theme::Insets ThemeHelper::insets() const
{
    return theme_ ? theme_->insetForList(orientation()) : Theme::Insets();
}
