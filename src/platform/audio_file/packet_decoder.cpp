#include "platform/audio_file/packet_decoder.h"

#include <cerrno>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/audio_file/codec_map.h"
#include "platform/audio_file/ffmpeg_support.h"

namespace {

enum class Mode {
    Copy,       // linear PCM: to little-endian, width unchanged
    Lossy,      // resampled and converted to signed 16-bit
    Lossless,   // integers packed at the stream's own width
};

} // namespace

struct LMPacketDecoder {
    Mode mode = Mode::Copy;
    AudioStreamBasicDescription in{};
    AudioStreamBasicDescription out{};
    AVCodecContext *codec = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    SwrContext *swr = nullptr;
    std::vector<uint8_t> scratch;   // one packet, padded as the decoders require
    std::vector<uint8_t> cookie;    // kept to open the codec again

    ~LMPacketDecoder() { close(); }

    void close()
    {
        swr_free(&swr);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
    }
    bool open();
    bool appendCopy(const uint8_t *data, uint32_t size, std::vector<uint8_t> *pcm) const;
    int appendFrame(std::vector<uint8_t> *pcm);
    int decodePacket(const uint8_t *data, uint32_t size, std::vector<uint8_t> *pcm);
};

namespace {

AudioStreamBasicDescription packedPcm(double rate, uint32_t channels, uint32_t bits, bool isSigned)
{
    AudioStreamBasicDescription f{};
    f.mSampleRate = rate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = kAudioFormatFlagIsPacked | (isSigned ? uint32_t(kAudioFormatFlagIsSignedInteger) : 0u);
    f.mBitsPerChannel = bits;
    f.mChannelsPerFrame = channels;
    f.mBytesPerFrame = bits / 8 * channels;
    f.mBytesPerPacket = f.mBytesPerFrame;
    f.mFramesPerPacket = 1;
    return f;
}

bool isLossy(AVCodecID id)
{
    return id == AV_CODEC_ID_MP3 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_AAC;
}

} // namespace

bool LMPacketDecoder::open()
{
    const AVCodecID id = LMCodecForFormat(&in);
    if (id == AV_CODEC_ID_NONE || !(in.mSampleRate >= 1) || in.mChannelsPerFrame == 0)
        return false;
    if (in.mFormatID == kAudioFormatLinearPCM) {
        mode = Mode::Copy;
        out = packedPcm(in.mSampleRate, in.mChannelsPerFrame, in.mBitsPerChannel, in.mBitsPerChannel != 8);
        return in.mBytesPerFrame == out.mBytesPerFrame && in.mBytesPerFrame > 0;
    }
    LMFFmpegQuiet();
    const AVCodec *decoder = avcodec_find_decoder(id);
    if (decoder == nullptr || (codec = avcodec_alloc_context3(decoder)) == nullptr)
        return false;
    codec->sample_rate = int(in.mSampleRate);
    av_channel_layout_default(&codec->ch_layout, int(in.mChannelsPerFrame));
    if (!cookie.empty()) {
        codec->extradata = static_cast<uint8_t *>(av_mallocz(cookie.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (codec->extradata == nullptr)
            return false;
        memcpy(codec->extradata, cookie.data(), cookie.size());
        codec->extradata_size = int(cookie.size());
    }
    if (avcodec_open2(codec, decoder, nullptr) < 0)
        return false;
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (packet == nullptr || frame == nullptr)
        return false;
    if (isLossy(id)) {
        mode = Mode::Lossy;
        out = packedPcm(in.mSampleRate, in.mChannelsPerFrame, 16, true);
    } else {
        mode = Mode::Lossless;
        const int bits = codec->bits_per_raw_sample;
        out = packedPcm(in.mSampleRate, in.mChannelsPerFrame, bits > 24 ? 32 : bits > 16 ? 24 : 16, true);
    }
    return true;
}

bool LMPacketDecoder::appendCopy(const uint8_t *data, uint32_t size, std::vector<uint8_t> *pcm) const
{
    const uint32_t width = in.mBitsPerChannel / 8;
    size -= size % in.mBytesPerFrame;
    const size_t at = pcm->size();
    pcm->insert(pcm->end(), data, data + size);
    if ((in.mFormatFlags & kAudioFormatFlagIsBigEndian) && width > 1) {
        uint8_t *p = pcm->data() + at;
        for (uint32_t i = 0; i < size; i += width)
            for (uint32_t a = 0, b = width - 1; a < b; a++, b--)
                std::swap(p[i + a], p[i + b]);
    }
    return true;
}

// Appends one decoded frame; returns the bytes appended, or -1 when conversion failed.
int LMPacketDecoder::appendFrame(std::vector<uint8_t> *pcm)
{
    const int channels = frame->ch_layout.nb_channels;
    if (channels != int(out.mChannelsPerFrame) || frame->nb_samples <= 0)
        return 0;   // a frame that contradicts the stream description is dropped
    const size_t at = pcm->size();
    if (mode == Mode::Lossy) {
        if (swr == nullptr) {
            AVChannelLayout layout;
            av_channel_layout_default(&layout, channels);
            if (swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_S16, int(out.mSampleRate), &frame->ch_layout,
                                    AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
                swr_init(swr) < 0) {
                swr_free(&swr);
                return -1;
            }
        }
        const int room = swr_get_out_samples(swr, frame->nb_samples);
        if (room < 0)
            return -1;
        pcm->resize(at + size_t(room) * out.mBytesPerFrame);
        uint8_t *dst = pcm->data() + at;
        const int made = swr_convert(swr, &dst, room, const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
        if (made < 0) {
            pcm->resize(at);
            return -1;
        }
        pcm->resize(at + size_t(made) * out.mBytesPerFrame);
        return int(pcm->size() - at);
    }
    const AVSampleFormat fmt = AVSampleFormat(frame->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
    if (packed != AV_SAMPLE_FMT_S16 && packed != AV_SAMPLE_FMT_S32)
        return -1;
    const bool planar = av_sample_fmt_is_planar(fmt);
    const int inBytes = av_get_bytes_per_sample(fmt);
    const uint32_t width = out.mBitsPerChannel / 8;
    pcm->resize(at + size_t(frame->nb_samples) * out.mBytesPerFrame);
    uint8_t *dst = pcm->data() + at;
    for (int i = 0; i < frame->nb_samples; i++) {
        for (int ch = 0; ch < channels; ch++) {
            const uint8_t *src = planar ? frame->extended_data[ch] + size_t(i) * inBytes
                                        : frame->extended_data[0] + (size_t(i) * channels + ch) * inBytes;
            // 32-bit decoder output holds narrower samples in its upper bits.
            uint32_t v;
            if (inBytes == 2) {
                int16_t s;
                memcpy(&s, src, 2);
                v = uint32_t(int32_t(s)) << 16;
            } else {
                int32_t s;
                memcpy(&s, src, 4);
                v = uint32_t(s);
            }
            v >>= 32 - 8 * width;
            for (uint32_t b = 0; b < width; b++)
                *dst++ = uint8_t(v >> (8 * b));
        }
    }
    return int(pcm->size() - at);
}

int LMPacketDecoder::decodePacket(const uint8_t *data, uint32_t size, std::vector<uint8_t> *pcm)
{
    scratch.resize(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE);
    memcpy(scratch.data(), data, size);
    memset(scratch.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    packet->data = scratch.data();
    packet->size = int(size);
    int r = avcodec_send_packet(codec, packet);
    packet->data = nullptr;
    packet->size = 0;
    if (r == AVERROR(ENOMEM))
        return -1;
    // Any other refusal is a corrupt packet: skipped, as a player would.
    int made = 0;
    while ((r = avcodec_receive_frame(codec, frame)) == 0) {
        int n = appendFrame(pcm);
        av_frame_unref(frame);
        if (n < 0)
            return -1;
        made += n;
    }
    if (r == AVERROR(ENOMEM))
        return -1;
    return made;
}

LMPacketDecoder *LMPacketDecoderNew(const AudioStreamBasicDescription *format, const void *cookie,
                                    uint32_t cookieSize, AudioStreamBasicDescription *pcm)
{
    if (format == nullptr)
        return nullptr;
    auto *decoder = new (std::nothrow) LMPacketDecoder;
    if (decoder == nullptr)
        return nullptr;
    decoder->in = *format;
    if (cookie != nullptr && cookieSize > 0) {
        const uint8_t *bytes = static_cast<const uint8_t *>(cookie);
        decoder->cookie.assign(bytes, bytes + cookieSize);
    }
    if (!decoder->open()) {
        delete decoder;
        return nullptr;
    }
    if (pcm != nullptr)
        *pcm = decoder->out;
    return decoder;
}

int LMPacketDecoderDecode(LMPacketDecoder *decoder, const void *data, uint32_t size,
                          const AudioStreamPacketDescription *descriptions, uint32_t count, std::vector<uint8_t> *out)
{
    if (decoder == nullptr || out == nullptr || (data == nullptr && size > 0))
        return -1;
    const auto *bytes = static_cast<const uint8_t *>(data);
    const uint32_t constant = decoder->in.mBytesPerPacket;
    if (descriptions == nullptr && constant == 0)
        return -1;   // variable packets need their descriptions
    int total = 0;
    if (descriptions == nullptr && decoder->mode == Mode::Copy) {
        // Constant-size packets lie back to back: one copy.
        const uint64_t span = uint64_t(count) * constant;
        const size_t before = out->size();
        decoder->appendCopy(bytes, uint32_t(span < size ? span : size), out);
        return int(out->size() - before);
    }
    for (uint32_t i = 0; i < count; i++) {
        const int64_t start = descriptions != nullptr ? descriptions[i].mStartOffset : int64_t(i) * constant;
        const uint32_t length = descriptions != nullptr ? descriptions[i].mDataByteSize : constant;
        // A description pointing outside the buffer is skipped, never followed.
        if (start < 0 || length == 0 || uint64_t(start) + length > size)
            continue;
        int made;
        if (decoder->mode == Mode::Copy) {
            const size_t before = out->size();
            decoder->appendCopy(bytes + start, length, out);
            made = int(out->size() - before);
        } else {
            made = decoder->decodePacket(bytes + start, length, out);
        }
        if (made < 0)
            return -1;
        total += made;
    }
    return total;
}

void LMPacketDecoderReset(LMPacketDecoder *decoder)
{
    if (decoder == nullptr)
        return;
    if (decoder->codec != nullptr)
        avcodec_flush_buffers(decoder->codec);
    swr_free(&decoder->swr);   // drops what the resampler holds; rebuilt on the next frame
}

bool LMPacketDecoderRestart(LMPacketDecoder *decoder)
{
    if (decoder == nullptr)
        return false;
    if (decoder->mode == Mode::Copy)
        return true;
    decoder->close();
    return decoder->open();
}

void LMPacketDecoderFree(LMPacketDecoder *decoder)
{
    delete decoder;
}
