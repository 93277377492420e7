#include "support/fake_audio_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace lmtest {

namespace {

struct FakeFile {
    LMFile base;
    std::vector<uint8_t> *pcm;
    size_t pos;
    uint32_t frameBytes;
    uint64_t totalFrames;
    int maxRead;
};

int gClosed = 0;

FakeFile *fake(LMFile *file)
{
    return reinterpret_cast<FakeFile *>(file);
}

int fakeSeek(LMFile *file, double seconds)
{
    FakeFile *f = fake(file);
    f->pos = size_t(LMFileFrameForTime(file, seconds, f->totalFrames)) * f->frameBytes;
    return 0;
}

double fakeTell(LMFile *file)
{
    FakeFile *f = fake(file);
    return LMFileTimeForFrame(file, f->pos / f->frameBytes, f->totalFrames);
}

int fakeRead(LMFile *file, void *buffer, int length)
{
    FakeFile *f = fake(file);
    fakeFileReadRequests().push_back(length);
    if (length <= 0)
        return 0;
    if (f->maxRead > 0 && length > f->maxRead)
        length = f->maxRead - f->maxRead % int(f->frameBytes);
    size_t n = std::min(size_t(length), f->pcm->size() - f->pos);
    if (n > 0)
        memcpy(buffer, f->pcm->data() + f->pos, n);
    f->pos += n;
    return int(n);
}

void fakeClose(LMFile *file)
{
    FakeFile *f = fake(file);
    delete f->pcm;
    free(f);
    gClosed++;
}

} // namespace

LMFile *fakeFileOpen(const std::vector<uint8_t> &pcm, const FakeFileOptions &o)
{
    LMFile *file = LMFileAllocate(sizeof(FakeFile), o.type, fakeSeek, fakeTell, fakeRead, fakeClose);
    FakeFile *f = fake(file);
    file->num_channels = o.channels;
    file->bits_per_sample = o.bitsPerSample;
    file->sample_rate = o.sampleRate;
    f->frameBytes = std::max<uint32_t>(1, o.channels * (o.bitsPerSample / 8));
    file->block_size = o.blockSize ? o.blockSize : f->frameBytes;
    file->big_endian = o.bigEndian;
    f->pcm = new std::vector<uint8_t>(pcm);
    f->maxRead = o.maxRead;
    f->totalFrames = pcm.size() / f->frameBytes;
    file->duration = o.sampleRate ? double(f->totalFrames) / o.sampleRate : 0;
    return file;
}

std::vector<int> &fakeFileReadRequests()
{
    static std::vector<int> requests;
    return requests;
}

int fakeFilesClosed()
{
    return gClosed;
}

std::vector<uint8_t> counterPcm16(size_t frames, uint32_t channels, uint16_t start)
{
    std::vector<uint8_t> pcm;
    pcm.reserve(frames * channels * 2);
    uint16_t v = start;
    for (size_t i = 0; i < frames * channels; i++, v++) {
        pcm.push_back(uint8_t(v));
        pcm.push_back(uint8_t(v >> 8));
    }
    return pcm;
}

} // namespace lmtest
