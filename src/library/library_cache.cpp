#include "library/library_cache.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <ctime>

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QtEndian>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

namespace {

constexpr quint32 kItemMagic = 0x4c4d4931;   // "LMI1"
constexpr int kSubItemLimit = 10000;         // far beyond any sheet: a larger count is damage

// One row per file: its path, its key (the fields of FileKey, then the encoding and the
// untrusted flag, each as a 64-bit little-endian number) and the item (empty: none).
const char kCreateItems[] = "CREATE TABLE items (path TEXT PRIMARY KEY NOT NULL, key BLOB NOT NULL, item BLOB)";
const char kSelectItems[] = "SELECT path, key, item FROM items";
const char kInsertItem[] = "INSERT OR REPLACE INTO items (path, key, item) VALUES (?, ?, ?)";
constexpr int kKeyFields = 10;

qint64 nanoseconds(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Size and modification time of a sheet file, or -1 when there is none.
void sheetKey(const QString &path, const QSet<QString> *sheets, qint64 *size, qint64 *mtime)
{
    struct stat st;
    if ((sheets == nullptr || sheets->contains(path)) && stat(QFile::encodeName(path).constData(), &st) == 0 &&
        S_ISREG(st.st_mode)) {
        *size = st.st_size;
        *mtime = nanoseconds(st.st_mtim);
    } else {
        *size = -1;
        *mtime = 0;
    }
}

void writeItem(QDataStream &out, const PlayableItem &item)
{
    out << item.title() << item.tagtitle() << item.path() << item.ownFile() << qint32(item.trackNumber())
        << item.startTime() << qint32(item.audioType()) << item.totalTime() << item.hasEmbeddedCoverImage()
        << item.coverImagePath() << item.album() << item.artist() << item.genre() << qint32(item.year())
        << qint32(item.sampleRate()) << qint32(item.bitsPerSample()) << qint32(item.playedCount());
}

PlayableItemPtr readItem(QDataStream &in)
{
    QString title, tagtitle, path, cover, album, artist, genre;
    bool ownFile = false, embedded = false;
    qint32 track = 0, type = 0, year = 0, rate = 0, bits = 0, played = 0;
    float start = 0, total = 0;
    in >> title >> tagtitle >> path >> ownFile >> track >> start >> type >> total >> embedded >> cover >> album >>
        artist >> genre >> year >> rate >> bits >> played;
    if (in.status() != QDataStream::Ok)
        return nullptr;
    auto item = std::make_shared<PlayableItem>();
    item->setTitle(title);
    item->setTagtitle(tagtitle);
    item->setPath(path);
    item->setOwnFile(ownFile);
    item->setTrackNumber(track);
    item->setStartTime(start);
    item->setAudioType(type);
    item->setTotalTime(total);
    item->setHasEmbeddedCoverImage(embedded);
    item->setCoverImagePath(cover);
    item->setAlbum(album);
    item->setArtist(artist);
    item->setGenre(genre);
    item->setYear(year);
    item->setSampleRate(rate);
    item->setBitsPerSample(bits);
    item->setPlayedCount(played);
    return item;
}

std::atomic<int> gConnectionCounter{0};

QByteArray packKey(const LibraryCache::FileKey &k, int encoding, bool racy)
{
    const qint64 fields[kKeyFields] = {k.size,      k.mtimeNs,      k.ctimeNs,  k.inode, k.cueSize,
                                       k.cueMtimeNs, k.sheetSize, k.sheetMtimeNs, encoding, racy ? 1 : 0};
    QByteArray bytes(sizeof fields, Qt::Uninitialized);
    for (int i = 0; i < kKeyFields; i++)
        qToLittleEndian(fields[i], bytes.data() + i * sizeof(qint64));
    return bytes;
}

bool unpackKey(const QByteArray &bytes, LibraryCache::FileKey *k, int *encoding, bool *racy)
{
    if (bytes.size() != kKeyFields * int(sizeof(qint64)))
        return false;
    qint64 f[kKeyFields];
    for (int i = 0; i < kKeyFields; i++)
        f[i] = qFromLittleEndian<qint64>(bytes.constData() + i * sizeof(qint64));
    *k = {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]};
    *encoding = int(std::clamp<qint64>(f[8], -1, INT_MAX));
    *racy = f[9] != 0;
    return true;
}

} // namespace

bool LibraryCache::keyOf(const QString &path, FileKey *key, const QSet<QString> *sheets)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    key->size = st.st_size;
    key->mtimeNs = nanoseconds(st.st_mtim);
    key->ctimeNs = nanoseconds(st.st_ctim);
    key->inode = qint64(st.st_ino);
    sheetKey(PlayableItem::cueSheetPathBeside(path), sheets, &key->cueSize, &key->cueMtimeNs);
    sheetKey(PlayableItem::embeddedCueSheetPath(path), sheets, &key->sheetSize, &key->sheetMtimeNs);
    return true;
}

QString LibraryCache::pathFor(const QString &documents)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (folder.isEmpty())
        return QString();
    const QByteArray id =
        QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(documents)), QCryptographicHash::Sha1).toHex();
    return folder + QStringLiteral("/library-") + QString::fromLatin1(id.left(16)) + QStringLiteral(".sqlite");
}

LibraryCache::LibraryCache(QString file, QString connection, unsigned encoding)
    : file_(std::move(file)), connection_(std::move(connection)), encoding_(encoding)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    scanStartNs_ = nanoseconds(now);
}

LibraryCache::~LibraryCache()
{
    close();
}

std::unique_ptr<LibraryCache> LibraryCache::open(const QString &documents, unsigned encoding)
{
    const QString file = pathFor(documents);
    if (file.isEmpty() || !QDir().mkpath(QFileInfo(file).path()))
        return nullptr;
    // Something other than a file in our place (a folder, a device) is not ours to read.
    const QFileInfo info(file);
    const bool inTheWay = info.exists() && !info.isFile();
    if (inTheWay && !QFile::remove(file) && !QDir().rmdir(file))
        return nullptr;
    const QString connection = QStringLiteral("lumenar-library-cache-%1").arg(gConnectionCounter.fetch_add(1));
    std::unique_ptr<LibraryCache> cache(new LibraryCache(file, connection, encoding));
    cache->rebuilt_ = inTheWay;
    if (!cache->load() && !cache->discardAndReopen())
        return nullptr;
    return cache;
}

void LibraryCache::close()
{
    if (!QSqlDatabase::contains(connection_))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

bool LibraryCache::load()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(file_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open())
        return false;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return false;
    const int version = q.value(0).toInt();
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next())
        return false;
    const int objects = q.value(0).toInt();
    if (version == 0 && objects == 0)
        return createSchema();   // a new file
    if (version != kSchemaVersion)
        return false;
    q.setForwardOnly(true);
    if (!q.exec(QLatin1String(kSelectItems)))
        return false;
    while (q.next()) {
        Row row;
        // A row whose key does not read is left out: its file is parsed and the row rewritten.
        if (unpackKey(q.value(1).toByteArray(), &row.key, &row.encoding, &row.racy)) {
            row.item = q.value(2).toByteArray();
            rows_.insert(q.value(0).toString(), row);
        }
    }
    // A damaged page shows up as an error part-way through.
    return q.lastError().type() == QSqlError::NoError;
}

bool LibraryCache::createSchema()
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.transaction())
        return false;
    QSqlQuery q(db);
    const bool ok = q.exec(QLatin1String(kCreateItems)) &&
                    q.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
    q.finish();
    if (!ok || !db.commit()) {
        db.rollback();
        return false;
    }
    return true;
}

bool LibraryCache::discardAndReopen()
{
    close();
    rows_.clear();
    rebuilt_ = true;
    for (const char *suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(file_ + QLatin1String(suffix));
    if (QFileInfo::exists(file_))
        return false;
    return load();
}

bool LibraryCache::lookup(const QString &path, const FileKey &key, PlayableItemPtr *item)
{
    seen_.insert(path);
    auto it = rows_.constFind(path);
    if (it == rows_.constEnd() || it->racy || !(it->key == key))
        return false;
    if (it->encoding >= 0 && unsigned(it->encoding) != std::min(encoding_, unsigned(INT_MAX)))
        return false;
    if (it->item.isEmpty()) {
        item->reset();
    } else {
        PlayableItemPtr cached = decodeItem(it->item);
        if (!cached || cached->path() != path)
            return false;   // damaged: parsed again and rewritten
        *item = std::move(cached);
    }
    hits_++;
    return true;
}

void LibraryCache::record(const QString &path, const FileKey &key, int encodingUsed, const PlayableItemPtr &item)
{
    seen_.insert(path);
    Row row;
    row.key = key;
    row.encoding = encodingUsed;
    qint64 newest = key.mtimeNs;
    if (key.cueSize >= 0)
        newest = std::max(newest, key.cueMtimeNs);
    if (key.sheetSize >= 0)
        newest = std::max(newest, key.sheetMtimeNs);
    row.racy = newest > scanStartNs_ - kRacyNanoseconds;
    if (item)
        row.item = encodeItem(*item);
    auto it = rows_.constFind(path);
    if (it != rows_.constEnd() && it->key == row.key && it->encoding == row.encoding && it->racy == row.racy &&
        it->item == row.item)
        return;   // the same row again
    written_.append({path, row});
}

bool LibraryCache::commit()
{
    QStringList gone;
    for (auto it = rows_.constBegin(); it != rows_.constEnd(); ++it)
        if (!seen_.contains(it.key()))
            gone.append(it.key());
    if (written_.isEmpty() && gone.isEmpty())
        return true;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen())
        return false;
    bool ok = db.transaction();
    QSqlError error;
    if (ok) {
        QSqlQuery insert(db);
        ok = insert.prepare(QLatin1String(kInsertItem));
        for (qsizetype i = 0; ok && i < written_.size(); i++) {
            const Row &row = written_[i].second;
            insert.bindValue(0, written_[i].first);
            insert.bindValue(1, packKey(row.key, row.encoding, row.racy));
            insert.bindValue(2, row.item);   // empty: the file gives no item
            ok = insert.exec();
            if (!ok)
                error = insert.lastError();
        }
        QSqlQuery remove(db);
        if (ok && !gone.isEmpty()) {
            ok = remove.prepare(QStringLiteral("DELETE FROM items WHERE path = ?"));
            for (qsizetype i = 0; ok && i < gone.size(); i++) {
                remove.bindValue(0, gone[i]);
                ok = remove.exec();
                if (!ok)
                    error = remove.lastError();
            }
        }
        insert.finish();
        remove.finish();
        if (ok) {
            ok = db.commit();
            if (!ok)
                error = db.lastError();
        }
    } else {
        error = db.lastError();
    }
    if (ok) {
        written_.clear();
        return true;
    }
    db.rollback();
    // Another scan holding the file is no damage: its own writes are as good as ours.
    const QString code = error.nativeErrorCode();
    if (code != QLatin1String("5") && code != QLatin1String("6")) {
        close();
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            QFile::remove(file_ + QLatin1String(suffix));
    }
    return false;
}

QByteArray LibraryCache::encodeItem(const PlayableItem &item)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << kItemMagic;
    writeItem(out, item);
    out << qint32(item.subItems().size());
    for (const PlayableItemPtr &track : item.subItems())
        writeItem(out, *track);
    out << qChecksum(bytes);
    return bytes;
}

PlayableItemPtr LibraryCache::decodeItem(const QByteArray &bytes)
{
    // The sum first: damaged bytes are never read as lengths.
    if (bytes.size() < 6)
        return nullptr;
    const QByteArray body = bytes.left(bytes.size() - 2);
    const quint16 sum = quint16(uchar(bytes[bytes.size() - 2]) << 8 | uchar(bytes[bytes.size() - 1]));
    if (sum != qChecksum(body))
        return nullptr;
    QDataStream in(body);
    in.setVersion(QDataStream::Qt_6_4);
    quint32 magic = 0;
    in >> magic;
    if (magic != kItemMagic)
        return nullptr;
    PlayableItemPtr item = readItem(in);
    qint32 count = -1;
    in >> count;
    if (!item || in.status() != QDataStream::Ok || count < 0 || count > kSubItemLimit)
        return nullptr;
    PlayableItemList tracks;
    tracks.reserve(count);
    for (qint32 i = 0; i < count; i++) {
        PlayableItemPtr track = readItem(in);
        if (!track)
            return nullptr;
        tracks.append(track);
    }
    if (!in.atEnd())
        return nullptr;
    item->setSubItems(tracks);
    return item;
}
