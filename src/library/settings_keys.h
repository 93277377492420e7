// Keys of the user defaults store, with the value each reader applies when a key is absent.
#pragma once

#include <QString>

namespace SettingsKeys {

inline const QString CurrentTheme = QStringLiteral("CurrentTheme");               // string, "Plain.thm" set at start
inline const QString DisableAutoLock = QStringLiteral("DisableAutoLock");         // 0/1
inline const QString FTPAutoStart = QStringLiteral("FTPAutoStart");               // 0/1
inline const QString AutoEnterNowPlaying = QStringLiteral("AutoEnterNowPlaying"); // 0/1
inline const QString BackStep = QStringLiteral("BackStep");                       // seconds, <= 0 reads as 30
inline const QString PreferedEnc = QStringLiteral("PreferedEnc");                 // encoding code, 0 Western
inline const QString ShuffleMode = QStringLiteral("ShuffleMode");                 // play mode, modulo 4
inline const QString Organize = QStringLiteral("Organize");                       // 0 folder .. 4 single file
inline const QString CurrentFolder = QStringLiteral("CurrentFolder");             // relative or absolute; "" = documents
inline const QString CurrentArtist = QStringLiteral("CurrentArtist");
inline const QString CurrentAlbum = QStringLiteral("CurrentAlbum");
inline const QString CurrentPlaylist = QStringLiteral("CurrentPlaylist");         // relative or absolute
inline const QString CurrentFile = QStringLiteral("CurrentFile");                 // absolute
inline const QString PreviousFile = QStringLiteral("PreviousFile");               // removed once used
inline const QString PreviousTrack = QStringLiteral("previousTrack");
inline const QString PreviousPosition = QStringLiteral("PreviousPosition");       // whole seconds

inline constexpr const char *DefaultTheme = "Plain.thm";
inline constexpr int DefaultBackStep = 30;

enum Organize { OrganizeFolder = 0, OrganizeArtist = 1, OrganizeAlbum = 2, OrganizePlaylist = 3, OrganizeFile = 4 };

} // namespace SettingsKeys
