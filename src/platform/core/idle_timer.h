// The device's auto-lock, realised as the desktop's screen saver inhibition
// (org.freedesktop.ScreenSaver Inhibit/UnInhibit on the session bus). Without a bus or a
// screen saver service the calls do nothing. Main thread only.
#pragma once

#include <QString>

namespace IdleTimer {

// true keeps the screen from locking while playing; false lets it lock again.
void setIdleTimerDisabled(bool disabled);
bool isIdleTimerDisabled();

} // namespace IdleTimer
