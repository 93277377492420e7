// The sound-server output: one playback stream per queue. The server asks for data in the
// stream's write callback; we copy whole frames from the queue into the server's memory, so
// nothing of ours is referenced once a write returns.
//
// Quiet playback: the stream asks for a target length of three seconds and for refill
// requests of at least half a second. The server keeps the difference less twice the
// request (two seconds) ahead on the card's side, so the card, the server and the player
// wake about once a second or less. A request must then be answered in one piece, or the
// server wakes again for each piece: the device keeps a reserve of its own (up to two
// seconds, taken from the queue whenever the queue's thread has refilled buffers, which it
// does in one go), so that every request finds enough. Playback starts (and starts again
// after running dry) only once the target length is there: started on less, the server
// keeps rewinding over the missing part and throws the data away as fast as it comes.
// Controls stay immediate: pause corks the stream (the server drops what it had sent
// ahead to the card), and seeking or skipping replaces the queue and with it the stream.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/audio_queue/audio_device.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/audio_queue/output_volume.h"
#include "platform/audio_queue/pulse_connection.h"

namespace lmaudio {

namespace {

using lmpulse::Connection;
using lmpulse::Locker;

constexpr int kStreamTimeoutMs = 5000;
constexpr int kTimingTimeoutMs = 500;
constexpr pa_usec_t kTargetLength = 3000 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kRefillRequest = 500 * PA_USEC_PER_MSEC;
// The device's own reserve, in time and at most in bytes.
constexpr pa_usec_t kReserve = 2000 * PA_USEC_PER_MSEC;
constexpr size_t kReserveMaxBytes = 2 << 20;
// A played time asked for again within this span is reckoned from the last answer and
// the clock, without asking the server.
constexpr pa_usec_t kTimingReuse = 250 * PA_USEC_PER_MSEC;

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
        const size_t frame = format.bytesPerFrame();
        reserveCapacity_ = std::max(frame, std::min(pa_usec_to_bytes(kReserve, &spec), kReserveMaxBytes) / frame * frame);
        reserve_.reserve(reserveCapacity_);
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
        attr.tlength = uint32_t(pa_usec_to_bytes(kTargetLength, &spec));
        attr.prebuf = uint32_t(-1);   // the target length
        attr.minreq = uint32_t(pa_usec_to_bytes(kRefillRequest, &spec));
        attr.fragsize = uint32_t(-1);
        applied_ = volume_ * OutputVolumeCurrent();
        pa_cvolume volume;
        pa_cvolume_set(&volume, spec.channels, pa_sw_volume_from_linear(applied_));
        // The buffer attributes as given: the server keeps its own latency to the card.
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED);
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
        timedAt_ = 0;
        ended_ = false;   // a queue started again may have more
        hungry_.store(true);
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
        reserve_.clear();
        reserveStart_ = 0;
        ended_ = false;
        starved_ = false;
        hungry_.store(true);
        if (stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY)
            unref(pa_stream_flush(stream_, nullptr, nullptr));
    }

    // Between the server's requests new data waits in the queue; only a request that
    // found the queue short is answered now.
    void wake() override
    {
        // A full reserve and no request waiting: nothing to do, and no need to hold up
        // the server's thread for it.
        if (!hungry_.load())
            return;
        Locker lock(c_);
        topUpLocked();
        if (starved_)
            fillLocked();
    }

    bool playedTime(double *seconds) override
    {
        Locker lock(c_);
        if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY)
            return false;
        const pa_usec_t now = pa_rtclock_now();
        if (timedAt_ == 0 || now - timedAt_ > kTimingReuse) {
            pa_operation *op = pa_stream_update_timing_info(
                stream_, [](pa_stream *, int, void *user) { static_cast<Connection *>(user)->signal(); }, &c_);
            pa_usec_t usec = 0;
            if (!c_.waitFor(op, kTimingTimeoutMs) || pa_stream_get_time(stream_, &usec) < 0)
                return false;
            timedAt_ = now;
            timed_ = usec;
            timedRunning_ = !corked_;
        }
        // Between two answers the stream plays on by the clock, unless it is held.
        pa_usec_t usec = timed_;
        if (timedRunning_ && !corked_)
            usec += now - timedAt_;
        *seconds = double(usec) / double(PA_USEC_PER_SEC);
        return true;
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
        timedAt_ = 0;
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

    size_t reserveSize() const { return reserve_.size() - reserveStart_; }

    // Takes from the queue what the reserve has room for (or, once the queue's end was
    // reached, notes that).
    void topUpLocked()
    {
        if (closed_ || ended_)
            return;
        if (reserveStart_ > 0) {
            reserve_.erase(reserve_.begin(), reserve_.begin() + long(reserveStart_));
            reserveStart_ = 0;
        }
        // One pull: it takes all the queue holds, and asking again at once would only
        // contend with the queue's thread refilling the buffers just handed back.
        const size_t at = reserve_.size();
        if (at < reserveCapacity_) {
            reserve_.resize(reserveCapacity_);
            bool end = false;
            const size_t got = client_->pull(reserve_.data() + at, reserveCapacity_ - at, &end);
            reserve_.resize(at + got);
            ended_ = got == 0 && end;
        }
        hungry_.store(starved_ || reserve_.size() < reserveCapacity_);
    }

    // Hands the server as much as it asks for and the reserve holds, then tops the reserve
    // up. A request the reserve cannot meet in full leaves the device starved: what the
    // queue brings next goes out at once.
    void fillLocked()
    {
        if (stream_ == nullptr || closed_ || corked_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
            return;
        const size_t frame = format_.bytesPerFrame();
        if (reserveSize() == 0)
            topUpLocked();
        for (;;) {
            size_t want = pa_stream_writable_size(stream_);
            if (want == size_t(-1))
                break;
            if (want < frame) {
                starved_ = false;
                break;
            }
            if (reserveSize() == 0) {
                starved_ = !ended_;
                hungry_.store(true);
                if (ended_ && drain_ == nullptr)
                    drain_ = pa_stream_drain(stream_, drained, this);
                break;
            }
            void *data = nullptr;
            if (pa_stream_begin_write(stream_, &data, &want) < 0 || data == nullptr)
                break;
            const size_t n = std::min(want - want % frame, reserveSize());
            if (n == 0) {
                pa_stream_cancel_write(stream_);
                break;
            }
            memcpy(data, reserve_.data() + reserveStart_, n);
            reserveStart_ += n;
            NormalizePcm(static_cast<uint8_t *>(data), n, format_, false);
            if (pa_stream_write(stream_, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                break;
            if (reserveSize() == 0)
                topUpLocked();
        }
        topUpLocked();
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
    bool starved_ = false;
    // Taken from the queue, not yet written: reserve_ from reserveStart_ on.
    std::vector<uint8_t> reserve_;
    size_t reserveStart_ = 0;
    size_t reserveCapacity_ = 0;
    bool ended_ = false;   // the queue's end (a stop after play-out) was reached
    // Room in the reserve or a request waiting: read without the lock by wake().
    std::atomic<bool> hungry_{true};
    // The last played time the server gave (timed_, microseconds) and when (0: none).
    pa_usec_t timedAt_ = 0;
    pa_usec_t timed_ = 0;
    bool timedRunning_ = false;
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
