#include "platform/audio_queue/pulse_connection.h"

#include <algorithm>
#include <cstdio>

namespace lmpulse {

namespace {

constexpr int kConnectTimeoutMs = 3000;

struct Deadline {
    pa_threaded_mainloop *loop;
    bool expired;
};

void deadlineFired(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    Deadline *d = static_cast<Deadline *>(userdata);
    d->expired = true;
    pa_threaded_mainloop_signal(d->loop, 0);
}

bool connecting(pa_context_state_t s)
{
    return s == PA_CONTEXT_UNCONNECTED || s == PA_CONTEXT_CONNECTING || s == PA_CONTEXT_AUTHORIZING ||
           s == PA_CONTEXT_SETTING_NAME;
}

} // namespace

Connection &Connection::shared()
{
    // Never destroyed: libpulse's thread may still call back while the process exits.
    static Connection *connection = new Connection;
    return *connection;
}

Connection::Connection()
{
    loop_ = pa_threaded_mainloop_new();
    // Named before the start: the thread takes its name as it starts (named later, the
    // name would go to the calling thread).
    if (loop_ != nullptr)
        pa_threaded_mainloop_set_name(loop_, "lumenar-pulse");
    if (loop_ != nullptr && pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

bool Connection::connectedLocked() const
{
    return context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool Connection::ensureConnected()
{
    if (loop_ == nullptr)
        return false;
    Locker lock(*this);
    if (context_ != nullptr && !connecting(pa_context_get_state(context_)) && !connectedLocked()) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    if (context_ == nullptr) {
        pa_proplist *props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Lumenar");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "lumenar");
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Lumenar", props);
        pa_proplist_free(props);
        if (context_ == nullptr)
            return false;
        pa_context_set_state_callback(context_, contextState, this);
        pa_context_set_subscribe_callback(context_, subscribed, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
    }
    waitUntil([this] { return !connecting(pa_context_get_state(context_)); }, kConnectTimeoutMs);
    return connectedLocked();
}

bool Connection::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop_);
    Deadline deadline{loop_, false};
    struct timeval tv;
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, pa_usec_t(timeoutMs) * PA_USEC_PER_MSEC);
    pa_time_event *event = api->time_new(api, &tv, deadlineFired, &deadline);
    while (!done() && !deadline.expired)
        pa_threaded_mainloop_wait(loop_);
    api->time_free(event);
    return done();
}

bool Connection::waitFor(pa_operation *op, int timeoutMs)
{
    if (op == nullptr)
        return false;
    const bool finished =
        waitUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeoutMs);
    if (!finished)
        pa_operation_cancel(op);
    pa_operation_unref(op);
    return finished;
}

void Connection::contextState(pa_context *c, void *userdata)
{
    Connection *self = static_cast<Connection *>(userdata);
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_READY) {
        self->wasReady_ = true;
        pa_operation *op = pa_context_subscribe(
            c, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER |
                                      PA_SUBSCRIPTION_MASK_SINK_INPUT), nullptr, nullptr);
        if (op != nullptr)
            pa_operation_unref(op);
        self->notifyServerChanged();
    } else if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && self->wasReady_) {
        self->wasReady_ = false;
        self->notifyServerChanged();
    }
    pa_threaded_mainloop_signal(self->loop_, 0);
}

void Connection::subscribed(pa_context *, pa_subscription_event_type_t type, uint32_t index, void *userdata)
{
    Connection *self = static_cast<Connection *>(userdata);
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK || facility == PA_SUBSCRIPTION_EVENT_SERVER)
        self->notifyServerChanged();
    else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT &&
             (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE)
        self->notifySinkInputChanged(index);
}

void Connection::addObserver(Observer *observer)
{
    std::lock_guard<std::mutex> lock(observersMutex_);
    observers_.push_back(observer);
}

void Connection::removeObserver(Observer *observer)
{
    std::lock_guard<std::mutex> lock(observersMutex_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void Connection::notifyServerChanged()
{
    std::lock_guard<std::mutex> lock(observersMutex_);
    for (Observer *o : observers_)
        o->serverChanged();
}

void Connection::notifySinkInputChanged(uint32_t index)
{
    std::lock_guard<std::mutex> lock(observersMutex_);
    for (Observer *o : observers_)
        o->sinkInputChanged(index);
}

void Connection::notifyStreamEvent(const char *name)
{
    std::lock_guard<std::mutex> lock(observersMutex_);
    for (Observer *o : observers_)
        o->streamEvent(name);
}

} // namespace lmpulse
