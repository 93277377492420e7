// TableModel: the rows of one list screen, in sections with an optional header and footer
// text, as the list view draws them. A screen controller fills it with TableRow records
// and keeps the logic; the view only draws and reports taps to the controller.
//
// The model is flat for the view: each section gives a header entry (when it has a
// header or the list is grouped), its rows, and a footer entry (when it has a footer).
// Refilling with the same shape only updates the rows in place, so the list keeps its
// scroll position when, say, the playing marker moves.
#pragma once

#include <QAbstractListModel>
#include <QColor>
#include <QList>
#include <QString>
#include <QVariant>

enum class CellStyle { Default = 0, Subtitle = 1, Value1 = 2 };
enum class CellAccessory { None = 0, Disclosure = 1, Checkmark = 2, Switch = 3 };

struct TableRow {
    QString title;
    QString detail;
    CellStyle style = CellStyle::Default;
    CellAccessory accessory = CellAccessory::None;
    bool switchOn = false;
    QString image;           // icon name, or an image URL ("file:", "image:")
    QColor imageTint;        // invalid: the image's own colours
    int indentation = 0;     // levels of kIndentWidth pixels
    QColor titleColor;       // invalid: the view's default
    QColor detailColor;
    bool bold = false;
    int titleSize = 0;       // pixels; 0: the style's size
    bool enabled = true;
    bool canDelete = false;
    bool canMove = false;
    QString marker;          // icon drawn at the right end (the playing marker)
    QColor markerTint;
    QString accessibleName;  // empty: the title
    bool centered = false;   // the title centred in the row (action rows)
    QVariant key;            // the controller's own reference
};

struct TableSection {
    QString header;
    QString footer;
    QList<TableRow> rows;
};

class TableModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(bool grouped READ grouped WRITE setGrouped NOTIFY groupedChanged)
    Q_PROPERTY(bool editing READ editing WRITE setEditing NOTIFY editingChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex NOTIFY selectedIndexChanged)
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)
    Q_PROPERTY(bool uppercaseHeaders READ uppercaseHeaders WRITE setUppercaseHeaders NOTIFY uppercaseHeadersChanged)

public:
    static constexpr int kIndentWidth = 10;
    enum EntryKind { Header = 0, Cell = 1, Footer = 2 };
    enum Role {
        KindRole = Qt::UserRole + 1,
        SectionRole,
        RowRole,
        TitleRole,
        DetailRole,
        StyleRole,
        AccessoryRole,
        SwitchOnRole,
        ImageRole,
        ImageTintRole,
        IndentationRole,
        TitleColorRole,
        DetailColorRole,
        BoldRole,
        TitleSizeRole,
        EnabledRole,
        CanDeleteRole,
        CanMoveRole,
        MarkerRole,
        MarkerTintRole,
        AccessibleNameRole,
        SelectedRole,
        LastInSectionRole,
        CenteredRole,
    };

    explicit TableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    void setSections(const QList<TableSection> &sections);
    void setRows(const QList<TableRow> &rows) { setSections({TableSection{QString(), QString(), rows}}); }
    const QList<TableSection> &sections() const { return sections_; }
    int sectionCount() const { return int(sections_.size()); }
    int rowsInSection(int section) const;
    Q_INVOKABLE int sectionRows(int section) const { return rowsInSection(section); }
    // Null when out of range.
    const TableRow *row(int section, int row) const;
    void updateRow(int section, int row, const TableRow &value);

    bool grouped() const { return grouped_; }
    void setGrouped(bool grouped);
    bool editing() const { return editing_; }
    void setEditing(bool editing);
    // Section headers are drawn in capitals unless they must show a name as it is written.
    bool uppercaseHeaders() const { return uppercaseHeaders_; }
    void setUppercaseHeaders(bool on);

    // Flat index of a row for the view; -1 when out of range.
    Q_INVOKABLE int indexOf(int section, int row) const;
    // The cell at `index` (a header or footer entry answers false).
    bool cellAt(int index, int *section, int *row) const;

    // Marks the row selected and asks the view to centre it (-1: no selection).
    void selectAndCenter(int section, int row, bool animated = true);
    void clearSelection();
    int selectedIndex() const { return selected_; }

signals:
    void groupedChanged();
    void editingChanged();
    void selectedIndexChanged();
    void countChanged();
    void uppercaseHeadersChanged();
    void centerRequested(int index, bool animated);

private:
    struct Entry {
        EntryKind kind;
        int section;
        int row;
    };
    QList<Entry> flatten(const QList<TableSection> &sections) const;
    static bool sameShape(const QList<Entry> &a, const QList<Entry> &b);

    QList<TableSection> sections_;
    QList<Entry> entries_;
    bool grouped_ = false;
    bool editing_ = false;
    bool uppercaseHeaders_ = true;
    int selected_ = -1;
};
