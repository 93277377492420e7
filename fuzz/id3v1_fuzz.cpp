// ID3v1 tags: the first 128 bytes of the input (zero-filled when shorter) and its last
// 128 bytes, where a file keeps the tag.
#include <cstdint>
#include <cstring>

#include "engine/lm_tag.h"
#include "fuzz_quiet.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzQuietInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t block[128] = {};
    memcpy(block, data, size < 128 ? size : 128);
    LMTag tag{};
    LMTagParseId3v1(&tag, block, sizeof block);
    if (size >= 128)
        LMTagParseId3v1(&tag, data + size - 128, 128);
    LMTagParseId3v1(&tag, data, size);
    LMTagClear(&tag);
    fuzzQuietDiscard();
    return 0;
}
