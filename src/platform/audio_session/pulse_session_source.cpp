// Route and interruptions from the sound server.
#include <cstring>
#include <string>

#include "platform/audio_queue/pulse_connection.h"
#include "platform/audio_session/audio_session.h"

namespace {

using lmpulse::Connection;
using lmpulse::Locker;

constexpr int kQueryTimeoutMs = 2000;

// Sink events also come for volume changes: only a new default sink or a new active port
// is a route change.
class PulseSessionSource final : public AudioSessionEventSource, public lmpulse::Observer {
public:
    ~PulseSessionSource() override { stop(); }

    void start(Sink *sink) override
    {
        Connection &c = Connection::shared();
        {
            std::string key;
            readKey(&key);
            Locker lock(c);
            sink_ = sink;
            key_ = key;
            stopped_ = false;
        }
        c.addObserver(this);
    }

    void stop() override
    {
        Connection &c = Connection::shared();
        c.removeObserver(this);
        if (c.loop() == nullptr)
            return;
        Locker lock(c);
        stopped_ = true;
        sink_ = nullptr;
        if (pending_ != nullptr) {
            pa_operation_cancel(pending_);
            pa_operation_unref(pending_);
            pending_ = nullptr;
        }
    }

    bool activePort(std::string *port) override
    {
        std::string sinkName;
        return query(&sinkName, port);
    }

    // lmpulse::Observer, on libpulse's thread with the lock held.
    void serverChanged() override
    {
        if (stopped_)
            return;
        if (pending_ != nullptr) {
            again_ = true;
            return;
        }
        again_ = false;
        pa_context *ctx = Connection::shared().context();
        if (ctx == nullptr || pa_context_get_state(ctx) != PA_CONTEXT_READY) {
            settle("");   // no server: no route
            return;
        }
        pending_ = pa_context_get_server_info(ctx, serverInfo, this);
    }

    void streamEvent(const char *name) override
    {
        if (stopped_ || sink_ == nullptr)
            return;
        if (strcmp(name, PA_STREAM_EVENT_REQUEST_CORK) == 0)
            sink_->interruption(true, false);
        else if (strcmp(name, PA_STREAM_EVENT_REQUEST_UNCORK) == 0)
            sink_->interruption(false, true);
    }

private:
    void settle(const std::string &key)
    {
        if (key != key_) {
            key_ = key;
            if (sink_ != nullptr)
                sink_->routeChanged();
        }
        if (again_)
            serverChanged();
    }

    static void serverInfo(pa_context *c, const pa_server_info *info, void *userdata)
    {
        auto *self = static_cast<PulseSessionSource *>(userdata);
        pa_operation_unref(self->pending_);
        self->pending_ = nullptr;
        if (self->stopped_)
            return;
        if (info == nullptr || info->default_sink_name == nullptr) {
            self->settle("");
            return;
        }
        self->sinkName_ = info->default_sink_name;
        self->port_.clear();
        self->pending_ = pa_context_get_sink_info_by_name(c, info->default_sink_name, sinkInfo, self);
    }

    static void sinkInfo(pa_context *, const pa_sink_info *info, int eol, void *userdata)
    {
        auto *self = static_cast<PulseSessionSource *>(userdata);
        if (eol == 0 && info != nullptr) {
            self->port_ = info->active_port != nullptr && info->active_port->name != nullptr ? info->active_port->name : "";
            return;
        }
        pa_operation_unref(self->pending_);
        self->pending_ = nullptr;
        if (!self->stopped_)
            self->settle(self->sinkName_ + "\n" + self->port_);
    }

    bool readKey(std::string *key)
    {
        std::string sinkName, port;
        if (!query(&sinkName, &port)) {
            key->clear();
            return false;
        }
        *key = sinkName + "\n" + port;
        return true;
    }

    // The default sink and its active port, waiting for the answers.
    static bool query(std::string *sinkName, std::string *port)
    {
        Connection &c = Connection::shared();
        if (!c.ensureConnected())
            return false;
        struct Answer {
            Connection *c;
            std::string sink, port;
            bool found = false;
        } answer{&c, {}, {}, false};
        Locker lock(c);
        if (!c.connectedLocked())
            return false;
        pa_operation *op = pa_context_get_server_info(
            c.context(),
            [](pa_context *, const pa_server_info *info, void *userdata) {
                auto *a = static_cast<Answer *>(userdata);
                if (info != nullptr && info->default_sink_name != nullptr)
                    a->sink = info->default_sink_name;
                a->c->signal();
            },
            &answer);
        if (!c.waitFor(op, kQueryTimeoutMs) || answer.sink.empty())
            return false;
        op = pa_context_get_sink_info_by_name(
            c.context(), answer.sink.c_str(),
            [](pa_context *, const pa_sink_info *info, int eol, void *userdata) {
                auto *a = static_cast<Answer *>(userdata);
                if (eol == 0 && info != nullptr) {
                    a->found = true;
                    if (info->active_port != nullptr && info->active_port->name != nullptr)
                        a->port = info->active_port->name;
                }
                a->c->signal();
            },
            &answer);
        if (!c.waitFor(op, kQueryTimeoutMs) || !answer.found)
            return false;
        *sinkName = answer.sink;
        *port = answer.port;
        return true;
    }

    Sink *sink_ = nullptr;
    bool stopped_ = true;
    bool again_ = false;
    pa_operation *pending_ = nullptr;
    std::string key_;
    std::string sinkName_;
    std::string port_;
};

} // namespace

std::unique_ptr<AudioSessionEventSource> LMAudioSessionPulseSource()
{
    return std::make_unique<PulseSessionSource>();
}
