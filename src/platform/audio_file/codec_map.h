// The stream descriptions of the formats the audio file service reads and the packet
// decoder decodes, and FFmpeg's codecs behind them. One table, so that the two never
// disagree about what can be played.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavcodec/codec_par.h>
}

#include "platform/audio_types.h"

// Fills *format for a stream FFmpeg describes; false when the codec is not one we decode.
// mFramesPerPacket is the codec's constant frame count per packet, 0 when it varies.
bool LMFormatForCodec(const AVCodecParameters *par, AudioStreamBasicDescription *format);

// The FFmpeg codec for a stream description; AV_CODEC_ID_NONE when there is none.
AVCodecID LMCodecForFormat(const AudioStreamBasicDescription *format);

// The theoretical largest packet of a format, or 0 when the codec states none.
uint32_t LMPacketSizeBound(const AudioStreamBasicDescription *format);
