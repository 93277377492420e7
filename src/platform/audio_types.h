// Stream and packet descriptions shared by the audio file service (audio_file) and the
// output queue (audio_queue). Shaped like the handheld's audio toolbox records, so that the
// engine's calls read as they do on the device.
#pragma once

#include <cstdint>

typedef int32_t OSStatus;
enum : OSStatus {
    noErr = 0,
    kAudioLayerUnspecifiedError = -1,   // a failure with no closer code
    kAudioLayerParamError = -50,        // a bad argument from the caller
    kAudioLayerFormatUnsupported = 1718449215, // 'fmt?'
    kAudioLayerBadPropertySize = 561211770,    // '!siz'
    kAudioLayerUnknownProperty = 2003332927,   // 'who?'
    kAudioLayerEndOfFile = -39,
};

constexpr uint32_t LMFourCC(const char (&s)[5])
{
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

enum : uint32_t {
    kAudioFormatLinearPCM = LMFourCC("lpcm"),
    kAudioFormatMPEGLayer1 = LMFourCC(".mp1"),
    kAudioFormatMPEGLayer2 = LMFourCC(".mp2"),
    kAudioFormatMPEGLayer3 = LMFourCC(".mp3"),
    kAudioFormatMPEG4AAC = LMFourCC("aac "),
    kAudioFormatAppleLossless = LMFourCC("alac"),
    kAudioFormatFLAC = LMFourCC("flac"),
    kAudioFormatOpus = LMFourCC("opus"),
};

// Linear PCM flags.
enum : uint32_t {
    kAudioFormatFlagIsFloat = 1u << 0,
    kAudioFormatFlagIsBigEndian = 1u << 1,
    kAudioFormatFlagIsSignedInteger = 1u << 2,
    kAudioFormatFlagIsPacked = 1u << 3,
};

// 40 bytes, as the device's service returns it.
struct AudioStreamBasicDescription {
    double mSampleRate;
    uint32_t mFormatID;
    uint32_t mFormatFlags;
    uint32_t mBytesPerPacket;
    uint32_t mFramesPerPacket;
    uint32_t mBytesPerFrame;
    uint32_t mChannelsPerFrame;
    uint32_t mBitsPerChannel;
    uint32_t mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

// 16 bytes: where one packet starts in a buffer, its frames when variable, its size.
struct AudioStreamPacketDescription {
    int64_t mStartOffset;
    uint32_t mVariableFramesInPacket;
    uint32_t mDataByteSize;
};
static_assert(sizeof(AudioStreamPacketDescription) == 16);
