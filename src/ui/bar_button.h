// BarButton: one button of a navigation bar or toolbar, as a screen controller declares
// it. The view draws it (image or text, done style) and reports taps back through
// trigger(); the action runs in the controller.
#pragma once

#include <functional>

#include <QColor>
#include <QObject>
#include <QString>
#include <QVariant>

class BarButton : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text READ text NOTIFY changed)
    Q_PROPERTY(QString image READ image NOTIFY changed)
    // Undefined in the view when the icon keeps its own colours.
    Q_PROPERTY(QVariant tint READ tintValue NOTIFY changed)
    Q_PROPERTY(QString accessibleName READ accessibleName NOTIFY changed)
    Q_PROPERTY(bool done READ done NOTIFY changed)
    Q_PROPERTY(bool enabled READ enabled NOTIFY changed)
    Q_PROPERTY(bool flexibleSpace READ flexibleSpace CONSTANT)
    Q_PROPERTY(bool label READ isLabel NOTIFY changed)
    Q_PROPERTY(QString name READ objectName CONSTANT)

public:
    // `name` becomes the object name of the drawn button (popovers anchor to it).
    BarButton(const QString &name, QObject *parent = nullptr);
    // A toolbar gap that takes the free width.
    static BarButton *flexible(QObject *parent);

    const QString &text() const { return text_; }
    void setText(const QString &text);
    const QString &image() const { return image_; }
    // An icon name (data/icons/NAME.svg; a ".png" suffix is ignored) tinted with `tint`;
    // an invalid tint draws the icon in its own colours.
    void setImage(const QString &image, const QColor &tint = QColor());
    const QColor &tint() const { return tint_; }
    QVariant tintValue() const { return tint_.isValid() ? QVariant(tint_) : QVariant(); }
    const QString &accessibleName() const { return accessibleName_; }
    void setAccessibleName(const QString &name);
    bool done() const { return done_; }
    void setDone(bool done);
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool flexibleSpace() const { return flexible_; }
    // A label drawn in light grey among the buttons (a hint in a toolbar); never tapped.
    bool isLabel() const { return label_; }
    void setLabel(bool label);

    void setAction(std::function<void()> action) { action_ = std::move(action); }
    Q_INVOKABLE void trigger();

signals:
    void changed();
    void triggered();

private:
    QString text_;
    QString image_;
    QColor tint_;
    QString accessibleName_;
    bool done_ = false;
    bool enabled_ = true;
    bool flexible_ = false;
    bool label_ = false;
    std::function<void()> action_;
};
