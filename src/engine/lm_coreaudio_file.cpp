#include "engine/lm_coreaudio_file.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/lm_number.h"
#include "engine/lm_tag.h"
#include "platform/audio_file/audio_file.h"

namespace {

struct LMCoreAudioFile {
    LMFile file;
    AudioFileID audio_file_id;
    AudioStreamBasicDescription format;
    int64_t current_packet;
    uint64_t total_frames;
    uint32_t max_packet_size;
    // Where the recording lies among the frames that decoding the packets yields: asked
    // for once, at the first trimmed read. 0 not asked yet, 1 known, -1 not known.
    int recording_known;
    int64_t recording_start;   // the frames before it are the encoder's priming
    int64_t recording_end;     // the frames from here on are padding
    int64_t recording_padding;
};

int LMCoreAudioFileSeek(LMFile *file, double seconds);
double LMCoreAudioFileTell(LMFile *file);
void LMCoreAudioFileClose(LMFile *file);

// A property that the service may give as 4 or 8 bytes; 0 after a failed check.
bool readSized(AudioFileID id, AudioFilePropertyID property, uint32_t *width, uint64_t *bits)
{
    uint32_t size = 0;
    OSStatus status = AudioFileGetPropertyInfo(id, property, &size, NULL);
    if (!LM_CHECK(status == noErr))
        return false;
    if (!LM_CHECK(size == 4 || size == 8))
        return false;
    uint8_t value[8] = {};
    status = AudioFileGetProperty(id, property, &size, value);
    if (!LM_CHECK(status == noErr))
        return false;
    *width = size;
    if (size == 4) {
        uint32_t v;
        memcpy(&v, value, 4);
        *bits = v;
    } else {
        memcpy(bits, value, 8);
    }
    return true;
}

uint64_t readCount(AudioFileID id, AudioFilePropertyID property)
{
    uint32_t width;
    uint64_t bits;
    return readSized(id, property, &width, &bits) ? bits : 0;
}

double readSeconds(AudioFileID id, AudioFilePropertyID property)
{
    uint32_t width;
    uint64_t bits;
    if (!readSized(id, property, &width, &bits))
        return 0;
    double seconds;
    if (width == 4) {
        float f;
        uint32_t b = uint32_t(bits);
        memcpy(&f, &b, 4);
        seconds = f;
    } else {
        memcpy(&seconds, &bits, 8);
    }
    // A length the stream cannot have is no length.
    return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}

bool isUtf8(const char *s)
{
    const unsigned char *p = (const unsigned char *)s;
    while (*p) {
        int n = *p < 0x80 ? 0 : (*p & 0xE0) == 0xC0 ? 1 : (*p & 0xF0) == 0xE0 ? 2 : (*p & 0xF8) == 0xF0 ? 3 : -1;
        if (n < 0)
            return false;
        p++;
        for (int i = 0; i < n; i++, p++)
            if ((*p & 0xC0) != 0x80)
                return false;
    }
    return true;
}

void takeText(const AudioFileInfoDictionary *info, const char *key, char **field)
{
    const char *value = AudioFileInfoDictionaryGetValue(info, key);
    if (value == NULL)
        return;
    size_t length = strlen(value);
    char *text = (char *)malloc(length + 1);
    bool ret = text != NULL && isUtf8(value);
    if (!LM_CHECK(ret)) {
        free(text);
        return;
    }
    memcpy(text, value, length + 1);
    *field = text;
}

int32_t takeNumber(const AudioFileInfoDictionary *info, const char *key)
{
    const char *value = AudioFileInfoDictionaryGetValue(info, key);
    return value != NULL ? LMLeadingInteger(value, strlen(value)) : 0;
}

// The picture a container without ID3 tags attaches (an MP4 cover) is the front cover, as
// an ID3 front-cover picture is for MP3.
void readArtwork(LMCoreAudioFile *cf)
{
    LMTag *tag = &cf->file.tag;
    uint32_t size = 0;
    if (tag->picture != NULL ||
        AudioFileGetPropertyInfo(cf->audio_file_id, kAudioFilePropertyAlbumArtwork, &size, NULL) != noErr ||
        size == 0 || size > INT32_MAX)
        return;
    unsigned char *picture = (unsigned char *)malloc(size);
    if (picture == NULL)
        return;
    if (AudioFileGetProperty(cf->audio_file_id, kAudioFilePropertyAlbumArtwork, &size, picture) != noErr || size == 0) {
        free(picture);
        return;
    }
    tag->picture = picture;
    tag->picture_size = int32_t(size);
}

void readDictionary(LMCoreAudioFile *cf)
{
    LMTag *tag = &cf->file.tag;
    AudioFileInfoDictionary *info = NULL;
    uint32_t size = sizeof(info);
    if (AudioFileGetProperty(cf->audio_file_id, kAudioFilePropertyInfoDictionary, &size, &info) != noErr || info == NULL)
        return;
    takeText(info, "artist", &tag->artist);
    takeText(info, "title", &tag->title);
    takeText(info, "album", &tag->album);
    takeText(info, "comments", &tag->comment);
    takeText(info, "genre", &tag->genre);
    tag->track = takeNumber(info, "track number");
    tag->year = takeNumber(info, "year");
    AudioFileInfoDictionaryRelease(info);
}

void readTags(LMCoreAudioFile *cf)
{
    LMTag *tag = &cf->file.tag;
    uint32_t size = 0;
    const bool haveId3 =
        AudioFileGetPropertyInfo(cf->audio_file_id, kAudioFilePropertyID3Tag, &size, NULL) == noErr && size > 3;
    if (haveId3) {
        unsigned char *block = (unsigned char *)malloc(size);
        if (block != NULL && AudioFileGetProperty(cf->audio_file_id, kAudioFilePropertyID3Tag, &size, block) == noErr &&
            size > 3) {
            if (memcmp(block, "TAG", 3) == 0)
                LMTagParseId3v1(tag, block, size);
            else if (memcmp(block, "ID3", 3) == 0)
                LMTagParseId3v2(tag, block, size);
        }
        free(block);
    }
    if (LMTagIsEmpty(tag))
        readDictionary(cf);
    if (!haveId3)
        readArtwork(cf);
}

int LMCoreAudioFileSeek(LMFile *file, double seconds)
{
    assert(file->type == LMFileTypeCoreAudio);
    LMCoreAudioFile *cf = (LMCoreAudioFile *)file;
    AudioFramePacketTranslation t = {};
    t.mFrame = int64_t(LMFileFrameForTime(file, seconds, cf->total_frames));
    uint32_t size = sizeof(t);
    OSStatus status = AudioFileGetProperty(cf->audio_file_id, kAudioFilePropertyFrameToPacket, &size, &t);
    if (status == noErr)
        cf->current_packet = t.mPacket;
    return status;
}

double LMCoreAudioFileTell(LMFile *file)
{
    assert(file->type == LMFileTypeCoreAudio);
    LMCoreAudioFile *cf = (LMCoreAudioFile *)file;
    AudioFramePacketTranslation t = {};
    t.mPacket = cf->current_packet;
    uint32_t size = sizeof(t);
    if (AudioFileGetProperty(cf->audio_file_id, kAudioFilePropertyPacketToFrame, &size, &t) != noErr || t.mFrame < 0)
        return 0;
    // Packets count the encoder's priming too, so the last ones would lie past the end.
    uint64_t frame = uint64_t(t.mFrame) < cf->total_frames ? uint64_t(t.mFrame) : cf->total_frames;
    return LMFileTimeForFrame(file, frame, cf->total_frames);
}

void LMCoreAudioFileClose(LMFile *file)
{
    assert(file->type == LMFileTypeCoreAudio);
    LMCoreAudioFile *cf = (LMCoreAudioFile *)file;
    if (cf->audio_file_id != NULL)
        AudioFileClose(cf->audio_file_id);
    free(cf);
}

} // namespace

LMFile *LMCoreAudioFileOpen(const char *path)
{
    LMCoreAudioFile *cf = (LMCoreAudioFile *)LMFileAllocate(sizeof(LMCoreAudioFile), LMFileTypeCoreAudio,
                                                            LMCoreAudioFileSeek, LMCoreAudioFileTell, NULL,
                                                            LMCoreAudioFileClose);
    if (!LM_CHECK(cf != NULL))
        return NULL;
    LMFile *f = &cf->file;
    OSStatus status;
    uint32_t size;
    // The service opens file-system paths as they are (bytes, not necessarily UTF-8).
    if (!LM_CHECK_TEXT(path != NULL, "filePath != NULL"))
        goto fail;
    status = AudioFileOpenPath(path, kAudioFileReadPermission, 0, &cf->audio_file_id);
    if (!LM_CHECK(status == noErr && cf->audio_file_id != NULL))
        goto fail;
    size = sizeof(cf->format);
    status = AudioFileGetProperty(cf->audio_file_id, kAudioFilePropertyDataFormat, &size, &cf->format);
    if (!LM_CHECK(status == noErr && size == sizeof(cf->format)))
        goto fail;
    f->sample_rate = cf->format.mSampleRate >= 1 && cf->format.mSampleRate < 4294967296.0 ? uint32_t(cf->format.mSampleRate) : 0;
    f->num_channels = cf->format.mChannelsPerFrame;
    if (!LM_CHECK(f->num_channels > 0))
        goto fail;
    f->bits_per_sample = cf->format.mBytesPerFrame != 0 ? cf->format.mBytesPerFrame * 8 / f->num_channels : 0;
    f->block_size = uint32_t(readCount(cf->audio_file_id, kAudioFilePropertyPacketSizeUpperBound));
    if (!LM_CHECK(f->block_size > 0))
        goto fail;
    f->duration = readSeconds(cf->audio_file_id, kAudioFilePropertyEstimatedDuration);
    cf->total_frames = uint64_t(f->duration * f->sample_rate);
    f->big_endian = 0;
    readTags(cf);
    return f;

fail:
    LMFileClose(f);
    return NULL;
}

int LMCoreAudioFileReadPackets(LMFile *file, void *buffer, uint32_t capacity, AudioStreamPacketDescription **descriptions,
                               uint32_t *packet_count)
{
    *descriptions = NULL;
    *packet_count = 0;
    if (!LM_CHECK(file->type == LMFileTypeCoreAudio))
        return 0;
    LMCoreAudioFile *cf = (LMCoreAudioFile *)file;
    if (cf->max_packet_size == 0)
        cf->max_packet_size = uint32_t(readCount(cf->audio_file_id, kAudioFilePropertyMaximumPacketSize));
    if (cf->max_packet_size == 0)
        return 0;
    uint32_t np = capacity / cf->max_packet_size;
    if (!LM_CHECK(np > 0))
        return 0;
    AudioStreamPacketDescription *desc = NULL;
    if (cf->format.mBytesPerPacket == 0 || cf->format.mFramesPerPacket == 0) {
        desc = (AudioStreamPacketDescription *)malloc(sizeof(AudioStreamPacketDescription) * np);
        if (!LM_CHECK(desc != NULL))
            return 0;
    }
    uint32_t bytes = capacity;
    OSStatus status = AudioFileReadPacketData(cf->audio_file_id, false, &bytes, desc, cf->current_packet, &np, buffer);
    if (!LM_CHECK(status == noErr) || np == 0) {
        free(desc);
        return 0;
    }
    cf->current_packet += np;
    *descriptions = desc;
    *packet_count = np;
    return int(bytes);
}

namespace {

bool knowRecording(LMCoreAudioFile *cf)
{
    if (cf->recording_known == 0) {
        AudioFilePacketTableInfo info = {};
        uint32_t size = sizeof(info);
        cf->recording_known = -1;
        if (AudioFileGetProperty(cf->audio_file_id, kAudioFilePropertyPacketTableInfo, &size, &info) == noErr &&
            info.mPrimingFrames >= 0 && info.mNumberValidFrames >= 0) {
            cf->recording_start = info.mPrimingFrames;
            cf->recording_end = info.mPrimingFrames + info.mNumberValidFrames;
            cf->recording_padding = info.mRemainderFrames;
            cf->recording_known = 1;
        }
    }
    return cf->recording_known > 0;
}

bool frameOfPacket(LMCoreAudioFile *cf, int64_t packet, int64_t *frame)
{
    AudioFramePacketTranslation t = {};
    t.mPacket = packet;
    uint32_t size = sizeof(t);
    if (AudioFileGetProperty(cf->audio_file_id, kAudioFilePropertyPacketToFrame, &size, &t) != noErr)
        return false;
    *frame = t.mFrame;
    return true;
}

} // namespace

int LMCoreAudioFileReadTrimmedPackets(LMFile *file, void *buffer, uint32_t capacity,
                                      AudioStreamPacketDescription **descriptions, uint32_t *packet_count,
                                      uint32_t *trim_start, uint32_t *trim_end, uint32_t *kept_frames)
{
    *trim_start = *trim_end = 0;
    if (kept_frames != NULL)
        *kept_frames = 0;
    const int64_t first = file->type == LMFileTypeCoreAudio ? ((LMCoreAudioFile *)file)->current_packet : 0;
    const int n = LMCoreAudioFileReadPackets(file, buffer, capacity, descriptions, packet_count);
    if (n <= 0)
        return n;
    LMCoreAudioFile *cf = (LMCoreAudioFile *)file;
    if (kept_frames != NULL)
        *kept_frames = *packet_count * cf->format.mFramesPerPacket;
    int64_t from = 0, to = 0;
    if (!knowRecording(cf) || !frameOfPacket(cf, first, &from) || !frameOfPacket(cf, first + *packet_count, &to) ||
        to <= from)
        return n;
    const int64_t span = to - from;
    const int64_t head = cf->recording_start - from;
    const int64_t start = head <= 0 ? 0 : head < span ? head : span;
    const int64_t tail = to - cf->recording_end;
    const int64_t end = tail <= 0 ? 0 : tail < span - start ? tail : span - start;
    *trim_start = uint32_t(start);
    *trim_end = uint32_t(end);
    if (kept_frames != NULL)
        *kept_frames = uint32_t(span - start - end);
    return n;
}

bool LMCoreAudioFilesJoin(const LMFile *file, const LMFile *next)
{
    if (file == NULL || next == NULL || file->type != LMFileTypeCoreAudio || next->type != LMFileTypeCoreAudio)
        return false;
    const LMCoreAudioFile *a = (const LMCoreAudioFile *)file;
    const LMCoreAudioFile *b = (const LMCoreAudioFile *)next;
    if (memcmp(&a->format, &b->format, sizeof(a->format)) != 0)
        return false;
    uint32_t sizeA = 0, sizeB = 0;
    void *cookieA = LMCoreAudioFileCopyMagicCookie(const_cast<LMFile *>(file), &sizeA);
    void *cookieB = LMCoreAudioFileCopyMagicCookie(const_cast<LMFile *>(next), &sizeB);
    const bool same = sizeA == sizeB && (sizeA == 0 || memcmp(cookieA, cookieB, sizeA) == 0);
    free(cookieA);
    free(cookieB);
    return same;
}

const AudioStreamBasicDescription *LMCoreAudioFileFormat(LMFile *file)
{
    if (file == NULL || file->type != LMFileTypeCoreAudio)
        return NULL;
    return &((LMCoreAudioFile *)file)->format;
}

void *LMCoreAudioFileCopyMagicCookie(LMFile *file, uint32_t *size)
{
    *size = 0;
    if (file == NULL || file->type != LMFileTypeCoreAudio)
        return NULL;
    LMCoreAudioFile *cf = (LMCoreAudioFile *)file;
    uint32_t length = 0;
    if (AudioFileGetPropertyInfo(cf->audio_file_id, kAudioFilePropertyMagicCookieData, &length, NULL) != noErr ||
        length == 0)
        return NULL;
    void *cookie = malloc(length);
    if (cookie == NULL)
        return NULL;
    if (AudioFileGetProperty(cf->audio_file_id, kAudioFilePropertyMagicCookieData, &length, cookie) != noErr) {
        free(cookie);
        return NULL;
    }
    *size = length;
    return cookie;
}

int LMCoreAudioFilePacketTable(LMFile *file, int64_t *priming, int64_t *remainder)
{
    *priming = *remainder = 0;
    if (file == NULL || file->type != LMFileTypeCoreAudio)
        return 0;
    LMCoreAudioFile *cf = (LMCoreAudioFile *)file;
    if (!knowRecording(cf))
        return 0;
    *priming = cf->recording_start;
    *remainder = cf->recording_padding;
    return 1;
}
