#include "library/cue_sheet.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "library/line_reader.h"

struct LMCueParser {
    char *performer;
    char *title;
    int32_t track_count;
    bool first_line;
    LMCueTrack *records;    // one per TRACK line seen, at most LMCueMaxTracks
    int32_t record_count;
    int32_t record_capacity;
};

// Patterns follow formatted scanning: a blank in a pattern skips any white space (none
// included), a number skips white space first and takes an optional sign and digits.

static bool isScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static const char *skipScanSpace(const char *s)
{
    while (isScanSpace(*s))
        s++;
    return s;
}

// Leading blanks of a line: spaces and tabs only.
static const char *skipBlanks(const char *s)
{
    while (*s == ' ' || *s == '\t')
        s++;
    return s;
}

static const char *matchWord(const char *s, const char *word)
{
    size_t n = strlen(word);
    return strncmp(s, word, n) == 0 ? s + n : NULL;
}

// A decimal number, saturated at the limits of a 32-bit integer.
static const char *scanInt(const char *s, int32_t *value)
{
    s = skipScanSpace(s);
    bool negative = false;
    if (*s == '+' || *s == '-')
        negative = *s++ == '-';
    if (*s < '0' || *s > '9')
        return NULL;
    long long v = 0;
    while (*s >= '0' && *s <= '9') {
        if (v <= INT_MAX)
            v = v * 10 + (*s - '0');
        s++;
    }
    if (negative)
        v = -v;
    *value = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int32_t(v);
    return s;
}

// KEYWORD "text: the text runs from the quote to the next quote or the end of the line,
// and must not be empty.
static bool matchQuoted(const char *s, const char *keyword, const char **text, size_t *length)
{
    s = matchWord(s, keyword);
    if (s == NULL)
        return false;
    s = skipScanSpace(s);
    if (*s != '"')
        return false;
    s++;
    size_t n = strcspn(s, "\"\r\n");
    if (n == 0)
        return false;
    *text = s;
    *length = n;
    return true;
}

static bool matchTrack(const char *s, int32_t *number)
{
    s = matchWord(s, "TRACK");
    return s != NULL && scanInt(s, number) != NULL;
}

// INDEX n mm:ss — the frames after a second colon are not read.
static bool matchIndex(const char *s, int32_t *index, int32_t *minutes, int32_t *seconds)
{
    s = matchWord(s, "INDEX");
    if (s == NULL || (s = scanInt(s, index)) == NULL || (s = scanInt(s, minutes)) == NULL)
        return false;
    if (*s != ':')
        return false;
    return scanInt(s + 1, seconds) != NULL;
}

static char *copyText(const char *text, size_t length)
{
    char *copy = static_cast<char *>(malloc(length + 1));
    if (copy != NULL) {
        memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

static void replaceText(char **slot, const char *text, size_t length)
{
    char *copy = copyText(text, length);
    if (copy == NULL)
        return;
    free(*slot);
    *slot = copy;
}

LMCueParser *LMCueParserNew(void)
{
    LMCueParser *p = static_cast<LMCueParser *>(calloc(1, sizeof(LMCueParser)));
    if (p != NULL)
        p->first_line = true;
    return p;
}

// The disc values and the count (what a first pass over the sheet finds).
static void feedDisc(LMCueParser *p, const char *line)
{
    const char *text;
    size_t length;
    int32_t number;
    if (p->performer == NULL && matchQuoted(line, "PERFORMER", &text, &length))
        p->performer = copyText(text, length);
    else if (p->title == NULL && matchQuoted(line, "TITLE", &text, &length))
        p->title = copyText(text, length);
    else if (matchTrack(skipBlanks(line), &number) && number <= LMCueMaxTracks && number > p->track_count)
        p->track_count = number;
}

// The track records (what a second pass finds); a TRACK line closes the record before it.
static void feedTrack(LMCueParser *p, const char *line)
{
    const char *s = skipBlanks(line);
    const char *text;
    size_t length;
    int32_t index, minutes, seconds;
    if (matchTrack(s, &index)) {
        if (p->record_count == LMCueMaxTracks)
            return;   // later blocks go to records beyond any count that can be kept
        if (p->record_count == p->record_capacity) {
            int32_t capacity = p->record_capacity == 0 ? 16 : p->record_capacity * 2;
            if (capacity > LMCueMaxTracks)
                capacity = LMCueMaxTracks;
            void *grown = realloc(p->records, sizeof(LMCueTrack) * size_t(capacity));
            if (grown == NULL)
                return;
            p->records = static_cast<LMCueTrack *>(grown);
            p->record_capacity = capacity;
        }
        memset(&p->records[p->record_count], 0, sizeof(LMCueTrack));
        p->record_count++;
        return;
    }
    if (p->record_count == 0)
        return;
    LMCueTrack *current = &p->records[p->record_count - 1];
    if (matchQuoted(s, "TITLE", &text, &length))
        replaceText(&current->title, text, length);
    else if (matchIndex(s, &index, &minutes, &seconds) && index == 1)
        current->start = float(int64_t(minutes) * 60 + seconds);
}

void LMCueParserFeed(LMCueParser *p, const char *line, size_t length)
{
    if (p == NULL || line == NULL)
        return;
    char text[LMCueLineBufferSize];
    if (length >= sizeof text)
        length = sizeof text - 1;
    memcpy(text, line, length);
    text[length] = '\0';   // the text also ends at an embedded zero byte
    const char *s = text;
    // Sheets saved by common Windows tools begin with a byte-order mark; without skipping
    // it a disc PERFORMER on the first line would not be in the first column.
    if (p->first_line && LMLineHasByteOrderMark(text, length))
        s += 3;
    p->first_line = false;
    feedDisc(p, s);
    feedTrack(p, s);
}

void LMCueParserFree(LMCueParser *p)
{
    if (p == NULL)
        return;
    for (int32_t i = 0; i < p->record_count; i++)
        free(p->records[i].title);
    free(p->records);
    free(p->performer);
    free(p->title);
    free(p);
}

LMCueSheet *LMCueParserFinish(LMCueParser *p)
{
    if (p == NULL)
        return NULL;
    LMCueSheet *sheet = static_cast<LMCueSheet *>(calloc(1, sizeof(LMCueSheet)));
    if (sheet == NULL) {
        LMCueParserFree(p);
        return NULL;
    }
    int32_t count = p->track_count;
    if (count > 0) {
        sheet->tracks = static_cast<LMCueTrack *>(calloc(size_t(count), sizeof(LMCueTrack)));
        if (sheet->tracks == NULL) {
            free(sheet);
            LMCueParserFree(p);
            return NULL;
        }
        int32_t filled = p->record_count < count ? p->record_count : count;
        for (int32_t i = 0; i < filled; i++) {
            sheet->tracks[i] = p->records[i];
            p->records[i].title = NULL;   // moved into the sheet
        }
        for (int32_t i = 0; i + 1 < count; i++)
            sheet->tracks[i].length = sheet->tracks[i + 1].start - sheet->tracks[i].start;
    }
    sheet->track_count = count;
    sheet->performer = p->performer;
    sheet->title = p->title;
    p->performer = NULL;
    p->title = NULL;
    LMCueParserFree(p);
    return sheet;
}

static LMCueSheet *parseLines(LMLineReader *reader)
{
    LMCueParser *parser = LMCueParserNew();
    if (parser == NULL)
        return NULL;
    char line[LMCueLineBufferSize];
    size_t n;
    while ((n = LMLineReaderNext(reader, line, sizeof line)) > 0)
        LMCueParserFeed(parser, line, n);
    return LMCueParserFinish(parser);
}

LMCueSheet *LMCueSheetParseFile(const char *path)
{
    LMLineReader *reader = LMLineReaderOpenFile(path);
    if (reader == NULL)
        return NULL;
    LMCueSheet *sheet = parseLines(reader);
    LMLineReaderClose(reader);
    return sheet;
}

LMCueSheet *LMCueSheetParseBytes(const char *data, size_t length)
{
    LMLineReader *reader = LMLineReaderOpenBytes(data, length);
    if (reader == NULL)
        return NULL;
    LMCueSheet *sheet = parseLines(reader);
    LMLineReaderClose(reader);
    return sheet;
}

void LMCueSheetRelease(LMCueSheet *sheet)
{
    if (sheet == NULL)
        return;
    for (int32_t i = 0; i < sheet->track_count && sheet->tracks != NULL; i++)
        free(sheet->tracks[i].title);
    free(sheet->tracks);
    free(sheet->performer);
    free(sheet->title);
    free(sheet);
}
