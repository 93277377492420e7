// Inside the output queue: the devices that take PCM from a queue.
//
// A device runs on a thread of its own (libpulse's main loop, or a pacing thread) and pulls
// PCM from its client, the queue. The queue calls the device only from the queue's thread
// and never while holding its own lock; the device may call the client with its own lock
// held. After close() returns, the device never calls its client again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio_types.h"

namespace lmaudio {

// Linear PCM as a device sees it.
struct PcmFormat {
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint32_t bits = 0;            // valid bits per sample
    uint32_t bytesPerSample = 0;  // container: 1 to 4
    bool isFloat = false;
    bool isSigned = true;         // integer samples; 8-bit PCM is often unsigned
    bool bigEndian = false;
    uint32_t bytesPerFrame() const { return channels * bytesPerSample; }
    bool operator==(const PcmFormat &) const = default;
};

// Fills *pcm from a linear PCM stream description; false for layouts no device takes.
bool PcmFormatFromDescription(const AudioStreamBasicDescription &asbd, PcmFormat *pcm);

// Rewrites samples in place to the devices' common sign convention (8-bit unsigned, wider
// signed) and, when `toLittleEndian`, to little-endian byte order. Returns the format the
// bytes now have.
PcmFormat NormalizePcm(uint8_t *data, size_t size, const PcmFormat &format, bool toLittleEndian);

class DeviceClient {
public:
    // Copies up to `max` bytes (whole frames) of queued PCM into dst and returns how many.
    // Sets *end when nothing is left and a stop after play-out was asked for.
    virtual size_t pull(uint8_t *dst, size_t max, bool *end) = 0;
    // Everything was played out after a stop request; the device has stopped.
    virtual void deviceDrained() = 0;
    // The device broke down; it takes nothing more.
    virtual void deviceFailed(const char *why) = 0;

protected:
    ~DeviceClient() = default;
};

class Device {
public:
    virtual ~Device() = default;
    // Once, before the first start, with the format the device will play.
    virtual OSStatus open(const PcmFormat &format) = 0;
    // Begins or resumes taking data.
    virtual OSStatus start() = 0;
    // Stops taking data and holds what it has.
    virtual void pause() = 0;
    // Drops what the device holds and stops (an immediate stop).
    virtual void reset() = 0;
    // New data was queued, or a stop after play-out was asked for.
    virtual void wake() = 0;
    // Linear gain, 0 to 1.
    virtual void setVolume(float volume) = 0;
    // Seconds of sound played since the device was opened, as near as it can tell; false
    // when it cannot tell. Not counted while paused.
    virtual bool playedTime(double *seconds) = 0;
    // Stops for good. Idempotent.
    virtual void close() = 0;
};

enum class OutputKind { Pulse, Null, Wav, WavFast };

struct OutputSpec {
    OutputKind kind = OutputKind::Pulse;
    std::string path;          // for the WAV outputs
    bool named = false;        // chosen by name: no fall-back
};

bool ParseOutputSpec(const char *text, OutputSpec *spec);

std::unique_ptr<Device> NewPulseDevice(DeviceClient *client);
// The silent and WAV outputs: at real-time pace unless `fast`; `wavPath` empty for silence.
std::unique_ptr<Device> NewPacedDevice(DeviceClient *client, const std::string &wavPath, bool fast);

// Whether the sound server answers (connects when needed).
bool PulseServerAvailable();

} // namespace lmaudio
