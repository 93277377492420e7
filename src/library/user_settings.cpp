#include "library/user_settings.h"

#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"

namespace UserSettings {

using namespace SettingsKeys;

static int clampToInt(qint64 v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return int(v);
}

QString currentTheme() { return UserDefaults::stringForKey(CurrentTheme); }
bool disableAutoLock() { return UserDefaults::integerForKey(DisableAutoLock) != 0; }
bool ftpAutoStart() { return UserDefaults::integerForKey(FTPAutoStart) != 0; }
bool autoEnterNowPlaying() { return UserDefaults::integerForKey(AutoEnterNowPlaying) != 0; }

int backStep()
{
    qint64 v = UserDefaults::integerForKey(BackStep);
    return v <= 0 ? DefaultBackStep : clampToInt(v);
}

unsigned preferedEncoding() { return unsigned(UserDefaults::integerForKey(PreferedEnc)); }

int shuffleMode()
{
    qint64 v = UserDefaults::integerForKey(ShuffleMode) % 4;
    return int(v < 0 ? v + 4 : v);
}

int organize() { return clampToInt(UserDefaults::integerForKey(Organize)); }
QString currentFolder() { return UserDefaults::stringForKey(CurrentFolder); }
QString currentArtist() { return UserDefaults::stringForKey(CurrentArtist); }
QString currentAlbum() { return UserDefaults::stringForKey(CurrentAlbum); }
QString currentPlaylist() { return UserDefaults::stringForKey(CurrentPlaylist); }
QString currentFile() { return UserDefaults::stringForKey(CurrentFile); }
QString previousFile() { return UserDefaults::stringForKey(PreviousFile); }
int previousTrack() { return clampToInt(UserDefaults::integerForKey(PreviousTrack)); }
int previousPosition() { return clampToInt(UserDefaults::integerForKey(PreviousPosition)); }

void ensureCurrentTheme()
{
    if (currentTheme().isNull())
        UserDefaults::setString(CurrentTheme, QString::fromLatin1(DefaultTheme));
}

} // namespace UserSettings
