// Byte-exact builders for the container and tag formats the readers parse: RIFF/IFF
// chunk files (WAV, AIFF), ID3v2 tags; and capturing what the engine writes to stderr.
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
void append(Bytes &out, const Bytes &more);
Bytes operator+(Bytes a, const Bytes &b);
void putLE(Bytes &out, uint64_t value, int bytes);
void putBE(Bytes &out, uint64_t value, int bytes);

// One chunk: a 4-character id and its data. `size` overrides the size field written
// (for lying headers); the data is written as given, with a pad byte after odd data
// unless `pad` is false.
struct Chunk {
    std::string id;
    Bytes data;
    int64_t size = -1;
    bool pad = true;
};

// "RIFF"/"FORM" + form size + type + chunks; sizes little-endian for RIFF, big for FORM.
Bytes riffFile(const std::string &form, const std::string &type, const std::vector<Chunk> &chunks);

// A WAV "fmt " chunk's data: 16 bytes, plus `extra` zero bytes after them.
Bytes wavFmt(uint16_t format, uint16_t channels, uint32_t rate, uint16_t blockAlign,
             uint16_t bits, size_t extra = 0);
// A whole PCM WAV: fmt, then data (then the extra chunks).
Bytes wavFile(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &pcm,
              const std::vector<Chunk> &after = {});

// The 80-bit IEEE extended form of a rate, as AIFF stores it.
Bytes extended80(double value);
// AIFF "COMM" data; with a compression type it is the AIFC form (22 bytes + name).
Bytes aiffComm(uint16_t channels, uint32_t frames, uint16_t bits, double rate,
               const std::string &compression = "");
// "SSND" data: offset, block size, then the samples (after `offset` filler bytes).
Bytes aiffSsnd(const Bytes &samples, uint32_t offset = 0);

// Big-endian signed PCM of the same tone as tonePcm() (8-bit signed, as AIFF stores it).
Bytes toneBigEndian(uint32_t rate, uint32_t channels, uint32_t bits, double seconds);

// ID3v2 tags.
Bytes synchsafe(uint32_t value);
// A frame: 4-character id (3 for version 2), size (synchsafe in version 4 unless
// `plainSize`), flags, data.
Bytes id3Frame(int version, const std::string &id, const Bytes &data, uint16_t flags = 0,
               bool plainSize = false);
// A text frame's data: encoding byte then the bytes.
Bytes id3Text(uint8_t encoding, const Bytes &text);
// Header ("ID3", version, 0, flags, synchsafe size) + body + `padding` zero bytes.
Bytes id3Tag(int version, const Bytes &frames, uint8_t flags = 0, size_t padding = 0);
// Inserts a 0 after every FF that is followed by a byte >= E0 or by 0 (and after a
// trailing FF), as an unsynchronising writer does.
Bytes unsynchronise(const Bytes &data);

// Redirects file descriptor 2 into a temporary file until stop().
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;
    std::string stop();   // what was written; stderr is restored

private:
    int saved_ = -1;
    FILE *file_ = nullptr;
};

// The lines of `text` that report a failed check, with the line numbers replaced by "N":
// "*FAILED* check: lm_wav_file.cpp:N: fmt.audioFormat == 1".
std::vector<std::string> failedChecks(const std::string &text);

// An open LMFile closed when it goes out of scope.
struct LMFileCloser {
    void operator()(LMFile *file) const { LMFileClose(file); }
};
using FilePtr = std::unique_ptr<LMFile, LMFileCloser>;

// Opens `path` with `open` (LMFileOpen unless given), capturing the failed checks.
struct Opened {
    FilePtr file;
    std::vector<std::string> checks;
};
Opened openCapturing(const std::string &path, LMFile *(*open)(const char *) = LMFileOpen);
// Writes `bytes` to `path`, then opens it as above.
Opened openBytes(const std::string &path, const Bytes &bytes,
                 LMFile *(*open)(const char *) = LMFileOpen);

// Everything read() delivers from the current position, in reads of `chunk` bytes.
Bytes readAll(LMFile *file, int chunk = 65536);

} // namespace lmtest
