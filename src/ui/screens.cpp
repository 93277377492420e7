// The screens other screens open by name.
#include "ui/screen_factory.h"

#include "ui/navigation_controller.h"
#include "ui/playing_view_controller.h"
#include "ui/root_view_controller.h"
#include "ui/settings_view_controller.h"

namespace Browse {
void registerScreens();  // browse_screens.cpp
}

void ScreenFactory::registerBuiltInScreens()
{
    Browse::registerScreens();
    add(QStringLiteral("NowPlaying"), [](UiContext *context, const QVariantMap &args) -> ScreenController * {
        auto *root = qobject_cast<RootViewController *>(args.value(QStringLiteral("source")).value<QObject *>());
        return new PlayingViewController(context, root);
    });
    add(QStringLiteral("Settings"), [](UiContext *context, const QVariantMap &) -> ScreenController * {
        return new SettingsViewController(context);
    });
}
