#include "engine/riff_parser.h"

#include <cstdint>

#include "engine/lm_check.h"

static uint32_t RiffSize(const RiffParser *parser, const unsigned char *p)
{
    return parser->byte_order == RiffBigEndian ? RiffU32BE(p) : RiffU32LE(p);
}

int RiffInit(RiffParser *parser, FILE *fp, RiffByteOrder byte_order)
{
    memset(parser, 0, sizeof(*parser));
    parser->byte_order = byte_order;
    parser->fp = fp;
    rewind(fp);

    unsigned char head[12];
    if (!LM_CHECK_TEXT(fread(head, 1, sizeof head, fp) == sizeof head, "0")) {
        parser->status = 1;
        return 0;
    }
    memcpy(parser->hdr.id, head, 4);
    parser->hdr.size = RiffSize(parser, head + 4);
    memcpy(parser->type_id, head + 8, 4);
    parser->next_pos = 12;
    return 1;
}

int RiffNextChunk(RiffParser *parser, RiffChunkHeader *hdr)
{
    if (parser->status != 0)
        return 0;
    if (!LM_CHECK_TEXT(fseeko(parser->fp, parser->next_pos, SEEK_SET) == 0,
                       "0 == fseek(parser->fp, parser->next_pos, SEEK_SET)"))
        return 0;

    unsigned char head[8];
    if (fread(head, 1, sizeof head, parser->fp) != sizeof head) {
        parser->status = 2;
        // Running into the end of the file is how every walk ends.
        LM_CHECK_TEXT(feof(parser->fp), "0");
        return 0;
    }
    memcpy(hdr->id, head, 4);
    hdr->size = RiffSize(parser, head + 4);

    parser->data_pos = parser->next_pos + 8;
    // Data end rounded up to an even offset. A size near 4 GB only pushes the next header
    // past the end of the file, which ends the walk; an offset that no longer fits a file
    // position ends it too, so the walk can never go backwards or loop.
    uint64_t next = ((uint64_t)parser->data_pos + hdr->size + 1) & ~(uint64_t)1;
    if (next > (uint64_t)INT64_MAX) {
        parser->status = 2;
        return 0;
    }
    parser->next_pos = (int64_t)next;
    return 1;
}

size_t RiffGetChunkData(RiffParser *parser, void *buffer, size_t n)
{
    if (fseeko(parser->fp, parser->data_pos, SEEK_SET) != 0)
        return 0;
    return fread(buffer, 1, n, parser->fp);
}
