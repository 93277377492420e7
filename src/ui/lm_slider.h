// LMSlider: the position bar of the now-playing screen. It shows the played fraction of
// the item and a separate seek mark that a drag moves, drawn with the time it points to.
// A drag is relative: the mark moves by the distance the finger travels over the bar's
// width, wherever the finger landed. When the finger lifts after a drag the value jumps to
// the mark and the listener (the screen) hears of it once; a tap without movement changes
// nothing. Keyboard arrows and the screen reader's adjust gestures step the mark by one
// hundredth and tell the listener at once; the seeking state settles 2 s after the last step.
#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QTimer>

class LMSlider : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(int totalTime READ totalTime WRITE setTotalTime NOTIFY totalTimeChanged)
    Q_PROPERTY(double seekingValue READ seekingValue NOTIFY seekingChanged)
    Q_PROPERTY(bool manualSeeking READ manualSeeking NOTIFY seekingChanged)
    // The listener is attached: only then does the end of a seek gesture signal seekEnded().
    Q_PROPERTY(bool listening READ listening WRITE setListening NOTIFY listeningChanged)

public:
    static constexpr double kStep = 0.01;
    static constexpr int kStablizeMs = 2000;
    static constexpr qreal kInset = 10;         // the track is the width less 20
    static constexpr qreal kTrackHeight = 0.2;  // of the item's height
    static constexpr qreal kEndRadius = 4;

    explicit LMSlider(QQuickItem *parent = nullptr);

    double value() const { return value_; }
    // Clamped to 0...1; the seek mark follows unless a seek gesture is in progress.
    void setValue(double value);
    int totalTime() const { return totalTime_; }
    void setTotalTime(int seconds);
    double seekingValue() const { return seekingValue_; }
    bool manualSeeking() const { return manualSeeking_; }
    bool listening() const { return listening_; }
    void setListening(bool on);

    // Ends a seek gesture that the adjust gestures started.
    Q_INVOKABLE void stablize();
    bool stablizePending() const { return stablize_.isActive(); }
    Q_INVOKABLE void accessibilityIncrement() { step(kStep); }
    Q_INVOKABLE void accessibilityDecrement() { step(-kStep); }

    // The seek label's text for a fraction of the total time: "mm:ss".
    QString seekText() const;
    // Where the track lies in the item.
    QRectF trackRect() const;

    void paint(QPainter *painter) override;

signals:
    void valueChanged();
    void totalTimeChanged();
    void seekingChanged();
    void listeningChanged();
    // The listener's call: a seek gesture ended (value holds the chosen fraction).
    void seekEnded();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseUngrabEvent() override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void step(double delta);
    void setSeeking(bool on);
    void notifyListener();

    double value_ = 0;
    bool manualSeeking_ = false;
    bool listening_ = false;
    double seekingValue_ = 0;
    QColor trackColor_;
    QColor progressColor_;
    QColor progressColor2_;
    int totalTime_ = 0;
    qreal lastX_ = 0;
    bool pressed_ = false;
    bool dragged_ = false;
    QTimer stablize_;
};
