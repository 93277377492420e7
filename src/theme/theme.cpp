#include "theme/theme.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "theme/tl_alist.h"
#include "theme/tl_interp.h"

namespace {

QString g_bundlePath;
Theme::Idiom g_idiom = Theme::Idiom::Phone;

QString executableDir()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
}

// Owns a value fetched from the list for the length of one query.
struct Value {
    TlObject *obj;
    explicit Value(TlObject *o) : obj(o) {}
    ~Value() { tl_release(obj); }
    Value(const Value &) = delete;
    Value &operator=(const Value &) = delete;
};

} // namespace

Theme::Theme(const QString &folder, const QString &fullPath, TlObject *alist)
    : folder_(folder), fullPath_(fullPath), alist_(alist)
{
}

Theme::~Theme()
{
    tl_release(alist_);
}

std::shared_ptr<Theme> Theme::fromFilename(const QString &fileName)
{
    return fromFile(themeFolderFor(idiom()), fileName);
}

std::shared_ptr<Theme> Theme::fromFile(const QString &folder, const QString &fileName)
{
    QString fullPath = folder + QLatin1Char('/') + fileName;
    TlInterp *interp = tl_interp_new();
    TlObject *path = tl_string_from_utf8(fullPath.toUtf8().constData());
    TlObject *result = tl_load_file(interp, path);
    tl_release(path);
    tl_interp_free(interp);
    if (!tl_is(result, TL_PAIR)) {
        tl_release(result);
        return nullptr;
    }
    return std::shared_ptr<Theme>(new Theme(folder, fullPath, result));
}

QString Theme::bundlePath()
{
    if (!g_bundlePath.isEmpty())
        return g_bundlePath;
    return QDir::cleanPath(executableDir() + QStringLiteral("/../share/lumenar"));
}

void Theme::setBundlePath(const QString &path)
{
    g_bundlePath = path;
}

Theme::Idiom Theme::idiom()
{
    return g_idiom;
}

void Theme::setIdiom(Idiom idiom)
{
    g_idiom = idiom;
}

QString Theme::themeFolderFor(Idiom idiom)
{
    return bundlePath() + (idiom == Idiom::Tablet ? QStringLiteral("/theme/iPad") : QStringLiteral("/theme/iPhone"));
}

QString Theme::currentThemeName()
{
    return UserDefaults::stringForKey(SettingsKeys::CurrentTheme);
}

QString Theme::themeName() const
{
    return QFileInfo(fullPath_).fileName();
}

bool Theme::queryBool(const char *key) const
{
    Value value(tl_alist_get(alist_, key));
    return value.obj == tl_true();
}

QString Theme::queryString(const char *key) const
{
    Value value(tl_alist_get(alist_, key));
    if (!tl_is(value.obj, TL_STRING))
        return QString();
    char *utf8 = tl_string_to_utf8(value.obj);
    QString text = QString::fromUtf8(utf8);
    free(utf8);
    return text;
}

QColor Theme::colorFromList(TlObject *value)
{
    float rgba[4];
    if (!tl_color_from_list(value, rgba))
        return QColor();
    float alpha = rgba[3] < 0.0f ? 0.0f : rgba[3] > 1.0f ? 1.0f : rgba[3];
    return QColor::fromRgbF(rgba[0], rgba[1], rgba[2], alpha);
}

QColor Theme::queryColor(const char *key) const
{
    Value value(tl_alist_get(alist_, key));
    return colorFromList(value.obj);
}

bool Theme::queryQuadruple(const char *key, float quad[4]) const
{
    Value value(tl_alist_get(alist_, key));
    return tl_quad_from_list(value.obj, quad);
}

bool Theme::isPortrait(Orientation orientation)
{
    return orientation == Orientation::Portrait || orientation == Orientation::PortraitUpsideDown;
}

bool Theme::visibleScrollIndicator() const
{
    return queryBool("scroll-indicator");
}

QImage Theme::backgroundImage(Orientation orientation) const
{
    bool portrait = isPortrait(orientation);
    QImage &cached = portrait ? imageP_ : imageL_;
    if (cached.isNull()) {
        QString name = queryString(portrait ? "background-image-portrait" : "background-image-landscape");
        if (!name.isNull())
            cached = QImage(folder_ + QLatin1Char('/') + name);
    }
    return cached;
}

Theme::Insets Theme::insetForList(Orientation orientation) const
{
    float quad[4] = {0, 0, 0, 0};
    queryQuadruple(isPortrait(orientation) ? "list-inset-portrait" : "list-inset-landscape", quad);
    return Insets{quad[0], quad[1], quad[2], quad[3]};
}

QColor Theme::listBackgroundColor() const { return queryColor("list-background-color"); }
QColor Theme::backgroundColor() const { return queryColor("background-color"); }
QColor Theme::separatorColor() const { return queryColor("list-separator-color"); }
QColor Theme::titleColor() const { return queryColor("list-title-color"); }
QColor Theme::subtitleColor() const { return queryColor("list-subtitle-color"); }
