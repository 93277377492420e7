// AIFF reader: AIFF, and AIFC with the compression type "NONE" (big-endian samples) or
// "sowt" (little-endian samples).
//
// Serves the samples exactly as stored (8-bit samples are signed) in whole frames;
// `big_endian` tells which byte order they have. The tag comes from an "ID3 " or "id3 "
// chunk.
#pragma once

#include "engine/lm_file.h"

// Null, after a "*FAILED* check" line, when the file is refused.
LMFile *LMAiffFileOpen(const char *path);

// The operation table; reached only through the LMFile wrappers.
int LMAiffFileSeek(LMFile *file, double seconds);
double LMAiffFileTell(LMFile *file);
int LMAiffFileRead(LMFile *file, void *buffer, int length);
void LMAiffFileClose(LMFile *file);
