// Play list files: M3U-style text files at the top of the documents folder, one audio file
// path per line, absolute or relative to the play list's folder.
//
// Reading: lines are cut by a 1000-byte line buffer (a longer line arrives as several
// pieces, each judged by itself); a UTF-8 byte-order mark before the first line is
// skipped. After leading spaces and tabs, a line that ends there or starts with "#" or ";"
// is no entry (so extended-M3U lines are skipped); otherwise the entry runs up to the first
// zero, line feed or carriage return, trailing blanks included. Entries stay raw bytes; the
// composition converts them with CharacterEncoding.
//
// Writing: files written here start with an empty line and end every entry with a line
// feed. Every change writes a new file beside the old one and renames it over it, so a
// crash or a full disk never leaves a truncated list: on failure the old file stays whole.
//
// Names given as relative paths resolve against the documents folder (which is also the
// process working directory in the application).
#pragma once

#include <cstddef>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

enum {
    LMPlaylistLineBufferSize = 1000,
    // A list longer than this is read up to here; no real play list comes near it, and it
    // bounds the memory a hostile file can claim.
    LMPlaylistMaxEntries = 100000,
};

// Judges one line piece. True when it is an entry, with the entry's first byte and length.
bool LMPlaylistLineEntry(const char *line, size_t length, size_t *entryStart, size_t *entryLength);

// The entries of one play list file, in file order. Every index is reached directly.
class PlaylistLines {
public:
    PlaylistLines() = default;
    // A file that cannot be opened gives an empty list.
    static PlaylistLines read(const QString &fileName);
    // The same for a file held in memory (tests, tools).
    static PlaylistLines fromBytes(const QByteArray &bytes);

    int count() const { return int(entries_.size()); }
    // Null when the index is not below the count.
    QByteArray entryAt(int index) const;

private:
    QList<QByteArray> entries_;
};

namespace PlaylistStore {

enum Result { Done = 0, AlreadyExists = 1, Failed = 2 };

// The file name of a play list: the name with the extension "m3u".
QString fileNameForName(const QString &name);
// A relative name under the documents folder; an absolute one as it stands.
QString resolve(const QString &fileName);

// A new empty play list `name`.m3u in the documents folder; AlreadyExists when it exists.
Result create(const QString &name);
// Adds a line feed, then each path and a line feed. A missing file is created.
bool append(const QString &fileName, const QStringList &paths);
// Replaces the file's entries by exactly these paths.
bool rewrite(const QString &fileName, const QStringList &paths);
// Moves the file to `newName`.m3u in the documents folder; AlreadyExists when that exists.
Result rename(const QString &fileName, const QString &newName);
bool remove(const QString &fileName);
// Names (not paths) of the documents folder's entries ending in "m3u", in the order the
// folder lists them; none when there is no such entry.
std::optional<QStringList> list();

// The entries of a rewrite after a removal or a move among the entries.
QStringList pathsByRemoving(const QStringList &paths, const QString &path);
// The entry at `from` taken out and put back so that it ends at `to`; a target at or
// beyond the count puts it last. An invalid `from` changes nothing.
QStringList pathsByMoving(const QStringList &paths, int from, int to);

} // namespace PlaylistStore
