// ID3 tags held in memory, parsed into an LMTag (the file interface's tag record).
#pragma once

#include <cstddef>

#include "engine/lm_file.h"

// An ID3v2 tag of version 2, 3 or 4: exactly the tag's bytes (10-byte header, declared
// size, and the footer when flagged). Clears the tag first; 1 when parsed, 0 when refused.
int LMTagParseId3v2(LMTag *tag, const void *block, size_t length);

// A 128-byte ID3v1 tag beginning with "TAG". Clears the tag first; 1 or 0. Its texts are
// copied as stored (raw bytes, not converted to UTF-8).
int LMTagParseId3v1(LMTag *tag, const void *block, size_t length);

// The ID3v1 genre names for the numbers 0 to 147.
extern const char *const LMGenreNames[148];
