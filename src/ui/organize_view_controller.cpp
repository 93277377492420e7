#include "ui/organize_view_controller.h"

#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "platform/core/file_system_object.h"
#include "ui/navigation_controller.h"
#include "ui/presenter.h"
#include "ui/screen_factory.h"
#include "ui/ui_context.h"

OrganizeViewController::OrganizeViewController(UiContext *context, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent)
{
}

void OrganizeViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    setTitle(tr("Main"));
    if (!isTablet()) {
        back_ = new BarButton(QStringLiteral("organizeBackButton"), this);
        back_->setImage(QStringLiteral("playlist"), QColor(Qt::white));
        back_->setDone(true);
        back_->setAccessibleName(tr("Back to playing list"));
        back_->setAction([this] { onBack(); });
        setRightButton(back_);
    }
    reload();
}

void OrganizeViewController::viewWillAppear()
{
    ScreenController::viewWillAppear();
    reload();
}

void OrganizeViewController::reload()
{
    const int organize = UserSettings::organize();
    auto row = [](const QString &title, const char *image, const QString &detail, bool disclosure) {
        TableRow r;
        r.title = title;
        r.image = QString::fromLatin1(image);
        r.imageTint = QColor(0, 122, 255);
        r.detail = detail;
        r.style = CellStyle::Value1;
        r.accessory = disclosure ? CellAccessory::Disclosure : CellAccessory::None;
        return r;
    };
    table()->setRows({
        row(tr("Files"), "files", QString(), true),
        row(tr("Artists"), "artists",
            organize == SettingsKeys::OrganizeArtist ? UserSettings::currentArtist() : QString(), true),
        row(tr("Albums"), "albums", organize == SettingsKeys::OrganizeAlbum ? UserSettings::currentAlbum() : QString(),
            true),
        row(tr("Playlists"), "lists", QString(), true),
        row(tr("Settings"), "settings", QString(), true),
        row(tr("Help Center"), "help", QString(), false),
    });
}

void OrganizeViewController::tapRow(int, int row)
{
    static const char *const kScreens[] = {"Files", "Artists", "Albums", "Playlists", "Settings"};
    if (row == HelpRow) {
        context()->openUrl(UiContext::helpUrl());
        return;
    }
    if (row < 0 || row >= HelpRow || navigationController() == nullptr)
        return;
    QVariantMap args;
    if (row == FilesRow)
        args.insert(QStringLiteral("path"), FileSystemObject::sharedObject()->documentsDirectory());
    if (ScreenController *screen = ScreenFactory::make(QString::fromLatin1(kScreens[row]), context(), args))
        navigationController()->push(screen, context()->animations());
}

void OrganizeViewController::onBack()
{
    if (inPopover())
        return;
    context()->presenter()->dismiss(navigationController());
}
