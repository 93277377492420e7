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
    EXPECT_EQ(UserSettings::shuffleMode(), UserSettings::PlayToEnd);
    EXPECT_EQ(UserSettings::backStep(), 30);
    UserSettings::ensureCurrentTheme();
    EXPECT_EQ(UserSettings::currentTheme(), "Plain.thm");
    UserDefaults::setString(CurrentTheme, "Dark.thm");
    UserSettings::ensureCurrentTheme();
    EXPECT_EQ(UserSettings::currentTheme(), "Dark.thm");

    UserDefaults::setInteger(BackStep, -3);
    EXPECT_EQ(UserSettings::backStep(), 30);
    UserDefaults::setInteger(ShuffleMode, 6);
    EXPECT_EQ(UserSettings::shuffleMode(), UserSettings::Loop);
    UserDefaults::setInteger(ShuffleMode, -1);
    EXPECT_EQ(UserSettings::shuffleMode(), UserSettings::SingleTrackLoop);
}

} // namespace
