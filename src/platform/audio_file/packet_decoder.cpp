// Placeholder until the decoder lands: no format can be decoded.
#include "platform/audio_file/packet_decoder.h"

LMPacketDecoder *LMPacketDecoderNew(const AudioStreamBasicDescription *, const void *, uint32_t,
                                    AudioStreamBasicDescription *)
{
    return nullptr;
}

int LMPacketDecoderDecode(LMPacketDecoder *, const void *, uint32_t, const AudioStreamPacketDescription *,
                          uint32_t, std::vector<uint8_t> *)
{
    return -1;
}

void LMPacketDecoderReset(LMPacketDecoder *) {}

void LMPacketDecoderFree(LMPacketDecoder *) {}
