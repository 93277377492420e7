#include "ui/encoding_chooser.h"

#include "app/app_delegate.h"
#include "library/character_encoding.h"
#include "library/user_settings.h"
#include "ui/navigation_controller.h"
#include "ui/ui_context.h"

EncodingChooser::EncodingChooser(UiContext *context, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent)
{
}

void EncodingChooser::viewDidLoad()
{
    ScreenController::viewDidLoad();
    setTitle(tr("Character Encoding"));
    names_ = CharacterEncoding::getAvailableEncodings();
    reload();
}

void EncodingChooser::reload()
{
    const QString current = CharacterEncoding::getEncodingDisplayName(UserSettings::preferedEncoding());
    QList<TableRow> rows;
    for (const QString &name : names_) {
        TableRow r;
        r.title = name;
        r.accessory = name == current ? CellAccessory::Checkmark : CellAccessory::None;
        rows.append(r);
    }
    table()->setRows(rows);
}

void EncodingChooser::tapRow(int, int row)
{
    if (row < 0 || row >= names_.size())
        return;
    CharacterEncoding::setPreferedEncoding(names_.at(row));
    reload();
    if (AppDelegate *delegate = context()->delegate())
        delegate->onEncodingChange();
}
