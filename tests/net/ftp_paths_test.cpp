#include <cstdlib>

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

TEST(FtpPaths, ResolvesThroughTheFileSystemAndRefusesWhatLeavesTheRoot)
{
    lmtest::TempDir dir;
    const std::string d = dir.path();
    QDir().mkpath(QString::fromStdString(d + "/root/Music"));
    QDir().mkpath(QString::fromStdString(d + "/secret"));
    symlink((d + "/secret").c_str(), (d + "/root/out").c_str());
    symlink("Music", (d + "/root/in").c_str());
    char *real = realpath((d + "/root").c_str(), nullptr);
    const QString root = QFile::decodeName(real);
    free(real);
    auto resolve = [&](const QString &name, Target target = Target::Followed, bool allowRoot = true) {
        return FtpPaths::resolve(root + "/" + name, root, true, target, allowRoot);
    };

    for (const char *escape : {"..", "Music/../..", "out", "out/x", "in/../..", "nonexistent/../../secret"}) {
        EXPECT_TRUE(resolve(escape).isNull()) << escape;
        EXPECT_TRUE(resolve(escape, Target::Entry, false).isNull()) << escape;
    }
    EXPECT_TRUE(resolve("Music/a\r\n250 ok").isNull());
    EXPECT_EQ(resolve("in/a.flac"), root + "/Music/a.flac");           // a link that stays inside
    EXPECT_EQ(resolve("//Music//./new/file"), root + "/Music/new/file");
    EXPECT_EQ(resolve("in", Target::Entry, false), root + "/in");        // the entry, not its target
    EXPECT_TRUE(resolve("Music/..", Target::Entry, false).isNull());   // the root itself
    EXPECT_EQ(resolve("", Target::Followed, true), root);
    // Without change-root every path is served.
    EXPECT_FALSE(FtpPaths::resolve(root + "/out", root, false, Target::Followed, true).isNull());

    EXPECT_TRUE(FtpPaths::isInside("/a/root/x", "/a/root"));
    EXPECT_FALSE(FtpPaths::isInside("/a/rootkit", "/a/root"));
    EXPECT_TRUE(FtpPaths::isInside("/anything", "/"));
}

TEST(FtpListing, ListsVisibleEntriesLikeLsL)
{
    lmtest::TempDir dir;
    const std::string d = dir.path();
    EXPECT_EQ(FtpListing::createList(QString::fromStdString(d)), "total 0\r\n");
    EXPECT_EQ(FtpListing::createList(QString::fromStdString(d + "/none")), "total 0\r\n");
    lmtest::writeFile(d + "/five.txt", "12345");
    lmtest::writeFile(d + "/.hidden", "x");
    lmtest::writeFile(d + "/all.sh", "");
    lmtest::writeFile(d + "/bad\nname", "x");
    lmtest::writeFile(d + "/e\xcc\x81", "");   // decomposed é
    QDir().mkpath(QString::fromStdString(d + "/sub"));
    for (const char *inside : {"/sub/1", "/sub/2", "/sub/.3"})
        lmtest::writeFile(d + inside, "");
    chmod((d + "/five.txt").c_str(), 0644);
    chmod((d + "/all.sh").c_str(), 0777);
    chmod((d + "/sub").c_str(), 0755);
    symlink("five.txt", (d + "/link").c_str());
    struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
    utimensat(AT_FDCWD, (d + "/five.txt").c_str(), times, 0);

    QString text = FtpListing::createList(QString::fromStdString(d));
    ASSERT_TRUE(text.startsWith("total 5\r\n")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("\n"));
    QString date = QLocale(QLocale::English).toString(QDateTime::fromSecsSinceEpoch(1700000000), "MMM dd HH:mm");
    QString owner = text.section('\n', 1, 1).section(' ', 2, 3, QString::SectionSkipEmpty);
    EXPECT_TRUE(text.contains("-rw-r--r--     1 " + owner + "          5 " + date + " five.txt\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("-rwxrwxrwx     1 ")) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("\ndrwxr-xr-x     3 [^\n]* sub\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("\n-rwxrwxrwx [^\n]* link\n")));   // not followed
    EXPECT_TRUE(text.contains(QString::fromUtf8(" \xc3\xa9\n")));                  // composed
    EXPECT_FALSE(text.contains(".hidden"));
    EXPECT_FALSE(text.contains("bad"));
}

} // namespace
