#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "platform/core/user_defaults.h"
#include "support/test_support.h"

namespace {

using namespace SettingsKeys;

TEST(UserSettings, FirstLaunchDefaultsAndOutOfRangeValues)
{
    lmtest::TempDir config;
    lmtest::ScopedEnv env("XDG_CONFIG_HOME", config.path());
    EXPECT_EQ(UserSettings::organize(), 0);
    EXPECT_TRUE(UserSettings::currentFolder().isNull());
    EXPECT_EQ(UserSettings::shuffleMode(), UserSettings::PlayToEnd);
    EXPECT_EQ(UserSettings::preferedEncoding(), 0u);
    EXPECT_EQ(UserSettings::backStep(), 30);
    EXPECT_FALSE(UserSettings::ftpAutoStart());
    EXPECT_TRUE(UserSettings::currentTheme().isNull());
    UserSettings::ensureCurrentTheme();
    EXPECT_EQ(UserSettings::currentTheme(), "Plain.thm");
    UserDefaults::setString(CurrentTheme, "Dark.thm");
    UserSettings::ensureCurrentTheme();
    EXPECT_EQ(UserSettings::currentTheme(), "Dark.thm");

    UserDefaults::setInteger(BackStep, -3);
    EXPECT_EQ(UserSettings::backStep(), 30);
    UserDefaults::setInteger(BackStep, 15);
    EXPECT_EQ(UserSettings::backStep(), 15);
    UserDefaults::setInteger(ShuffleMode, 6);
    EXPECT_EQ(UserSettings::shuffleMode(), UserSettings::Loop);
    UserDefaults::setInteger(ShuffleMode, -1);
    EXPECT_EQ(UserSettings::shuffleMode(), UserSettings::SingleTrackLoop);
    UserDefaults::setInteger(PreviousPosition, 83);
    UserDefaults::setInteger(PreviousTrack, 2);
    EXPECT_EQ(UserSettings::previousPosition(), 83);
    EXPECT_EQ(UserSettings::previousTrack(), 2);
    UserDefaults::setInteger(DisableAutoLock, 1);
    UserDefaults::setInteger(AutoEnterNowPlaying, 1);
    EXPECT_TRUE(UserSettings::disableAutoLock());
    EXPECT_TRUE(UserSettings::autoEnterNowPlaying());
}

} // namespace
