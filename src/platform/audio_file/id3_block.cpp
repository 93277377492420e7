#include "platform/audio_file/id3_block.h"

bool LMId3v2TagLength(const uint8_t h[10], uint64_t *length)
{
    if (h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] == 0xFF || h[4] == 0xFF)
        return false;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80)
        return false;
    uint64_t size = (uint64_t(h[6]) << 21) | (uint64_t(h[7]) << 14) | (uint64_t(h[8]) << 7) | h[9];
    const bool footer = h[3] == 4 && (h[5] & 0x10) != 0;
    *length = 10 + size + (footer ? 10 : 0);
    return true;
}
