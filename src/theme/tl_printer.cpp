#include "theme/tl_printer.h"

#include <cstdio>

#include "theme/tl_interp.h"
#include "theme/tl_port.h"

static void put_units(TlObject *string, TlObject *port)
{
    TlString *s = tl_as_string(string);
    for (int32_t i = 0; i < s->length; i++)
        tl_port_putc(port, s->units[i]);
}

static void print_string(TlObject *string, TlObject *port)
{
    TlString *s = tl_as_string(string);
    tl_port_putc(port, '"');
    for (int32_t i = 0; i < s->length; i++) {
        if (s->units[i] == '"' || s->units[i] == '\\')
            tl_port_putc(port, '\\');
        tl_port_putc(port, s->units[i]);
    }
    tl_port_putc(port, '"');
}

static void print_hashmap(TlObject *obj, TlObject *port)
{
    TlHashmap *map = tl_as_hashmap(obj);
    tl_port_puts(port, "#HASHMAP(");
    bool first = true;
    for (int32_t i = 0; i < map->capacity; i++) {
        TlHashmapSlot &slot = map->entries[i];
        if (!slot.key || !slot.value)
            continue;
        if (!first)
            tl_port_putc(port, ' ');
        first = false;
        tl_port_putc(port, '(');
        tl_print(slot.key, port);
        tl_port_puts(port, " . ");
        tl_print(slot.value, port);
        tl_port_putc(port, ')');
    }
    tl_port_putc(port, ')');
}

void tl_print(TlObject *obj, TlObject *port)
{
    char buf[100];
    // A chain of pairs prints its cdrs in this loop and closes them all at the end.
    long open = 0;
    while (tl_is(obj, TL_PAIR)) {
        tl_port_putc(port, '(');
        tl_print(tl_as_pair(obj)->car, port);
        tl_port_puts(port, " . ");
        obj = tl_as_pair(obj)->cdr;
        open++;
    }
    if (!obj) {
        tl_port_puts(port, "<null>");
    } else {
        switch (tl_kind(obj)) {
        case TL_NIL:
            tl_port_puts(port, "()");
            break;
        case TL_BOOLEAN:
            tl_port_puts(port, obj == tl_true() ? "#t" : "#f");
            break;
        case TL_CHAR: {
            uint32_t code = tl_as_char(obj)->code;
            tl_port_puts(port, "#\\");
            if (code == ' ')
                tl_port_puts(port, "space");
            else if (code == '\n' || code == '\r')
                tl_port_puts(port, "newline");
            else
                tl_port_putc(port, static_cast<int>(code));
            break;
        }
        case TL_INTEGER:
            snprintf(buf, 64, "%d", tl_as_integer(obj)->value);
            tl_port_puts(port, buf);
            break;
        case TL_REAL:
            snprintf(buf, 64, "%f", static_cast<double>(tl_as_real(obj)->value));
            tl_port_puts(port, buf);
            break;
        case TL_STRING:
            print_string(obj, port);
            break;
        case TL_SYMBOL:
            put_units(tl_as_symbol(obj)->name, port);
            break;
        case TL_SCOPE:
            tl_port_puts(port, "#SCOPE(");
            tl_print(tl_as_scope(obj)->map, port);
            tl_port_putc(port, ')');
            break;
        case TL_PROCEDURE: {
            TlProcedure *proc = tl_as_procedure(obj);
            if (proc->index >= 0 && proc->index < TL_BUILTIN_COUNT)
                snprintf(buf, sizeof buf, "#BUILTIN-PROCEDURE(%s)", tl_builtin_name(proc->index));
            else
                snprintf(buf, sizeof buf, "#PROCEDURE(%p)", static_cast<void *>(obj));
            tl_port_puts(port, buf);
            break;
        }
        case TL_VECTOR: {
            TlVector *vec = tl_as_vector(obj);
            tl_port_puts(port, "#(");
            for (int32_t i = 0; i < vec->count; i++) {
                if (i > 0)
                    tl_port_putc(port, ' ');
                tl_print(vec->items[i], port);
            }
            tl_port_putc(port, ')');
            break;
        }
        case TL_HASHMAP:
            print_hashmap(obj, port);
            break;
        default:  // ports and the unused tag print nothing
            break;
        }
    }
    for (; open > 0; open--)
        tl_port_putc(port, ')');
}

char *tl_print_to_utf8(TlObject *obj)
{
    TlObject *port = tl_port_open_string();
    tl_print(obj, port);
    char *text = tl_port_output_text(port);
    tl_release(port);
    return text;
}
