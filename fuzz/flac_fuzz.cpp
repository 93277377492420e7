// libFuzzer harness: FLAC bytes through the FLAC reader — open (metadata, Vorbis
// comments, pictures), read to the end, seek and read again, close.
#include <cstdint>
#include <cstdio>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "engine/lm_flac_file.h"

namespace {

int memoryFile = -1;
char memoryPath[64];

// Reads at most `limit` buffers, so that one input cannot run for long.
void readSome(LMFile *f, std::vector<uint8_t> &buffer, int limit)
{
    for (int i = 0; i < limit && LMFileRead(f, buffer.data(), int(buffer.size())) > 0; i++) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The reader's refusal lines would flood the log; the sanitizers report on the
    // descriptor itself, not through this stream.
    if (FILE *null = fopen("/dev/null", "w"))
        stderr = null;
    memoryFile = memfd_create("flac-fuzz", 0);
    snprintf(memoryPath, sizeof memoryPath, "/proc/self/fd/%d", memoryFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (memoryFile < 0 || ftruncate(memoryFile, 0) != 0 ||
        (size > 0 && pwrite(memoryFile, data, size, 0) != ssize_t(size)))
        return 0;
    LMFile *f = LMFlacFileOpen(memoryPath);
    if (f == nullptr)
        return 0;
    std::vector<uint8_t> buffer(size_t(f->block_size) * 2 + 7);
    readSome(f, buffer, 64);
    LMFileTell(f);
    LMFileSeek(f, f->duration / 2);
    readSome(f, buffer, 2);
    LMFileSeek(f, f->duration);
    readSome(f, buffer, 2);
    LMFileSeek(f, 0);
    readSome(f, buffer, 2);
    LMFileTell(f);
    LMFileClose(f);
    return 0;
}
