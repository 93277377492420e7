// Cue sheets: the input as a sheet in memory (cut into lines by the 500-byte reader), and
// the same bytes pushed as lines of any length, split at the input's own choice.
#include <cstdint>
#include <cstring>

#include "library/cue_sheet.h"

static void check(LMCueSheet *sheet)
{
    if (sheet == nullptr)
        return;
    if (sheet->track_count < 0 || sheet->track_count > LMCueMaxTracks)
        __builtin_trap();
    for (int32_t i = 0; i < sheet->track_count; i++)
        if (sheet->tracks[i].title != nullptr)
            (void)strlen(sheet->tracks[i].title);
    LMCueSheetRelease(sheet);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    check(LMCueSheetParseBytes(text, size));

    // First byte: the length of the pushed pieces (1..256).
    if (size == 0)
        return 0;
    size_t piece = size_t(data[0]) + 1;
    LMCueParser *parser = LMCueParserNew();
    for (size_t at = 1; at < size; at += piece)
        LMCueParserFeed(parser, text + at, size - at < piece ? size - at : piece);
    check(LMCueParserFinish(parser));
    return 0;
}
