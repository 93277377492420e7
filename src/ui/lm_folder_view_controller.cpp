#include "ui/lm_folder_view_controller.h"

#include <QPointer>

#include "library/settings_keys.h"
#include "platform/core/file_system_object.h"
#include "platform/core/user_defaults.h"
#include "ui/alerts.h"
#include "ui/lm_file_view_controller.h"
#include "ui/lm_moving_view_controller.h"
#include "ui/navigation_controller.h"
#include "ui/ui_context.h"

LMFolderViewController::LMFolderViewController(UiContext *context, const QString &path, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent), path_(path)
{
    btnQuitSelect_ =
        Browse::textButton(QStringLiteral("folderCancelButton"), tr("Cancel"), this, [this] { onQuitSelect(); });
    btnQuitSelect_->setDone(true);
    btnPlay_ = Browse::textButton(QStringLiteral("folderPlayButton"), tr("Play"), this, [this] { onPlay(); });
    btnSelect_ = Browse::textButton(QStringLiteral("folderSelectButton"), tr("Select"), this, [this] { onSelect(); });
    btnDelete_ = Browse::textButton(QStringLiteral("folderDeleteButton"), tr("Delete"), this, [this] { onDelete(); });
    btnMove_ = Browse::textButton(QStringLiteral("folderMoveButton"), tr("Move"), this, [this] { onMove(); });
    titleButton_ = Browse::textButton(QStringLiteral("folderTitleButton"), QString(), this, [this] { onRename(); });
    titleButton_->setDone(true);
}

bool LMFolderViewController::isRoot() const
{
    return Browse::isDocumentsFolder(path_);
}

void LMFolderViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    back_ = Browse::backToListButton(this);
    setRightButton(back_);
    setToolbarItems({flexibleSpace(), btnPlay_, flexibleSpace(), btnSelect_,
                     flexibleSpace()});
    updateTitle();
    loadFiles();
}

void LMFolderViewController::viewWillAppear()
{
    ScreenController::viewWillAppear();
    loadFiles();
    onQuitSelect();
}

void LMFolderViewController::loadFiles()
{
    std::optional<QList<Browse::Entry>> entries = Browse::listFolder(path_);
    if (!entries)
        return;
    fileList_ = *entries;
    if (selectMode_) {
        flags_ = QList<bool>(fileList_.size(), false);
        setSelectedCount(0);
    }
    reloadRows();
}

void LMFolderViewController::reloadRows()
{
    QList<TableRow> rows;
    rows.reserve(fileList_.size());
    for (int i = 0; i < fileList_.size(); i++) {
        const Browse::Entry &e = fileList_.at(i);
        TableRow r;
        r.title = e.name;
        if (e.folder) {
            r.image = QStringLiteral("files");
            r.imageTint = QColor(0, 122, 255);
        }
        if (selectMode_)
            r.accessory = flags_.value(i) ? CellAccessory::Checkmark : CellAccessory::None;
        else
            r.accessory = e.folder ? CellAccessory::Disclosure : CellAccessory::None;
        r.canDelete = !selectMode_;
        rows.append(r);
    }
    table()->setRows(rows);
}

void LMFolderViewController::updateTitle()
{
    if (selectMode_) {
        setTitle(tr("Select Mode"));
        setTitleButton(nullptr);
    } else if (isRoot()) {
        setTitle(tr("All"));
        setTitleButton(nullptr);
    } else {
        setTitle(Browse::lastComponent(path_));
        titleButton_->setText(title());
        setTitleButton(titleButton_);
    }
}

QStringList LMFolderViewController::selectedItems() const
{
    QStringList items;
    for (int i = 0; i < fileList_.size(); i++)
        if (flags_.value(i))
            items << Browse::joined(path_, fileList_.at(i).name);
    return items;
}

void LMFolderViewController::tapRow(int, int row)
{
    if (row < 0 || row >= fileList_.size())
        return;
    if (selectMode_) {
        flags_[row] = !flags_[row];
        setSelectedCount(selectedCount_ + (flags_[row] ? 1 : -1));
        TableRow r = *table()->row(0, row);
        r.accessory = flags_[row] ? CellAccessory::Checkmark : CellAccessory::None;
        table()->updateRow(0, row, r);
        return;
    }
    NavigationController *nav = navigationController();
    if (nav == nullptr)
        return;
    const Browse::Entry &e = fileList_.at(row);
    const QString full = Browse::joined(path_, e.name);
    if (e.folder)
        nav->push(new LMFolderViewController(context(), full), context()->animations());
    else
        nav->push(new LMFileViewController(context(), full), context()->animations());
}

void LMFolderViewController::deleteRow(int, int row)
{
    if (selectMode_ || row < 0 || row >= fileList_.size())
        return;
    FileSystemObject::sharedObject()->removeFileAtPath(Browse::joined(path_, fileList_.at(row).name));
    Browse::rescan(this);
    // What could not be removed stays listed.
    loadFiles();
}

void LMFolderViewController::onSelect()
{
    selectMode_ = true;
    setSelectedCount(0);
    updateTitle();
    setRightButton(btnQuitSelect_);
    table()->setEditing(false);
    setToolbarItems({flexibleSpace(), btnDelete_, flexibleSpace(), btnMove_,
                     flexibleSpace()});
    flags_ = QList<bool>(fileList_.size(), false);
    reloadRows();
}

void LMFolderViewController::onQuitSelect()
{
    if (!selectMode_)
        return;
    selectMode_ = false;
    setRightButton(back_);
    updateTitle();
    setToolbarItems({flexibleSpace(), btnPlay_, flexibleSpace(), btnSelect_,
                     flexibleSpace()});
    flags_.clear();
    selectedCount_ = 0;
    reloadRows();
}

void LMFolderViewController::setSelectedCount(int count)
{
    selectedCount_ = qMax(0, count);
    const bool any = selectedCount_ > 0;
    btnMove_->setText(any ? QStringLiteral("%1(%2)").arg(tr("Move")).arg(selectedCount_) : tr("Move"));
    btnDelete_->setText(any ? QStringLiteral("%1(%2)").arg(tr("Delete")).arg(selectedCount_) : tr("Delete"));
    btnMove_->setEnabled(any);
    btnDelete_->setEnabled(any);
}

void LMFolderViewController::onDelete()
{
    if (selectedCount_ <= 0)
        return;
    const QStringList items = selectedItems();
    QPointer<LMFolderViewController> self(this);
    AlertConfirm::show(
        QStringLiteral("%1 %2 %3").arg(tr("Delete")).arg(selectedCount_).arg(tr("items")), tr("Are you sure?"),
        [self, items](int button) {
            if (button != 1 || self.isNull())
                return;
            for (const QString &item : items)
                FileSystemObject::sharedObject()->removeFileAtPath(item);
            self->loadFiles();
            self->onQuitSelect();
            Browse::rescan(self);
        },
        1);
}

void LMFolderViewController::onMove()
{
    if (selectedCount_ <= 0 || navigationController() == nullptr)
        return;
    const QStringList items = selectedItems();
    for (const QString &item : items) {
        if (FileSystemObject::sharedObject()->directoryExists(item)) {
            AlertMessage::show(tr("Can not move folders"));
            return;
        }
    }
    navigationController()->push(new LMMovingViewController(context(), items), context()->animations());
}

void LMFolderViewController::onRename()
{
    if (isRoot() || selectMode_)
        return;
    Browse::askName(this, tr("Rename folder"), Browse::lastComponent(path_), 4, &LMFolderViewController::renameFolder);
}

void LMFolderViewController::renameFolder(const QString &name)
{
    if (isRoot() || name == Browse::lastComponent(path_))
        return;
    const FileSystemObject *fs = FileSystemObject::sharedObject();
    // An empty name names the documents folder itself, which exists.
    if (name.isEmpty()) {
        AlertMessage::show(tr("Folder already exists"));
        return;
    }
    const QString target =
        Browse::makeNamed(fs->documentsDirectory(), name, tr("Can not rename folder"), tr("Folder already exists"),
                          [&](const QString &to) { return fs->moveFileWithoutReplacing(path_, to); });
    if (target.isNull())
        return;
    Browse::followMove(path_, target);
    path_ = target;
    updateTitle();
    Browse::rescan(this);
}

void LMFolderViewController::onPlay()
{
    UserDefaults::setInteger(SettingsKeys::Organize, SettingsKeys::OrganizeFolder);
    UserDefaults::setString(SettingsKeys::CurrentFolder, isRoot() ? QStringLiteral("") : path_);
    Browse::showChoice(this);
}
