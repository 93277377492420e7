// The output queue: buffers, hand-back through the owning thread's event loop, start,
// pause, stop and dispose over one device.
//
// Buffers move Idle -> Queued (enqueued) -> Taken (the device consumed it, a hand-back is
// posted) -> Idle (handed back on the queue's thread). Posted work holds only a weak
// reference to the queue, so a disposed queue is freed at once and late posts do nothing;
// the device is closed before that, so it never touches freed memory.
#include "platform/audio_queue/audio_queue.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include "platform/audio_file/packet_decoder.h"
#include "platform/audio_queue/audio_device.h"
#include "platform/thread_poster.h"

using namespace lmaudio;

namespace {

enum class BufferState { Idle, Queued, Taken };

struct QueueBuffer : AudioQueueBuffer {
    BufferState state = BufferState::Idle;
    std::vector<AudioStreamPacketDescription> packets;
    std::unique_ptr<uint8_t[]> storage;
    // What is played of it: PCM bytes [playFrom, playTo); for compressed buffers the
    // frames trimmed from what the packets decode to, and whether they begin a stream.
    uint32_t playFrom = 0;
    uint32_t playTo = 0;
    uint32_t trimStart = 0;
    uint32_t trimEnd = 0;
    bool newStream = false;
};

struct Listener {
    AudioQueuePropertyID property;
    AudioQueuePropertyListenerProc proc;
    void *userData;
};

std::mutex gOutputMutex;
bool gOutputChosen = false;
OutputSpec gOutput;
std::atomic<bool> gFallbackLogged{false};
std::atomic<bool> gBadEnvLogged{false};

OutputSpec currentOutput()
{
    std::lock_guard<std::mutex> lock(gOutputMutex);
    if (gOutputChosen)
        return gOutput;
    OutputSpec spec;
    const char *env = getenv("LUMENAR_AUDIO");
    if (env != nullptr && *env != '\0') {
        if (ParseOutputSpec(env, &spec))
            return spec;
        if (!gBadEnvLogged.exchange(true))
            fprintf(stderr, "audio: unknown output \"%s\" in LUMENAR_AUDIO; using pulse\n", env);
    }
    spec = OutputSpec();
    spec.named = false;
    return spec;
}

} // namespace

struct OpaqueAudioQueue final : DeviceClient, std::enable_shared_from_this<OpaqueAudioQueue> {
    // Fixed at creation.
    AudioStreamBasicDescription format{};
    bool compressed = false;
    PcmFormat pcm;                 // what the device plays; for compressed queues set at open
    AudioQueueOutputCallback callback = nullptr;
    void *userData = nullptr;
    QThread *thread = nullptr;
    QObject *poster = nullptr;
    std::shared_ptr<OpaqueAudioQueue> self;   // the owner's reference, dropped by dispose

    // Touched on the queue's thread only.
    std::vector<std::unique_ptr<QueueBuffer>> buffers;
    std::vector<Listener> listeners;
    std::vector<uint8_t> cookie;
    std::unique_ptr<Device> device;
    bool opened = false;
    bool disposed = false;        // no more callbacks
    bool finalized = false;
    bool closeWhenDrained = false;
    bool delivering = false;      // inside deliverReturning: the device is told after
    float volume = 1.0f;

    // Shared with the device thread, under `mutex`.
    std::mutex mutex;
    std::deque<QueueBuffer *> pending;
    QueueBuffer *current = nullptr;
    size_t currentOffset = 0;
    std::vector<uint8_t> decoded;
    size_t decodedOffset = 0;
    bool running = false;
    bool paused = false;
    bool stopRequested = false;
    bool failed = false;
    bool resetDecoder = false;
    uint64_t generation = 0;      // bumped whenever queued data is dropped
    std::vector<QueueBuffer *> returning;   // taken, their hand-back posted
    bool returnPosted = false;
    LMPacketDecoder *decoder = nullptr;   // used by the device thread inside pull()

    ~OpaqueAudioQueue()
    {
        if (device)
            device->close();
        LMPacketDecoderFree(decoder);
    }

    bool onOwnThread() const { return QThread::currentThread() == thread; }

    template <class F>
    void post(F &&fn)
    {
        std::weak_ptr<OpaqueAudioQueue> weak = weak_from_this();
        QMetaObject::invokeMethod(
            poster,
            [weak, fn = std::forward<F>(fn)]() {
                if (std::shared_ptr<OpaqueAudioQueue> q = weak.lock())
                    fn(q.get());
            },
            Qt::QueuedConnection);
    }

    // A notification that is out of date when it arrives (the value changed again since)
    // is dropped: the later one reports the value listeners will read.
    void postRunningChanged(bool value)
    {
        post([value](OpaqueAudioQueue *q) {
            bool now;
            {
                std::lock_guard<std::mutex> lock(q->mutex);
                now = q->running;
            }
            if (now == value)
                q->fireListeners(kAudioQueueProperty_IsRunning);
        });
    }

    void fireListeners(AudioQueuePropertyID property)
    {
        if (disposed)
            return;
        std::vector<Listener> copy = listeners;   // a listener may remove itself
        for (const Listener &l : copy) {
            if (disposed)
                return;
            if (l.property == property)
                l.proc(l.userData, this, property);
        }
    }

    void deliver(QueueBuffer *b)
    {
        if (disposed)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (b->state != BufferState::Taken)
                return;
            b->state = BufferState::Idle;
        }
        if (callback)
            callback(userData, this, b);
    }

    // Hands back what the device took, then tells the device once about everything the
    // callbacks queued again: it writes it out in one piece if it was waiting for data.
    void deliverReturning()
    {
        std::vector<QueueBuffer *> list;
        {
            std::lock_guard<std::mutex> lock(mutex);
            list.swap(returning);
            returnPosted = false;
        }
        delivering = true;
        for (QueueBuffer *b : list)
            deliver(b);
        delivering = false;
        if (!disposed && opened)
            device->wake();
    }

    QueueBuffer *find(AudioQueueBufferRef ref)
    {
        for (auto &b : buffers)
            if (b.get() == ref)
                return b.get();
        return nullptr;
    }

    // Drops everything queued; buffers not yet taken by the device become idle without a
    // hand-back. Call with `mutex` held.
    void dropQueuedLocked()
    {
        for (QueueBuffer *b : pending)
            b->state = BufferState::Idle;
        pending.clear();
        if (current)
            current->state = BufferState::Idle;
        current = nullptr;
        currentOffset = 0;
        decoded.clear();
        decodedOffset = 0;
        stopRequested = false;
        resetDecoder = true;
        generation++;
    }

    // DeviceClient, on the device's thread.
    size_t pull(uint8_t *dst, size_t max, bool *end) override
    {
        *end = false;
        std::vector<QueueBuffer *> handBack;
        bool failedNow = false;
        const size_t frame = pcm.bytesPerFrame();
        max -= max % frame;
        size_t got = 0;
        std::unique_lock<std::mutex> lock(mutex);
        while (got < max && !failed) {
            if (decodedOffset < decoded.size()) {
                const size_t n = std::min(max - got, decoded.size() - decodedOffset);
                memcpy(dst + got, decoded.data() + decodedOffset, n);
                got += n;
                decodedOffset += n;
                continue;
            }
            if (current) {
                const size_t n = std::min(max - got, size_t(current->playTo) - currentOffset);
                memcpy(dst + got, static_cast<uint8_t *>(current->mAudioData) + currentOffset, n);
                got += n;
                currentOffset += n;
                if (currentOffset == current->playTo) {
                    current->state = BufferState::Taken;
                    handBack.push_back(current);
                    current = nullptr;
                }
                continue;
            }
            if (pending.empty())
                break;
            QueueBuffer *b = pending.front();
            pending.pop_front();
            if (!compressed) {
                current = b;
                currentOffset = b->playFrom;
                continue;
            }
            // Decode without the lock, so that the queue's thread is never held up by it.
            // The buffer counts as taken: an immediate stop meanwhile still hands it back.
            b->state = BufferState::Taken;
            handBack.push_back(b);
            const uint64_t gen = generation;
            const bool reset = resetDecoder;
            resetDecoder = false;
            lock.unlock();
            if (reset)
                LMPacketDecoderReset(decoder);
            std::vector<uint8_t> out;
            const int r = b->newStream && !LMPacketDecoderRestart(decoder)
                              ? -1
                              : LMPacketDecoderDecode(decoder, b->mAudioData, b->mAudioDataByteSize,
                                                      b->packets.empty() ? nullptr : b->packets.data(),
                                                      uint32_t(b->packets.size()), &out);
            lock.lock();
            if (r < 0) {
                failed = true;
                failedNow = true;
                break;
            }
            if (gen != generation)
                continue;
            out.resize(out.size() - out.size() % frame);
            const size_t head = std::min(size_t(b->trimStart) * frame, out.size());
            const size_t tail = std::min(size_t(b->trimEnd) * frame, out.size() - head);
            out.resize(out.size() - tail);
            decoded = std::move(out);
            decodedOffset = head;
        }
        bool wasRunning = false;
        if (failedNow) {
            wasRunning = running;
            running = false;
            dropQueuedLocked();
        } else if (got == 0 && stopRequested && pending.empty() && current == nullptr &&
                   decodedOffset >= decoded.size()) {
            *end = true;
        }
        if (!handBack.empty()) {
            // Everything the device takes until the queue's thread gets round to it goes
            // back in one go: one wake-up of that thread.
            returning.insert(returning.end(), handBack.begin(), handBack.end());
            const bool postNow = !returnPosted;
            returnPosted = true;
            lock.unlock();
            if (postNow)
                post([](OpaqueAudioQueue *q) { q->deliverReturning(); });
        } else {
            lock.unlock();
        }
        if (failedNow) {
            fprintf(stderr, "audio: the packet decoder failed; output stopped\n");
            if (wasRunning)
                postRunningChanged(false);
        }
        return got;
    }

    void deviceDrained() override
    {
        bool wasRunning;
        {
            std::lock_guard<std::mutex> lock(mutex);
            wasRunning = running;
            running = false;
            stopRequested = false;
        }
        if (wasRunning)
            postRunningChanged(false);
        post([](OpaqueAudioQueue *q) {
            if (q->closeWhenDrained)
                q->finalize();
        });
    }

    void deviceFailed(const char *why) override
    {
        bool wasRunning;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (failed)
                return;
            failed = true;
            wasRunning = running;
            running = false;
            dropQueuedLocked();
        }
        fprintf(stderr, "audio: output failed: %s\n", why ? why : "unknown error");
        if (wasRunning)
            postRunningChanged(false);
        post([](OpaqueAudioQueue *q) {
            if (q->closeWhenDrained)
                q->finalize();
        });
    }

    // Releases the device and the owner's reference; `this` may be gone afterwards.
    void finalize()
    {
        if (finalized)
            return;
        finalized = true;
        disposed = true;
        if (device)
            device->close();
        std::shared_ptr<OpaqueAudioQueue> last = std::move(self);
        last.reset();
    }
};

static bool validQueue(AudioQueueRef q)
{
    return q != nullptr && !q->disposed && q->onOwnThread();
}

OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription *format, AudioQueueOutputCallback callback,
                             void *userData, QThread *thread, uint32_t flags, AudioQueueRef *outQueue)
{
    if (outQueue == nullptr)
        return kAudioLayerParamError;
    *outQueue = nullptr;
    if (format == nullptr || callback == nullptr || flags != 0)
        return kAudioLayerParamError;
    if (thread != nullptr && thread != QThread::currentThread())
        return kAudioLayerParamError;

    auto q = std::make_shared<OpaqueAudioQueue>();
    q->format = *format;
    q->compressed = format->mFormatID != kAudioFormatLinearPCM;
    if (q->compressed) {
        if (!(format->mSampleRate > 0) || format->mChannelsPerFrame == 0)
            return kAudioLayerFormatUnsupported;
    } else if (!PcmFormatFromDescription(*format, &q->pcm)) {
        return kAudioLayerFormatUnsupported;
    }

    OutputSpec output = currentOutput();
    if (output.kind == OutputKind::Pulse && !PulseServerAvailable()) {
        if (output.named) {
            fprintf(stderr, "audio: no PulseAudio server answers\n");
            return kAudioQueueErr_InvalidDevice;
        }
        if (!gFallbackLogged.exchange(true))
            fprintf(stderr, "audio: no PulseAudio server answers; playing silently (null output)\n");
        output.kind = OutputKind::Null;
    }
    switch (output.kind) {
    case OutputKind::Pulse:
        q->device = NewPulseDevice(q.get());
        break;
    case OutputKind::Null:
        q->device = NewPacedDevice(q.get(), std::string(), false);
        break;
    case OutputKind::Wav:
        q->device = NewPacedDevice(q.get(), output.path, false);
        break;
    case OutputKind::WavFast:
        q->device = NewPacedDevice(q.get(), output.path, true);
        break;
    }
    if (!q->device)
        return kAudioQueueErr_InvalidDevice;

    q->callback = callback;
    q->userData = userData;
    q->thread = QThread::currentThread();
    q->poster = LMThreadPoster();
    q->self = q;
    *outQueue = q.get();
    return noErr;
}

OSStatus AudioQueueAllocateBuffer(AudioQueueRef q, uint32_t capacity, AudioQueueBufferRef *outBuffer)
{
    if (outBuffer == nullptr)
        return kAudioLayerParamError;
    *outBuffer = nullptr;
    if (!validQueue(q) || capacity == 0)
        return kAudioLayerParamError;
    auto b = std::make_unique<QueueBuffer>();
    b->storage.reset(new (std::nothrow) uint8_t[capacity]);
    if (!b->storage)
        return kAudioLayerUnspecifiedError;
    b->mAudioDataBytesCapacity = capacity;
    b->mAudioData = b->storage.get();
    b->mAudioDataByteSize = 0;
    b->mUserData = nullptr;
    *outBuffer = b.get();
    q->buffers.push_back(std::move(b));
    return noErr;
}

OSStatus AudioQueueFreeBuffer(AudioQueueRef q, AudioQueueBufferRef buffer)
{
    if (!validQueue(q))
        return kAudioLayerParamError;
    QueueBuffer *b = q->find(buffer);
    if (b == nullptr)
        return kAudioQueueErr_InvalidBuffer;
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        if (b->state != BufferState::Idle)
            return kAudioQueueErr_BufferInQueue;
    }
    q->buffers.erase(std::find_if(q->buffers.begin(), q->buffers.end(),
                                  [b](const std::unique_ptr<QueueBuffer> &p) { return p.get() == b; }));
    return noErr;
}

OSStatus AudioQueueEnqueueBuffer(AudioQueueRef q, AudioQueueBufferRef buffer, uint32_t packetCount,
                                 const AudioStreamPacketDescription *packets)
{
    return AudioQueueEnqueueBufferWithParameters(q, buffer, packetCount, packets, 0, 0, 0);
}

OSStatus AudioQueueEnqueueBufferWithParameters(AudioQueueRef q, AudioQueueBufferRef buffer, uint32_t packetCount,
                                               const AudioStreamPacketDescription *packets, uint32_t trimFramesAtStart,
                                               uint32_t trimFramesAtEnd, uint32_t flags)
{
    if (!validQueue(q))
        return kAudioLayerParamError;
    QueueBuffer *b = q->find(buffer);
    if (b == nullptr)
        return kAudioQueueErr_InvalidBuffer;
    uint32_t size = b->mAudioDataByteSize;
    if (size > b->mAudioDataBytesCapacity)
        return kAudioQueueErr_InvalidBuffer;
    if (packetCount > 0 && packets == nullptr)
        return kAudioLayerParamError;
    if (flags & ~uint32_t(kAudioQueueBufferFlag_NewStream))
        return kAudioLayerParamError;
    uint32_t playFrom = 0, playTo = 0;
    if (!q->compressed) {
        const uint32_t frame = q->pcm.bytesPerFrame();
        size -= size % frame;
        const uint64_t head = uint64_t(trimFramesAtStart) * frame, tail = uint64_t(trimFramesAtEnd) * frame;
        if (head + tail >= size)
            return kAudioQueueErr_BufferEmpty;
        playFrom = uint32_t(head);
        playTo = uint32_t(size - tail);
    }
    if (size == 0)
        return kAudioQueueErr_BufferEmpty;
    std::vector<AudioStreamPacketDescription> descs;
    if (q->compressed && packetCount > 0) {
        descs.assign(packets, packets + packetCount);
        for (const AudioStreamPacketDescription &d : descs) {
            if (d.mStartOffset < 0 || uint64_t(d.mStartOffset) + d.mDataByteSize > size)
                return kAudioLayerParamError;
        }
    }
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        if (b->state != BufferState::Idle)
            return kAudioQueueErr_BufferInQueue;
        if (q->failed)
            return kAudioQueueErr_QueueInvalidated;
        b->mAudioDataByteSize = size;
        b->playFrom = playFrom;
        b->playTo = playTo;
        b->trimStart = trimFramesAtStart;
        b->trimEnd = trimFramesAtEnd;
        b->newStream = (flags & kAudioQueueBufferFlag_NewStream) != 0;
        b->packets = std::move(descs);
        b->state = BufferState::Queued;
        q->pending.push_back(b);
    }
    if (q->opened && !q->delivering)
        q->device->wake();
    return noErr;
}

OSStatus AudioQueueStart(AudioQueueRef q, const void *startTime)
{
    if (!validQueue(q) || startTime != nullptr)
        return kAudioLayerParamError;
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        if (q->failed)
            return kAudioQueueErr_CannotStart;
    }
    if (!q->opened) {
        if (q->compressed) {
            AudioStreamBasicDescription out{};
            q->decoder = LMPacketDecoderNew(&q->format, q->cookie.empty() ? nullptr : q->cookie.data(),
                                            uint32_t(q->cookie.size()), &out);
            // Fill in what a decoder may leave unset: whole frames, one per packet, signed
            // samples wider than 8 bits.
            if (out.mFormatID == 0)
                out.mFormatID = kAudioFormatLinearPCM;
            if (out.mBytesPerFrame == 0)
                out.mBytesPerFrame = out.mChannelsPerFrame * ((out.mBitsPerChannel + 7) / 8);
            out.mFramesPerPacket = 1;
            out.mBytesPerPacket = out.mBytesPerFrame;
            if (out.mBitsPerChannel > 8 && !(out.mFormatFlags & kAudioFormatFlagIsFloat))
                out.mFormatFlags |= kAudioFormatFlagIsSignedInteger;
            if (q->decoder == nullptr || !PcmFormatFromDescription(out, &q->pcm)) {
                LMPacketDecoderFree(q->decoder);
                q->decoder = nullptr;
                return kAudioQueueErr_CodecNotFound;
            }
        }
        OSStatus err = q->device->open(q->pcm);
        if (err != noErr)
            return err;
        q->device->setVolume(q->volume);
        q->opened = true;
    }
    bool wasRunning;
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        wasRunning = q->running;
        q->running = true;
        q->paused = false;
    }
    // Running is set first: a device that drains at once must be able to clear it.
    OSStatus err = q->device->start();
    if (err != noErr) {
        std::lock_guard<std::mutex> lock(q->mutex);
        q->running = wasRunning;
        return err;
    }
    if (!wasRunning)
        q->postRunningChanged(true);
    return noErr;
}

OSStatus AudioQueuePause(AudioQueueRef q)
{
    if (!validQueue(q))
        return kAudioLayerParamError;
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        q->paused = true;
    }
    if (q->opened)
        q->device->pause();
    return noErr;
}

OSStatus AudioQueueFlush(AudioQueueRef q)
{
    // Nothing is ever held back waiting for more data: every queued byte gets played.
    return validQueue(q) ? noErr : kAudioLayerParamError;
}

OSStatus AudioQueueStop(AudioQueueRef q, bool immediate)
{
    if (!validQueue(q))
        return kAudioLayerParamError;
    if (immediate) {
        bool wasRunning;
        {
            std::lock_guard<std::mutex> lock(q->mutex);
            wasRunning = q->running;
            q->running = false;
            q->paused = false;
            q->dropQueuedLocked();
        }
        if (q->opened)
            q->device->reset();
        if (wasRunning)
            q->postRunningChanged(false);
        return noErr;
    }
    {
        // Asked before the start, it holds for the start: play out, then stop.
        std::lock_guard<std::mutex> lock(q->mutex);
        q->stopRequested = true;
    }
    if (q->opened)
        q->device->wake();
    return noErr;
}

OSStatus AudioQueueDispose(AudioQueueRef q, bool immediate)
{
    if (!validQueue(q))
        return kAudioLayerParamError;
    bool playOut = false;
    if (!immediate && q->opened) {
        std::lock_guard<std::mutex> lock(q->mutex);
        playOut = q->running && !q->paused && !q->failed;
        if (playOut)
            q->stopRequested = true;
    }
    q->disposed = true;
    if (playOut) {
        q->closeWhenDrained = true;
        q->device->wake();
        return noErr;
    }
    q->finalize();   // may free q
    return noErr;
}

OSStatus AudioQueueGetCurrentTime(AudioQueueRef q, void *timeline, AudioTimeStamp *outTimeStamp, bool *discontinuity)
{
    if (!validQueue(q) || timeline != nullptr || outTimeStamp == nullptr)
        return kAudioLayerParamError;
    if (discontinuity != nullptr)
        *discontinuity = false;
    double seconds = 0;
    if (q->opened && !q->device->playedTime(&seconds))
        return kAudioQueueErr_InvalidDevice;
    outTimeStamp->mSampleTime = seconds * q->format.mSampleRate;
    outTimeStamp->mFlags = kAudioTimeStampSampleTimeValid;
    return noErr;
}

OSStatus AudioQueueGetProperty(AudioQueueRef q, AudioQueuePropertyID property, void *data, uint32_t *ioSize)
{
    if (!validQueue(q) || ioSize == nullptr)
        return kAudioLayerParamError;
    switch (property) {
    case kAudioQueueProperty_IsRunning: {
        if (data == nullptr || *ioSize < sizeof(uint32_t))
            return kAudioQueueErr_InvalidPropertySize;
        uint32_t running;
        {
            std::lock_guard<std::mutex> lock(q->mutex);
            running = q->running ? 1 : 0;
        }
        memcpy(data, &running, sizeof running);
        *ioSize = sizeof running;
        return noErr;
    }
    case kAudioQueueProperty_MagicCookie:
        if (data == nullptr) {
            *ioSize = uint32_t(q->cookie.size());
            return noErr;
        }
        if (*ioSize < q->cookie.size())
            return kAudioQueueErr_InvalidPropertySize;
        if (!q->cookie.empty())
            memcpy(data, q->cookie.data(), q->cookie.size());
        *ioSize = uint32_t(q->cookie.size());
        return noErr;
    default:
        return kAudioQueueErr_InvalidProperty;
    }
}

OSStatus AudioQueueSetProperty(AudioQueueRef q, AudioQueuePropertyID property, const void *data, uint32_t size)
{
    if (!validQueue(q))
        return kAudioLayerParamError;
    if (property != kAudioQueueProperty_MagicCookie)
        return kAudioQueueErr_InvalidProperty;
    if (size > 0 && data == nullptr)
        return kAudioLayerParamError;
    if (q->opened)
        return kAudioQueueErr_InvalidRunState;   // the decoder is already built
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    q->cookie.assign(bytes, bytes + size);
    return noErr;
}

OSStatus AudioQueueAddPropertyListener(AudioQueueRef q, AudioQueuePropertyID property,
                                       AudioQueuePropertyListenerProc proc, void *userData)
{
    if (!validQueue(q) || proc == nullptr)
        return kAudioLayerParamError;
    if (property != kAudioQueueProperty_IsRunning)
        return kAudioQueueErr_InvalidProperty;
    q->listeners.push_back({property, proc, userData});
    return noErr;
}

OSStatus AudioQueueRemovePropertyListener(AudioQueueRef q, AudioQueuePropertyID property,
                                          AudioQueuePropertyListenerProc proc, void *userData)
{
    if (!validQueue(q))
        return kAudioLayerParamError;
    auto &ls = q->listeners;
    auto it = std::find_if(ls.begin(), ls.end(), [&](const Listener &l) {
        return l.property == property && l.proc == proc && l.userData == userData;
    });
    if (it == ls.end())
        return kAudioLayerParamError;
    ls.erase(it);
    return noErr;
}

OSStatus AudioQueueGetParameter(AudioQueueRef q, AudioQueueParameterID parameter, AudioQueueParameterValue *outValue)
{
    if (!validQueue(q) || outValue == nullptr)
        return kAudioLayerParamError;
    if (parameter != kAudioQueueParam_Volume)
        return kAudioQueueErr_InvalidParameter;
    *outValue = q->volume;
    return noErr;
}

OSStatus AudioQueueSetParameter(AudioQueueRef q, AudioQueueParameterID parameter, AudioQueueParameterValue value)
{
    if (!validQueue(q))
        return kAudioLayerParamError;
    if (parameter != kAudioQueueParam_Volume)
        return kAudioQueueErr_InvalidParameter;
    if (!(value >= 0.0f))   // also NaN
        value = 0.0f;
    q->volume = std::min(value, 1.0f);
    if (q->opened)
        q->device->setVolume(q->volume);
    return noErr;
}

bool LMAudioOutputSelect(const char *spec)
{
    OutputSpec parsed;
    if (spec != nullptr && !ParseOutputSpec(spec, &parsed))
        return false;
    std::lock_guard<std::mutex> lock(gOutputMutex);
    gOutputChosen = spec != nullptr;
    gOutput = parsed;
    return true;
}

bool LMAudioOutputSpecValid(const char *spec)
{
    OutputSpec parsed;
    return ParseOutputSpec(spec, &parsed);
}
