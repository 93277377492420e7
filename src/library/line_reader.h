// Lines of a text file cut as a fixed-size line buffer reads them: at most size - 1
// bytes, ending after the first line feed. A longer line arrives as several pieces, each
// judged by itself. Zero bytes are kept (the parsers stop their texts there). The cue
// sheet and play list readers use it with their own buffer sizes.
#pragma once

#include <cstddef>
#include <cstdio>

struct LMLineReader {
    FILE *file;           // owned: closed by LMLineReaderClose
    const char *data;     // or a block in memory (not owned)
    size_t data_length;
    size_t data_pos;
    size_t buffered;
    size_t buffer_pos;
    char buffer[16384];
};

// Null when the file cannot be opened.
LMLineReader *LMLineReaderOpenFile(const char *path);
// Reads the bytes in memory, which must outlive the reader. Null only when out of memory.
LMLineReader *LMLineReaderOpenBytes(const char *data, size_t length);
// Copies the next piece into line (size >= 2 bytes), zero-terminated, and answers its
// length; 0 at the end of the input.
size_t LMLineReaderNext(LMLineReader *reader, char *line, size_t size);
// Null-safe.
void LMLineReaderClose(LMLineReader *reader);

// True when the piece starts with a UTF-8 byte-order mark (EF BB BF).
bool LMLineHasByteOrderMark(const char *line, size_t length);
