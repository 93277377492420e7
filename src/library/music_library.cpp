#include "library/music_library.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QMetaObject>

#include "library/library_cache.h"
#include "library/user_settings.h"
#include "platform/core/file_system_object.h"

MusicLibrary::MusicLibrary(QObject *parent) : QObject(parent) {}

MusicLibrary::~MusicLibrary()
{
    closing_.store(true);
    for (auto &t : threads_)
        if (t->thread.joinable())
            t->thread.join();
}

PlayableItemList MusicLibrary::playableItems() const
{
    std::lock_guard<std::mutex> lock(itemsLock_);
    return items_;
}

void MusicLibrary::setPlayableItems(const PlayableItemList &items)
{
    std::lock_guard<std::mutex> lock(itemsLock_);
    items_ = items;
}

bool MusicLibrary::isStale(quint64 scanId) const
{
    return closing_.load() || loadId_.load() > scanId;
}

void MusicLibrary::reapFinishedThreads()
{
    for (auto it = threads_.begin(); it != threads_.end();) {
        if ((*it)->finished.load()) {
            (*it)->thread.join();
            it = threads_.erase(it);
        } else {
            ++it;
        }
    }
}

void MusicLibrary::loadMusics()
{
    reapFinishedThreads();
    quint64 scanId = ++loadId_;
    auto t = std::make_unique<ScanThread>();
    ScanThread *raw = t.get();
    running_++;
    try {
        t->thread = std::thread([this, raw, scanId] {
            loadMusicsCore(scanId);
            running_--;
            raw->finished.store(true);
        });
    } catch (const std::system_error &) {
        running_--;
        fprintf(stderr, "Failed to start a library scan\n");
        return;
    }
    threads_.push_back(std::move(t));
}

void MusicLibrary::sortPaths(QStringList &paths)
{
    // Equal but for case: a fixed order all the same.
    std::sort(paths.begin(), paths.end(), [](const QString &a, const QString &b) {
        int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
}

MusicLibrary::ScanStats MusicLibrary::lastScanStats() const
{
    std::lock_guard<std::mutex> lock(itemsLock_);
    return lastStats_;
}

void MusicLibrary::loadMusicsCore(quint64 scanId)
{
    const QString documents = FileSystemObject::sharedObject()->documentsDirectory();
    const bool useCache = cacheEnabled_.load();
    QSet<QString> sheets;
    std::optional<QStringList> files = getAudioFilesInDirectory(documents, true, useCache ? &sheets : nullptr);
    if (!files)
        return;
    sortPaths(*files);
    std::unique_ptr<LibraryCache> cache;
    if (useCache)
        cache = LibraryCache::open(documents, UserSettings::preferedEncoding());
    ScanStats stats;
    stats.cacheUsed = cache != nullptr;
    stats.cacheRebuilt = cache && cache->wasRebuilt();
    PlayableItemList items;
    items.reserve(std::max<qsizetype>(100, files->size()));
    int sincePause = 0;
    bool stale = false;
    for (const QString &path : *files) {
        LibraryCache::FileKey key;
        const bool keyed = cache && LibraryCache::keyOf(path, &key, &sheets);
        PlayableItemPtr item;
        const bool cached = keyed && cache->lookup(path, key, &item);
        if (!cached) {
            int encodingUsed = -1;
            item = PlayableItem::itemWithPath(path, &encodingUsed);
            stats.parsed++;
            if (keyed) {
                // The parse may have written the embedded sheet out (it found tracks). The
                // file itself keeps the key it had before it was read: a change meanwhile
                // is a change.
                LibraryCache::FileKey after;
                if (key.sheetSize < 0 && item && !item->subItems().isEmpty() && LibraryCache::keyOf(path, &after)) {
                    key.sheetSize = after.sheetSize;
                    key.sheetMtimeNs = after.sheetMtimeNs;
                }
                cache->record(path, key, encodingUsed, item);
            }
        } else {
            stats.cached++;
        }
        if (!item)
            continue;
        items.append(item);
        if ((stale = isStale(scanId)))
            break;
        if (!cached && ++sincePause == kItemsPerPause) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMilliseconds));
            stats.pauses++;
            sincePause = 0;
        }
    }
    if (stale || isStale(scanId))
        return;
    {
        std::lock_guard<std::mutex> lock(itemsLock_);
        items_ = items;
        lastStats_ = stats;
    }
    QMetaObject::invokeMethod(this, [this, scanId] { onLoadMusicsDone(scanId); }, Qt::QueuedConnection);
    // After the delivery: the list does not wait for the write.
    if (cache)
        cache->commit();
}

void MusicLibrary::onLoadMusicsDone(quint64 scanId)
{
    if (isStale(scanId))
        return;
    emit loadMusicsDone();
}

namespace {

bool hasAudioExtension(const char *name)
{
    const char *dot = strrchr(name, '.');
    if (dot == nullptr)
        return false;
    static const char *const kExtensions[] = {"flac", "ape", "wav", "aif", "m4a", "mp3", "wv", "aiff", "aifc"};
    for (const char *e : kExtensions)
        if (strcasecmp(dot + 1, e) == 0)
            return true;
    return false;
}

bool isSheetName(const char *name)
{
    const size_t n = strlen(name);
    return n > 4 && strcmp(name + n - 4, ".cue") == 0;
}

struct FolderKey {
    dev_t dev;
    ino_t ino;
    bool operator<(const FolderKey &o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

} // namespace

std::optional<QStringList> MusicLibrary::getAudioFilesInDirectory(const QString &folder, bool recursive)
{
    return getAudioFilesInDirectory(folder, recursive, nullptr);
}

std::optional<QStringList> MusicLibrary::getAudioFilesInDirectory(const QString &folder, bool recursive,
                                                                  QSet<QString> *sheets)
{
    QStringList result;
    std::set<FolderKey> visited;   // a link back to a parent would otherwise recurse forever
    // Folders still to walk; the first one must list, later ones may fail silently.
    std::vector<QByteArray> pending{QFile::encodeName(QDir::cleanPath(folder))};
    bool first = true;
    while (!pending.empty()) {
        QByteArray dirPath = std::move(pending.back());
        pending.pop_back();
        DIR *dir = opendir(dirPath.constData());
        if (dir == nullptr) {
            if (first)
                return std::nullopt;
            continue;
        }
        struct stat st;
        if (fstat(dirfd(dir), &st) == 0)
            visited.insert({st.st_dev, st.st_ino});
        first = false;
        std::vector<QByteArray> subfolders;
        while (struct dirent *e = readdir(dir)) {
            const char *name = e->d_name;
            if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
                continue;
            QByteArray path = dirPath + '/' + name;
            // Only regular files count: a FIFO or device named like music would block the
            // reader that opens it.
            bool isFile = e->d_type == DT_REG;
            if (e->d_type == DT_DIR || e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
                // Links are followed, as a file manager does; a folder is walked once.
                if (stat(path.constData(), &st) != 0)
                    continue;
                if (S_ISDIR(st.st_mode)) {
                    if (recursive && visited.insert({st.st_dev, st.st_ino}).second)
                        subfolders.push_back(path);
                    continue;
                }
                isFile = S_ISREG(st.st_mode);
            }
            if (isFile && hasAudioExtension(name))
                result.append(QFile::decodeName(path));
            else if (isFile && sheets != nullptr && isSheetName(name))
                sheets->insert(QFile::decodeName(path));
        }
        closedir(dir);
        // Walk in name order so that which of two routes to a folder wins is fixed.
        std::sort(subfolders.begin(), subfolders.end(), std::greater<QByteArray>());
        for (QByteArray &s : subfolders)
            pending.push_back(std::move(s));
    }
    return result;
}
