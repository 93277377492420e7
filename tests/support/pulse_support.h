// Helpers for tests against a real PulseAudio server (scripts/start-services.sh starts one).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace lmtest {

bool pulseAnswers();      // `pactl info` succeeds
bool pulseMandatory();    // CI or LUMENAR_REQUIRE_PULSE=1: a missing server is a failure

// A null sink of the test's own, made the target of new streams through $PULSE_SINK, so
// that tests running side by side neither hear nor disturb each other.
class PrivateSink {
public:
    PrivateSink();
    ~PrivateSink();
    PrivateSink(const PrivateSink &) = delete;
    PrivateSink &operator=(const PrivateSink &) = delete;
    bool ok() const { return !module_.empty(); }
    const std::string &name() const { return name_; }

private:
    std::string name_;
    std::string module_;
    std::unique_ptr<ScopedEnv> env_;
};

// Records the sink's monitor (16-bit stereo at 44100 Hz) with parec until stop().
class MonitorRecording {
public:
    MonitorRecording(const PrivateSink &sink, const std::string &rawPath);
    bool waitStarted(int timeoutMs = 3000);
    // Waits until the recording holds at least `loudSeconds` of sound louder than
    // `threshold` (as loudStretches finds it) followed by a fifth of a second of quiet, or
    // until `timeoutMs` passed: the server may deliver the end of what was played well
    // after the player finished. Answers whether that was reached.
    bool waitForQuietAfter(double loudSeconds, double threshold, int timeoutMs = 10000);
    // Frames recorded so far: a mark on the recording's timeline for "now" (it trails the
    // sound by the recorder's own latency, some tens of milliseconds).
    size_t framesSoFar() const;
    // The left channel recorded so far, as floats in [-1, 1], recording on.
    std::vector<float> samplesSoFar() const;
    // Waits (running the event loop) until `seconds` more have been recorded after `mark`.
    bool waitFor(size_t mark, double seconds, int timeoutMs = 5000);
    // Stops recording; the left channel as floats in [-1, 1].
    std::vector<float> stop();

private:
    std::string path_;
    std::unique_ptr<BackgroundProcess> process_;
};

// Stretches of at least minSeconds whose RMS over 10 ms windows exceeds `threshold`,
// as (start, end) in seconds; gaps shorter than 30 ms are bridged.
std::vector<std::pair<double, double>> loudStretches(const std::vector<float> &samples, double threshold,
                                                     double minSeconds = 0.05);
double rms(const std::vector<float> &samples, double from, double to);
// Frequency from zero crossings between `from` and `to` seconds.
double crossingFrequency(const std::vector<float> &samples, double from, double to);

// The sink input index of this process's stream on `sink`, or -1.
int ownSinkInput();

} // namespace lmtest

#define LMTEST_REQUIRE_PULSE()                                                                 \
    do {                                                                                       \
        if (!lmtest::pulseAnswers()) {                                                         \
            if (lmtest::pulseMandatory())                                                      \
                FAIL() << "no PulseAudio server answers (CI requires one: scripts/start-services.sh)"; \
            GTEST_SKIP() << "no PulseAudio server answers; source scripts/start-services.sh to run this"; \
        }                                                                                      \
    } while (0)
