// FFmpeg, loaded on first use. Its libraries pull in some hundred codec libraries whose
// loading costs a process tens of milliseconds at every start, though most runs never
// decode an MP3 or M4A file (a rescan that finds nothing changed opens no file at all).
// So the FFmpeg functions Lumenar calls are defined here, each forwarding to the real one,
// which is looked up in its library the first time it is called.
//
// A new FFmpeg function needs its line below (the linker names any that is missing).
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <dlfcn.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/macros.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace {

enum Library { Util, Codec, Format, Resample, LibraryCount };

const char *const kNames[LibraryCount] = {
    "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
    "libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR),
};

// The libraries are part of the installation: one that cannot be loaded is a broken
// installation, reported once before the process ends.
void *symbol(Library library, const char *name)
{
    static std::once_flag once[LibraryCount];
    static void *handles[LibraryCount];
    std::call_once(once[library], [library] { handles[library] = dlopen(kNames[library], RTLD_NOW | RTLD_LOCAL); });
    void *found = handles[library] != nullptr ? dlsym(handles[library], name) : nullptr;
    if (found == nullptr) {
        fprintf(stderr, "*FAILED* check: %s:%d: cannot load %s from %s: %s\n", __FILE__, __LINE__, name,
                kNames[library], dlerror());
        abort();
    }
    return found;
}

} // namespace

#define LM_FORWARD(library, type, name, params, args)                                              \
    extern "C" type name params                                                                    \
    {                                                                                              \
        static const auto real = reinterpret_cast<decltype(&name)>(symbol(library, #name));        \
        return real args;                                                                          \
    }

LM_FORWARD(Util, void, av_channel_layout_default, (AVChannelLayout * l, int n), (l, n))
LM_FORWARD(Util, void, av_dict_free, (AVDictionary * *m), (m))
LM_FORWARD(Util, AVDictionaryEntry *, av_dict_get,
           (const AVDictionary *m, const char *key, const AVDictionaryEntry *prev, int flags), (m, key, prev, flags))
LM_FORWARD(Util, int, av_dict_set_int, (AVDictionary * *m, const char *key, int64_t value, int flags),
           (m, key, value, flags))
LM_FORWARD(Util, AVFrame *, av_frame_alloc, (void), ())
LM_FORWARD(Util, void, av_frame_free, (AVFrame * *frame), (frame))
LM_FORWARD(Util, void, av_frame_unref, (AVFrame * frame), (frame))
LM_FORWARD(Util, int, av_get_bytes_per_sample, (enum AVSampleFormat f), (f))
LM_FORWARD(Util, enum AVSampleFormat, av_get_packed_sample_fmt, (enum AVSampleFormat f), (f))
LM_FORWARD(Util, void, av_log_set_level, (int level), (level))
LM_FORWARD(Util, void *, av_mallocz, (size_t size), (size))
LM_FORWARD(Util, int64_t, av_rescale_q, (int64_t a, AVRational bq, AVRational cq), (a, bq, cq))
LM_FORWARD(Util, int, av_sample_fmt_is_planar, (enum AVSampleFormat f), (f))

LM_FORWARD(Codec, AVPacket *, av_packet_alloc, (void), ())
LM_FORWARD(Codec, void, av_packet_free, (AVPacket * *packet), (packet))
LM_FORWARD(Codec, uint8_t *, av_packet_get_side_data,
           (const AVPacket *packet, enum AVPacketSideDataType type, size_t *size), (packet, type, size))
LM_FORWARD(Codec, void, av_packet_unref, (AVPacket * packet), (packet))
LM_FORWARD(Codec, AVCodecContext *, avcodec_alloc_context3, (const AVCodec *codec), (codec))
LM_FORWARD(Codec, const AVCodec *, avcodec_find_decoder, (enum AVCodecID id), (id))
LM_FORWARD(Codec, void, avcodec_flush_buffers, (AVCodecContext * context), (context))
LM_FORWARD(Codec, void, avcodec_free_context, (AVCodecContext * *context), (context))
LM_FORWARD(Codec, int, avcodec_open2, (AVCodecContext * context, const AVCodec *codec, AVDictionary **options),
           (context, codec, options))
LM_FORWARD(Codec, int, avcodec_parameters_to_context, (AVCodecContext * context, const AVCodecParameters *p),
           (context, p))
LM_FORWARD(Codec, int, avcodec_receive_frame, (AVCodecContext * context, AVFrame *frame), (context, frame))
LM_FORWARD(Codec, int, avcodec_send_packet, (AVCodecContext * context, const AVPacket *packet), (context, packet))

LM_FORWARD(Format, int, av_find_best_stream,
           (AVFormatContext * ic, enum AVMediaType type, int wanted, int related, const AVCodec **decoder, int flags),
           (ic, type, wanted, related, decoder, flags))
LM_FORWARD(Format, const AVInputFormat *, av_find_input_format, (const char *name), (name))
LM_FORWARD(Format, int, av_read_frame, (AVFormatContext * s, AVPacket *packet), (s, packet))
LM_FORWARD(Format, int, av_seek_frame, (AVFormatContext * s, int stream, int64_t timestamp, int flags),
           (s, stream, timestamp, flags))
LM_FORWARD(Format, void, avformat_close_input, (AVFormatContext * *s), (s))
LM_FORWARD(Format, int, avformat_find_stream_info, (AVFormatContext * ic, AVDictionary **options), (ic, options))
LM_FORWARD(Format, int, avformat_index_get_entries_count, (const AVStream *st), (st))
LM_FORWARD(Format, const AVIndexEntry *, avformat_index_get_entry, (AVStream * st, int index), (st, index))
LM_FORWARD(Format, int, avformat_open_input,
           (AVFormatContext * *ps, const char *url, const AVInputFormat *fmt, AVDictionary **options),
           (ps, url, fmt, options))

LM_FORWARD(Resample, int, swr_alloc_set_opts2,
           (struct SwrContext * *ps, AVChannelLayout *outLayout, enum AVSampleFormat outFormat, int outRate,
            AVChannelLayout *inLayout, enum AVSampleFormat inFormat, int inRate, int logOffset, void *logContext),
           (ps, outLayout, outFormat, outRate, inLayout, inFormat, inRate, logOffset, logContext))
LM_FORWARD(Resample, int, swr_convert,
           (struct SwrContext * s, uint8_t **out, int outCount, const uint8_t **in, int inCount),
           (s, out, outCount, in, inCount))
LM_FORWARD(Resample, void, swr_free, (struct SwrContext * *s), (s))
LM_FORWARD(Resample, int, swr_get_out_samples, (struct SwrContext * s, int inSamples), (s, inSamples))
LM_FORWARD(Resample, int, swr_init, (struct SwrContext * s), (s))
