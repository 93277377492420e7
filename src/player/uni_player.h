// UniPlayer: the track player. Plays PlayableItems through the output engine: opens an
// item's file, seeks to a cue track's start, queues the next whole file shortly before the
// end so that equal formats join without a gap, ends cue tracks inside one image file,
// repeats the current item while locked, asks its delegate what comes next, fans engine
// events out to registered handlers, publishes the now-playing information and fades out
// for the sleep timer.
//
// Events are the engine's numbers (LMPlayerEvent): 0 position, 1 item changed, 2 paused,
// 3 playing, 4 ended, 5 error.
//
// No timer runs without a purpose. The position (event 0) is dispatched only while someone
// shows it (beginPositionUpdates), once per second of sound heard; the end of a cue track
// is checked by one timer set for the moment it is due; whole files end by the engine's
// events. While paused nothing runs at all.
//
// Main thread only: user actions, engine events and every delayed request (the play 0.25 s
// after an item ends, the fade steps) run on the main event loop. The application uses
// the shared instance (defaultPlayer); tests build their own.
#pragma once

#include <functional>
#include <typeinfo>

#include <QByteArray>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include "engine/lm_player.h"
#include "library/playable_item.h"

Q_DECLARE_LOGGING_CATEGORY(lcPlayer)

// The source of the next item: the main play list.
class UniPlayerDelegate {
public:
    // The item to play after the current one; null when there is none.
    virtual PlayableItemPtr nextItem() = 0;

protected:
    ~UniPlayerDelegate() = default;
};

// What the now-playing view steps through: the main play list.
class PlayingSource {
public:
    virtual void previous() = 0;
    virtual PlayableItemPtr nextItem() = 0;

protected:
    ~PlayingSource() = default;
};

class UniPlayer : public QObject {
    Q_OBJECT

public:
    static constexpr int kHandlerCount = 10;
    // Delays of the delayed requests, seconds.
    static constexpr double kNextItemDelay = 0.25;
    static constexpr double kFadeStepDelay = 0.3;
    static constexpr int kFadeSteps = 20;
    // Names of the delayed requests aimed at the player.
    static const QString kPlayAction;
    static const QString kFadeAction;
    static const QString kPlayedOutAction;

    // The shared instance, created on first use (a child of the application object).
    static UniPlayer *defaultPlayer();

    explicit UniPlayer(QObject *parent = nullptr);
    ~UniPlayer() override;

    // The engine could not be created (out of memory): every operation does nothing.
    bool isValid() const { return player_ != nullptr; }
    LMPlayer *engine() const { return player_; }

    const PlayableItemPtr &currentItem() const { return currentItem_; }
    const PlayableItemPtr &previousItem() const { return previousItem_; }
    void setPreviousItem(const PlayableItemPtr &item) { previousItem_ = item; }
    const PlayableItemPtr &queuedItem() const { return queuedItem_; }
    void setQueuedItem(const PlayableItemPtr &item) { queuedItem_ = item; }
    bool locked() const { return locked_; }
    void setLocked(bool locked) { locked_ = locked; }
    UniPlayerDelegate *delegate() const { return delegate_; }
    void setDelegate(UniPlayerDelegate *delegate) { delegate_ = delegate; }
    // ShuffleMode was non-zero when the player was created; the player itself ignores it.
    bool shuffle() const { return shuffle_; }
    bool playing() const;

    // Plays an item: a cue track of the file already playing is reached by a seek (or, for
    // the following track while playing, by nothing at all); any other item opens its file.
    // Items are taken by value: the argument may be one of the player's own fields.
    void play(PlayableItemPtr item);
    // The next item: a whole file is opened now and chained behind the current one.
    void queueItem(PlayableItemPtr item);
    // Makes `item` current at `seconds` into its file without starting output; a later
    // play() starts there.
    void restoreItem(PlayableItemPtr item, double seconds);
    void onItemEnd();
    // The end checks: a whole file's successor is queued about a second of decoding
    // before its end (run on the engine's position events); a cue track ends 0.1 s before
    // its end is heard (run by a timer set for that moment).
    void checkPlayer();
    void setCurrentItem(PlayableItemPtr item);

    void play();
    void pause();
    // Goes on from there at once while playing (what was queued is dropped).
    void seekToTime(double seconds);
    // The position in the current file of the sound heard now, seconds (the decoder runs
    // ahead by what the output holds).
    double currentTime() const;
    // Where the decoder is in the current file, seconds.
    double decodeTime() const;

    // Position updates: someone shows the position (the terminal face, a visible screen
    // with a progress bar or lyrics). Counted: every begin needs its end. While the count
    // is above zero and output plays, event 0 is dispatched each time the heard position
    // within the current item reaches a new whole second, and once after a seek; with no
    // one watching, or paused, no position timer runs and event 0 is not dispatched (a
    // peer that asks for the position now reads currentTime()).
    void beginPositionUpdates();
    void endPositionUpdates();
    int positionWatchers() const { return positionWatchers_; }
    // For tests and diagnostics: whether the position updates' timer and the cue track
    // end's timer are set.
    bool positionTimerActive() const { return positionTimer_.isActive(); }
    bool itemEndTimerActive() const { return itemEndTimer_.isActive(); }
    float getVolume() const;
    void setVolume(float volume);
    // How many times pause() was asked for (a pause event without a request is the output
    // stopping by itself).
    quint64 pauseRequests() const { return pauseRequests_; }

    static QString humanTime(float seconds);

    // Handlers: an action run without argument on each dispatch of `event`. An action is
    // told apart from another by its name; an entry whose target is gone is free.
    bool addEventHandler(QObject *target, const QByteArray &action, std::function<void()> call, int event);
    template <class T>
    bool addEventHandler(T *target, void (T::*method)(), int event)
    {
        return addEventHandler(target, memberKey(method), [target, method] { (target->*method)(); }, event);
    }
    void removeEventHandler(QObject *target);
    void dispatchEvent(int event);
    void onPlayerEvent(int event);
    int handlerCount() const;

    // The sleep fade: 20 steps of 0.3 s from full volume down, then pause with volume 1.0.
    void sleep();
    void sleepTransition(int n);

    // The audio file interface used to open items (tests count or refuse opens).
    using FileOpener = LMFile *(*)(const char *path);
    void setFileOpener(FileOpener opener) { opener_ = opener; }

signals:
    // The current item was replaced (also by none), with or without an event.
    void currentItemChanged();

private:
    struct EventHandler {
        QPointer<QObject> target;
        QByteArray action;
        std::function<void()> call;
        int event = -1;
    };

    template <class M>
    static QByteArray memberKey(M method)
    {
        return QByteArray(reinterpret_cast<const char *>(&method), sizeof method) + typeid(M).name();
    }

    static void engineCallback(void *user, LMPlayerEvent event);
    LMFile *openItem(const PlayableItemPtr &item) const;
    void schedulePlay(const PlayableItemPtr &item);
    void skipFailedItem(PlayableItemPtr item);
    bool endsWithFile(const PlayableItem &item) const;
    void publishNowPlaying();
    // Runs `action` once the output has played out what it holds after the end of the
    // data (at once when it is not ending); a new play, play or seek cancels it.
    void whenPlayedOut(std::function<void()> action);
    void runPlayedOut();
    void cancelPlayedOut();
    // Sets the position and end timers for what is due now, or stops them.
    void updateTimers();
    void onPositionTimer();
    void onItemEndTimer();
    void checkCueTrackEnd();

    PlayableItemPtr currentItem_;
    // The engine file the current item plays from (identity only, never dereferenced).
    const LMFile *engineFile_ = nullptr;
    bool locked_ = false;
    EventHandler handlers_[kHandlerCount];
    LMPlayer *player_ = nullptr;
    PlayableItemPtr previousItem_;
    PlayableItemPtr queuedItem_;
    UniPlayerDelegate *delegate_ = nullptr;
    bool shuffle_ = false;
    FileOpener opener_ = &LMFileOpen;
    // Items that failed to open one after the other; stepping stops when one comes round again.
    QSet<QString> failedInARow_;
    quint64 pauseRequests_ = 0;
    std::function<void()> playedOut_;
    int positionWatchers_ = 0;
    QTimer positionTimer_;
    QTimer itemEndTimer_;
};
