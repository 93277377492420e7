// A colour theme: one .thm file of the theme language, loaded once and queried by the
// screens that show themed content (lists and the now-playing screen).
//
// Theme files live in the bundle, one folder per device idiom: theme/iPhone and
// theme/iPad under <executable dir>/../share/lumenar. The file's last expression must be
// a list of (KEY . VALUE) entries; see tl_alist.h for the forms of the values.
//
// A Theme is immutable after loading apart from the two background images, which are
// loaded on first request and kept. Created and used on the main thread.
#pragma once

#include <memory>

#include <QColor>
#include <QImage>
#include <QString>

struct TlObject;

class Theme {
public:
    enum class Idiom { Phone, Tablet };
    enum class Orientation { Portrait, PortraitUpsideDown, LandscapeLeft, LandscapeRight };
    struct Insets {
        float top = 0;
        float left = 0;
        float bottom = 0;
        float right = 0;
    };

    // The file `fileName` (such as "Plain.thm") of the current idiom's theme folder; null
    // when it is missing or does not load to a list. Interpreter diagnostics go to the
    // standard streams.
    static std::shared_ptr<Theme> fromFilename(const QString &fileName);
    // The same from any folder (the folder images are found in).
    static std::shared_ptr<Theme> fromFile(const QString &folder, const QString &fileName);
    ~Theme();
    Theme(const Theme &) = delete;
    Theme &operator=(const Theme &) = delete;

    // Where theme folders are: <executable dir>/../share/lumenar unless set.
    static QString bundlePath();
    static void setBundlePath(const QString &path);  // empty: back to the default
    static Idiom idiom();                             // Phone unless set
    static void setIdiom(Idiom idiom);
    static QString themeFolderFor(Idiom idiom);       // bundle + theme/iPhone or theme/iPad
    // The theme the user chose (user default "CurrentTheme"); null when none is stored.
    static QString currentThemeName();

    const QString &themeFolder() const { return folder_; }
    const QString &fullPath() const { return fullPath_; }
    QString themeName() const;  // the file name, ".thm" included

    // Typed queries; a key of the wrong form answers as absent.
    bool queryBool(const char *key) const;           // only the true object #t is true
    QString queryString(const char *key) const;      // null when not a string
    QColor queryColor(const char *key) const;        // invalid when not a list
    bool queryQuadruple(const char *key, float quad[4]) const;  // false: quad untouched

    bool visibleScrollIndicator() const;
    QImage backgroundImage(Orientation orientation) const;  // null when none
    Insets insetForList(Orientation orientation) const;
    QColor listBackgroundColor() const;
    QColor backgroundColor() const;
    QColor separatorColor() const;
    QColor titleColor() const;
    QColor subtitleColor() const;

    static bool isPortrait(Orientation orientation);
    // The colour a colour list gives (tl_color_from_list); invalid when it is not a list.
    // QColor cannot hold an alpha outside 0-1, so alpha alone is clamped there.
    static QColor colorFromList(TlObject *value);

    TlObject *list() const { return alist_; }  // borrowed

private:
    Theme(const QString &folder, const QString &fullPath, TlObject *alist);

    QString folder_;
    QString fullPath_;
    TlObject *alist_;
    mutable QImage imageP_;
    mutable QImage imageL_;
};
