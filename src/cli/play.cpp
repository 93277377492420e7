// lumenar-cli play: plays files through the output engine, one after the other, joining
// equal formats without a gap. Prints "event N state S time T" per engine event, and a
// progress line when standard output is a terminal.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include "cli/cli.h"
#include "engine/lm_file.h"
#include "engine/lm_player.h"
#include "platform/audio_queue/audio_queue.h"

namespace {

const char kName[] = "play";

struct Session {
    LMPlayer *player = nullptr;
    std::vector<LMFile *> files;        // in play order; those from `next` on are still ours
    std::map<const LMFile *, std::string> paths;
    size_t next = 0;
    LMFile *tail = nullptr;              // the last file handed to the engine
    bool ended = false;                  // the engine reported the end; waiting for play-out
    bool startPending = false;           // the next file starts from the event loop
    bool finished = false;
    bool tty = false;
    bool progressShown = false;
    float volume = -1;                   // < 0: leave the queue's own

    void clearProgress()
    {
        if (progressShown) {
            fputs("\r\033[K", stdout);
            progressShown = false;
        }
    }

    void finish(int code)
    {
        if (finished)
            return;
        finished = true;
        clearProgress();
        fflush(stdout);
        QCoreApplication::exit(code);
    }

    // Hands file `index` to the engine and queues behind it every following file that
    // joins it without a gap; the others wait for the end of what plays.
    void start(size_t index)
    {
        next = index + 1;
        tail = files[index];
        ended = false;
        startPending = false;
        LMPlayerPlayFile(player, files[index]);
        if (volume >= 0)
            LMPlayerSetVolume(player, volume);   // the volume belongs to each new queue
        while (next < files.size() && LMPlayerFilesJoin(tail, files[next])) {
            tail = files[next++];
            LMPlayerQueueFile(player, tail);
        }
    }

    void onEvent(LMPlayerEvent event)
    {
        if (finished)
            return;
        const LMPlayerState state = LMPlayerGetState(player);
        clearProgress();
        printf("event %d state %d time %.3f\n", event, state, LMPlayerCurrentTime(player));
        fflush(stdout);
        switch (event) {
        case LMPlayerEventError:
            fprintf(stderr, "lumenar-cli play: the audio output could not be started\n");
            finish(1);
            break;
        case LMPlayerEventEnded:
            ended = true;
            break;
        case LMPlayerEventPaused:
            if (state != LMPlayerStatePaused)
                break;
            if (!ended) {
                fprintf(stderr, "lumenar-cli play: the audio output stopped\n");
                finish(1);
            } else if (startPending) {
                break;   // the queue that ended reports its stop more than once
            } else if (next < files.size()) {
                // Started from the event loop, not from inside the engine's listener.
                const size_t index = next;
                startPending = true;
                QTimer::singleShot(0, [this, index] { start(index); });
            } else {
                finish(0);
            }
            break;
        default:
            break;
        }
    }

    static void handle(void *user, LMPlayerEvent event) { static_cast<Session *>(user)->onEvent(event); }

    void showProgress()
    {
        if (!tty || finished)
            return;
        LMFile *file = LMPlayerCurrentFile(player);
        if (file == nullptr)
            return;
        const int now = int(LMPlayerCurrentTime(player));
        const int total = int(file->duration);
        auto it = paths.find(file);
        const char *path = it != paths.end() ? it->second.c_str() : "";
        const char *slash = strrchr(path, '/');
        printf("\r\033[K%02d:%02d / %02d:%02d  %s", now / 60, now % 60, total / 60, total % 60,
               slash ? slash + 1 : path);
        fflush(stdout);
        progressShown = true;
    }
};

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

int runPlay(int argc, char **argv)
{
    std::vector<std::string> paths;
    const char *audio = nullptr;
    double seek = 0, volume = -1;
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
        } else if (a == "--seek") {
            if (!hasValue || !parseNumber(argv[++i], &seek) || seek < 0)
                return cli::usageError(kName, "--seek takes a number of seconds, 0 or more");
            haveSeek = true;
        } else if (a == "--volume") {
            if (!hasValue || !parseNumber(argv[++i], &volume) || volume < 0 || volume > 1)
                return cli::usageError(kName, "--volume takes a number from 0 to 1");
        } else if (a == "--") {
            for (i++; i < argc; i++)
                paths.push_back(argv[i]);
        } else if (a.size() > 1 && a[0] == '-') {
            return cli::usageError(kName, ("unknown option " + a).c_str());
        } else {
            paths.push_back(a);
        }
    }
    if (paths.empty())
        return cli::usageError(kName, "no file given");

    int qargc = 1;
    char *qargv[] = {argv[0], nullptr};
    QCoreApplication app(qargc, qargv);
    if (audio != nullptr)
        LMAudioOutputSelect(audio);

    Session s;
    for (const std::string &path : paths) {
        LMFile *file = LMFileOpen(path.c_str());
        if (file == nullptr) {
            fprintf(stderr, "lumenar-cli play: cannot open %s\n", path.c_str());
            continue;
        }
        s.files.push_back(file);
        s.paths[file] = path;
    }
    if (s.files.empty()) {
        fprintf(stderr, "lumenar-cli play: nothing could be opened\n");
        return 1;
    }
    if (haveSeek)
        LMFileSeek(s.files[0], seek);
    s.volume = float(volume);
    s.tty = isatty(STDOUT_FILENO) == 1;
    s.player = LMPlayerCreate();
    LMPlayerSetEventHandler(s.player, Session::handle, &s);

    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&s] { s.showProgress(); });
    if (s.tty)
        progress.start(250);
    QTimer::singleShot(0, [&s] { s.start(0); });
    const int code = app.exec();

    LMPlayerSetEventHandler(s.player, nullptr, nullptr);
    LMPlayerDispose(s.player);   // closes what it was handed, finalises a WAV output
    for (size_t i = s.next; i < s.files.size(); i++)
        LMFileClose(s.files[i]);
    return code;
}

} // namespace

LUMENAR_CLI_COMMAND("play", "FILE... [--audio pulse|null|wav:PATH|wav-fast:PATH] [--seek S] [--volume V]", runPlay);
