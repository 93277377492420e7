// The library cache: what the scan parsed, kept between runs so that a file that has not
// changed is not opened again. One SQLite file per documents folder (Qt SQL, QSQLITE),
// under QStandardPaths::CacheLocation.
//
// A row is keyed by the file's path with its size, modification and change times
// (nanoseconds) and inode, the size and modification time of both sheets that may apply
// to it (song.cue beside it and the written-out song.flac.cue), and the legacy text
// encoding its texts were decoded with (none when every text was UTF-8). Any difference
// makes the file parsed anew. A file changed within the last seconds before it was read
// is not trusted on the next scan either: a second change within the file system's clock
// tick would leave its times as they were.
//
// The cache is a shortcut, never a source of truth: one that is missing, unreadable, of
// another schema version or corrupt is deleted and rebuilt, and a scan goes on without a
// cache when none can be kept. A scan's writes are one transaction, so a crash leaves the
// previous cache whole.
//
// Threads: an object belongs to the thread that opened it (the scan thread); several
// scans may use the same file at once.
#pragma once

#include <memory>

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

#include "library/playable_item.h"

class LibraryCache {
public:
    static constexpr int kSchemaVersion = 1;
    // Times this close to the moment a file was read make its row untrusted.
    static constexpr qint64 kRacyNanoseconds = 2'000'000'000;

    struct FileKey {
        qint64 size = -1;
        qint64 mtimeNs = 0;
        qint64 ctimeNs = 0;
        qint64 inode = 0;
        qint64 cueSize = -1;   // song.cue beside the file; -1 when there is none
        qint64 cueMtimeNs = 0;
        qint64 sheetSize = -1;   // song.flac.cue, the written-out embedded sheet
        qint64 sheetMtimeNs = 0;
        bool operator==(const FileKey &) const = default;
    };

    // The file's key; false when the file cannot be examined (it is then parsed, uncached).
    // With `sheets` (the sheet files a folder walk found), a sheet not among them counts
    // as absent without a look.
    static bool keyOf(const QString &path, FileKey *key, const QSet<QString> *sheets = nullptr);
    // The cache file of the library under `documents`.
    static QString pathFor(const QString &documents);

    // Opens the cache of `documents`, rebuilding it when needed, and reads it whole.
    // `encoding` is the chosen legacy encoding for this scan. Null when no cache can be
    // kept (no writable cache folder, a file in the way that cannot be removed).
    static std::unique_ptr<LibraryCache> open(const QString &documents, unsigned encoding);
    ~LibraryCache();
    LibraryCache(const LibraryCache &) = delete;
    LibraryCache &operator=(const LibraryCache &) = delete;

    // Whether the cache knows the file under this key. On a hit *item is a fresh copy of
    // what the parse gave (null when the file gives no item).
    bool lookup(const QString &path, const FileKey &key, PlayableItemPtr *item);
    // What parsing the file gave; `encodingUsed` is the encoding its texts needed, or -1.
    void record(const QString &path, const FileKey &key, int encodingUsed, const PlayableItemPtr &item);
    // Writes the recorded rows and forgets every file that was neither looked up nor
    // recorded in this scan, in one transaction. False when the write failed (the cache
    // file is then deleted, so the next scan rebuilds it).
    bool commit();

    // For tests and tools: what this scan found.
    int hits() const { return hits_; }
    bool wasRebuilt() const { return rebuilt_; }

    // How an item is kept in a row; decodeItem refuses damaged bytes (null).
    static QByteArray encodeItem(const PlayableItem &item);
    static PlayableItemPtr decodeItem(const QByteArray &bytes);

private:
    struct Row {
        FileKey key;
        int encoding = -1;
        bool racy = false;
        QByteArray item;   // empty: no item
    };

    LibraryCache(QString file, QString connection, unsigned encoding);
    bool load();
    bool createSchema();
    bool discardAndReopen();
    void close();

    QString file_;
    QString connection_;
    unsigned encoding_;
    qint64 scanStartNs_ = 0;
    QHash<QString, Row> rows_;
    QSet<QString> seen_;
    QVector<QPair<QString, Row>> written_;
    int hits_ = 0;
    bool rebuilt_ = false;
};
