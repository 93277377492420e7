#include "engine/lm_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "engine/lm_aiff_file.h"
#include "engine/lm_ape_file.h"
#include "engine/lm_coreaudio_file.h"
#include "engine/lm_flac_file.h"
#include "engine/lm_wav_file.h"

void LMCheckFailed(const char *file, int line, const char *text)
{
    fprintf(stderr, "*FAILED* check: %s:%d: %s\n", file, line, text);
}

LMFile *LMFileOpen(const char *path)
{
    if (path == NULL)
        return NULL;
    const char *dot = strrchr(path, '.');
    if (dot == NULL)
        return NULL;
    const char *ext = dot + 1;
    if (strcasecmp(ext, "wav") == 0 || strcasecmp(ext, "wv") == 0)
        return LMWavFileOpen(path);
    if (strcasecmp(ext, "flac") == 0)
        return LMFlacFileOpen(path);
    if (strcasecmp(ext, "ape") == 0)
        return LMApeFileOpen(path);
    if (strcasecmp(ext, "aiff") == 0 || strcasecmp(ext, "aif") == 0 || strcasecmp(ext, "aifc") == 0)
        return LMAiffFileOpen(path);
    if (strcasecmp(ext, "mp3") == 0 || strcasecmp(ext, "m4a") == 0)
        return LMCoreAudioFileOpen(path);
    return NULL;
}

void LMFileClose(LMFile *file)
{
    if (file == NULL || file->close == NULL)
        return;
    LMTagClear(&file->tag);
    file->close(file);
}

int LMFileSeek(LMFile *file, double seconds)
{
    if (file == NULL || file->seek == NULL)
        return 0;
    return file->seek(file, seconds);
}

double LMFileTell(LMFile *file)
{
    if (file == NULL || file->tell == NULL)
        return 0;
    return file->tell(file);
}

int LMFileRead(LMFile *file, void *buffer, int length)
{
    if (file == NULL || file->read == NULL)
        return 0;
    return file->read(file, buffer, length);
}

bool LMTagIsEmpty(const LMTag *tag)
{
    return tag->title == NULL && tag->artist == NULL && tag->album == NULL &&
           tag->comment == NULL && tag->genre == NULL && tag->picture == NULL &&
           tag->cuesheet == NULL && tag->picture_size == 0 && tag->year == 0 &&
           tag->track == 0;
}

void LMTagClear(LMTag *tag)
{
    free(tag->title);
    free(tag->artist);
    free(tag->album);
    free(tag->comment);
    free(tag->genre);
    free(tag->picture);
    free(tag->cuesheet);
    memset(tag, 0, sizeof(*tag));
}

uint64_t LMFileFrameForTime(const LMFile *file, double seconds, uint64_t total_frames)
{
    double duration = file->duration;
    if (!(duration > 0) || total_frames == 0)
        return 0;
    if (!(seconds > 0))   // negative or NaN
        seconds = 0;
    if (seconds > duration)
        seconds = duration;
    double frame = seconds / duration * (double)total_frames;
    if (frame >= (double)total_frames)
        return total_frames;
    return (uint64_t)frame;
}

double LMFileTimeForFrame(const LMFile *file, uint64_t frame, uint64_t total_frames)
{
    if (total_frames == 0)
        return 0;
    return (double)frame / (double)total_frames * file->duration;
}

LMFile *LMFileAllocate(size_t size, LMFileType type, LMFileSeekOp seek, LMFileTellOp tell,
                       LMFileReadOp read, LMFileCloseOp close)
{
    LMFile *file = (LMFile *)calloc(1, size);
    if (file == NULL)
        return NULL;
    file->type = type;
    file->seek = seek;
    file->tell = tell;
    file->read = read;
    file->close = close;
    return file;
}
