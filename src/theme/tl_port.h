// Character ports: where the reader takes 16-bit units from and the printer sends them to.
//
// Input ports decode UTF-8 one unit at a time (end of input is -1) and keep a push-back
// buffer of TL_PUSHBACK_SIZE units; pushing back more is silently dropped. Output ports
// encode each unit as UTF-8. Releasing a port closes it.
#pragma once

#include <cstdio>

#include "theme/tl_object.h"

#define TL_PUSHBACK_SIZE 100
#define TL_EOF (-1)

struct TlPort;
typedef int (*TlPortReadFn)(TlPort *port);              // may be null
typedef void (*TlPortWriteFn)(TlPort *port, int unit);  // may be null
typedef void (*TlPortCloseFn)(TlPort *port);            // may be null

struct TlPort {
    TlObject head;
    TlPortReadFn read;
    TlPortWriteFn write;
    TlPortCloseFn close;
    FILE *file;
    TlObject *name;         // TL_STRING naming the source, owned
    uint16_t pushback[TL_PUSHBACK_SIZE];
    int32_t pushed;
    // Memory ports: the bytes read (owned copy) or the string written to (owned).
    unsigned char *bytes;
    size_t size;
    size_t position;
    TlObject *sink;
};

inline TlPort *tl_as_port(TlObject *o) { return reinterpret_cast<TlPort *>(o); }

// A file input port on a path given as a TL_STRING; null when the file cannot be opened.
TlObject *tl_port_open_file(TlObject *path);
// Standard output; nothing to close.
TlObject *tl_port_stdout(void);
// An input port over a copy of `size` bytes (tests and fuzzing read without files).
TlObject *tl_port_open_bytes(const void *data, size_t size);
// An output port collecting units into a string; tl_port_output_text returns the text so
// far as malloc'ed UTF-8.
TlObject *tl_port_open_string(void);
char *tl_port_output_text(TlObject *port);

int tl_port_getc(TlObject *port);                // a unit, or TL_EOF
void tl_port_ungetc(TlObject *port, int unit);   // TL_EOF is ignored
void tl_port_putc(TlObject *port, int unit);
void tl_port_puts(TlObject *port, const char *ascii);
// Called when the port object is freed.
void tl_port_close(TlObject *port);
