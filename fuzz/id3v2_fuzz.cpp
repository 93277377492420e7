// ID3v2 tags: the input as a whole block, and, when it starts like a tag, the length its
// header declares (so that tags at the start of real files are useful seeds).
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
    LMTag tag{};
    LMTagParseId3v2(&tag, data, size);
    if (size >= 10 && memcmp(data, "ID3", 3) == 0) {
        size_t declared = 10 + ((size_t)(data[6] & 0x7F) << 21 | (size_t)(data[7] & 0x7F) << 14 |
                                (size_t)(data[8] & 0x7F) << 7 | (data[9] & 0x7F));
        if (data[3] == 4 && (data[5] & 0x10))
            declared += 10;
        if (declared < size)
            LMTagParseId3v2(&tag, data, declared);
    }
    LMTagClear(&tag);
    fuzzQuietDiscard();
    return 0;
}
