// The sound-server output: one playback stream per queue. The server asks for data in the
// stream's write callback; we copy whole frames from the queue into the server's memory, so
// nothing of ours is referenced once a write returns.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/audio_queue/audio_device.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/audio_queue/output_volume.h"
#include "platform/audio_queue/pulse_connection.h"

namespace lmaudio {

namespace {

using lmpulse::Connection;
using lmpulse::Locker;

constexpr int kStreamTimeoutMs = 5000;
// Held by the server ahead of what is heard: keeps pause and volume changes prompt.
constexpr pa_usec_t kTargetLatency = 150 * PA_USEC_PER_MSEC;

bool sampleFormat(const PcmFormat &f, pa_sample_format_t *out)
{
    const bool be = f.bigEndian;
    if (f.isFloat) {
        *out = be ? PA_SAMPLE_FLOAT32BE : PA_SAMPLE_FLOAT32LE;
        return f.bytesPerSample == 4;
    }
    switch (f.bytesPerSample) {
    case 1: *out = PA_SAMPLE_U8; return true;   // signed 8-bit is flipped on the way
    case 2: *out = be ? PA_SAMPLE_S16BE : PA_SAMPLE_S16LE; return true;
    case 3: *out = be ? PA_SAMPLE_S24BE : PA_SAMPLE_S24LE; return true;
    case 4:
        if (f.bits == 24)
            *out = be ? PA_SAMPLE_S24_32BE : PA_SAMPLE_S24_32LE;
        else
            *out = be ? PA_SAMPLE_S32BE : PA_SAMPLE_S32LE;
        return true;
    default:
        return false;
    }
}

// A stream's volume on the server is the application's output level times the queue's
// own volume; a change a mixer makes there is read back as a new level.
class PulseDevice final : public Device, private lmpulse::Observer {
public:
    explicit PulseDevice(DeviceClient *client) : client_(client), c_(Connection::shared()) {}
    ~PulseDevice() override { close(); }

    OSStatus open(const PcmFormat &format) override
    {
        if (!c_.ensureConnected())
            return kAudioQueueErr_InvalidDevice;
        format_ = format;
        pa_sample_spec spec;
        spec.rate = format.rate;
        spec.channels = uint8_t(format.channels);
        if (!sampleFormat(format, &spec.format) || format.channels > PA_CHANNELS_MAX ||
            !pa_sample_spec_valid(&spec))
            return kAudioLayerFormatUnsupported;
        pa_channel_map map;
        pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX);

        Locker lock(c_);
        if (!c_.connectedLocked())
            return kAudioQueueErr_InvalidDevice;
        pa_proplist *props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Lumenar");
        stream_ = pa_stream_new_with_proplist(c_.context(), "Lumenar", &spec, &map, props);
        pa_proplist_free(props);
        if (stream_ == nullptr)
            return kAudioQueueErr_InvalidDevice;
        pa_stream_set_state_callback(stream_, streamState, this);
        pa_stream_set_write_callback(stream_, streamWrite, this);
        pa_stream_set_event_callback(stream_, streamEvent, this);

        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = uint32_t(pa_usec_to_bytes(kTargetLatency, &spec));
        attr.prebuf = uint32_t(-1);
        attr.minreq = uint32_t(-1);
        attr.fragsize = uint32_t(-1);
        applied_ = volume_ * OutputVolumeCurrent();
        pa_cvolume volume;
        pa_cvolume_set(&volume, spec.channels, pa_sw_volume_from_linear(applied_));
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
        // $PULSE_SINK is read per stream, not once per connection, so that it can change.
        const char *sink = getenv("PULSE_SINK");
        if (sink != nullptr && *sink == '\0')
            sink = nullptr;
        if (pa_stream_connect_playback(stream_, sink, &attr, flags, &volume, nullptr) < 0 ||
            !c_.waitUntil([this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; },
                          kStreamTimeoutMs) ||
            pa_stream_get_state(stream_) != PA_STREAM_READY) {
            fprintf(stderr, "audio: cannot open a PulseAudio stream: %s\n",
                    pa_strerror(pa_context_errno(c_.context())));
            dropStreamLocked();
            return kAudioQueueErr_InvalidDevice;
        }
        if (!observing_) {
            observing_ = true;
            c_.addObserver(this);
            LMOutputVolumeAddListener(levelChanged, this);
        }
        return noErr;
    }

    OSStatus start() override
    {
        Locker lock(c_);
        if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY)
            return kAudioQueueErr_CannotStart;
        corked_ = false;
        unref(pa_stream_cork(stream_, 0, nullptr, nullptr));
        fillLocked();
        return noErr;
    }

    void pause() override
    {
        Locker lock(c_);
        corkLocked();
    }

    void reset() override
    {
        Locker lock(c_);
        corkLocked();
        if (stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY)
            unref(pa_stream_flush(stream_, nullptr, nullptr));
    }

    void wake() override
    {
        Locker lock(c_);
        fillLocked();
    }

    void setVolume(float volume) override
    {
        Locker lock(c_);
        volume_ = volume;
        applyVolumeLocked();
    }

    void close() override
    {
        if (closed_)
            return;
        if (observing_) {
            observing_ = false;
            LMOutputVolumeRemoveListener(levelChanged, this);
            c_.removeObserver(this);
        }
        Locker lock(c_);
        closed_ = true;
        dropStreamLocked();
    }

private:
    static void unref(pa_operation *op)
    {
        if (op != nullptr)
            pa_operation_unref(op);
    }

    void cancelDrainLocked()
    {
        if (drain_ != nullptr) {
            pa_operation_cancel(drain_);
            pa_operation_unref(drain_);
            drain_ = nullptr;
        }
    }

    void corkLocked()
    {
        corked_ = true;
        cancelDrainLocked();
        if (stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY)
            unref(pa_stream_cork(stream_, 1, nullptr, nullptr));
    }

    void applyVolumeLocked()
    {
        const float product = volume_ * OutputVolumeCurrent();
        if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY)
            return;
        applied_ = product;
        setSerial_++;
        pa_cvolume v;
        pa_cvolume_set(&v, uint8_t(format_.channels), pa_sw_volume_from_linear(product));
        unref(pa_context_set_sink_input_volume(c_.context(), pa_stream_get_index(stream_), &v, nullptr, nullptr));
    }

    // The application's level moved (main thread).
    static void levelChanged(void *user, float)
    {
        PulseDevice *self = static_cast<PulseDevice *>(user);
        Locker lock(self->c_);
        if (std::fabs(self->volume_ * OutputVolumeCurrent() - self->applied_) > 1e-3f)
            self->applyVolumeLocked();
    }

    // A stream changed on the server (its thread, lock held): when it is ours, read its
    // volume back.
    void sinkInputChanged(uint32_t index) override
    {
        if (closed_ || stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY ||
            index != pa_stream_get_index(stream_))
            return;
        cancelInfoLocked();
        querySerial_ = setSerial_;
        info_ = pa_context_get_sink_input_info(c_.context(), index, sinkInputInfo, this);
    }

    static void sinkInputInfo(pa_context *, const pa_sink_input_info *info, int eol, void *userdata)
    {
        PulseDevice *self = static_cast<PulseDevice *>(userdata);
        if (eol != 0) {
            if (self->info_ != nullptr) {
                pa_operation_unref(self->info_);
                self->info_ = nullptr;
            }
            return;
        }
        // A volume we set after asking is newer than this answer: its own change follows.
        if (info == nullptr || self->closed_ || self->querySerial_ != self->setSerial_)
            return;
        const float shown = float(pa_sw_volume_to_linear(pa_cvolume_avg(&info->volume)));
        if (std::fabs(shown - self->applied_) <= 0.01f || self->volume_ <= 0)
            return;
        self->applied_ = shown;
        OutputVolumeReported(shown / self->volume_);
    }

    void cancelInfoLocked()
    {
        if (info_ != nullptr) {
            pa_operation_cancel(info_);
            pa_operation_unref(info_);
            info_ = nullptr;
        }
    }

    void dropStreamLocked()
    {
        cancelInfoLocked();
        cancelDrainLocked();
        if (stream_ == nullptr)
            return;
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_event_callback(stream_, nullptr, nullptr);
        if (pa_stream_get_state(stream_) == PA_STREAM_READY || pa_stream_get_state(stream_) == PA_STREAM_CREATING)
            pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }

    // Hands the server as much as it asks for and the queue holds.
    void fillLocked()
    {
        if (stream_ == nullptr || closed_ || corked_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
            return;
        const size_t frame = format_.bytesPerFrame();
        for (;;) {
            size_t want = pa_stream_writable_size(stream_);
            if (want == size_t(-1) || want < frame)
                return;
            void *data = nullptr;
            if (pa_stream_begin_write(stream_, &data, &want) < 0 || data == nullptr)
                return;
            want -= want % frame;
            bool end = false;
            const size_t got = want > 0 ? client_->pull(static_cast<uint8_t *>(data), want, &end) : 0;
            if (got == 0) {
                pa_stream_cancel_write(stream_);
                if (end && drain_ == nullptr)
                    drain_ = pa_stream_drain(stream_, drained, this);
                return;
            }
            NormalizePcm(static_cast<uint8_t *>(data), got, format_, false);
            if (pa_stream_write(stream_, data, got, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
        }
    }

    static void streamWrite(pa_stream *, size_t, void *userdata)
    {
        static_cast<PulseDevice *>(userdata)->fillLocked();
    }

    static void drained(pa_stream *, int success, void *userdata)
    {
        PulseDevice *self = static_cast<PulseDevice *>(userdata);
        if (self->drain_ != nullptr) {
            pa_operation_unref(self->drain_);
            self->drain_ = nullptr;
        }
        if (!success || self->closed_)
            return;
        self->corkLocked();   // stopped: nothing more is taken until the next start
        self->client_->deviceDrained();
    }

    static void streamState(pa_stream *s, void *userdata)
    {
        PulseDevice *self = static_cast<PulseDevice *>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(s);
        if (state == PA_STREAM_READY) {
            self->ready_ = true;
        } else if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && self->ready_ && !self->closed_) {
            self->ready_ = false;
            self->corked_ = true;
            self->client_->deviceFailed(pa_strerror(pa_context_errno(pa_stream_get_context(s))));
        }
        self->c_.signal();
    }

    static void streamEvent(pa_stream *, const char *name, pa_proplist *, void *)
    {
        if (strcmp(name, PA_STREAM_EVENT_REQUEST_CORK) == 0 || strcmp(name, PA_STREAM_EVENT_REQUEST_UNCORK) == 0)
            Connection::shared().notifyStreamEvent(name);
    }

    DeviceClient *client_;
    Connection &c_;
    PcmFormat format_;
    pa_stream *stream_ = nullptr;
    pa_operation *drain_ = nullptr;
    float volume_ = 1.0f;   // the queue's own
    float applied_ = 1.0f;  // last set on the server: volume_ times the level
    unsigned setSerial_ = 0;
    unsigned querySerial_ = 0;
    pa_operation *info_ = nullptr;
    bool observing_ = false;
    bool corked_ = true;
    bool ready_ = false;
    bool closed_ = false;
};

} // namespace

std::unique_ptr<Device> NewPulseDevice(DeviceClient *client)
{
    return std::make_unique<PulseDevice>(client);
}

bool PulseServerAvailable()
{
    return Connection::shared().ensureConnected();
}

} // namespace lmaudio
