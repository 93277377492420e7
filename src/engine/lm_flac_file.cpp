#include "engine/lm_flac_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <sys/stat.h>

#include <FLAC/stream_decoder.h>

#include "engine/lm_number.h"

namespace {

// Most decoded bytes kept back from one frame. A frame holds at most 65536 samples, but
// the decoder stands in for lost frames with silence of their length, which a hostile
// file can make arbitrarily long; what exceeds this is dropped.
constexpr uint32_t kMaxPendingBytes = 4u << 20;

struct LMFlacFile {
    LMFile file;
    FILE *fp;
    uint64_t total_frames;
    FLAC__StreamDecoder *decoder;
    uint64_t current_frame;
    uint8_t *target;            // the read in progress; null outside a read
    uint32_t requested;
    uint32_t filled;
    // Decoded bytes that did not fit the read in progress: the rest of the frame that a
    // seek lands in, or of a frame larger than the stream header admits. Served first.
    uint8_t *pending;
    uint32_t pending_length;
    uint32_t pending_offset;
    uint32_t pending_capacity;
    uint32_t frame_bytes;       // bytes of one sample frame: 4 or 6
    bool decoder_owns_fp;
    bool opened;                // metadata after open (a rewind re-reads it) is ignored
    bool at_end;                // sought to the end: nothing more until the next seek
    bool probing;               // decoding the file's tail only to find where its frames end
    uint64_t probe_end;         // the sample after the last frame the probe decoded
};

int LMFlacFileSeek(LMFile *file, double seconds);
double LMFlacFileTell(LMFile *file);
int LMFlacFileRead(LMFile *file, void *buffer, int length);
void LMFlacFileClose(LMFile *file);

char *copyText(const uint8_t *bytes, uint32_t length)
{
    char *text = (char *)malloc(size_t(length) + 1);
    if (text == NULL)
        return NULL;
    memcpy(text, bytes, length);
    text[length] = '\0';
    return text;
}

bool nameIs(const uint8_t *name, uint32_t length, const char *key)
{
    return strlen(key) == length && strncasecmp((const char *)name, key, length) == 0;
}

void setOnce(char **field, const uint8_t *value, uint32_t length)
{
    if (*field == NULL)
        *field = copyText(value, length);
}

// The year of a DATE comment: its first four characters when they are digits (1997-05-01,
// 19970501, 1997); 0 otherwise. Nearly every file carries DATE rather than YEAR.
int32_t dateYear(const uint8_t *value, uint32_t length)
{
    if (length < 4)
        return 0;
    int32_t year = 0;
    for (int i = 0; i < 4; i++) {
        if (value[i] < '0' || value[i] > '9')
            return 0;
        year = year * 10 + (value[i] - '0');
    }
    return year;
}

void takePicture(LMTag *tag, const FLAC__StreamMetadata_Picture *picture)
{
    if (picture->type != FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER || picture->data_length == 0 ||
        picture->data == NULL || picture->data_length > INT32_MAX)
        return;
    unsigned char *copy = (unsigned char *)malloc(picture->data_length);
    if (copy == NULL)
        return;
    memcpy(copy, picture->data, picture->data_length);
    free(tag->picture);
    tag->picture = copy;
    tag->picture_size = int32_t(picture->data_length);
}

void takeStreamInfo(LMFlacFile *ff, const FLAC__StreamMetadata_StreamInfo *info)
{
    LMFile *f = &ff->file;
    f->sample_rate = info->sample_rate;
    f->num_channels = info->channels;
    f->bits_per_sample = info->bits_per_sample;
    f->block_size = 8 * info->max_blocksize;
    f->big_endian = 0;
    ff->total_frames = info->total_samples;
    f->duration = info->sample_rate > 0 ? double(info->total_samples) / info->sample_rate : 0;
}

void flac_on_metadata(const FLAC__StreamDecoder *decoder, const FLAC__StreamMetadata *block, void *client)
{
    LMFlacFile *ff = (LMFlacFile *)client;
    assert(ff->decoder == decoder);
    (void)decoder;
    if (ff->opened)
        return;
    switch (block->type) {
    case FLAC__METADATA_TYPE_STREAMINFO:
        takeStreamInfo(ff, &block->data.stream_info);
        break;
    case FLAC__METADATA_TYPE_VORBIS_COMMENT: {
        const FLAC__StreamMetadata_VorbisComment &vc = block->data.vorbis_comment;
        for (uint32_t i = 0; i < vc.num_comments && vc.comments != NULL; i++) {
            if (vc.comments[i].entry != NULL)
                LMFlacTagAddComment(&ff->file.tag, vc.comments[i].entry, vc.comments[i].length);
        }
        break;
    }
    case FLAC__METADATA_TYPE_PICTURE:
        takePicture(&ff->file.tag, &block->data.picture);
        break;
    default:   // SEEKTABLE, and the native CUESHEET block, which the library does not use
        break;
    }
}

void flac_on_error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *)
{
    // Corrupt frames are left to the decoder's own recovery.
}

// Interleaves `count` sample frames starting at `from` as little-endian PCM.
inline void putFrames(uint8_t *dst, const FLAC__int32 *l, const FLAC__int32 *r, uint32_t from,
                      uint32_t count, uint32_t frameBytes)
{
    l += from;
    r += from;
    if (frameBytes == 4) {
        for (uint32_t i = 0; i < count; i++, dst += 4) {
            uint32_t a = uint32_t(l[i]), b = uint32_t(r[i]);
            dst[0] = uint8_t(a);
            dst[1] = uint8_t(a >> 8);
            dst[2] = uint8_t(b);
            dst[3] = uint8_t(b >> 8);
        }
    } else {
        for (uint32_t i = 0; i < count; i++, dst += 6) {
            uint32_t a = uint32_t(l[i]), b = uint32_t(r[i]);
            dst[0] = uint8_t(a);
            dst[1] = uint8_t(a >> 8);
            dst[2] = uint8_t(a >> 16);
            dst[3] = uint8_t(b);
            dst[4] = uint8_t(b >> 8);
            dst[5] = uint8_t(b >> 16);
        }
    }
}

bool reservePending(LMFlacFile *ff, uint32_t bytes)
{
    if (bytes <= ff->pending_capacity)
        return true;
    if (bytes > kMaxPendingBytes)
        return false;
    uint8_t *grown = (uint8_t *)realloc(ff->pending, bytes);
    if (grown == NULL)
        return false;
    ff->pending = grown;
    ff->pending_capacity = bytes;
    return true;
}

FLAC__StreamDecoderWriteStatus flac_on_frame(const FLAC__StreamDecoder *decoder, const FLAC__Frame *frame,
                                             const FLAC__int32 *const buffer[], void *client)
{
    LMFlacFile *ff = (LMFlacFile *)client;
    assert(ff->decoder == decoder);
    (void)decoder;
    if (ff->probing) {
        uint64_t first = frame->header.number.sample_number;
        if (frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_FRAME_NUMBER)
            first = uint64_t(frame->header.number.frame_number) * (ff->file.block_size / 8);
        ff->probe_end = first + frame->header.blocksize;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    const uint32_t b = ff->frame_bytes;
    const uint32_t n = frame->header.blocksize;
    // A frame that contradicts the stream header (a corrupt or hostile file) plays as
    // silence of its length, so that the position stays true.
    const bool usable = frame->header.channels == 2 && frame->header.bits_per_sample == ff->file.bits_per_sample;
    uint32_t count = 0;
    if (ff->target != NULL && ff->pending_length == 0) {
        const uint32_t index = ff->filled / b;
        const uint32_t room = ff->requested / b - index;
        count = n < room ? n : room;
        uint8_t *dst = ff->target + size_t(index) * b;
        if (usable)
            putFrames(dst, buffer[0], buffer[1], 0, count, b);
        else
            memset(dst, 0, size_t(count) * b);
        ff->filled = b * (index + count);
    }
    if (count < n) {
        const uint64_t want = uint64_t(n - count) * b;
        const uint64_t room = (kMaxPendingBytes - ff->pending_length) / b * b;
        const uint32_t rest = uint32_t(want < room ? want : room);
        if (rest == 0 || !reservePending(ff, ff->pending_length + rest))
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        uint8_t *dst = ff->pending + ff->pending_length;
        if (usable)
            putFrames(dst, buffer[0], buffer[1], count, rest / b, b);
        else
            memset(dst, 0, rest);
        ff->pending_length += rest;
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void clearPending(LMFlacFile *ff)
{
    ff->pending_length = 0;
    ff->pending_offset = 0;
}

// Back to the first frame: the decoder rewinds its file and reads the metadata again.
bool restart(LMFlacFile *ff)
{
    clearPending(ff);
    ff->current_frame = 0;
    ff->at_end = false;
    return FLAC__stream_decoder_reset(ff->decoder) &&
           FLAC__stream_decoder_process_until_end_of_metadata(ff->decoder);
}

// Whether the file ends before `frame`: a truncated file (an interrupted copy or
// download) holds fewer samples than its header promises. Its last frames are decoded
// from the tail of the file to find the sample where they end. Leaves the decoder at the
// end of the stream.
bool endsBefore(LMFlacFile *ff, uint64_t frame)
{
    struct stat st;
    if (fstat(fileno(ff->fp), &st) != 0)
        return false;
    // At least two frames of the largest size: encoded frames are no larger than decoded.
    const off_t tail = off_t(4) * ff->file.block_size;
    FLAC__stream_decoder_flush(ff->decoder);
    if (fseeko(ff->fp, st.st_size > tail ? st.st_size - tail : 0, SEEK_SET) != 0)
        return false;
    ff->probing = true;
    ff->probe_end = 0;
    while (FLAC__stream_decoder_get_state(ff->decoder) < FLAC__STREAM_DECODER_END_OF_STREAM &&
           FLAC__stream_decoder_process_single(ff->decoder)) {
    }
    ff->probing = false;
    return ff->probe_end > 0 && frame >= ff->probe_end;
}

int LMFlacFileSeek(LMFile *file, double seconds)
{
    assert(file->type == LMFileTypeFlac);
    LMFlacFile *ff = (LMFlacFile *)file;
    if (ff->decoder == NULL)
        return 0;
    // A failed seek leaves the decoder refusing every further seek until it is flushed.
    if (FLAC__stream_decoder_get_state(ff->decoder) == FLAC__STREAM_DECODER_SEEK_ERROR)
        FLAC__stream_decoder_flush(ff->decoder);
    // Without a stated length there is no time-to-frame mapping: go back to the start.
    if (ff->total_frames == 0)
        return restart(ff);
    const uint64_t frame = LMFileFrameForTime(file, seconds, ff->total_frames);
    clearPending(ff);
    ff->target = NULL;
    ff->requested = ff->filled = 0;
    ff->current_frame = frame;
    // The decoder refuses a target at the end; the stream is simply over there.
    ff->at_end = frame >= ff->total_frames;
    if (ff->at_end)
        return 1;
    if (FLAC__stream_decoder_seek_absolute(ff->decoder, frame))
        return 1;
    // Beyond the data of a truncated file the stream is over, as at its end.
    if (endsBefore(ff, frame)) {
        ff->at_end = true;
        return 0;
    }
    // Where the decoder stands now is unknown: restart, so that position and audio agree.
    FLAC__stream_decoder_flush(ff->decoder);
    restart(ff);
    return 0;
}

double LMFlacFileTell(LMFile *file)
{
    assert(file->type == LMFileTypeFlac);
    LMFlacFile *ff = (LMFlacFile *)file;
    // A stream may hold more frames than its header states; time stops at the duration.
    const uint64_t frame = ff->current_frame < ff->total_frames ? ff->current_frame : ff->total_frames;
    return LMFileTimeForFrame(file, frame, ff->total_frames);
}

int LMFlacFileRead(LMFile *file, void *buffer, int length)
{
    assert(file->type == LMFileTypeFlac);
    LMFlacFile *ff = (LMFlacFile *)file;
    const uint32_t blockSize = file->block_size;
    if (ff->decoder == NULL || length <= 0 || uint32_t(length) < blockSize || ff->at_end)
        return 0;
    ff->target = (uint8_t *)buffer;
    ff->requested = uint32_t(length);
    ff->filled = 0;
    if (ff->pending_length > 0) {
        uint32_t take = ff->pending_length - ff->pending_offset;
        uint32_t room = ff->requested / ff->frame_bytes * ff->frame_bytes;
        if (take > room)
            take = room;
        memcpy(ff->target, ff->pending + ff->pending_offset, take);
        ff->filled = take;
        ff->pending_offset += take;
        if (ff->pending_offset == ff->pending_length)
            clearPending(ff);
    }
    // Past END_OF_STREAM lie only error states, in some of which the decoder reports
    // success without decoding anything.
    while (ff->pending_length == 0 && ff->requested - ff->filled >= blockSize &&
           FLAC__stream_decoder_get_state(ff->decoder) < FLAC__STREAM_DECODER_END_OF_STREAM &&
           FLAC__stream_decoder_process_single(ff->decoder)) {
    }
    const uint32_t filled = ff->filled;
    ff->target = NULL;
    ff->requested = ff->filled = 0;
    ff->current_frame += filled / ff->frame_bytes;
    return int(filled);
}

void LMFlacFileClose(LMFile *file)
{
    assert(file->type == LMFileTypeFlac);
    LMFlacFile *ff = (LMFlacFile *)file;
    if (ff->decoder != NULL)
        FLAC__stream_decoder_delete(ff->decoder);   // closes the stream it took over
    if (ff->fp != NULL && !ff->decoder_owns_fp)
        fclose(ff->fp);
    free(ff->pending);
    free(ff);
}

} // namespace

void LMFlacTagAddComment(LMTag *tag, const uint8_t *entry, uint32_t length)
{
    const uint8_t *eq = (const uint8_t *)memchr(entry, '=', length);
    if (eq == NULL)
        return;
    const uint32_t nameLength = uint32_t(eq - entry);
    const uint8_t *value = eq + 1;
    const uint32_t valueLength = length - nameLength - 1;
    if (nameIs(entry, nameLength, "TITLE"))
        setOnce(&tag->title, value, valueLength);
    else if (nameIs(entry, nameLength, "ALBUM"))
        setOnce(&tag->album, value, valueLength);
    else if (nameIs(entry, nameLength, "ARTIST"))
        setOnce(&tag->artist, value, valueLength);
    else if (nameIs(entry, nameLength, "TRACKNUMBER"))
        tag->track = LMLeadingInteger((const char *)value, valueLength);
    else if (nameIs(entry, nameLength, "GENRE"))
        setOnce(&tag->genre, value, valueLength);
    else if (nameIs(entry, nameLength, "CUESHEET"))
        setOnce(&tag->cuesheet, value, valueLength);
    else if (nameIs(entry, nameLength, "YEAR"))
        tag->year = LMLeadingInteger((const char *)value, valueLength);
    else if (nameIs(entry, nameLength, "DATE") && tag->year == 0)
        tag->year = dateYear(value, valueLength);
}

LMFile *LMFlacFileOpen(const char *path)
{
    LMFlacFile *ff = (LMFlacFile *)LMFileAllocate(sizeof(LMFlacFile), LMFileTypeFlac, LMFlacFileSeek,
                                                  LMFlacFileTell, LMFlacFileRead, LMFlacFileClose);
    if (!LM_CHECK(ff != NULL))
        return NULL;
    LMFile *f = &ff->file;
    FLAC__StreamDecoderInitStatus status;

    ff->fp = path != NULL ? fopen(path, "rb") : NULL;
    if (!LM_CHECK(ff->fp != NULL))
        goto fail;
    setvbuf(ff->fp, NULL, _IOFBF, 1 << 16);

    ff->decoder = FLAC__stream_decoder_new();
    if (!LM_CHECK(ff->decoder != NULL))
        goto fail;
    FLAC__stream_decoder_set_metadata_respond(ff->decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
    FLAC__stream_decoder_set_metadata_respond(ff->decoder, FLAC__METADATA_TYPE_SEEKTABLE);
    FLAC__stream_decoder_set_metadata_respond(ff->decoder, FLAC__METADATA_TYPE_CUESHEET);
    FLAC__stream_decoder_set_metadata_respond(ff->decoder, FLAC__METADATA_TYPE_PICTURE);

    status = FLAC__stream_decoder_init_FILE(ff->decoder, ff->fp, flac_on_frame, flac_on_metadata,
                                            flac_on_error, ff);
    // From here on the decoder closes the stream, whatever the status.
    ff->decoder_owns_fp = true;
    if (!LM_CHECK_TEXT(status == FLAC__STREAM_DECODER_INIT_STATUS_OK,
                       "status == FLAC__STREAM_DECODER_SEARCH_FOR_METADATA"))
        goto fail;
    if (!LM_CHECK(FLAC__stream_decoder_process_until_end_of_metadata(ff->decoder)))
        goto fail;
    if (!LM_CHECK(f->bits_per_sample == 16 || f->bits_per_sample == 24))
        goto fail;
    if (!LM_CHECK(f->num_channels == 2))
        goto fail;
    // A header without a block size or a rate cannot be read or timed.
    if (!LM_CHECK(f->block_size > 0) || !LM_CHECK(f->sample_rate > 0))
        goto fail;
    ff->frame_bytes = f->num_channels * f->bits_per_sample / 8;
    ff->pending = (uint8_t *)malloc(f->block_size);
    if (!LM_CHECK(ff->pending != NULL))
        goto fail;
    ff->pending_capacity = f->block_size;
    ff->opened = true;
    return f;

fail:
    LMFileClose(f);
    return NULL;
}
