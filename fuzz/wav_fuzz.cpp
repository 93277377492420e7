// WAV files through the WAV reader: open, read, seek, tell, close.
#include "engine/lm_wav_file.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzFileInit("a.wav");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzFileRun(LMWavFileOpen, data, size);
    return 0;
}
