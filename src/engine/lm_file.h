// One record over every audio format.
//
// A reader's open allocates one zero-filled heap block: the LMFile below, followed by the
// reader's own state. The reader fills the format fields, the tag and the operation table;
// callers go through the LMFile* wrappers and never test for an empty slot.
//
// Ownership: whoever opens a file closes it with LMFileClose, unless it was handed to the
// output engine, which then owns it. A file is used on one thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/lm_check.h"

typedef int32_t LMFileType;
enum : LMFileType {
    LMFileTypeApe = 1,
    LMFileTypeFlac = 2,
    LMFileTypeWav = 3,
    LMFileTypeAiff = 4,
    LMFileTypeCoreAudio = 5,
};

// Every text is a heap copy owned by the tag, UTF-8 except ID3v1 text (raw bytes).
struct LMTag {
    char *title;
    char *artist;
    char *album;
    char *comment;
    char *genre;
    unsigned char *picture;   // encoded image bytes exactly as stored
    char *cuesheet;           // embedded cue sheet (FLAC only)
    int32_t picture_size;
    int32_t year;             // 0 when absent
    int32_t track;            // 0 when absent
};

struct LMFile;
typedef int (*LMFileSeekOp)(LMFile *file, double seconds);
typedef double (*LMFileTellOp)(LMFile *file);
typedef int (*LMFileReadOp)(LMFile *file, void *buffer, int length);
typedef void (*LMFileCloseOp)(LMFile *file);

struct LMFile {
    LMFileType type;
    uint32_t num_channels;
    uint32_t bits_per_sample;   // 0 for compressed streams
    uint32_t sample_rate;
    uint32_t block_size;        // bytes: the unit of every read, and the least buffer size
    int32_t big_endian;         // 1 when read() yields big-endian PCM (AIFF only)
    LMTag tag;
    double duration;            // seconds
    LMFile *next;               // the output engine's chain; readers never touch it
    LMFileSeekOp seek;          // may be null
    LMFileTellOp tell;          // may be null
    LMFileReadOp read;          // null for LMFileTypeCoreAudio (read by packets)
    LMFileCloseOp close;        // releases the reader's state and the record
};

// Opens by extension (case-insensitive): wav/wv, flac, ape, aiff/aif/aifc, mp3/m4a.
// Null when the extension is unknown or the reader refuses the file.
LMFile *LMFileOpen(const char *path);
// Null-safe. Clears the tag, then calls the reader's close.
void LMFileClose(LMFile *file);
// Null-safe; the status is the reader's own and callers ignore it.
int LMFileSeek(LMFile *file, double seconds);
// 0 for a null file or a missing tell.
double LMFileTell(LMFile *file);
// Bytes put into buffer, 0 at the end of the stream, for a null file or a missing read.
int LMFileRead(LMFile *file, void *buffer, int length);

bool LMTagIsEmpty(const LMTag *tag);
void LMTagClear(LMTag *tag);

// Shared frame arithmetic of the seekable readers.
// Seek target in seconds -> frame index: clamped to [0, duration], then
// (t / duration) * total_frames truncated; 0 when duration or total_frames is 0.
uint64_t LMFileFrameForTime(const LMFile *file, double seconds, uint64_t total_frames);
// Frame index -> seconds: (frame / total_frames) * duration; 0 when total_frames is 0.
double LMFileTimeForFrame(const LMFile *file, uint64_t frame, uint64_t total_frames);

// Allocates a zero-filled record of `size` bytes (the reader's struct, which begins with
// an LMFile) and sets its type and operations. Null when allocation fails.
LMFile *LMFileAllocate(size_t size, LMFileType type, LMFileSeekOp seek, LMFileTellOp tell,
                       LMFileReadOp read, LMFileCloseOp close);
