#include "library/playlist_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "library/line_reader.h"
#include "platform/core/atomic_file.h"
#include "platform/core/file_system_object.h"

bool LMPlaylistLineEntry(const char *line, size_t length, size_t *entryStart, size_t *entryLength)
{
    size_t i = 0;
    while (i < length && (line[i] == ' ' || line[i] == '\t'))
        i++;
    if (i == length)
        return false;
    char c = line[i];
    if (c == '\0' || c == '\n' || c == '\r' || c == '#' || c == ';')
        return false;
    size_t end = i;
    while (end < length && line[end] != '\0' && line[end] != '\n' && line[end] != '\r')
        end++;
    *entryStart = i;
    *entryLength = end - i;
    return true;
}

static QList<QByteArray> readEntries(LMLineReader *reader)
{
    QList<QByteArray> entries;
    char line[LMPlaylistLineBufferSize];
    size_t n;
    bool first = true;
    while (entries.size() < LMPlaylistMaxEntries && (n = LMLineReaderNext(reader, line, sizeof line)) > 0) {
        const char *s = line;
        if (first && LMLineHasByteOrderMark(line, n)) {
            s += 3;
            n -= 3;
        }
        first = false;
        size_t start, length;
        if (LMPlaylistLineEntry(s, n, &start, &length))
            entries.append(QByteArray(s + start, qsizetype(length)));
    }
    return entries;
}

PlaylistLines PlaylistLines::read(const QString &fileName)
{
    PlaylistLines lines;
    if (fileName.isEmpty())
        return lines;
    QString path = PlaylistStore::resolve(fileName);
    if (QFileInfo(path).isDir())
        return lines;
    LMLineReader *reader = LMLineReaderOpenFile(QFile::encodeName(path).constData());
    if (reader == nullptr)
        return lines;
    lines.entries_ = readEntries(reader);
    LMLineReaderClose(reader);
    return lines;
}

PlaylistLines PlaylistLines::fromBytes(const QByteArray &bytes)
{
    PlaylistLines lines;
    LMLineReader *reader = LMLineReaderOpenBytes(bytes.constData(), size_t(bytes.size()));
    if (reader == nullptr)
        return lines;
    lines.entries_ = readEntries(reader);
    LMLineReaderClose(reader);
    return lines;
}

QByteArray PlaylistLines::entryAt(int index) const
{
    if (index < 0 || index >= entries_.size())
        return QByteArray();
    return entries_.at(index);
}

namespace PlaylistStore {

static QString documents()
{
    return FileSystemObject::sharedObject()->documentsDirectory();
}

QString fileNameForName(const QString &name)
{
    return name + QStringLiteral(".m3u");
}

QString resolve(const QString &fileName)
{
    if (QDir::isAbsolutePath(fileName))
        return fileName;
    return documents() + QLatin1Char('/') + fileName;
}

// The new content goes to a file beside the old one, which is renamed over it only once
// everything is written and flushed.
static bool replaceContents(const QString &path, const QByteArray &bytes)
{
    return AtomicFile::replace(path, bytes);
}

static QByteArray entryLines(const QStringList &paths)
{
    QByteArray bytes("\n");
    for (const QString &p : paths) {
        bytes += p.toUtf8();
        bytes += '\n';
    }
    return bytes;
}

Result create(const QString &name)
{
    if (name.isEmpty())
        return Failed;
    QString path = resolve(fileNameForName(name));
    // Exclusive creation: an existing list is never emptied, even by a racing create.
    int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == EEXIST ? AlreadyExists : Failed;
    bool ok = ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok ? Done : Failed;
}

bool append(const QString &fileName, const QStringList &paths)
{
    if (fileName.isEmpty())
        return false;
    QString path = resolve(fileName);
    QByteArray old;
    QFile existing(path);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return false;
        old = existing.readAll();
        if (existing.error() != QFileDevice::NoError)
            return false;
        existing.close();
    }
    return replaceContents(path, old + entryLines(paths));
}

bool rewrite(const QString &fileName, const QStringList &paths)
{
    if (fileName.isEmpty())
        return false;
    return replaceContents(resolve(fileName), entryLines(paths));
}

Result rename(const QString &fileName, const QString &newName)
{
    if (fileName.isEmpty() || newName.isEmpty())
        return Failed;
    QByteArray from = QFile::encodeName(resolve(fileName));
    QByteArray to = QFile::encodeName(resolve(fileNameForName(newName)));
    if (::access(from.constData(), F_OK) != 0)
        return Failed;
    // A hard link never replaces an existing name, so a clash cannot destroy a list.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return Done;
    }
    if (errno == EEXIST)
        return AlreadyExists;
    // File systems without hard links: check, then move.
    if (::access(to.constData(), F_OK) == 0)
        return AlreadyExists;
    return ::rename(from.constData(), to.constData()) == 0 ? Done : Failed;
}

bool remove(const QString &fileName)
{
    if (fileName.isEmpty())
        return false;
    return FileSystemObject::sharedObject()->removeFileAtPath(resolve(fileName));
}

std::optional<QStringList> list()
{
    return FileSystemObject::sharedObject()->contentsOfDirectoryWithSuffix(documents(), QStringLiteral("m3u"));
}

QStringList pathsByRemoving(const QStringList &paths, const QString &path)
{
    QStringList result;
    for (const QString &p : paths)
        if (p != path)
            result << p;
    return result;
}

QStringList pathsByMoving(const QStringList &paths, int from, int to)
{
    if (from < 0 || from >= paths.size())
        return paths;
    QStringList result = paths;
    QString moved = result.takeAt(from);
    if (to < 0)
        to = 0;
    if (to >= result.size())
        result.append(moved);
    else
        result.insert(to, moved);
    return result;
}

} // namespace PlaylistStore
