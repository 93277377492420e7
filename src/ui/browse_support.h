// What the browsing screens (folders, files, moving, the file chooser, the album, artist
// and play list choosers) share: folder listings with folders first, the phone's way back
// to the main list, the return after a choice, rescans, and keeping the organize choice
// on an item that was renamed or moved.
#pragma once

#include <functional>
#include <optional>

#include <QList>
#include <QString>

class BarButton;
class QObject;
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

// Puts something new at `folder`/`name` with `make` (a move, a new folder). A name that is
// no single file name, or a failing `make`, shows the alert `failed`; a name already there
// shows `taken`. The new path, or a null string when nothing was made.
QString makeNamed(const QString &folder, const QString &name, const QString &failed, const QString &taken,
                  const std::function<bool(const QString &target)> &make);

// A text button of a bar, called `name` in the view.
BarButton *textButton(const QString &name, const QString &text, QObject *parent, std::function<void()> action);
// Asks for a name ("Cancel" / "OK", the field holding `text`); `ok` runs with the entered
// text on OK while `screen` still exists.
void askName(ScreenController *screen, const QString &title, const QString &text, int tag,
             std::function<void(ScreenController *screen, const QString &name)> ok);
// The same with the screen's own operation.
template <class Screen>
void askName(Screen *screen, const QString &title, const QString &text, int tag, void (Screen::*ok)(const QString &))
{
    askName(static_cast<ScreenController *>(screen), title, text, tag,
            [ok](ScreenController *s, const QString &name) { (static_cast<Screen *>(s)->*ok)(name); });
}

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
