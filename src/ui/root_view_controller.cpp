#include "ui/root_view_controller.h"

#include "app/app_delegate.h"
#include "platform/core/file_system_object.h"
#include "player/play_list_controller.h"
#include "player/uni_player.h"
#include "ui/navigation_controller.h"
#include "ui/organize_view_controller.h"
#include "ui/presenter.h"
#include "ui/screen_factory.h"
#include "ui/ui_context.h"

RootViewController::RootViewController(UiContext *context, QObject *parent)
    : ScreenController(context, QStringLiteral("RootView.qml"), parent), theme_(new ThemeHelper(this)),
      table_(table())
{
    organizeButton_ = new BarButton(QStringLiteral("organizeButton"), this);
    organizeButton_->setImage(QStringLiteral("organize"), QColor(Qt::white));
    organizeButton_->setAccessibleName(tr("Organize"));
    organizeButton_->setAction([this] { showOrganize(); });
    setLeftButton(organizeButton_);

    connect(theme_, &ThemeHelper::changed, this, [this] {
        emit appearanceChanged();
        emit buttonsChanged();
        reloadRows();
    });
    connect(table_, &TableModel::editingChanged, this, &RootViewController::editingChanged);
    connect(context, &UiContext::mainListRefreshRequested, this, [this] {
        updatePlayList();   // redraws the rows through playListChanged
        selectCurrentRow();
        onPlayPause();
    });
    if (AppDelegate *delegate = context->delegate()) {
        connect(delegate, &AppDelegate::themeChanged, this, &RootViewController::onThemeChange);
        connect(delegate, &AppDelegate::libraryLoaded, this, [this] {
            if (!libraryLoaded_) {
                libraryLoaded_ = true;
                emit libraryLoadedChanged();
            }
        });
    }

    PlayListController *plc = playListController();
    if (plc == nullptr)
        return;
    connect(plc, &PlayListController::playListChanged, this, &RootViewController::reloadRows);
    connect(plc, &PlayListController::titleChanged, this, [this](const QString &title) { setTitle(title); });
    connect(plc, &PlayListController::itemChanged, this, [this] {
        nowPlayingRemoved_ = false;
        onItemChange();
    });
    connect(plc, &PlayListController::playPauseChanged, this, &RootViewController::onPlayPause);
    connect(plc, &PlayListController::playModeChanged, this, &RootViewController::buttonsChanged);
    connect(plc, &PlayListController::showNowPlayingRequested, this, &RootViewController::showNowPlaying);
    connect(plc, &PlayListController::playingFileDeleted, this, [this] {
        nowPlayingRemoved_ = true;
        onPlayPause();
    });
}

RootViewController::~RootViewController() = default;

PlayListController *RootViewController::playListController() const
{
    return context()->playListController();
}

QString RootViewController::playPauseImage() const
{
    const UniPlayer *player = context()->player();
    return player != nullptr && player->playing() ? QStringLiteral("pause-small") : QStringLiteral("play-small");
}

QString RootViewController::playModeImage() const
{
    const PlayListController *plc = playListController();
    QString image = PlayListController::playModeImageName(plc != nullptr ? plc->currentPlayMode() : 0);
    image.chop(4);  // ".png"
    return image;
}

QString RootViewController::playModeName() const
{
    const PlayListController *plc = playListController();
    return plc != nullptr ? plc->playModeName() : PlayListController::playModeName(0);
}

bool RootViewController::addVisible() const
{
    const PlayListController *plc = playListController();
    return plc != nullptr && plc->showsAddButton();
}

QString RootViewController::detailText(const PlayableItem &item)
{
    const QString length = PlayableItem::humanTime(item.totalTime());
    if (item.ownFile()) {
        const QString &path = item.path();
        return QStringLiteral("%1, %2").arg(length, path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    }
    return QStringLiteral("%1 %2, %3").arg(tr("Track")).arg(item.trackNumber(), 2, 10, QLatin1Char('0')).arg(length);
}

TableRow RootViewController::rowFor(const PlayableItemPtr &item, int index, const PlayableItemPtr &current) const
{
    const PlayListController *plc = playListController();
    TableRow r;
    r.title = item->title();
    r.detail = detailText(*item);
    r.style = CellStyle::Subtitle;
    r.bold = true;
    r.titleSize = 18;
    r.indentation = (item->ownFile() ? 0 : 2) + (isTablet() ? 1 : 0);
    r.titleColor = theme_->titleColor();
    r.detailColor = theme_->subtitleColor();
    r.canDelete = plc->canDeleteRow(index);
    r.canMove = plc->canMoveRow(index);
    if (current && item->isEqualToItem(current)) {
        r.marker = QStringLiteral("note");
        r.markerTint = theme_->titleColor();
    }
    return r;
}

void RootViewController::reloadRows()
{
    const PlayListController *plc = playListController();
    if (plc == nullptr)
        return;
    const UniPlayer *player = context()->player();
    const PlayableItemPtr current = player != nullptr ? player->currentItem() : nullptr;
    const PlayableItemList &items = plc->playList();
    QList<TableRow> rows;
    rows.reserve(items.size());
    for (int i = 0; i < items.size(); i++)
        rows.append(rowFor(items.at(i), i, current));
    table_->setRows(rows);
    emit buttonsChanged();
}

void RootViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    onThemeChange();
    updateTitle();
    reloadRows();
}

void RootViewController::viewWillAppear()
{
    ScreenController::viewWillAppear();
    onThemeChange();
    updateTitle();
}

void RootViewController::viewDidAppear()
{
    ScreenController::viewDidAppear();
    onItemChange();
}

void RootViewController::updatePlayList()
{
    if (PlayListController *plc = playListController())
        plc->updatePlayList();
}

void RootViewController::updateTitle()
{
    if (PlayListController *plc = playListController()) {
        plc->updateTitle();
        setTitle(plc->title());
    }
}

void RootViewController::onItemChange()
{
    reloadRows();
    selectCurrentRow();
    onPlayPause();
}

void RootViewController::selectCurrentRow()
{
    const PlayListController *plc = playListController();
    const int row = plc != nullptr ? plc->rowOfCurrentItem() : -1;
    if (row >= 0)
        table_->selectAndCenter(0, row, context()->animations());
    else
        table_->clearSelection();
}

void RootViewController::onPlayPause()
{
    emit buttonsChanged();
    const UniPlayer *player = context()->player();
    const bool hasItem = player != nullptr && player->currentItem() && !nowPlayingRemoved_;
    if (!hasItem) {
        if (nowPlayingButton_ != nullptr) {
            setRightButton(nullptr);
            nowPlayingButton_->deleteLater();
            nowPlayingButton_ = nullptr;
        }
    } else {
        if (nowPlayingButton_ == nullptr) {
            nowPlayingButton_ = new BarButton(QStringLiteral("nowPlayingButton"), this);
            nowPlayingButton_->setDone(true);
            nowPlayingButton_->setAction([this] { showNowPlaying(); });
            setRightButton(nowPlayingButton_);
        }
        const bool playing = player->playing();
        nowPlayingButton_->setImage(playing ? QStringLiteral("nowplaying") : QStringLiteral("paused"),
                                    QColor(Qt::white));
        nowPlayingButton_->setAccessibleName(playing ? tr("Now playing") : tr("Paused"));
    }
    if (AppDelegate *delegate = context()->delegate())
        delegate->tryAutoLock();
}

void RootViewController::onThemeChange()
{
    theme_->apply();
}

void RootViewController::tapRow(int, int row)
{
    if (PlayListController *plc = playListController())
        plc->playRow(row);
}

void RootViewController::deleteRow(int, int row)
{
    PlayListController *plc = playListController();
    if (plc == nullptr || !plc->canDeleteRow(row))
        return;
    plc->deleteRow(row);
}

void RootViewController::moveRow(int, int from, int to)
{
    if (PlayListController *plc = playListController())
        plc->moveRow(from, to);
}

void RootViewController::togglePlayPause()
{
    if (PlayListController *plc = playListController())
        plc->togglePlayPause();
}

void RootViewController::togglePlayMode()
{
    if (PlayListController *plc = playListController())
        plc->togglePlayMode();
}

void RootViewController::toggleEdit()
{
    table_->setEditing(!table_->editing());
}

void RootViewController::addItem()
{
    if (!addVisible())
        return;
    QVariantMap args;
    args.insert(QStringLiteral("folder"), FileSystemObject::sharedObject()->documentsDirectory());
    ScreenController *chooser = ScreenFactory::make(QStringLiteral("FileChooser"), context(), args);
    if (chooser == nullptr)
        return;
    auto *nav = new NavigationController(context(), chooser, this);
    context()->presenter()->presentSheet(nav, {}, true);
}

void RootViewController::showNowPlaying()
{
    NavigationController *nav = navigationController();
    if (nav == nullptr || context()->player() == nullptr || !context()->player()->currentItem())
        return;
    if (nav->top() != this)
        return;
    QVariantMap args;
    args.insert(QStringLiteral("source"), QVariant::fromValue<QObject *>(this));
    if (ScreenController *screen = ScreenFactory::make(QStringLiteral("NowPlaying"), context(), args))
        nav->push(screen, context()->animations());
}

void RootViewController::showOrganize()
{
    Presenter *presenter = context()->presenter();
    if (organize_.isNull()) {
        auto *menu = new OrganizeViewController(context());
        organize_ = new NavigationController(context(), menu, this);
    }
    if (presenter->isPresented(organize_))
        return;
    presenter->presentAdaptive(organize_, organizeButton_->objectName(), {}, true);
}
