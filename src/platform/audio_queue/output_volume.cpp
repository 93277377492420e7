#include "platform/audio_queue/output_volume.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QMetaObject>

#include "platform/thread_poster.h"

namespace {

std::atomic<float> gLevel{1.0f};
std::vector<std::pair<LMOutputVolumeListenerProc, void *>> gListeners;
// The main thread's poster, where reports from the sound server's thread are delivered;
// set once, and it lives as long as that thread.
std::atomic<QObject *> gHome{nullptr};

float clampLevel(float level)
{
    if (std::isnan(level))
        return 0;
    return std::clamp(level, 0.0f, 1.0f);
}

void notify(float level)
{
    // A listener may remove itself (or another) while being told.
    const auto listeners = gListeners;
    for (const auto &[proc, user] : listeners) {
        const bool stillThere = std::find(gListeners.begin(), gListeners.end(), std::make_pair(proc, user)) !=
                                gListeners.end();
        if (stillThere)
            proc(user, level);
    }
}

void rememberHome()
{
    if (gHome.load() == nullptr)
        gHome = LMThreadPoster();
}

} // namespace

float LMOutputVolumeGet(void)
{
    return gLevel.load();
}

void LMOutputVolumeSet(float level)
{
    rememberHome();
    const float v = clampLevel(level);
    if (gLevel.exchange(v) == v)
        return;
    notify(v);
}

void LMOutputVolumeAddListener(LMOutputVolumeListenerProc proc, void *user)
{
    if (proc == nullptr)
        return;
    rememberHome();
    const auto entry = std::make_pair(proc, user);
    if (std::find(gListeners.begin(), gListeners.end(), entry) == gListeners.end())
        gListeners.push_back(entry);
}

void LMOutputVolumeRemoveListener(LMOutputVolumeListenerProc proc, void *user)
{
    gListeners.erase(std::remove(gListeners.begin(), gListeners.end(), std::make_pair(proc, user)),
                     gListeners.end());
}

namespace lmaudio {

float OutputVolumeCurrent()
{
    return gLevel.load();
}

void OutputVolumeReported(float level)
{
    QObject *home = gHome.load();
    if (home == nullptr)
        return;
    const float v = clampLevel(level);
    QMetaObject::invokeMethod(
        home, [v] { LMOutputVolumeSet(v); }, Qt::QueuedConnection);
}

} // namespace lmaudio
