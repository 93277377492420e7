#include "ui/lm_file_chooser.h"

#include "ui/navigation_controller.h"
#include "ui/presenter.h"
#include "ui/ui_context.h"

LMFileChooser::LMFileChooser(UiContext *context, const QString &path, LMFileChooserDelegate *delegate,
                             QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent), path_(path), delegate_(delegate)
{
    if (auto *object = dynamic_cast<QObject *>(delegate)) {
        delegateObject_ = object;
        delegateIsObject_ = true;
    }
    btnAdd_ = new BarButton(QStringLiteral("chooserAddButton"), this);
    btnAdd_->setDone(true);
    btnAdd_->setAction([this] { onAdd(); });
    btnSelectAll_ = new BarButton(QStringLiteral("chooserSelectAllButton"), this);
    btnSelectAll_->setText(tr("Select All"));
    btnSelectAll_->setAction([this] { onSelectAll(); });
    setSelectedCount(0);
}

LMFileChooserDelegate *LMFileChooser::delegate() const
{
    return delegateIsObject_ && delegateObject_.isNull() ? nullptr : delegate_;
}

bool LMFileChooser::isRootDirectory() const
{
    return Browse::isDocumentsFolder(path_);
}

void LMFileChooser::viewDidLoad()
{
    ScreenController::viewDidLoad();
    setTitle(isRootDirectory() ? tr("All") : Browse::lastComponent(path_));
    if (isRootDirectory()) {
        btnDone_ = new BarButton(QStringLiteral("chooserDoneButton"), this);
        btnDone_->setText(tr("Done"));
        btnDone_->setAction([this] { onBack(); });
        setLeftButton(btnDone_);
    }
    setRightButton(btnAdd_);
    setToolbarItems({btnSelectAll_, flexibleSpace()});
    loadFiles();
}

void LMFileChooser::loadFiles()
{
    std::optional<QList<Browse::Entry>> entries = Browse::listFolder(path_);
    if (!entries)
        return;
    fileList_ = *entries;
    flags_ = QList<int>(fileList_.size(), 0);
    LMFileChooserDelegate *d = delegate();
    for (int i = 0; i < fileList_.size(); i++) {
        const Browse::Entry &e = fileList_.at(i);
        if (!e.folder && d != nullptr && !d->shouldInclude(Browse::joined(path_, e.name)))
            flags_[i] |= Disabled;
    }
    setSelectedCount(0);
    reloadRows();
}

TableRow LMFileChooser::rowFor(int index) const
{
    const Browse::Entry &e = fileList_.at(index);
    const int flags = flags_.at(index);
    TableRow r;
    r.title = e.name;
    if (e.folder) {
        r.image = QStringLiteral("files");
        r.imageTint = QColor(0, 122, 255);
        r.accessory = CellAccessory::Disclosure;
    } else {
        r.accessory = flags & Ticked ? CellAccessory::Checkmark : CellAccessory::None;
        r.enabled = !(flags & Disabled);
    }
    return r;
}

void LMFileChooser::reloadRows()
{
    QList<TableRow> rows;
    rows.reserve(fileList_.size());
    for (int i = 0; i < fileList_.size(); i++)
        rows.append(rowFor(i));
    table()->setRows(rows);
}

QStringList LMFileChooser::selectedItems() const
{
    QStringList items;
    for (int i = 0; i < fileList_.size(); i++)
        if (flags_.at(i) & Ticked)
            items << Browse::joined(path_, fileList_.at(i).name);
    return items;
}

void LMFileChooser::tapRow(int, int row)
{
    if (row < 0 || row >= fileList_.size())
        return;
    const Browse::Entry &e = fileList_.at(row);
    if (e.folder) {
        if (NavigationController *nav = navigationController())
            nav->push(new LMFileChooser(context(), Browse::joined(path_, e.name), delegate()),
                      context()->animations());
        return;
    }
    if (flags_.at(row) & Disabled)
        return;
    flags_[row] ^= Ticked;
    setSelectedCount(selectedCount_ + (flags_.at(row) & Ticked ? 1 : -1));
    table()->updateRow(0, row, rowFor(row));
}

void LMFileChooser::setSelectedCount(int count)
{
    selectedCount_ = qMax(0, count);
    if (selectedCount_ <= 0) {
        btnAdd_->setText(tr("Add"));
        btnAdd_->setEnabled(false);
        return;
    }
    btnAdd_->setText(QStringLiteral("%1(%2)").arg(tr("Add")).arg(selectedCount_));
    btnAdd_->setEnabled(true);
    context()->announce(tr("%1 to add\n").arg(selectedCount_));
}

void LMFileChooser::onSelectAll()
{
    int ticked = 0;
    for (int i = 0; i < fileList_.size(); i++) {
        if (!fileList_.at(i).folder && !(flags_.at(i) & Disabled))
            flags_[i] |= Ticked;
        if (flags_.at(i) & Ticked)
            ticked++;
    }
    setSelectedCount(ticked);
    reloadRows();
}

void LMFileChooser::onAdd()
{
    LMFileChooserDelegate *d = delegate();
    if (d == nullptr || selectedCount_ <= 0)
        return;
    const QStringList items = selectedItems();
    if (items.isEmpty() || !d->addFiles(items))
        return;
    for (int &flags : flags_)
        if (flags & Ticked)
            flags = (flags & ~Ticked) | Disabled;
    reloadRows();
    context()->announce(tr("Added %1\n").arg(items.size()));
    setSelectedCount(0);
}

void LMFileChooser::onBack()
{
    if (NavigationController *nav = navigationController())
        context()->presenter()->dismiss(nav);
}
