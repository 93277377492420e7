#include "library/playable_item.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>

#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>

#include "library/character_encoding.h"
#include "library/cue_sheet.h"
#include "library/user_settings.h"
#include "platform/core/atomic_file.h"
#include "platform/core/file_system_object.h"

namespace {

std::atomic<PlayableItem::FileOpener> gOpener{&LMFileOpen};

LMFile *openFile(const QString &path)
{
    return gOpener.load()(QFile::encodeName(path).constData());
}

// Byte texts from tags and sheets. The chosen encoding is read at most once per item, and
// only when a text is not UTF-8.
class TextDecoder {
public:
    // Null for a missing or empty text.
    QString operator()(const char *bytes)
    {
        if (bytes == nullptr || *bytes == '\0')
            return QString();
        QByteArray b(bytes);
        if (CharacterEncoding::isValidUtf8(b))
            return QString::fromUtf8(b);
        if (!havePreferred_) {
            preferred_ = UserSettings::preferedEncoding();
            havePreferred_ = true;
        }
        QString s = CharacterEncoding::parseCString(b, preferred_);
        return s.isEmpty() ? QString() : s;
    }
    // The encoding a text needed, or -1.
    int encodingUsed() const { return havePreferred_ ? int(std::min(preferred_, unsigned(INT_MAX))) : -1; }

private:
    unsigned preferred_ = 0;
    bool havePreferred_ = false;
};

QString withExtension(const QString &path, const QString &extension)
{
    QFileInfo info(path);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('.') + extension;
}

// The sheet that applies to the file at `path`, or null.
LMCueSheet *findCueSheet(const QString &path, const LMTag &tag)
{
    FileSystemObject *fs = FileSystemObject::sharedObject();
    QString beside = PlayableItem::cueSheetPathBeside(path);
    if (fs->fileExists(beside))
        return LMCueSheetParseFile(QFile::encodeName(beside).constData());
    if (tag.cuesheet == nullptr || *tag.cuesheet == '\0')
        return nullptr;
    QString written = PlayableItem::embeddedCueSheetPath(path);
    if (AtomicFile::createOnce(written, QByteArray(tag.cuesheet)))
        return LMCueSheetParseFile(QFile::encodeName(written).constData());
    // A folder that cannot be written to still shows the tracks, from the tag itself.
    return LMCueSheetParseBytes(tag.cuesheet, strlen(tag.cuesheet));
}

// Pictures are loaded on the main thread: a FIFO named like one would block it.
bool isRegularFile(const QString &path)
{
    struct stat st;
    return stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

QImage loadImage(const QString &path)
{
    return path.isEmpty() ? QImage() : QImage(path);
}

} // namespace

int PlayableItem::typeOfAudioFile(const QString &path)
{
    const QString ext = QFileInfo(path).suffix().toUpper();
    static const struct {
        const char *extension;
        int type;
    } kTypes[] = {
        {"FLAC", AudioTypeFlac}, {"APE", AudioTypeApe}, {"M4A", AudioTypeM4a}, {"MP3", AudioTypeMp3},
        {"WAV", AudioTypeWav},   {"WV", AudioTypeWav},  {"AIF", AudioTypeAiff}, {"AIFF", AudioTypeAiff},
        {"AIFC", AudioTypeAiff},
    };
    for (const auto &t : kTypes)
        if (ext == QLatin1String(t.extension))
            return t.type;
    return AudioTypeNone;
}

QString PlayableItem::cueSheetPathBeside(const QString &path)
{
    return withExtension(path, QStringLiteral("cue"));
}

QString PlayableItem::embeddedCueSheetPath(const QString &path)
{
    return path + QStringLiteral(".cue");
}

PlayableItemPtr PlayableItem::itemWithPath(const QString &path)
{
    int encodingUsed;
    return itemWithPath(path, &encodingUsed);
}

PlayableItemPtr PlayableItem::itemWithPath(const QString &path, int *encodingUsed)
{
    *encodingUsed = -1;
    int type = typeOfAudioFile(path);
    if (type == AudioTypeNone)
        return nullptr;
    LMFile *file = openFile(path);
    if (file == nullptr)
        return nullptr;

    auto item = std::make_shared<PlayableItem>();
    item->path_ = path;
    item->audioType_ = type;
    TextDecoder decode;
    const LMTag &tag = file->tag;
    // A tag title that yields no text counts as none: the row shows the file name.
    QString tagTitle = decode(tag.title);
    if (!tagTitle.isEmpty()) {
        item->title_ = tagTitle;
        item->tagtitle_ = tagTitle;
    } else {
        item->title_ = QFileInfo(path).completeBaseName();
    }
    item->album_ = decode(tag.album);
    item->artist_ = decode(tag.artist);
    if (tag.year != 0)
        item->year_ = tag.year;
    item->genre_ = decode(tag.genre);
    item->sampleRate_ = int(file->sample_rate);
    item->bitsPerSample_ = int(file->bits_per_sample);
    item->hasEmbeddedCoverImage_ = tag.picture != nullptr && tag.picture_size > 0;
    item->trackNumber_ = tag.track;
    item->totalTime_ = float(file->duration);

    LMCueSheet *sheet = findCueSheet(path, tag);
    LMFileClose(file);

    if (sheet != nullptr) {
        if (sheet->title != nullptr) {
            QString title = decode(sheet->title);
            if (!title.isEmpty()) {
                item->title_ = title;
                item->album_ = title;
            }
        }
        if (sheet->performer != nullptr) {
            QString performer = decode(sheet->performer);
            if (!performer.isEmpty())
                item->artist_ = performer;
        }
        PlayableItemList tracks;
        tracks.reserve(sheet->track_count);
        for (int32_t i = 0; i < sheet->track_count; i++) {
            const LMCueTrack &t = sheet->tracks[i];
            float length = i + 1 == sheet->track_count ? item->totalTime_ - t.start : t.length;
            QString title = decode(t.title);
            PlayableItemPtr track = itemWithTrackNumber(i + 1, title.isNull() ? QStringLiteral("") : title,
                                                        path, t.start, length);
            track->audioType_ = item->audioType_;
            track->hasEmbeddedCoverImage_ = item->hasEmbeddedCoverImage_;
            track->coverImagePath_ = item->coverImagePath_;
            track->album_ = item->album_;
            track->artist_ = item->artist_;
            track->sampleRate_ = item->sampleRate_;
            track->bitsPerSample_ = item->bitsPerSample_;
            tracks.append(track);
        }
        item->subItems_ = tracks;
        LMCueSheetRelease(sheet);
    }
    item->ownFile_ = true;
    *encodingUsed = decode.encodingUsed();
    return item;
}

PlayableItemPtr PlayableItem::itemWithTrackNumber(int trackNumber, const QString &title, const QString &path,
                                                  float startTime, float totalTime)
{
    auto item = std::make_shared<PlayableItem>();
    item->trackNumber_ = trackNumber;
    item->title_ = title;
    item->path_ = path;
    item->startTime_ = startTime;
    item->totalTime_ = totalTime;
    item->ownFile_ = false;
    return item;
}

bool PlayableItem::isEqualToItem(const PlayableItem *other) const
{
    if (other == this)
        return true;
    if (other == nullptr)
        return false;
    return path_ == other->path_ && ownFile_ == other->ownFile_ && trackNumber_ == other->trackNumber_;
}

QString PlayableItem::description() const
{
    if (ownFile_)
        return title_ + QLatin1Char('(') + path_ + QLatin1Char(')');
    return QStringLiteral("Track %1 %2 start at %3").arg(trackNumber_).arg(title_, humanTime(startTime_));
}

QString PlayableItem::humanTime(float seconds)
{
    // Truncation toward zero, within what an int holds.
    double x = std::isfinite(seconds) ? std::clamp(double(seconds), -2.0e9, 2.0e9) : 0.0;
    int minutes = int(x / 60);
    int secs = int(x) % 60;
    return QString::asprintf("%02d:%02d", minutes, secs);
}

QImage PlayableItem::coverImageFromFile()
{
    return coverImageFromFile(isRegularFile);
}

QImage PlayableItem::coverImageFromFile(const FileProbe &isFile)
{
    if (!coverImagePath_.isNull()) {
        QImage image = loadImage(coverImagePath_);
        if (!image.isNull())
            return image;
        coverImagePath_ = QString();
    }
    coverImagePath_ = GetCoverArtFile(path_, album_, isFile);
    if (!coverImagePath_.isNull()) {
        QImage image = loadImage(coverImagePath_);
        if (!image.isNull())
            return image;
        coverImagePath_ = QString();
    }
    return QImage();
}

QImage PlayableItem::coverImage()
{
    QImage image = coverImageFromFile();
    if (!image.isNull() || !hasEmbeddedCoverImage_)
        return image;
    LMFile *file = openFile(path_);
    if (file == nullptr)
        return QImage();
    if (file->tag.picture != nullptr && file->tag.picture_size > 0)
        image.loadFromData(file->tag.picture, file->tag.picture_size);
    LMFileClose(file);
    return image;
}

QString PlayableItem::GetCoverArtFile(const QString &path, const QString &album)
{
    return GetCoverArtFile(path, album, isRegularFile);
}

QString PlayableItem::GetCoverArtFile(const QString &path, const QString &album, const FileProbe &isFile)
{
    static const char *const kExtensions[] = {"bmp", "BMP", "tif", "TIF", "png", "PNG",
                                              "jpg", "JPG", "jpeg", "JPEG", "gif", "GIF"};
    QFileInfo info(path);
    const QString folder = info.path() + QLatin1Char('/');
    const QString stems[2] = {folder + info.completeBaseName() + QLatin1Char('.'),
                              album.isEmpty() ? QString() : folder + album + QLatin1Char('.')};
    for (const QString &stem : stems) {
        if (stem.isNull())
            continue;
        for (const char *e : kExtensions) {
            QString candidate = stem + QLatin1String(e);
            if (isFile(candidate))
                return candidate;
        }
    }
    return QString();
}

PlayableItem::FileOpener PlayableItem::setFileOpener(FileOpener opener)
{
    return gOpener.exchange(opener != nullptr ? opener : &LMFileOpen);
}
