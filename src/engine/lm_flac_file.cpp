// Placeholder until the reader lands: refuses every file.
#include "engine/lm_flac_file.h"

LMFile *LMFlacFileOpen(const char *)
{
    return nullptr;
}
