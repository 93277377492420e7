// Time-tagged lyrics (LRC). The text of each line stays in the file's own bytes; it is
// decoded with the user's character encoding when shown.
#pragma once

#include <cstddef>
#include <cstdint>

struct LRCLine {
    char *text;      // heap copy, zero-terminated, tags and tabs/CR/LF removed
    float time;      // seconds
    LRCLine *next;
};

struct LRCFile {
    LRCLine *lines;  // sorted by time, ascending; equal times in reverse file order
    int32_t count;
};

// Null when the file cannot be opened. A file without time tags gives an empty list.
LRCFile *LRCFileParse(const char *path);
// The same from bytes in memory (the whole file's contents).
LRCFile *LRCFileParseBytes(const char *bytes, size_t length);
// The n-th line counting from 0, or null past the end (or for a null file).
LRCLine *LRCFileLineAtIndex(LRCFile *file, int n);
// Index of the last line whose time is at most `seconds`; -1 for no file, no line, or a
// time before the first line.
int LRCFileLineForTime(LRCFile *file, double seconds);
// Null-safe.
void LRCFileFree(LRCFile *file);
