// FLAC reader over libFLAC.
#pragma once

#include "engine/lm_file.h"

// Null, after a "*FAILED* check" line, when the file is refused.
LMFile *LMFlacFileOpen(const char *path);
