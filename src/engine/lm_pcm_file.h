// State and operations shared by the readers that serve PCM straight from the file
// (WAV and AIFF). Each reader's own operations check the record's type and call these.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/lm_file.h"
#include "engine/riff_parser.h"

struct LMPcmFile {
    LMFile file;
    FILE *fp;               // opened read-only in binary mode, owned
    int64_t data_pos;       // file offset of the first sample byte
    int64_t data_end;       // file offset just past the last sample byte
    uint64_t total_frames;
    int64_t file_size;      // bytes in the file when it was opened
};

// Opens `path` read-only into pf->fp and notes the file's size. False when it cannot.
bool LMPcmFileOpenStream(LMPcmFile *pf, const char *path);

// Keeps the sample data inside the file: a data chunk may claim more bytes than a
// truncated or streamed file holds, and the duration must come from what is there.
void LMPcmFileClampDataEnd(LMPcmFile *pf);

// Reads an "ID3 " / "id3 " chunk into the file's tag. Chunks over 1 MB, and chunks that
// claim more bytes than the file still holds, are skipped without allocating anything.
void LMPcmFileReadId3Chunk(LMPcmFile *pf, RiffParser *parser, const RiffChunkHeader *hdr);

// Whole blocks only, never past the data end; 0 at the end of the data.
int LMPcmFileRead(LMPcmFile *pf, void *buffer, int length);
// Positions the stream on the frame for `seconds`; the stream seek's result (0 = done).
int LMPcmFileSeek(LMPcmFile *pf, double seconds);
double LMPcmFileTell(LMPcmFile *pf);
// Closes the stream when open and releases the record.
void LMPcmFileClose(LMPcmFile *pf);
