// The output queue: the one way sound leaves Lumenar. Shaped like the handheld's audio
// output queue so that the output engine reads as it does there.
//
// Contract:
// - A queue belongs to the thread that created it (its "run loop": the thread's Qt event
//   loop). Every call is made on that thread, and every callback (played buffers, property
//   listeners) is delivered there, posted through the event loop. No callback ever runs
//   on a device thread, and none arrives after AudioQueueDispose returns.
// - A buffer is handed back through the output callback once the device has taken all of
//   its data (for compressed queues: once its packets were decoded); it may then be filled
//   and enqueued again.
// - Device or decoder failures are never reported on the device's thread: the queue stops
//   running (is-running listeners fire, reading 0), it drops the buffers it held without
//   handing them back, and a later AudioQueueStart fails.
// - Compressed formats (anything but kAudioFormatLinearPCM) are decoded with the packet
//   decoder from the stream description and the magic cookie property, which must be set
//   before the first AudioQueueStart.
//
// Outputs ("--audio" / $LUMENAR_AUDIO): "pulse" (the sound server), "null" (silent, at
// real-time pace), "wav:PATH" (writes the PCM to a WAV file at real-time pace) and
// "wav-fast:PATH" (the same, as fast as buffers arrive). See LMAudioOutputSelect.
#pragma once

#include <cstdint>

#include "platform/audio_types.h"

class QThread;

typedef struct OpaqueAudioQueue *AudioQueueRef;
typedef uint32_t AudioQueuePropertyID;
typedef uint32_t AudioQueueParameterID;
typedef float AudioQueueParameterValue;

enum : AudioQueuePropertyID {
    kAudioQueueProperty_IsRunning = LMFourCC("aqrn"),   // uint32_t, read only: 1 while running
    kAudioQueueProperty_MagicCookie = LMFourCC("aqmc"), // codec-specific bytes, write
};

enum : AudioQueueParameterID {
    kAudioQueueParam_Volume = 1,   // linear gain 0.0 ... 1.0, default 1.0
};

enum : OSStatus {
    kAudioQueueErr_InvalidBuffer = -66687,
    kAudioQueueErr_BufferEmpty = -66686,
    kAudioQueueErr_InvalidProperty = -66684,
    kAudioQueueErr_InvalidPropertySize = -66683,
    kAudioQueueErr_InvalidParameter = -66682,
    kAudioQueueErr_CannotStart = -66681,
    kAudioQueueErr_InvalidDevice = -66680,
    kAudioQueueErr_BufferInQueue = -66679,
    kAudioQueueErr_InvalidRunState = -66678,
    kAudioQueueErr_CodecNotFound = -66673,
    kAudioQueueErr_QueueInvalidated = -66671,
};

struct AudioQueueBuffer {
    uint32_t mAudioDataBytesCapacity;   // fixed at allocation
    void *mAudioData;                   // fixed at allocation
    uint32_t mAudioDataByteSize;        // set by the caller before enqueueing
    void *mUserData;                    // the caller's
};
typedef AudioQueueBuffer *AudioQueueBufferRef;

// A point on the queue's timeline.
struct AudioTimeStamp {
    double mSampleTime;   // frames at the queue's format rate
    uint32_t mFlags;
};
enum : uint32_t {
    kAudioTimeStampSampleTimeValid = 1u << 0,
};

typedef void (*AudioQueueOutputCallback)(void *userData, AudioQueueRef queue, AudioQueueBufferRef buffer);
typedef void (*AudioQueuePropertyListenerProc)(void *userData, AudioQueueRef queue,
                                               AudioQueuePropertyID property);

// Builds a queue for `format`, bound to `thread`'s event loop (null: the calling thread).
// Fails with kAudioLayerFormatUnsupported for PCM layouts the devices cannot take, and with
// kAudioQueueErr_InvalidDevice when the chosen output cannot be used.
OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription *format, AudioQueueOutputCallback callback,
                             void *userData, QThread *thread, uint32_t flags, AudioQueueRef *outQueue);

// The buffer belongs to the queue and is released with it (or by AudioQueueFreeBuffer).
OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, uint32_t capacity, AudioQueueBufferRef *outBuffer);
// Only for a buffer that is neither enqueued nor held by the device.
OSStatus AudioQueueFreeBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer);

// Queues mAudioDataByteSize bytes of the buffer. For PCM the size is cut to whole frames;
// packet descriptions are copied (null with count 0 for PCM and constant-size packets).
OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer, uint32_t packetCount,
                                 const AudioStreamPacketDescription *packets);

// Options of AudioQueueEnqueueBufferWithParameters.
enum : uint32_t {
    // The packets begin another stream in the queue's format (the next file of a gapless
    // sequence): the decoder forgets what earlier packets left in it first, so that the
    // stream decodes exactly as it does on its own.
    kAudioQueueBufferFlag_NewStream = 1u << 0,
};

// Queues a buffer as AudioQueueEnqueueBuffer does, and drops frames from what it plays:
// trimFramesAtStart from the start and trimFramesAtEnd from the end of the PCM that the
// buffer holds (compressed queues: that its packets decode to), such as the encoder's
// priming and padding of a lossy stream. A compressed buffer may be trimmed away entirely;
// a PCM buffer with nothing left is refused (kAudioQueueErr_BufferEmpty).
OSStatus AudioQueueEnqueueBufferWithParameters(AudioQueueRef queue, AudioQueueBufferRef buffer, uint32_t packetCount,
                                               const AudioStreamPacketDescription *packets, uint32_t trimFramesAtStart,
                                               uint32_t trimFramesAtEnd, uint32_t flags);

// Starts or resumes output; `startTime` must be null (now).
OSStatus AudioQueueStart(AudioQueueRef queue, const void *startTime);
// Holds output where it is; queued data is kept and is-running stays 1.
OSStatus AudioQueuePause(AudioQueueRef queue);
// Makes sure everything enqueued so far will be played; nothing is held back.
OSStatus AudioQueueFlush(AudioQueueRef queue);
// immediate: stop now and drop every queued buffer without handing it back.
// Otherwise: stop once everything enqueued has been played out (asked before the start,
// the queue plays out what it holds after the start, then stops).
OSStatus AudioQueueStop(AudioQueueRef queue, bool immediate);
// immediate: silence at once; nothing more is called back. Otherwise the queue plays out
// what it holds first (still without callbacks) and then goes away.
OSStatus AudioQueueDispose(AudioQueueRef queue, bool immediate);

// How much the queue has played since its first start: mSampleTime counts frames at the
// rate of the queue's format (for a compressed queue, the stream's rate), as heard, not as
// handed to the device; it stands still while paused. `timeline` must be null;
// *discontinuity (optional) is always false. Before the first start the time is 0.
OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, void *timeline, AudioTimeStamp *outTimeStamp,
                                  bool *discontinuity);

OSStatus AudioQueueGetProperty(AudioQueueRef queue, AudioQueuePropertyID property, void *data,
                               uint32_t *ioSize);
OSStatus AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID property, const void *data,
                               uint32_t size);
OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, AudioQueuePropertyID property,
                                       AudioQueuePropertyListenerProc proc, void *userData);
OSStatus AudioQueueRemovePropertyListener(AudioQueueRef queue, AudioQueuePropertyID property,
                                          AudioQueuePropertyListenerProc proc, void *userData);
OSStatus AudioQueueGetParameter(AudioQueueRef queue, AudioQueueParameterID parameter,
                                AudioQueueParameterValue *outValue);
OSStatus AudioQueueSetParameter(AudioQueueRef queue, AudioQueueParameterID parameter,
                                AudioQueueParameterValue value);

// Chooses the output for queues built from now on: "pulse", "null", "wav:PATH" or
// "wav-fast:PATH". Null chooses again from $LUMENAR_AUDIO, else the default "pulse", which
// falls back to "null" (with one log line) when no sound server answers; an output chosen
// by name does not fall back. Returns false, changing nothing, for an unknown name.
bool LMAudioOutputSelect(const char *spec);
// Whether `spec` names an output LMAudioOutputSelect accepts.
bool LMAudioOutputSpecValid(const char *spec);
