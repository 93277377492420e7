// The library: every playable file under the documents folder, rebuilt from scratch by a
// scan. The application delegate owns one and forwards its scan requests here.
//
// A scan runs on a thread of its own: it walks the documents folder, builds one
// PlayableItem per audio file (cue tracks hang under their image as sub-items), sorts by
// path and replaces the library as a whole. Files that have not changed since an earlier
// scan come from the library cache (LibraryCache) without being opened; the items are the
// same either way. Each request raises the scan generation
// (loadId); a scan whose id is below it is stale, stops after its current file and
// delivers nothing. Completion is posted to the main thread, which tests staleness again
// before announcing it (loadMusicsDone).
//
// Threads: construct, request and read on the main thread; playableItems() may be read
// from any thread. The destructor makes every scan stale and waits for the scan threads,
// so none outlives the object (or the process).
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <QObject>
#include <QSet>
#include <QStringList>

#include "library/playable_item.h"

class MusicLibrary : public QObject {
    Q_OBJECT

public:
    explicit MusicLibrary(QObject *parent = nullptr);
    ~MusicLibrary() override;

    // The result of the last completed scan; empty until one completes.
    PlayableItemList playableItems() const;
    void setPlayableItems(const PlayableItemList &items);

    // Requests a scan: raises the generation and starts a scan thread. A running scan is
    // not stopped; it notices that it is stale by itself.
    void loadMusics();
    // The generation; activation resets it to 0, after which an older scan whose id is at
    // least the new value still counts as current.
    quint64 loadId() const { return loadId_.load(); }
    void resetLoadId() { loadId_.store(0); }
    bool isStale(quint64 scanId) const;
    // Scan threads still running (tests and tools wait on it).
    int runningScans() const { return running_.load(); }
    // Whether scans use the library cache (on by default).
    void setCacheEnabled(bool enabled) { cacheEnabled_.store(enabled); }
    bool cacheEnabled() const { return cacheEnabled_.load(); }

    // What the last completed scan did.
    struct ScanStats {
        int parsed = 0;    // files opened and parsed
        int cached = 0;    // files taken from the cache
        int pauses = 0;    // pauses taken
        bool cacheRebuilt = false;   // a bad cache was discarded
        bool cacheUsed = false;
    };
    ScanStats lastScanStats() const;

    // The scan itself, as run on a scan thread (callable directly for tests).
    void loadMusicsCore(quint64 scanId);

    // Paths of the files with an audio extension under `folder` (any case: flac, ape,
    // wav, aif, m4a, mp3, wv, aiff); hidden entries included, no folder excluded. A
    // folder reached a second time (through a symbolic link) is not walked again. None
    // when `folder` cannot be listed; an unreadable subfolder adds nothing.
    static std::optional<QStringList> getAudioFilesInDirectory(const QString &folder, bool recursive);
    // The same walk; also collects into *sheets the paths of the files named *.cue met on
    // the way, so that the scan need not look for sheets one by one.
    static std::optional<QStringList> getAudioFilesInDirectory(const QString &folder, bool recursive,
                                                               QSet<QString> *sheets);
    // Whole paths, case-insensitively (upper and lower case sort together).
    static void sortPaths(QStringList &paths);

    // Parsed items between pauses, and the pause that keeps playback and the interface
    // responsive while a scan opens hundreds of files. Items from the cache read nothing
    // and do not count.
    static constexpr int kItemsPerPause = 10;
    static constexpr int kPauseMilliseconds = 10;

signals:
    // A scan completed and was still current on the main thread; playableItems() holds it.
    void loadMusicsDone();

private:
    struct ScanThread {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void onLoadMusicsDone(quint64 scanId);
    void reapFinishedThreads();

    mutable std::mutex itemsLock_;
    PlayableItemList items_;
    std::atomic<quint64> loadId_{0};
    std::atomic<bool> closing_{false};
    std::atomic<int> running_{0};
    std::atomic<bool> cacheEnabled_{true};
    ScanStats lastStats_;   // under itemsLock_
    std::list<std::unique_ptr<ScanThread>> threads_;
};
