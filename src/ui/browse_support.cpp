#include "ui/browse_support.h"

#include <QDir>
#include <QPointer>

#include "app/app_delegate.h"
#include "library/settings_keys.h"
#include "platform/core/file_system_object.h"
#include "platform/core/user_defaults.h"
#include "ui/alerts.h"
#include "ui/bar_button.h"
#include "ui/name_check.h"
#include "ui/navigation_controller.h"
#include "ui/presenter.h"
#include "ui/screen_controller.h"
#include "ui/ui_context.h"

namespace {

QString documents()
{
    return FileSystemObject::sharedObject()->documentsDirectory();
}

// The stored value after the move, or a null string when it does not name the moved item
// or anything inside it.
QString followed(const QString &stored, const QString &from, const QString &to)
{
    if (stored.isEmpty())
        return QString();
    const bool relative = !QDir::isAbsolutePath(stored);
    const QString absolute = QDir::cleanPath(relative ? Browse::joined(documents(), stored) : stored);
    const QString source = QDir::cleanPath(from);
    QString moved;
    if (absolute == source)
        moved = QDir::cleanPath(to);
    else if (absolute.startsWith(source + QLatin1Char('/')))
        moved = QDir::cleanPath(to) + absolute.mid(source.size());
    else
        return QString();
    return relative ? QDir(documents()).relativeFilePath(moved) : moved;
}

} // namespace

namespace Browse {

std::optional<QList<Entry>> listFolder(const QString &path)
{
    const FileSystemObject *fs = FileSystemObject::sharedObject();
    const std::optional<QStringList> names = fs->contentsOfDirectory(path);
    if (!names)
        return std::nullopt;
    QList<Entry> folders, others;
    for (const QString &name : *names) {
        if (fs->directoryExists(joined(path, name)))
            folders.append({name, true});
        else
            others.append({name, false});
    }
    return folders + others;
}

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString lastComponent(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool isDocumentsFolder(const QString &path)
{
    return QDir::cleanPath(path) == QDir::cleanPath(documents());
}

QString makeNamed(const QString &folder, const QString &name, const QString &failed, const QString &taken,
                  const std::function<bool(const QString &target)> &make)
{
    const QString target = NameCheck::childPath(folder, name);
    if (!target.isNull() && FileSystemObject::sharedObject()->fileExists(target)) {
        AlertMessage::show(taken);
        return QString();
    }
    if (target.isNull() || !make(target)) {
        AlertMessage::show(failed);
        return QString();
    }
    return target;
}

BarButton *textButton(const QString &name, const QString &text, QObject *parent, std::function<void()> action)
{
    auto *b = new BarButton(name, parent);
    b->setText(text);
    b->setAction(std::move(action));
    return b;
}

void askName(ScreenController *screen, const QString &title, const QString &text, int tag,
             std::function<void(ScreenController *screen, const QString &name)> ok)
{
    QPointer<ScreenController> guard(screen);
    AlertPrompt::show(
        title, QStringLiteral("  "), QObject::tr("Cancel"), QObject::tr("OK"),
        [guard, ok = std::move(ok)](int button, const QString &entered) {
            if (button == 1 && !guard.isNull())
                ok(guard, entered);
        },
        text, tag);
}

BarButton *backToListButton(ScreenController *screen)
{
    if (screen->isTablet())
        return nullptr;
    auto *back = new BarButton(QStringLiteral("backToListButton"), screen);
    back->setImage(QStringLiteral("playlist"), QColor(Qt::white));
    back->setDone(true);
    back->setAccessibleName(QObject::tr("Back to playing list"));
    back->setAction([screen] { closeMenu(screen); });
    return back;
}

void closeMenu(ScreenController *screen)
{
    if (screen->inPopover() || screen->navigationController() == nullptr)
        return;
    screen->context()->presenter()->dismiss(screen->navigationController());
}

void showChoice(ScreenController *screen)
{
    UiContext *ui = screen->context();
    if (screen->inPopover())
        emit ui->mainListRefreshRequested();
    else
        ui->returnToMainList();
}

void rescan(ScreenController *screen)
{
    if (AppDelegate *delegate = screen->context()->delegate())
        delegate->loadMusics();
}

void followMove(const QString &from, const QString &to)
{
    for (const QString &key : {SettingsKeys::CurrentFolder, SettingsKeys::CurrentFile}) {
        const QString moved = followed(UserDefaults::stringForKey(key), from, to);
        if (!moved.isNull())
            UserDefaults::setString(key, moved);
    }
}

} // namespace Browse
