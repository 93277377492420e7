#include "engine/lm_pcm_file.h"

#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#include "engine/lm_tag.h"

// Larger ID3 chunks are skipped: the tag is read whole into memory.
static const uint32_t LMPcmMaxId3Chunk = 0xFFFFF;

bool LMPcmFileOpenStream(LMPcmFile *pf, const char *path)
{
    pf->fp = fopen(path, "rb");
    if (pf->fp == NULL)
        return false;
    struct stat st;
    pf->file_size = fstat(fileno(pf->fp), &st) == 0 ? (int64_t)st.st_size : 0;
    return true;
}

void LMPcmFileClampDataEnd(LMPcmFile *pf)
{
    if (pf->data_end > pf->file_size)
        pf->data_end = pf->file_size;
    if (pf->data_end < pf->data_pos)
        pf->data_end = pf->data_pos;
}

// Some writers (Audacity among them) make the chunk a little longer than the tag it holds;
// the tag is the header, its declared size and the footer when there is one.
static size_t LMPcmId3Length(const unsigned char *p, size_t n)
{
    if (n < 10 || memcmp(p, "ID3", 3) != 0)
        return n;
    uint64_t declared = 10 + (((uint64_t)(p[6] & 0x7F) << 21) | ((p[7] & 0x7F) << 14) |
                              ((p[8] & 0x7F) << 7) | (p[9] & 0x7F));
    if (p[3] == 4 && (p[5] & 0x10))
        declared += 10;
    return declared < n ? (size_t)declared : n;
}

void LMPcmFileReadId3Chunk(LMPcmFile *pf, RiffParser *parser, const RiffChunkHeader *hdr)
{
    if (hdr->size > LMPcmMaxId3Chunk || (int64_t)hdr->size > pf->file_size - parser->data_pos)
        return;
    unsigned char *buf = (unsigned char *)malloc(hdr->size ? hdr->size : 1);
    if (!LM_CHECK(buf != NULL))
        return;
    if (RiffGetChunkData(parser, buf, hdr->size) == hdr->size)
        LMTagParseId3v2(&pf->file.tag, buf, LMPcmId3Length(buf, hdr->size));
    free(buf);
}

int LMPcmFileRead(LMPcmFile *pf, void *buffer, int length)
{
    const int64_t block = pf->file.block_size;
    if (length <= 0 || block <= 0)
        return 0;
    const int64_t cur = ftello(pf->fp);
    if (cur < 0)
        return 0;
    int64_t n = pf->data_end - cur;
    if (n > length)
        n = length;
    n -= n % block;
    if (n <= 0)
        return 0;
    size_t got = fread(buffer, 1, (size_t)n, pf->fp);
    // A file cut short mid-frame: hand on whole frames only and stay on a frame boundary,
    // so that whatever follows in the output buffer keeps its channel order.
    size_t whole = got - got % (size_t)block;
    if (whole != got)
        fseeko(pf->fp, cur + (int64_t)whole, SEEK_SET);
    return (int)whole;
}

int LMPcmFileSeek(LMPcmFile *pf, double seconds)
{
    uint64_t frame = LMFileFrameForTime(&pf->file, seconds, pf->total_frames);
    return fseeko(pf->fp, pf->data_pos + (int64_t)(pf->file.block_size * frame), SEEK_SET);
}

double LMPcmFileTell(LMPcmFile *pf)
{
    const int64_t cur = ftello(pf->fp);
    const int64_t block = pf->file.block_size;
    uint64_t frame = 0;
    if (cur > pf->data_pos && block > 0)
        frame = (uint64_t)((cur - pf->data_pos) / block);
    if (frame > pf->total_frames)
        frame = pf->total_frames;
    return LMFileTimeForFrame(&pf->file, frame, pf->total_frames);
}

void LMPcmFileClose(LMPcmFile *pf)
{
    if (pf->fp != NULL)
        fclose(pf->fp);
    free(pf);
}
