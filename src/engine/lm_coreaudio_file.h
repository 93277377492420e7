// MP3 and M4A through the audio file service in platform/audio_file. No PCM read: the
// output engine takes whole compressed packets with LMCoreAudioFileReadPackets and decodes
// them in the output queue.
#pragma once

#include <cstdint>

#include "engine/lm_file.h"
#include "platform/audio_types.h"

// Null, after a "*FAILED* check" line, when the file is refused.
LMFile *LMCoreAudioFileOpen(const char *path);

// Reads as many whole packets as fit into capacity bytes from the current packet.
// Returns the bytes delivered (0 at the end or on error), the packet count, and for
// variable-size packets a malloc'ed array of one description per packet (else null),
// which the caller frees once the buffer is enqueued.
int LMCoreAudioFileReadPackets(LMFile *file, void *buffer, uint32_t capacity,
                               AudioStreamPacketDescription **descriptions,
                               uint32_t *packet_count);

// LMCoreAudioFileReadPackets, telling also which of the frames that the packets read
// decode to lie outside the recording: *trim_start at their start (the encoder's priming)
// and *trim_end at their end (the padding). Both 0 when the file's packet table is not
// known. *kept_frames (may be null) is what is left to hear of them (0 when packets
// vary in length and the packet table is not known).
// The first call asks for the packet table (see LMCoreAudioFilePacketTable).
int LMCoreAudioFileReadTrimmedPackets(LMFile *file, void *buffer, uint32_t capacity,
                                      AudioStreamPacketDescription **descriptions, uint32_t *packet_count,
                                      uint32_t *trim_start, uint32_t *trim_end, uint32_t *kept_frames);

// Whether `next` can follow `file` in one output queue, decoded as one stream: both read
// through this reader, with equal stream descriptions and magic cookies.
bool LMCoreAudioFilesJoin(const LMFile *file, const LMFile *next);

// The file's stream description and magic cookie, for building an output queue in the
// file's own format. The cookie is malloc'ed (caller frees); null with size 0 when none.
const AudioStreamBasicDescription *LMCoreAudioFileFormat(LMFile *file);
void *LMCoreAudioFileCopyMagicCookie(LMFile *file, uint32_t *size);

// Frames that decoding the stream yields beyond the recording: the encoder's priming
// before the first valid frame, and the padding after the last. Asks for the whole
// packet index (the file is walked once if its container does not list its packets).
// 1 when known, else 0 with both 0. Trim them to play files back to back without a gap.
int LMCoreAudioFilePacketTable(LMFile *file, int64_t *priming, int64_t *remainder);
