// Monkey's Audio decompression interface, realised over FFmpeg's demuxer and decoder.
//
// The APE reader opens a file with CreateIAPEDecompress (a wide-character path made by
// APEWideFromUTF8), asks GetInfo for the stream's format and length, pulls interleaved
// little-endian PCM with GetData in whole blocks (one block = one sample per channel;
// 8-bit samples are unsigned, as in WAV), moves with Seek, and deletes the object.
// An object is used on one thread only.
#pragma once

#include <cstddef>
#include <cstdint>

// GetInfo fields.
enum APEInfoField : int {
    APE_INFO_SAMPLE_RATE = 1003,      // Hz
    APE_INFO_BITS_PER_SAMPLE = 1004,  // 8, 16 or 24
    APE_INFO_CHANNELS = 1006,         // 1 or 2
    APE_INFO_LENGTH_MS = 1017,        // whole milliseconds, truncated
};

// Status codes of the interface; 0 is success.
enum : int {
    APE_SUCCESS = 0,
    APE_ERROR_OPENING = 1000,         // unreadable, wrong extension, not a Monkey's Audio file
    APE_ERROR_UNSUPPORTED = 1001,     // a version or format the decoder does not handle
    APE_ERROR_DECOMPRESSING = 1002,   // corrupt data: the stream ends early
    APE_ERROR_BAD_PARAMETER = 1003,
    APE_ERROR_SEEKING = 1004,
};

class IAPEDecompress {
public:
    virtual ~IAPEDecompress() = default;

    // Decodes up to `blocks` blocks into `buffer` (blocks x channels x bits / 8 bytes).
    // *retrieved is what was delivered: fewer at the end of the stream or after a
    // decoding error, 0 from then on.
    virtual int GetData(void *buffer, int64_t blocks, int64_t *retrieved) = 0;

    // Positions at block `block` (clamped to [0, total]); the next GetData starts there.
    // On failure the position is unchanged.
    virtual int Seek(int64_t block) = 0;

    // One of APEInfoField; 0 for fields it does not know.
    virtual int64_t GetInfo(APEInfoField field) = 0;
};

// Null when the file cannot be opened; *error (optional) tells why. Accepts names ending
// in .ape or .mac (any letter case).
IAPEDecompress *CreateIAPEDecompress(const wchar_t *path, int *error = nullptr);

// UTF-8 path to the wide form, allocated with new[] (delete[] it); null for a null path.
// Bytes that are not valid UTF-8 are carried as U+DC80..U+DCFF so that every Linux file
// name, UTF-8 or not, survives the round trip to the file system.
wchar_t *APEWideFromUTF8(const char *utf8);

// Exposed for tests: the inverse of APEWideFromUTF8, as the decompressor opens files.
bool APEUTF8FromWide(const wchar_t *wide, char *out, size_t capacity);

// Exposed for tests: sanity of a Monkey's Audio header before the decoder trusts it, so
// that a lying header cannot make it allocate beyond the file's size. `head` holds the
// bytes from "MAC " on (as many as the file has, up to 128), `remaining` the file's
// length from there. False when the frame count or seek table cannot fit in the file.
bool APEHeaderIsPlausible(const uint8_t *head, size_t length, uint64_t remaining);
