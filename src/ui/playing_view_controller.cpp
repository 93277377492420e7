#include "ui/playing_view_controller.h"

#include <algorithm>
#include <cmath>

#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSaveFile>
#include <QStandardPaths>

#include "library/user_settings.h"
#include "platform/audio_queue/output_volume.h"
#include "player/lyrics.h"
#include "player/play_list_controller.h"
#include "player/uni_player.h"
#include "ui/name_check.h"
#include "ui/presenter.h"
#include "ui/navigation_controller.h"
#include "ui/root_view_controller.h"
#include "ui/ui_context.h"

PlayingViewController::PlayingViewController(UiContext *context, RootViewController *source, QObject *parent)
    : ScreenController(context, QStringLiteral("NowPlayingView.qml"), parent), root_(source),
      theme_(source != nullptr ? source->theme() : new ThemeHelper(this))
{
    backButton_ = new BarButton(QStringLiteral("returnToPlaylistButton"), this);
    backButton_->setImage(QStringLiteral("backbutton"), QColor(Qt::white));
    backButton_->setAccessibleName(tr("Return to playlist"));
    backButton_->setAction([this] { back(); });
    connect(theme_, &ThemeHelper::changed, this, &ScreenController::appearanceChanged);
}

PlayingViewController::~PlayingViewController()
{
    stopUpdates();
}

UniPlayer *PlayingViewController::player() const
{
    return context() != nullptr ? context()->player() : nullptr;
}

PlayingSource *PlayingViewController::source() const
{
    if (!root_.isNull() && root_->playListController() != nullptr)
        return root_->playListController();
    return context() != nullptr ? context()->playListController() : nullptr;
}

bool PlayingViewController::playing() const
{
    const UniPlayer *p = player();
    return p != nullptr && p->playing();
}

double PlayingViewController::volume() const
{
    return LMOutputVolumeGet();
}

void PlayingViewController::setVolume(double volume)
{
    LMOutputVolumeSet(float(volume));
    emit volumeChanged();
}

QUrl PlayingViewController::picturesFolder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
        return QUrl::fromLocalFile(pictures);
    return QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
}

int PlayingViewController::backstep()
{
    return UserSettings::backStep();
}

QString PlayingViewController::mediaInfoText(int sampleRate, int bits)
{
    if (sampleRate == 0)
        return QString(QLatin1String(""));
    if (bits > 0)
        return QString::asprintf("%d Hz, %d Bit", sampleRate, bits);
    return QString::asprintf("%d Hz", sampleRate);
}

QString PlayingViewController::timeText(double seconds)
{
    return PlayableItem::humanTime(std::isfinite(seconds) && seconds > 0 ? float(seconds) : 0.0f);
}

QString PlayingViewController::coverPathFor(const PlayableItem &item)
{
    if (item.path().isEmpty())
        return QString();
    const QFileInfo info(item.path());
    const QString byFile = info.completeBaseName();
    // A tag is not a path: "../x" or "a/b" stays a name inside the item's folder.
    const QString name = item.album().isEmpty() ? NameCheck::sanitized(byFile, QString())
                                                : NameCheck::sanitized(item.album(), byFile);
    if (name.isNull())
        return QString();
    return NameCheck::childPath(info.path(), name + QStringLiteral(".jpg"));
}

void PlayingViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    updateProgress();
    onPlayPause();
    setLeftButton(backButton_);
}

void PlayingViewController::viewWillAppear()
{
    ScreenController::viewWillAppear();
    if (root_.isNull())
        theme_->apply();
    const int step = backstep();
    if (step != backStep_) {
        backStep_ = step;
        emit backStepChanged();
    }
    onItemChange();
    onPlayPause();
    startUpdates();
}

void PlayingViewController::viewDidAppear()
{
    ScreenController::viewDidAppear();
    seekListening_ = true;
    emit seekListeningChanged();
}

void PlayingViewController::viewWillDisappear()
{
    ScreenController::viewWillDisappear();
    seekListening_ = false;
    emit seekListeningChanged();
    stopUpdates();
}

void PlayingViewController::startUpdates()
{
    UniPlayer *p = player();
    if (updating_ || p == nullptr)
        return;
    updating_ = true;
    updatedBy_ = p;
    p->beginPositionUpdates();
    p->addEventHandler(this, &PlayingViewController::updateProgress, LMPlayerEventPosition);
    p->addEventHandler(this, &PlayingViewController::onPlayPause, LMPlayerEventPaused);
    p->addEventHandler(this, &PlayingViewController::onPlayPause, LMPlayerEventPlaying);
    p->addEventHandler(this, &PlayingViewController::onItemChange, LMPlayerEventFileChanged);
    LMOutputVolumeAddListener(&PlayingViewController::outputVolumeChanged, this);
    emit volumeChanged();
}

void PlayingViewController::stopUpdates()
{
    if (!updating_)
        return;
    updating_ = false;
    // The player it registered with (the context may already be going away).
    if (!updatedBy_.isNull()) {
        updatedBy_->removeEventHandler(this);
        updatedBy_->endPositionUpdates();
    }
    LMOutputVolumeRemoveListener(&PlayingViewController::outputVolumeChanged, this);
}

void PlayingViewController::outputVolumeChanged(void *user, float)
{
    emit static_cast<PlayingViewController *>(user)->volumeChanged();
}

void PlayingViewController::updateProgress()
{
    UniPlayer *p = player();
    const PlayableItemPtr item = p != nullptr ? p->currentItem() : nullptr;
    if (!item)
        return;
    const double total = item->totalTime();
    double elapsed = p->currentTime() - item->startTime();
    // The decoder may stand a little before a cue track's start or past its end.
    elapsed = std::max(0.0, elapsed);
    if (total > 0)
        elapsed = std::min(elapsed, total);
    const double remaining = std::max(0.0, total - elapsed);
    elapsedText_ = timeText(elapsed);
    remainingText_ = QLatin1Char('-') + timeText(remaining);
    if (total > 0) {
        progress_ = elapsed / total;
        totalSeconds_ = int(total);
        lyricsTime_ = elapsed;
    }
    emit progressChanged();
}

void PlayingViewController::onPlayPause()
{
    emit playPauseChanged();
}

void PlayingViewController::onItemChange()
{
    UniPlayer *p = player();
    const PlayableItemPtr item = p != nullptr ? p->currentItem() : nullptr;
    if (!item)
        return;
    setTitle(item->title());
    artist_ = item->artist();
    album_ = item->album();
    mediaInfo_ = mediaInfoText(item->sampleRate(), item->bitsPerSample());
    emit itemChanged();
    cover_ = item->coverImage();
    emit coverChanged();
    updateProgress();
    showLRCForItem(item);
}

void PlayingViewController::showLRCForItem(const PlayableItemPtr &item)
{
    lyricsPath_ = item ? Lyrics::pathForItem(*item) : QString();
    // Emitted on every item: the view makes its lyrics strip anew.
    emit lyricsChanged();
}

void PlayingViewController::back()
{
    goBack();
}

void PlayingViewController::playBack()
{
    UniPlayer *p = player();
    const PlayableItemPtr item = p != nullptr ? p->currentItem() : nullptr;
    if (!item)
        return;
    const double target = std::max<double>(item->startTime(), p->currentTime() - backstep());
    p->seekToTime(target);
    updateProgress();
}

void PlayingViewController::endSeeking(double value)
{
    UniPlayer *p = player();
    const PlayableItemPtr item = p != nullptr ? p->currentItem() : nullptr;
    if (!item)
        return;
    const double target = item->startTime() + item->totalTime() * std::clamp(value, 0.0, 1.0);
    if (std::fabs(target - p->currentTime()) > kSeekThreshold)
        p->seekToTime(target);
    if (!p->playing())
        p->play();
    updateProgress();
    onPlayPause();
}

void PlayingViewController::togglePlay()
{
    UniPlayer *p = player();
    if (p == nullptr)
        return;
    if (p->playing())
        p->pause();
    else
        p->play();
    onPlayPause();
}

void PlayingViewController::next()
{
    PlayingSource *s = source();
    UniPlayer *p = player();
    if (s == nullptr || p == nullptr)
        return;
    if (PlayableItemPtr item = s->nextItem())
        p->play(item);
}

void PlayingViewController::prev()
{
    if (PlayingSource *s = source())
        s->previous();
}

void PlayingViewController::importCoverImage()
{
    if (!picker_) {
        emit imagePickerRequested(isTablet());
        return;
    }
    QPointer<PlayingViewController> self(this);
    picker_([self](const QImage &image) {
        if (!self.isNull() && !image.isNull())
            self->didPickImage(image);
    });
}

void PlayingViewController::imageFilePicked(const QUrl &file)
{
    QImageReader reader(file.isLocalFile() ? file.toLocalFile() : file.toString());
    // Pictures from cameras carry their orientation: the stored cover is upright.
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull()) {
        qWarning("Cannot read the picture %s: %s", qPrintable(file.toString()), qPrintable(reader.errorString()));
        return;
    }
    didPickImage(image);
}

void PlayingViewController::placePickerAt(QQuickItem *anchor)
{
    QQuickWindow *window = anchor != nullptr ? anchor->window() : nullptr;
    if (window == nullptr)
        return;
    // The dialogs' own file dialog is a popup made beside the window's items.
    QObject *popup = nullptr;
    for (QObject *o : window->findChildren<QObject *>()) {
        if (o->inherits("QQuickFileDialogImpl") && o->property("visible").toBool()) {
            popup = o;
            break;
        }
    }
    if (popup == nullptr)
        return;
    // It centres itself in the window unless told otherwise.
    if (QObject *anchors = popup->property("anchors").value<QObject *>())
        anchors->setProperty("centerIn", QVariant::fromValue<QQuickItem *>(nullptr));
    QRectF frame(0, 0, window->width(), window->height());
    if (isTablet()) {
        const qreal margin = 8;
        const qreal w = std::min<qreal>(Presenter::kPopoverWidth, window->width() - 2 * margin);
        const qreal h = std::min<qreal>(Presenter::kPopoverHeight, window->height() - 2 * margin);
        const QPointF at = anchor->mapToScene(QPointF(0, anchor->height() / 2));
        frame = QRectF(std::max(margin, at.x() - margin - w),
                       std::clamp(at.y() - h / 2, margin, window->height() - margin - h), w, h);
    }
    popup->setProperty("x", frame.x());
    popup->setProperty("y", frame.y());
    popup->setProperty("width", frame.width());
    popup->setProperty("height", frame.height());
}

QString PlayingViewController::didPickImage(const QImage &image)
{
    cover_ = image;
    emit coverChanged();
    UniPlayer *p = player();
    const PlayableItemPtr item = p != nullptr ? p->currentItem() : nullptr;
    if (!item)
        return QString();
    const QString path = coverPathFor(*item);
    if (path.isNull())
        return QString();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("Cannot write the cover %s", qPrintable(path));
        return QString();
    }
    QImageWriter writer(&file, "jpg");
    writer.setQuality(kCoverJpegQuality);
    if (!writer.write(image) || !file.commit()) {
        qWarning("Cannot write the cover %s: %s", qPrintable(path), qPrintable(writer.errorString()));
        return QString();
    }
    // The item finds its cover there from now on, before any scan.
    item->setCoverImagePath(path);
    return path;
}
