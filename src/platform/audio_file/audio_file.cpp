#include "platform/audio_file/audio_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
}

#include "platform/audio_file/codec_map.h"
#include "platform/audio_file/ffmpeg_support.h"
#include "platform/audio_file/id3_block.h"

namespace {

// An ID3v2 tag larger than this is not read (it would be almost all pictures).
constexpr uint64_t kMaxId3Tag = 64u << 20;
constexpr uint32_t kId3v1Size = 128;
// How much of the file the format probe may read at open.
constexpr int64_t kProbeBytes = 1 << 20;

struct PacketEntry {
    int64_t pos;          // in the file
    int64_t firstFrame;   // frames of all packets before this one
    uint32_t size;
    uint32_t frames;
};

int64_t readAll(int fd, void *buffer, size_t size, int64_t offset)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = pread(fd, static_cast<uint8_t *>(buffer) + done, size - done, off_t(offset + int64_t(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    return int64_t(done);
}

// Text as UTF-8: kept when valid, else read as ISO-8859-1.
std::string toUtf8(const char *text)
{
    const auto *s = reinterpret_cast<const uint8_t *>(text);
    const size_t n = strlen(text);
    bool valid = true;
    for (size_t i = 0; i < n && valid;) {
        uint8_t c = s[i];
        int len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        valid = len > 0 && i + size_t(len) <= n && !(len == 2 && c < 0xC2);
        for (int k = 1; valid && k < len; k++)
            valid = (s[i + k] & 0xC0) == 0x80;
        i += size_t(len > 0 ? len : 1);
    }
    if (valid)
        return std::string(text, n);
    std::string out;
    for (size_t i = 0; i < n; i++) {
        if (s[i] < 0x80) {
            out += char(s[i]);
        } else {
            out += char(0xC0 | (s[i] >> 6));
            out += char(0x80 | (s[i] & 0x3F));
        }
    }
    return out;
}

} // namespace

struct AudioFileInfoDictionary {
    std::vector<std::pair<std::string, std::string>> entries;
};

struct OpaqueAudioFileID {
    AVFormatContext *format = nullptr;
    AVPacket *packet = nullptr;
    int stream = -1;
    int fd = -1;
    int64_t fileSize = 0;
    AudioStreamBasicDescription asbd{};
    bool pcm = false;                 // one packet is one sample frame
    uint32_t sizeBound = 0;           // theoretical largest packet, 0 when none
    double duration = -1;             // seconds; negative when unknown
    std::vector<uint8_t> cookie;
    AVRational timeBase{1, 1};

    // The packet index, grown as far as a request needs.
    std::vector<PacketEntry> index;
    bool indexComplete = false;
    int64_t indexedFrames = 0;
    uint32_t largest = 0;
    int32_t priming = 0;
    int32_t remainder = 0;
    int64_t tailDiscard = 0;          // the discards of the last packets indexed, added up

    ~OpaqueAudioFileID()
    {
        av_packet_free(&packet);
        avformat_close_input(&format);
        if (fd >= 0)
            close(fd);
    }

    int64_t toFrames(int64_t ts) const { return av_rescale_q(ts, timeBase, AVRational{1, int(asbd.mSampleRate)}); }
    void add(int64_t pos, uint32_t size, uint32_t frames);
    void finish(int64_t lastDiscard);
    bool indexFromContainer();
    bool itunesGapless(int64_t *primingOut, int64_t *validOut) const;
    void indexUntil(size_t packets, int64_t frames);
    int64_t packetCount();
    uint32_t largestPacket();
    int64_t trailingTagBytes() const;
    OSStatus id3Tag(std::vector<uint8_t> *out);
    AudioFileInfoDictionary *infoDictionary();
    const AVPacket *artwork() const;
    OSStatus frameToPacket(AudioFramePacketTranslation *t);
    OSStatus packetToFrame(AudioFramePacketTranslation *t);
    OSStatus readPcm(uint32_t *ioNumBytes, int64_t startPacket, uint32_t *ioNumPackets, void *buffer);
    OSStatus readPackets(uint32_t *ioNumBytes, AudioStreamPacketDescription *descriptions, int64_t startPacket,
                         uint32_t *ioNumPackets, void *buffer);
};

void OpaqueAudioFileID::add(int64_t pos, uint32_t size, uint32_t frames)
{
    index.push_back(PacketEntry{pos, indexedFrames, size, frames});
    indexedFrames += frames;
    largest = std::max(largest, size);
}

// The end of the stream: the last packet's padding is known now.
void OpaqueAudioFileID::finish(int64_t lastDiscard)
{
    indexComplete = true;
    if (lastDiscard > 0 && lastDiscard < INT32_MAX)
        remainder = int32_t(lastDiscard);
}

// QuickTime files list every packet in their header; that list serves as the index
// without reading the file, when it covers the whole stream.
bool OpaqueAudioFileID::indexFromContainer()
{
    if (strstr(format->iformat->name, "mov") == nullptr)
        return false;
    AVStream *st = format->streams[stream];
    const int count = avformat_index_get_entries_count(st);
    if (count <= 0 || st->duration == AV_NOPTS_VALUE)
        return false;
    const uint32_t fixed = pcm ? 0 : asbd.mFramesPerPacket;
    const int64_t end = st->duration + (st->start_time != AV_NOPTS_VALUE ? st->start_time : 0);
    for (int i = 0; i < count; i++) {
        const AVIndexEntry *e = avformat_index_get_entry(st, i);
        const AVIndexEntry *next = i + 1 < count ? avformat_index_get_entry(st, i + 1) : nullptr;
        if (e == nullptr || e->pos < 0 || e->size <= 0) {
            index.clear();
            indexedFrames = 0;
            largest = 0;
            return false;
        }
        const int64_t span = toFrames((next != nullptr ? next->timestamp : end) - e->timestamp);
        uint32_t frames = fixed;
        if (pcm)
            frames = uint32_t(e->size) / asbd.mBytesPerFrame;
        else if (fixed == 0)
            frames = span > 0 && span < INT32_MAX ? uint32_t(span) : 0;
        add(e->pos, uint32_t(e->size), frames);
    }
    // The edit list ends the stream before the last packets do: what they decode beyond
    // its end is padding, however many packets it spans.
    if (!pcm && fixed > 0) {
        const int64_t covered = toFrames(end - avformat_index_get_entry(st, 0)->timestamp);
        if (covered > 0 && covered < indexedFrames)
            remainder = int32_t(std::min<int64_t>(indexedFrames - covered, INT32_MAX));
    }
    // The first packet tells the priming.
    if (av_read_frame(format, packet) >= 0) {
        size_t sideSize = 0;
        const uint8_t *side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
        if (side != nullptr && sideSize >= 4)
            priming = int32_t(std::min<uint32_t>(AV_RL32(side), INT32_MAX));
        av_packet_unref(packet);
    }
    // Without an edit list, iTunes states the priming and the length of the recording in
    // its own tag.
    int64_t itunesPriming = 0, itunesValid = 0;
    if (!pcm && remainder == 0 && itunesGapless(&itunesPriming, &itunesValid)) {
        if (priming == 0)
            priming = int32_t(itunesPriming);
        if (itunesValid > 0 && priming + itunesValid <= indexedFrames)
            remainder = int32_t(std::min<int64_t>(indexedFrames - priming - itunesValid, INT32_MAX));
    }
    indexComplete = true;
    return true;
}

// The iTunes gapless tag, "iTunSMPB": hexadecimal fields, the second the priming, the
// fourth the frames of the recording. False when the file has none that makes sense.
bool OpaqueAudioFileID::itunesGapless(int64_t *primingOut, int64_t *validOut) const
{
    const AVDictionaryEntry *e = av_dict_get(format->metadata, "iTunSMPB", nullptr, 0);
    if (e == nullptr)
        e = av_dict_get(format->streams[stream]->metadata, "iTunSMPB", nullptr, 0);
    unsigned int first = 0, start = 0, end = 0;
    unsigned long long valid = 0;
    if (e == nullptr || e->value == nullptr || sscanf(e->value, "%x %x %x %llx", &first, &start, &end, &valid) != 4)
        return false;
    if (start >= 1u << 16 || valid == 0 || valid > uint64_t(INT64_MAX / 2))
        return false;
    *primingOut = start;
    *validOut = int64_t(valid);
    return true;
}

// Demuxes further until the index holds `packets` packets or `frames` frames, or the
// stream ends.
void OpaqueAudioFileID::indexUntil(size_t packets, int64_t frames)
{
    if (indexComplete)
        return;
    if (index.empty() && indexFromContainer())
        return;
    while (index.size() < packets || indexedFrames < frames) {
        int r = av_read_frame(format, packet);
        if (r < 0) {
            finish(0);
            return;
        }
        if (packet->stream_index != stream || packet->size <= 0) {
            av_packet_unref(packet);
            continue;
        }
        if (packet->pos < 0) {   // cannot be read again by position: the stream ends here
            av_packet_unref(packet);
            finish(0);
            return;
        }
        uint32_t n = asbd.mFramesPerPacket;
        if (pcm)
            n = uint32_t(packet->size) / asbd.mBytesPerFrame;
        else if (n == 0)
            n = uint32_t(std::clamp<int64_t>(toFrames(packet->duration), 0, INT32_MAX));
        size_t sideSize = 0;
        const uint8_t *side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
        int64_t discard = 0;
        if (side != nullptr && sideSize >= 8) {
            if (index.empty())
                priming = int32_t(std::min<uint32_t>(AV_RL32(side), INT32_MAX));
            discard = AV_RL32(side + 4);
        }
        add(packet->pos, uint32_t(packet->size), n);
        av_packet_unref(packet);
        // Padding longer than a packet is spread over the last packets: their discards add up.
        tailDiscard = discard > 0 ? tailDiscard + discard : 0;
        remainder = int32_t(std::min<int64_t>(tailDiscard, INT32_MAX));
    }
}

int64_t OpaqueAudioFileID::packetCount()
{
    indexUntil(SIZE_MAX, INT64_MAX);
    return pcm ? indexedFrames : int64_t(index.size());
}

uint32_t OpaqueAudioFileID::largestPacket()
{
    if (pcm)
        return asbd.mBytesPerPacket;
    if (!indexComplete && sizeBound > 0)
        return sizeBound;
    indexUntil(SIZE_MAX, INT64_MAX);
    return largest > 0 ? largest : sizeBound;
}

// The bytes that tags take at the end of the file: an ID3v1 tag, an APEv2 tag (with its
// header when it has one) and a Lyrics3v2 block, in any order.
int64_t OpaqueAudioFileID::trailingTagBytes() const
{
    int64_t end = fileSize;
    for (bool found = true; found;) {
        found = false;
        uint8_t tail[32];
        if (end >= kId3v1Size && readAll(fd, tail, 3, end - kId3v1Size) == 3 && memcmp(tail, "TAG", 3) == 0) {
            end -= kId3v1Size;
            found = true;
        }
        if (end >= 32 && readAll(fd, tail, 32, end - 32) == 32 && memcmp(tail, "APETAGEX", 8) == 0) {
            const int64_t size = int64_t(AV_RL32(tail + 12)) + ((AV_RL32(tail + 20) & 0x80000000u) ? 32 : 0);
            if (size >= 32 && size <= end) {
                end -= size;
                found = true;
            }
        }
        if (end >= 15 && readAll(fd, tail, 15, end - 15) == 15 && memcmp(tail + 6, "LYRICS200", 9) == 0) {
            int64_t size = 0;
            for (int i = 0; i < 6 && tail[i] >= '0' && tail[i] <= '9'; i++)
                size = size * 10 + (tail[i] - '0');
            if (size > 0 && size + 15 <= end) {
                end -= size + 15;
                found = true;
            }
        }
    }
    return fileSize - end;
}

OSStatus OpaqueAudioFileID::id3Tag(std::vector<uint8_t> *out)
{
    out->clear();
    uint8_t head[10];
    uint64_t length = 0;
    if (readAll(fd, head, sizeof head, 0) == int64_t(sizeof head) && LMId3v2TagLength(head, &length) &&
        length <= uint64_t(fileSize) && length <= kMaxId3Tag) {
        out->resize(size_t(length));
        if (readAll(fd, out->data(), out->size(), 0) != int64_t(length)) {
            out->clear();
            return kAudioLayerUnspecifiedError;
        }
        return noErr;
    }
    if (fileSize >= kId3v1Size) {
        uint8_t tail[kId3v1Size];
        if (readAll(fd, tail, kId3v1Size, fileSize - kId3v1Size) == kId3v1Size && memcmp(tail, "TAG", 3) == 0)
            out->assign(tail, tail + kId3v1Size);
    }
    return noErr;
}

AudioFileInfoDictionary *OpaqueAudioFileID::infoDictionary()
{
    auto *dictionary = new (std::nothrow) AudioFileInfoDictionary;
    if (dictionary == nullptr)
        return nullptr;
    // Our key, then FFmpeg's names for it (looked up ignoring letter case).
    static const char *const kKeys[][3] = {
        {"artist", "artist", nullptr}, {"title", "title", nullptr},        {"album", "album", nullptr},
        {"comments", "comment", nullptr}, {"genre", "genre", nullptr}, {"track number", "track", nullptr},
        {"year", "date", "year"},
    };
    AVDictionary *sources[2] = {format->metadata, format->streams[stream]->metadata};
    for (const auto &key : kKeys) {
        const AVDictionaryEntry *found = nullptr;
        for (int k = 1; k < 3 && found == nullptr && key[k] != nullptr; k++)
            for (AVDictionary *source : sources)
                if (found == nullptr && source != nullptr)
                    found = av_dict_get(source, key[k], nullptr, 0);
        if (found != nullptr && found->value != nullptr && found->value[0] != '\0')
            dictionary->entries.emplace_back(key[0], toUtf8(found->value));
    }
    return dictionary;
}

// The first picture attached to the file; null when there is none.
const AVPacket *OpaqueAudioFileID::artwork() const
{
    for (unsigned i = 0; i < format->nb_streams; i++) {
        const AVStream *st = format->streams[i];
        if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) && st->attached_pic.data != nullptr &&
            st->attached_pic.size > 0)
            return &st->attached_pic;
    }
    return nullptr;
}

OSStatus OpaqueAudioFileID::frameToPacket(AudioFramePacketTranslation *t)
{
    if (t->mFrame < 0)
        return kAudioLayerParamError;
    const uint32_t fixed = asbd.mFramesPerPacket;
    if (pcm || fixed > 0) {
        t->mPacket = t->mFrame / fixed;
        t->mFrameOffsetInPacket = uint32_t(t->mFrame % fixed);
        return noErr;
    }
    indexUntil(0, t->mFrame + 1);
    if (t->mFrame >= indexedFrames) {
        t->mPacket = int64_t(index.size());
        t->mFrameOffsetInPacket = 0;
        return noErr;
    }
    auto it = std::upper_bound(index.begin(), index.end(), t->mFrame,
                               [](int64_t frame, const PacketEntry &e) { return frame < e.firstFrame; });
    const PacketEntry &e = *(it - 1);
    t->mPacket = int64_t(it - index.begin()) - 1;
    t->mFrameOffsetInPacket = uint32_t(t->mFrame - e.firstFrame);
    return noErr;
}

OSStatus OpaqueAudioFileID::packetToFrame(AudioFramePacketTranslation *t)
{
    if (t->mPacket < 0)
        return kAudioLayerParamError;
    const uint32_t fixed = asbd.mFramesPerPacket;
    if (pcm || fixed > 0) {
        t->mFrame = t->mPacket * fixed;
        return noErr;
    }
    indexUntil(size_t(t->mPacket) + 1, 0);
    t->mFrame = t->mPacket < int64_t(index.size()) ? index[size_t(t->mPacket)].firstFrame : indexedFrames;
    return noErr;
}

// Linear PCM: packets are frames, laid out in the demuxer's chunks.
OSStatus OpaqueAudioFileID::readPcm(uint32_t *ioNumBytes, int64_t start, uint32_t *ioNumPackets, void *buffer)
{
    const uint32_t bpf = asbd.mBytesPerFrame;
    int64_t want = std::min<int64_t>(*ioNumPackets, *ioNumBytes / bpf);
    *ioNumPackets = 0;
    *ioNumBytes = 0;
    if (want == 0)
        return kAudioLayerParamError;
    indexUntil(0, start + want);
    auto it = std::upper_bound(index.begin(), index.end(), start,
                               [](int64_t frame, const PacketEntry &e) { return frame < e.firstFrame; });
    if (it == index.begin() || start >= indexedFrames)
        return noErr;
    uint8_t *out = static_cast<uint8_t *>(buffer);
    int64_t frame = start, got = 0;
    for (auto e = it - 1; e != index.end() && got < want; ++e) {
        const int64_t skip = frame - e->firstFrame;
        const int64_t take = std::min<int64_t>(int64_t(e->frames) - skip, want - got);
        const size_t bytes = size_t(take) * bpf;
        if (readAll(fd, out + got * bpf, bytes, e->pos + skip * bpf) != int64_t(bytes))
            return kAudioLayerUnspecifiedError;
        got += take;
        frame += take;
    }
    *ioNumPackets = uint32_t(got);
    *ioNumBytes = uint32_t(got * bpf);
    return noErr;
}

OSStatus OpaqueAudioFileID::readPackets(uint32_t *ioNumBytes, AudioStreamPacketDescription *descriptions,
                                        int64_t start, uint32_t *ioNumPackets, void *buffer)
{
    const uint32_t capacity = *ioNumBytes;
    const uint32_t want = *ioNumPackets;
    *ioNumPackets = 0;
    *ioNumBytes = 0;
    if (want == 0)
        return noErr;
    indexUntil(size_t(start) + want, 0);
    if (size_t(start) >= index.size())
        return noErr;
    const size_t end = std::min(index.size(), size_t(start) + want);
    uint8_t *out = static_cast<uint8_t *>(buffer);
    uint32_t bytes = 0;
    size_t i = size_t(start);
    while (i < end) {
        // A run of packets that lie back to back in the file is read at once.
        size_t j = i;
        uint32_t run = 0;
        while (j < end && uint64_t(bytes) + run + index[j].size <= capacity &&
               (j == i || index[j].pos == index[j - 1].pos + index[j - 1].size))
            run += index[j++].size;
        if (j == i)
            break;
        if (readAll(fd, out + bytes, run, index[i].pos) != int64_t(run))
            return kAudioLayerUnspecifiedError;
        for (size_t k = i; k < j; k++) {
            if (descriptions != nullptr) {
                AudioStreamPacketDescription &d = descriptions[k - size_t(start)];
                d.mStartOffset = bytes;
                d.mVariableFramesInPacket = asbd.mFramesPerPacket == 0 ? index[k].frames : 0;
                d.mDataByteSize = index[k].size;
            }
            bytes += index[k].size;
        }
        i = j;
    }
    if (i == size_t(start))
        return kAudioLayerParamError;   // not even one packet fits
    *ioNumPackets = uint32_t(i - size_t(start));
    *ioNumBytes = bytes;
    return noErr;
}

// Opens the container. When the file's first bytes show the format its name promises
// (an ID3 tag or an MPEG frame for .mp3, an "ftyp" box for .m4a), that demuxer is used
// directly, which spares probing the data against every format; anything else, a
// misnamed file included, is found by probing.
static int openInput(OpaqueAudioFileID *file, const char *path)
{
    unsigned char head[8] = {};
    const bool haveHead = pread(file->fd, head, sizeof head, 0) == (ssize_t)sizeof head;
    const char *dot = strrchr(path, '.');
    const char *likely = nullptr;
    if (haveHead && dot != nullptr && strcasecmp(dot, ".mp3") == 0 &&
        (memcmp(head, "ID3", 3) == 0 || (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0)))
        likely = "mp3";
    else if (haveHead && dot != nullptr && strcasecmp(dot, ".m4a") == 0 && memcmp(head + 4, "ftyp", 4) == 0)
        likely = "mov";
    if (likely != nullptr) {
        if (const AVInputFormat *format = av_find_input_format(likely)) {
            if (avformat_open_input(&file->format, path, format, nullptr) == 0)
                return 0;
            file->format = nullptr;
        }
    }
    AVDictionary *options = nullptr;
    av_dict_set_int(&options, "probesize", kProbeBytes, 0);
    int r = avformat_open_input(&file->format, path, nullptr, &options);
    av_dict_free(&options);
    return r;
}

OSStatus AudioFileOpenPath(const char *path, AudioFilePermissions permissions, AudioFileTypeID, AudioFileID *outFile)
{
    if (outFile == nullptr)
        return kAudioLayerParamError;
    *outFile = nullptr;
    if (path == nullptr || permissions != kAudioFileReadPermission)
        return kAudioLayerParamError;
    LMFFmpegQuiet();
    auto *file = new (std::nothrow) OpaqueAudioFileID;
    if (file == nullptr)
        return kAudioLayerUnspecifiedError;
    struct stat st;
    file->fd = open(path, O_RDONLY | O_CLOEXEC);
    if (file->fd < 0 || fstat(file->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        delete file;
        return kAudioLayerUnspecifiedError;
    }
    file->fileSize = st.st_size;
    int r = openInput(file, path);
    if (r < 0) {
        delete file;
        return kAudioLayerFormatUnsupported;
    }
    // Enough of the stream to know its rate and channels; MPEG audio states them only in
    // its frame headers.
    file->format->max_analyze_duration = AV_TIME_BASE / 2;
    // (An audio stream without them is not even offered as the best one.)
    file->stream = av_find_best_stream(file->format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (file->stream < 0) {
        avformat_find_stream_info(file->format, nullptr);
        file->stream = av_find_best_stream(file->format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    }
    if (file->stream < 0) {
        delete file;
        return kAudioLayerFormatUnsupported;
    }
    AVStream *stream = file->format->streams[file->stream];
    const AVCodecParameters *par = stream->codecpar;
    if (!LMFormatForCodec(par, &file->asbd) || stream->time_base.num <= 0 || stream->time_base.den <= 0) {
        delete file;
        return kAudioLayerFormatUnsupported;
    }
    file->timeBase = stream->time_base;
    file->pcm = file->asbd.mFormatID == kAudioFormatLinearPCM;
    file->sizeBound = LMPacketSizeBound(&file->asbd);
    if (par->extradata != nullptr && par->extradata_size > 0)
        file->cookie.assign(par->extradata, par->extradata + par->extradata_size);
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        file->duration = double(stream->duration) * av_q2d(stream->time_base);
    else if (file->format->duration != AV_NOPTS_VALUE && file->format->duration > 0)
        file->duration = double(file->format->duration) / AV_TIME_BASE;
    // An MP3 without a frame count is timed by its size at its bit rate, and the tags at
    // its ends are not audio.
    const int64_t bitRate = file->format->bit_rate > 0 ? file->format->bit_rate : par->bit_rate;
    if (par->codec_id == AV_CODEC_ID_MP3 && file->format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE &&
        bitRate > 0) {
        uint8_t head[10];
        uint64_t id3v2 = 0;
        if (readAll(file->fd, head, sizeof head, 0) != int64_t(sizeof head) || !LMId3v2TagLength(head, &id3v2))
            id3v2 = 0;
        const int64_t audio = file->fileSize - int64_t(std::min<uint64_t>(id3v2, uint64_t(file->fileSize))) -
                              file->trailingTagBytes();
        if (audio > 0)
            file->duration = double(audio) * 8 / double(bitRate);
    }
    file->packet = av_packet_alloc();
    if (file->packet == nullptr) {
        delete file;
        return kAudioLayerUnspecifiedError;
    }
    *outFile = file;
    return noErr;
}

OSStatus AudioFileClose(AudioFileID file)
{
    if (file == nullptr)
        return kAudioLayerParamError;
    delete file;
    return noErr;
}

OSStatus AudioFileGetPropertyInfo(AudioFileID file, AudioFilePropertyID property, uint32_t *outSize, uint32_t *writable)
{
    if (file == nullptr)
        return kAudioLayerParamError;
    if (writable != nullptr)
        *writable = 0;
    uint32_t size;
    switch (property) {
    case kAudioFilePropertyDataFormat:
        size = sizeof(AudioStreamBasicDescription);
        break;
    case kAudioFilePropertyPacketSizeUpperBound:
    case kAudioFilePropertyMaximumPacketSize:
        size = sizeof(uint32_t);
        break;
    case kAudioFilePropertyEstimatedDuration:
        if (file->duration < 0)
            return kAudioLayerUnknownProperty;
        size = sizeof(double);
        break;
    case kAudioFilePropertyID3Tag: {
        std::vector<uint8_t> tag;
        OSStatus status = file->id3Tag(&tag);
        if (status != noErr)
            return status;
        size = uint32_t(tag.size());
        break;
    }
    case kAudioFilePropertyInfoDictionary:
        size = sizeof(AudioFileInfoDictionary *);
        break;
    case kAudioFilePropertyMagicCookieData:
        size = uint32_t(file->cookie.size());
        break;
    case kAudioFilePropertyAlbumArtwork: {
        const AVPacket *picture = file->artwork();
        size = picture != nullptr ? uint32_t(picture->size) : 0;
        break;
    }
    case kAudioFilePropertyFrameToPacket:
    case kAudioFilePropertyPacketToFrame:
        size = sizeof(AudioFramePacketTranslation);
        break;
    case kAudioFilePropertyAudioDataPacketCount:
        size = sizeof(uint64_t);
        break;
    case kAudioFilePropertyPacketTableInfo:
        size = sizeof(AudioFilePacketTableInfo);
        break;
    default:
        return kAudioLayerUnknownProperty;
    }
    if (outSize != nullptr)
        *outSize = size;
    return noErr;
}

namespace {

template <typename T>
OSStatus putValue(const T &value, uint32_t *ioSize, void *data)
{
    if (*ioSize != sizeof(T))
        return kAudioLayerBadPropertySize;
    memcpy(data, &value, sizeof(T));
    return noErr;
}

OSStatus putBytes(const uint8_t *bytes, size_t size, uint32_t *ioSize, void *data)
{
    *ioSize = bytes != nullptr ? uint32_t(std::min<size_t>(*ioSize, size)) : 0;
    if (*ioSize > 0)
        memcpy(data, bytes, *ioSize);
    return noErr;
}

OSStatus putBytes(const std::vector<uint8_t> &bytes, uint32_t *ioSize, void *data)
{
    return putBytes(bytes.data(), bytes.size(), ioSize, data);
}

} // namespace

OSStatus AudioFileGetProperty(AudioFileID file, AudioFilePropertyID property, uint32_t *ioSize, void *data)
{
    if (file == nullptr || ioSize == nullptr || (data == nullptr && *ioSize > 0))
        return kAudioLayerParamError;
    switch (property) {
    case kAudioFilePropertyDataFormat:
        return putValue(file->asbd, ioSize, data);
    case kAudioFilePropertyPacketSizeUpperBound:
        return putValue(file->sizeBound > 0 ? file->sizeBound : file->largestPacket(), ioSize, data);
    case kAudioFilePropertyMaximumPacketSize:
        return putValue(file->largestPacket(), ioSize, data);
    case kAudioFilePropertyEstimatedDuration:
        if (file->duration < 0)
            return kAudioLayerUnknownProperty;
        return putValue(file->duration, ioSize, data);
    case kAudioFilePropertyID3Tag: {
        std::vector<uint8_t> tag;
        OSStatus status = file->id3Tag(&tag);
        return status != noErr ? status : putBytes(tag, ioSize, data);
    }
    case kAudioFilePropertyInfoDictionary: {
        if (*ioSize != sizeof(AudioFileInfoDictionary *))
            return kAudioLayerBadPropertySize;
        AudioFileInfoDictionary *dictionary = file->infoDictionary();
        if (dictionary == nullptr)
            return kAudioLayerUnspecifiedError;
        memcpy(data, &dictionary, sizeof dictionary);
        return noErr;
    }
    case kAudioFilePropertyMagicCookieData:
        return putBytes(file->cookie, ioSize, data);
    case kAudioFilePropertyAlbumArtwork: {
        const AVPacket *picture = file->artwork();
        return picture != nullptr ? putBytes(picture->data, size_t(picture->size), ioSize, data)
                                  : putBytes(nullptr, 0, ioSize, data);
    }
    case kAudioFilePropertyFrameToPacket:
    case kAudioFilePropertyPacketToFrame: {
        if (*ioSize != sizeof(AudioFramePacketTranslation))
            return kAudioLayerBadPropertySize;
        AudioFramePacketTranslation t;
        memcpy(&t, data, sizeof t);
        OSStatus status = property == kAudioFilePropertyFrameToPacket ? file->frameToPacket(&t) : file->packetToFrame(&t);
        if (status == noErr)
            memcpy(data, &t, sizeof t);
        return status;
    }
    case kAudioFilePropertyAudioDataPacketCount:
        return putValue(uint64_t(file->packetCount()), ioSize, data);
    case kAudioFilePropertyPacketTableInfo: {
        const int64_t packets = file->packetCount();
        const int64_t frames = file->pcm || file->asbd.mFramesPerPacket == 0
                                   ? file->indexedFrames
                                   : packets * int64_t(file->asbd.mFramesPerPacket);
        AudioFilePacketTableInfo info{};
        info.mPrimingFrames = file->priming;
        info.mRemainderFrames = file->remainder;
        info.mNumberValidFrames = std::max<int64_t>(0, frames - file->priming - file->remainder);
        return putValue(info, ioSize, data);
    }
    default:
        return kAudioLayerUnknownProperty;
    }
}

OSStatus AudioFileReadPacketData(AudioFileID file, bool, uint32_t *ioNumBytes,
                                 AudioStreamPacketDescription *descriptions, int64_t startPacket,
                                 uint32_t *ioNumPackets, void *buffer)
{
    if (file == nullptr || ioNumBytes == nullptr || ioNumPackets == nullptr || buffer == nullptr || startPacket < 0)
        return kAudioLayerParamError;
    if (file->pcm)
        return file->readPcm(ioNumBytes, startPacket, ioNumPackets, buffer);
    return file->readPackets(ioNumBytes, descriptions, startPacket, ioNumPackets, buffer);
}

const char *AudioFileInfoDictionaryGetValue(const AudioFileInfoDictionary *dictionary, const char *key)
{
    if (dictionary == nullptr || key == nullptr)
        return nullptr;
    for (const auto &entry : dictionary->entries)
        if (entry.first == key)
            return entry.second.c_str();
    return nullptr;
}

void AudioFileInfoDictionaryRelease(AudioFileInfoDictionary *dictionary)
{
    delete dictionary;
}
