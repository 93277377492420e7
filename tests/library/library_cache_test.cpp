// The library cache: a scan that takes unchanged files from the cache gives exactly the
// items of a scan that parses every file, whatever changed in between and whatever
// happened to the cache file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "fake_audio.h"
#include "library/library_cache.h"
#include "library/music_library.h"
#include "library/settings_keys.h"
#include "platform/core/file_system_object.h"
#include "platform/core/user_defaults.h"
#include "support/test_support.h"

namespace {

// Every field of an item and its tracks, written out independently of the cache's own
// encoding.
std::string dump(const PlayableItemList &items)
{
    std::string out;
    auto text = [](const QString &s) { return s.isNull() ? std::string("<null>") : "'" + s.toStdString() + "'"; };
    auto one = [&](const PlayableItem &i) {
        out += text(i.title()) + " " + text(i.tagtitle()) + " " + text(i.path()) + " own=" +
               std::to_string(i.ownFile()) + " track=" + std::to_string(i.trackNumber()) +
               " start=" + std::to_string(i.startTime()) + " total=" + std::to_string(i.totalTime()) +
               " type=" + std::to_string(i.audioType()) + " album=" + text(i.album()) + " artist=" +
               text(i.artist()) + " genre=" + text(i.genre()) + " year=" + std::to_string(i.year()) +
               " rate=" + std::to_string(i.sampleRate()) + " bits=" + std::to_string(i.bitsPerSample()) +
               " pic=" + std::to_string(i.hasEmbeddedCoverImage()) + " cover=" + text(i.coverImagePath()) +
               " played=" + std::to_string(i.playedCount()) + "\n";
    };
    for (const PlayableItemPtr &item : items) {
        one(*item);
        for (const PlayableItemPtr &track : item->subItems())
            one(*track);
    }
    return out;
}

class LibraryCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lmtest::ensureApp();
        FileSystemObject::setDocumentsDirectory(q(""));
    }
    void TearDown() override { FileSystemObject::setDocumentsDirectory(QString()); }
    QString q(const std::string &name) const
    {
        return QString::fromStdString(name.empty() ? docs.path() : docs.file(name));
    }
    std::string cacheFile() const { return LibraryCache::pathFor(q("")).toStdString(); }

    // Files an hour old, so that the cache trusts what it records about them.
    void age(const std::string &path, int secondsAgo = 3600)
    {
        struct timespec times[2];
        clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= secondsAgo;
        times[1] = times[0];
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
    }
    std::string add(const std::string &name, const fakeaudio::Spec &spec = fakeaudio::Spec())
    {
        QDir().mkpath(QFileInfo(q(name)).path());
        audio.add(docs.file(name), spec);
        age(docs.file(name));
        return docs.file(name);
    }

    PlayableItemList scan(bool cached, MusicLibrary::ScanStats *stats = nullptr)
    {
        MusicLibrary library;
        library.setCacheEnabled(cached);
        library.loadMusicsCore(library.loadId());
        EXPECT_TRUE(lmtest::waitUntil([&] { return library.runningScans() == 0; }, 10000));
        if (stats != nullptr)
            *stats = library.lastScanStats();
        return library.playableItems();
    }
    // A cached scan, checked against a scan that parses everything; answers its stats.
    MusicLibrary::ScanStats scanBoth(const std::string &when)
    {
        MusicLibrary::ScanStats stats;
        const std::string cached = dump(scan(true, &stats));
        const std::string parsed = dump(scan(false));
        EXPECT_EQ(cached, parsed) << when;
        return stats;
    }

    lmtest::TempDir config;
    lmtest::ScopedEnv env{"XDG_CONFIG_HOME", config.path()};
    lmtest::TempDir cache;
    lmtest::ScopedEnv cacheEnv{"XDG_CACHE_HOME", cache.path()};
    lmtest::TempDir docs;
    fakeaudio::Scope audio;
};

const char kSheet[] = "PERFORMER \"Disc Artist\"\nTITLE \"Disc\"\n"
                      "TRACK 01 AUDIO\n  TITLE \"One\"\n  INDEX 01 00:00:00\n"
                      "TRACK 02 AUDIO\n  TITLE \"Two\"\n  INDEX 01 01:00:00\n";

TEST_F(LibraryCacheTest, CachedAndParsedScansAgreeAfterEveryKindOfChange)
{
    fakeaudio::Spec tagged;
    tagged.title = "Song";
    tagged.artist = "Band";
    tagged.genre = "";
    tagged.year = 1999;
    tagged.track = 3;
    tagged.picture = {1, 2, 3};
    tagged.sampleRate = 96000;
    tagged.bits = 24;
    tagged.duration = 123.25;
    add("Album/a.flac", tagged);
    add("Album/b.wav");
    add("Other/c.mp3", tagged);
    fakeaudio::Spec image;
    image.duration = 200;
    add("Disc/disc.flac", image);
    lmtest::writeFile(docs.file("Disc/disc.cue"), kSheet);
    age(docs.file("Disc/disc.cue"));
    fakeaudio::Spec embedded;
    embedded.cuesheet = kSheet;
    embedded.duration = 150;
    add("Disc/inner.flac", embedded);
    fakeaudio::Spec legacy;
    legacy.title = "\xcf\xf0\xe8\xe2\xe5\xf2";   // not UTF-8: read in the chosen encoding
    add("Legacy/l.mp3", legacy);
    add("Legacy/plain.mp3", tagged);
    lmtest::writeFile(docs.file("broken.flac"), "refused by the readers");
    age(docs.file("broken.flac"));

    MusicLibrary::ScanStats stats = scanBoth("first scan");
    EXPECT_EQ(stats.parsed, 8);
    EXPECT_TRUE(stats.cacheUsed);
    // The first scan wrote the embedded sheet out beside its image.
    ASSERT_TRUE(QFile::exists(q("Disc/inner.flac.cue")));
    age(docs.file("Disc/inner.flac.cue"));

    stats = scanBoth("nothing changed");
    EXPECT_EQ(stats.parsed, 1) << "only the sheet written by the last scan is new";
    stats = scanBoth("nothing changed, again");
    EXPECT_EQ(stats.parsed, 0);
    EXPECT_EQ(stats.cached, 8);

    // A tag rewritten in place: the same size, another time.
    tagged.title = "Renamed Song";
    audio.add(docs.file("Album/a.flac"), tagged);
    age(docs.file("Album/a.flac"), 1800);
    stats = scanBoth("tag rewritten in place");
    EXPECT_EQ(stats.parsed, 1);

    // Another file of the same size and time in its place: only its inode tells.
    struct stat before;
    ASSERT_EQ(stat(docs.file("Other/c.mp3").c_str(), &before), 0);
    lmtest::writeFile(docs.file("Other/new.tmp"), "audio");
    struct timespec times[2] = {before.st_mtim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, docs.file("Other/new.tmp").c_str(), times, 0), 0);
    ASSERT_EQ(rename(docs.file("Other/new.tmp").c_str(), docs.file("Other/c.mp3").c_str()), 0);
    fakeaudio::Spec replaced;
    replaced.title = "Replacement";
    {
        std::lock_guard<std::mutex> g(fakeaudio::registry().lock);
        fakeaudio::registry().files[docs.file("Other/c.mp3")] = replaced;
    }
    stats = scanBoth("file replaced by one of equal size and time");
    EXPECT_EQ(stats.parsed, 1);

    // The sheet beside the image edited.
    std::string sheet = kSheet;
    sheet.replace(sheet.find("\"Two\""), 5, "\"Deux\"");
    lmtest::writeFile(docs.file("Disc/disc.cue"), sheet);
    age(docs.file("Disc/disc.cue"), 1700);
    stats = scanBoth("sheet edited");
    EXPECT_EQ(stats.parsed, 1);

    ASSERT_EQ(unlink(docs.file("Album/b.wav").c_str()), 0);
    scanBoth("file deleted");

    ASSERT_EQ(rename(docs.file("Legacy").c_str(), docs.file("Old Legacy").c_str()), 0);
    {
        std::lock_guard<std::mutex> g(fakeaudio::registry().lock);
        fakeaudio::registry().files[docs.file("Old Legacy/l.mp3")] = legacy;
        fakeaudio::registry().files[docs.file("Old Legacy/plain.mp3")] = tagged;
    }
    stats = scanBoth("folder renamed");
    EXPECT_EQ(stats.parsed, 2);

    // The legacy title is decoded anew; items whose texts are all UTF-8 are not opened.
    const PlayableItemList western = scan(true);
    UserDefaults::setInteger(SettingsKeys::PreferedEnc, 1282);   // Russian
    stats = scanBoth("encoding changed");
    EXPECT_EQ(stats.parsed, 1);
    const PlayableItemList russian = scan(true);
    auto titleOf = [](const PlayableItemList &items, const char *file) {
        for (const PlayableItemPtr &i : items)
            if (i->path().endsWith(QLatin1String(file)))
                return i->title();
        return QString();
    };
    EXPECT_EQ(titleOf(russian, "l.mp3"), QString::fromUtf8("Привет"));
    EXPECT_NE(titleOf(western, "l.mp3"), titleOf(russian, "l.mp3"));
}

TEST_F(LibraryCacheTest, UnchangedFilesAreNotOpenedAndOnlyParsedItemsPause)
{
    for (int i = 0; i < 25; i++)
        add("f" + std::to_string(100 + i) + ".flac");
    MusicLibrary::ScanStats stats;
    scan(true, &stats);
    EXPECT_EQ(stats.parsed, 25);
    EXPECT_EQ(stats.pauses, 2);
    EXPECT_EQ(audio.totalOpens(), 25);

    const PlayableItemList again = scan(true, &stats);
    EXPECT_EQ(again.size(), 25);
    EXPECT_EQ(stats.cached, 25);
    EXPECT_EQ(stats.pauses, 0);
    EXPECT_EQ(audio.totalOpens(), 25) << "a cached file was opened";

    // Without the cache every file is opened and the cache is left as it was.
    const auto size = QFileInfo(QString::fromStdString(cacheFile())).size();
    scan(false, &stats);
    EXPECT_EQ(stats.parsed, 25);
    EXPECT_FALSE(stats.cacheUsed);
    EXPECT_EQ(QFileInfo(QString::fromStdString(cacheFile())).size(), size);

    // A file changed a moment ago is parsed again on the next scan too: a second change
    // within the same clock tick would leave its times unchanged.
    audio.add(docs.file("f100.flac"));
    scan(true, &stats);
    EXPECT_EQ(stats.parsed, 1);
    scan(true, &stats);
    EXPECT_EQ(stats.parsed, 1);
    age(docs.file("f100.flac"));
    scan(true, &stats);
    scan(true, &stats);
    EXPECT_EQ(stats.parsed, 0);
}

TEST_F(LibraryCacheTest, ABadCacheIsDiscardedAndRebuilt)
{
    for (int i = 0; i < 12; i++) {
        fakeaudio::Spec spec;
        spec.title = "Title " + std::to_string(i);
        add("d" + std::to_string(i) + "/f.flac", spec);
    }
    const std::string expected = dump(scan(false));
    scan(true);
    const std::string file = cacheFile();
    ASSERT_TRUE(QFile::exists(QString::fromStdString(file)));
    const std::vector<uint8_t> good = lmtest::readFile(file);
    ASSERT_GT(good.size(), 4096u);

    auto check = [&](const std::string &what) {
        MusicLibrary::ScanStats stats;
        EXPECT_EQ(dump(scan(true, &stats)), expected) << what;
        EXPECT_TRUE(stats.cacheRebuilt) << what;
        EXPECT_EQ(stats.parsed, 12) << what;
        scan(true, &stats);
        EXPECT_EQ(stats.cached, 12) << what << ": the rebuilt cache is used";
    };

    lmtest::writeFile(file, std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2)));
    check("truncated");
    lmtest::writeFile(file, std::string(20000, 'x'));
    check("garbage");
    std::vector<uint8_t> scrambled = lmtest::readFile(file);
    for (size_t i = 100; i < scrambled.size(); i += 7)
        scrambled[i] ^= 0x5a;
    lmtest::writeFile(file, scrambled);
    check("scrambled after the header");

    // Unreadable: a folder where the file should be (refused even to root), and a file
    // without permissions.
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
    check("a folder in its place");
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(file.c_str(), 0), 0);
        check("no permission to read");
    }

    // Another schema version.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-version"));
        db.setDatabaseName(QString::fromStdString(file));
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QStringLiteral("PRAGMA user_version = 99"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-version"));
    check("another version");
}

TEST_F(LibraryCacheTest, ADamagedRowIsParsedAgain)
{
    fakeaudio::Spec spec;
    spec.title = "Kept";
    add("a.flac", spec);
    add("b.flac", spec);
    const std::string expected = dump(scan(false));
    scan(true);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-row"));
        db.setDatabaseName(QString::fromStdString(cacheFile()));
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.prepare(QStringLiteral("UPDATE items SET item = ? WHERE path = ?")));
        QByteArray item = LibraryCache::encodeItem(*PlayableItem::itemWithPath(q("a.flac")));
        item[item.size() / 2] = char(item[item.size() / 2] ^ 1);
        query.addBindValue(item);
        query.addBindValue(q("a.flac"));
        ASSERT_TRUE(query.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-row"));
    MusicLibrary::ScanStats stats;
    EXPECT_EQ(dump(scan(true, &stats)), expected);
    EXPECT_EQ(stats.parsed, 1);
    EXPECT_FALSE(stats.cacheRebuilt);
}

} // namespace
