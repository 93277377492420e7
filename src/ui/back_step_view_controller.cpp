#include "ui/back_step_view_controller.h"

#include <iterator>

#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "platform/core/user_defaults.h"
#include "ui/navigation_controller.h"

BackStepViewController::BackStepViewController(UiContext *context, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent)
{
    table()->setGrouped(true);
}

void BackStepViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    setTitle(tr("Backward Step"));
    reload();
}

void BackStepViewController::reload()
{
    // An unset or negative step plays as 30 seconds, so it is shown as 30.
    const int current = UserSettings::backStep();
    QList<TableRow> rows;
    for (int seconds : kSeconds) {
        TableRow r;
        r.title = QStringLiteral("%1 %2").arg(seconds).arg(tr("Seconds"));
        r.accessory = seconds == current ? CellAccessory::Checkmark : CellAccessory::None;
        rows.append(r);
    }
    table()->setRows(rows);
}

void BackStepViewController::tapRow(int, int row)
{
    if (row < 0 || row >= int(std::size(kSeconds)))
        return;
    UserDefaults::setInteger(SettingsKeys::BackStep, kSeconds[row]);
    reload();
}
