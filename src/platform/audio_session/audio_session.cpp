// The session's listeners and the route property over an event source.
#include "platform/audio_session/audio_session.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include "platform/thread_poster.h"

namespace {

struct RouteListener {
    AudioSessionPropertyListener proc;
    void *userData;
};

class Session final : public AudioSessionEventSource::Sink, public std::enable_shared_from_this<Session> {
public:
    QThread *thread = nullptr;
    QObject *poster = nullptr;
    std::unique_ptr<AudioSessionEventSource> source;
    AudioSessionInterruptionListener interruptionListener = nullptr;
    void *interruptionUserData = nullptr;
    std::vector<RouteListener> routeListeners;
    bool live = true;

    // On the source's thread.
    void routeChanged() override
    {
        post([](Session *s) {
            std::vector<RouteListener> copy = s->routeListeners;   // a listener may remove itself
            for (const RouteListener &l : copy) {
                if (!s->live)
                    return;
                l.proc(l.userData, kAudioSessionProperty_AudioRouteChange, 0, nullptr);
            }
        });
    }

    void interruption(bool begin, bool mayResume) override
    {
        post([begin, mayResume](Session *s) {
            if (s->interruptionListener == nullptr)
                return;
            const uint32_t flags = !begin && mayResume ? uint32_t(kAudioSessionInterruptionFlag_ShouldResume) : 0u;
            const uint32_t state =
                begin ? uint32_t(kAudioSessionBeginInterruption) : uint32_t(kAudioSessionEndInterruption);
            s->interruptionListener(s->interruptionUserData, state, flags);
        });
    }

private:
    template <class F>
    void post(F fn)
    {
        std::weak_ptr<Session> weak = weak_from_this();
        QMetaObject::invokeMethod(
            poster,
            [weak, fn]() {
                std::shared_ptr<Session> s = weak.lock();
                if (s && s->live)
                    fn(s.get());
            },
            Qt::QueuedConnection);
    }
};

std::shared_ptr<Session> gSession;
std::unique_ptr<AudioSessionEventSource> gNextSource;

bool onSessionThread()
{
    return gSession && QThread::currentThread() == gSession->thread;
}

} // namespace

std::string LMAudioSessionRouteForPort(const std::string &port)
{
    std::string lower = port;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find("headphone") != std::string::npos ? "Headphone" : "Speaker";
}

void LMAudioSessionSetEventSource(std::unique_ptr<AudioSessionEventSource> source)
{
    gNextSource = std::move(source);
}

OSStatus AudioSessionInitialize(QThread *thread, AudioSessionInterruptionListener listener, void *userData)
{
    if (thread != nullptr && thread != QThread::currentThread())
        return kAudioLayerParamError;
    if (gSession)
        return kAudioSessionAlreadyInitialized;
    auto s = std::make_shared<Session>();
    s->thread = QThread::currentThread();
    s->poster = LMThreadPoster();
    s->interruptionListener = listener;
    s->interruptionUserData = userData;
    s->source = gNextSource ? std::move(gNextSource) : LMAudioSessionPulseSource();
    gSession = s;
    s->source->start(s.get());
    return noErr;
}

OSStatus AudioSessionSetActive(bool)
{
    return gSession ? OSStatus(noErr) : OSStatus(kAudioSessionNotInitialized);
}

OSStatus AudioSessionSetProperty(AudioSessionPropertyID property, uint32_t size, const void *data)
{
    if (property != kAudioSessionProperty_AudioCategory)
        return kAudioSessionUnsupportedPropertyError;
    if (size != sizeof(uint32_t) || data == nullptr)
        return kAudioSessionBadPropertySizeError;
    return noErr;   // one category fits all here
}

OSStatus AudioSessionGetProperty(AudioSessionPropertyID property, uint32_t *ioSize, void *data)
{
    if (!gSession)
        return kAudioSessionNotInitialized;
    if (!onSessionThread())
        return kAudioLayerParamError;
    if (property != kAudioSessionProperty_AudioRoute)
        return kAudioSessionUnsupportedPropertyError;
    if (ioSize == nullptr || data == nullptr)
        return kAudioLayerParamError;
    std::string port;
    if (!gSession->source->activePort(&port))
        return kAudioSessionRouteUnavailable;
    const std::string route = LMAudioSessionRouteForPort(port);
    if (*ioSize < route.size() + 1)
        return kAudioSessionBadPropertySizeError;
    memcpy(data, route.c_str(), route.size() + 1);
    *ioSize = uint32_t(route.size() + 1);
    return noErr;
}

OSStatus AudioSessionAddPropertyListener(AudioSessionPropertyID property, AudioSessionPropertyListener proc,
                                         void *userData)
{
    if (!gSession)
        return kAudioSessionNotInitialized;
    if (!onSessionThread() || proc == nullptr)
        return kAudioLayerParamError;
    if (property != kAudioSessionProperty_AudioRouteChange)
        return kAudioSessionUnsupportedPropertyError;
    gSession->routeListeners.push_back({proc, userData});
    return noErr;
}

OSStatus AudioSessionRemovePropertyListener(AudioSessionPropertyID property, AudioSessionPropertyListener proc,
                                            void *userData)
{
    if (!gSession)
        return kAudioSessionNotInitialized;
    if (!onSessionThread())
        return kAudioLayerParamError;
    auto &ls = gSession->routeListeners;
    auto it = std::find_if(ls.begin(), ls.end(), [&](const RouteListener &l) {
        return property == kAudioSessionProperty_AudioRouteChange && l.proc == proc && l.userData == userData;
    });
    if (it == ls.end())
        return kAudioLayerParamError;
    ls.erase(it);
    return noErr;
}

void AudioSessionShutdown()
{
    if (!gSession)
        return;
    std::shared_ptr<Session> s = std::move(gSession);
    s->live = false;
    s->source->stop();
}
