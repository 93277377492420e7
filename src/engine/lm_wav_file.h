// WAV reader: RIFF WAVE files of integer PCM (.wav, and .wv when it is RIFF WAVE), also in
// the extensible format when its sub-format is PCM (1-2 channels of 16, 24 or 32 bits).
//
// Serves the samples exactly as stored (little-endian, interleaved; 8-bit samples are
// unsigned) in whole blocks of the header's block alignment. The tag comes from an
// "ID3 " or "id3 " chunk.
#pragma once

#include "engine/lm_file.h"

// Null, after a "*FAILED* check" line, when the file is refused.
LMFile *LMWavFileOpen(const char *path);

// The operation table; reached only through the LMFile wrappers.
int LMWavFileSeek(LMFile *file, double seconds);
double LMWavFileTell(LMFile *file);
int LMWavFileRead(LMFile *file, void *buffer, int length);
void LMWavFileClose(LMFile *file);
