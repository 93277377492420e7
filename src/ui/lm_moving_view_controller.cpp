#include "ui/lm_moving_view_controller.h"

#include <QDir>
#include <QFileInfo>

#include "platform/core/file_system_object.h"
#include "ui/alerts.h"
#include "ui/browse_support.h"
#include "ui/navigation_controller.h"
#include "ui/ui_context.h"

LMMovingViewController::LMMovingViewController(UiContext *context, const QStringList &movingItems, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent), movingItems_(movingItems)
{
    table()->setGrouped(true);
}

void LMMovingViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    setTitle(tr("Moving Files"));
    const FileSystemObject *fs = FileSystemObject::sharedObject();
    srcPath_ = movingItems_.isEmpty() ? QString() : QFileInfo(movingItems_.first()).path();
    isRoot_ = Browse::isDocumentsFolder(srcPath_);
    existingFolders_.clear();
    for (const QString &folder : fs->subDirectories(fs->documentsDirectory()))
        if (QDir::cleanPath(folder) != QDir::cleanPath(srcPath_))
            existingFolders_ << folder;
    reloadRows();
}

void LMMovingViewController::reloadRows()
{
    TableRow nameIt;
    nameIt.title = tr("Name it..");
    QList<TableSection> sections{{tr("Move to new folder"), QString(), {nameIt}}};
    if (!isRoot_ || !existingFolders_.isEmpty()) {
        TableSection existing{tr("Move to existing folder"), QString(), {}};
        if (!isRoot_) {
            TableRow root;
            root.title = QStringLiteral("*%1*").arg(tr("Root Folder"));
            root.accessibleName = tr("Root Folder");
            existing.rows << root;
        }
        for (const QString &folder : existingFolders_) {
            TableRow r;
            r.title = Browse::lastComponent(folder);
            r.image = QStringLiteral("files");
            r.imageTint = QColor(0, 122, 255);
            existing.rows << r;
        }
        sections << existing;
    }
    table()->setSections(sections);
}

void LMMovingViewController::tapRow(int section, int row)
{
    if (section == 0 && row == 0) {
        Browse::askName(this, tr("Create folder"), QString(), 0, &LMMovingViewController::moveToNewFolder);
        return;
    }
    if (section != 1 || row < 0)
        return;
    if (!isRoot_) {
        if (row == 0) {
            moveToFolder(FileSystemObject::sharedObject()->documentsDirectory());
            return;
        }
        row--;
    }
    if (row < existingFolders_.size())
        moveToFolder(existingFolders_.at(row));
}

void LMMovingViewController::moveToNewFolder(const QString &name)
{
    if (name.isEmpty())
        return;
    const FileSystemObject *fs = FileSystemObject::sharedObject();
    const QString target =
        Browse::makeNamed(fs->documentsDirectory(), name, tr("Can not create folder"), tr("Folder already exists"),
                          [fs](const QString &to) { return fs->createDirectory(to); });
    if (target.isNull())
        return;
    moveToFolder(target);
}

bool LMMovingViewController::moveToFolder(const QString &directory)
{
    const FileSystemObject *fs = FileSystemObject::sharedObject();
    for (const QString &item : movingItems_) {
        const QString name = Browse::lastComponent(item);
        if (fs->fileExists(Browse::joined(directory, name))) {
            AlertMessage::show(QStringLiteral("%1: %2").arg(tr("File already exists in target folder"), name));
            return false;
        }
    }
    QStringList left, names;
    for (const QString &item : movingItems_) {
        const QString to = Browse::joined(directory, Browse::lastComponent(item));
        if (fs->moveFileWithoutReplacing(item, to)) {
            Browse::followMove(item, to);
        } else {
            left << item;
            names << Browse::lastComponent(item);
        }
    }
    Browse::rescan(this);
    if (!left.isEmpty()) {
        // Stay, so the user sees what did not move; only that is left to move.
        movingItems_ = left;
        AlertMessage::show(tr("Can not move files"), names.join(QLatin1Char('\n')));
        return false;
    }
    if (navigationController() != nullptr && navigationController()->top() == this)
        navigationController()->pop(context()->animations());
    return true;
}
