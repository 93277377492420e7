// Open-addressing hash map of (key, value) slots: the bindings of a scope and the string
// pool of a load. Keys compare with tl_equal and hash with tl_hash. Capacities come from a
// fixed list of 29 sizes starting at 7; before each insertion the map grows to the next
// size when no more than a tenth of its slots are free. There is no removal.
#pragma once

#include "theme/tl_object.h"

#define TL_HASHMAP_SIZES 29
extern const int32_t tl_hashmap_sizes[TL_HASHMAP_SIZES];

TlObject *tl_hashmap_new(void);                     // capacity 7
TlObject *tl_hashmap_get(TlObject *map, TlObject *key);   // value retained, or null
// Retains key and value; an existing key has its value replaced. Null keys or values are
// refused. A map that cannot take the key prints "Hashmap full! CAPACITY COUNT".
void tl_hashmap_put(TlObject *map, TlObject *key, TlObject *value);
// Releases every key and value, keeping the capacity.
void tl_hashmap_clear(TlObject *map);
