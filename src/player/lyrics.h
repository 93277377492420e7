// Lyrics of an item: which LRC file belongs to it and which line is current.
//
// The file is named after the item's title with the extension "lrc" in the item's folder
// (so a track titled Intro finds Intro.lrc whatever its audio file is called), else it is
// the item's path with its extension replaced by "lrc". Lines keep the file's own bytes
// and are decoded with the user's character encoding when asked for. Main thread only.
#pragma once

#include <QString>

#include "engine/lrc_file.h"
#include "library/playable_item.h"

class Lyrics {
public:
    // The lyrics file for an item; null when there is none.
    static QString pathForItem(const PlayableItem &item);

    // Loads the lyrics of an item; empty when it has none or the file cannot be read.
    static Lyrics forItem(const PlayableItem &item);
    explicit Lyrics(const QString &path = QString());
    ~Lyrics();
    Lyrics(Lyrics &&other) noexcept;
    Lyrics &operator=(Lyrics &&other) noexcept;
    Lyrics(const Lyrics &) = delete;
    Lyrics &operator=(const Lyrics &) = delete;

    bool isEmpty() const { return file_ == nullptr || file_->count == 0; }
    int count() const { return file_ != nullptr ? file_->count : 0; }
    // The index of the line shown at `seconds` into the track, -1 before the first.
    int lineForTime(double seconds) const;
    // The decoded text of line `index`; "" beyond the lines.
    QString textAt(int index) const;

private:
    LRCFile *file_ = nullptr;
};
