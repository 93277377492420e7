#include "library/line_reader.h"

#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LMLineReader *LMLineReaderOpenFile(const char *path)
{
    if (path == NULL)
        return NULL;
    // Only regular files: opening a FIFO would block the reading thread for good, and a
    // folder has no lines.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return NULL;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        close(fd);
        return NULL;
    }
    FILE *f = fdopen(fd, "rb");
    if (f == NULL) {
        close(fd);
        return NULL;
    }
    LMLineReader *r = static_cast<LMLineReader *>(calloc(1, sizeof(LMLineReader)));
    if (r == NULL) {
        fclose(f);
        return NULL;
    }
    r->file = f;
    return r;
}

LMLineReader *LMLineReaderOpenBytes(const char *data, size_t length)
{
    LMLineReader *r = static_cast<LMLineReader *>(calloc(1, sizeof(LMLineReader)));
    if (r == NULL)
        return NULL;
    r->data = data;
    r->data_length = data != NULL ? length : 0;
    return r;
}

// Makes at least one byte available; false at the end of the input.
static bool fill(LMLineReader *r)
{
    if (r->buffer_pos < r->buffered)
        return true;
    if (r->file == NULL)
        return false;
    r->buffered = fread(r->buffer, 1, sizeof r->buffer, r->file);
    r->buffer_pos = 0;
    return r->buffered > 0;
}

size_t LMLineReaderNext(LMLineReader *r, char *line, size_t size)
{
    if (r == NULL || line == NULL || size < 2)
        return 0;
    size_t n = 0;
    if (r->file == NULL) {
        while (n + 1 < size && r->data_pos < r->data_length) {
            char c = r->data[r->data_pos++];
            line[n++] = c;
            if (c == '\n')
                break;
        }
        line[n] = '\0';
        return n;
    }
    while (n + 1 < size && fill(r)) {
        const char *start = r->buffer + r->buffer_pos;
        size_t avail = r->buffered - r->buffer_pos;
        size_t want = size - 1 - n;
        if (avail > want)
            avail = want;
        const char *nl = static_cast<const char *>(memchr(start, '\n', avail));
        size_t take = nl != NULL ? size_t(nl - start) + 1 : avail;
        memcpy(line + n, start, take);
        n += take;
        r->buffer_pos += take;
        if (nl != NULL)
            break;
    }
    line[n] = '\0';
    return n;
}

void LMLineReaderClose(LMLineReader *r)
{
    if (r == NULL)
        return;
    if (r->file != NULL)
        fclose(r->file);
    free(r);
}

bool LMLineHasByteOrderMark(const char *line, size_t length)
{
    return length >= 3 && (unsigned char)line[0] == 0xEF && (unsigned char)line[1] == 0xBB &&
           (unsigned char)line[2] == 0xBF;
}
