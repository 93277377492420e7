// Helpers for the reader and decoder suites: FLAC files made with libFLAC's encoder,
// reference PCM from the ffmpeg tool, digests, captured diagnostics.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace lmtest {

struct FlacSpec {
    uint32_t rate = 44100;
    uint32_t channels = 2;
    uint32_t bits = 16;
    double seconds = 2.0;
    uint32_t blockSize = 4096;
    std::vector<std::string> comments;                        // NAME=value entries
    std::vector<std::pair<int, std::vector<uint8_t>>> pictures;   // picture type, data
    bool nativeCuesheet = false;   // a CUESHEET metadata block (not a comment)
    bool unknownLength = false;    // STREAMINFO total samples 0, as a streamed encode leaves it
};

// Encodes a sine tone (tonePcm) with libFLAC; returns the PCM that was encoded
// (interleaved little-endian), or an empty vector when encoding failed.
std::vector<uint8_t> writeFlac(const std::string &path, const FlacSpec &spec);

// Gives the last frame of a fixed-block FLAC file another frame number (header and frame
// checksums rewritten), so that the decoder sees frames lost before it. False when the
// last frame cannot be found.
bool renumberLastFlacFrame(const std::string &path, uint32_t number);

// `ffmpeg -i path -f format -` (e.g. "s16le", "s24le"); empty when it fails.
std::vector<uint8_t> ffmpegPcm(const std::string &path, const std::string &format);

// Runs the ffmpeg tool with these arguments (after "-v error -y"); true on success.
bool ffmpeg(const std::vector<std::string> &args);

// A stereo 44.1 kHz sine tone of `seconds` encoded by the ffmpeg tool with `codecArgs`
// (e.g. {"-c:a", "libmp3lame"}) into `path`; true on success.
bool ffmpegTone(const std::string &path, const std::vector<std::string> &codecArgs, double seconds = 10.0);

// The audio packets of the file's first audio stream as the ffprobe tool counts them, or
// -1 when it fails.
int64_t ffprobePacketCount(const std::string &path);

std::string md5Hex(const std::vector<uint8_t> &bytes);

// True when `text` is exactly one engine diagnostic line,
// "*FAILED* check: SOURCE:LINE: condition\n", from `source` with `condition`.
bool isCheckLine(const std::string &text, const std::string &source, const std::string &condition);

// Runs fn and returns what it wrote to standard error.
std::string captureStderr(const std::function<void()> &fn);

} // namespace lmtest
