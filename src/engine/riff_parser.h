// Chunk walker for RIFF (little-endian sizes) and IFF (big-endian sizes) files.
//
// The parser reads from a stream it does not own. RiffInit reads the form header; each
// RiffNextChunk returns the next chunk header and remembers where its data starts, so that
// RiffGetChunkData can read it. The walk runs until the file ends, whatever size the form
// header declares: writers get that size wrong often enough.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

typedef int32_t RiffByteOrder;
enum : RiffByteOrder {
    RiffLittleEndian = 0,
    RiffBigEndian = 1,
};

// 8 bytes in the file; `size` is already in host order once returned by the parser.
// A pad byte follows odd-sized data and is not counted in `size`.
struct RiffChunkHeader {
    char id[4];
    uint32_t size;
};

struct RiffParser {
    RiffChunkHeader hdr;      // the form's own header: "RIFF" or "FORM"
    char type_id[4];          // "WAVE", "AIFF", "AIFC"
    RiffByteOrder byte_order;
    int32_t status;           // 0 walking, 1 no form header, 2 no further chunk header
    int64_t data_pos;         // file offset of the data of the chunk last returned
    int64_t next_pos;         // file offset of the next chunk header
    FILE *fp;                 // not owned
};

// Case-sensitive comparison of two 4-character identifiers.
#define IDEQU(a, b) (memcmp((a), (b), 4) == 0)

// Rewinds `fp` and reads the form header. 1 on success, 0 (status 1) when it is missing.
int RiffInit(RiffParser *parser, FILE *fp, RiffByteOrder byte_order);

// Reads the next chunk header into `hdr`. 0 at the end of the file (silently) or when the
// file cannot be positioned or read (with a diagnostic line).
int RiffNextChunk(RiffParser *parser, RiffChunkHeader *hdr);

// Reads up to `n` bytes from the start of the current chunk's data; the count read, 0 when
// the stream cannot be positioned.
size_t RiffGetChunkData(RiffParser *parser, void *buffer, size_t n);

// Named byte-order helpers for fields read from file bytes.
static inline uint16_t RiffU16LE(const unsigned char *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static inline uint16_t RiffU16BE(const unsigned char *p) { return (uint16_t)((p[0] << 8) | p[1]); }
static inline uint32_t RiffU32LE(const unsigned char *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static inline uint32_t RiffU32BE(const unsigned char *p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}
