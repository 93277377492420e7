// What the browsing screens (folders, files, moving, the file chooser, the album, artist
// and play list choosers) share: folder listings with folders first, the phone's way back
// to the main list, the return after a choice, rescans, and keeping the organize choice
// on an item that was renamed or moved.
#pragma once

#include <optional>

#include <QList>
#include <QString>

class BarButton;
class ScreenController;

namespace Browse {

struct Entry {
    QString name;
    bool folder = false;
};

// The folder's entries: every folder, then every other entry, each group in
// case-insensitive order. None when the folder cannot be read.
std::optional<QList<Entry>> listFolder(const QString &path);
// `folder`/`name`.
QString joined(const QString &folder, const QString &name);
// The last path component.
QString lastComponent(const QString &path);
bool isDocumentsFolder(const QString &path);

// The phone's "Back to playing list" button of a screen in the organize menu; it closes
// the menu. Null on a tablet, where the menu is a popover that the user closes.
BarButton *backToListButton(ScreenController *screen);
// Closes the menu that holds the screen (on a phone); nothing in a popover.
void closeMenu(ScreenController *screen);
// After the user chose what the main list shows: on a phone every presentation closes and
// the main list shows the new choice; in a tablet popover the list behind it is composed
// again and the popover stays, so the user can choose again.
void showChoice(ScreenController *screen);
// Asks the application for a new library scan.
void rescan(ScreenController *screen);

// An item of the documents folder moved from `from` to `to` (absolute paths): the stored
// folder and file choices that named it, or anything inside it, follow it in the form
// they were stored in (relative to the documents folder or absolute).
void followMove(const QString &from, const QString &to);

} // namespace Browse
