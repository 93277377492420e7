// The pictures of `lumenar --snapshot`: one scene per screen state worth reviewing.
#include <QDir>
#include <QPointer>

#include "app/app_delegate.h"
#include "player/play_list_controller.h"
#include "player/uni_player.h"
#include "ui/alerts.h"
#include "ui/main_window.h"
#include "ui/navigation_controller.h"
#include "ui/presenter.h"
#include "ui/root_view_controller.h"
#include "ui/snapshot.h"
#include "ui/ui_context.h"

namespace {

// Something is current and paused part-way, so the list marks it and the bar shows the
// now-playing button.
void makeCurrent(Snapshot::Stage &stage)
{
    PlayListController *plc = stage.ui->playListController();
    UniPlayer *player = stage.ui->player();
    if (plc == nullptr || player == nullptr || plc->playList().size() < 2)
        return;
    PlayableItemPtr item = plc->playList().at(1);
    if (!item->subItems().isEmpty())
        item = item->subItems().first();
    if (!player->currentItem() || !player->currentItem()->isEqualToItem(item)) {
        player->restoreItem(item, 83);
        plc->onItemChange();
    }
}

std::function<void()> mainList(Snapshot::Stage &stage)
{
    makeCurrent(stage);
    return {};
}

std::function<void()> organizeMenu(Snapshot::Stage &stage)
{
    makeCurrent(stage);
    RootViewController *root = stage.window->rootController();
    root->showOrganize();
    UiContext *ui = stage.ui;
    return [ui] { ui->presenter()->dismissAll(); };
}

std::function<void()> editing(Snapshot::Stage &stage)
{
    makeCurrent(stage);
    RootViewController *root = stage.window->rootController();
    root->toggleEdit();
    return [root] { root->toggleEdit(); };
}

std::function<void()> alert(Snapshot::Stage &stage)
{
    QPointer<Alert> a = AlertMessage::show(QObject::tr("No music"),
                                  QObject::tr("Copy music into %1 or upload it over FTP").arg(stage.documents));
    return [a] {
        if (!a.isNull())
            a->answer(0);
    };
}

} // namespace

namespace Snapshot {
QList<NamedScene> browseScenes();   // snapshot_browse_scenes.cpp
QList<NamedScene> playingScenes();  // snapshot_playing_scenes.cpp
}

QList<Snapshot::NamedScene> Snapshot::scenes()
{
    return QList<NamedScene>{
        {QStringLiteral("main"), mainList},
        {QStringLiteral("edit"), editing},
        {QStringLiteral("organize"), organizeMenu},
        {QStringLiteral("alert"), alert},
    } + browseScenes() + playingScenes();
}
