// Presenter: shows a navigation stack above the window. On a phone a stack covers the
// window (modal, or modal with a horizontal flip); on a tablet it opens in a 360 x 640
// popover anchored to the button that asked for it, or as a centred form sheet. The view
// draws the list of presentations in order; the last one is in front.
#pragma once

#include <functional>

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QString>

class NavigationController;
class Presenter;

class Presentation : public QObject {
    Q_OBJECT
    Q_MOC_INCLUDE("ui/navigation_controller.h")
    Q_PROPERTY(NavigationController *navigation READ navigation CONSTANT)
    Q_PROPERTY(int style READ style CONSTANT)
    Q_PROPERTY(QString anchorName READ anchorName CONSTANT)
    Q_PROPERTY(QSizeF size READ size CONSTANT)

public:
    NavigationController *navigation() const { return navigation_; }
    int style() const { return style_; }
    const QString &anchorName() const { return anchor_; }
    QSizeF size() const { return size_; }
    // Closes it (a tap outside a popover, the modal's own close button).
    Q_INVOKABLE void dismiss();

private:
    friend class Presenter;
    Presentation(Presenter *presenter, NavigationController *navigation, int style, const QString &anchor,
                 QSizeF size);

    Presenter *presenter_;
    QPointer<NavigationController> navigation_;
    int style_;
    QString anchor_;
    QSizeF size_;
    std::function<void()> onDismiss_;
    bool owns_ = false;
};

class Presenter : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<QObject *> presentations READ presentations NOTIFY presentationsChanged)

public:
    enum Style { Modal = 0, ModalFlip = 1, Popover = 2, FormSheet = 3 };
    Q_ENUM(Style)
    static constexpr double kPopoverWidth = 360;
    static constexpr double kPopoverHeight = 640;
    static constexpr double kFormSheetWidth = 540;
    static constexpr double kFormSheetHeight = 620;

    // `below` is the stack the presentations cover (the window's root stack): it gets its
    // disappear and appear calls around a presentation that hides it.
    explicit Presenter(bool tablet, QObject *parent = nullptr);
    void setCoveredNavigation(NavigationController *below) { below_ = below; }

    // Shows `navigation`. `anchor` names the button a popover points at. With `owns` the
    // presenter deletes the stack once dismissed. A stack already presented is not shown twice.
    Presentation *present(NavigationController *navigation, Style style, const QString &anchor = QString(),
                          std::function<void()> onDismiss = {}, bool owns = false);
    // A popover on a tablet; on a phone a modal (flipped when `flip`).
    Presentation *presentAdaptive(NavigationController *navigation, const QString &anchor,
                                  std::function<void()> onDismiss = {}, bool flip = false, bool owns = false);
    // A form sheet on a tablet, a modal on a phone.
    Presentation *presentSheet(NavigationController *navigation, std::function<void()> onDismiss = {},
                               bool owns = false);

    void dismiss(Presentation *presentation);
    void dismiss(NavigationController *navigation);
    void dismissAll();

    Presentation *presentationOf(const NavigationController *navigation) const;
    bool isPresented(const NavigationController *navigation) const { return presentationOf(navigation) != nullptr; }
    QList<QObject *> presentations() const;
    int count() const { return int(list_.size()); }
    bool isTablet() const { return tablet_; }

signals:
    void presentationsChanged();

private:
    static bool covers(int style) { return style == Modal || style == ModalFlip; }
    bool anyCovering() const;

    bool tablet_;
    QPointer<NavigationController> below_;
    QList<Presentation *> list_;
};
