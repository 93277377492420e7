// FLAC reader over libFLAC.
//
// Stereo 16- and 24-bit streams only. read() yields interleaved little-endian PCM in whole
// decoded frames; block_size is 8 x the stream's maximum block size, an upper bound of the
// bytes one frame yields, so a read of at least block_size bytes always makes progress.
// Tags come from the Vorbis comments (TITLE, ARTIST, ALBUM, GENRE, TRACKNUMBER, YEAR, else
// the first four digits of DATE, and an embedded CUESHEET text) and the front-cover
// PICTURE block.
#pragma once

#include <cstdint>

#include "engine/lm_file.h"

// Null, after a "*FAILED* check" line, when the file is refused.
LMFile *LMFlacFileOpen(const char *path);

// Applies one Vorbis comment entry (NAME=value, `length` bytes, not necessarily
// terminated) to the tag by the reader's rules. Exposed for tests.
void LMFlacTagAddComment(LMTag *tag, const uint8_t *entry, uint32_t length);
