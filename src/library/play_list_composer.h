// The main play list as logic without widgets: which library items the main play list
// shows, chosen by the organize mode in the user defaults, and the editing of the play
// list file shown in play list mode. The main play list screen owns one, recomposes it
// (updatePlayList) after every completed scan and every change of the organize choice,
// and draws playList().
//
// Organize modes (user default Organize):
//   0 folder     items whose path begins with the folder (CurrentFolder; none or "" is
//                the documents folder, a relative one lies under it). A plain string
//                prefix: folder Music also shows Music2.
//   1 artist     items whose artist equals CurrentArtist
//   2 album      items whose album equals CurrentAlbum
//   3 play list  the entries of the file CurrentPlaylist that are library items, in file
//                order, each once
//   4 file       the item whose path equals CurrentFile
//   other        nothing
// Each chosen item is followed by its cue tracks, so an image is its own row followed by
// one row per track. Main thread only.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "library/playable_item.h"

class PlayListComposer {
public:
    void updatePlayList(const PlayableItemList &library);

    const PlayableItemList &playList() const { return playList_; }
    // Play list mode only: the entries that matched a library item (absolute paths, in
    // file order, each once) and the items by path.
    const QStringList &m3uItems() const { return m3uItems_; }
    const QHash<QString, PlayableItemPtr> &m3uItemsLookup() const { return m3uItemsLookup_; }
    // The organize mode of the last composition; the add button shows in play list mode.
    int organize() const { return organize_; }
    bool showsAddButton() const { return organize_ == 3; }

    // The folder that folder mode shows for a CurrentFolder value.
    static QString folderForSetting(const QString &currentFolder);
    // The folder against which a play list's relative entries resolve: the play list
    // path's folder part; the documents folder when it has none.
    static QString directoryOfPlaylistFile(const QString &playlistPath);

    // Editing the play list file named by CurrentPlaylist; the caller recomposes after.
    // Each change replaces the file as a whole; on failure it stays as it was.
    // Appends absolute paths; false when the file cannot be written.
    bool addFiles(const QStringList &paths) const;
    // Rewrites the list from m3uItems() without the item's path.
    bool removeItemFromPlaylist(const PlayableItem *item) const;
    // Rewrites the list from m3uItems() with the entry at `from` moved to `to` (positions
    // among the entries). Equal positions write nothing.
    bool moveEntry(int from, int to) const;
    // The play list position of a row: the number of whole-file rows above it.
    int entryPositionOfRow(int row) const;

private:
    void composePlaylist(const PlayableItemList &library);
    void append(const PlayableItemPtr &item);

    PlayableItemList playList_;
    QStringList m3uItems_;
    QHash<QString, PlayableItemPtr> m3uItemsLookup_;
    int organize_ = 0;
};
