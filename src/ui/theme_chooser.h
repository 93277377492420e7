// ThemeChooser: lists the theme files of the device's theme folder by name, checks the
// current one, and on a tap stores the choice and recolours every screen at once. On a
// phone it wears the current theme itself; on a tablet it keeps the plain look.
#pragma once

#include <QStringList>

#include "ui/screen_controller.h"
#include "ui/theme_helper.h"

class ThemeChooser : public ScreenController {
    Q_OBJECT

public:
    explicit ThemeChooser(UiContext *context, QObject *parent = nullptr);

    const QStringList &themeList() const { return themeList_; }
    // The theme this screen wears (none on a tablet or when the file does not load).
    const std::shared_ptr<Theme> &currentTheme() const { return theme_->theme(); }

    QColor listBackgroundColor() const override;
    QColor separatorColor() const override;
    QColor titleColor() const override;
    bool scrollIndicator() const override;

    void viewDidLoad() override;
    void viewWillAppear() override;
    void tapRow(int section, int row) override;

    void onThemeChange();
    void reload();

private:
    bool themed() const { return !isTablet() && theme_->theme() != nullptr; }

    QStringList themeList_;
    ThemeHelper *theme_;
};
