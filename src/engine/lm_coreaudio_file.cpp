// Placeholder until the reader lands: refuses every file.
#include "engine/lm_coreaudio_file.h"

LMFile *LMCoreAudioFileOpen(const char *)
{
    return nullptr;
}

int LMCoreAudioFileReadPackets(LMFile *, void *, uint32_t, AudioStreamPacketDescription **descriptions,
                               uint32_t *packet_count)
{
    *descriptions = nullptr;
    *packet_count = 0;
    return 0;
}

const AudioStreamBasicDescription *LMCoreAudioFileFormat(LMFile *)
{
    return nullptr;
}

void *LMCoreAudioFileCopyMagicCookie(LMFile *, uint32_t *size)
{
    *size = 0;
    return nullptr;
}
