// Cue sheets: the disc performer, the disc title, and per track its title and start.
//
// The parser works on the sheet's raw bytes and pushes no I/O of its own: lines go in one
// by one (LMCueParserFeed), the sheet comes out at the end (LMCueParserFinish). The file
// and memory front ends cut lines as a 500-byte line buffer reads them, so a longer line
// arrives as several lines. Texts stay in the sheet's own encoding; the caller converts
// them (CharacterEncoding).
//
// Rules, all matched case-sensitively:
// - Disc values: the first line that matches PERFORMER "text" (resp. TITLE "text") from
//   its first column. Indented track-level lines therefore never count.
// - Track count: the highest number of a "TRACK n" line (after leading blanks), 0 when
//   none; numbers above LMCueMaxTracks are not counted.
// - Track records, filled in file order, one per TRACK line up to the count: the block's
//   TITLE (a later one replaces an earlier one) and its INDEX 01 time in whole seconds
//   (frames ignored). Records beyond the TRACK lines found stay empty (start 0, no title).
// - Length of a record: the next record's start minus its start; 0 for the last one, whose
//   length the caller knows from the file's duration. Nothing is corrected: gaps in the
//   numbers or falling starts give negative lengths.
// - A UTF-8 byte-order mark before the first line is skipped.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    LMCueLineBufferSize = 500,
    LMCueMaxTracks = 999,
};

struct LMCueTrack {
    float start;      // seconds
    float length;     // seconds
    char *title;      // raw bytes, zero-terminated; null when the track has none
};

struct LMCueSheet {
    int32_t track_count;
    char *performer;  // disc performer, raw bytes; null when none
    char *title;      // disc title, raw bytes; null when none
    LMCueTrack *tracks;   // track_count records; null when the count is 0
};

struct LMCueParser;

// Null only when out of memory.
LMCueParser *LMCueParserNew(void);
// One line as the line buffer delivers it (up to LMCueLineBufferSize - 1 bytes, with its
// line end); the line need not be zero-terminated and may hold zero bytes (its text ends
// there). Null-safe.
void LMCueParserFeed(LMCueParser *parser, const char *line, size_t length);
// Releases the parser and answers the sheet; null only when out of memory.
LMCueSheet *LMCueParserFinish(LMCueParser *parser);
// Releases a parser without building a sheet. Null-safe.
void LMCueParserFree(LMCueParser *parser);

// Null when the file cannot be opened.
LMCueSheet *LMCueSheetParseFile(const char *path);
// The same for a sheet held in memory (an embedded sheet).
LMCueSheet *LMCueSheetParseBytes(const char *data, size_t length);
// Null-safe; frees every text, the track array and the record.
void LMCueSheetRelease(LMCueSheet *sheet);
