// ScreenFactory: screens made by name, so that a screen can open another without knowing
// its class ("Files", "Artists", "Albums", "Playlists", "Settings", "NowPlaying",
// "FileChooser", ...). A name nobody registered makes nothing, and the caller does
// nothing. registerBuiltInScreens() (screens.cpp) lists every screen of the application.
#pragma once

#include <functional>

#include <QString>
#include <QVariantMap>

class ScreenController;
class UiContext;

namespace ScreenFactory {

using Maker = std::function<ScreenController *(UiContext *context, const QVariantMap &args)>;

void add(const QString &name, Maker maker);
void remove(const QString &name);
bool has(const QString &name);
// Null when no screen of that name is registered.
ScreenController *make(const QString &name, UiContext *context, const QVariantMap &args = QVariantMap());
// Every screen of the application; safe to call more than once.
void registerBuiltInScreens();

} // namespace ScreenFactory
