// AIFF and AIFC reader.
#pragma once

#include "engine/lm_file.h"

// Null, after a "*FAILED* check" line, when the file is refused.
LMFile *LMAiffFileOpen(const char *path);
