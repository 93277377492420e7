// WAV files written by the "wav:" outputs.
//
// One file holds one stream format. Within a process, queues writing to the same path
// share it: a queue of the format the file already has appends to it (so a sequence of
// equal-format files becomes one WAV); a queue of another format continues in a new file
// named like the path with ".2", ".3", ... before the extension. The header is rewritten
// after every write, so the file is valid at every moment, and once more on close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio_queue/audio_device.h"

namespace lmaudio {

class WavWriter {
public:
    // Null, after a log line, when the file cannot be created.
    static std::unique_ptr<WavWriter> open(const std::string &path, const PcmFormat &format);
    ~WavWriter();
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    // Appends PCM in the format given at open; converted in place to WAV's conventions.
    bool write(uint8_t *data, size_t size);
    const std::string &filePath() const { return path_; }

private:
    WavWriter() = default;
    std::string key_;    // the path asked for
    std::string path_;   // the file written
    PcmFormat format_;
    int fd_ = -1;
};

// The file name used for the n-th format written to `path` (n = 1 is `path` itself).
std::string WavPathForIndex(const std::string &path, int index);

} // namespace lmaudio
