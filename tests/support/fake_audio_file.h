// An LMFile over PCM bytes held in memory, for exact checks of the output engine: it
// serves exactly the bytes given, records every read request and counts closes.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/lm_file.h"

namespace lmtest {

struct FakeFileOptions {
    LMFileType type = LMFileTypeWav;
    uint32_t sampleRate = 44100;
    uint32_t channels = 2;
    uint32_t bitsPerSample = 16;
    uint32_t blockSize = 0;     // 0: one frame
    int32_t bigEndian = 0;
    int maxRead = 0;            // > 0: no read delivers more (short reads before the end)
};

// The file owns a copy of `pcm`; close it with LMFileClose (or hand it to the engine).
LMFile *fakeFileOpen(const std::vector<uint8_t> &pcm, const FakeFileOptions &options = {});

// Lengths asked of every fake file's read since the last reset, in order.
std::vector<int> &fakeFileReadRequests();
// Fake files closed since the start of the program.
int fakeFilesClosed();

// PCM whose every 16-bit sample is distinct along the stream (a running counter from
// `start`), so that a lost, doubled or reordered byte shows.
std::vector<uint8_t> counterPcm16(size_t frames, uint32_t channels, uint16_t start);

} // namespace lmtest
