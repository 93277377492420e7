#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include "net/ftp_listing.h"
#include "net/ftp_paths.h"
#include "support/test_support.h"

namespace {

using FtpPaths::Target;

QString canonical(const std::string &path)
{
    char *real = realpath(path.c_str(), nullptr);
    QString result = QFile::decodeName(real);
    free(real);
    return result;
}

// root/Music/a.flac, root/out -> outside, root/in -> Music, root/loop -> root/..
class Tree {
public:
    Tree()
    {
        QDir().mkpath(QString::fromStdString(dir.path() + "/root/Music"));
        QDir().mkpath(QString::fromStdString(dir.path() + "/secret"));
        lmtest::writeFile(dir.path() + "/root/Music/a.flac", "x");
        lmtest::writeFile(dir.path() + "/secret/passwd", "x");
        symlink((dir.path() + "/secret").c_str(), (dir.path() + "/root/out").c_str());
        symlink((dir.path() + "/secret/passwd").c_str(), (dir.path() + "/root/outfile").c_str());
        symlink("Music", (dir.path() + "/root/in").c_str());
        symlink("..", (dir.path() + "/root/Music/up").c_str());
        root = canonical(dir.path() + "/root");
    }
    QString resolve(const QString &relative, Target target = Target::Followed, bool allowRoot = true) const
    {
        return FtpPaths::resolve(root + "/" + relative, root, true, target, allowRoot);
    }
    lmtest::TempDir dir;
    QString root;
};

TEST(FtpPaths, EveryWayOutOfTheServedFolderIsRefused)
{
    Tree t;
    for (const char *escape : {"..", "../..", "/../..", "Music/../..", "Music/../../secret/passwd", "out",
                               "out/passwd", "outfile", "in/../..", "nonexistent/../../secret"}) {
        SCOPED_TRACE(escape);
        EXPECT_TRUE(t.resolve(escape).isNull());
        EXPECT_TRUE(t.resolve(escape, Target::Entry, false).isNull());
    }
    // Absolute names outside the root, given as joined text without change-root.
    EXPECT_TRUE(FtpPaths::resolve("/etc/passwd", t.root, true, Target::Followed, true).isNull());
    // Hostile bytes never resolve, not even inside.
    EXPECT_TRUE(t.resolve("Music/a.flac\r\n250 ok").isNull());
    EXPECT_TRUE(t.resolve(QString("Music/a.flac") + QChar(0) + "x").isNull());
}

TEST(FtpPaths, NamesInsideResolveToCanonicalPaths)
{
    Tree t;
    EXPECT_EQ(t.resolve("Music/a.flac"), t.root + "/Music/a.flac");
    EXPECT_EQ(t.resolve("in/a.flac"), t.root + "/Music/a.flac");   // a link that stays inside
    EXPECT_EQ(t.resolve("//Music//./a.flac"), t.root + "/Music/a.flac");
    EXPECT_EQ(t.resolve("Music/up"), t.root);
    EXPECT_EQ(t.resolve("..\\..").toStdString(), (t.root + "/..\\..").toStdString());   // just a name here
    EXPECT_EQ(t.resolve("..."), t.root + "/...");
    EXPECT_EQ(t.resolve("new/deeper/file"), t.root + "/new/deeper/file");   // may not exist yet
    // An entry is the link itself, not what it points to.
    EXPECT_EQ(t.resolve("in", Target::Entry, false), t.root + "/in");
    // The served folder itself is never a target for deleting or renaming.
    EXPECT_TRUE(t.resolve("", Target::Entry, false).isNull());
    EXPECT_TRUE(t.resolve("Music/..", Target::Entry, false).isNull());
    EXPECT_EQ(t.resolve("Music/up", Target::Entry, false), t.root + "/Music/up");   // the link, inside
    EXPECT_EQ(t.resolve("", Target::Followed, true), t.root);
    // Without change-root every path is served.
    EXPECT_EQ(FtpPaths::resolve(t.root + "/out/passwd", t.root, false, Target::Followed, true),
              canonical(t.dir.path() + "/secret/passwd"));
}

TEST(FtpPaths, InsideIsAComponentTestNotATextPrefix)
{
    EXPECT_TRUE(FtpPaths::isInside("/a/root", "/a/root"));
    EXPECT_TRUE(FtpPaths::isInside("/a/root/x", "/a/root"));
    EXPECT_FALSE(FtpPaths::isInside("/a/rootkit", "/a/root"));
    EXPECT_FALSE(FtpPaths::isInside("/a", "/a/root"));
    EXPECT_TRUE(FtpPaths::isInside("/anything", "/"));
}

TEST(FtpListing, ListsVisibleEntriesLikeLsL)
{
    lmtest::TempDir dir;
    const std::string d = dir.path();
    lmtest::writeFile(d + "/five.txt", "12345");
    lmtest::writeFile(d + "/.hidden", "x");
    lmtest::writeFile(d + "/all.sh", "");
    QDir().mkpath(QString::fromStdString(d + "/sub"));
    lmtest::writeFile(d + "/sub/1", "");
    lmtest::writeFile(d + "/sub/2", "");
    lmtest::writeFile(d + "/sub/.3", "");
    QDir().mkpath(QString::fromStdString(d + "/empty"));
    lmtest::writeFile(d + "/bad\nname", "x");
    chmod((d + "/five.txt").c_str(), 0644);
    chmod((d + "/all.sh").c_str(), 0777);
    chmod((d + "/sub").c_str(), 0755);
    chmod((d + "/empty").c_str(), 0700);
    symlink("five.txt", (d + "/link").c_str());
    struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};   // 2023-11-14 22:13:20 UTC
    utimensat(AT_FDCWD, (d + "/five.txt").c_str(), times, 0);

    QString text = FtpListing::createList(QString::fromStdString(d));
    ASSERT_TRUE(text.startsWith("total 5\r\n")) << text.toStdString();
    QStringList lines = text.mid(9).split('\n');
    ASSERT_EQ(lines.size(), 6);   // five entries, then what follows the last "\n"
    EXPECT_EQ(lines.last(), "");
    auto lineFor = [&](const QString &name) {
        for (const QString &l : lines)
            if (l.endsWith(" " + name))
                return l;
        return QString();
    };
    QString date = QLocale(QLocale::English).toString(QDateTime::fromSecsSinceEpoch(1700000000), "MMM dd HH:mm");
    QRegularExpression five("^-rw-r--r--     1 \\S+ \\S+          5 " + QRegularExpression::escape(date) + " five.txt$");
    EXPECT_TRUE(five.match(lineFor("five.txt")).hasMatch()) << lineFor("five.txt").toStdString();
    EXPECT_TRUE(lineFor("all.sh").startsWith("-rwxrwxrwx     1 "));
    EXPECT_TRUE(lineFor("sub").startsWith("drwxr-xr-x     3 ")) << lineFor("sub").toStdString();
    EXPECT_TRUE(lineFor("empty").startsWith("drwx------     1 "));
    EXPECT_TRUE(lineFor("link").startsWith("-rwxrwxrwx "));   // the link itself, not followed
    EXPECT_FALSE(text.contains(".hidden"));
    EXPECT_FALSE(text.contains("bad"));
}

TEST(FtpListing, MissingFoldersAndFilesListAsEmptyAndNamesAreComposed)
{
    lmtest::TempDir dir;
    EXPECT_EQ(FtpListing::createList(QString::fromStdString(dir.path())), "total 0\r\n");
    EXPECT_EQ(FtpListing::createList(QString::fromStdString(dir.path() + "/none")), "total 0\r\n");
    lmtest::writeFile(dir.path() + "/f", "x");
    EXPECT_EQ(FtpListing::createList(QString::fromStdString(dir.path() + "/f")), "total 0\r\n");
    EXPECT_EQ(FtpListing::createList(QString()), "total 0\r\n");
    // "é" stored decomposed goes out composed.
    lmtest::writeFile(dir.path() + "/e\xcc\x81.flac", "");
    QString text = FtpListing::createList(QString::fromStdString(dir.path()));
    EXPECT_TRUE(text.contains(QString::fromUtf8(" \xc3\xa9.flac\n"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QString::fromUtf8("e\xcc\x81")));
}

} // namespace
