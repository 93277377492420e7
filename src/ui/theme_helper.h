// ThemeHelper: the theme a screen shows, as properties its view binds to. It holds one
// Theme, reloads it when the chosen theme ("CurrentTheme") names another file, and
// answers every key with the screen's default where the theme has no valid value (no
// theme at all, a colour that is not a list).
#pragma once

#include <memory>

#include <QColor>
#include <QObject>
#include <QUrl>

#include "theme/theme.h"

class ThemeHelper : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString name READ name NOTIFY changed)
    Q_PROPERTY(QColor titleColor READ titleColor NOTIFY changed)
    Q_PROPERTY(QColor subtitleColor READ subtitleColor NOTIFY changed)
    Q_PROPERTY(QColor listBackgroundColor READ listBackgroundColor NOTIFY changed)
    Q_PROPERTY(QColor backgroundColor READ backgroundColor NOTIFY changed)
    Q_PROPERTY(QColor separatorColor READ separatorColor NOTIFY changed)
    Q_PROPERTY(bool scrollIndicator READ scrollIndicator NOTIFY changed)
    Q_PROPERTY(bool portrait READ portrait WRITE setPortrait NOTIFY changed)
    // For the current orientation.
    Q_PROPERTY(QUrl backgroundImage READ backgroundImage NOTIFY changed)
    Q_PROPERTY(qreal insetTop READ insetTop NOTIFY changed)
    Q_PROPERTY(qreal insetLeft READ insetLeft NOTIFY changed)
    Q_PROPERTY(qreal insetBottom READ insetBottom NOTIFY changed)
    Q_PROPERTY(qreal insetRight READ insetRight NOTIFY changed)

public:
    struct Defaults {
        QColor title = QColor(0, 0, 0);
        QColor subtitle = QColor(128, 128, 128);
        QColor listBackground = QColor(255, 255, 255);
        QColor background = QColor(0, 0, 0);
        QColor separator = QColor(200, 199, 204);
    };

    explicit ThemeHelper(QObject *parent = nullptr);

    // Reads "CurrentTheme" and loads that file when the held theme is another (or none);
    // answers whether anything changed.
    bool apply();
    const std::shared_ptr<Theme> &theme() const { return theme_; }
    void setDefaults(const Defaults &defaults);

    QString name() const;
    QColor titleColor() const { return color(theme_ ? theme_->titleColor() : QColor(), defaults_.title); }
    QColor subtitleColor() const { return color(theme_ ? theme_->subtitleColor() : QColor(), defaults_.subtitle); }
    QColor listBackgroundColor() const
    {
        return color(theme_ ? theme_->listBackgroundColor() : QColor(), defaults_.listBackground);
    }
    QColor backgroundColor() const { return color(theme_ ? theme_->backgroundColor() : QColor(), defaults_.background); }
    QColor separatorColor() const { return color(theme_ ? theme_->separatorColor() : QColor(), defaults_.separator); }
    bool scrollIndicator() const { return theme_ && theme_->visibleScrollIndicator(); }
    bool portrait() const { return portrait_; }
    void setPortrait(bool portrait);
    // A file URL of the background picture for the orientation; empty when none loads.
    QUrl backgroundImage() const;
    Theme::Insets insets() const;
    qreal insetTop() const { return insets().top; }
    qreal insetLeft() const { return insets().left; }
    qreal insetBottom() const { return insets().bottom; }
    qreal insetRight() const { return insets().right; }

signals:
    void changed();

private:
    static QColor color(const QColor &value, const QColor &fallback) { return value.isValid() ? value : fallback; }
    Theme::Orientation orientation() const
    {
        return portrait_ ? Theme::Orientation::Portrait : Theme::Orientation::LandscapeLeft;
    }

    std::shared_ptr<Theme> theme_;
    QString loadedName_;
    bool tried_ = false;
    bool portrait_ = true;
    Defaults defaults_;
};
