// The reader: turns the characters of a port into one datum.
//
// Strings and symbol names are interned in the interpreter's string pool when one is held
// (during a load), so equal texts share one string object. Syntax errors are reported on
// standard error as "parser error: MESSAGE"; some failures are silent. Nesting deeper than
// TL_MAX_READ_DEPTH lists, vectors and quotes is refused with "nesting too deep".
#pragma once

#include "theme/tl_interp.h"

// One datum (new reference), or null at end of input, on a read error or at a stray
// closing parenthesis.
TlObject *tl_read(TlInterp *interp, TlObject *port);

// Whitespace as the reader sees it: the ASCII space characters and Unicode's white space
// (plus the byte-order mark), whatever the process locale.
bool tl_is_space(int unit);
