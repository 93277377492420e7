// PlayListController: the main play list as logic without widgets. It owns the rows shown
// and played (composed from the library by the organize mode, or given directly), the
// play mode, and answers the track player's question of what comes next; it handles the
// remote-control events and edits the play list file in play list mode. The main play
// list screen only draws it and forwards taps; the terminal player drives it the same way.
//
// Play modes (user default ShuffleMode modulo 4): 0 play to end of list, 1 shuffle
// (least-played first), 2 loop, 3 single track loop (the track player is locked).
//
// Main thread only.
#pragma once

#include <functional>
#include <optional>
#include <random>

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "library/play_list_composer.h"
#include "library/playable_item.h"
#include "player/lm_file_chooser_delegate.h"
#include "player/uni_player.h"

class PlayListController : public QObject,
                           public UniPlayerDelegate,
                           public PlayingSource,
                           public LMFileChooserDelegate {
    Q_OBJECT

public:
    using LibraryProvider = std::function<PlayableItemList()>;
    // Answers a pseudo-random number; the pick takes it modulo the candidates.
    using RandomSource = std::function<quint32()>;

    // Becomes the player's delegate (null: the shared player), locks it in mode 3 and
    // registers for its item-changed, paused and playing events.
    explicit PlayListController(UniPlayer *player = nullptr, QObject *parent = nullptr);
    ~PlayListController() override;

    UniPlayer *player() const { return player_; }

    // The library that updatePlayList() composes from (the application's last scan).
    void setLibraryProvider(LibraryProvider provider) { library_ = std::move(provider); }
    // Recomposes the rows from the library by the organize mode.
    void updatePlayList();
    // Rows given as they are (each image followed by its cue tracks), for a player that
    // plays what it was handed rather than the library.
    void setPlayList(const PlayableItemList &rows);
    const PlayableItemList &playList() const { return playList_; }
    const QStringList &m3uItems() const { return composer_.m3uItems(); }
    const QHash<QString, PlayableItemPtr> &m3uItemsLookup() const { return composer_.m3uItemsLookup(); }
    bool showsAddButton() const { return composed_ && composer_.showsAddButton(); }
    bool inPlaylistMode() const { return composed_ && composer_.organize() == 3; }

    // The screen title for the organize mode.
    const QString &title() const { return title_; }
    void updateTitle();

    int currentPlayMode() const;
    void setPlayMode(int mode);
    void togglePlayMode();
    QString playModeName() const { return playModeName(currentPlayMode()); }
    static QString playModeName(int mode);
    static QString playModeImageName(int mode);
    // Keeps the play mode in memory, starting at `mode`, instead of in the user defaults
    // (a tool that must not change the application's setting).
    void keepPlayModeInMemory(int mode);

    PlayableItemPtr nextItem() override;
    int randomIndex();
    void setRandomSource(RandomSource source);
    // The index of the last shuffle pick, shared by every controller (-1 at start).
    static int lastShufflePick();
    static void resetLastShufflePick();

    void previous() override;
    void togglePlayPause();
    void playItem(const PlayableItemPtr &item);
    // A tap on a row: the row's item, or an image's first cue track.
    void playRow(int row);
    // Remote-control subtypes 100 play, 101 pause, 102 stop, 103 toggle, 104 next,
    // 105 previous; others are ignored.
    void onRemoteControl(int subtype);
    // Takes the system's remote-control events (media keys, MPRIS peers) while set.
    void setReceivesRemoteControlEvents(bool receive);

    bool isExcludedItem(const PlayableItemPtr &item) const;
    bool shouldInclude(const QString &path) const override;
    bool addFiles(const QStringList &paths) override;
    bool removeItemFromPlaylist(const PlayableItemPtr &item);
    QString directoryOfPlaylistFile(const QString &path) const;

    // Editing: only whole-file rows can be deleted; in play list mode deleting removes the
    // entry from the list file, elsewhere it deletes the file and asks for a rescan.
    bool canDeleteRow(int row) const;
    bool deleteRow(int row);
    // Only whole-file rows, and only in play list mode.
    bool canMoveRow(int row) const;
    void moveRow(int from, int to);

    // The first row equal to the player's current item, -1 when none.
    int rowOfCurrentItem() const;
    void onItemChange();
    void onPlayPause();

signals:
    void playListChanged();
    void titleChanged(const QString &title);
    // The current item changed; `row` is its row or -1.
    void itemChanged(int row);
    void playPauseChanged(bool playing);
    void playModeChanged(int mode);
    void showNowPlayingRequested();
    void playingFileDeleted();
    void libraryScanRequested();

private:
    PlayableItemPtr rowItem(int row) const;
    static PlayableItemPtr playableForRow(const PlayableItemPtr &row);

    QPointer<UniPlayer> player_;
    PlayListComposer composer_;
    bool composed_ = false;
    PlayableItemList playList_;
    LibraryProvider library_;
    QString title_;
    std::optional<int> memoryPlayMode_;
    std::mt19937 generator_;
    RandomSource random_;
    QMetaObject::Connection remoteConnection_;
};
