#include "platform/maclib/maclib.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <strings.h>
#include <vector>

#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

#include "platform/audio_file/ffmpeg_support.h"
#include "platform/audio_file/id3_block.h"

namespace {

// Old-format header flags that change its layout.
constexpr uint16_t kFlagPeakLevel = 4;
constexpr uint16_t kFlagSeekElements = 16;
// Versions from 3.98 on start with a descriptor that gives the header's parts' lengths.
constexpr uint16_t kDescriptorVersion = 3980;
// Consecutive ID3v2 tags skipped before "MAC " (writers sometimes stack them).
constexpr int kMaxPrefixTags = 16;

uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t *p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

class APEDecompressor final : public IAPEDecompress {
public:
    ~APEDecompressor() override
    {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
    }

    int open(const char *path);
    int GetData(void *buffer, int64_t blocks, int64_t *retrieved) override;
    int Seek(int64_t block) override;
    int64_t GetInfo(APEInfoField field) override;

private:
    int decodeMore();
    int takeFrame();
    int64_t toBlocks(int64_t ts) const { return av_rescale_q(ts, timeBase_, AVRational{1, rate_}); }

    AVFormatContext *format_ = nullptr;
    AVCodecContext *codec_ = nullptr;
    AVPacket *packet_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVRational timeBase_{1, 1};
    int stream_ = -1;
    int rate_ = 0;
    int channels_ = 0;
    int bits_ = 0;
    int blockAlign_ = 0;
    int64_t total_ = 0;            // blocks in the stream
    int64_t position_ = 0;         // next block GetData delivers
    std::vector<uint8_t> pending_; // decoded, not yet delivered
    size_t pendingOffset_ = 0;
    bool seeking_ = false;         // the next packet tells how far to skip
    int64_t skip_ = 0;             // blocks still to drop before the sought one
    bool draining_ = false;
    bool ended_ = false;
};

int APEDecompressor::open(const char *path)
{
    LMFFmpegQuiet();
    const AVInputFormat *ape = av_find_input_format("ape");
    if (ape == nullptr)
        return APE_ERROR_UNSUPPORTED;
    if (avformat_open_input(&format_, path, ape, nullptr) < 0)
        return APE_ERROR_OPENING;
    for (unsigned i = 0; i < format_->nb_streams; i++) {
        if (format_->streams[i]->codecpar->codec_id == AV_CODEC_ID_APE) {
            stream_ = int(i);
            break;
        }
    }
    if (stream_ < 0)
        return APE_ERROR_UNSUPPORTED;
    const AVStream *st = format_->streams[stream_];
    const AVCodecParameters *par = st->codecpar;
    rate_ = par->sample_rate;
    channels_ = par->ch_layout.nb_channels;
    bits_ = par->bits_per_coded_sample;
    if (rate_ <= 0 || channels_ < 1 || channels_ > 2 || (bits_ != 8 && bits_ != 16 && bits_ != 24))
        return APE_ERROR_UNSUPPORTED;
    blockAlign_ = channels_ * bits_ / 8;
    timeBase_ = st->time_base;
    if (st->duration == AV_NOPTS_VALUE || st->duration < 0 || timeBase_.num <= 0 || timeBase_.den <= 0)
        return APE_ERROR_UNSUPPORTED;
    total_ = toBlocks(st->duration);

    const AVCodec *decoder = avcodec_find_decoder(AV_CODEC_ID_APE);
    if (decoder == nullptr || (codec_ = avcodec_alloc_context3(decoder)) == nullptr)
        return APE_ERROR_UNSUPPORTED;
    if (avcodec_parameters_to_context(codec_, par) < 0 || avcodec_open2(codec_, decoder, nullptr) < 0)
        return APE_ERROR_UNSUPPORTED;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (packet_ == nullptr || frame_ == nullptr)
        return APE_ERROR_OPENING;
    return APE_SUCCESS;
}

// Appends the decoded frame to pending_ as interleaved little-endian PCM, dropping what
// lies before a sought block.
int APEDecompressor::takeFrame()
{
    const AVSampleFormat fmt = AVSampleFormat(frame_->format);
    const int bytes = av_get_bytes_per_sample(fmt);
    const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
    const bool matches = (bits_ == 8 && packed == AV_SAMPLE_FMT_U8) || (bits_ == 16 && packed == AV_SAMPLE_FMT_S16) ||
                         (bits_ == 24 && packed == AV_SAMPLE_FMT_S32);
    if (!matches || frame_->ch_layout.nb_channels != channels_)
        return APE_ERROR_DECOMPRESSING;
    const bool planar = av_sample_fmt_is_planar(fmt);
    int first = 0;
    if (skip_ > 0) {
        first = int(std::min<int64_t>(skip_, frame_->nb_samples));
        skip_ -= first;
    }
    const int count = frame_->nb_samples - first;
    if (count <= 0)
        return APE_SUCCESS;
    if (pendingOffset_ == pending_.size()) {
        pending_.clear();
        pendingOffset_ = 0;
    }
    size_t at = pending_.size();
    pending_.resize(at + size_t(count) * blockAlign_);
    uint8_t *out = pending_.data() + at;
    for (int i = first; i < frame_->nb_samples; i++) {
        for (int ch = 0; ch < channels_; ch++) {
            const uint8_t *in = planar ? frame_->extended_data[ch] + size_t(i) * bytes
                                       : frame_->extended_data[0] + (size_t(i) * channels_ + ch) * bytes;
            if (bits_ == 8) {
                *out++ = in[0];
            } else if (bits_ == 16) {
                int16_t v;
                memcpy(&v, in, 2);
                *out++ = uint8_t(v);
                *out++ = uint8_t(uint16_t(v) >> 8);
            } else {
                // The decoder puts 24-bit samples in the upper bits of 32.
                int32_t v;
                memcpy(&v, in, 4);
                uint32_t u = uint32_t(v) >> 8;
                *out++ = uint8_t(u);
                *out++ = uint8_t(u >> 8);
                *out++ = uint8_t(u >> 16);
            }
        }
    }
    return APE_SUCCESS;
}

int APEDecompressor::decodeMore()
{
    for (;;) {
        int r = avcodec_receive_frame(codec_, frame_);
        if (r == 0) {
            int status = takeFrame();
            av_frame_unref(frame_);
            if (status != APE_SUCCESS || pendingOffset_ < pending_.size())
                return status;
            continue;
        }
        if (r == AVERROR_EOF) {
            ended_ = true;
            return APE_SUCCESS;
        }
        if (r != AVERROR(EAGAIN))
            return APE_ERROR_DECOMPRESSING;
        if (draining_) {
            ended_ = true;
            return APE_SUCCESS;
        }
        r = av_read_frame(format_, packet_);
        if (r < 0) {
            // End of file (or unreadable rest): let the decoder hand out what it holds.
            draining_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (packet_->stream_index != stream_) {
            av_packet_unref(packet_);
            continue;
        }
        if (seeking_) {
            seeking_ = false;
            if (packet_->pts != AV_NOPTS_VALUE) {
                int64_t start = toBlocks(packet_->pts);
                skip_ = start < position_ ? position_ - start : 0;
            }
        }
        r = avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
        if (r < 0 && r != AVERROR(EAGAIN))
            return APE_ERROR_DECOMPRESSING;
    }
}

int APEDecompressor::GetData(void *buffer, int64_t blocks, int64_t *retrieved)
{
    if (retrieved != nullptr)
        *retrieved = 0;
    if (buffer == nullptr || retrieved == nullptr || blocks < 0)
        return APE_ERROR_BAD_PARAMETER;
    // Never beyond the length the header states, whatever the decoder yields.
    blocks = std::min(blocks, total_ - position_);
    uint8_t *out = static_cast<uint8_t *>(buffer);
    int status = APE_SUCCESS;
    int64_t got = 0;
    while (got < blocks) {
        if (pendingOffset_ < pending_.size()) {
            int64_t have = int64_t(pending_.size() - pendingOffset_) / blockAlign_;
            int64_t take = std::min(have, blocks - got);
            size_t bytes = size_t(take) * blockAlign_;
            memcpy(out, pending_.data() + pendingOffset_, bytes);
            out += bytes;
            pendingOffset_ += bytes;
            got += take;
            continue;
        }
        if (ended_)
            break;
        status = decodeMore();
        if (status != APE_SUCCESS) {
            ended_ = true;
            break;
        }
    }
    position_ += got;
    *retrieved = got;
    return status;
}

int APEDecompressor::Seek(int64_t block)
{
    block = std::clamp<int64_t>(block, 0, total_);
    if (block == total_) {
        pending_.clear();
        pendingOffset_ = 0;
        ended_ = true;
        position_ = block;
        return APE_SUCCESS;
    }
    int64_t ts = av_rescale_q(block, AVRational{1, rate_}, timeBase_);
    if (av_seek_frame(format_, stream_, ts, AVSEEK_FLAG_BACKWARD) < 0)
        return APE_ERROR_SEEKING;
    avcodec_flush_buffers(codec_);
    pending_.clear();
    pendingOffset_ = 0;
    draining_ = ended_ = false;
    seeking_ = true;
    skip_ = 0;
    position_ = block;
    return APE_SUCCESS;
}

int64_t APEDecompressor::GetInfo(APEInfoField field)
{
    switch (field) {
    case APE_INFO_SAMPLE_RATE:
        return rate_;
    case APE_INFO_BITS_PER_SAMPLE:
        return bits_;
    case APE_INFO_CHANNELS:
        return channels_;
    case APE_INFO_LENGTH_MS:
        return total_ * 1000 / rate_;
    }
    return 0;
}

bool hasApeExtension(const std::string &path)
{
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return false;
    const char *ext = path.c_str() + dot + 1;
    return strcasecmp(ext, "ape") == 0 || strcasecmp(ext, "mac") == 0;
}

// Skips ID3v2 tags at the start, then checks the Monkey's Audio header found there.
bool fileIsPlausible(const char *path)
{
    FILE *fp = fopen(path, "rb");
    if (fp == nullptr)
        return false;
    struct stat st;
    bool ok = fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode);
    const uint64_t size = ok ? uint64_t(st.st_size) : 0;
    uint64_t offset = 0;
    uint8_t head[128];
    size_t got = 0;
    for (int i = 0; ok && i <= kMaxPrefixTags; i++) {
        if (fseeko(fp, off_t(offset), SEEK_SET) != 0) {
            ok = false;
            break;
        }
        got = fread(head, 1, sizeof head, fp);
        uint64_t tagLength;
        if (got < 10 || !LMId3v2TagLength(head, &tagLength))
            break;
        offset += tagLength;
        ok = offset < size;
    }
    fclose(fp);
    return ok && APEHeaderIsPlausible(head, got, size - offset);
}

} // namespace

bool APEHeaderIsPlausible(const uint8_t *head, size_t length, uint64_t remaining)
{
    if (length < 32 || memcmp(head, "MAC ", 4) != 0)
        return false;
    const uint16_t version = le16(head + 4);
    uint64_t frames, seekBytes;
    if (version >= kDescriptorVersion) {
        if (length < 52 + 24)
            return false;
        const uint32_t descriptorLength = le32(head + 8);
        const uint32_t headerLength = le32(head + 12);
        if (descriptorLength < 52 || headerLength < 24 || descriptorLength > remaining ||
            uint64_t(descriptorLength) + headerLength > remaining)
            return false;
        seekBytes = le32(head + 16);
        if (descriptorLength + 24 > length)
            return false;
        frames = le32(head + descriptorLength + 12);
    } else {
        const uint16_t flags = le16(head + 8);
        frames = le32(head + 24);
        seekBytes = frames * 4;
        size_t at = 32 + ((flags & kFlagPeakLevel) ? 4 : 0);
        if (flags & kFlagSeekElements) {
            if (at + 4 > length)
                return false;
            seekBytes = uint64_t(le32(head + at)) * 4;
        }
    }
    // Every frame has a 4-byte seek entry in the file, so neither can exceed it.
    return seekBytes <= remaining && frames <= remaining / 4;
}

wchar_t *APEWideFromUTF8(const char *utf8)
{
    if (utf8 == nullptr)
        return nullptr;
    const size_t n = strlen(utf8);
    wchar_t *out = new (std::nothrow) wchar_t[n + 1];
    if (out == nullptr)
        return nullptr;
    const auto *s = reinterpret_cast<const uint8_t *>(utf8);
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        const uint8_t c = s[i];
        int len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool valid = len > 0 && i + len <= n;
        for (int k = 1; valid && k < len; k++) {
            valid = (s[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not valid UTF-8.
        static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid && (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (valid) {
            out[o++] = wchar_t(cp);
            i += size_t(len);
        } else {
            out[o++] = wchar_t(0xDC00 + c);
            i++;
        }
    }
    out[o] = L'\0';
    return out;
}

bool APEUTF8FromWide(const wchar_t *wide, char *out, size_t capacity)
{
    size_t o = 0;
    auto put = [&](uint8_t b) {
        if (o + 1 >= capacity)
            return false;
        out[o++] = char(b);
        return true;
    };
    for (; *wide != L'\0'; wide++) {
        const uint32_t cp = uint32_t(*wide);
        bool ok;
        if (cp >= 0xDC80 && cp <= 0xDCFF)
            ok = put(uint8_t(cp - 0xDC00));
        else if (cp < 0x80)
            ok = put(uint8_t(cp));
        else if (cp < 0x800)
            ok = put(uint8_t(0xC0 | (cp >> 6))) && put(uint8_t(0x80 | (cp & 0x3F)));
        else if (cp < 0x10000)
            ok = put(uint8_t(0xE0 | (cp >> 12))) && put(uint8_t(0x80 | ((cp >> 6) & 0x3F))) &&
                 put(uint8_t(0x80 | (cp & 0x3F)));
        else if (cp <= 0x10FFFF)
            ok = put(uint8_t(0xF0 | (cp >> 18))) && put(uint8_t(0x80 | ((cp >> 12) & 0x3F))) &&
                 put(uint8_t(0x80 | ((cp >> 6) & 0x3F))) && put(uint8_t(0x80 | (cp & 0x3F)));
        else
            ok = false;
        if (!ok)
            return false;
    }
    if (capacity == 0)
        return false;
    out[o] = '\0';
    return true;
}

IAPEDecompress *CreateIAPEDecompress(const wchar_t *path, int *error)
{
    int dummy;
    int &status = error != nullptr ? *error : dummy;
    status = APE_ERROR_BAD_PARAMETER;
    if (path == nullptr)
        return nullptr;
    std::vector<char> utf8(wcslen(path) * 4 + 1);
    if (!APEUTF8FromWide(path, utf8.data(), utf8.size()))
        return nullptr;
    status = APE_ERROR_OPENING;
    if (!hasApeExtension(utf8.data()) || !fileIsPlausible(utf8.data()))
        return nullptr;
    APEDecompressor *decompressor = new (std::nothrow) APEDecompressor;
    if (decompressor == nullptr)
        return nullptr;
    status = decompressor->open(utf8.data());
    if (status != APE_SUCCESS) {
        delete decompressor;
        return nullptr;
    }
    return decompressor;
}
