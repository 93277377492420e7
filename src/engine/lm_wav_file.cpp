#include "engine/lm_wav_file.h"

#include <cstring>

#include "engine/lm_pcm_file.h"
#include "engine/riff_parser.h"

// The first 16 bytes of a "fmt " chunk; longer chunks carry nothing that integer PCM needs.
struct WavFormat {
    uint16_t audioFormat;
    uint16_t numChannels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
};

static void WavDecodeFormat(WavFormat *fmt, const unsigned char *p)
{
    fmt->audioFormat = RiffU16LE(p);
    fmt->numChannels = RiffU16LE(p + 2);
    fmt->sampleRate = RiffU32LE(p + 4);
    fmt->byteRate = RiffU32LE(p + 8);
    fmt->blockAlign = RiffU16LE(p + 12);
    fmt->bitsPerSample = RiffU16LE(p + 14);
}

// The extensible format: a 0xFFFE tag, and the real format as the first two bytes of the
// sub-format GUID (24 bytes into the chunk) that ends in the fixed tail below.
static const uint16_t WavFormatExtensible = 0xFFFE;
static const size_t WavExtensibleSize = 40;
static const unsigned char WavSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Extensible PCM of the layouts that plain PCM files have (what DAWs and rippers write for
// 24-bit audio) plays as plain PCM; every other extensible file stays refused.
static bool WavExtensiblePcm(const WavFormat *fmt, const unsigned char *chunk, size_t n)
{
    if (fmt->audioFormat != WavFormatExtensible || n < WavExtensibleSize || RiffU16LE(chunk + 16) < 22)
        return false;
    if (RiffU16LE(chunk + 24) != 1 || memcmp(chunk + 26, WavSubFormatTail, sizeof WavSubFormatTail) != 0)
        return false;
    const uint16_t bits = fmt->bitsPerSample;
    return (fmt->numChannels == 1 || fmt->numChannels == 2) && (bits == 16 || bits == 24 || bits == 32) &&
           fmt->blockAlign == fmt->numChannels * bits / 8;
}

static bool WavParse(LMPcmFile *wf, const char *path)
{
    LMFile *f = &wf->file;
    if (!LM_CHECK_TEXT(LMPcmFileOpenStream(wf, path), "wf->fp != NULL"))
        return false;

    RiffParser parser;
    if (!LM_CHECK(RiffInit(&parser, wf->fp, RiffLittleEndian)))
        return false;
    if (!LM_CHECK(IDEQU(parser.hdr.id, "RIFF")) || !LM_CHECK(IDEQU(parser.type_id, "WAVE")))
        return false;

    WavFormat fmt = {};
    RiffChunkHeader hdr;
    while (RiffNextChunk(&parser, &hdr)) {
        if (IDEQU(hdr.id, "fmt ")) {
            const size_t n = 16;
            unsigned char raw[WavExtensibleSize];
            if (!LM_CHECK(n <= hdr.size))
                return false;
            // The extension of the extensible format, when the chunk and the file hold it.
            const size_t got = RiffGetChunkData(&parser, raw, hdr.size >= WavExtensibleSize ? WavExtensibleSize : n);
            if (!LM_CHECK_TEXT(n <= got, "n == RiffGetChunkData(&parser, &fmt, n)"))
                return false;
            WavDecodeFormat(&fmt, raw);
            if (WavExtensiblePcm(&fmt, raw, got))
                fmt.audioFormat = 1;
        } else if (IDEQU(hdr.id, "data")) {
            wf->data_pos = parser.data_pos;
            wf->data_end = parser.data_pos + hdr.size;
        } else if (IDEQU(hdr.id, "ID3 ") || IDEQU(hdr.id, "id3 ")) {
            LMPcmFileReadId3Chunk(wf, &parser, &hdr);
        }
    }

    // Integer PCM only: other extensible formats and a missing fmt chunk end here too.
    if (!LM_CHECK(fmt.audioFormat == 1) || !LM_CHECK(wf->data_pos != 0))
        return false;
    // Every later division is by one of these.
    if (!LM_CHECK(fmt.numChannels != 0) || !LM_CHECK(fmt.sampleRate != 0) ||
        !LM_CHECK(fmt.blockAlign != 0))
        return false;

    clearerr(wf->fp);
    fseeko(wf->fp, wf->data_pos, SEEK_SET);
    LMPcmFileClampDataEnd(wf);

    f->bits_per_sample = fmt.bitsPerSample;
    f->num_channels = fmt.numChannels;
    f->sample_rate = fmt.sampleRate;
    f->block_size = fmt.blockAlign;
    f->big_endian = 0;
    wf->total_frames = (uint64_t)(wf->data_end - wf->data_pos) / f->block_size;
    f->duration = (double)wf->total_frames / f->sample_rate;
    return true;
}

LMFile *LMWavFileOpen(const char *path)
{
    LMPcmFile *wf = (LMPcmFile *)LMFileAllocate(sizeof(LMPcmFile), LMFileTypeWav, LMWavFileSeek,
                                                LMWavFileTell, LMWavFileRead, LMWavFileClose);
    if (!LM_CHECK(wf != NULL))
        return NULL;
    if (!WavParse(wf, path)) {
        LMFileClose(&wf->file);
        return NULL;
    }
    return &wf->file;
}

int LMWavFileSeek(LMFile *file, double seconds)
{
    assert(file->type == LMFileTypeWav);
    return LMPcmFileSeek((LMPcmFile *)file, seconds);
}

double LMWavFileTell(LMFile *file)
{
    assert(file->type == LMFileTypeWav);
    return LMPcmFileTell((LMPcmFile *)file);
}

int LMWavFileRead(LMFile *file, void *buffer, int length)
{
    assert(file->type == LMFileTypeWav);
    return LMPcmFileRead((LMPcmFile *)file, buffer, length);
}

void LMWavFileClose(LMFile *file)
{
    assert(file->type == LMFileTypeWav);
    LMPcmFileClose((LMPcmFile *)file);
}
