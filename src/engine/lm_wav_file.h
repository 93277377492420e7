// WAV RIFF WAVE reader (.wav, .wv).
#pragma once

#include "engine/lm_file.h"

// Null, after a "*FAILED* check" line, when the file is refused.
LMFile *LMWavFileOpen(const char *path);
