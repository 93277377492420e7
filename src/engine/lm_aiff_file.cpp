#include "engine/lm_aiff_file.h"

#include <cmath>

#include "engine/lm_pcm_file.h"
#include "engine/riff_parser.h"

// "COMM" chunk data; AIFC adds the compression type.
struct AiffCommon {
    uint16_t numChannels;
    uint32_t numSampleFrames;
    uint16_t sampleSize;
    unsigned char sampleRate[10];   // 80-bit IEEE 754 extended, big-endian
    char compression[4];
};

// The 80-bit extended rate as a number: sign, 15-bit exponent biased by 16383, 64-bit
// mantissa with an explicit integer bit. Infinity and NaN come out as such.
static double AiffExtendedToDouble(const unsigned char *p)
{
    const bool negative = (p[0] & 0x80) != 0;
    const int exponent = ((p[0] & 0x7F) << 8) | p[1];
    const uint64_t mantissa = ((uint64_t)RiffU32BE(p + 2) << 32) | RiffU32BE(p + 6);
    double value;
    if (exponent == 0x7FFF)
        value = mantissa << 1 ? NAN : INFINITY;
    else
        value = ldexp((double)mantissa, exponent - 16383 - 63);
    return negative ? -value : value;
}

// Truncated toward zero; 0 for what no unsigned 32-bit rate can hold, which the range
// check then refuses (a plain cast of such a value is undefined).
static uint32_t AiffRateFromExtended(const unsigned char *p)
{
    double rate = AiffExtendedToDouble(p);
    if (!(rate >= 0) || rate >= 4294967296.0)
        return 0;
    return (uint32_t)rate;
}

static void AiffDecodeCommon(AiffCommon *comm, const unsigned char *p, bool aifc)
{
    comm->numChannels = RiffU16BE(p);
    comm->numSampleFrames = RiffU32BE(p + 2);
    comm->sampleSize = RiffU16BE(p + 6);
    memcpy(comm->sampleRate, p + 8, 10);
    if (aifc)
        memcpy(comm->compression, p + 18, 4);
}

static bool AiffParse(LMPcmFile *wf, const char *path)
{
    LMFile *f = &wf->file;
    if (!LM_CHECK_TEXT(LMPcmFileOpenStream(wf, path), "wf->fp != NULL"))
        return false;
    f->big_endian = 1;

    RiffParser parser;
    if (!LM_CHECK(RiffInit(&parser, wf->fp, RiffBigEndian)))
        return false;
    if (!LM_CHECK(IDEQU(parser.hdr.id, "FORM")))
        return false;
    const bool aifc = IDEQU(parser.type_id, "AIFC");
    if (!aifc && !LM_CHECK(IDEQU(parser.type_id, "AIFF")))
        return false;

    AiffCommon comm = {};
    RiffChunkHeader hdr;
    while (RiffNextChunk(&parser, &hdr)) {
        if (IDEQU(hdr.id, "COMM")) {
            const size_t n = aifc ? 22 : 18;
            unsigned char raw[22];
            if (!LM_CHECK(n <= hdr.size))
                return false;
            if (!LM_CHECK_TEXT(n == RiffGetChunkData(&parser, raw, n),
                               "n == RiffGetChunkData(&parser, &comm, n)"))
                return false;
            AiffDecodeCommon(&comm, raw, aifc);
            if (aifc) {
                if (IDEQU(comm.compression, "sowt"))
                    f->big_endian = 0;
                else if (LM_CHECK(IDEQU(comm.compression, "NONE")))
                    f->big_endian = 1;
                else
                    return false;
            }
        } else if (IDEQU(hdr.id, "SSND")) {
            // The samples start `offset` bytes after the offset and block-size fields;
            // writers use it to align blocks, and what it skips is not sound.
            unsigned char fields[8];
            uint32_t offset = 0;
            if (RiffGetChunkData(&parser, fields, sizeof fields) == sizeof fields)
                offset = RiffU32BE(fields);
            wf->data_end = parser.data_pos + hdr.size;
            wf->data_pos = parser.data_pos + 8 + offset;
            if (wf->data_pos > wf->data_end)
                wf->data_pos = wf->data_end;
        } else if (IDEQU(hdr.id, "ID3 ") || IDEQU(hdr.id, "id3 ")) {
            LMPcmFileReadId3Chunk(wf, &parser, &hdr);
        }
    }

    clearerr(wf->fp);
    if (!LM_CHECK_TEXT(fseeko(wf->fp, wf->data_pos, SEEK_SET) == 0,
                       "0 == fseek(wf->fp, wf->data_pos, SEEK_SET)"))
        return false;
    LMPcmFileClampDataEnd(wf);

    f->bits_per_sample = comm.sampleSize;
    f->num_channels = comm.numChannels;
    f->block_size = f->num_channels * (f->bits_per_sample / 8);
    if (!LM_CHECK(f->bits_per_sample == 8 || f->bits_per_sample == 16 ||
                  f->bits_per_sample == 24 || f->bits_per_sample == 32))
        return false;
    // No channels means no frame to read, seek or tell by.
    if (!LM_CHECK(f->num_channels > 0))
        return false;
    f->sample_rate = AiffRateFromExtended(comm.sampleRate);
    if (!LM_CHECK(f->sample_rate >= 1024 && f->sample_rate < 256 * 1024))
        return false;
    wf->total_frames = comm.numSampleFrames;
    f->duration = (double)wf->total_frames / f->sample_rate;
    return true;
}

LMFile *LMAiffFileOpen(const char *path)
{
    LMPcmFile *wf = (LMPcmFile *)LMFileAllocate(sizeof(LMPcmFile), LMFileTypeAiff, LMAiffFileSeek,
                                                LMAiffFileTell, LMAiffFileRead, LMAiffFileClose);
    if (!LM_CHECK(wf != NULL))
        return NULL;
    if (!AiffParse(wf, path)) {
        LMFileClose(&wf->file);
        return NULL;
    }
    return &wf->file;
}

int LMAiffFileSeek(LMFile *file, double seconds)
{
    assert(file->type == LMFileTypeAiff);
    return LMPcmFileSeek((LMPcmFile *)file, seconds);
}

double LMAiffFileTell(LMFile *file)
{
    assert(file->type == LMFileTypeAiff);
    return LMPcmFileTell((LMPcmFile *)file);
}

int LMAiffFileRead(LMFile *file, void *buffer, int length)
{
    assert(file->type == LMFileTypeAiff);
    return LMPcmFileRead((LMPcmFile *)file, buffer, length);
}

void LMAiffFileClose(LMFile *file)
{
    assert(file->type == LMFileTypeAiff);
    LMPcmFileClose((LMPcmFile *)file);
}
