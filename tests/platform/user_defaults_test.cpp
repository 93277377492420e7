#include <QFile>

#include "platform/core/user_defaults.h"
#include "support/test_support.h"

namespace {

TEST(UserDefaults, AbsentKeysReadAsNoneZeroFalseAndWritesPersist)
{
    lmtest::TempDir config;
    lmtest::ScopedEnv env("XDG_CONFIG_HOME", config.path());
    EXPECT_TRUE(UserDefaults::stringForKey("CurrentFolder").isNull());
    EXPECT_EQ(UserDefaults::integerForKey("Organize"), 0);
    EXPECT_FALSE(UserDefaults::boolForKey("FTPAutoStart"));
    EXPECT_FALSE(UserDefaults::objectForKey("Organize").isValid());

    UserDefaults::setString("CurrentFolder", "");
    UserDefaults::setString("CurrentAlbum", QString::fromUtf8("Album \xc3\xa9 = ; x"));
    UserDefaults::setInteger("BackStep", -5);
    UserDefaults::setBool("FTPAutoStart", true);
    EXPECT_EQ(UserDefaults::storePath(), QString::fromStdString(config.path()) + "/Lumenar/Lumenar.conf");
    EXPECT_TRUE(QFile::exists(UserDefaults::storePath()));

    // Present-but-empty stays distinct from absent; texts and numbers read back unchanged.
    EXPECT_FALSE(UserDefaults::stringForKey("CurrentFolder").isNull());
    EXPECT_EQ(UserDefaults::stringForKey("CurrentFolder"), "");
    EXPECT_EQ(UserDefaults::stringForKey("CurrentAlbum"), QString::fromUtf8("Album \xc3\xa9 = ; x"));
    EXPECT_EQ(UserDefaults::integerForKey("BackStep"), -5);
    EXPECT_TRUE(UserDefaults::boolForKey("FTPAutoStart"));
    EXPECT_EQ(UserDefaults::integerForKey("CurrentAlbum"), 0);

    UserDefaults::removeObjectForKey("BackStep");
    EXPECT_EQ(UserDefaults::integerForKey("BackStep"), 0);
}

TEST(UserDefaults, FollowsTheConfigFolderOfTheMoment)
{
    lmtest::TempDir a, b;
    {
        lmtest::ScopedEnv env("XDG_CONFIG_HOME", a.path());
        UserDefaults::setInteger("Organize", 2);
    }
    lmtest::ScopedEnv env("XDG_CONFIG_HOME", b.path());
    EXPECT_EQ(UserDefaults::integerForKey("Organize"), 0);
}

} // namespace
