// OrganizeViewController: the organize menu — how to browse the library (files, artists,
// albums, play lists), settings and help. Shown in its own navigation stack: modally on a
// phone, in a popover on a tablet.
#pragma once

#include "ui/screen_controller.h"

class OrganizeViewController : public ScreenController {
    Q_OBJECT

public:
    enum Row { FilesRow = 0, ArtistsRow, AlbumsRow, PlaylistsRow, SettingsRow, HelpRow, RowCount };

    explicit OrganizeViewController(UiContext *context, QObject *parent = nullptr);

    void viewDidLoad() override;
    void viewWillAppear() override;
    void tapRow(int section, int row) override;

    void reload();
    // Dismisses the menu (the phone's "Back to playing list" button).
    void onBack();

private:
    BarButton *back_ = nullptr;
};
