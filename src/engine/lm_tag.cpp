// Placeholder until the tag reader lands: refuses every tag.
#include "engine/lm_tag.h"

const char *const LMGenreNames[148] = {};

int LMTagParseId3v2(LMTag *tag, const void *, size_t)
{
    LMTagClear(tag);
    return 0;
}

int LMTagParseId3v1(LMTag *tag, const void *, size_t)
{
    LMTagClear(tag);
    return 0;
}
