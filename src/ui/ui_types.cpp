#include "ui/ui_types.h"

#include <QQmlEngine>

#include "ui/alerts.h"
#include "ui/bar_button.h"
#include "ui/image_preview.h"
#include "ui/lm_slider.h"
#include "ui/lrc_view.h"
#include "ui/navigation_controller.h"
#include "ui/playing_view_controller.h"
#include "ui/presenter.h"
#include "ui/root_view_controller.h"
#include "ui/screen_controller.h"
#include "ui/seek_bar_panel_view.h"
#include "ui/table_model.h"
#include "ui/theme_helper.h"
#include "ui/tinted_image.h"
#include "ui/ui_context.h"

void UiTypes::registerTypes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const char *uri = "Lumenar";
    const QString made = QStringLiteral("made by the application");
    qmlRegisterType<ImagePreview>(uri, 1, 0, "ImagePreview");
    qmlRegisterType<LMSlider>(uri, 1, 0, "LMSlider");
    qmlRegisterType<SeekBarPanelView>(uri, 1, 0, "SeekBarPanelView");
    qmlRegisterType<LRCView>(uri, 1, 0, "LRCView");
    qmlRegisterUncreatableType<PlayingViewController>(uri, 1, 0, "PlayingViewController", made);
    qmlRegisterUncreatableType<ScreenController>(uri, 1, 0, "ScreenController", made);
    qmlRegisterUncreatableType<RootViewController>(uri, 1, 0, "RootViewController", made);
    qmlRegisterUncreatableType<NavigationController>(uri, 1, 0, "NavigationController", made);
    qmlRegisterUncreatableType<Presenter>(uri, 1, 0, "Presenter", made);
    qmlRegisterUncreatableType<Presentation>(uri, 1, 0, "Presentation", made);
    qmlRegisterUncreatableType<BarButton>(uri, 1, 0, "BarButton", made);
    qmlRegisterUncreatableType<TableModel>(uri, 1, 0, "TableModel", made);
    qmlRegisterUncreatableType<ThemeHelper>(uri, 1, 0, "ThemeHelper", made);
    qmlRegisterUncreatableType<AlertCenter>(uri, 1, 0, "AlertCenter", made);
    qmlRegisterUncreatableType<Alert>(uri, 1, 0, "Alert", made);
    qmlRegisterUncreatableType<UiContext>(uri, 1, 0, "UiContext", made);
}

void UiTypes::installImageProviders(QQmlEngine *engine)
{
    engine->addImageProvider(QStringLiteral("icon"), new IconImageProvider());
}
