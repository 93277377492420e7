#include "theme/tl_object.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "theme/tl_interp.h"
#include "theme/tl_port.h"

static TlObject g_nil = {TL_NIL | TL_STATIC_FLAG, 1};
static TlObject g_true = {TL_BOOLEAN | TL_STATIC_FLAG, 1};
static TlObject g_false = {TL_BOOLEAN | TL_STATIC_FLAG, 1};

TlObject *tl_nil(void) { return &g_nil; }
TlObject *tl_true(void) { return &g_true; }
TlObject *tl_false(void) { return &g_false; }
TlObject *tl_boolean(int flag) { return flag ? &g_true : &g_false; }

static void out_of_memory(void)
{
    fputs("theme interpreter: out of memory\n", stderr);
    abort();
}

void *tl_xcalloc(size_t count, size_t size)
{
    void *block = calloc(count ? count : 1, size ? size : 1);
    if (!block)
        out_of_memory();
    return block;
}

void *tl_xrealloc(void *block, size_t size)
{
    void *grown = realloc(block, size ? size : 1);
    if (!grown)
        out_of_memory();
    return grown;
}

static std::atomic<long> g_live{0};

long tl_live_objects(void)
{
    return g_live.load(std::memory_order_relaxed);
}

TlObject *tl_alloc(size_t size, TlKind kind)
{
    g_live.fetch_add(1, std::memory_order_relaxed);
    TlObject *obj = static_cast<TlObject *>(tl_xcalloc(1, size));
    obj->type = kind;
    obj->refcount = 1;
    return obj;
}

// Static objects keep their count untouched: interpreters on different threads share them.
TlObject *tl_retain(TlObject *obj)
{
    if (obj && !tl_is_static(obj))
        obj->refcount++;
    return obj;
}

namespace {

// Objects whose count reached zero wait here until their children are released, so that
// freeing a long list or a deep chain of scopes never recurses.
struct FreeStack {
    TlObject *local[32];
    TlObject **items = local;
    int count = 0;
    int capacity = 32;

    ~FreeStack()
    {
        if (items != local)
            free(items);
    }

    void drop(TlObject *obj)
    {
        if (!obj || tl_is_static(obj))
            return;
        if (obj->refcount-- > 1)
            return;
        if (count == capacity) {
            int grown = capacity * 2;
            TlObject **bigger = static_cast<TlObject **>(
                tl_xcalloc(static_cast<size_t>(grown), sizeof(TlObject *)));
            memcpy(bigger, items, sizeof(TlObject *) * static_cast<size_t>(count));
            if (items != local)
                free(items);
            items = bigger;
            capacity = grown;
        }
        items[count++] = obj;
    }
};

void free_one(TlObject *obj, FreeStack &pending)
{
    switch (tl_kind(obj)) {
    case TL_STRING:
        free(tl_as_string(obj)->units);
        break;
    case TL_SYMBOL:
        pending.drop(tl_as_symbol(obj)->name);
        break;
    case TL_SCOPE: {
        TlScope *scope = tl_as_scope(obj);
        if (scope->owner)
            tl_interp_forget_scope(scope->owner, obj);
        pending.drop(scope->map);
        pending.drop(scope->parent);
        break;
    }
    case TL_PROCEDURE: {
        TlProcedure *proc = tl_as_procedure(obj);
        pending.drop(proc->params);
        pending.drop(proc->body);
        pending.drop(proc->scope);
        break;
    }
    case TL_PAIR:
        pending.drop(tl_as_pair(obj)->car);
        pending.drop(tl_as_pair(obj)->cdr);
        break;
    case TL_VECTOR: {
        TlVector *vec = tl_as_vector(obj);
        for (int32_t i = 0; i < vec->count; i++)
            pending.drop(vec->items[i]);
        free(vec->items);
        break;
    }
    case TL_HASHMAP: {
        TlHashmap *map = tl_as_hashmap(obj);
        for (int32_t i = 0; i < map->capacity; i++) {
            pending.drop(map->entries[i].key);
            pending.drop(map->entries[i].value);
        }
        free(map->entries);
        break;
    }
    case TL_PORT:
        tl_port_close(obj);
        break;
    default:
        break;
    }
    free(obj);
    g_live.fetch_sub(1, std::memory_order_relaxed);
}

} // namespace

void tl_release(TlObject *obj)
{
    FreeStack pending;
    pending.drop(obj);
    while (pending.count > 0) {
        TlObject *next = pending.items[--pending.count];
        free_one(next, pending);
    }
}

TlObject *tl_char_new(uint32_t code)
{
    TlObject *obj = tl_alloc(sizeof(TlChar), TL_CHAR);
    tl_as_char(obj)->code = code;
    return obj;
}

TlObject *tl_integer_new(int32_t value)
{
    TlObject *obj = tl_alloc(sizeof(TlInteger), TL_INTEGER);
    tl_as_integer(obj)->value = value;
    return obj;
}

TlObject *tl_real_new(float value)
{
    TlObject *obj = tl_alloc(sizeof(TlReal), TL_REAL);
    tl_as_real(obj)->value = value;
    return obj;
}

TlObject *tl_string_new(void)
{
    return tl_alloc(sizeof(TlString), TL_STRING);
}

TlObject *tl_symbol_new(TlObject *name)
{
    TlObject *obj = tl_alloc(sizeof(TlSymbol), TL_SYMBOL);
    tl_as_symbol(obj)->name = name;
    return obj;
}

TlObject *tl_pair_new(TlObject *car, TlObject *cdr)
{
    TlObject *obj = tl_alloc(sizeof(TlPair), TL_PAIR);
    tl_as_pair(obj)->car = car;
    tl_as_pair(obj)->cdr = cdr;
    return obj;
}

TlObject *tl_vector_new(void)
{
    return tl_alloc(sizeof(TlVector), TL_VECTOR);
}

void tl_string_append(TlObject *string, uint16_t unit)
{
    TlString *s = tl_as_string(string);
    if (s->length == s->capacity) {
        int32_t step = s->capacity < 8 ? 8 : s->capacity;
        if (s->capacity > INT32_MAX - step)
            return;  // 2^31 units: nothing sensible reads that far
        int32_t grown = s->capacity + step;
        s->units = static_cast<uint16_t *>(tl_xrealloc(s->units, sizeof(uint16_t) * static_cast<size_t>(grown)));
        memset(s->units + s->capacity, 0, sizeof(uint16_t) * static_cast<size_t>(grown - s->capacity));
        s->capacity = grown;
    }
    s->units[s->length++] = unit;
}

void tl_vector_push(TlObject *vector, TlObject *item)
{
    TlVector *v = tl_as_vector(vector);
    if (v->count == v->capacity) {
        int32_t grown;
        if (v->capacity == 0)
            grown = 4;
        else if (v->capacity <= 1024)
            grown = v->capacity * 2;
        else if (v->capacity <= INT32_MAX - 1024)
            grown = v->capacity + 1024;
        else {
            tl_release(item);
            return;
        }
        v->items = static_cast<TlObject **>(tl_xrealloc(v->items, sizeof(TlObject *) * static_cast<size_t>(grown)));
        v->capacity = grown;
    }
    v->items[v->count++] = item;
}

// Decodes as the file port does: 1-3 byte sequences into one unit; a stray continuation
// byte or a four-byte lead gives 0 (its continuation bytes skipped). A sequence cut short
// by the end of the text also gives 0.
TlObject *tl_string_from_utf8(const char *text)
{
    TlObject *string = tl_string_new();
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : "");
    while (*p) {
        unsigned b = *p++;
        unsigned unit = 0;
        int more = 0;
        if (b < 0x80)
            unit = b;
        else if (b >= 0xC0 && b <= 0xDF)
            unit = b & 0x1F, more = 1;
        else if (b >= 0xE0 && b <= 0xEF)
            unit = b & 0x0F, more = 2;
        else if (b >= 0xF0 && b <= 0xF7)
            for (int i = 0; i < 3 && *p; i++)
                p++;
        for (; more > 0; more--) {
            if (!*p) {
                unit = 0;
                break;
            }
            unit = (unit << 6) | (*p++ & 0x3F);
        }
        tl_string_append(string, static_cast<uint16_t>(unit));
    }
    return string;
}

TlObject *tl_symbol_from_cstring(const char *text)
{
    TlObject *name = tl_string_new();
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : ""); *p; p++)
        tl_string_append(name, *p);
    return tl_symbol_new(name);
}

char *tl_string_to_utf8(TlObject *string)
{
    if (tl_is(string, TL_SYMBOL))
        string = tl_as_symbol(string)->name;
    if (!tl_is(string, TL_STRING))
        return static_cast<char *>(tl_xcalloc(1, 1));
    TlString *s = tl_as_string(string);
    size_t size = 1;
    for (int32_t i = 0; i < s->length; i++)
        size += s->units[i] < 0x80 ? 1 : s->units[i] < 0x800 ? 2 : 3;
    char *text = static_cast<char *>(tl_xcalloc(size, 1));
    unsigned char *out = reinterpret_cast<unsigned char *>(text);
    for (int32_t i = 0; i < s->length; i++) {
        unsigned u = s->units[i];
        if (u < 0x80) {
            *out++ = static_cast<unsigned char>(u);
        } else if (u < 0x800) {
            *out++ = static_cast<unsigned char>(0xC0 | (u >> 6));
            *out++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else {
            *out++ = static_cast<unsigned char>(0xE0 | (u >> 12));
            *out++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            *out++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        }
    }
    return text;
}

static bool same_units(TlObject *a, TlObject *b)
{
    TlString *x = tl_as_string(a);
    TlString *y = tl_as_string(b);
    return x->length == y->length &&
           (x->length == 0 || memcmp(x->units, y->units, sizeof(uint16_t) * static_cast<size_t>(x->length)) == 0);
}

bool tl_equal(TlObject *a, TlObject *b)
{
    if (a == b)
        return true;
    if (!a || !b || tl_kind(a) != tl_kind(b))
        return false;
    switch (tl_kind(a)) {
    case TL_CHAR:
        return tl_as_char(a)->code == tl_as_char(b)->code;
    case TL_INTEGER:
        return tl_as_integer(a)->value == tl_as_integer(b)->value;
    case TL_REAL:
        return tl_as_real(a)->value == tl_as_real(b)->value;
    case TL_STRING:
        return same_units(a, b);
    case TL_SYMBOL:
        return same_units(tl_as_symbol(a)->name, tl_as_symbol(b)->name);
    default:
        return false;
    }
}

// Recurses into cars and vector elements only (bounded by the reader's nesting limit);
// cdr chains are followed in a loop.
bool tl_equal_deep(TlObject *a, TlObject *b)
{
    for (;;) {
        if (a == b)
            return true;
        if (!a || !b || tl_kind(a) != tl_kind(b))
            return false;
        if (tl_kind(a) == TL_PAIR) {
            if (!tl_equal_deep(tl_as_pair(a)->car, tl_as_pair(b)->car))
                return false;
            a = tl_as_pair(a)->cdr;
            b = tl_as_pair(b)->cdr;
            continue;
        }
        if (tl_kind(a) == TL_VECTOR) {
            TlVector *x = tl_as_vector(a);
            TlVector *y = tl_as_vector(b);
            if (x->count != y->count)
                return false;
            for (int32_t i = 0; i < x->count; i++)
                if (!tl_equal_deep(x->items[i], y->items[i]))
                    return false;
            return true;
        }
        return tl_equal(a, b);
    }
}

uint32_t tl_hash_wang(uint32_t key)
{
    key += ~(key << 15);
    key ^= key >> 10;
    key += key << 3;
    key ^= key >> 6;
    key += ~(key << 11);
    key ^= key >> 16;
    return key;
}

static uint32_t get16(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}

static uint32_t signed_byte(uint8_t b)
{
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(b)));
}

uint32_t tl_hash_superfast(const uint8_t *data, int32_t length)
{
    if (length <= 0 || !data)
        return 0;
    uint32_t hash = static_cast<uint32_t>(length);
    int32_t rem = length & 3;
    for (int32_t blocks = length >> 2; blocks > 0; blocks--) {
        hash += get16(data);
        uint32_t tmp = (get16(data + 2) << 11) ^ hash;
        hash = (hash << 16) ^ tmp;
        data += 4;
        hash += hash >> 11;
    }
    switch (rem) {
    case 3:
        hash += get16(data);
        hash ^= hash << 16;
        hash ^= signed_byte(data[2]) << 18;
        hash += hash >> 11;
        break;
    case 2:
        hash += get16(data);
        hash ^= hash << 11;
        hash += hash >> 17;
        break;
    case 1:
        hash += signed_byte(data[0]);
        hash ^= hash << 10;
        hash += hash >> 1;
        break;
    default:
        break;
    }
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    return hash;
}

static uint32_t hash_units(TlObject *string)
{
    TlString *s = tl_as_string(string);
    if (s->length == 0)
        return 0;
    // The units as little-endian bytes, whatever the host order.
    uint8_t local[256];
    size_t bytes = static_cast<size_t>(s->length) * 2;
    uint8_t *buf = bytes <= sizeof local ? local : static_cast<uint8_t *>(tl_xcalloc(bytes, 1));
    for (int32_t i = 0; i < s->length; i++) {
        buf[2 * i] = static_cast<uint8_t>(s->units[i] & 0xFF);
        buf[2 * i + 1] = static_cast<uint8_t>(s->units[i] >> 8);
    }
    uint32_t hash = tl_hash_superfast(buf, static_cast<int32_t>(bytes > INT32_MAX ? INT32_MAX : bytes));
    if (buf != local)
        free(buf);
    return hash;
}

uint32_t tl_hash(TlObject *obj)
{
    if (!obj)
        return 0;
    switch (tl_kind(obj)) {
    case TL_CHAR:
        return tl_hash_wang(tl_as_char(obj)->code);
    case TL_INTEGER:
        return tl_hash_wang(static_cast<uint32_t>(tl_as_integer(obj)->value));
    case TL_REAL: {
        uint32_t bits;
        memcpy(&bits, &tl_as_real(obj)->value, sizeof bits);
        return tl_hash_wang(bits);
    }
    case TL_STRING:
        return hash_units(obj);
    case TL_SYMBOL:
        return hash_units(tl_as_symbol(obj)->name);
    default:
        return 0;
    }
}

TlObject *tl_list_next(TlObject **cursor)
{
    TlObject *at = *cursor;
    if (!at || tl_kind(at) == TL_NIL)
        return nullptr;
    if (tl_kind(at) != TL_PAIR) {
        *cursor = nullptr;  // a dotted tail is the last element
        return at;
    }
    TlObject *element = tl_as_pair(at)->car;
    if (!element || tl_kind(element) == TL_NIL) {
        *cursor = nullptr;
        return nullptr;
    }
    *cursor = tl_as_pair(at)->cdr;
    return element;
}

TlObject *tl_list_nth(TlObject *list, int n)
{
    if (n < 0)
        return nullptr;
    TlObject *cursor = list;
    for (TlObject *element = tl_list_next(&cursor); element; element = tl_list_next(&cursor)) {
        if (n-- == 0)
            return tl_retain(element);
    }
    return nullptr;
}

int32_t tl_number_value(TlObject *obj)
{
    if (tl_is(obj, TL_INTEGER))
        return tl_as_integer(obj)->value;
    if (tl_is(obj, TL_REAL)) {
        float v = tl_as_real(obj)->value;
        if (std::isnan(v))
            return 0;
        if (v >= 2147483648.0f)
            return INT32_MAX;
        if (v < -2147483648.0f)
            return INT32_MIN;
        return static_cast<int32_t>(v);
    }
    return 0;
}
