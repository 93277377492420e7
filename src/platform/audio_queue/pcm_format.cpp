// PCM layouts the devices take, sample conversion to their common convention, and the
// names of the outputs.
#include <algorithm>
#include <cstring>

#include "platform/audio_queue/audio_device.h"

namespace lmaudio {

bool PcmFormatFromDescription(const AudioStreamBasicDescription &asbd, PcmFormat *pcm)
{
    if (asbd.mFormatID != kAudioFormatLinearPCM)
        return false;
    if (!(asbd.mSampleRate >= 1 && asbd.mSampleRate <= 768000))
        return false;
    if (asbd.mChannelsPerFrame < 1 || asbd.mChannelsPerFrame > 32)
        return false;
    if (asbd.mFramesPerPacket != 1 || asbd.mBytesPerPacket != asbd.mBytesPerFrame)
        return false;
    if (asbd.mBytesPerFrame % asbd.mChannelsPerFrame != 0)
        return false;
    PcmFormat f;
    f.rate = uint32_t(asbd.mSampleRate);
    if (double(f.rate) != asbd.mSampleRate)
        return false;
    f.channels = asbd.mChannelsPerFrame;
    f.bits = asbd.mBitsPerChannel;
    f.bytesPerSample = asbd.mBytesPerFrame / asbd.mChannelsPerFrame;
    f.isFloat = (asbd.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
    f.isSigned = f.isFloat || (asbd.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0;
    f.bigEndian = (asbd.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0;
    if (f.isFloat) {
        if (f.bits != 32 || f.bytesPerSample != 4)
            return false;
    } else {
        const bool exact = f.bits == 8 * f.bytesPerSample && f.bits >= 8 && f.bits <= 32;
        const bool padded24 = f.bits == 24 && f.bytesPerSample == 4;
        if (!exact && !padded24)
            return false;
    }
    *pcm = f;
    return true;
}

PcmFormat NormalizePcm(uint8_t *data, size_t size, const PcmFormat &format, bool toLittleEndian)
{
    PcmFormat out = format;
    const uint32_t w = format.bytesPerSample;
    if (w == 0)
        return out;
    size -= size % w;
    const bool flipSign = !format.isFloat && (w == 1 ? format.isSigned : !format.isSigned);
    const bool swap = toLittleEndian && format.bigEndian && w > 1;
    if (flipSign) {
        // The sign bit is in the most significant byte.
        const size_t msb = (w == 1 || format.bigEndian) ? 0 : w - 1;
        for (size_t i = msb; i < size; i += w)
            data[i] ^= 0x80;
        out.isSigned = w > 1;
    }
    if (swap) {
        for (size_t i = 0; i < size; i += w)
            std::reverse(data + i, data + i + w);
        out.bigEndian = false;
    }
    return out;
}

bool ParseOutputSpec(const char *text, OutputSpec *spec)
{
    if (text == nullptr)
        return false;
    OutputSpec s;
    s.named = true;
    if (strcmp(text, "pulse") == 0) {
        s.kind = OutputKind::Pulse;
    } else if (strcmp(text, "null") == 0) {
        s.kind = OutputKind::Null;
    } else if (strncmp(text, "wav:", 4) == 0 && text[4] != '\0') {
        s.kind = OutputKind::Wav;
        s.path = text + 4;
    } else if (strncmp(text, "wav-fast:", 9) == 0 && text[9] != '\0') {
        s.kind = OutputKind::WavFast;
        s.path = text + 9;
    } else {
        return false;
    }
    *spec = s;
    return true;
}

} // namespace lmaudio
