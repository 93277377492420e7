// The browsing screens as the organize menu and the main list open them by name.
#include "ui/album_chooser.h"
#include "ui/artist_chooser.h"
#include "ui/lm_file_chooser.h"
#include "ui/lm_folder_view_controller.h"
#include "ui/navigation_controller.h"
#include "ui/playlists_view_controller.h"
#include "ui/screen_factory.h"
#include "ui/ui_context.h"

namespace Browse {

void registerScreens()
{
    ScreenFactory::add(QStringLiteral("Files"), [](UiContext *c, const QVariantMap &args) -> ScreenController * {
        return new LMFolderViewController(c, args.value(QStringLiteral("path")).toString());
    });
    ScreenFactory::add(QStringLiteral("FileChooser"), [](UiContext *c, const QVariantMap &args) -> ScreenController * {
        return new LMFileChooser(c, args.value(QStringLiteral("folder")).toString(), c->playListController());
    });
    ScreenFactory::add(QStringLiteral("Albums"),
                       [](UiContext *c, const QVariantMap &) -> ScreenController * { return new AlbumChooser(c); });
    ScreenFactory::add(QStringLiteral("Artists"),
                       [](UiContext *c, const QVariantMap &) -> ScreenController * { return new ArtistChooser(c); });
    ScreenFactory::add(QStringLiteral("Playlists"), [](UiContext *c, const QVariantMap &) -> ScreenController * {
        return new PlaylistsViewController(c);
    });
}

} // namespace Browse
