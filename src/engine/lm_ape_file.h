// Monkey's Audio reader over the decompression layer in platform/maclib.
#pragma once

#include "engine/lm_file.h"

// Null, after a "*FAILED* check" line, when the file is refused.
LMFile *LMApeFileOpen(const char *path);
