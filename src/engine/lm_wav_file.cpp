// Placeholder until the reader lands: refuses every file.
#include "engine/lm_wav_file.h"

LMFile *LMWavFileOpen(const char *)
{
    return nullptr;
}
