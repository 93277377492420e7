#include "player/lyrics.h"

#include <sys/stat.h>

#include <QFile>

#include "library/character_encoding.h"
#include "platform/core/file_system_object.h"

QString Lyrics::pathForItem(const PlayableItem &item)
{
    const QString &path = item.path();
    if (path.isEmpty())
        return QString();
    FileSystemObject *fs = FileSystemObject::sharedObject();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : path.left(slash + 1);
    // A title is a name inside the item's folder, never a way out of it.
    const QString &title = item.title();
    if (!title.isEmpty() && !title.contains(QLatin1Char('/')) && title != QLatin1String("..")) {
        const QString byTitle = folder + title + QStringLiteral(".lrc");
        if (fs->fileExists(byTitle))
            return byTitle;
    }
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString byFile = (dot > slash ? path.left(dot) : path) + QStringLiteral(".lrc");
    return fs->fileExists(byFile) ? byFile : QString();
}

Lyrics Lyrics::forItem(const PlayableItem &item)
{
    return Lyrics(pathForItem(item));
}

Lyrics::Lyrics(const QString &path)
{
    // Only a regular file: a FIFO named like lyrics would block the reader.
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (!path.isEmpty() && stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode))
        file_ = LRCFileParse(name.constData());
}

Lyrics::~Lyrics()
{
    LRCFileFree(file_);
}

Lyrics::Lyrics(Lyrics &&other) noexcept : file_(other.file_)
{
    other.file_ = nullptr;
}

Lyrics &Lyrics::operator=(Lyrics &&other) noexcept
{
    if (this != &other) {
        LRCFileFree(file_);
        file_ = other.file_;
        other.file_ = nullptr;
    }
    return *this;
}

int Lyrics::lineForTime(double seconds) const
{
    return LRCFileLineForTime(file_, seconds);
}

QString Lyrics::textAt(int index) const
{
    const LRCLine *line = index >= 0 ? LRCFileLineAtIndex(file_, index) : nullptr;
    return line != nullptr ? CharacterEncoding::parseCString(line->text) : QString(QLatin1String(""));
}
