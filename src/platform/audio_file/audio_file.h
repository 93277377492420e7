// The audio file service: compressed audio files (MP3, M4A and what else FFmpeg's
// demuxers read) described and read by whole packets, in the shape of the handheld's
// audio file service, over libavformat.
//
// Open a file, ask its properties (each by size first, then by value), read packets with
// their descriptions, translate between frames and packets, close it. Packet positions
// are indexed lazily: opening a file and asking for its format, duration and tags reads
// only the file's head (and its last 128 bytes for an ID3v1 tag). A file is used on one
// thread only.
//
// Linear PCM streams (a WAV file named .mp3, PCM in a QuickTime file) are constant-size:
// one packet is one sample frame. Everything else is variable: one packet is one codec
// frame, and reads return a description per packet.
#pragma once

#include <cstdint>

#include "platform/audio_types.h"

typedef struct OpaqueAudioFileID *AudioFileID;
typedef uint32_t AudioFilePropertyID;
typedef uint32_t AudioFileTypeID;   // a container hint; 0 for none
typedef int8_t AudioFilePermissions;
enum : AudioFilePermissions { kAudioFileReadPermission = 1 };

enum : AudioFilePropertyID {
    // AudioStreamBasicDescription (40 bytes).
    kAudioFilePropertyDataFormat = LMFourCC("dfmt"),
    // uint32_t: no packet of the stream is larger (a theoretical bound where the codec
    // has one; else the largest packet in the file).
    kAudioFilePropertyPacketSizeUpperBound = LMFourCC("pkub"),
    // uint32_t: the largest packet, or the upper bound while the file is not indexed.
    kAudioFilePropertyMaximumPacketSize = LMFourCC("psze"),
    // double, seconds; unknown-property status when the container states no length.
    kAudioFilePropertyEstimatedDuration = LMFourCC("edur"),
    // The raw ID3 tag read from the file: the ID3v2 tag at its start, else the 128-byte
    // ID3v1 tag at its end; size 0 when there is none.
    kAudioFilePropertyID3Tag = LMFourCC("id3t"),
    // AudioFileInfoDictionary * (the size of a pointer): a new dictionary the caller
    // releases with AudioFileInfoDictionaryRelease.
    kAudioFilePropertyInfoDictionary = LMFourCC("info"),
    // The encoded bytes of the picture the container attaches to the audio (an MP4 "covr"
    // atom, an ID3 picture); size 0 when it has none.
    kAudioFilePropertyAlbumArtwork = LMFourCC("aart"),
    // The codec's extra data (AAC: its AudioSpecificConfig); size 0 when it has none.
    kAudioFilePropertyMagicCookieData = LMFourCC("mgic"),
    // AudioFramePacketTranslation, in and out: mFrame -> mPacket, mFrameOffsetInPacket.
    kAudioFilePropertyFrameToPacket = LMFourCC("frpk"),
    // AudioFramePacketTranslation, in and out: mPacket -> mFrame.
    kAudioFilePropertyPacketToFrame = LMFourCC("pkfr"),
    // uint64_t: packets in the stream (indexes the whole file).
    kAudioFilePropertyAudioDataPacketCount = LMFourCC("pcnt"),
    // AudioFilePacketTableInfo: encoder priming and padding (indexes the whole file).
    kAudioFilePropertyPacketTableInfo = LMFourCC("pnfo"),
};

struct AudioFramePacketTranslation {
    int64_t mFrame;
    int64_t mPacket;
    uint32_t mFrameOffsetInPacket;
};

// Frames a decoder yields that are not part of the recording: the encoder's priming
// (plus the decoder's own delay) before, and the padding of the last packet after.
struct AudioFilePacketTableInfo {
    int64_t mNumberValidFrames;
    int32_t mPrimingFrames;
    int32_t mRemainderFrames;
};

// Opens `path` (a file-system path, UTF-8 or any bytes) for reading. Status noErr and a
// file, or a failure status: unreadable file, unknown container, or a codec that the
// packet decoder cannot decode (kAudioLayerFormatUnsupported).
OSStatus AudioFileOpenPath(const char *path, AudioFilePermissions permissions, AudioFileTypeID hint,
                           AudioFileID *outFile);
OSStatus AudioFileClose(AudioFileID file);

// Size of a property's value; writable is optional (always 0: nothing is writable).
OSStatus AudioFileGetPropertyInfo(AudioFileID file, AudioFilePropertyID property, uint32_t *outSize,
                                  uint32_t *writable);
// *ioSize: the room in `data`, then the bytes written. Fixed-size values need exactly
// their size (kAudioLayerBadPropertySize otherwise); the ID3 tag, the artwork and the
// magic cookie are cut to the room given.
OSStatus AudioFileGetProperty(AudioFileID file, AudioFilePropertyID property, uint32_t *ioSize, void *data);

// Reads up to *ioNumPackets whole packets from `startPacket` into `buffer`, never more
// than *ioNumBytes bytes. Out: the packets and bytes delivered (0 packets at the end of
// the stream, status noErr), and for variable packets one description each in
// `descriptions` (room for *ioNumPackets; may be null for constant-size packets).
// kAudioLayerParamError when not even the first packet fits in *ioNumBytes.
OSStatus AudioFileReadPacketData(AudioFileID file, bool useCache, uint32_t *ioNumBytes,
                                 AudioStreamPacketDescription *descriptions, int64_t startPacket,
                                 uint32_t *ioNumPackets, void *buffer);

// The info dictionary: UTF-8 texts under the keys "artist", "title", "album",
// "comments", "genre", "track number", "year" (those the file has).
struct AudioFileInfoDictionary;
// Null when absent.
const char *AudioFileInfoDictionaryGetValue(const AudioFileInfoDictionary *dictionary, const char *key);
// Null-safe.
void AudioFileInfoDictionaryRelease(AudioFileInfoDictionary *dictionary);
