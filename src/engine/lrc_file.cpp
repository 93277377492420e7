#include "engine/lrc_file.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Lines are read through a buffer of this size; a longer line continues as a new line.
constexpr size_t kLineBufferSize = 500;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

const char *skipSpace(const char *p)
{
    while (*p != '\0' && isSpace(*p))
        p++;
    return p;
}

// One decimal integer as the C library's %d reads it: optional spaces and sign, digits.
bool readInt(const char *&p, long *out)
{
    const char *q = skipSpace(p);
    bool negative = false;
    if (*q == '+' || *q == '-') {
        negative = *q == '-';
        q++;
    }
    if (!isdigit((unsigned char)*q))
        return false;
    long v = 0;
    while (isdigit((unsigned char)*q)) {
        if (v < 100000000)   // large enough for any time; stops overflow
            v = v * 10 + (*q - '0');
        q++;
    }
    *out = negative ? -v : v;
    p = q;
    return true;
}

// "[m:s.f]" at p; on success p is past the "]".
bool readTimeTag(const char *&p, float *seconds)
{
    const char *q = p;
    long m, s, f;
    if (*q++ != '[' || !readInt(q, &m) || *q++ != ':' || !readInt(q, &s) || *q++ != '.' ||
        !readInt(q, &f) || *q++ != ']')
        return false;
    *seconds = float(double(s) + double(m) * 60.0 + double(f) * 0.01);
    p = q;
    return true;
}

// Drops leading white space, <...> and [...] groups with the white space after them,
// and tabs, carriage returns and line feeds.
char *cleanText(const char *text)
{
    text = skipSpace(text);
    size_t n = strlen(text);
    char *out = (char *)malloc(n + 1);
    if (out == nullptr)
        return nullptr;
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        char c = text[i];
        if (c == '<' || c == '[') {
            const char *close = strchr(text + i, c == '<' ? '>' : ']');
            if (close != nullptr) {
                i = size_t(skipSpace(close + 1) - text);
                continue;
            }
        }
        if (c != '\t' && c != '\r' && c != '\n')
            out[o++] = c;
        i++;
    }
    out[o] = '\0';
    return out;
}

void insertLine(LRCFile *file, LRCLine *line)
{
    LRCLine **at = &file->lines;
    while (*at != nullptr && (*at)->time < line->time)
        at = &(*at)->next;
    line->next = *at;
    *at = line;
    file->count++;
}

bool parseLine(LRCFile *file, const char *buf)
{
    const char *p = skipSpace(buf);
    float time;
    while (*p == '[' && readTimeTag(p, &time)) {
        p = skipSpace(p);
        LRCLine *line = (LRCLine *)calloc(1, sizeof(LRCLine));
        if (line == nullptr)
            return false;
        line->text = cleanText(p);
        if (line->text == nullptr) {
            free(line);
            return false;
        }
        line->time = time;
        insertLine(file, line);
    }
    return true;
}

} // namespace

LRCFile *LRCFileParseBytes(const char *bytes, size_t length)
{
    LRCFile *file = (LRCFile *)calloc(1, sizeof(LRCFile));
    if (file == nullptr)
        return nullptr;
    size_t pos = 0;
    // A UTF-8 byte-order mark would hide the first line's time tag.
    if (length >= 3 && memcmp(bytes, "\xEF\xBB\xBF", 3) == 0)
        pos = 3;
    char buf[kLineBufferSize];
    while (pos < length) {
        // As fgets: up to size-1 bytes, ending after a line feed.
        size_t n = 0;
        while (pos < length && n < kLineBufferSize - 1) {
            char c = bytes[pos++];
            buf[n++] = c;
            if (c == '\n')
                break;
        }
        buf[n] = '\0';
        // Bytes after an embedded zero are not part of the C text.
        if (!parseLine(file, buf))
            break;
    }
    return file;
}

LRCFile *LRCFileParse(const char *path)
{
    FILE *fp = fopen(path, "rb");
    if (fp == nullptr)
        return nullptr;
    char *data = nullptr;
    size_t size = 0, cap = 0;
    char chunk[65536];
    size_t r;
    while ((r = fread(chunk, 1, sizeof chunk, fp)) > 0) {
        if (size + r > cap) {
            size_t ncap = cap ? cap * 2 : sizeof chunk;
            while (ncap < size + r)
                ncap *= 2;
            char *nd = (char *)realloc(data, ncap);
            if (nd == nullptr) {
                free(data);
                fclose(fp);
                return nullptr;
            }
            data = nd;
            cap = ncap;
        }
        memcpy(data + size, chunk, r);
        size += r;
    }
    fclose(fp);
    LRCFile *file = LRCFileParseBytes(data ? data : "", size);
    free(data);
    return file;
}

LRCLine *LRCFileLineAtIndex(LRCFile *file, int n)
{
    if (file == nullptr || n < 0)
        return nullptr;
    LRCLine *line = file->lines;
    while (line != nullptr && n-- > 0)
        line = line->next;
    return line;
}

int LRCFileLineForTime(LRCFile *file, double seconds)
{
    if (file == nullptr)
        return -1;
    int index = -1, i = 0;
    for (LRCLine *line = file->lines; line != nullptr; line = line->next, i++) {
        if (line->time > seconds)
            break;
        index = i;
    }
    return index;
}

void LRCFileFree(LRCFile *file)
{
    if (file == nullptr)
        return;
    LRCLine *line = file->lines;
    while (line != nullptr) {
        LRCLine *next = line->next;
        free(line->text);
        free(line);
        line = next;
    }
    free(file);
}
