#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include "library/playlist_file.h"
#include "platform/core/file_system_object.h"
#include "support/test_support.h"

namespace {

class PlaylistFileTest : public ::testing::Test {
protected:
    void SetUp() override { FileSystemObject::setDocumentsDirectory(QString::fromStdString(docs.path())); }
    void TearDown() override { FileSystemObject::setDocumentsDirectory(QString()); }
    std::string read(const char *name) { return lmtest::readText(docs.file(name)); }

    lmtest::TempDir docs;
};

QList<QByteArray> entries(const PlaylistLines &lines)
{
    QList<QByteArray> all;
    for (int i = 0; i < lines.count(); i++)
        all << lines.entryAt(i);
    return all;
}

TEST_F(PlaylistFileTest, CommentsBlankLinesAndLineEndsAreNotEntries)
{
    lmtest::writeFile(docs.file("a.m3u"), "#EXTM3U\n#EXTINF:123,Artist - Title\n  \n;comment\n"
                                          "\tMusic/a.flac\n/abs/b.flac \n\n");
    PlaylistLines lines = PlaylistLines::read("a.m3u");   // relative: in the documents folder
    EXPECT_EQ(entries(lines), (QList<QByteArray>{"Music/a.flac", "/abs/b.flac "}));
    EXPECT_TRUE(lines.entryAt(2).isNull());
    EXPECT_TRUE(lines.entryAt(-1).isNull());

    // CR LF, a byte-order mark and a last line without its line feed change nothing.
    lmtest::writeFile(docs.file("crlf.m3u"), "\xEF\xBB\xBFMusic/a.flac\r\n#x\r\n/abs/b.flac \r\nlast");
    EXPECT_EQ(entries(PlaylistLines::read(QString::fromStdString(docs.file("crlf.m3u")))),
              (QList<QByteArray>{"Music/a.flac", "/abs/b.flac ", "last"}));

    EXPECT_EQ(PlaylistLines::read("missing.m3u").count(), 0);
    EXPECT_EQ(PlaylistLines::read(QString()).count(), 0);
    EXPECT_EQ(PlaylistLines::read(QString::fromStdString(docs.path())).count(), 0);   // a folder
    ASSERT_EQ(mkfifo(docs.file("fifo.m3u").c_str(), 0644), 0);
    EXPECT_EQ(PlaylistLines::read("fifo.m3u").count(), 0);   // does not block
}

TEST_F(PlaylistFileTest, LongLinesArriveInPiecesEachJudgedByItself)
{
    // 1200 bytes: 999, then the rest as a line of its own; a "#" at the cut hides the tail.
    std::string line(999, 'a');
    std::string text = line + "tail\n" + std::string(999, 'b') + "#hidden\n";
    PlaylistLines lines = PlaylistLines::fromBytes(QByteArray::fromStdString(text));
    ASSERT_EQ(lines.count(), 3);
    EXPECT_EQ(lines.entryAt(0).size(), 999);
    EXPECT_EQ(lines.entryAt(1), "tail");
    EXPECT_EQ(lines.entryAt(2).size(), 999);

    // A zero byte ends the entry.
    lines = PlaylistLines::fromBytes(QByteArray("x.flac\0junk\n", 12));
    EXPECT_EQ(lines.entryAt(0), "x.flac");
}

TEST_F(PlaylistFileTest, CreateAppendRewriteRenameDeleteAndList)
{
    EXPECT_EQ(PlaylistStore::create("Road"), PlaylistStore::Done);
    EXPECT_EQ(read("Road.m3u"), "");
    lmtest::writeFile(docs.file("Keep.m3u"), "/x.flac\n");
    EXPECT_EQ(PlaylistStore::create("Keep"), PlaylistStore::AlreadyExists);
    EXPECT_EQ(read("Keep.m3u"), "/x.flac\n");

    ASSERT_TRUE(PlaylistStore::append("Road.m3u", {"/d/a.flac", "/d/b.flac"}));
    EXPECT_EQ(read("Road.m3u"), "\n/d/a.flac\n/d/b.flac\n");
    ASSERT_TRUE(PlaylistStore::append("Road.m3u", {"/d/\xc3\xa9.flac"}));
    EXPECT_EQ(read("Road.m3u"), "\n/d/a.flac\n/d/b.flac\n\n/d/\xc3\xa9.flac\n");

    ASSERT_TRUE(PlaylistStore::rewrite("Road.m3u", {"/d/b.flac"}));
    EXPECT_EQ(read("Road.m3u"), "\n/d/b.flac\n");

    EXPECT_EQ(PlaylistStore::rename("Road.m3u", "Keep"), PlaylistStore::AlreadyExists);
    EXPECT_EQ(read("Keep.m3u"), "/x.flac\n");
    EXPECT_EQ(PlaylistStore::rename("Road.m3u", "Trip"), PlaylistStore::Done);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(docs.file("Road.m3u"))));
    EXPECT_EQ(read("Trip.m3u"), "\n/d/b.flac\n");
    EXPECT_EQ(PlaylistStore::rename("Gone.m3u", "Other"), PlaylistStore::Failed);

    lmtest::writeFile(docs.file("notes.txt"), "x");
    lmtest::writeFile(docs.file("oddm3u"), "x");   // the dot is not required
    auto names = PlaylistStore::list();
    ASSERT_TRUE(names);
    names->sort();
    EXPECT_EQ(*names, (QStringList{"Keep.m3u", "Trip.m3u", "oddm3u"}));

    EXPECT_TRUE(PlaylistStore::remove("Trip.m3u"));
    EXPECT_TRUE(PlaylistStore::remove("Keep.m3u"));
    EXPECT_TRUE(PlaylistStore::remove("oddm3u"));
    EXPECT_FALSE(PlaylistStore::list());
}

TEST_F(PlaylistFileTest, AFailedWriteLeavesTheOldListWhole)
{
    lmtest::writeFile(docs.file("L.m3u"), "\n/d/a.flac\n/d/b.flac\n");
    // Folder permissions bind only a user without root's powers.
    lmtest::runUnprivileged({docs.path()}, [&] {
        // A folder that takes no new file: the replacement cannot be made, nothing is truncated.
        ASSERT_EQ(chmod(docs.path().c_str(), 0555), 0);
        EXPECT_FALSE(PlaylistStore::rewrite("L.m3u", {"/d/b.flac"}));
        EXPECT_FALSE(PlaylistStore::append("L.m3u", {"/d/c.flac"}));
        EXPECT_EQ(PlaylistStore::create("New"), PlaylistStore::Failed);
        chmod(docs.path().c_str(), 0755);
    });
    EXPECT_EQ(read("L.m3u"), "\n/d/a.flac\n/d/b.flac\n");
    // And no temporary file was left behind.
    EXPECT_EQ(QDir(QString::fromStdString(docs.path())).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(PlaylistFileTest, AFullDiskLeavesTheOldListWhole)
{
    // A file size limit stands in for a full disk: the write of the new file fails midway.
    std::string old = "\n" + std::string(200, 'a') + ".flac\n";
    lmtest::writeFile(docs.file("L.m3u"), old);
    bool rewritten, appended;
    {
        lmtest::FileSizeLimit full(100);
        rewritten = PlaylistStore::rewrite("L.m3u", {QString(300, 'b')});
        appended = PlaylistStore::append("L.m3u", {QString(10, 'c')});
    }
    EXPECT_FALSE(rewritten);
    EXPECT_FALSE(appended);
    EXPECT_EQ(read("L.m3u"), old);
    EXPECT_EQ(QDir(QString::fromStdString(docs.path())).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(PlaylistEdits, RemovalAndMovesFollowThePositions)
{
    const QStringList p{"a", "b", "c", "d"};
    EXPECT_EQ(PlaylistStore::pathsByRemoving(p, "b"), (QStringList{"a", "c", "d"}));
    EXPECT_EQ(PlaylistStore::pathsByMoving(p, 0, 2), (QStringList{"b", "c", "a", "d"}));   // after c
    EXPECT_EQ(PlaylistStore::pathsByMoving(p, 3, 1), (QStringList{"a", "d", "b", "c"}));   // before b
    EXPECT_EQ(PlaylistStore::pathsByMoving(p, 1, 3), (QStringList{"a", "c", "d", "b"}));
    EXPECT_EQ(PlaylistStore::pathsByMoving(p, 1, 9), (QStringList{"a", "c", "d", "b"}));
    EXPECT_EQ(PlaylistStore::pathsByMoving(p, 7, 0), p);
}

TEST(PlaylistFixtures, RealListsFromOtherProjects)
{
    LMTEST_REQUIRE_FIXTURES("m3u");
    const QString dir = QString::fromStdString(lmtest::fixturesDir() + "/m3u/");
    PlaylistLines full = PlaylistLines::read(dir + "atl-playlist_fullPath.m3u");
    ASSERT_GT(full.count(), 0);
    for (int i = 0; i < full.count(); i++)
        EXPECT_FALSE(full.entryAt(i).startsWith('#'));
    PlaylistLines simple = PlaylistLines::read(dir + "atl-playlist_simple.m3u");
    EXPECT_EQ(simple.count(), 2);
    EXPECT_TRUE(simple.entryAt(1).startsWith("http"));   // last line, no line feed
}

} // namespace
