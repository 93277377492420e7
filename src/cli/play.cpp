// lumenar-cli play PATH... [--audio OUT] [--mode 0-3] [--seek S] [--volume V]
//
// Plays audio files, folders (every audio file under them, in library order) and .m3u
// play lists as one play list: disc images expand to their cue tracks, the track player
// plays the items and the play-list controller chooses what comes next in the play mode
// given (0 play to end of list, the default; 1 shuffle; 2 loop; 3 single track loop; kept
// in memory, the application's setting is left alone).
//
// On a terminal (standard input and output both ttys) it shows the current item, a
// progress bar with elapsed and remaining time and the current lyric line, and takes keys:
// space play/pause, n next, p previous, left/right seek 10 s, b step back (BackStep
// seconds), m play mode, q quit. Otherwise it prints "item TITLE" for every new item and
// "event N state S time T" for every player event (position events only come to those who
// show the position: not here), and exits after the last item (0), or with 1 when nothing
// could be opened or played or the audio output failed.
//
// Nothing here polls: the display follows the player's events and its position updates,
// which it asks for only on a terminal; without one the process sleeps between the
// player's refills.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include "app/process_entry.h"
#include "cli/cli.h"
#include "cli/terminal.h"
#include "library/character_encoding.h"
#include "library/music_library.h"
#include "library/playlist_file.h"
#include "library/user_settings.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/core/delayed_perform.h"
#include "player/lyrics.h"
#include "player/play_list_controller.h"
#include "player/uni_player.h"

namespace {

const char kName[] = "play";
constexpr double kSeekStep = 10.0;

bool parseNumber(const char *text, double *out)
{
    char *end = nullptr;
    errno = 0;
    const double v = strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

// The rows to play: every item followed by its cue tracks.
class RowCollector {
public:
    PlayableItemList rows;

    void addPath(const QString &given)
    {
        const QFileInfo info(given);
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir())
            addFolder(path);
        else if (info.suffix().compare(QLatin1String("m3u"), Qt::CaseInsensitive) == 0 && info.isFile())
            addPlaylist(path);
        else
            addFile(path);
    }

private:
    void addFile(const QString &path)
    {
        PlayableItemPtr item = PlayableItem::itemWithPath(path);
        if (!item) {
            fprintf(stderr, "lumenar-cli play: cannot open %s\n", qPrintable(path));
            return;
        }
        rows.append(item);
        rows.append(item->subItems());
    }

    void addFolder(const QString &folder)
    {
        std::optional<QStringList> files = MusicLibrary::getAudioFilesInDirectory(folder, true);
        if (!files) {
            fprintf(stderr, "lumenar-cli play: cannot read folder %s\n", qPrintable(folder));
            return;
        }
        if (files->isEmpty())
            fprintf(stderr, "lumenar-cli play: no audio files in %s\n", qPrintable(folder));
        MusicLibrary::sortPaths(*files);
        for (const QString &file : *files)
            addFile(file);
    }

    void addPlaylist(const QString &path)
    {
        const PlaylistLines lines = PlaylistLines::read(path);
        if (lines.count() == 0) {
            fprintf(stderr, "lumenar-cli play: no entries in %s\n", qPrintable(path));
            return;
        }
        const QString folder = QFileInfo(path).absolutePath();
        const unsigned preferred = UserSettings::preferedEncoding();
        for (int i = 0; i < lines.count(); i++) {
            QString entry = CharacterEncoding::parseCString(lines.entryAt(i), preferred);
            if (entry.isEmpty())
                continue;
            if (!QDir::isAbsolutePath(entry))
                entry = folder + QLatin1Char('/') + entry;
            addFile(QDir::cleanPath(entry));
        }
    }
};

class PlaySession : public QObject {
public:
    UniPlayer *player = nullptr;
    PlayListController *controller = nullptr;
    bool tty = false;
    float volume = -1;   // < 0: the queue's own

    void start(const PlayableItemPtr &first, bool haveSeek, double seek)
    {
        for (int event = LMPlayerEventPosition; event <= LMPlayerEventError; event++)
            player->addEventHandler(this, "onEvent" + QByteArray::number(event), [this, event] { onEvent(event); },
                                    event);
        seenPauseRequests_ = player->pauseRequests();
        started_ = true;
        // Queued: an item may be replaced on the way to the next one (a file that does not
        // open), and only where that ends counts.
        QObject::connect(player, &UniPlayer::currentItemChanged, this, [this] { update(); }, Qt::QueuedConnection);
        if (tty) {
            player->beginPositionUpdates();
            watching_ = true;
        }
        if (haveSeek) {
            player->restoreItem(first, double(first->startTime()) + seek);
            player->play();
        } else {
            player->play(first);
        }
        noteItem();
        checkFinished();
    }

    void stop()
    {
        if (player != nullptr) {
            player->removeEventHandler(this);
            if (watching_)
                player->endPositionUpdates();
            watching_ = false;
        }
        if (tty)
            block_.finish();
    }

    void finish(int code)
    {
        if (finished_)
            return;
        finished_ = true;
        if (tty)
            redraw();
        QCoreApplication::exit(code);
    }

    // After anything happened: a new item, the end of the list, the display.
    void update()
    {
        if (finished_)
            return;
        noteItem();
        checkFinished();
        if (tty && !finished_)
            redraw();
    }

    void onKeys(const QByteArray &bytes)
    {
        for (const cli::KeyReader::Press &press : keys_.feed(bytes)) {
            if (finished_)
                return;
            switch (press.key) {
            case cli::Key::Space:
                controller->togglePlayPause();
                break;
            case cli::Key::Left:
                seekBy(-kSeekStep);
                break;
            case cli::Key::Right:
                seekBy(kSeekStep);
                break;
            case cli::Key::Char:
                onChar(press.ch);
                break;
            case cli::Key::None:
                break;
            }
        }
        update();
    }

private:
    void onChar(char c)
    {
        switch (c) {
        case 'n':
        case 'N':
            if (PlayableItemPtr next = controller->nextItem())
                player->play(next);
            break;
        case 'p':
        case 'P':
            controller->previous();
            break;
        case 'b':
        case 'B':
            stepBack();
            break;
        case 'm':
        case 'M':
            controller->togglePlayMode();
            break;
        case 'q':
        case 'Q':
            finish(0);
            break;
        default:
            break;
        }
    }

    void seekBy(double delta)
    {
        const PlayableItemPtr item = player->currentItem();
        if (!item)
            return;
        const double start = item->startTime();
        const double end = start + item->totalTime();
        player->seekToTime(std::clamp(player->currentTime() + delta, start, std::max(start, end)));
    }

    void stepBack()
    {
        const PlayableItemPtr item = player->currentItem();
        if (!item)
            return;
        player->seekToTime(std::max(player->currentTime() - UserSettings::backStep(), double(item->startTime())));
    }

    void onEvent(int event)
    {
        if (finished_)
            return;
        noteItem();
        const LMPlayerState state = LMPlayerGetState(player->engine());
        if (!tty) {
            printf("event %d state %d time %.3f\n", event, state, player->currentTime());
            fflush(stdout);
        }
        switch (event) {
        case LMPlayerEventPlaying:
            played_ = true;
            if (volume >= 0)
                player->setVolume(volume);   // the volume belongs to each new queue
            break;
        case LMPlayerEventError:
            report("the audio output could not be started");
            finish(1);
            return;
        case LMPlayerEventPaused: {
            const bool requested = player->pauseRequests() != seenPauseRequests_;
            seenPauseRequests_ = player->pauseRequests();
            // A stop that neither follows the end of the data nor a pause request is the
            // output failing.
            const bool drained = player->engine()->stopping != 0;
            if (state == LMPlayerStatePaused && !drained && !requested && player->currentItem()) {
                report("the audio output stopped");
                finish(1);
                return;
            }
            break;
        }
        default:
            break;
        }
        checkFinished();
        if (tty && !finished_)
            redraw();
    }

    void report(const char *message)
    {
        if (tty)
            block_.finish();
        fprintf(stderr, "lumenar-cli play: %s\n", message);
    }

    void noteItem()
    {
        const PlayableItemPtr current = player->currentItem();
        if (current.get() == lastItem_.get())
            return;
        lastItem_ = current;
        if (current && !tty) {
            printf("item %s\n", qPrintable(current->title()));
            fflush(stdout);
        }
    }

    // Done once nothing is current, nothing is on its way and the output has played out.
    void checkFinished()
    {
        if (!started_ || finished_ || player->currentItem() ||
            DelayedPerform::pendingCount(player, UniPlayer::kPlayAction) > 0)
            return;
        const LMPlayerState state = LMPlayerGetState(player->engine());
        if (state == LMPlayerStatePlaying || state == LMPlayerStateEnded)
            return;
        if (!played_) {
            report("nothing could be played");
            finish(1);
            return;
        }
        finish(0);
    }

    void redraw()
    {
        const int columns = std::max(20, cli::terminalColumns());
        const PlayableItemPtr item = player->currentItem();
        QStringList lines;
        const QString mode = controller->playModeName();
        if (!item) {
            lines << QStringLiteral("   (nothing playing)  [%1]").arg(mode) << QString() << QString();
        } else {
            QString head = (player->playing() ? QStringLiteral("▶ ") : QStringLiteral("⏸ ")) + item->title();
            if (!item->artist().isEmpty())
                head += QStringLiteral(" — ") + item->artist();
            if (!item->album().isEmpty())
                head += QStringLiteral(" — ") + item->album();
            const double total = std::max(0.0f, item->totalTime());
            const double elapsed = std::clamp(player->currentTime() - item->startTime(), 0.0, std::max(total, 0.0));
            const QString times = QStringLiteral(" %1 -%2  [%3]")
                                      .arg(UniPlayer::humanTime(float(elapsed)),
                                           UniPlayer::humanTime(float(total - elapsed)), mode);
            const int barWidth = std::max(10, columns - int(times.size()) - 3);
            const int filled = total > 0 ? int(std::lround(barWidth * elapsed / total)) : 0;
            const QString bar = QStringLiteral("[") + QString(filled, QLatin1Char('#')) +
                                QString(barWidth - filled, QLatin1Char('-')) + QStringLiteral("]");
            if (lyricsItem_.get() != item.get()) {
                lyricsItem_ = item;
                lyrics_ = Lyrics::forItem(*item);
            }
            const QString lyric = lyrics_.textAt(lyrics_.lineForTime(elapsed));
            lines << head << bar + times << (lyric.isEmpty() ? QString() : QStringLiteral("♪ ") + lyric);
        }
        for (QString &line : lines)
            if (line.size() >= columns)
                line = line.left(columns - 1);
        block_.draw(lines);
    }

    bool started_ = false;
    bool finished_ = false;
    bool watching_ = false;
    bool played_ = false;
    quint64 seenPauseRequests_ = 0;
    PlayableItemPtr lastItem_;
    PlayableItemPtr lyricsItem_;
    Lyrics lyrics_;
    cli::KeyReader keys_;
    cli::StatusBlock block_;
};

int runPlay(int argc, char **argv)
{
    QStringList paths;
    const char *audio = nullptr;
    double seek = 0, volume = -1, mode = 0;
    bool haveSeek = false;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--audio") {
            if (!hasValue)
                return cli::usageError(kName, "--audio needs a value");
            audio = argv[++i];
            if (!LMAudioOutputSpecValid(audio))
                return cli::usageError(kName, "--audio takes pulse, null, wav:PATH or wav-fast:PATH");
        } else if (a == "--mode") {
            if (!hasValue || !parseNumber(argv[++i], &mode) || mode != std::floor(mode) || mode < 0 || mode > 3)
                return cli::usageError(kName, "--mode takes 0 (to end of list), 1 (shuffle), 2 (loop) or 3 (single track loop)");
        } else if (a == "--seek") {
            if (!hasValue || !parseNumber(argv[++i], &seek) || seek < 0)
                return cli::usageError(kName, "--seek takes a number of seconds, 0 or more");
            haveSeek = true;
        } else if (a == "--volume") {
            if (!hasValue || !parseNumber(argv[++i], &volume) || volume < 0 || volume > 1)
                return cli::usageError(kName, "--volume takes a number from 0 to 1");
        } else if (a == "--") {
            for (i++; i < argc; i++)
                paths << QString::fromLocal8Bit(argv[i]);
        } else if (a.size() > 1 && a[0] == '-') {
            return cli::usageError(kName, ("unknown option " + a).c_str());
        } else {
            paths << QString::fromLocal8Bit(argv[i]);
        }
    }
    if (paths.isEmpty())
        return cli::usageError(kName, "no file given");

    signal(SIGPIPE, SIG_IGN);
    // The end of the list is no news here.
    QLoggingCategory::setFilterRules(QStringLiteral("lumenar.player.debug=false"));
    int qargc = 1;
    char *qargv[] = {argv[0], nullptr};
    QCoreApplication app(qargc, qargv);
    if (audio != nullptr)
        LMAudioOutputSelect(audio);

    RowCollector collector;
    for (const QString &path : paths)
        collector.addPath(path);
    if (collector.rows.isEmpty()) {
        fprintf(stderr, "lumenar-cli play: nothing could be opened\n");
        return 1;
    }

    UniPlayer *player = UniPlayer::defaultPlayer();
    auto controller = std::make_unique<PlayListController>(player);
    controller->keepPlayModeInMemory(int(mode));
    controller->setPlayList(collector.rows);
    controller->setReceivesRemoteControlEvents(true);

    PlaySession session;
    session.player = player;
    session.controller = controller.get();
    session.volume = float(volume);
    session.tty = isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;

    std::unique_ptr<cli::RawTerminal> raw;
    std::unique_ptr<QSocketNotifier> keys;
    if (session.tty) {
        raw = std::make_unique<cli::RawTerminal>();
        keys = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(keys.get(), &QSocketNotifier::activated, &session, [&session, &keys] {
            char buffer[64];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n > 0)
                session.onKeys(QByteArray(buffer, int(n)));
            else if (n == 0)
                keys->setEnabled(false);   // input closed: only the player's events drive us now
        });
    }
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &session,
                     [&session](int number) { session.finish(128 + number); });

    const PlayableItemPtr first = controller->nextItem();
    QTimer::singleShot(0, &session, [&session, first, haveSeek, seek] { session.start(first, haveSeek, seek); });
    const int code = app.exec();

    session.stop();
    keys.reset();
    raw.reset();
    controller.reset();
    delete player;   // finalises a WAV output
    return code;
}

} // namespace

LUMENAR_CLI_COMMAND("play",
                    "PATH... [--audio pulse|null|wav:PATH|wav-fast:PATH] [--mode 0-3] [--seek S] [--volume V]",
                    runPlay);
