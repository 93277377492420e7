// PlaylistsViewController: the play list files at the top of the documents folder. A tap
// makes the main list show that play list; the toolbar adds one, renames one (rename
// mode: the next tap picks it) or deletes some (edit mode). Only regular files are play
// lists here: a folder named like one is neither shown nor deleted.
#pragma once

#include <QStringList>

#include "ui/screen_controller.h"

class PlaylistsViewController : public ScreenController {
    Q_OBJECT

public:
    enum Mode { Normal = 0, Renaming = 1, Deleting = 2 };

    explicit PlaylistsViewController(UiContext *context, QObject *parent = nullptr);

    // File names (with extension), sorted case-insensitively.
    const QStringList &lists() const { return lists_; }
    int mode() const { return mode_; }
    // The play list name (without extension) last tapped, or empty.
    QString selectedPlaylistName() const;

    void viewDidLoad() override;
    void tapRow(int section, int row) override;
    void deleteRow(int section, int row) override;

    void updateList();
    void refresh();
    void setMode(int mode);
    void addPlaylist();
    void renamePlaylist() { setMode(Renaming); }
    void editPlaylists() { setMode(Deleting); }
    void cancelRename() { setMode(Normal); }
    void cancelEditing() { setMode(Normal); }
    // What the prompts' OK does; both refuse names that are no single file name.
    void createPlaylist(const QString &name);
    void renameSelectedPlaylist(const QString &name);

private:
    void reloadRows();

    QStringList lists_;
    int mode_ = Normal;
    int selectedIndex_ = -1;
    BarButton *btnAdd_;
    BarButton *btnEdit_;
    BarButton *btnRename_;
    BarButton *btnCancel_;
    BarButton *hint_;
};
