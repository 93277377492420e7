// AIFF and AIFC files through the AIFF reader: open, read, seek, tell, close.
#include "engine/lm_aiff_file.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzFileInit("a.aiff");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzFileRun(LMAiffFileOpen, data, size);
    return 0;
}
