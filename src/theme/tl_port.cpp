#include "theme/tl_port.h"

#include <cstdlib>
#include <cstring>

// One unit from a byte source: sequences of one to three bytes decode to one unit; a
// stray continuation byte or any other lead gives 0, and a four-byte lead also skips its
// three continuation bytes. A sequence cut short by the end of input gives 0.
static int decode_utf8(TlPort *port, int (*next_byte)(TlPort *))
{
    int b = next_byte(port);
    if (b < 0x80)
        return b;  // a plain unit, or TL_EOF
    int unit;
    int more;
    if (b >= 0xC0 && b <= 0xDF) {
        unit = b & 0x1F;
        more = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        unit = b & 0x0F;
        more = 2;
    } else {
        if (b >= 0xF0 && b <= 0xF7)
            for (int i = 0; i < 3; i++)
                if (next_byte(port) == TL_EOF)
                    break;
        return 0;
    }
    for (; more > 0; more--) {
        int c = next_byte(port);
        if (c == TL_EOF)
            return 0;
        unit = (unit << 6) | (c & 0x3F);
    }
    return unit;
}

static void encode_utf8(int unit, void (*emit)(TlPort *, int), TlPort *port)
{
    unsigned u = static_cast<unsigned>(unit) & 0xFFFF;
    if (u < 0x80) {
        emit(port, static_cast<int>(u));
    } else if (u < 0x800) {
        emit(port, static_cast<int>(0xC0 | (u >> 6)));
        emit(port, static_cast<int>(0x80 | (u & 0x3F)));
    } else {
        emit(port, static_cast<int>(0xE0 | (u >> 12)));
        emit(port, static_cast<int>(0x80 | ((u >> 6) & 0x3F)));
        emit(port, static_cast<int>(0x80 | (u & 0x3F)));
    }
}

static int file_byte(TlPort *port)
{
    int c = fgetc(port->file);
    return c == EOF ? TL_EOF : c;
}

static int file_read(TlPort *port)
{
    return decode_utf8(port, file_byte);
}

static void file_close(TlPort *port)
{
    if (port->file)
        fclose(port->file);
    port->file = nullptr;
    tl_release(port->name);
    port->name = nullptr;
}

static TlPort *port_new(void)
{
    return tl_as_port(tl_alloc(sizeof(TlPort), TL_PORT));
}

TlObject *tl_port_open_file(TlObject *path)
{
    if (!tl_is(path, TL_STRING))
        return nullptr;
    char *utf8 = tl_string_to_utf8(path);
    FILE *file = fopen(utf8, "r");
    free(utf8);
    if (!file)
        return nullptr;
    TlPort *port = port_new();
    port->read = file_read;
    port->close = file_close;
    port->file = file;
    port->name = tl_retain(path);
    return &port->head;
}

static void stdout_byte(TlPort *, int byte)
{
    fputc(byte, stdout);
}

static void stdout_write(TlPort *port, int unit)
{
    encode_utf8(unit, stdout_byte, port);
}

TlObject *tl_port_stdout(void)
{
    TlPort *port = port_new();
    port->write = stdout_write;
    return &port->head;
}

static int bytes_byte(TlPort *port)
{
    if (port->position >= port->size)
        return TL_EOF;
    return port->bytes[port->position++];
}

static int bytes_read(TlPort *port)
{
    return decode_utf8(port, bytes_byte);
}

static void bytes_close(TlPort *port)
{
    free(port->bytes);
    port->bytes = nullptr;
    tl_release(port->name);
    port->name = nullptr;
}

TlObject *tl_port_open_bytes(const void *data, size_t size)
{
    TlPort *port = port_new();
    port->read = bytes_read;
    port->close = bytes_close;
    port->bytes = static_cast<unsigned char *>(tl_xcalloc(size ? size : 1, 1));
    if (size)
        memcpy(port->bytes, data, size);
    port->size = size;
    port->name = tl_string_from_utf8("<memory>");
    return &port->head;
}

static void string_write(TlPort *port, int unit)
{
    tl_string_append(port->sink, static_cast<uint16_t>(unit));
}

static void string_close(TlPort *port)
{
    tl_release(port->sink);
    port->sink = nullptr;
}

TlObject *tl_port_open_string(void)
{
    TlPort *port = port_new();
    port->write = string_write;
    port->close = string_close;
    port->sink = tl_string_new();
    return &port->head;
}

char *tl_port_output_text(TlObject *port)
{
    if (!tl_is(port, TL_PORT) || !tl_as_port(port)->sink)
        return static_cast<char *>(tl_xcalloc(1, 1));
    return tl_string_to_utf8(tl_as_port(port)->sink);
}

int tl_port_getc(TlObject *obj)
{
    TlPort *port = tl_as_port(obj);
    if (port->pushed > 0)
        return port->pushback[--port->pushed];
    return port->read ? port->read(port) : TL_EOF;
}

void tl_port_ungetc(TlObject *obj, int unit)
{
    TlPort *port = tl_as_port(obj);
    if (unit == TL_EOF || port->pushed >= TL_PUSHBACK_SIZE)
        return;
    port->pushback[port->pushed++] = static_cast<uint16_t>(unit);
}

void tl_port_putc(TlObject *obj, int unit)
{
    TlPort *port = tl_as_port(obj);
    if (port->write)
        port->write(port, unit);
}

void tl_port_puts(TlObject *port, const char *ascii)
{
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(ascii); *p; p++)
        tl_port_putc(port, *p);
}

void tl_port_close(TlObject *obj)
{
    TlPort *port = tl_as_port(obj);
    if (port->close)
        port->close(port);
}
