// Placeholder until the reader lands: refuses every file.
#include "engine/lm_aiff_file.h"

LMFile *LMAiffFileOpen(const char *)
{
    return nullptr;
}
