#include <sys/xattr.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "platform/core/file_system_object.h"
#include "support/test_support.h"

namespace {

class FileSystemObjectTest : public ::testing::Test {
protected:
    QString p(const std::string &name) const { return QString::fromStdString(dir.file(name)); }
    FileSystemObject *fs = FileSystemObject::sharedObject();
    lmtest::TempDir dir;
};

TEST_F(FileSystemObjectTest, ListingsAreSortedOrFilteredAsDocumented)
{
    for (const char *name : {"A.thm", "b.THM", "c.txt", ".hidden"})
        lmtest::writeFile(dir.file(name), "x");
    ASSERT_TRUE(fs->createDirectory(p("b")));
    ASSERT_TRUE(fs->createDirectory(p("A")));
    EXPECT_EQ(*fs->contentsOfDirectory(p("")), (QStringList{".hidden", "A", "A.thm", "b", "b.THM", "c.txt"}));
    EXPECT_EQ(*fs->contentsOfDirectoryWithSuffix(p(""), ".thm"), QStringList{"A.thm"});
    EXPECT_FALSE(fs->contentsOfDirectoryWithSuffix(p(""), ".m3u"));    // none, not an empty list
    EXPECT_FALSE(fs->contentsOfDirectoryWithSuffix(p("A"), ".thm"));   // empty folder
    EXPECT_FALSE(fs->contentsOfDirectory(p("missing")));
    EXPECT_EQ(fs->subDirectories(p(""), false), (QStringList{"A", "b"}));
    EXPECT_EQ(fs->subDirectories(p(".").chopped(2)), (QStringList{p("A"), p("b")}));
    EXPECT_EQ(fs->subDirectories(p("")), (QStringList{p("A"), p("b")}));
    EXPECT_TRUE(fs->subDirectories(p("missing")).isEmpty());
}

TEST_F(FileSystemObjectTest, ExistenceSizesCreationAndRemoval)
{
    EXPECT_FALSE(fs->fileExists(p("f")));
    EXPECT_EQ(fs->fileSize(p("f")), 0);
    EXPECT_FALSE(fs->modificationDate(p("f")).isValid());
    lmtest::writeFile(dir.file("f"), "12345");
    EXPECT_TRUE(fs->fileExists(p("f")));
    EXPECT_FALSE(fs->directoryExists(p("f")));
    EXPECT_EQ(fs->fileSize(p("f")), 5);
    EXPECT_TRUE(fs->modificationDate(p("f")).isValid());
    EXPECT_GT(fs->fileSize(p("")), 0);   // a folder's own size attribute

    EXPECT_TRUE(fs->createFile(p("f")));   // empties it
    EXPECT_EQ(fs->fileSize(p("f")), 0);
    EXPECT_TRUE(fs->ensureDirectoryExists(p("x/y/z")));
    EXPECT_FALSE(fs->ensureDirectoryExists(p("f/sub")));   // a file is in the way
    lmtest::writeFile(dir.file("x/y/z/deep"), "d");
    EXPECT_TRUE(fs->removeFileAtPath(p("x")));
    EXPECT_FALSE(fs->fileExists(p("x")));

    // A link is removed itself, never what it points to.
    ASSERT_TRUE(fs->createDirectory(p("target")));
    lmtest::writeFile(dir.file("target/keep"), "k");
    ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
    EXPECT_TRUE(fs->removeFileAtPath(p("link")));
    EXPECT_TRUE(fs->fileExists(p("target/keep")));
}

TEST_F(FileSystemObjectTest, CopyAndMoveReplaceTheDestinationButNeverLoseTheSource)
{
    lmtest::writeFile(dir.file("a"), "A");
    lmtest::writeFile(dir.file("b"), "B");
    EXPECT_TRUE(fs->moveFile(p("a"), p("b")));
    EXPECT_EQ(lmtest::readText(dir.file("b")), "A");
    EXPECT_FALSE(fs->fileExists(p("a")));

    // A missing source changes nothing.
    EXPECT_FALSE(fs->moveFile(p("a"), p("b")));
    EXPECT_FALSE(fs->copyFile(p("a"), p("b")));
    EXPECT_EQ(lmtest::readText(dir.file("b")), "A");

    // Onto itself: nothing is removed.
    EXPECT_TRUE(fs->moveFile(p("b"), p("b")));
    EXPECT_TRUE(fs->copyFile(p("b"), p("./b")));
    EXPECT_EQ(lmtest::readText(dir.file("b")), "A");

    EXPECT_TRUE(fs->copyFile(p("b"), p("c")));
    EXPECT_EQ(lmtest::readText(dir.file("c")), "A");
    EXPECT_EQ(lmtest::readText(dir.file("b")), "A");

    // Folders: copied whole; a folder is never moved into itself or over its parent.
    ASSERT_TRUE(fs->createDirectory(p("d/e")));
    lmtest::writeFile(dir.file("d/e/f"), "F");
    EXPECT_TRUE(fs->copyFile(p("d"), p("d2")));
    EXPECT_EQ(lmtest::readText(dir.file("d2/e/f")), "F");
    EXPECT_FALSE(fs->moveFile(p("d"), p("d/e/inside")));
    EXPECT_FALSE(fs->moveFile(p("d/e"), p("d")));
    EXPECT_FALSE(fs->copyFile(p("d"), p("d/e/inside")));
    EXPECT_EQ(lmtest::readText(dir.file("d/e/f")), "F");
    EXPECT_TRUE(fs->moveFile(p("d"), p("moved")));
    EXPECT_EQ(lmtest::readText(dir.file("moved/e/f")), "F");
}

TEST_F(FileSystemObjectTest, AMoveAUserAsksForNeverReplacesWhatIsThere)
{
    lmtest::writeFile(dir.file("a"), "A");
    lmtest::writeFile(dir.file("b"), "B");
    ASSERT_TRUE(fs->createDirectory(p("d/e")));
    lmtest::writeFile(dir.file("d/e/f"), "F");
    EXPECT_FALSE(fs->moveFileWithoutReplacing(p("a"), p("b")));
    EXPECT_FALSE(fs->moveFileWithoutReplacing(p("a"), p("d")));      // a folder is in the way
    EXPECT_FALSE(fs->moveFileWithoutReplacing(p("d"), p("d/e/in")));  // a folder into itself
    EXPECT_FALSE(fs->moveFileWithoutReplacing(p("gone"), p("c")));
    EXPECT_EQ(lmtest::readText(dir.file("a")), "A");
    EXPECT_EQ(lmtest::readText(dir.file("b")), "B");
    EXPECT_EQ(lmtest::readText(dir.file("d/e/f")), "F");

    EXPECT_TRUE(fs->moveFileWithoutReplacing(p("a"), p("d/a")));
    EXPECT_TRUE(fs->moveFileWithoutReplacing(p("d"), p("moved")));
    EXPECT_EQ(lmtest::readText(dir.file("moved/a")), "A");
    EXPECT_EQ(lmtest::readText(dir.file("moved/e/f")), "F");
    EXPECT_FALSE(fs->fileExists(p("a")));
}

TEST_F(FileSystemObjectTest, AMoveToAnotherFileSystemCopiesAndStillNeverReplaces)
{
    struct stat here, shm;
    if (stat(dir.path().c_str(), &here) != 0 || stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev)
        GTEST_SKIP() << "/dev/shm is not another file system here";
    char other[] = "/dev/shm/lumenar-fs-XXXXXX";
    ASSERT_NE(mkdtemp(other), nullptr);
    const QString o = QString::fromLatin1(other);
    ASSERT_TRUE(fs->createDirectory(p("d/e")));
    lmtest::writeFile(dir.file("d/e/f"), "F");
    lmtest::writeFile(dir.file("a"), "A");
    lmtest::writeFile(std::string(other) + "/a", "there");
    EXPECT_FALSE(fs->moveFileWithoutReplacing(p("a"), o + "/a"));
    EXPECT_TRUE(fs->moveFileWithoutReplacing(p("d"), o + "/d"));
    EXPECT_TRUE(fs->moveFileWithoutReplacing(p("a"), o + "/b"));
    EXPECT_EQ(lmtest::readText(std::string(other) + "/a"), "there");
    EXPECT_EQ(lmtest::readText(std::string(other) + "/b"), "A");
    EXPECT_EQ(lmtest::readText(std::string(other) + "/d/e/f"), "F");
    EXPECT_FALSE(fs->fileExists(p("a")) || fs->fileExists(p("d")));
    // Nothing of the copy's staging is left beside it.
    EXPECT_EQ(QDir(o).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), (QStringList{"a", "b", "d"}));
    std::filesystem::remove_all(other);
}

TEST_F(FileSystemObjectTest, BackupExclusionUsesTheFreedesktopMarkAndReadsTheOldOne)
{
    lmtest::writeFile(dir.file("name with space %20"), "x");
    const std::string file = dir.file("name with space %20");
    QString path = p("name with space %20");
    if (setxattr(file.c_str(), "user.probe", "1", 1, 0) != 0)
        GTEST_SKIP() << "this file system refuses user attributes";
    EXPECT_FALSE(fs->hasSkipBackupAttribute(path));
    EXPECT_TRUE(fs->addSkipBackupAttribute(path));
    EXPECT_TRUE(fs->hasSkipBackupAttribute(path));
    EXPECT_TRUE(fs->hasSkipBackupAttributeToItemAtURL(QUrl::fromLocalFile(path)));
    char value[16] = {};
    EXPECT_EQ(getxattr(file.c_str(), "user.xdg.robots.backup", value, sizeof value), 5);
    EXPECT_EQ(std::string(value, 5), "false");
    EXPECT_TRUE(fs->removeSkipBackupAttributeToItemAtURL(QUrl::fromLocalFile(path)));
    EXPECT_FALSE(fs->hasSkipBackupAttribute(path));
    EXPECT_LT(getxattr(file.c_str(), "user.xdg.robots.backup", value, sizeof value), 0);

    // The one-byte mark of earlier versions still excludes, and unmarking clears it.
    const unsigned char one = 1;
    ASSERT_EQ(setxattr(file.c_str(), "user.com.apple.MobileBackup", &one, 1, 0), 0);
    EXPECT_TRUE(fs->hasSkipBackupAttribute(path));
    EXPECT_TRUE(fs->removeSkipBackupAttribute(path));
    EXPECT_FALSE(fs->hasSkipBackupAttribute(path));
    // An explicit "true" wins over an old mark.
    ASSERT_EQ(setxattr(file.c_str(), "user.com.apple.MobileBackup", &one, 1, 0), 0);
    ASSERT_EQ(setxattr(file.c_str(), "user.xdg.robots.backup", "true", 4, 0), 0);
    EXPECT_FALSE(fs->hasSkipBackupAttribute(path));
    EXPECT_FALSE(fs->addSkipBackupAttribute(p("missing")));
    EXPECT_FALSE(fs->removeSkipBackupAttribute(p("missing")));
}

TEST(FileSystemDocuments, ChosenFolderThenEnvironmentThenDataLocation)
{
    lmtest::TempDir home, docs;
    lmtest::ScopedEnv xdg("XDG_DATA_HOME", home.path());
    FileSystemObject *fs = FileSystemObject::sharedObject();
    {
        lmtest::ScopedEnv env("LUMENAR_DOCUMENTS", docs.path() + "/");
        EXPECT_EQ(fs->documentsDirectory(), QString::fromStdString(docs.path()));
        FileSystemObject::setDocumentsDirectory(QString::fromStdString(docs.path() + "/sub/../chosen/"));
        EXPECT_EQ(fs->documentsDirectory(), QString::fromStdString(docs.path() + "/chosen"));
        FileSystemObject::setDocumentsDirectory(QString());
    }
    unsetenv("LUMENAR_DOCUMENTS");
    QString dflt = fs->documentsDirectory();
    EXPECT_EQ(dflt, QString::fromStdString(home.path() + "/Lumenar/Documents"));
    EXPECT_TRUE(fs->directoryExists(dflt));   // created on first use
    EXPECT_EQ(fs->homeDirectory(), QString::fromStdString(home.path() + "/Lumenar"));
    EXPECT_EQ(fs->libraryDirectory(), QString::fromStdString(home.path() + "/Lumenar/Library"));
    EXPECT_TRUE(fs->bundleDirectory().endsWith("/share/lumenar"));
}

} // namespace
