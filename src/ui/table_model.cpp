#include "ui/table_model.h"

namespace {

// An invalid colour is undefined for the view, which then uses its own.
QVariant colorValue(const QColor &c)
{
    return c.isValid() ? QVariant(c) : QVariant();
}

} // namespace

TableModel::TableModel(QObject *parent) : QAbstractListModel(parent) {}

int TableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(entries_.size());
}

QHash<int, QByteArray> TableModel::roleNames() const
{
    return {
        {KindRole, "kind"},
        {SectionRole, "section"},
        {RowRole, "row"},
        {TitleRole, "title"},
        {DetailRole, "detail"},
        {StyleRole, "cellStyle"},
        {AccessoryRole, "accessory"},
        {SwitchOnRole, "switchOn"},
        {ImageRole, "image"},
        {ImageTintRole, "imageTint"},
        {IndentationRole, "indentation"},
        {TitleColorRole, "titleColor"},
        {DetailColorRole, "detailColor"},
        {BoldRole, "bold"},
        {TitleSizeRole, "titleSize"},
        {EnabledRole, "enabled"},
        {CanDeleteRole, "canDelete"},
        {CanMoveRole, "canMove"},
        {MarkerRole, "marker"},
        {MarkerTintRole, "markerTint"},
        {AccessibleNameRole, "accessibleName"},
        {SelectedRole, "selected"},
        {LastInSectionRole, "lastInSection"},
        {CenteredRole, "centered"},
    };
}

QVariant TableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= entries_.size())
        return {};
    const Entry &e = entries_.at(index.row());
    const TableSection &s = sections_.at(e.section);
    switch (role) {
    case KindRole:
        return int(e.kind);
    case SectionRole:
        return e.section;
    case RowRole:
        return e.row;
    case SelectedRole:
        return index.row() == selected_;
    case LastInSectionRole:
        return e.kind == Cell && e.row == s.rows.size() - 1;
    default:
        break;
    }
    if (e.kind != Cell) {
        if (role == TitleRole || role == AccessibleNameRole)
            return e.kind == Header ? s.header : s.footer;
        if (role == EnabledRole)
            return true;
        return {};
    }
    const TableRow &r = s.rows.at(e.row);
    switch (role) {
    case TitleRole:
        return r.title;
    case DetailRole:
        return r.detail;
    case StyleRole:
        return int(r.style);
    case AccessoryRole:
        return int(r.accessory);
    case SwitchOnRole:
        return r.switchOn;
    case ImageRole:
        return r.image;
    case ImageTintRole:
        return colorValue(r.imageTint);
    case IndentationRole:
        return r.indentation;
    case TitleColorRole:
        return colorValue(r.titleColor);
    case DetailColorRole:
        return colorValue(r.detailColor);
    case BoldRole:
        return r.bold;
    case TitleSizeRole:
        return r.titleSize;
    case EnabledRole:
        return r.enabled;
    case CanDeleteRole:
        return r.canDelete;
    case CanMoveRole:
        return r.canMove;
    case MarkerRole:
        return r.marker;
    case MarkerTintRole:
        return colorValue(r.markerTint);
    case AccessibleNameRole:
        return r.accessibleName.isEmpty() ? r.title : r.accessibleName;
    case CenteredRole:
        return r.centered;
    default:
        return {};
    }
}

QList<TableModel::Entry> TableModel::flatten(const QList<TableSection> &sections) const
{
    QList<Entry> out;
    for (int s = 0; s < sections.size(); s++) {
        const TableSection &sec = sections.at(s);
        if (!sec.header.isEmpty() || grouped_)
            out.append({Header, s, -1});
        for (int r = 0; r < sec.rows.size(); r++)
            out.append({Cell, s, r});
        if (!sec.footer.isEmpty())
            out.append({Footer, s, -1});
    }
    return out;
}

bool TableModel::sameShape(const QList<Entry> &a, const QList<Entry> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); i++)
        if (a[i].kind != b[i].kind || a[i].section != b[i].section || a[i].row != b[i].row)
            return false;
    return true;
}

void TableModel::setSections(const QList<TableSection> &sections)
{
    QList<Entry> entries = flatten(sections);
    if (!entries_.isEmpty() && sameShape(entries, entries_)) {
        sections_ = sections;
        emit dataChanged(index(0), index(int(entries_.size()) - 1));
        return;
    }
    const qsizetype before = entries_.size();
    beginResetModel();
    sections_ = sections;
    entries_ = std::move(entries);
    if (selected_ >= entries_.size())
        selected_ = -1;
    endResetModel();
    if (before != entries_.size())
        emit countChanged();
}

int TableModel::rowsInSection(int section) const
{
    return section >= 0 && section < sections_.size() ? int(sections_.at(section).rows.size()) : 0;
}

const TableRow *TableModel::row(int section, int row) const
{
    if (row < 0 || row >= rowsInSection(section))
        return nullptr;
    return &sections_.at(section).rows.at(row);
}

void TableModel::updateRow(int section, int row, const TableRow &value)
{
    const int i = indexOf(section, row);
    if (i < 0)
        return;
    sections_[section].rows[row] = value;
    emit dataChanged(index(i), index(i));
}

void TableModel::setGrouped(bool grouped)
{
    if (grouped_ == grouped)
        return;
    grouped_ = grouped;
    const QList<TableSection> keep = sections_;
    entries_.clear();
    setSections(keep);
    emit groupedChanged();
}

void TableModel::setEditing(bool editing)
{
    if (editing_ == editing)
        return;
    editing_ = editing;
    emit editingChanged();
}

void TableModel::setUppercaseHeaders(bool on)
{
    if (uppercaseHeaders_ == on)
        return;
    uppercaseHeaders_ = on;
    emit uppercaseHeadersChanged();
}

int TableModel::indexOf(int section, int row) const
{
    if (row < 0 || row >= rowsInSection(section))
        return -1;
    // Rows are in order, so the entry lies at most one header before its row offset.
    int i = 0;
    for (int s = 0; s < section; s++) {
        const TableSection &sec = sections_.at(s);
        i += int(sec.rows.size()) + (!sec.header.isEmpty() || grouped_ ? 1 : 0) + (sec.footer.isEmpty() ? 0 : 1);
    }
    const TableSection &sec = sections_.at(section);
    return i + (!sec.header.isEmpty() || grouped_ ? 1 : 0) + row;
}

bool TableModel::cellAt(int index, int *section, int *row) const
{
    if (index < 0 || index >= entries_.size() || entries_.at(index).kind != Cell)
        return false;
    *section = entries_.at(index).section;
    *row = entries_.at(index).row;
    return true;
}

void TableModel::selectAndCenter(int section, int row, bool animated)
{
    const int i = indexOf(section, row);
    const int old = selected_;
    selected_ = i;
    if (old != selected_) {
        if (old >= 0 && old < entries_.size())
            emit dataChanged(index(old), index(old), {SelectedRole});
        if (selected_ >= 0)
            emit dataChanged(index(selected_), index(selected_), {SelectedRole});
        emit selectedIndexChanged();
    }
    if (i >= 0)
        emit centerRequested(i, animated);
}

void TableModel::clearSelection()
{
    selectAndCenter(-1, -1, false);
}
