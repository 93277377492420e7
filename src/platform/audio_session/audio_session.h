// The audio session: the output route ("Headphone" or "Speaker"), route changes and
// interruptions, shaped like the handheld's C-level audio session service.
//
// Where events come from is an AudioSessionEventSource. The default one watches the sound
// server: the route is the default sink's active port ("Headphone" when its name contains
// "headphone", else "Speaker"); a change of default sink or of its active port is a route
// change; the server asking our streams to cork or uncork is an interruption beginning or
// ending (an uncork allows playback to resume). Tests hand in a source of their own.
//
// Every listener runs on the thread that called AudioSessionInitialize, posted through its
// Qt event loop, whatever thread the source reports on. Category and activation are
// accepted and do nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio_types.h"

class QThread;

typedef uint32_t AudioSessionPropertyID;

enum : AudioSessionPropertyID {
    kAudioSessionProperty_AudioRoute = LMFourCC("rout"),        // read: UTF-8 text, NUL-terminated
    kAudioSessionProperty_AudioRouteChange = LMFourCC("roch"),  // listen only
    kAudioSessionProperty_AudioCategory = LMFourCC("acat"),     // write: uint32_t, no effect
};

enum : uint32_t {
    kAudioSessionCategory_MediaPlayback = LMFourCC("medi"),
};

// Interruption states and flags.
enum : uint32_t {
    kAudioSessionEndInterruption = 0,
    kAudioSessionBeginInterruption = 1,
    kAudioSessionInterruptionFlag_ShouldResume = 1,
};

enum : OSStatus {
    kAudioSessionNotInitialized = LMFourCC("!ini"),
    kAudioSessionAlreadyInitialized = LMFourCC("init"),
    kAudioSessionUnsupportedPropertyError = LMFourCC("pty?"),
    kAudioSessionBadPropertySizeError = LMFourCC("!siz"),
    kAudioSessionRouteUnavailable = LMFourCC("rte?"),
};

// state: begin or end; flags: kAudioSessionInterruptionFlag_ShouldResume on an end that
// allows playback to resume.
typedef void (*AudioSessionInterruptionListener)(void *userData, uint32_t state, uint32_t flags);
// For route changes `size` is 0 and `value` null: listeners read the route themselves.
typedef void (*AudioSessionPropertyListener)(void *userData, AudioSessionPropertyID property, uint32_t size,
                                             const void *value);

// Where route and interruption events come from.
class AudioSessionEventSource {
public:
    class Sink {
    public:
        virtual void routeChanged() = 0;
        virtual void interruption(bool begin, bool mayResume) = 0;

    protected:
        ~Sink() = default;
    };
    virtual ~AudioSessionEventSource() = default;
    // Events may be reported on any thread from now on.
    virtual void start(Sink *sink) = 0;
    // No event is reported after this returns.
    virtual void stop() = 0;
    // The default output's active port name ("" when it has no ports); false when it
    // cannot be read. Called on the session's thread.
    virtual bool activePort(std::string *port) = 0;
};

// The sound server as the source of events (the default).
std::unique_ptr<AudioSessionEventSource> LMAudioSessionPulseSource();
// Takes the source the next AudioSessionInitialize uses (null: the default).
void LMAudioSessionSetEventSource(std::unique_ptr<AudioSessionEventSource> source);
// "Headphone" when the port's name contains "headphone" in any letter case, else "Speaker".
std::string LMAudioSessionRouteForPort(const std::string &port);

// thread: null for the calling thread (the only one allowed).
OSStatus AudioSessionInitialize(QThread *thread, AudioSessionInterruptionListener listener, void *userData);
OSStatus AudioSessionSetActive(bool active);
OSStatus AudioSessionSetProperty(AudioSessionPropertyID property, uint32_t size, const void *data);
// The route: *ioSize is the buffer's size in, the text's length with its NUL out.
OSStatus AudioSessionGetProperty(AudioSessionPropertyID property, uint32_t *ioSize, void *data);
OSStatus AudioSessionAddPropertyListener(AudioSessionPropertyID property, AudioSessionPropertyListener proc,
                                         void *userData);
OSStatus AudioSessionRemovePropertyListener(AudioSessionPropertyID property, AudioSessionPropertyListener proc,
                                            void *userData);
// Stops the source and forgets every listener; a later AudioSessionInitialize starts anew.
void AudioSessionShutdown();
