#include "ui/album_chooser.h"

#include "library/settings_keys.h"
#include "ui/navigation_controller.h"

AlbumChooser::AlbumChooser(UiContext *context, QObject *parent)
    : TagChooser(context,
                 {tr("Albums"), SettingsKeys::OrganizeAlbum, SettingsKeys::CurrentAlbum,
                  [](const PlayableItem &item) -> const QString & { return item.album(); }},
                 parent)
{
}
