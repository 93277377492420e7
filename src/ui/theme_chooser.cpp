#include "ui/theme_chooser.h"

#include <QFileInfo>

#include "app/app_delegate.h"
#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "platform/core/file_system_object.h"
#include "platform/core/user_defaults.h"
#include "ui/navigation_controller.h"
#include "ui/ui_context.h"

ThemeChooser::ThemeChooser(UiContext *context, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent), theme_(new ThemeHelper(this))
{
    connect(theme_, &ThemeHelper::changed, this, &ScreenController::appearanceChanged);
}

QColor ThemeChooser::listBackgroundColor() const
{
    if (!themed())
        return ScreenController::listBackgroundColor();
    // A see-through list lies over the theme's background colour here, not over black.
    const QColor list = theme_->listBackgroundColor();
    const QColor under = theme_->backgroundColor();
    const qreal a = list.alphaF();
    return QColor::fromRgbF(list.redF() * a + under.redF() * (1 - a), list.greenF() * a + under.greenF() * (1 - a),
                            list.blueF() * a + under.blueF() * (1 - a));
}

QColor ThemeChooser::separatorColor() const
{
    return themed() ? theme_->separatorColor() : ScreenController::separatorColor();
}

QColor ThemeChooser::titleColor() const
{
    return themed() ? theme_->titleColor() : ScreenController::titleColor();
}

bool ThemeChooser::scrollIndicator() const
{
    // Without a theme that loads a phone shows none.
    return isTablet() ? ScreenController::scrollIndicator() : theme_->scrollIndicator();
}

void ThemeChooser::viewDidLoad()
{
    ScreenController::viewDidLoad();
    setTitle(tr("Choose Theme"));
    const auto names = FileSystemObject::sharedObject()->contentsOfDirectoryWithSuffix(
        Theme::themeFolderFor(Theme::idiom()), QStringLiteral(".thm"));
    themeList_ = names.value_or(QStringList());
    themeList_.sort(Qt::CaseInsensitive);
    reload();
}

void ThemeChooser::viewWillAppear()
{
    ScreenController::viewWillAppear();
    onThemeChange();
}

void ThemeChooser::onThemeChange()
{
    // The tablet keeps the plain look here.
    if (!isTablet())
        theme_->apply();
    reload();
}

void ThemeChooser::reload()
{
    const QString current = UserSettings::currentTheme();
    QList<TableRow> rows;
    for (const QString &name : themeList_) {
        TableRow r;
        r.title = QFileInfo(name).completeBaseName();
        if (themed())
            r.titleColor = theme_->titleColor();
        r.accessory = name == current ? CellAccessory::Checkmark : CellAccessory::None;
        rows.append(r);
    }
    table()->setRows(rows);
}

void ThemeChooser::tapRow(int, int row)
{
    if (row < 0 || row >= themeList_.size())
        return;
    UserDefaults::setString(SettingsKeys::CurrentTheme, themeList_.at(row));
    onThemeChange();
    if (AppDelegate *delegate = context()->delegate())
        delegate->onThemeChange();
}
