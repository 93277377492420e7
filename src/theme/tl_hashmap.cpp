#include "theme/tl_hashmap.h"

#include <cstdio>
#include <cstdlib>

const int32_t tl_hashmap_sizes[TL_HASHMAP_SIZES] = {
    7, 13, 31, 61, 127, 251, 509, 1021, 2039, 4093, 8191, 16381, 32749, 65521, 131071,
    262143, 524287, 1048575, 2097151, 4194303, 8388607, 16777211, 33554431, 67108863,
    134217727, 268435455, 536870911, 1073741823, 2147483647,
};

TlObject *tl_hashmap_new(void)
{
    TlObject *obj = tl_alloc(sizeof(TlHashmap), TL_HASHMAP);
    TlHashmap *map = tl_as_hashmap(obj);
    map->capacity = tl_hashmap_sizes[0];
    map->entries = static_cast<TlHashmapSlot *>(tl_xcalloc(static_cast<size_t>(map->capacity), sizeof(TlHashmapSlot)));
    return obj;
}

// Double hashing over `capacity` slots: the index of the slot holding the key or of the
// first keyless slot on the key's sequence; -1 when all `capacity` visits found neither.
static int64_t probe(TlHashmapSlot *slots, int32_t capacity, TlObject *key, uint32_t hash)
{
    uint32_t c = static_cast<uint32_t>(capacity);
    uint32_t index = hash % c;
    uint32_t step = hash % (c - 1) + 1;
    for (uint32_t visit = 0; visit < c; visit++) {
        TlHashmapSlot &slot = slots[index];
        if (!slot.key || tl_equal(slot.key, key))
            return index;
        index = static_cast<uint32_t>((static_cast<uint64_t>(index) + step) % c);
    }
    return -1;
}

// Moves the slots into a larger array. Returns false (old array kept) at the largest size
// or when no larger array can be had.
static bool grow(TlHashmap *map)
{
    int next = 0;
    while (next < TL_HASHMAP_SIZES && tl_hashmap_sizes[next] <= map->capacity)
        next++;
    for (; next < TL_HASHMAP_SIZES; next++) {
        int32_t capacity = tl_hashmap_sizes[next];
        TlHashmapSlot *slots = static_cast<TlHashmapSlot *>(calloc(static_cast<size_t>(capacity), sizeof(TlHashmapSlot)));
        if (!slots)
            return false;
        bool placed = true;
        for (int32_t i = 0; i < map->capacity && placed; i++) {
            TlHashmapSlot &old = map->entries[i];
            if (!old.key || !old.value)
                continue;
            int64_t at = probe(slots, capacity, old.key, tl_hash(old.key));
            if (at < 0)
                placed = false;
            else
                slots[at] = old;
        }
        if (!placed) {
            // A size whose probe sequences cannot hold every key: try the next one.
            free(slots);
            continue;
        }
        free(map->entries);
        map->entries = slots;
        map->capacity = capacity;
        return true;
    }
    return false;
}

TlObject *tl_hashmap_get(TlObject *obj, TlObject *key)
{
    if (!tl_is(obj, TL_HASHMAP) || !key)
        return nullptr;
    TlHashmap *map = tl_as_hashmap(obj);
    int64_t at = probe(map->entries, map->capacity, key, tl_hash(key));
    if (at < 0 || !map->entries[at].key)
        return nullptr;
    return tl_retain(map->entries[at].value);
}

void tl_hashmap_put(TlObject *obj, TlObject *key, TlObject *value)
{
    if (!tl_is(obj, TL_HASHMAP) || !key || !value)
        return;
    TlHashmap *map = tl_as_hashmap(obj);
    if (map->capacity - map->count <= map->capacity / 10)
        grow(map);
    uint32_t hash = tl_hash(key);
    int64_t at = probe(map->entries, map->capacity, key, hash);
    // The larger sizes are not all prime, so a key's sequence may be full while other
    // slots are free; grow rather than lose the binding.
    while (at < 0 && grow(map))
        at = probe(map->entries, map->capacity, key, hash);
    if (at < 0) {
        printf("Hashmap full! %d %d\n", map->capacity, map->count);
        return;
    }
    TlHashmapSlot &slot = map->entries[at];
    tl_retain(value);
    if (slot.key) {
        TlObject *old = slot.value;
        slot.value = value;
        tl_release(old);
    } else {
        slot.key = tl_retain(key);
        slot.value = value;
        map->count++;
    }
}

void tl_hashmap_clear(TlObject *obj)
{
    if (!tl_is(obj, TL_HASHMAP))
        return;
    TlHashmap *map = tl_as_hashmap(obj);
    for (int32_t i = 0; i < map->capacity; i++) {
        TlHashmapSlot slot = map->entries[i];
        map->entries[i] = TlHashmapSlot{nullptr, nullptr};
        tl_release(slot.key);
        tl_release(slot.value);
    }
    map->count = 0;
}
