#include "engine/lm_utf8.h"

#include <cstdint>

size_t LMUtf8SequenceLength(const unsigned char *p, size_t n)
{
    if (n == 0)
        return 0;
    const unsigned char c = p[0];
    size_t len;
    uint32_t cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (size_t k = 1; k < len; k++) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool LMUtf8IsValid(const void *bytes, size_t n)
{
    const unsigned char *p = (const unsigned char *)bytes;
    size_t i = 0;
    while (i < n) {
        size_t len = LMUtf8SequenceLength(p + i, n - i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}
