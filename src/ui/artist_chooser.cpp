#include "ui/artist_chooser.h"

#include "library/settings_keys.h"
#include "ui/navigation_controller.h"

ArtistChooser::ArtistChooser(UiContext *context, QObject *parent)
    : TagChooser(context,
                 {tr("Artists"), SettingsKeys::OrganizeArtist, SettingsKeys::CurrentArtist,
                  [](const PlayableItem &item) -> const QString & { return item.artist(); }},
                 parent)
{
}
