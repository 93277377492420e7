// LRCView: the lyrics strip of the now-playing screen. It shows time-tagged lines of an
// LRC file in n + 1 rows: the current line on top at full opacity, the following ones
// below at half, and a spare row that slides in from below. When playback passes the next
// time tag the rows scroll up by one in a one-second animation; setting a time within the
// same line changes nothing. A tap toggles the theme's background behind the text.
//
// The rows are kept as data (text, place, opacity) so the behaviour is tested without a
// window; painting only draws them.
#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QQuickPaintedItem>
#include <QString>
#include <QEasingCurve>
#include <QElapsedTimer>
#include <QTimer>

#include "player/lyrics.h"

class LRCView : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QString file READ file WRITE setFile NOTIFY fileChanged)
    Q_PROPERTY(int viewableLineCount READ viewableLineCount WRITE setViewableLineCount NOTIFY layoutChanged)
    Q_PROPERTY(double currentTime READ currentTime WRITE setCurrentTime NOTIFY currentTimeChanged)
    Q_PROPERTY(int currentLine READ currentLine NOTIFY currentLineChanged)
    Q_PROPERTY(QString currentText READ currentText NOTIFY currentLineChanged)
    Q_PROPERTY(QColor textColor READ textColor WRITE setTextColor NOTIFY appearanceChanged)
    Q_PROPERTY(QColor themeBackgroundColor READ themeBackgroundColor WRITE setThemeBackgroundColor
                   NOTIFY appearanceChanged)
    Q_PROPERTY(QFont font READ font WRITE setFont NOTIFY appearanceChanged)
    Q_PROPERTY(bool backgroundShown READ backgroundShown NOTIFY appearanceChanged)
    Q_PROPERTY(bool animating READ animating NOTIFY animatingChanged)
    // Off: a new line takes its place at once (tests, pictures).
    Q_PROPERTY(bool animated READ animated WRITE setAnimated NOTIFY animatingChanged)

public:
    static constexpr int kAnimationMs = 1000;
    // A line scrolls in at 30 frames a second: smooth for text, half the wake-ups.
    static constexpr int kFrameMs = 33;

    // One row label: where it stands (in row heights from the top) and how opaque it is,
    // as the running animation leads it there.
    struct Row {
        QString text;
        qreal pos = 0;
        qreal alpha = 1;
        qreal fromPos = 0;
        qreal fromAlpha = 1;
    };

    explicit LRCView(QQuickItem *parent = nullptr);

    const QString &file() const { return path_; }
    // Parses the file; the view starts over before the first line.
    void setFile(const QString &path);
    int viewableLineCount() const { return lineCount_; }
    // n < 1: nothing. Otherwise n + 1 empty rows, the i-th at row i.
    void setViewableLineCount(int n);
    double currentTime() const { return time_; }
    void setCurrentTime(double seconds);
    // The line index shown on top; -1 before the first.
    int currentLine() const { return currentLine_; }
    QString currentText() const;
    int lineForTime(double seconds) const { return lyrics_.lineForTime(seconds); }
    int lineCount() const { return lyrics_.count(); }

    QColor textColor() const { return textColor_; }
    void setTextColor(const QColor &color);
    QColor themeBackgroundColor() const { return themeBackground_; }
    void setThemeBackgroundColor(const QColor &color);
    QFont font() const { return font_; }
    void setFont(const QFont &font);
    bool backgroundShown() const { return backgroundShown_; }
    // The tap: the theme's background on or off (stays off without a theme colour).
    Q_INVOKABLE void toggleBackground();

    // The rows in their order (the spare row last), at the end of any running animation.
    const QList<Row> &rows() const { return rows_; }
    bool animating() const { return frames_.isActive(); }
    bool animated() const { return animated_; }
    void setAnimated(bool on);
    // Ends a running animation at once.
    void finishAnimation();

    void paint(QPainter *painter) override;

signals:
    void fileChanged();
    void layoutChanged();
    void currentTimeChanged();
    void currentLineChanged();
    void appearanceChanged();
    void animatingChanged();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    qreal progress() const;
    void startAnimation();
    void stopAnimation();
    void nextFrame();

    QString path_;
    Lyrics lyrics_;
    int lineCount_ = 0;
    double time_ = 0;
    int currentLine_ = -1;
    QList<Row> rows_;
    QColor textColor_ = Qt::white;
    QColor themeBackground_;
    QFont font_;
    bool backgroundShown_ = false;
    bool animated_ = true;
    QTimer frames_;
    QElapsedTimer started_;
    QEasingCurve easing_{QEasingCurve::InOutQuad};
};
