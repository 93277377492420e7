#include "platform/audio_file/codec_map.h"

#include <cstring>

namespace {

struct PcmCodec {
    AVCodecID codec;
    uint32_t bits;
    bool bigEndian;
    bool isSigned;
};

const PcmCodec kPcmCodecs[] = {
    {AV_CODEC_ID_PCM_U8, 8, false, false},     {AV_CODEC_ID_PCM_S16LE, 16, false, true},
    {AV_CODEC_ID_PCM_S16BE, 16, true, true},   {AV_CODEC_ID_PCM_S24LE, 24, false, true},
    {AV_CODEC_ID_PCM_S24BE, 24, true, true},   {AV_CODEC_ID_PCM_S32LE, 32, false, true},
    {AV_CODEC_ID_PCM_S32BE, 32, true, true},
};

// Largest MPEG audio frames: layer III 1441 bytes (320 kbit/s at 32 kHz, or 160 kbit/s
// at 8 kHz), layers I and II below 2881.
constexpr uint32_t kMaxLayer3Packet = 1441;
constexpr uint32_t kMaxLayer12Packet = 2881;
// AAC spends at most 6144 bits per channel on one frame; an ADTS header adds up to 9.
constexpr uint32_t kMaxAacPacketPerChannel = 768;
constexpr uint32_t kAdtsHeader = 16;

uint32_t be32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The rate a lossless codec's own configuration states, 0 when it states none. A QuickTime
// sample entry keeps the rate in 16 bits, so above 65535 Hz only the configuration is
// right: an ALAC cookie (24 bytes, or 36 with its atom header in front) or a FLAC
// STREAMINFO block (34 bytes, or 42 behind "fLaC" and a block header).
uint32_t configuredRate(const AVCodecParameters *par)
{
    const uint8_t *x = par->extradata;
    const int n = x != nullptr ? par->extradata_size : 0;
    if (par->codec_id == AV_CODEC_ID_ALAC) {
        const int at = n >= 36 && memcmp(x + 4, "alac", 4) == 0 ? 12 : 0;
        return n >= at + 24 ? be32(x + at + 20) : 0;
    }
    if (par->codec_id == AV_CODEC_ID_FLAC) {
        const int at = n >= 42 && memcmp(x, "fLaC", 4) == 0 ? 8 : 0;
        return n >= at + 34 ? uint32_t(x[at + 10]) << 12 | uint32_t(x[at + 11]) << 4 | x[at + 12] >> 4 : 0;
    }
    return 0;
}

} // namespace

bool LMFormatForCodec(const AVCodecParameters *par, AudioStreamBasicDescription *f)
{
    *f = AudioStreamBasicDescription{};
    const int channels = par->ch_layout.nb_channels;
    const uint32_t configured = configuredRate(par);
    const double rate = configured > 0 ? double(configured) : double(par->sample_rate);
    if (!(rate > 0) || channels <= 0)
        return false;
    f->mSampleRate = rate;
    f->mChannelsPerFrame = uint32_t(channels);
    for (const PcmCodec &pcm : kPcmCodecs) {
        if (pcm.codec != par->codec_id)
            continue;
        f->mFormatID = kAudioFormatLinearPCM;
        f->mFormatFlags = kAudioFormatFlagIsPacked | (pcm.isSigned ? uint32_t(kAudioFormatFlagIsSignedInteger) : 0u) |
                          (pcm.bigEndian ? uint32_t(kAudioFormatFlagIsBigEndian) : 0u);
        f->mBitsPerChannel = pcm.bits;
        f->mBytesPerFrame = pcm.bits / 8 * f->mChannelsPerFrame;
        f->mBytesPerPacket = f->mBytesPerFrame;
        f->mFramesPerPacket = 1;
        return true;
    }
    switch (par->codec_id) {
    case AV_CODEC_ID_MP3:
        f->mFormatID = kAudioFormatMPEGLayer3;
        // MPEG-2 and 2.5 (rates below 32 kHz) carry half the samples per frame.
        f->mFramesPerPacket = par->sample_rate >= 32000 ? 1152 : 576;
        return true;
    case AV_CODEC_ID_MP2:
        f->mFormatID = kAudioFormatMPEGLayer2;
        f->mFramesPerPacket = 1152;
        return true;
    case AV_CODEC_ID_MP1:
        f->mFormatID = kAudioFormatMPEGLayer1;
        f->mFramesPerPacket = 384;
        return true;
    case AV_CODEC_ID_AAC:
        f->mFormatID = kAudioFormatMPEG4AAC;
        f->mFormatFlags = par->profile >= 0 ? uint32_t(par->profile + 1) : 2;   // audio object type
        f->mFramesPerPacket = par->frame_size > 0 ? uint32_t(par->frame_size) : 1024;
        return true;
    case AV_CODEC_ID_ALAC:
        f->mFormatID = kAudioFormatAppleLossless;
        f->mBitsPerChannel = 0;
        return true;
    case AV_CODEC_ID_FLAC:
        f->mFormatID = kAudioFormatFLAC;
        return true;
    default:
        return false;
    }
}

AVCodecID LMCodecForFormat(const AudioStreamBasicDescription *f)
{
    switch (f->mFormatID) {
    case kAudioFormatMPEGLayer3:
        return AV_CODEC_ID_MP3;
    case kAudioFormatMPEGLayer2:
        return AV_CODEC_ID_MP2;
    case kAudioFormatMPEGLayer1:
        return AV_CODEC_ID_MP1;
    case kAudioFormatMPEG4AAC:
        return AV_CODEC_ID_AAC;
    case kAudioFormatAppleLossless:
        return AV_CODEC_ID_ALAC;
    case kAudioFormatFLAC:
        return AV_CODEC_ID_FLAC;
    case kAudioFormatLinearPCM:
        if (f->mFormatFlags & kAudioFormatFlagIsFloat)
            return AV_CODEC_ID_NONE;
        for (const PcmCodec &pcm : kPcmCodecs) {
            if (pcm.bits == f->mBitsPerChannel && pcm.isSigned == bool(f->mFormatFlags & kAudioFormatFlagIsSignedInteger) &&
                (pcm.bits == 8 || pcm.bigEndian == bool(f->mFormatFlags & kAudioFormatFlagIsBigEndian)))
                return pcm.codec;
        }
        return AV_CODEC_ID_NONE;
    default:
        return AV_CODEC_ID_NONE;
    }
}

uint32_t LMPacketSizeBound(const AudioStreamBasicDescription *f)
{
    switch (f->mFormatID) {
    case kAudioFormatLinearPCM:
        return f->mBytesPerPacket;
    case kAudioFormatMPEGLayer3:
        return kMaxLayer3Packet;
    case kAudioFormatMPEGLayer2:
    case kAudioFormatMPEGLayer1:
        return kMaxLayer12Packet;
    case kAudioFormatMPEG4AAC:
        return kMaxAacPacketPerChannel * f->mChannelsPerFrame + kAdtsHeader;
    default:
        return 0;
    }
}
