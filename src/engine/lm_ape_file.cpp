#include "engine/lm_ape_file.h"

#include <cstdlib>

#include "platform/maclib/maclib.h"

namespace {

struct LMApeFile {
    LMFile file;
    IAPEDecompress *decoder;
    int64_t current_frame;
    uint64_t total_frames;
};

int LMApeFileSeek(LMFile *file, double seconds)
{
    assert(file->type == LMFileTypeApe);
    LMApeFile *af = (LMApeFile *)file;
    const uint64_t frame = LMFileFrameForTime(file, seconds, af->total_frames);
    const int status = af->decoder->Seek(int64_t(frame));
    af->current_frame = int64_t(frame);
    return status;
}

double LMApeFileTell(LMFile *file)
{
    assert(file->type == LMFileTypeApe);
    LMApeFile *af = (LMApeFile *)file;
    // The length in whole milliseconds can fall a few frames short of the stream, so the
    // last frames would report a time beyond the duration.
    uint64_t frame = af->current_frame > 0 ? uint64_t(af->current_frame) : 0;
    if (frame > af->total_frames)
        frame = af->total_frames;
    return LMFileTimeForFrame(file, frame, af->total_frames);
}

int LMApeFileRead(LMFile *file, void *buffer, int length)
{
    assert(file->type == LMFileTypeApe);
    LMApeFile *af = (LMApeFile *)file;
    if (file->block_size == 0 || length <= 0)
        return 0;
    const int64_t frames = length / int64_t(file->block_size);
    int64_t retrieved = 0;
    af->decoder->GetData(buffer, frames, &retrieved);
    if (retrieved < 0 || retrieved > frames)
        retrieved = 0;
    af->current_frame += retrieved;
    return int(retrieved * file->block_size);
}

void LMApeFileClose(LMFile *file)
{
    assert(file->type == LMFileTypeApe);
    LMApeFile *af = (LMApeFile *)file;
    delete af->decoder;
    free(af);
}

} // namespace

LMFile *LMApeFileOpen(const char *path)
{
    LMApeFile *af = (LMApeFile *)LMFileAllocate(sizeof(LMApeFile), LMFileTypeApe, LMApeFileSeek, LMApeFileTell,
                                                LMApeFileRead, LMApeFileClose);
    if (!LM_CHECK(af != NULL))
        return NULL;
    LMFile *f = &af->file;
    wchar_t *wide = APEWideFromUTF8(path);
    af->decoder = wide != NULL ? CreateIAPEDecompress(wide) : NULL;
    delete[] wide;
    if (!LM_CHECK(af->decoder != 0)) {
        LMFileClose(f);
        return NULL;
    }
    f->sample_rate = uint32_t(af->decoder->GetInfo(APE_INFO_SAMPLE_RATE));
    f->bits_per_sample = uint32_t(af->decoder->GetInfo(APE_INFO_BITS_PER_SAMPLE));
    f->num_channels = uint32_t(af->decoder->GetInfo(APE_INFO_CHANNELS));
    f->block_size = f->num_channels * (f->bits_per_sample / 8);
    f->duration = double(af->decoder->GetInfo(APE_INFO_LENGTH_MS)) / 1000.0;
    f->big_endian = 0;
    af->total_frames = uint64_t(f->duration * f->sample_rate);
    return f;
}
