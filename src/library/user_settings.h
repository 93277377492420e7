// Typed readers of the persisted settings, each applying its own default for an absent
// or out-of-range value. Every call reads the store afresh (nothing is cached), so a
// change takes effect at the next use. Writers go through UserDefaults directly.
#pragma once

#include <QString>

namespace UserSettings {

// Play modes, the value of ShuffleMode taken modulo 4.
enum PlayMode { PlayToEnd = 0, Shuffle = 1, Loop = 2, SingleTrackLoop = 3 };

QString currentTheme();          // none until the process entry stores "Plain.thm"
bool disableAutoLock();
bool ftpAutoStart();
bool autoEnterNowPlaying();
int backStep();                  // seconds; absent or <= 0 reads as 30
unsigned preferedEncoding();     // string-encoding code; absent reads as 0, Western
int shuffleMode();               // 0..3 (a negative stored value wraps upwards too)
int organize();                  // 0 folder .. 4 single file; other values pass through
QString currentFolder();         // none or "" mean the documents folder
QString currentArtist();
QString currentAlbum();
QString currentPlaylist();
QString currentFile();
QString previousFile();
int previousTrack();
int previousPosition();          // whole seconds

// Stores "Plain.thm" under CurrentTheme when it holds no string (process entry).
void ensureCurrentTheme();

} // namespace UserSettings
