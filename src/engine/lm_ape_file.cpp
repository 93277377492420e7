// Placeholder until the reader lands: refuses every file.
#include "engine/lm_ape_file.h"

LMFile *LMApeFileOpen(const char *)
{
    return nullptr;
}
