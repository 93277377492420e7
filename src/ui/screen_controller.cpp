#include "ui/screen_controller.h"

#include "ui/navigation_controller.h"
#include "ui/presenter.h"
#include "ui/ui_context.h"

ScreenController::ScreenController(UiContext *context, const QString &view, QObject *parent)
    : QObject(parent), context_(context), view_(QStringLiteral("qrc:/lumenar/qml/") + view)
{
}

ScreenController::~ScreenController() = default;

bool ScreenController::isTablet() const
{
    return context_ != nullptr && context_->isTablet();
}

NavigationController *ScreenController::navigationController() const
{
    return navigation_;
}

void ScreenController::setNavigationController(NavigationController *navigation)
{
    navigation_ = navigation;
    emit navigationChanged();
}

bool ScreenController::inPopover() const
{
    if (navigation_.isNull() || context_ == nullptr)
        return false;
    const Presentation *p = context_->presenter()->presentationOf(navigation_);
    return p != nullptr && p->style() == Presenter::Popover;
}

void ScreenController::setTitle(const QString &title)
{
    if (title_ == title)
        return;
    title_ = title;
    emit titleChanged();
}

void ScreenController::setLeftButton(BarButton *button)
{
    left_ = button;
    emit barButtonsChanged();
}

void ScreenController::setRightButton(BarButton *button)
{
    right_ = button;
    emit barButtonsChanged();
}

void ScreenController::setTitleButton(BarButton *button)
{
    titleButton_ = button;
    emit barButtonsChanged();
}

void ScreenController::setHidesBackButton(bool hide)
{
    hidesBack_ = hide;
    emit barButtonsChanged();
}

void ScreenController::setToolbarItems(const QList<BarButton *> &items)
{
    toolbar_.clear();
    for (BarButton *b : items)
        toolbar_.append(b);
    emit toolbarChanged();
}

BarButton *ScreenController::flexibleSpace()
{
    if (flexibleSpace_ == nullptr)
        flexibleSpace_ = BarButton::flexible(this);
    return flexibleSpace_;
}

TableModel *ScreenController::table()
{
    if (table_ == nullptr)
        table_ = new TableModel(this);
    return table_;
}

QColor ScreenController::listBackgroundColor() const
{
    return table_ != nullptr && table_->grouped() ? QColor(239, 239, 244) : QColor(Qt::white);
}

QColor ScreenController::separatorColor() const
{
    return QColor(200, 199, 204);
}

QColor ScreenController::titleColor() const
{
    return QColor(Qt::black);
}

QColor ScreenController::detailColor() const
{
    return QColor(128, 128, 128);
}

int ScreenController::rowHeight() const
{
    return 44;
}

void ScreenController::loadIfNeeded()
{
    if (loaded_)
        return;
    loaded_ = true;
    viewDidLoad();
}

void ScreenController::viewWillAppear()
{
    visible_ = true;
}

void ScreenController::viewWillDisappear()
{
    visible_ = false;
}

void ScreenController::tapRow(int, int) {}
void ScreenController::deleteRow(int, int) {}
void ScreenController::moveRow(int, int, int) {}
void ScreenController::setRowSwitch(int, int, bool) {}

void ScreenController::goBack()
{
    if (!navigation_.isNull() && navigation_->top() == this)
        navigation_->pop(true);
}
