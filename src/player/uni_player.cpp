#include "player/uni_player.h"

#include <algorithm>
#include <cmath>

#include <QCoreApplication>
#include <QFile>

#include "library/settings_keys.h"
#include "platform/core/delayed_perform.h"
#include "platform/core/now_playing.h"
#include "platform/core/user_defaults.h"

Q_LOGGING_CATEGORY(lcPlayer, "lumenar.player")

const QString UniPlayer::kPlayAction = QStringLiteral("play:");
const QString UniPlayer::kFadeAction = QStringLiteral("sleepTransition:");
const QString UniPlayer::kPlayedOutAction = QStringLiteral("playedOut");

namespace {

// Cue tracks end this long before their end in the decode position.
constexpr double kCueTrackEndLead = 0.1;
// The following cue track is reached without a seek when the decoder is this close to it.
constexpr double kConsecutiveSlack = 2.0;
// The longest the output may take to play out what it holds after the end (three buffers,
// the sound device's reserve and the server's five seconds); past it the end is taken as
// heard.
constexpr double kPlayOutLimit = 15.0;
// Position ticks come this much after the heard second turns, so that it has turned.
constexpr int kTickLateMs = 5;
// A cue track end found not yet due is looked at again after at least this.
constexpr int kEndRetryMs = 20;

QString failureKey(const PlayableItem &item)
{
    return item.path() + QLatin1Char('\n') + QString::number(item.trackNumber()) +
           (item.ownFile() ? QLatin1String("\nfile") : QLatin1String("\ntrack"));
}

} // namespace

UniPlayer *UniPlayer::defaultPlayer()
{
    static QPointer<UniPlayer> shared;
    if (shared.isNull()) {
        shared = new UniPlayer(QCoreApplication::instance());
        QPointer<UniPlayer> weak = shared;
        NowPlaying::shared()->setPositionProvider([weak]() -> double {
            if (weak.isNull() || !weak->currentItem())
                return 0;
            return std::max(0.0, weak->currentTime() - weak->currentItem()->startTime());
        });
    }
    return shared;
}

UniPlayer::UniPlayer(QObject *parent) : QObject(parent)
{
    positionTimer_.setSingleShot(true);
    positionTimer_.setTimerType(Qt::CoarseTimer);
    connect(&positionTimer_, &QTimer::timeout, this, &UniPlayer::onPositionTimer);
    itemEndTimer_.setSingleShot(true);
    itemEndTimer_.setTimerType(Qt::PreciseTimer);
    connect(&itemEndTimer_, &QTimer::timeout, this, &UniPlayer::onItemEndTimer);
    player_ = LMPlayerCreate();
    LMPlayerSetEventHandler(player_, &UniPlayer::engineCallback, this);
    shuffle_ = UserDefaults::boolForKey(SettingsKeys::ShuffleMode);
}

UniPlayer::~UniPlayer()
{
    DelayedPerform::cancelAll(this);
    LMPlayerSetEventHandler(player_, nullptr, nullptr);
    LMPlayerDispose(player_);
}

void UniPlayer::engineCallback(void *user, LMPlayerEvent event)
{
    static_cast<UniPlayer *>(user)->onPlayerEvent(event);
}

// Sound comes out: also while the output plays out what it holds after the end of the
// data, which takes seconds.
bool UniPlayer::playing() const
{
    if (player_ == nullptr)
        return false;
    const LMPlayerState state = LMPlayerGetState(player_);
    return state == LMPlayerStatePlaying || (state == LMPlayerStateEnded && LMPlayerOutputRunning(player_));
}

LMFile *UniPlayer::openItem(const PlayableItemPtr &item) const
{
    if (item->path().isEmpty())
        return nullptr;
    return opener_(QFile::encodeName(item->path()).constData());
}

void UniPlayer::play(PlayableItemPtr item)
{
    if (!item || player_ == nullptr)
        return;
    // Same file only while the engine holds that file alone: with a successor chained the
    // successor would later play under this item.
    LMFile *engineFile = LMPlayerCurrentFile(player_);
    const bool sameFile = currentItem_ && engineFile != nullptr && engineFile->next == nullptr &&
                          currentItem_->path() == item->path();
    const bool consecutive = sameFile && currentItem_->trackNumber() + 1 == item->trackNumber();

    cancelPlayedOut();
    setCurrentItem(item);
    queuedItem_.reset();

    if (!sameFile) {
        LMFile *file = openItem(item);
        if (file == nullptr) {
            skipFailedItem(item);
            return;
        }
        failedInARow_.clear();
        if (!item->ownFile())
            LMFileSeek(file, item->startTime());
        engineFile_ = file;
        LMPlayerPlayFile(player_, file);
        return;
    }

    if (consecutive && playing() && std::fabs(item->startTime() - currentTime()) < kConsecutiveSlack) {
        // The decoder has already run into this track.
        dispatchEvent(LMPlayerEventFileChanged);
        return;
    }
    seekToTime(item->startTime());
    if (!playing())
        play();
    dispatchEvent(LMPlayerEventFileChanged);
}

// An item that does not open is stepped past. The next item is asked for while the failed
// one is still current, so that the list moves on from it rather than from the top; when
// an item that already failed in this run comes round again, every candidate has failed
// and stepping stops.
void UniPlayer::skipFailedItem(PlayableItemPtr item)
{
    qCWarning(lcPlayer, "Cannot open %s", qPrintable(item->path()));
    failedInARow_.insert(failureKey(*item));
    PlayableItemPtr next = delegate_ != nullptr ? delegate_->nextItem() : nullptr;
    setCurrentItem(nullptr);
    if (delegate_ == nullptr)
        return;
    if (next && !failedInARow_.contains(failureKey(*next))) {
        schedulePlay(next);
        return;
    }
    failedInARow_.clear();
    pause();
}

void UniPlayer::schedulePlay(const PlayableItemPtr &item)
{
    DelayedPerform::perform(this, kPlayAction, [this, item] { play(item); }, kNextItemDelay);
}

void UniPlayer::queueItem(PlayableItemPtr item)
{
    if (!item)
        return;
    if (item->ownFile() && player_ != nullptr) {
        if (LMFile *file = openItem(item))
            LMPlayerQueueFile(player_, file);
    }
    queuedItem_ = item;
}

void UniPlayer::restoreItem(PlayableItemPtr item, double seconds)
{
    setCurrentItem(item);
    if (!item || player_ == nullptr)
        return;
    if (LMFile *file = openItem(item)) {
        LMFileSeek(file, seconds);
        LMPlayerQueueFile(player_, file);
        engineFile_ = LMPlayerCurrentFile(player_);
    }
}

void UniPlayer::onItemEnd()
{
    if (queuedItem_) {
        schedulePlay(queuedItem_);
        queuedItem_.reset();
        return;
    }
    if (delegate_ == nullptr)
        return;
    if (PlayableItemPtr next = delegate_->nextItem()) {
        schedulePlay(next);
        return;
    }
    pause();
    setCurrentItem(nullptr);
}

// The last track of an image ends where the file ends: it ends with the file (event 4).
// Pausing at its end less the lead would leave the last buffers queued and unheard.
bool UniPlayer::endsWithFile(const PlayableItem &item) const
{
    LMFile *file = LMPlayerCurrentFile(player_);
    return file != nullptr && double(item.startTime()) + double(item.totalTime()) + kCueTrackEndLead >= file->duration;
}

void UniPlayer::checkPlayer()
{
    if (!currentItem_ || player_ == nullptr)
        return;
    const PlayableItem &item = *currentItem_;
    if (!item.ownFile()) {
        checkCueTrackEnd();
        return;
    }
    if (locked_ || queuedItem_)
        return;
    LMFile *file = LMPlayerCurrentFile(player_);
    if (file == nullptr || file->next != nullptr)
        return;
    // About a second of decoding before the end. Position events come at least a second
    // apart, so one falls within the last second or on the refill that reaches the end;
    // the engine joins a successor chained then on its next refill.
    if (std::fabs(decodeTime() - double(item.totalTime())) < 1.0 && delegate_ != nullptr)
        queueItem(delegate_->nextItem());
}

void UniPlayer::checkCueTrackEnd()
{
    const PlayableItem &item = *currentItem_;
    const double end = double(item.startTime()) + double(item.totalTime()) - kCueTrackEndLead;
    if (currentTime() < end) {
        // Early: the clock ran a little ahead of the sound, or the sound was held up.
        updateTimers();
        if (itemEndTimer_.isActive() && itemEndTimer_.remainingTime() < kEndRetryMs)
            itemEndTimer_.start(kEndRetryMs);
        return;
    }
    if (endsWithFile(item))
        return;
    if (locked_) {
        seekToTime(item.startTime());
        return;
    }
    // The end was handled already; the next item is on its way.
    if (DelayedPerform::pendingCount(this, kPlayAction) > 0)
        return;
    onItemEnd();
}

void UniPlayer::updateTimers()
{
    const bool running = currentItem_ && playing();
    const bool watched = running && positionWatchers_ > 0;
    const bool cueEnd = running && !currentItem_->ownFile() && !endsWithFile(*currentItem_);
    if (!watched)
        positionTimer_.stop();
    if (!cueEnd)
        itemEndTimer_.stop();
    if (!watched && !cueEnd)
        return;
    const double heard = currentTime();
    if (watched) {
        const double shown = heard - double(currentItem_->startTime());
        const double toNext = std::floor(shown) + 1.0 - shown;
        positionTimer_.start(int(std::ceil(toNext * 1000.0)) + kTickLateMs);
    }
    if (cueEnd) {
        const double due = double(currentItem_->startTime()) + double(currentItem_->totalTime()) -
                           kCueTrackEndLead - heard;
        itemEndTimer_.start(due > 0 ? int(std::ceil(due * 1000.0)) : 0);
    }
}

void UniPlayer::onPositionTimer()
{
    dispatchEvent(LMPlayerEventPosition);
    updateTimers();
}

void UniPlayer::onItemEndTimer()
{
    if (currentItem_ && !currentItem_->ownFile() && player_ != nullptr)
        checkCueTrackEnd();
}

void UniPlayer::beginPositionUpdates()
{
    positionWatchers_++;
    updateTimers();
}

void UniPlayer::endPositionUpdates()
{
    if (positionWatchers_ > 0)
        positionWatchers_--;
    updateTimers();
}

void UniPlayer::onPlayerEvent(int event)
{
    switch (event) {
    case LMPlayerEventPosition:
        // The decoder moved on: a whole file's successor may be due. What is heard is
        // told by the position timer, to those who watch it.
        if (currentItem_ && currentItem_->ownFile())
            checkPlayer();
        return;
    case LMPlayerEventFileChanged:
        // Only a hand-over to a chained file promotes the queued item; the event that
        // starting a file sends itself does not, though a successor may have been queued
        // while that file primed its buffers.
        if (LMPlayerCurrentFile(player_) == engineFile_)
            break;
        engineFile_ = LMPlayerCurrentFile(player_);
        if (queuedItem_) {
            PlayableItemPtr next = queuedItem_;
            setCurrentItem(next);
            queuedItem_.reset();
        }
        break;
    case LMPlayerEventPaused:
        // Played out to the end, not paused on the way.
        if (playedOut_ && LMPlayerGetState(player_) == LMPlayerStatePaused && player_->stopping &&
            !LMPlayerOutputRunning(player_))
            runPlayedOut();
        NowPlaying::shared()->setPlaying(playing());
        break;
    case LMPlayerEventPlaying:
        NowPlaying::shared()->setPlaying(playing());
        break;
    case LMPlayerEventEnded:
        // Whatever comes next replaces the output at once; the last buffers of this item
        // are heard first.
        if (locked_) {
            PlayableItemPtr again = currentItem_;
            whenPlayedOut([this, again] { play(again); });
        } else if (currentItem_ && DelayedPerform::pendingCount(this, kPlayAction) == 0) {
            // (With a play pending, a cue track's end already chose what comes next.)
            whenPlayedOut([this] { onItemEnd(); });
        }
        break;
    case LMPlayerEventError:
        qCWarning(lcPlayer, "Error player event");
        break;
    default:
        qCWarning(lcPlayer, "unsupported player event");
        break;
    }
    updateTimers();
    dispatchEvent(event);
}

void UniPlayer::whenPlayedOut(std::function<void()> action)
{
    cancelPlayedOut();
    if (LMPlayerGetState(player_) != LMPlayerStateEnded) {
        action();
        return;
    }
    playedOut_ = std::move(action);
    DelayedPerform::perform(this, kPlayedOutAction, [this] { runPlayedOut(); }, kPlayOutLimit);
}

void UniPlayer::runPlayedOut()
{
    std::function<void()> action = std::move(playedOut_);
    cancelPlayedOut();
    if (action)
        action();
}

void UniPlayer::cancelPlayedOut()
{
    playedOut_ = nullptr;
    DelayedPerform::cancel(this, kPlayedOutAction);
}

void UniPlayer::setCurrentItem(PlayableItemPtr item)
{
    if (!item)
        qCDebug(lcPlayer, "Why?");
    if (currentItem_)
        previousItem_ = currentItem_;
    currentItem_ = std::move(item);
    publishNowPlaying();
    updateTimers();
    emit currentItemChanged();
}

void UniPlayer::publishNowPlaying()
{
    NowPlaying *nowPlaying = NowPlaying::shared();
    if (!currentItem_) {
        nowPlaying->clear();
        return;
    }
    NowPlayingInfo info;
    info.title = currentItem_->title().isEmpty() ? QStringLiteral("Lumenar") : currentItem_->title();
    info.album = currentItem_->album();
    info.artist = currentItem_->artist();
    info.artwork = currentItem_->coverImage();
    info.length = currentItem_->totalTime();
    nowPlaying->setInfo(info);
    nowPlaying->setPlaying(playing());
}

void UniPlayer::play()
{
    // Resuming the play-out of an item's end keeps what is to follow it.
    const bool resumingPlayOut = playedOut_ && LMPlayerGetState(player_) == LMPlayerStatePaused &&
                                 player_->stopping && LMPlayerOutputRunning(player_);
    if (!resumingPlayOut) {
        cancelPlayedOut();
        LMPlayerPlay(player_);
        return;
    }
    LMPlayerPlay(player_);
    DelayedPerform::perform(this, kPlayedOutAction, [this] { runPlayedOut(); }, kPlayOutLimit);
}

void UniPlayer::pause()
{
    pauseRequests_++;
    LMPlayerPause(player_);
    // Paused while the end plays out: what follows waits for the rest to be heard.
    DelayedPerform::cancel(this, kPlayedOutAction);
}

void UniPlayer::seekToTime(double seconds)
{
    cancelPlayedOut();
    LMPlayerSeek(player_, seconds);
    updateTimers();
    if (positionWatchers_ > 0)
        dispatchEvent(LMPlayerEventPosition);
}

double UniPlayer::currentTime() const
{
    return LMPlayerPlayedTime(player_);
}

double UniPlayer::decodeTime() const
{
    return LMPlayerCurrentTime(player_);
}

float UniPlayer::getVolume() const
{
    return LMPlayerGetVolume(player_);
}

void UniPlayer::setVolume(float volume)
{
    LMPlayerSetVolume(player_, volume);
}

QString UniPlayer::humanTime(float seconds)
{
    return PlayableItem::humanTime(seconds);
}

bool UniPlayer::addEventHandler(QObject *target, const QByteArray &action, std::function<void()> call, int event)
{
    if (target == nullptr || !call)
        return false;
    for (const EventHandler &h : handlers_)
        if (h.target == target && h.action == action && h.event == event)
            return true;
    for (int i = kHandlerCount - 1; i >= 0; i--) {
        EventHandler &h = handlers_[i];
        if (h.target.isNull()) {
            h.target = target;
            h.action = action;
            h.call = std::move(call);
            h.event = event;
            return true;
        }
    }
    qCWarning(lcPlayer, "Warning: Event handlers full!!");
    return false;
}

void UniPlayer::removeEventHandler(QObject *target)
{
    for (EventHandler &h : handlers_) {
        if (h.target == target) {
            h.target.clear();
            h.action.clear();
            h.call = nullptr;
            h.event = -1;
        }
    }
}

void UniPlayer::dispatchEvent(int event)
{
    for (int i = 0; i < kHandlerCount; i++) {
        const EventHandler &h = handlers_[i];
        if (h.target.isNull() || !h.call || h.event != event)
            continue;
        std::function<void()> call = h.call;   // the action may change the table
        call();
    }
}

int UniPlayer::handlerCount() const
{
    int n = 0;
    for (const EventHandler &h : handlers_)
        n += !h.target.isNull();
    return n;
}

void UniPlayer::sleep()
{
    sleepTransition(kFadeSteps);
}

void UniPlayer::sleepTransition(int n)
{
    if (n > 0) {
        setVolume(float(n) * 0.05f);
        DelayedPerform::perform(this, kFadeAction, [this, n] { sleepTransition(n - 1); }, kFadeStepDelay);
        return;
    }
    DelayedPerform::cancelAll(this);
    playedOut_ = nullptr;
    setVolume(0);
    pause();
    setVolume(1.0f);
}
