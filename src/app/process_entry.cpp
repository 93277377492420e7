#include "app/process_entry.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "library/user_settings.h"
#include "platform/audio_session/audio_session.h"

namespace ProcessEntry {

void prepare()
{
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    const uint32_t category = kAudioSessionCategory_MediaPlayback;
    AudioSessionSetProperty(kAudioSessionProperty_AudioCategory, sizeof category, &category);
    AudioSessionSetActive(true);
    UserSettings::ensureCurrentTheme();
}

} // namespace ProcessEntry

namespace {

int gPipe[2] = {-1, -1};
struct sigaction gOldInt, gOldTerm;

void onTerminationSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    ssize_t ignored = write(gPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (gPipe[0] >= 0 || pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("termination signals");
        return;
    }
    notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char byte;
        while (read(gPipe[0], &byte, 1) == 1)
            emit terminationRequested(byte);
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, &gOldInt);
    sigaction(SIGTERM, &sa, &gOldTerm);
}

TerminationSignals::~TerminationSignals()
{
    if (notifier_ == nullptr)
        return;
    sigaction(SIGINT, &gOldInt, nullptr);
    sigaction(SIGTERM, &gOldTerm, nullptr);
    delete notifier_;
    close(gPipe[0]);
    close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}
