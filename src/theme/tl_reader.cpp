#include "theme/tl_reader.h"

#include <cstdio>

#include "theme/tl_hashmap.h"
#include "theme/tl_port.h"

namespace {

struct Reader {
    TlInterp *interp;
    TlObject *port;
    int depth;
};

void warn(const char *message)
{
    fprintf(stderr, "parser error: %s\n", message);
}

int next(Reader &r)
{
    return tl_port_getc(r.port);
}

void unread(Reader &r, int c)
{
    tl_port_ungetc(r.port, c);
}

bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

bool is_delimiter(int c)
{
    return c == TL_EOF || tl_is_space(c) || c == '(' || c == ')' || c == ';';
}

// Skips white space and comments; returns the first other character, consumed.
int skip_space(Reader &r)
{
    for (;;) {
        int c = next(r);
        if (c == ';') {
            do
                c = next(r);
            while (c != '\n' && c != '\r' && c != TL_EOF);
            if (c == TL_EOF)
                return TL_EOF;
            continue;
        }
        if (!tl_is_space(c))
            return c;
    }
}

TlObject *intern(Reader &r, TlObject *string)
{
    TlObject *pool = r.interp ? r.interp->pool : nullptr;
    if (!pool)
        return string;
    TlObject *pooled = tl_hashmap_get(pool, string);
    if (pooled) {
        tl_release(string);
        return pooled;
    }
    tl_hashmap_put(pool, string, string);
    return string;
}

TlObject *symbol_named(Reader &r, const char *ascii)
{
    TlObject *name = tl_string_new();
    for (const char *p = ascii; *p; p++)
        tl_string_append(name, static_cast<uint16_t>(*p));
    return tl_symbol_new(intern(r, name));
}

TlObject *read_datum(Reader &r, int c);

// Reads the next datum after white space; null at end of input or on failure.
TlObject *read_next(Reader &r)
{
    int c = skip_space(r);
    if (c == TL_EOF)
        return nullptr;
    return read_datum(r, c);
}

TlObject *read_string(Reader &r)
{
    TlObject *string = tl_string_new();
    for (;;) {
        int c = next(r);
        if (c == '"')
            return intern(r, string);
        if (c == TL_EOF) {
            warn("Unexpected end of file");
            break;
        }
        if (c == '\\') {
            c = next(r);
            if (c != '\\' && c != '"') {
                warn("Undefined escape char");
                break;
            }
        }
        tl_string_append(string, static_cast<uint16_t>(c));
    }
    tl_release(string);
    return nullptr;
}

// The sign, if any, is still in the input.
TlObject *read_number(Reader &r)
{
    int c = next(r);
    bool negative = false;
    if (c == '-' || c == '+') {
        negative = c == '-';
        c = next(r);
    }
    uint32_t whole = 0;
    bool real = false;
    float value = 0.0f;
    float scale = 0.1f;
    for (;; c = next(r)) {
        if (is_digit(c)) {
            int digit = c - '0';
            if (real) {
                value += static_cast<float>(digit) * scale;
                scale *= 0.1f;
            } else {
                whole = whole * 10u + static_cast<uint32_t>(digit);
            }
        } else if (c == '.') {
            if (real)
                return nullptr;
            real = true;
            value = static_cast<float>(static_cast<int32_t>(whole));
        } else if (is_delimiter(c)) {
            unread(r, c);
            break;
        } else {
            return nullptr;
        }
    }
    if (real)
        return tl_real_new(negative ? -value : value);
    return tl_integer_new(static_cast<int32_t>(negative ? 0u - whole : whole));
}

TlObject *read_symbol(Reader &r, int c)
{
    TlObject *name = tl_string_new();
    while (!is_delimiter(c)) {
        tl_string_append(name, static_cast<uint16_t>(c));
        c = next(r);
    }
    unread(r, c);
    return tl_symbol_new(intern(r, name));
}

TlObject *read_character(Reader &r)
{
    int first = next(r);
    if (first == ' ')
        return tl_char_new(' ');
    int text[10];
    int count = 0;
    // Up to ten characters; the delimiter that ends them is consumed with the literal.
    for (int c = first; !is_delimiter(c); c = next(r)) {
        text[count++] = c;
        if (count == 10)
            break;
    }
    if (count == 1)
        return tl_char_new(static_cast<uint32_t>(text[0]));
    auto is = [&](const char *word) {
        int i = 0;
        for (; word[i]; i++)
            if (i >= count || text[i] != word[i])
                return false;
        return i == count;
    };
    if (is("newline"))
        return tl_char_new('\n');
    if (is("space"))
        return tl_char_new(' ');
    warn("invalid char constant");
    return nullptr;
}

TlObject *read_vector(Reader &r)
{
    TlObject *vector = tl_vector_new();
    for (;;) {
        int c = skip_space(r);
        if (c == ')')
            return vector;
        if (c == TL_EOF)
            break;
        TlObject *item = read_datum(r, c);
        if (!item)
            break;
        tl_vector_push(vector, item);
    }
    tl_release(vector);
    return nullptr;
}

// Puts x into the list under construction (see the placement rules in tl_object.h).
void place(TlObject *&head, TlObject *&last, bool dotted, TlObject *x)
{
    if (!head) {
        head = tl_pair_new(tl_nil(), tl_nil());
        last = head;
    }
    TlPair *tail = tl_as_pair(last);
    if (tl_is(tail->car, TL_NIL)) {
        tail->car = x;
    } else if (dotted && tl_is(tail->cdr, TL_NIL)) {
        tail->cdr = x;
    } else {
        if (!tl_is(tail->cdr, TL_NIL)) {
            // (a . b c): the tail becomes an element of its own.
            TlObject *element = tl_pair_new(tail->cdr, tl_nil());
            tail->cdr = element;
            last = element;
        }
        TlObject *pair = tl_pair_new(x, tl_nil());
        tl_as_pair(last)->cdr = pair;
        last = pair;
    }
}

TlObject *read_list(Reader &r)
{
    TlObject *head = nullptr;
    TlObject *last = nullptr;
    bool dotted = false;
    for (;;) {
        int c = skip_space(r);
        if (c == ')')
            return head ? head : tl_nil();
        if (c == TL_EOF) {
            warn("Unexpected end of file");
            break;
        }
        if (c == '.') {
            int n = next(r);
            if (tl_is_space(n) || n == '(' || n == ')' || n == ';') {
                unread(r, n);
                if (!head) {
                    warn("Missing object before `.'");
                    break;
                }
                dotted = true;
                continue;
            }
            unread(r, n);
        }
        TlObject *x = read_datum(r, c);
        if (!x) {
            warn("sub object is NULL");
            break;
        }
        place(head, last, dotted, x);
    }
    tl_release(head);
    return nullptr;
}

TlObject *read_nested(Reader &r, TlObject *(*reader)(Reader &))
{
    if (r.depth >= TL_MAX_READ_DEPTH) {
        warn("nesting too deep");
        return nullptr;
    }
    r.depth++;
    TlObject *result = reader(r);
    r.depth--;
    return result;
}

TlObject *read_quote(Reader &r)
{
    TlObject *quoted = read_next(r);
    if (!quoted)
        return nullptr;
    return tl_pair_new(symbol_named(r, "quote"), quoted);
}

TlObject *read_datum(Reader &r, int c)
{
    switch (c) {
    case '"':
        return read_string(r);
    case '#': {
        int n = next(r);
        if (n == 't')
            return tl_true();
        if (n == 'f')
            return tl_false();
        if (n == '(')
            return read_nested(r, read_vector);
        if (n == '\\')
            return read_character(r);
        return nullptr;
    }
    case '\'':
        return read_nested(r, read_quote);
    case '(':
        return read_nested(r, read_list);
    case ')':
        return nullptr;
    case '+':
    case '-': {
        int n = next(r);
        if (is_delimiter(n))
            return symbol_named(r, c == '+' ? "+" : "-");
        if (is_digit(n)) {
            unread(r, n);
            unread(r, c);
            return read_number(r);
        }
        warn("unexpected things following +/-");
        return nullptr;
    }
    case '.': {
        int a = next(r);
        int b = next(r);
        int d = next(r);
        if (a == '.' && b == '.' && is_delimiter(d))
            return symbol_named(r, "...");
        warn("Invalid identifier");
        return nullptr;
    }
    default:
        if (is_digit(c)) {
            unread(r, c);
            return read_number(r);
        }
        return read_symbol(r, c);
    }
}

} // namespace

bool tl_is_space(int c)
{
    switch (c) {
    case ' ': case '\t': case '\n': case '\v': case '\f': case '\r':
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000: case 0xFEFF:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

TlObject *tl_read(TlInterp *interp, TlObject *port)
{
    if (!tl_is(port, TL_PORT))
        return nullptr;
    Reader r{interp, port, 0};
    return read_next(r);
}
