// ScreenController: the C++ half of one screen. It holds the screen's state, texts and
// logic, declares its bar buttons and (for list screens) fills a TableModel; one QML view
// file draws it and reports the user's taps back through the invokable methods below.
// Controllers are tested without any view.
//
// Life cycle, driven by the navigation controller that shows the screen: viewDidLoad once
// before the first appearance, then viewWillAppear / viewDidAppear and viewWillDisappear /
// viewDidDisappear around every time the screen comes to or leaves the top.
#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include "ui/bar_button.h"
#include "ui/table_model.h"

class NavigationController;
class UiContext;

class ScreenController : public QObject {
    Q_OBJECT
    Q_MOC_INCLUDE("ui/ui_context.h")
    Q_PROPERTY(QString title READ title NOTIFY titleChanged)
    Q_PROPERTY(BarButton *leftButton READ leftButton NOTIFY barButtonsChanged)
    Q_PROPERTY(BarButton *rightButton READ rightButton NOTIFY barButtonsChanged)
    Q_PROPERTY(BarButton *titleButton READ titleButton NOTIFY barButtonsChanged)
    Q_PROPERTY(QList<QObject *> toolbarItems READ toolbarItems NOTIFY toolbarChanged)
    Q_PROPERTY(bool hidesBackButton READ hidesBackButton NOTIFY barButtonsChanged)
    Q_PROPERTY(QUrl viewSource READ viewSource CONSTANT)
    Q_PROPERTY(TableModel *table READ table CONSTANT)
    Q_PROPERTY(UiContext *context READ context CONSTANT)
    Q_PROPERTY(bool tablet READ isTablet CONSTANT)
    Q_PROPERTY(bool inPopover READ inPopover NOTIFY navigationChanged)
    Q_PROPERTY(QColor listBackgroundColor READ listBackgroundColor NOTIFY appearanceChanged)
    Q_PROPERTY(QColor separatorColor READ separatorColor NOTIFY appearanceChanged)
    Q_PROPERTY(QColor titleColor READ titleColor NOTIFY appearanceChanged)
    Q_PROPERTY(QColor detailColor READ detailColor NOTIFY appearanceChanged)
    Q_PROPERTY(bool scrollIndicator READ scrollIndicator NOTIFY appearanceChanged)
    Q_PROPERTY(int rowHeight READ rowHeight NOTIFY appearanceChanged)

public:
    // `view` names the QML file under qml/ that draws the screen (a list screen by default).
    explicit ScreenController(UiContext *context, const QString &view = QStringLiteral("TableScreen.qml"),
                              QObject *parent = nullptr);
    ~ScreenController() override;

    UiContext *context() const { return context_; }
    bool isTablet() const;
    NavigationController *navigationController() const;
    void setNavigationController(NavigationController *navigation);
    // Shown inside a tablet popover, where back actions of the screen itself do nothing.
    bool inPopover() const;

    const QString &title() const { return title_; }
    void setTitle(const QString &title);
    BarButton *leftButton() const { return left_; }
    BarButton *rightButton() const { return right_; }
    BarButton *titleButton() const { return titleButton_; }
    // The controller keeps ownership of the buttons it sets; null removes one.
    void setLeftButton(BarButton *button);
    void setRightButton(BarButton *button);
    void setTitleButton(BarButton *button);
    bool hidesBackButton() const { return hidesBack_; }
    void setHidesBackButton(bool hide);
    QList<QObject *> toolbarItems() const { return toolbar_; }
    void setToolbarItems(const QList<BarButton *> &items);
    // The stretch between toolbar items: one per screen, used as often as needed.
    BarButton *flexibleSpace();

    QUrl viewSource() const { return view_; }
    // Created on first use; screens without a list never ask.
    TableModel *table();

    // Default list colours (a plain white list); themed screens override.
    virtual QColor listBackgroundColor() const;
    virtual QColor separatorColor() const;
    virtual QColor titleColor() const;
    virtual QColor detailColor() const;
    virtual bool scrollIndicator() const { return true; }
    virtual int rowHeight() const;

    bool isLoaded() const { return loaded_; }
    bool isVisible() const { return visible_; }
    void loadIfNeeded();

    // Life cycle; overrides call the base first.
    virtual void viewDidLoad() {}
    virtual void viewWillAppear();
    virtual void viewDidAppear() {}
    virtual void viewWillDisappear();
    virtual void viewDidDisappear() {}

    // Taps reported by the view. Section and row are the table's.
    Q_INVOKABLE virtual void tapRow(int section, int row);
    Q_INVOKABLE virtual void deleteRow(int section, int row);
    Q_INVOKABLE virtual void moveRow(int section, int from, int to);
    Q_INVOKABLE virtual void setRowSwitch(int section, int row, bool on);
    // Pops this screen off its navigation stack (the bar's back button).
    Q_INVOKABLE void goBack();

signals:
    void titleChanged();
    void barButtonsChanged();
    void toolbarChanged();
    void navigationChanged();
    void appearanceChanged();

private:
    UiContext *context_;
    QUrl view_;
    QPointer<NavigationController> navigation_;
    QString title_;
    QPointer<BarButton> left_;
    QPointer<BarButton> right_;
    QPointer<BarButton> titleButton_;
    BarButton *flexibleSpace_ = nullptr;
    bool hidesBack_ = false;
    QList<QObject *> toolbar_;
    TableModel *table_ = nullptr;
    bool loaded_ = false;
    bool visible_ = false;
};
