// The theme language's values.
//
// Every value is a heap record that starts with a TlObject header: a kind tag in the low
// byte, the static flag above it, and a signed reference count. The kind's payload follows
// in the record named after it (TlPair, TlString ...); the tl_as_* casts reach it.
//
// Ownership: every constructor returns a reference the caller owns (count 1). Functions
// that return "retained" values hand over a new reference; "borrowed" ones do not.
// tl_release(null) does nothing. The empty list, true, false and the built-in procedures
// are static singletons shared by every interpreter: never freed, compared by identity.
//
// Lists: a proper list is a chain of pairs ending in the empty list. A pair whose car is
// the empty list is an unfilled slot, so the empty list never stands as an element of a
// built list; every walk stops at an element that is the empty list or missing, and a cdr
// that is neither a pair nor the empty list (a dotted tail) counts as the last element.
//
// No cycle collection: cycles only arise through scopes (a procedure bound in the scope it
// was defined in); the interpreter breaks them when it is freed (tl_interp.h).
#pragma once

#include <cstddef>
#include <cstdint>

enum TlKind : uint32_t {
    TL_NIL = 0,
    TL_BOOLEAN = 1,
    TL_CHAR = 2,
    TL_INTEGER = 3,
    TL_REAL = 4,
    TL_STRING = 6,
    TL_SYMBOL = 7,
    TL_SCOPE = 8,
    TL_PROCEDURE = 9,
    TL_PAIR = 10,
    TL_VECTOR = 11,
    TL_PORT = 12,
    TL_HASHMAP = 13,
};

#define TL_KIND_MASK 0xffu
#define TL_STATIC_FLAG 0x100u

struct TlInterp;

struct TlObject {
    uint32_t type;      // kind tag | TL_STATIC_FLAG
    int32_t refcount;
};

struct TlChar {
    TlObject head;
    uint32_t code;
};

struct TlInteger {
    TlObject head;
    int32_t value;
};

struct TlReal {
    TlObject head;
    float value;
};

// Characters are 16-bit units; the array grows by its capacity, at least 8 units.
struct TlString {
    TlObject head;
    int32_t length;
    int32_t capacity;
    uint16_t *units;
};

struct TlSymbol {
    TlObject head;
    TlObject *name;     // TL_STRING, owned
};

struct TlScope {
    TlObject head;
    TlObject *map;      // TL_HASHMAP of bindings, owned
    TlObject *parent;   // owned; null for the global scope
    TlInterp *owner;    // the interpreter that tracks this scope; null once it is freed
    int32_t slot;       // index in the owner's scope list
};

#define TL_USER_PROCEDURE 10

struct TlProcedure {
    TlObject head;
    int32_t index;      // 0-9 built-ins, TL_USER_PROCEDURE for procedures of a file
    TlObject *params;   // owned
    TlObject *body;     // owned: the list of expressions
    TlObject *scope;    // defining scope, owned
    TlInterp *interp;   // the interpreter that made it; never dereferenced after a load
};

struct TlPair {
    TlObject head;
    TlObject *car;
    TlObject *cdr;
};

struct TlVector {
    TlObject head;
    TlObject **items;
    int32_t capacity;
    int32_t count;
};

struct TlHashmapSlot {
    TlObject *key;
    TlObject *value;
};

struct TlHashmap {
    TlObject head;
    TlHashmapSlot *entries;  // the slot array
    int32_t count;
    int32_t capacity;
};

inline TlKind tl_kind(const TlObject *o) { return static_cast<TlKind>(o->type & TL_KIND_MASK); }
inline bool tl_is(const TlObject *o, TlKind kind) { return o && tl_kind(o) == kind; }
inline bool tl_is_static(const TlObject *o) { return (o->type & TL_STATIC_FLAG) != 0; }
inline bool tl_is_number(const TlObject *o) { return tl_is(o, TL_INTEGER) || tl_is(o, TL_REAL); }

inline TlChar *tl_as_char(TlObject *o) { return reinterpret_cast<TlChar *>(o); }
inline TlInteger *tl_as_integer(TlObject *o) { return reinterpret_cast<TlInteger *>(o); }
inline TlReal *tl_as_real(TlObject *o) { return reinterpret_cast<TlReal *>(o); }
inline TlString *tl_as_string(TlObject *o) { return reinterpret_cast<TlString *>(o); }
inline TlSymbol *tl_as_symbol(TlObject *o) { return reinterpret_cast<TlSymbol *>(o); }
inline TlScope *tl_as_scope(TlObject *o) { return reinterpret_cast<TlScope *>(o); }
inline TlProcedure *tl_as_procedure(TlObject *o) { return reinterpret_cast<TlProcedure *>(o); }
inline TlPair *tl_as_pair(TlObject *o) { return reinterpret_cast<TlPair *>(o); }
inline TlVector *tl_as_vector(TlObject *o) { return reinterpret_cast<TlVector *>(o); }
inline TlHashmap *tl_as_hashmap(TlObject *o) { return reinterpret_cast<TlHashmap *>(o); }

// Zeroed record of `size` bytes with the kind set and count 1. Out of memory aborts.
TlObject *tl_alloc(size_t size, TlKind kind);
void *tl_xcalloc(size_t count, size_t size);
void *tl_xrealloc(void *block, size_t size);

// Static singletons.
TlObject *tl_nil(void);
TlObject *tl_true(void);
TlObject *tl_false(void);
TlObject *tl_boolean(int flag);

TlObject *tl_retain(TlObject *obj);   // returns obj
void tl_release(TlObject *obj);
// Heap objects alive in the process (statics excluded): tests use it to find leaks.
long tl_live_objects(void);

// Constructors (new references).
TlObject *tl_char_new(uint32_t code);
TlObject *tl_integer_new(int32_t value);
TlObject *tl_real_new(float value);
TlObject *tl_string_new(void);
TlObject *tl_symbol_new(TlObject *name);         // takes over the caller's reference to name
TlObject *tl_pair_new(TlObject *car, TlObject *cdr);   // takes over both references
TlObject *tl_vector_new(void);

void tl_string_append(TlObject *string, uint16_t unit);
void tl_vector_push(TlObject *vector, TlObject *item);  // takes over the reference

TlObject *tl_string_from_utf8(const char *text);
TlObject *tl_symbol_from_cstring(const char *text);  // one unit per byte
char *tl_string_to_utf8(TlObject *string);            // malloc'ed; symbols give their name

bool tl_equal(TlObject *a, TlObject *b);
bool tl_equal_deep(TlObject *a, TlObject *b);
uint32_t tl_hash(TlObject *obj);
uint32_t tl_hash_wang(uint32_t key);
uint32_t tl_hash_superfast(const uint8_t *data, int32_t length);

// Walks a list as described above: returns the next element (borrowed) and advances
// *cursor, or returns null at the end.
TlObject *tl_list_next(TlObject **cursor);
TlObject *tl_list_nth(TlObject *list, int n);   // retained, or null when shorter
int32_t tl_number_value(TlObject *obj);         // reals truncated toward zero, saturated
