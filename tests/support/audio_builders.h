// Byte-exact builders for what the readers parse (RIFF/IFF chunk files, ID3v2 tags), and
// a capture of the engine's "*FAILED* check" lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/lm_file.h"

namespace lmtest {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::string &text);
Bytes operator+(Bytes a, const Bytes &b);
Bytes le(uint64_t value, int bytes);
Bytes be(uint64_t value, int bytes);

// A chunk; `size` overrides the size field (a lying header). Odd data gets a pad byte.
struct Chunk {
    std::string id;
    Bytes data;
    int64_t size = -1;
};
// "RIFF" (little-endian sizes) or "FORM" (big-endian sizes), the form type, the chunks.
Bytes riffFile(const std::string &form, const std::string &type, const std::vector<Chunk> &chunks);
Bytes wavFmt(uint16_t format, uint16_t channels, uint32_t rate, uint16_t blockAlign, uint16_t bits);
// An integer PCM WAV: fmt, data, then `after`.
Bytes wavFile(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &pcm,
              const std::vector<Chunk> &after = {});
Bytes extended80(double value);   // an AIFF sample rate
// AIFF "COMM" data; with a compression type, AIFC's.
Bytes aiffComm(uint16_t channels, uint32_t frames, uint16_t bits, double rate,
               const std::string &compression = "");
Bytes aiffSsnd(const Bytes &samples, uint32_t offset = 0);   // `offset` filler bytes first
// tonePcm() as AIFF stores it: big-endian, 8-bit signed.
Bytes toneBigEndian(uint32_t rate, uint32_t channels, uint32_t bits, double seconds);

Bytes synchsafe(uint32_t value);
// Version 2: 3-character id and size; 3 and 4: id, size (synchsafe in 4 unless
// `plainSize`), flags.
Bytes id3Frame(int version, const std::string &id, const Bytes &data, uint16_t flags = 0,
               bool plainSize = false);
Bytes id3Tag(int version, const Bytes &frames, uint8_t flags = 0, size_t padding = 0);
Bytes unsynchronise(const Bytes &data);   // as an unsynchronising writer stores it

// Redirects file descriptor 2 into a temporary file until stop().
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture() { stop(); }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;
    std::string stop();

private:
    int saved_ = -1;
    FILE *file_ = nullptr;
};

// The failed-check lines of `text`, line numbers replaced by N:
// "*FAILED* check: lm_wav_file.cpp:N: fmt.audioFormat == 1".
std::vector<std::string> failedChecks(const std::string &text);

struct LMFileCloser {
    void operator()(LMFile *file) const { LMFileClose(file); }
};
using FilePtr = std::unique_ptr<LMFile, LMFileCloser>;

struct Opened {
    FilePtr file;
    std::vector<std::string> checks;
};
// Opens with `open`, capturing the failed checks; openBytes writes the file first.
Opened openCapturing(const std::string &path, LMFile *(*open)(const char *) = LMFileOpen);
Opened openBytes(const std::string &path, const Bytes &bytes,
                 LMFile *(*open)(const char *) = LMFileOpen);
// Everything read() delivers from the current position, in reads of `chunk` bytes.
Bytes readAll(LMFile *file, int chunk = 65536);

} // namespace lmtest
