// Whole-file replacement: what it keeps of the file it replaces, and what it leaves behind
// when it fails.
#include <filesystem>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

#include <QString>

#include "platform/core/atomic_file.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

QString q(const std::string &path)
{
    return QString::fromStdString(path);
}

// Every name in `dir`, hidden ones included.
std::set<std::string> namesIn(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

std::string linkText(const std::string &path)
{
    std::error_code ec;
    return fs::read_symlink(path, ec).string();
}

mode_t modeOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(AtomicFile, ReplacingThroughLinksReplacesTheFileAndKeepsEveryLink)
{
    lmtest::TempDir dir;
    fs::create_directory(dir.file("lists"));
    lmtest::writeFile(dir.file("lists/real.m3u"), "old\n");
    // A link beside the file, one in another folder, and a link to a link.
    ASSERT_EQ(symlink("real.m3u", dir.file("lists/near.m3u").c_str()), 0);
    ASSERT_EQ(symlink("lists/real.m3u", dir.file("far.m3u").c_str()), 0);
    ASSERT_EQ(symlink("far.m3u", dir.file("chain.m3u").c_str()), 0);

    int round = 0;
    for (const char *name : {"lists/near.m3u", "far.m3u", "chain.m3u"}) {
        const std::string text = "new " + std::to_string(round++) + "\n";
        ASSERT_TRUE(AtomicFile::replace(q(dir.file(name)), QByteArray::fromStdString(text))) << name;
        EXPECT_EQ(lmtest::readText(dir.file("lists/real.m3u")), text) << name;
        EXPECT_EQ(linkText(dir.file("lists/near.m3u")), "real.m3u") << name;
        EXPECT_EQ(linkText(dir.file("far.m3u")), "lists/real.m3u") << name;
        EXPECT_EQ(linkText(dir.file("chain.m3u")), "far.m3u") << name;
    }
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"lists", "far.m3u", "chain.m3u"}));
    EXPECT_EQ(namesIn(dir.file("lists")), (std::set<std::string>{"real.m3u", "near.m3u"}));
}

TEST(AtomicFile, AReplacedFileKeepsItsPermissions)
{
    lmtest::TempDir dir;
    for (mode_t mode : {0600, 0640, 0604, 0755}) {
        const std::string path = dir.file("list" + std::to_string(mode) + ".m3u");
        lmtest::writeFile(path, "old\n");
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(AtomicFile::replace(q(path), "new\n"));
        EXPECT_EQ(lmtest::readText(path), "new\n");
        EXPECT_EQ(modeOf(path), mode) << std::oct << mode;
    }
    // Through a link, the file's permissions count, not the link's.
    lmtest::writeFile(dir.file("private.m3u"), "old\n");
    ASSERT_EQ(chmod(dir.file("private.m3u").c_str(), 0600), 0);
    ASSERT_EQ(symlink("private.m3u", dir.file("link.m3u").c_str()), 0);
    ASSERT_TRUE(AtomicFile::replace(q(dir.file("link.m3u")), "new\n"));
    EXPECT_EQ(modeOf(dir.file("private.m3u")), mode_t(0600));
}

// A file of another user in a shared folder (sticky, as /tmp is): the new file is written
// beside it, but it cannot take the old one's name. Only root can make such a file.
TEST(AtomicFile, AFailedRenameLeavesTheOldFileAndNoTemporaryFile)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs a file of another user, which only root can make";
    lmtest::TempDir dir;
    const std::string shared = dir.file("shared");
    fs::create_directory(shared);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string list = shared + "/list.m3u";
    lmtest::writeFile(list, "old\n");
    ASSERT_EQ(chmod(list.c_str(), 0666), 0);
    lmtest::runUnprivileged({}, [&] {
        EXPECT_FALSE(AtomicFile::replace(q(list), "new\n"));
        EXPECT_EQ(lmtest::readText(list), "old\n");
        EXPECT_EQ(namesIn(shared), std::set<std::string>{"list.m3u"});
    });
}

} // namespace
