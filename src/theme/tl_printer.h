// The printer: writes the printed form of an object through a port's write function.
// Pairs always print dotted, so the list of 1 and 2 prints as (1 . (2 . ())); a missing
// object prints as <null>.
#pragma once

#include "theme/tl_object.h"

void tl_print(TlObject *obj, TlObject *port);
// The printed form as malloc'ed UTF-8 (tests, diagnostics).
char *tl_print_to_utf8(TlObject *obj);
