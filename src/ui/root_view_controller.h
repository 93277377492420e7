// RootViewController: the main play list screen, the root of the window's navigation
// stack. It draws the rows of the application's PlayListController (which holds the play
// modes, the next-item logic, remote control and play list editing) with the theme's
// colours, the button panel (play/pause, play mode, edit, add), the organize button and,
// while something is current, the now-playing button.
#pragma once

#include <QPointer>

#include "library/playable_item.h"
#include "ui/screen_controller.h"
#include "ui/theme_helper.h"

class NavigationController;
class PlayListController;
class UniPlayer;

class RootViewController : public ScreenController {
    Q_OBJECT
    Q_PROPERTY(ThemeHelper *theme READ theme CONSTANT)
    Q_PROPERTY(QString playPauseImage READ playPauseImage NOTIFY buttonsChanged)
    Q_PROPERTY(QString playModeImage READ playModeImage NOTIFY buttonsChanged)
    Q_PROPERTY(QString playModeName READ playModeName NOTIFY buttonsChanged)
    Q_PROPERTY(bool addVisible READ addVisible NOTIFY buttonsChanged)
    Q_PROPERTY(bool editing READ editing NOTIFY editingChanged)
    // A scan has completed: an empty list now means an empty library.
    Q_PROPERTY(bool libraryLoaded READ libraryLoaded NOTIFY libraryLoadedChanged)

public:
    static constexpr int kPhoneRowHeight = 52;
    static constexpr int kTabletRowHeight = 64;
    static constexpr int kPanelHeight = 44;

    explicit RootViewController(UiContext *context, QObject *parent = nullptr);
    ~RootViewController() override;

    ThemeHelper *theme() const { return theme_; }
    PlayListController *playListController() const;

    QString playPauseImage() const;
    QString playModeImage() const;
    QString playModeName() const;
    bool addVisible() const;
    bool editing() const { return table_->editing(); }
    bool libraryLoaded() const { return libraryLoaded_; }

    QColor listBackgroundColor() const override { return theme_->listBackgroundColor(); }
    QColor separatorColor() const override { return theme_->separatorColor(); }
    QColor titleColor() const override { return theme_->titleColor(); }
    QColor detailColor() const override { return theme_->subtitleColor(); }
    bool scrollIndicator() const override { return theme_->scrollIndicator(); }
    int rowHeight() const override { return isTablet() ? kTabletRowHeight : kPhoneRowHeight; }

    // The detail line of a row: "mm:ss, file name" for a file, "Track nn, mm:ss" for a
    // cue track.
    static QString detailText(const PlayableItem &item);

    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;

    void tapRow(int section, int row) override;
    void deleteRow(int section, int row) override;
    void moveRow(int section, int from, int to) override;

    Q_INVOKABLE void togglePlayPause();
    Q_INVOKABLE void togglePlayMode();
    Q_INVOKABLE void toggleEdit();
    Q_INVOKABLE void addItem();
    Q_INVOKABLE void showNowPlaying();
    Q_INVOKABLE void showOrganize();

    // The organize menu's stack (created on first use).
    NavigationController *organizeNavigation() const { return organize_; }

    void updatePlayList();
    void updateTitle();
    void onItemChange();
    // Selects and centres the current item's row, or clears the selection.
    void selectCurrentRow();
    void onPlayPause();
    void onThemeChange();
    // Rebuilds the rows from the controller's play list.
    void reloadRows();

signals:
    void buttonsChanged();
    void editingChanged();
    void libraryLoadedChanged();

private:
    TableRow rowFor(const PlayableItemPtr &item, int index, const PlayableItemPtr &current) const;

    ThemeHelper *theme_;
    TableModel *table_;
    BarButton *organizeButton_;
    BarButton *nowPlayingButton_ = nullptr;
    bool nowPlayingRemoved_ = false;
    bool libraryLoaded_ = false;
    QPointer<NavigationController> organize_;
};
