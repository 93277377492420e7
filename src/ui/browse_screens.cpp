// The browsing screens as the organize menu and the main list open them by name.
#include "ui/lm_folder_view_controller.h"
#include "ui/navigation_controller.h"
#include "ui/screen_factory.h"
#include "ui/ui_context.h"

namespace Browse {

void registerScreens()
{
    ScreenFactory::add(QStringLiteral("Files"), [](UiContext *c, const QVariantMap &args) -> ScreenController * {
        return new LMFolderViewController(c, args.value(QStringLiteral("path")).toString());
    });
}

} // namespace Browse
