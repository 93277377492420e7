// Resolution beneath the served root (both ways: the kernel's and the portable walk),
// client names taken as text, names found in the form a listing shows them, and the
// listing itself.
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
#include "net/ftp_root.h"
#include "support/test_support.h"

namespace {

using Walk = FtpRoot::Walk;

class FtpRootWalk : public ::testing::TestWithParam<Walk> {
protected:
    void SetUp() override
    {
        if (GetParam() == Walk::Kernel && !FtpRoot::kernelResolves())
            GTEST_SKIP() << "openat2 with RESOLVE_BENEATH is not available here";
        saved_ = FtpRoot::walk();
        FtpRoot::setWalk(GetParam());
    }
    void TearDown() override { FtpRoot::setWalk(saved_); }

    // Where an opened path really is, or "" when it could not be opened.
    static std::string opened(const FtpRoot &root, const QByteArray &path, int flags = O_PATH)
    {
        int fd = root.open(path, flags);
        if (fd < 0)
            return "";
        char target[4096];
        ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
        close(fd);
        return n > 0 ? std::string(target, size_t(n)) : "?";
    }

    Walk saved_ = Walk::Portable;
};

TEST_P(FtpRootWalk, FollowsLinksOnlyWhileTheyStayBeneath)
{
    lmtest::TempDir dir;
    const std::string d = dir.path();
    QDir().mkpath(QString::fromStdString(d + "/root/Music/deep"));
    QDir().mkpath(QString::fromStdString(d + "/secret"));
    lmtest::writeFile(d + "/root/Music/a.flac", "a");
    lmtest::writeFile(d + "/secret/passwd", "x");
    symlink("Music", (d + "/root/in").c_str());
    symlink("../../Music/a.flac", (d + "/root/Music/deep/back").c_str());
    symlink("../../secret", (d + "/root/Music/out").c_str());
    symlink((d + "/root/Music").c_str(), (d + "/root/absolute").c_str());   // inside, but absolute
    symlink("loop", (d + "/root/loop").c_str());
    symlink(".", (d + "/root/Music/here").c_str());
    char *real = realpath((d + "/root").c_str(), nullptr);
    const std::string r = real;
    free(real);
    FtpRoot root(QString::fromStdString(r));
    ASSERT_TRUE(root.isOpen());

    EXPECT_EQ(opened(root, ""), r);
    EXPECT_EQ(opened(root, "in/a.flac"), r + "/Music/a.flac");
    EXPECT_EQ(opened(root, "Music/deep/back"), r + "/Music/a.flac");
    EXPECT_EQ(opened(root, "Music/here/here/a.flac"), r + "/Music/a.flac");
    EXPECT_EQ(opened(root, "in/deep/../a.flac"), r + "/Music/a.flac");   // ".." inside stays inside
    EXPECT_EQ(opened(root, "Music", O_RDONLY | O_DIRECTORY), r + "/Music");
    for (const char *escape : {"Music/out", "Music/out/passwd", "absolute", "absolute/a.flac", "..", "Music/../..",
                               "in/../../secret"}) {
        EXPECT_EQ(opened(root, escape), "") << escape;
        EXPECT_EQ(errno, EXDEV) << escape;
    }
    EXPECT_EQ(opened(root, "loop"), "");
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(opened(root, "Music/a.flac", O_RDONLY | O_DIRECTORY), "");
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(opened(root, "Music/none"), "");
    EXPECT_EQ(errno, ENOENT);
}

TEST_P(FtpRootWalk, FindsNamesInTheFormAListingShows)
{
    lmtest::TempDir dir;
    const std::string d = dir.path();
    lmtest::ScopedEnv config("XDG_CONFIG_HOME", d);   // the legacy encoding is the default one
    mkdir((d + "/\xc4rger").c_str(), 0755);                             // Latin-1, not UTF-8
    lmtest::writeFile(d + "/\xc4rger/Cafe\xcc\x81.txt", "nfd");         // decomposed é
    FtpRoot root(QString::fromStdString(d));
    auto locate = [&](const QString &text, const QByteArray &raw) {
        return root.locate(*FtpPaths::normalise({}, text, raw));
    };
    // A line holding the folder's bytes and a composed UTF-8 name is not UTF-8 as a
    // whole, so its text is the legacy decoding of both: the bytes as sent still find the
    // folder, and the composed name the decomposed file.
    const QByteArray sent = "\xc4rger/Caf\xc3\xa9.txt";
    const QString text = QStringLiteral("\u0192rger/Caf\u221a\u00a9.txt");
    EXPECT_EQ(locate(text, sent), QByteArray("\xc4rger/Cafe\xcc\x81.txt"));
    EXPECT_EQ(locate(QStringLiteral("\u0192rger/Caf\u00e9.txt"), QByteArray()), QByteArray("\xc4rger/Cafe\xcc\x81.txt"))
        << "found by the text the folder lists as";
    // A name found nowhere keeps its UTF-8 text, for creating it.
    EXPECT_EQ(locate(QStringLiteral("new \u00e9"), ""), QByteArray("new \xc3\xa9"));
}

INSTANTIATE_TEST_SUITE_P(Walks, FtpRootWalk, ::testing::Values(Walk::Kernel, Walk::Portable),
                         [](const auto &info) { return info.param == Walk::Kernel ? "Kernel" : "Portable"; });

TEST(FtpPaths, NamesAreTakenAsTextAndNeverClimbAboveTheRoot)
{
    auto names = [](const QList<QByteArray> &base, const QString &name) {
        std::optional<FtpPaths::Components> c = FtpPaths::normalise(base, name, name.toUtf8());
        if (!c)
            return QStringList{"refused"};
        QStringList out;
        for (const FtpRoot::Component &part : *c)
            out.append(part.text);
        return out;
    };
    EXPECT_EQ(names({"Music"}, "a/./b//c"), (QStringList{"Music", "a", "b", "c"}));
    EXPECT_EQ(names({"Music"}, ".."), QStringList());
    EXPECT_EQ(names({"Music"}, "/x/../y"), QStringList{"y"});
    EXPECT_EQ(names({"Music"}, "../.."), QStringList{"refused"});
    EXPECT_EQ(names({}, "/.."), QStringList{"refused"});
    EXPECT_EQ(names({"Music"}, "a/../../../b"), QStringList{"refused"});
    EXPECT_EQ(names({}, "a\r\n250 ok"), QStringList{"refused"});
    // The bytes follow the text part by part, unless they split otherwise.
    auto c = FtpPaths::normalise({}, QStringLiteral("\u00e9/b"), "\xe9/b");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->at(0).raw, QByteArray("\xe9"));
    c = FtpPaths::normalise({}, QStringLiteral("a/b"), "a");
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->at(0).raw.isEmpty());
    EXPECT_EQ(FtpPaths::visible({}), "/");
    EXPECT_EQ(FtpPaths::visible({"a", "b"}), "/a/b");
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

TEST(FtpListing, ComesInPiecesWithNamesThatAreNotUtf8AsTheyAre)
{
    lmtest::TempDir dir;
    const std::string d = dir.path();
    for (int i = 0; i < 10; i++)
        lmtest::writeFile(d + "/f" + std::to_string(i), "");
    lmtest::writeFile(d + "/\xe9t\xe9.flac", "");
    FtpListing::Cursor cursor(open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    EXPECT_EQ(cursor.total(), 11);
    QByteArray first = cursor.next(4);
    EXPECT_TRUE(first.startsWith("total 11\r\n"));
    EXPECT_EQ(first.count('\n'), 1 + 4);
    QByteArray all = first;
    for (QByteArray piece; !(piece = cursor.next(4)).isEmpty();) {
        EXPECT_LE(piece.count('\n'), 4);
        all += piece;
    }
    EXPECT_EQ(all.count('\n'), 12);
    EXPECT_TRUE(all.contains(" \xe9t\xe9.flac\n"));
    // Anything but a folder lists as empty.
    EXPECT_EQ(FtpListing::Cursor(open((d + "/f1").c_str(), O_RDONLY | O_CLOEXEC)).next(10), "total 0\r\n");
    EXPECT_EQ(FtpListing::Cursor(-1).next(10), "total 0\r\n");
}

} // namespace
