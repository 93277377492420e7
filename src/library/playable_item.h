// PlayableItem: what every list shows and the track player plays — a whole audio file, or
// one track of a cue sheet inside an image file.
//
// An item is built by opening its file once through the audio file interface, copying out
// the format and tag fields, attaching the cue tracks as sub-items and closing the file;
// it keeps no open file. Items are compared by value (isEqualToItem), never by identity,
// so that an item of a fresh scan matches the one that is playing.
//
// Items are built on the scan thread and then handed to the main thread; after that only
// the main thread changes them (playedCount, the remembered cover path).
#pragma once

#include <functional>
#include <memory>

#include <QImage>
#include <QList>
#include <QString>

#include "engine/lm_file.h"

class PlayableItem;
using PlayableItemPtr = std::shared_ptr<PlayableItem>;
using PlayableItemList = QList<PlayableItemPtr>;

class PlayableItem {
public:
    // Audio type codes, decided by the file name's extension (any case).
    enum AudioType {
        AudioTypeNone = 0,   // not an audio file
        AudioTypeWav = 1,    // WAV, WV
        AudioTypeAiff = 2,   // AIF, AIFF, AIFC
        AudioTypeM4a = 3,
        AudioTypeMp3 = 4,
        AudioTypeFlac = 5,
        AudioTypeApe = 6,
    };

    static int typeOfAudioFile(const QString &path);
    // None when the extension is unknown or the file does not open. May write the
    // embedded cue sheet out beside the file (once; an existing file is never replaced).
    // Tag and sheet texts that are not UTF-8 are read in the user's chosen encoding.
    static PlayableItemPtr itemWithPath(const QString &path);
    // The same; *encodingUsed is the legacy encoding a text needed, or -1 when every
    // text was UTF-8 (the item then does not depend on the setting).
    static PlayableItemPtr itemWithPath(const QString &path, int *encodingUsed);
    // A cue track; every other field keeps its initial value.
    static PlayableItemPtr itemWithTrackNumber(int trackNumber, const QString &title, const QString &path,
                                               float startTime, float totalTime);

    // The sheet a file would use: song.cue beside song.flac, else the written-out embedded
    // sheet song.flac.cue.
    static QString cueSheetPathBeside(const QString &path);
    static QString embeddedCueSheetPath(const QString &path);

    const QString &title() const { return title_; }
    void setTitle(const QString &v) { title_ = v; }
    const QString &tagtitle() const { return tagtitle_; }       // null when none
    void setTagtitle(const QString &v) { tagtitle_ = v; }
    const QString &path() const { return path_; }
    void setPath(const QString &v) { path_ = v; }
    bool ownFile() const { return ownFile_; }
    void setOwnFile(bool v) { ownFile_ = v; }
    int trackNumber() const { return trackNumber_; }
    void setTrackNumber(int v) { trackNumber_ = v; }
    float startTime() const { return startTime_; }
    void setStartTime(float v) { startTime_ = v; }
    const PlayableItemList &subItems() const { return subItems_; }
    void setSubItems(const PlayableItemList &v) { subItems_ = v; }
    int audioType() const { return audioType_; }
    void setAudioType(int v) { audioType_ = v; }
    float totalTime() const { return totalTime_; }
    void setTotalTime(float v) { totalTime_ = v; }
    bool hasEmbeddedCoverImage() const { return hasEmbeddedCoverImage_; }
    void setHasEmbeddedCoverImage(bool v) { hasEmbeddedCoverImage_ = v; }
    const QString &coverImagePath() const { return coverImagePath_; }   // null when none
    void setCoverImagePath(const QString &v) { coverImagePath_ = v; }
    const QString &album() const { return album_; }              // null when none
    void setAlbum(const QString &v) { album_ = v; }
    const QString &artist() const { return artist_; }            // null when none
    void setArtist(const QString &v) { artist_ = v; }
    const QString &genre() const { return genre_; }              // null when none
    void setGenre(const QString &v) { genre_ = v; }
    int year() const { return year_; }
    void setYear(int v) { year_ = v; }
    int sampleRate() const { return sampleRate_; }
    void setSampleRate(int v) { sampleRate_ = v; }
    int bitsPerSample() const { return bitsPerSample_; }
    void setBitsPerSample(int v) { bitsPerSample_ = v; }
    int playedCount() const { return playedCount_; }
    void setPlayedCount(int v) { playedCount_ = v; }

    // Same path, same kind (file or cue track) and same track number. Null-safe.
    bool isEqualToItem(const PlayableItem *other) const;
    bool isEqualToItem(const PlayableItemPtr &other) const { return isEqualToItem(other.get()); }
    QString description() const;
    // "mm:ss", minutes unbounded (3725.9 s gives "62:05").
    static QString humanTime(float seconds);

    // The cover: a picture file beside the audio file (its path is remembered), else the
    // tag's picture, read from the file again on each request. Null when none.
    QImage coverImage();
    // Only the picture file beside the audio file (the first half of coverImage).
    QImage coverImageFromFile();
    // An existing picture beside the audio file: song.<ext>, else <album>.<ext> in its
    // folder; extensions in the order bmp, BMP, tif, TIF, png, PNG, jpg, JPG, jpeg, JPEG,
    // gif, GIF. Null when none.
    static QString GetCoverArtFile(const QString &path, const QString &album);

    // Whether a path names a regular file. The look-ups above ask the file system once per
    // candidate; a tool that looks up many items answers from folder listings instead.
    using FileProbe = std::function<bool(const QString &path)>;
    static QString GetCoverArtFile(const QString &path, const QString &album, const FileProbe &isFile);
    QImage coverImageFromFile(const FileProbe &isFile);

    // The audio file interface used to open files; tests put a fake in. Answers the
    // previous one.
    using FileOpener = LMFile *(*)(const char *path);
    static FileOpener setFileOpener(FileOpener opener);

private:
    QString title_;
    QString tagtitle_;
    QString path_;
    bool ownFile_ = false;
    int trackNumber_ = 0;
    float startTime_ = 0;
    PlayableItemList subItems_;
    int audioType_ = AudioTypeNone;
    float totalTime_ = 0;
    bool hasEmbeddedCoverImage_ = false;
    QString coverImagePath_;
    QString album_;
    QString artist_;
    QString genre_;
    int year_ = 0;
    int sampleRate_ = 0;
    int bitsPerSample_ = 0;
    int playedCount_ = 0;
};
