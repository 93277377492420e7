// Runs a PCM reader over the input as a file: the bytes go to one file in /dev/shm
// (memory, so no disk traffic), removed at exit; the file is opened, read to the end in
// blocks, sought and told at several points, and closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "engine/lm_file.h"
#include "fuzz_quiet.h"

inline std::string &fuzzFilePath()
{
    static std::string path;
    return path;
}

inline void fuzzRemoveFile()
{
    unlink(fuzzFilePath().c_str());
}

inline void fuzzFileInit(const char *name)
{
    fuzzQuietInit();
    fuzzFilePath() = "/dev/shm/lumenar-fuzz-" + std::to_string(getpid()) + "-" + name;
    atexit(fuzzRemoveFile);
}

inline void fuzzFileRun(LMFile *(*open)(const char *), const uint8_t *data, size_t size)
{
    FILE *out = fopen(fuzzFilePath().c_str(), "wb");
    if (out == nullptr)
        abort();
    if (size > 0 && fwrite(data, 1, size, out) != size)
        abort();
    fclose(out);

    LMFile *file = open(fuzzFilePath().c_str());
    if (file != nullptr) {
        static uint8_t buffer[1 << 16];
        const int chunk = file->block_size > 0 && file->block_size <= sizeof buffer
                              ? (int)(sizeof buffer / file->block_size * file->block_size)
                              : (int)sizeof buffer;
        size_t total = 0;
        int n;
        while ((n = LMFileRead(file, buffer, chunk)) > 0) {
            total += (size_t)n;
            if (total > size)
                abort();   // more bytes than the file holds
        }
        for (double t : {-1.0, 0.0, file->duration / 2, file->duration, file->duration + 1}) {
            LMFileSeek(file, t);
            double told = LMFileTell(file);
            if (!(told >= 0 && told <= file->duration))
                abort();
            LMFileRead(file, buffer, 4096);
        }
        LMFileClose(file);
    }
    fuzzQuietDiscard();
}
