// The silent and WAV outputs: a thread of their own takes PCM from the queue like a sound
// card would, at real-time pace (a little ahead of the clock, as a card's own buffer is),
// or as fast as buffers come for the "wav-fast:" output.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio_queue/audio_device.h"
#include "platform/audio_queue/audio_queue.h"
#include "platform/audio_queue/wav_writer.h"

namespace lmaudio {

namespace {

using Clock = std::chrono::steady_clock;

// How far the device may run ahead of the clock, and how much it takes at a time.
constexpr double kLeadSeconds = 0.05;
constexpr double kChunkSeconds = 0.02;
constexpr size_t kFastChunkBytes = 1 << 18;

class PacedDevice final : public Device {
public:
    PacedDevice(DeviceClient *client, std::string wavPath, bool fast)
        : client_(client), wavPath_(std::move(wavPath)), fast_(fast)
    {
    }
    ~PacedDevice() override { close(); }

    OSStatus open(const PcmFormat &format) override
    {
        format_ = format;
        if (!wavPath_.empty()) {
            writer_ = WavWriter::open(wavPath_, format);
            if (!writer_)
                return kAudioQueueErr_InvalidDevice;
        }
        const size_t frame = format.bytesPerFrame();
        size_t chunk = fast_ ? kFastChunkBytes : size_t(format.rate * kChunkSeconds) * frame;
        chunk = std::max(chunk - chunk % frame, frame);
        buffer_.resize(chunk);
        thread_ = std::thread(&PacedDevice::run, this);
        return noErr;
    }

    OSStatus start() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_) {
            started_ = true;
            anchor();
        }
        cv_.notify_all();
        return noErr;
    }

    void pause() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = false;
        cv_.notify_all();
    }

    void reset() override { pause(); }

    void wake() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
        cv_.notify_all();
    }

    void setVolume(float) override {}   // silent, or a file that records the stream as given

    // What was taken: at real-time pace that is what a card would have played, give or
    // take its lead.
    bool playedTime(double *seconds) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        *seconds = format_.rate > 0 ? double(framesPlayed_) / format_.rate : 0;
        return true;
    }

    void close() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
            cv_.notify_all();
        }
        if (thread_.joinable())
            thread_.join();
        writer_.reset();
    }

private:
    // Restarts the clock at the current position: no credit for time spent waiting.
    void anchor()
    {
        const double played = double(framesPlayed_) / format_.rate;
        start_ = Clock::now() - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(played));
    }

    Clock::time_point due(double leadSeconds) const
    {
        const double t = double(framesPlayed_) / format_.rate - leadSeconds;
        return start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(t));
    }

    void run()
    {
        const size_t frame = format_.bytesPerFrame();
        std::unique_lock<std::mutex> lock(mutex_);
        while (!quit_) {
            if (!started_) {
                cv_.wait(lock);
                continue;
            }
            if (!fast_ && Clock::now() < due(kLeadSeconds)) {
                cv_.wait_until(lock, due(kLeadSeconds));
                continue;
            }
            woken_ = false;
            lock.unlock();
            bool end = false;
            const size_t n = client_->pull(buffer_.data(), buffer_.size(), &end);
            if (n > 0 && writer_)
                writer_->write(buffer_.data(), n);
            lock.lock();
            if (n > 0) {
                framesPlayed_ += n / frame;
                continue;
            }
            if (end) {
                // Let what the device holds play out, then report the stop.
                while (!fast_ && !quit_ && started_ && Clock::now() < due(0))
                    cv_.wait_until(lock, due(0));
                if (quit_ || !started_)
                    continue;
                started_ = false;
                lock.unlock();
                client_->deviceDrained();
                lock.lock();
                continue;
            }
            // Ran dry: wait for data; the clock does not run ahead meanwhile.
            while (!woken_ && !quit_ && started_)
                cv_.wait(lock);
            if (!fast_)
                anchorIfLate();
        }
    }

    void anchorIfLate()
    {
        if (Clock::now() > due(0))
            anchor();
    }

    DeviceClient *client_;
    std::string wavPath_;
    bool fast_;
    PcmFormat format_;
    std::unique_ptr<WavWriter> writer_;
    std::vector<uint8_t> buffer_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool started_ = false;
    bool woken_ = false;
    bool quit_ = false;
    uint64_t framesPlayed_ = 0;
    Clock::time_point start_;
};

} // namespace

std::unique_ptr<Device> NewPacedDevice(DeviceClient *client, const std::string &wavPath, bool fast)
{
    return std::make_unique<PacedDevice>(client, wavPath, fast);
}

} // namespace lmaudio
