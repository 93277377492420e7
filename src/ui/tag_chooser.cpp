#include "ui/tag_chooser.h"

#include <algorithm>

#include "app/app_delegate.h"
#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "platform/core/user_defaults.h"
#include "ui/browse_support.h"
#include "ui/navigation_controller.h"
#include "ui/ui_context.h"

TagChooser::TagChooser(UiContext *context, Field field, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent), field_(std::move(field))
{
}

void TagChooser::buildList(const PlayableItemList &library)
{
    counts_.clear();
    for (const PlayableItemPtr &item : library) {
        const QString &name = field_.value(*item);
        if (name.isEmpty())
            continue;
        const int tracks = item->subItems().isEmpty() ? 1 : int(item->subItems().size());
        counts_[name] += tracks;
    }
    names_ = counts_.keys();
    std::stable_sort(names_.begin(), names_.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
}

void TagChooser::viewDidLoad()
{
    ScreenController::viewDidLoad();
    setTitle(field_.title);
    setRightButton(Browse::backToListButton(this));
    AppDelegate *delegate = context()->delegate();
    buildList(delegate != nullptr ? delegate->playableItems() : PlayableItemList());
    reloadRows();
}

void TagChooser::viewDidAppear()
{
    ScreenController::viewDidAppear();
    const QString current = UserDefaults::stringForKey(field_.key);
    const int row = current.isNull() ? -1 : int(names_.indexOf(current));
    if (row >= 0)
        table()->selectAndCenter(0, row, context()->animations());
}

QString TagChooser::chosenName() const
{
    return UserSettings::organize() == field_.organize ? UserDefaults::stringForKey(field_.key) : QString();
}

void TagChooser::reloadRows()
{
    // Read once: every read of the settings opens their file.
    const QString chosen = chosenName();
    QList<TableRow> rows;
    rows.reserve(names_.size());
    for (const QString &name : names_) {
        TableRow r;
        r.title = name;
        r.style = CellStyle::Subtitle;
        const int count = counts_.value(name);
        if (count > 0)
            r.detail = tr("%1 Tracks").arg(count);
        r.accessory = !chosen.isNull() && name == chosen ? CellAccessory::Checkmark : CellAccessory::None;
        rows.append(r);
    }
    table()->setRows(rows);
}

void TagChooser::tapRow(int, int row)
{
    if (row < 0 || row >= names_.size())
        return;
    UserDefaults::setInteger(SettingsKeys::Organize, field_.organize);
    UserDefaults::setString(field_.key, names_.at(row));
    reloadRows();
    Browse::showChoice(this);
}
