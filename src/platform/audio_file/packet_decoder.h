// Decodes compressed packets (MP3, AAC, ALAC, ...) into interleaved PCM with libavcodec,
// from the stream description and magic cookie that the audio file service reports.
// The output queue plays what it yields, and `lumenar-cli decode` writes the same bytes.
// Not thread-safe; one decoder per stream.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/audio_types.h"

struct LMPacketDecoder;

// Null when no decoder exists for the format or it cannot be opened. On success *pcm
// describes the PCM produced: signed 16-bit little-endian interleaved for lossy formats
// (MP3, AAC), the stream's own integer width for lossless ones.
LMPacketDecoder *LMPacketDecoderNew(const AudioStreamBasicDescription *format, const void *cookie,
                                    uint32_t cookieSize, AudioStreamBasicDescription *pcm);

// Decodes `count` packets laid out in `data` as `descriptions` say (null descriptions:
// constant-size packets of format->mBytesPerPacket each) and appends the PCM to *out.
// Returns the bytes appended, or -1 when the decoder failed (the stream is unusable).
int LMPacketDecoderDecode(LMPacketDecoder *decoder, const void *data, uint32_t size,
                          const AudioStreamPacketDescription *descriptions, uint32_t count,
                          std::vector<uint8_t> *out);

// Forgets buffered state, after a seek or a flush. Null-safe.
void LMPacketDecoderReset(LMPacketDecoder *decoder);

// Starts afresh for another stream of the same format, decoding it exactly as a new
// decoder would (a reset keeps some codec state, AAC's noise generator among it). False
// when the codec cannot be opened again: the decoder is then unusable. Null-safe.
bool LMPacketDecoderRestart(LMPacketDecoder *decoder);

// Null-safe.
void LMPacketDecoderFree(LMPacketDecoder *decoder);
