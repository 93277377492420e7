// libFuzzer harness: FLAC bytes through the FLAC reader — open (metadata, Vorbis
// comments, pictures), read, seek and read again, close. A read that never ends shows
// as a timeout (fuzz/flac.options); a position outside [0, duration] aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "engine/lm_flac_file.h"
#include "fuzz_quiet.h"

namespace {

int memoryFile = -1;
char memoryPath[64];

// Reads at most `limit` buffers, so that one input cannot run for long.
void readSome(LMFile *f, std::vector<uint8_t> &buffer, int limit)
{
    for (int i = 0; i < limit && LMFileRead(f, buffer.data(), int(buffer.size())) > 0; i++) {
    }
    const double told = LMFileTell(f);
    if (!(told >= 0 && told <= f->duration))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzQuietInit();
    // The reader opens a path: the input is written to a file in memory.
    memoryFile = memfd_create("flac-fuzz", 0);
    snprintf(memoryPath, sizeof memoryPath, "/proc/self/fd/%d", memoryFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (memoryFile < 0 || ftruncate(memoryFile, 0) != 0 ||
        (size > 0 && pwrite(memoryFile, data, size, 0) != ssize_t(size)))
        abort();
    LMFile *f = LMFlacFileOpen(memoryPath);
    if (f != nullptr) {
        std::vector<uint8_t> buffer(size_t(f->block_size) * 2 + 7);
        readSome(f, buffer, 64);
        for (double t : {f->duration / 2, f->duration, -1.0, 0.0, f->duration + 1})
            LMFileSeek(f, t), readSome(f, buffer, 2);
        LMFileClose(f);
    }
    fuzzQuietDiscard();
    return 0;
}
