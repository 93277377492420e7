// Keeps the engine's "*FAILED* check" lines, one or more for nearly every input, out of a
// fuzzing run's output. Standard error is fully buffered and what an input wrote is
// discarded after it; libFuzzer flushes its own lines, and the sanitizers write their
// reports straight to the descriptor, so both still show. LUMENAR_FUZZ_VERBOSE=1 keeps
// the engine's lines too, for reproducing a finding.
#pragma once

#include <cstdio>
#include <cstdlib>

#include <stdio_ext.h>

inline bool fuzzVerbose()
{
    static const bool verbose = getenv("LUMENAR_FUZZ_VERBOSE") != nullptr;
    return verbose;
}

inline void fuzzQuietInit()
{
    static char buffer[1 << 16];
    if (!fuzzVerbose())
        setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
}

inline void fuzzQuietDiscard()
{
    if (!fuzzVerbose())
        __fpurge(stderr);
}
